// The frozen byte layout of name lists (data-set name lists and selection
// lists): encoding, and a parser that checks every entry against the size.
#ifndef VRK_SMS_SMS_NAMELIST_H
#define VRK_SMS_SMS_NAMELIST_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "sms/smstypes.h"

namespace vrksms {

struct NameEntry {
  uint32_t nameSpaceType = 0;
  uint32_t selectionType = 0;
  bool reverseOrder = false;
  std::string firstSep, nextSep, name;
};

// An entry whose texts point into a list (or into the caller's strings).
struct NameView {
  uint32_t nameSpaceType = 0;
  uint32_t selectionType = 0;
  bool reverseOrder = false;
  std::string_view firstSep, nextSep, name;
};

// Layout version 1, little-endian:
//   u16 n (bytes that follow), u8 'N', u8 version 1, u16 entry count,
//   per entry: u32 name space, u32 selection type, u8 reverse order (0/1),
//   u8 reserved 0, u16 + bytes first separator, u16 + bytes next separator,
//   u16 + bytes name. No NUL bytes in the texts; nothing after the last entry.
constexpr size_t kListHeaderSize = 6;
constexpr size_t kEntryFixedSize = 16;

// Encoded size of a list of these entries (n + 2).
size_t EncodedListSize(const std::vector<NameEntry> &entries);

// Builds a malloc'd list; NWSMUT_LIST_TOO_LARGE when n would pass 65525.
CCODE EncodeNameList(const std::vector<NameEntry> &entries, NWSM_DATA_SET_NAME_LIST **out);

// The same from entries that point at their texts.
CCODE EncodeNameViews(const NameView *entries, size_t count, NWSM_DATA_SET_NAME_LIST **out);

// Parses a list into entries pointing into it, with the checks of
// ParseNameList; the entries are valid while the list is.
CCODE ParseNameViews(const void *list, size_t realSize, std::vector<NameView> &out);

// Parses a list whose real size is `realSize` bytes (0: trust its own size
// field); NWSMUT_INVALID_LIST for any entry that does not fit.
CCODE ParseNameList(const void *list, size_t realSize, std::vector<NameEntry> &out);

}  // namespace vrksms

#endif
