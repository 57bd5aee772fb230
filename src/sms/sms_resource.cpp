// Resources and name spaces of a target service: lists, block counts, the
// extension buffer, separators, and splitting and fixing data-set names.
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/statvfs.h>

#include "sms/sms_path.h"
#include "sms/sms_state.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

const char *S(const char *s) { return s ? s : "(null)"; }

CCODE LoggedIn(const Connection *conn) { return conn->loggedIn ? 0 : NWSMTS_NOT_LOGGED_IN; }

const Resource *FindRes(const Tsa &t, const char *name) {
  if (!name) return nullptr;
  for (const Resource &r : t.resources)
    if (t.volumeStyle ? strcasecmp(r.name.c_str(), name) == 0 : r.name == name) return &r;
  return nullptr;
}

const char *NameSpaceName(UINT32 ns) {
  switch (ns) {
    case 0: return "DOS";
    case 2: return "NFS";
    case 4: return "LONG";
  }
  return "";
}

bool KnownNameSpace(const Tsa &t, UINT32 ns) {
  if (ns == NWSM_DIRECTORY_NAME_SPACE || ns == NWSM_TSA_DEFINED_RESOURCE_TYPE) return true;
  UINT32 local = ns >= 256 && ns <= 260 ? ns - 256 : ns;
  if (ns >= 256 && !t.utf8) return false;
  for (UINT32 x : t.nameSpaces)
    if (x == local) return true;
  return false;
}

struct Extension : HandleObject {
  std::string text;
};

STRING_BUFFER *MakeStringBuffer(const char *text) {
  size_t n = strlen(text);
  STRING_BUFFER *b = static_cast<STRING_BUFFER *>(malloc(sizeof(STRING_BUFFER) + n));
  if (!b) return nullptr;
  b->size = static_cast<UINT16>(n);
  memcpy(b->string, text, n + 1);
  return b;
}

void Put32(std::vector<uint8_t> &v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

std::vector<uint8_t> InfoBuffer(const Resource &r) {
  std::vector<uint8_t> v;
  Put32(v, NWSM_RESOURCE_EXT_NAME);
  Put32(v, static_cast<uint32_t>(r.name.size()));
  v.insert(v.end(), r.name.begin(), r.name.end());
  Put32(v, NWSM_RESOURCE_EXT_MOUNT_TYPE);
  Put32(v, static_cast<uint32_t>(r.mountType.size()));
  v.insert(v.end(), r.mountType.begin(), r.mountType.end());
  return v;
}

}  // namespace

extern "C" CCODE NWSMTSListTSResources(UINT32 connection, NWSM_NAME_LIST **list) {
  Call c("NWSMTSListTSResources");
  c.Args("connection=0x%X", connection);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (CCODE rc = LoggedIn(conn)) return c.End(rc);
  if (!list) return c.End(NWSMTS_INVALID_PARAMETER);
  std::vector<std::string> names;
  for (const Resource &r : conn->tsa->resources) names.push_back(r.name);
  return c.End(MakeNameList(names, {}, list));
}

extern "C" CCODE NWSMTSScanTargetServiceResource(UINT32 connection, UINT32 *sequence, char *resourceName) {
  Call c("NWSMTSScanTargetServiceResource");
  c.Args("connection=0x%X, sequence=0x%X", connection, sequence ? *sequence : 0);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (CCODE rc = LoggedIn(conn)) return c.End(rc);
  if (!sequence || !resourceName) return c.End(NWSMTS_INVALID_PARAMETER);
  // A sequence of 0 or 0xFFFFFFFF starts; after entry i it holds i + 1.
  size_t index = (*sequence == 0 || *sequence == 0xFFFFFFFFu) ? 0 : *sequence;
  const std::vector<Resource> &res = conn->tsa->resources;
  if (index >= res.size()) return c.End(NWSMTS_NO_MORE_NAMES);
  BoundedCopy(resourceName, NWSM_MAX_RESOURCE_LEN, res[index].name.c_str());
  *sequence = static_cast<UINT32>(index + 1);
  return c.End(0);
}

extern "C" CCODE NWSMTSGetTargetResourceInfo(UINT32 connection, const char *resourceName, UINT32 *blockSize,
                                             UINT32 *totalBlocks, UINT32 *freeBlocks,
                                             NWBOOLEAN *resourceIsRemovable, UINT32 *purgeableBlocks,
                                             UINT32 *notYetPurgeableBlocks, UINT32 *migratedSectors,
                                             UINT32 *precompressedSectors, UINT32 *compressedSectors) {
  Call c("NWSMTSGetTargetResourceInfo");
  c.Args("connection=0x%X, resource=\"%s\"", connection, S(resourceName));
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (CCODE rc = LoggedIn(conn)) return c.End(rc);
  const Resource *r = FindRes(*conn->tsa, resourceName);
  if (!r) return c.End(NWSMTS_INVALID_PARAMETER);
  if (!blockSize || !totalBlocks || !freeBlocks) return c.End(NWSMTS_INVALID_PARAMETER);
  uint64_t bs, total, fr;
  if (r->fixedBlocks) {
    bs = r->blockSize;
    total = r->totalBlocks;
    fr = r->freeBlocks;
  } else {
    struct statvfs v;
    if (statvfs(r->dir.c_str(), &v) != 0) return c.End(NWSMTS_INVALID_PATH);
    bs = v.f_frsize ? v.f_frsize : v.f_bsize;
    total = v.f_blocks;
    fr = v.f_bfree;
    // Counts are 32-bit: larger file systems report bigger blocks.
    while (total > 0xFFFFFFFFull && bs <= 0x7FFFFFFFull) {
      bs *= 2;
      total /= 2;
      fr /= 2;
    }
  }
  *blockSize = static_cast<UINT32>(bs);
  *totalBlocks = static_cast<UINT32>(total);
  *freeBlocks = static_cast<UINT32>(fr);
  if (resourceIsRemovable) *resourceIsRemovable = 0;
  if (purgeableBlocks) *purgeableBlocks = 0;
  if (notYetPurgeableBlocks) *notYetPurgeableBlocks = 0;
  if (migratedSectors) *migratedSectors = 0;
  if (precompressedSectors) *precompressedSectors = 0;
  if (compressedSectors) *compressedSectors = 0;
  return c.End(0);
}

extern "C" CCODE NWSMTSGetTargetResourceInfoEx(UINT32 connection, const char *resourceName, UINT32 *infoSize,
                                               BUFFERPTR info) {
  Call c("NWSMTSGetTargetResourceInfoEx");
  c.Args("connection=0x%X, resource=\"%s\", size=%u", connection, S(resourceName), infoSize ? *infoSize : 0);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (CCODE rc = LoggedIn(conn)) return c.End(rc);
  const Resource *r = FindRes(*conn->tsa, resourceName);
  if (!r || !infoSize) return c.End(NWSMTS_INVALID_PARAMETER);
  std::vector<uint8_t> buf = InfoBuffer(*r);
  if (!info) {
    *infoSize = static_cast<UINT32>(buf.size());
    return c.End(0);
  }
  if (*infoSize < buf.size()) {
    *infoSize = static_cast<UINT32>(buf.size());
    return c.End(NWSMTS_BUFFER_TOO_SMALL);
  }
  memcpy(info, buf.data(), buf.size());
  *infoSize = static_cast<UINT32>(buf.size());
  return c.End(0);
}

extern "C" CCODE NWSMGetExtension(const BUFFER *info, UINT32 infoSize, UINT32 extensionTag, void **extension,
                                  UINT32 *extensionHandle) {
  Call c("NWSMGetExtension");
  c.Args("size=%u, tag=%u", infoSize, extensionTag);
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!info || !extension || !extensionHandle) return c.End(NWSMUT_INVALID_PARAMETER);
  size_t pos = 0;
  while (pos + 8 <= infoSize) {
    uint32_t tag = 0, len = 0;
    for (int i = 0; i < 4; ++i) {
      tag |= static_cast<uint32_t>(info[pos + i]) << (8 * i);
      len |= static_cast<uint32_t>(info[pos + 4 + i]) << (8 * i);
    }
    pos += 8;
    if (len > infoSize - pos) return c.End(NWSMUT_INVALID_LIST);
    if (tag == extensionTag) {
      auto ext = std::make_unique<Extension>();
      ext->text.assign(reinterpret_cast<const char *>(info + pos), len);
      Extension *raw = ext.get();
      *extensionHandle = AddHandle(std::move(ext));
      *extension = const_cast<char *>(raw->text.c_str());
      return c.End(0);
    }
    pos += len;
  }
  if (pos != infoSize) return c.End(NWSMUT_INVALID_LIST);
  return c.End(NWSMUT_NO_MORE_NAMES);
}

extern "C" CCODE NWSMCloseExtension(UINT32 *extensionHandle) {
  Call c("NWSMCloseExtension");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!extensionHandle || !FindHandle<Extension>(*extensionHandle, 0)) return c.End(NWSMUT_INVALID_HANDLE);
  CloseHandle(*extensionHandle);
  *extensionHandle = 0;
  return c.End(0);
}

extern "C" CCODE NWSMTSListSupportedNameSpaces(UINT32 connection, const char *resourceName,
                                               NWSM_NAME_LIST **list) {
  Call c("NWSMTSListSupportedNameSpaces");
  c.Args("connection=0x%X, resource=\"%s\"", connection, S(resourceName));
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (CCODE rc = LoggedIn(conn)) return c.End(rc);
  if (!list) return c.End(NWSMTS_INVALID_PARAMETER);
  if (!FindRes(*conn->tsa, resourceName)) return c.End(NWSMTS_NO_NAME_SPACES);
  std::vector<std::string> names;
  std::vector<UINT32> types;
  for (UINT32 ns : conn->tsa->nameSpaces) {
    names.push_back(NameSpaceName(ns));
    types.push_back(ns);
  }
  return c.End(MakeNameList(names, types, list));
}

extern "C" CCODE NWSMTSScanSupportedNameSpaces(UINT32 connection, UINT32 *sequence, const char *resourceName,
                                               UINT32 *nameSpaceType, char *nameSpaceName) {
  Call c("NWSMTSScanSupportedNameSpaces");
  c.Args("connection=0x%X, resource=\"%s\"", connection, S(resourceName));
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (CCODE rc = LoggedIn(conn)) return c.End(rc);
  if (!sequence || !nameSpaceType || !nameSpaceName) return c.End(NWSMTS_INVALID_PARAMETER);
  if (!FindRes(*conn->tsa, resourceName)) return c.End(NWSMTS_NO_NAME_SPACES);
  size_t index = (*sequence == 0 || *sequence == 0xFFFFFFFFu) ? 0 : *sequence;
  const std::vector<UINT32> &ns = conn->tsa->nameSpaces;
  if (index >= ns.size()) return c.End(NWSMTS_NO_MORE_NAMES);
  *nameSpaceType = ns[index];
  BoundedCopy(nameSpaceName, NWSM_MAX_NAME_SPACE_LEN, NameSpaceName(ns[index]));
  *sequence = static_cast<UINT32>(index + 1);
  return c.End(0);
}

extern "C" CCODE NWSMTSGetNameSpaceTypeInfo(UINT32 connection, UINT32 nameSpaceType, NWBOOLEAN *reverseOrder,
                                            STRING_BUFFER **firstSeparator, STRING_BUFFER **nextSeparator) {
  Call c("NWSMTSGetNameSpaceTypeInfo");
  c.Args("connection=0x%X, ns=0x%X", connection, nameSpaceType);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!reverseOrder || !firstSeparator || !nextSeparator) return c.End(NWSMTS_INVALID_PARAMETER);
  if (!KnownNameSpace(*conn->tsa, nameSpaceType)) return c.End(NWSMTS_INVALID_PARAMETER);
  STRING_BUFFER *a = MakeStringBuffer(FirstSeparator(*conn->tsa));
  STRING_BUFFER *b = MakeStringBuffer(NextSeparator(*conn->tsa));
  if (!a || !b) {
    free(a);
    free(b);
    return c.End(NWSMTS_OUT_OF_MEMORY);
  }
  *reverseOrder = 0;
  *firstSeparator = a;
  *nextSeparator = b;
  return c.End(0);
}

extern "C" CCODE NWSMTSSeparateDataSetName(UINT32 connection, UINT32 nameSpaceType, const char *dataSetName,
                                           char **parentDataSetName, char **childDataSetName) {
  Call c("NWSMTSSeparateDataSetName");
  c.Args("connection=0x%X, ns=0x%X, name=\"%s\"", connection, nameSpaceType, S(dataSetName));
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!dataSetName || !parentDataSetName || !childDataSetName) return c.End(NWSMTS_INVALID_PARAMETER);
  std::string name = dataSetName;
  size_t cut = name.rfind('/');
  if (cut == std::string::npos && conn->tsa->volumeStyle) cut = name.find(':');
  size_t split = cut == std::string::npos ? 0 : cut + 1;
  char *p = DupString(name.substr(0, split));
  char *ch = DupString(name.substr(split));
  if (!p || !ch) {
    free(p);
    free(ch);
    return c.End(NWSMTS_OUT_OF_MEMORY);
  }
  *parentDataSetName = p;
  *childDataSetName = ch;
  return c.End(0);
}

extern "C" CCODE NWSMTSFixDataSetName(UINT32 connection, const char *dataSetName, UINT32 nameSpaceType,
                                      NWBOOLEAN isParent, NWBOOLEAN wildAllowed, char **newDataSetName) {
  Call c("NWSMTSFixDataSetName");
  c.Args("connection=0x%X, name=\"%s\", ns=0x%X, parent=%d", connection, S(dataSetName), nameSpaceType,
         isParent);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!conn->tsa->fixName) return c.End(NWSMTS_UNSUPPORTED_FUNCTION);
  if (!dataSetName || !newDataSetName) return c.End(NWSMTS_INVALID_PARAMETER);
  std::string in = dataSetName, prefix, rest;
  if (conn->tsa->volumeStyle) {
    size_t colon = in.find(':');
    if (colon == std::string::npos || colon == 0) return c.End(NWSMTS_INVALID_NAME);
    prefix = in.substr(0, colon + 1);
    rest = in.substr(colon + 1);
  } else {
    if (in.empty() || in[0] != '/') return c.End(NWSMTS_INVALID_NAME);
    prefix = "/";
    rest = in.substr(1);
  }
  // Collapse runs of '/', refuse "." and "..".
  std::string out = prefix;
  size_t pos = 0;
  while (pos < rest.size()) {
    size_t slash = rest.find('/', pos);
    std::string comp = rest.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    if (comp == "." || comp == "..") return c.End(NWSMTS_INVALID_NAME);
    if (!wildAllowed && comp.find_first_of("*?[") != std::string::npos) return c.End(NWSMTS_INVALID_NAME);
    if (!comp.empty()) {
      if (out.back() != '/' && out.back() != ':') out += '/';
      out += comp;
    }
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  if (isParent && out.back() != '/' && out.back() != ':') out += '/';
  char *p = DupString(out);
  if (!p) return c.End(NWSMTS_OUT_OF_MEMORY);
  *newDataSetName = p;
  return c.End(0);
}
