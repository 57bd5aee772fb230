// Encoding and checked parsing of the flat little-endian name-list layout.
#include "sms/sms_namelist.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "sms/smsdefs.h"
#include "sms/smserrors.h"

namespace vrksms {

namespace {

void Put16(uint8_t *&p, uint32_t v) {
  *p++ = static_cast<uint8_t>(v);
  *p++ = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t *&p, uint32_t v) {
  for (int i = 0; i < 4; ++i) *p++ = static_cast<uint8_t>(v >> (8 * i));
}
void PutText(uint8_t *&p, std::string_view s) {
  Put16(p, static_cast<uint32_t>(s.size()));
  memcpy(p, s.data(), s.size());
  p += s.size();
}

struct Reader {
  const uint8_t *p;
  size_t left;
  bool Get16(uint32_t &v) {
    if (left < 2) return false;
    v = p[0] | (static_cast<uint32_t>(p[1]) << 8);
    p += 2;
    left -= 2;
    return true;
  }
  bool Get32(uint32_t &v) {
    if (left < 4) return false;
    v = p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
        (static_cast<uint32_t>(p[3]) << 24);
    p += 4;
    left -= 4;
    return true;
  }
  bool Get8(uint32_t &v) {
    if (left < 1) return false;
    v = *p++;
    --left;
    return true;
  }
  bool GetText(std::string_view &s) {
    uint32_t n;
    if (!Get16(n) || left < n) return false;
    if (memchr(p, 0, n)) return false;
    s = std::string_view(reinterpret_cast<const char *>(p), n);
    p += n;
    left -= n;
    return true;
  }
};

}  // namespace

size_t EncodedListSize(const std::vector<NameEntry> &entries) {
  size_t n = kListHeaderSize;
  for (const NameEntry &e : entries)
    n += kEntryFixedSize + e.firstSep.size() + e.nextSep.size() + e.name.size();
  return n;
}

CCODE EncodeNameViews(const NameView *entries, size_t count, NWSM_DATA_SET_NAME_LIST **out) {
  if (!out) return NWSMUT_INVALID_PARAMETER;
  if (count > 0xFFFF) return NWSMUT_LIST_TOO_LARGE;
  size_t total = kListHeaderSize;
  for (size_t i = 0; i < count; ++i) {
    const NameView &e = entries[i];
    if (e.firstSep.size() > 0xFFFF || e.nextSep.size() > 0xFFFF || e.name.size() > 0xFFFF)
      return NWSMUT_LIST_TOO_LARGE;
    if (e.name.find('\0') != std::string_view::npos || e.firstSep.find('\0') != std::string_view::npos ||
        e.nextSep.find('\0') != std::string_view::npos)
      return NWSMUT_INVALID_PARAMETER;
    total += kEntryFixedSize + e.firstSep.size() + e.nextSep.size() + e.name.size();
  }
  if (total - 2 > NWSM_MAX_NAME_LIST_SIZE) return NWSMUT_LIST_TOO_LARGE;
  uint8_t *buf = static_cast<uint8_t *>(malloc(total));
  if (!buf) return NWSMUT_OUT_OF_MEMORY;
  uint8_t *p = buf;
  Put16(p, static_cast<uint32_t>(total - 2));
  *p++ = NWSM_NAME_LIST_SIGNATURE;
  *p++ = NWSM_NAME_LIST_VERSION;
  Put16(p, static_cast<uint32_t>(count));
  for (size_t i = 0; i < count; ++i) {
    const NameView &e = entries[i];
    Put32(p, e.nameSpaceType);
    Put32(p, e.selectionType);
    *p++ = e.reverseOrder ? 1 : 0;
    *p++ = 0;
    PutText(p, e.firstSep);
    PutText(p, e.nextSep);
    PutText(p, e.name);
  }
  *out = reinterpret_cast<NWSM_DATA_SET_NAME_LIST *>(buf);
  return 0;
}

CCODE EncodeNameList(const std::vector<NameEntry> &entries, NWSM_DATA_SET_NAME_LIST **out) {
  if (!out) return NWSMUT_INVALID_PARAMETER;
  if (entries.size() > 0xFFFF) return NWSMUT_LIST_TOO_LARGE;
  std::vector<NameView> views;
  views.reserve(entries.size());
  for (const NameEntry &e : entries)
    views.push_back({e.nameSpaceType, e.selectionType, e.reverseOrder, e.firstSep, e.nextSep, e.name});
  return EncodeNameViews(views.data(), views.size(), out);
}

CCODE ParseNameViews(const void *list, size_t realSize, std::vector<NameView> &out) {
  out.clear();
  if (!list) return NWSMUT_INVALID_PARAMETER;
  // A real size too short for the size field itself holds no list.
  if (realSize == 1) return NWSMUT_INVALID_LIST;
  const uint8_t *b = static_cast<const uint8_t *>(list);
  size_t n = b[0] | (static_cast<size_t>(b[1]) << 8);
  if (realSize && realSize != n + 2) return NWSMUT_INVALID_LIST;
  if (n > NWSM_MAX_NAME_LIST_SIZE || n + 2 < kListHeaderSize) return NWSMUT_INVALID_LIST;
  Reader r{b + 2, n};
  uint32_t sig, ver, count;
  if (!r.Get8(sig) || !r.Get8(ver) || !r.Get16(count)) return NWSMUT_INVALID_LIST;
  if (sig != NWSM_NAME_LIST_SIGNATURE || ver != NWSM_NAME_LIST_VERSION) return NWSMUT_INVALID_LIST;
  // The count is the list's own claim: room only for the entries its bytes can hold.
  out.reserve(std::min<size_t>(count, n / kEntryFixedSize));
  for (uint32_t i = 0; i < count; ++i) {
    NameView e;
    uint32_t rev, reserved;
    if (!r.Get32(e.nameSpaceType) || !r.Get32(e.selectionType) || !r.Get8(rev) ||
        !r.Get8(reserved) || rev > 1 || reserved != 0 || !r.GetText(e.firstSep) ||
        !r.GetText(e.nextSep) || !r.GetText(e.name)) {
      out.clear();
      return NWSMUT_INVALID_LIST;
    }
    e.reverseOrder = rev != 0;
    out.push_back(e);
  }
  if (r.left != 0) {
    out.clear();
    return NWSMUT_INVALID_LIST;
  }
  return 0;
}

CCODE ParseNameList(const void *list, size_t realSize, std::vector<NameEntry> &out) {
  out.clear();
  std::vector<NameView> views;
  CCODE rc = ParseNameViews(list, realSize, views);
  if (rc) return rc;
  out.reserve(views.size());
  for (const NameView &v : views) {
    NameEntry e;
    e.nameSpaceType = v.nameSpaceType;
    e.selectionType = v.selectionType;
    e.reverseOrder = v.reverseOrder;
    e.firstSep.assign(v.firstSep);
    e.nextSep.assign(v.nextSep);
    e.name.assign(v.name);
    out.push_back(std::move(e));
  }
  return 0;
}

}  // namespace vrksms
