// The rule of "changed since", clause by clause: what a record of which run
// hides from a scan of which level, whatever the file system does with times.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sms/sms_changed.h"

using namespace vrksms;

namespace {

const time_t kRef = 1700000000;  // the reference of the scan
const uint64_t kFull = 0xF0, kIncr = 0x10, kUnfinished = 0xDEAD, kOlderFull = 0xA0, kOtherJobs = 0xB0;

struct Case {
  const char *name;
  ScanLevel level;
  bool hasRecord;
  std::function<void(ArchiveRecord &)> record;  // from a clean save of the data set as it is now
  std::function<void(LiveFacts &)> live;        // from an unchanged data set
  bool recordLater;                             // the record's date is at or after the reference
  bool save;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// The job: an older FULL, then the FULL, then an INCR, each committed; the
// unfinished run never did. Another job committed a run of its own.
JobRuns ThisJob() {
  JobRuns runs;
  runs.Committed(kOlderFull, true);
  runs.Committed(kFull, true);
  runs.Committed(kIncr, false);
  return runs;
}

class ChangedSince : public ::testing::TestWithParam<Case> {};

TEST_P(ChangedSince, SavesUnlessARunInTheChainSavedItAsItIs) {
  const Case &c = GetParam();
  LiveFacts live;
  live.ref = kRef;
  live.btime = {kRef - 5000, 0};
  live.ctime = {kRef - 100, 250};
  live.dev = 0x801;
  live.ino = 4242;
  ArchiveRecord rec;
  rec.archived = 0x5AA538E5;
  rec.cleanSec = live.ctime.tv_sec;
  rec.cleanNsec = static_cast<uint32_t>(live.ctime.tv_nsec);
  rec.dev = live.dev;
  rec.ino = live.ino;
  rec.run = kFull;
  if (c.record) c.record(rec);
  if (c.live) c.live(live);
  const RunStanding standing = StandingOf(ThisJob(), rec.run, c.level);
  EXPECT_EQ(c.save, MustSave(c.hasRecord ? &rec : nullptr, standing, c.recordLater, live));
}

const ScanLevel I = ScanLevel::kIncremental, D = ScanLevel::kDifferential;

std::vector<Case> Cases() {
  return {
      {"UnchangedSavedByTheFull", I, true, nullptr, nullptr, false, false},
      {"UnchangedSavedByTheFullAtADiff", D, true, nullptr, nullptr, false, false},
      {"UnchangedSavedByAnIncrSinceTheFull", I, true, [](ArchiveRecord &r) { r.run = kIncr; }, nullptr, false,
       false},
      {"NoRecord", I, false, nullptr, nullptr, false, true},
      {"FailedRecord", I, true, [](ArchiveRecord &r) { r.failed = true; }, nullptr, false, true},
      {"ChangeTimeMoved", I, true, nullptr, [](LiveFacts &l) { l.ctime.tv_nsec += 1; }, false, true},
      {"ChangeTimeIsTheBackupsOwnAccessTimeReset", I, true,
       [](ArchiveRecord &r) {
         r.ownSec = r.cleanSec + 1;
         r.ownNsec = 7;
       },
       [](LiveFacts &l) { l.ctime = {l.ctime.tv_sec + 1, 7}; }, false, false},
      {"SavedChangeTimeAtTheReference", I, true,
       [](ArchiveRecord &r) {
         r.cleanSec = kRef;
         r.cleanNsec = 0;
       },
       [](LiveFacts &l) { l.ctime = {kRef, 0}; }, false, true},
      {"RecordDatedAtOrAfterTheReference", I, true, nullptr, nullptr, true, true},
      {"RunThatDidNotCommit", I, true, [](ArchiveRecord &r) { r.run = kUnfinished; }, nullptr, false, true},
      {"AnotherJobsRun", I, true, [](ArchiveRecord &r) { r.run = kOtherJobs; }, nullptr, false, true},
      {"RunBeforeTheLastFull", I, true, [](ArchiveRecord &r) { r.run = kOlderFull; }, nullptr, false, true},
      {"IncrSinceTheFullAtADiff", D, true, [](ArchiveRecord &r) { r.run = kIncr; }, nullptr, false, true},
      {"AnotherInode", I, true, nullptr, [](LiveFacts &l) { l.ino += 1; }, false, true},
      {"AnotherDevice", I, true, nullptr, [](LiveFacts &l) { l.dev += 1; }, false, true},
      {"BornAtTheReference", I, true, nullptr, [](LiveFacts &l) { l.btime = {kRef, 0}; }, false, true},
      // A directory's own record: its mode or entries changed it.
      {"DirectoryThatChangedItself", I, true, nullptr, [](LiveFacts &l) { l.ctime.tv_sec += 50; }, false, true},
      // An unchanged entry of a directory that changed itself stays out;
      // beneath one that failed, all counts.
      {"UnchangedInADirectoryThatChangedItself", I, true, nullptr, nullptr, false, false},
      {"BeneathADirectoryThatFailed", I, true, nullptr, [](LiveFacts &l) { l.forced = true; }, false, true},
      // No archive state: the change time alone tells.
      {"NoArchiveStateChangeTimeBefore", I, false, nullptr, [](LiveFacts &l) { l.archiveState = false; }, false,
       false},
      {"NoArchiveStateChangeTimeAtTheReference", I, false, nullptr,
       [](LiveFacts &l) {
         l.archiveState = false;
         l.ctime = {kRef, 0};
       },
       false, true},
      // A record of no job in particular stands in the chain.
      {"RecordOfNoJob", I, true, [](ArchiveRecord &r) { r.run = 0; }, nullptr, false, false},
  };
}

INSTANTIATE_TEST_SUITE_P(Clauses, ChangedSince, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case> &p) { return std::string(p.param.name); });

// The other job's commits stand in its own runs only.
TEST(ChangedSinceRuns, AnotherJobsCommitStandsInItsOwnChainOnly) {
  JobRuns other;
  other.Committed(kOtherJobs, true);
  EXPECT_EQ(RunStanding::kInChain, StandingOf(other, kOtherJobs, ScanLevel::kIncremental));
  EXPECT_EQ(RunStanding::kNotCommitted, StandingOf(ThisJob(), kOtherJobs, ScanLevel::kIncremental));
}

}  // namespace
