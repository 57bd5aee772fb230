// Archive dates and modify flags of data sets, kept in the world's state
// directory (one append-only file per TSA resource), never on the files.
#ifndef VRK_SMS_SMS_ARCHIVE_H
#define VRK_SMS_SMS_ARCHIVE_H

#include <stdint.h>

#include <string>

#include "sms/sms_world.h"

namespace vrksms {

struct ArchiveRecord {
  uint32_t archived = 0;      // packed archive date and time, 0 when never set
  int64_t cleanSec = -1;      // change time when the modify flag was cleared
  uint32_t cleanNsec = 0;
};

bool LookupArchive(const Tsa &tsa, const Resource &res, const std::string &key, ArchiveRecord &out);
bool StoreArchive(const Tsa &tsa, const Resource &res, const std::string &key, const ArchiveRecord &rec);
// Writes the appended records that still wait.
void FlushArchive();
// Writes what waits and forgets every table (a new world).
void ResetArchiveCache();

}  // namespace vrksms

#endif
