// Archive dates and modify flags of data sets, kept in the world's state
// directory (one file per TSA resource, appended to and rewritten whole when
// it holds far more lines than names), never on the files.
#ifndef VRK_SMS_SMS_ARCHIVE_H
#define VRK_SMS_SMS_ARCHIVE_H

#include <stdint.h>
#include <time.h>

#include <string>

#include "sms/sms_world.h"

namespace vrksms {

struct ArchiveRecord {
  uint32_t archived = 0;      // packed archive date and time, 0 when never set
  int64_t cleanSec = -1;      // change time when the modify flag was cleared
  uint32_t cleanNsec = 0;
  // The change time that setting back the access time after the read made
  // (-1: the backup did not have to): a change of the backup's own.
  int64_t ownSec = -1;
  uint32_t ownNsec = 0;
  uint64_t dev = 0, ino = 0;  // the identity it had at the save
  uint64_t run = 0;           // the run that made it (0: a backup of no job in particular)
  // The last backup of it failed (or it could not be read): it counts as
  // changed, and a directory's whole contents with it, until a backup
  // clears its modify flag again.
  bool failed = false;
};

enum class RunStanding : uint8_t;
enum class ScanLevel : uint8_t;

// The job whose backup runs now (its markers' name; empty: no job in
// particular) and its level. Each job keeps an archive state of its own,
// and the records of this process bear a run number of its own.
void SetArchiveJob(const std::string &job, ScanLevel level);
ScanLevel ArchiveLevel();
bool ArchiveJobSet();
// How the run that made a record stands for a scan of the job now.
RunStanding ArchiveStanding(const Tsa &tsa, const Resource &res, uint64_t run);
// The job's run committed its markers: its records stand in its chain.
void CommitArchiveRun();

bool LookupArchive(const Tsa &tsa, const Resource &res, const std::string &key, ArchiveRecord &out);
bool StoreArchive(const Tsa &tsa, const Resource &res, const std::string &key, const ArchiveRecord &rec);
// The records of one directory's entries (dir as "a/b/", "" for the top of
// the resource), null when it has none; valid while ArchiveGeneration()
// stays as it was.
struct ArchiveDir;
const ArchiveDir *FindArchiveDir(const Tsa &tsa, const Resource &res, const std::string &dir);
// A record in it by terminal name (a directory's with "/" after it).
bool LookupInArchiveDir(const ArchiveDir *dir, const std::string &leaf, ArchiveRecord &out);
uint64_t ArchiveGeneration();

// Marks the data set as failed, keeping its archive date.
bool MarkFailed(const Tsa &tsa, const Resource &res, const std::string &key);
// The name key (a directory's with "/" after it) is no longer there: a scan
// read its directory whole without it. Its record, and those of all beneath
// a directory, are dropped at the end of the scan and at the next rewrite,
// so that names made and deleted day by day do not stay in the state for
// good. A name that comes back only counts as new.
void ForgetArchive(const Tsa &tsa, const Resource &res, const std::string &key);
// Writes the appended records that still wait.
void FlushArchive();
// Rewrites every state file whose lines exceed its live records by far
// (after FlushArchive, at the end of a scan).
void CompactArchive();
// Writes what waits and forgets every table (a new world).
void ResetArchiveCache();

}  // namespace vrksms

#endif
