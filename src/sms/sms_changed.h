// Whether a data set must be saved at the level and reference of a scan: the
// one rule of "changed since", from its archive record and what the scan sees.
#ifndef VRK_SMS_SMS_CHANGED_H
#define VRK_SMS_SMS_CHANGED_H

#include <stdint.h>
#include <time.h>

#include <unordered_map>

#include "sms/sms_archive.h"

namespace vrksms {

// What the scan sees of a data set now.
struct LiveFacts {
  bool archiveState = true;  // the TSA keeps archive state (else the times alone tell)
  time_t ref = 0;            // the reference of the level, as an instant
  struct timespec btime {}, ctime {};
  uint64_t dev = 0, ino = 0;
  // A directory above it failed, or could not be read, at a backup since
  // its last clean one: all it holds counts as changed.
  bool forced = false;
};

// Where the run that made a record stands for the job that scans now.
enum class RunStanding : uint8_t {
  kInChain,       // a run of this job that committed, in the chain of this level
  kNotCommitted,  // a run that did not commit (failed, killed, still at work) or another job's
  kOutsideChain,  // committed, but its saveset is not in the chain (before the last FULL; a DIFF: after it)
};

// The runs of one job that committed, in the order they did.
struct JobRuns {
  struct Commit {
    uint32_t order = 0;  // 1, 2, ... in the order of the commits
    bool full = false;
  };
  std::unordered_map<uint64_t, Commit> commits;
  uint32_t lastFull = 0;  // order of the last committed FULL, 0: none known
  uint32_t next = 1;
  void Committed(uint64_t run, bool full);
};

// The levels a scan may be for (as the client numbers them).
enum class ScanLevel : uint8_t { kFull = 0, kIncremental = 1, kDifferential = 2, kSince = 3, kCopy = 4 };

// How run stands for a scan of the job at level. Without a job (run 0, the
// state of no job in particular) every record stands in the chain.
RunStanding StandingOf(const JobRuns &runs, uint64_t run, ScanLevel level);

// The rule: must the data set be saved by the scan? It must when it was born
// at or after the reference, when a directory above it failed, and, with
// archive state, unless a run in the chain saved it cleanly as it is now:
// no record (moved in, renamed, a renamed directory's contents), a failed
// one, another change time (mode, owner, contents written with an old time
// kept), another device or inode (swapped within one change-time tick), a
// saved change time at or after the reference, a record dated at or after
// it (recordLater), or a run outside the chain. Without archive state the
// change time alone tells. A directory's own record decides for the
// directory alone: its unchanged children are asked one by one.
bool MustSave(const ArchiveRecord *rec, RunStanding standing, bool recordLater, const LiveFacts &live);

// Whether the record is as the data set is now: its last backup cleared the
// modify flag, and since then neither its change time (other than the one
// that backup's own access-time reset made) nor its identity moved.
bool SameAsSaved(const ArchiveRecord &rec, const struct timespec &ctime, uint64_t dev, uint64_t ino);

// A directory whose record says its backup failed: all it holds counts.
inline bool FailedRecord(const ArchiveRecord &rec) { return rec.failed; }

}  // namespace vrksms

#endif
