// Name-list calls: building lists (Put), reading them (Get), name lists of
// names, strings and their release.
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "sms/sms_namelist.h"
#include "sms/sms_state.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

struct PutHandle : HandleObject {
  NWSM_DATA_SET_NAME_LIST *list = nullptr;
};

// The handle keeps a copy of the list; its entries point into the copy.
struct GetHandle : HandleObject {
  std::vector<uint8_t> bytes;
  std::vector<NameView> entries;
  size_t next = 0;
};

// Entries of the lists a call reads and lets go before it returns, kept
// from call to call so that their room is not asked for every time.
std::vector<NameView> &Scratch() {
  thread_local std::vector<NameView> views;
  return views;
}

char *Dup(std::string_view s) {
  char *p = static_cast<char *>(malloc(s.size() + 1));
  if (p) {
    memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
  }
  return p;
}

CCODE Fill(const NameView &e, NWSM_DATA_SET_NAME *out) {
  memset(out, 0, sizeof(*out));
  out->nameSpaceType = e.nameSpaceType;
  out->selectionType = e.selectionType;
  out->reverseOrder = e.reverseOrder ? 1 : 0;
  out->nameLength = static_cast<UINT16>(e.name.size());
  out->name = Dup(e.name);
  out->firstSeparator = Dup(e.firstSep);
  out->nextSeparator = Dup(e.nextSep);
  if (!out->name || !out->firstSeparator || !out->nextSeparator) {
    NWSMFreeDataSetName(out);
    return NWSMUT_OUT_OF_MEMORY;
  }
  return 0;
}

NameView Make(UINT32 ns, UINT32 sel, NWBOOLEAN rev, const char *s1, const char *s2, const char *name) {
  NameView e;
  e.nameSpaceType = ns;
  e.selectionType = sel;
  e.reverseOrder = rev != 0;
  e.firstSep = s1 ? s1 : "";
  e.nextSep = s2 ? s2 : "";
  e.name = name;
  return e;
}

// Replaces *list by a new list of these entries.
CCODE Store(NWSM_DATA_SET_NAME_LIST **list, const NameView *entries, size_t count) {
  NWSM_DATA_SET_NAME_LIST *fresh = nullptr;
  CCODE rc = EncodeNameViews(entries, count, &fresh);
  if (rc) return rc;
  free(*list);
  *list = fresh;
  return 0;
}

const char *S(const char *s) { return s ? s : "(null)"; }

}  // namespace

extern "C" CCODE NWSMPutOneName(NWSM_DATA_SET_NAME_LIST **list, UINT32 nameSpaceType,
                                UINT32 selectionType, NWBOOLEAN reverseOrder,
                                const char *firstSeparator, const char *nextSeparator,
                                const char *name) {
  Call c("NWSMPutOneName");
  c.Args("ns=0x%X, sel=%u, name=\"%s\"", nameSpaceType, selectionType, S(name));
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!list || !name) return c.End(NWSMUT_INVALID_PARAMETER);
  NameView one = Make(nameSpaceType, selectionType, reverseOrder, firstSeparator, nextSeparator, name);
  return c.End(Store(list, &one, 1));
}

extern "C" CCODE NWSMPutFirstName(NWSM_DATA_SET_NAME_LIST **list, UINT32 nameSpaceType,
                                  UINT32 selectionType, NWBOOLEAN reverseOrder,
                                  const char *firstSeparator, const char *nextSeparator,
                                  const char *name, UINT32 *nameHandle) {
  Call c("NWSMPutFirstName");
  c.Args("ns=0x%X, sel=%u, name=\"%s\"", nameSpaceType, selectionType, S(name));
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!list || !name || !nameHandle) return c.End(NWSMUT_INVALID_PARAMETER);
  NameView one = Make(nameSpaceType, selectionType, reverseOrder, firstSeparator, nextSeparator, name);
  CCODE rc = Store(list, &one, 1);
  if (rc) return c.End(rc);
  auto h = std::make_unique<PutHandle>();
  h->list = *list;
  *nameHandle = AddHandle(std::move(h));
  return c.End(0);
}

extern "C" CCODE NWSMPutNextName(NWSM_DATA_SET_NAME_LIST **list, UINT32 *nameHandle,
                                 UINT32 nameSpaceType, UINT32 selectionType,
                                 NWBOOLEAN reverseOrder, const char *firstSeparator,
                                 const char *nextSeparator, const char *name) {
  Call c("NWSMPutNextName");
  c.Args("ns=0x%X, sel=%u, name=\"%s\"", nameSpaceType, selectionType, S(name));
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!list || !*list || !name || !nameHandle) return c.End(NWSMUT_INVALID_PARAMETER);
  PutHandle *h = FindHandle<PutHandle>(*nameHandle, 0);
  if (!h || h->list != *list) return c.End(NWSMUT_INVALID_HANDLE);
  // The entries point into the old list, which goes only once the new one is built.
  std::vector<NameView> &entries = Scratch();
  CCODE rc = ParseNameViews(*list, 0, entries);
  if (rc) return c.End(rc);
  entries.push_back(Make(nameSpaceType, selectionType, reverseOrder, firstSeparator, nextSeparator, name));
  rc = Store(list, entries.data(), entries.size());
  if (!rc) h->list = *list;
  return c.End(rc);
}

extern "C" CCODE NWSMCloseName(UINT32 *nameHandle) {
  Call c("NWSMCloseName");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!nameHandle) return c.End(NWSMUT_INVALID_PARAMETER);
  c.Args("handle=0x%X", *nameHandle);
  HandleObject *h = FindHandle<PutHandle>(*nameHandle, 0);
  if (!h) h = FindHandle<GetHandle>(*nameHandle, 0);
  if (!h) return c.End(NWSMUT_INVALID_HANDLE);
  CloseHandle(*nameHandle);
  *nameHandle = 0;
  return c.End(0);
}

extern "C" CCODE NWSMGetOneName(const NWSM_DATA_SET_NAME_LIST *list, NWSM_DATA_SET_NAME *name) {
  Call c("NWSMGetOneName");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!list || !name) return c.End(NWSMUT_INVALID_PARAMETER);
  std::vector<NameView> &entries = Scratch();
  CCODE rc = ParseNameViews(list, 0, entries);
  if (rc) return c.End(rc);
  if (entries.empty()) return c.End(NWSMUT_LIST_EMPTY);
  c.Args("name=\"%.*s\"", static_cast<int>(entries[0].name.size()), entries[0].name.data());
  return c.End(Fill(entries[0], name));
}

extern "C" CCODE NWSMGetFirstName(const NWSM_DATA_SET_NAME_LIST *list, NWSM_DATA_SET_NAME *name,
                                  UINT32 *nameHandle) {
  Call c("NWSMGetFirstName");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!list || !name || !nameHandle) return c.End(NWSMUT_INVALID_PARAMETER);
  auto h = std::make_unique<GetHandle>();
  const uint8_t *b = reinterpret_cast<const uint8_t *>(list);
  h->bytes.assign(b, b + NWSM_LIST_TOTAL_SIZE(list));
  CCODE rc = ParseNameViews(h->bytes.data(), 0, h->entries);
  if (rc) return c.End(rc);
  if (h->entries.empty()) return c.End(NWSMUT_LIST_EMPTY);
  rc = Fill(h->entries[0], name);
  if (rc) return c.End(rc);
  h->next = 1;
  *nameHandle = AddHandle(std::move(h));
  return c.End(0);
}

extern "C" CCODE NWSMGetNextName(UINT32 *nameHandle, NWSM_DATA_SET_NAME *name) {
  Call c("NWSMGetNextName");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!nameHandle || !name) return c.End(NWSMUT_INVALID_PARAMETER);
  GetHandle *h = FindHandle<GetHandle>(*nameHandle, 0);
  if (!h) return c.End(NWSMUT_INVALID_HANDLE);
  if (h->next >= h->entries.size()) return c.End(NWSMUT_NO_MORE_NAMES);
  return c.End(Fill(h->entries[h->next++], name));
}

extern "C" CCODE NWSMGetDataSetName(const NWSM_DATA_SET_NAME_LIST *list, UINT32 nameSpaceType,
                                    NWSM_DATA_SET_NAME *name) {
  Call c("NWSMGetDataSetName");
  c.Args("ns=0x%X", nameSpaceType);
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!list || !name) return c.End(NWSMUT_INVALID_PARAMETER);
  std::vector<NameView> &entries = Scratch();
  CCODE rc = ParseNameViews(list, 0, entries);
  if (rc) return c.End(rc);
  if (entries.empty()) return c.End(NWSMUT_LIST_EMPTY);
  for (const NameView &e : entries)
    if (e.nameSpaceType == nameSpaceType) return c.End(Fill(e, name));
  if (nameSpaceType == 0) {
    // A request for name space 0 is always answered: its UTF-8 form, else
    // the primary (first) entry, whose type then tells the caller.
    for (const NameView &e : entries)
      if (e.nameSpaceType == 256) return c.End(Fill(e, name));
    return c.End(Fill(entries[0], name));
  }
  return c.End(NWSMUT_NO_MORE_NAMES);
}

extern "C" CCODE vrk_sms_check_name_list(const NWSM_DATA_SET_NAME_LIST *list, UINT32 realSize) {
  if (!list || realSize < 2) return NWSMUT_INVALID_PARAMETER;
  return ParseNameViews(list, realSize, Scratch());
}

extern "C" void NWSMFreeDataSetName(NWSM_DATA_SET_NAME *name) {
  if (!name) return;
  free(name->name);
  free(name->firstSeparator);
  free(name->nextSeparator);
  name->name = name->firstSeparator = name->nextSeparator = nullptr;
  name->nameLength = 0;
}

extern "C" CCODE NWSMFreeNameList(NWSM_NAME_LIST **list) {
  Call c("NWSMFreeNameList");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!list) return c.End(NWSMUT_INVALID_PARAMETER);
  NWSM_NAME_LIST *p = *list;
  while (p) {
    NWSM_NAME_LIST *next = p->next;
    free(p->name);
    free(p);
    p = next;
  }
  *list = nullptr;
  return c.End(0);
}

extern "C" void NWSMFreeString(void *string) { free(string); }

extern "C" CCODE NWSMCatStrings(UINT8 numberOfStrings, char **out, ...) {
  Call c("NWSMCatStrings");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!out) return c.End(NWSMUT_INVALID_PARAMETER);
  std::string s;
  va_list ap;
  va_start(ap, out);
  bool bad = false;
  for (UINT8 i = 0; i < numberOfStrings; ++i) {
    const char *part = va_arg(ap, const char *);
    if (!part) bad = true;
    else s += part;
  }
  va_end(ap);
  if (bad) return c.End(NWSMUT_INVALID_PARAMETER);
  c.Args("out=\"%s\"", s.c_str());
  *out = Dup(s);
  return c.End(*out ? 0 : NWSMUT_OUT_OF_MEMORY);
}

namespace vrksms {

// Builds a malloc'd NWSM_NAME_LIST from names (and types).
CCODE MakeNameList(const std::vector<std::string> &names, const std::vector<UINT32> &types,
                   NWSM_NAME_LIST **out) {
  NWSM_NAME_LIST *head = nullptr, **tail = &head;
  for (size_t i = 0; i < names.size(); ++i) {
    NWSM_NAME_LIST *n = static_cast<NWSM_NAME_LIST *>(calloc(1, sizeof(NWSM_NAME_LIST)));
    char *name = Dup(names[i]);
    if (!n || !name) {
      free(n);
      free(name);
      NWSMFreeNameList(&head);
      return NWSMUT_OUT_OF_MEMORY;
    }
    n->name = name;
    n->type = i < types.size() ? types[i] : 0;
    *tail = n;
    tail = &n->next;
  }
  *out = head;
  return 0;
}

char *DupString(const std::string &s) { return Dup(s); }

}  // namespace vrksms
