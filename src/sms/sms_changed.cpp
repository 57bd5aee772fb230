// The rule of "changed since": a data set is saved unless a run of this job
// that committed, and whose saveset is in the level's chain, saved it as it is.
#include "sms/sms_changed.h"

namespace vrksms {

void JobRuns::Committed(uint64_t run, bool full) {
  Commit &c = commits[run];
  c.order = next++;
  c.full = full;
  if (full) lastFull = c.order;
}

RunStanding StandingOf(const JobRuns &runs, uint64_t run, ScanLevel level) {
  if (run == 0) return RunStanding::kInChain;
  auto it = runs.commits.find(run);
  if (it == runs.commits.end()) return RunStanding::kNotCommitted;
  const uint32_t order = it->second.order;
  // An INCR's chain is the last FULL and every run since; a DIFF's the last
  // FULL alone. A run before the last FULL is in no chain: what it saved
  // and the FULL did not is saved again.
  if (order < runs.lastFull) return RunStanding::kOutsideChain;
  if (level == ScanLevel::kDifferential && order != runs.lastFull) return RunStanding::kOutsideChain;
  return RunStanding::kInChain;
}

bool SameAsSaved(const ArchiveRecord &rec, const struct timespec &ctime, uint64_t dev, uint64_t ino) {
  if (rec.failed || rec.cleanSec < 0) return false;
  if (rec.dev != dev || rec.ino != ino) return false;
  const uint32_t ns = static_cast<uint32_t>(ctime.tv_nsec);
  return (ctime.tv_sec == rec.cleanSec && ns == rec.cleanNsec) ||
         (rec.ownSec >= 0 && ctime.tv_sec == rec.ownSec && ns == rec.ownNsec);
}

bool MustSave(const ArchiveRecord *rec, RunStanding standing, bool recordLater, const LiveFacts &live) {
  if (live.btime.tv_sec >= live.ref || live.forced) return true;
  if (!live.archiveState) return live.ctime.tv_sec >= live.ref;
  if (!rec || !SameAsSaved(*rec, live.ctime, live.dev, live.ino)) return true;
  if (rec->cleanSec >= live.ref || recordLater) return true;
  return standing != RunStanding::kInChain;
}

}  // namespace vrksms
