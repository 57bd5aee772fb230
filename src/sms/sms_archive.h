// Archive dates and modify flags of data sets, kept in the world's state
// directory (one file per TSA resource, appended to and rewritten whole when
// it holds far more lines than names), never on the files.
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
  // The last backup of it failed (or it could not be read): it counts as
  // changed, and a directory's whole contents with it, until a backup
  // clears its modify flag again.
  bool failed = false;
};

bool LookupArchive(const Tsa &tsa, const Resource &res, const std::string &key, ArchiveRecord &out);
bool StoreArchive(const Tsa &tsa, const Resource &res, const std::string &key, const ArchiveRecord &rec);
// Marks the data set as failed, keeping its archive date.
bool MarkFailed(const Tsa &tsa, const Resource &res, const std::string &key);
// Writes the appended records that still wait.
void FlushArchive();
// Rewrites every state file whose lines exceed its live records by far
// (after FlushArchive, at the end of a scan).
void CompactArchive();
// Writes what waits and forgets every table (a new world).
void ResetArchiveCache();

}  // namespace vrksms

#endif
