// Timestamp markers through the binary: two runs of one job at once, one of
// them interrupted, and a reference dated later than now.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "backup_job.h"
#include "e2e_files.h"

namespace {

using e2e::BackupJob;
using e2e::Has;
using e2e::Result;

const time_t kAPrepared = 1000000000;  // what the test dates run A's markers
const time_t kBPrepared = 1100000000;  // and run B's leftovers
const time_t kKept = 1200000000;       // files no run may remove

time_t MTime(const std::string &p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0 ? st.st_mtime : (time_t)-1;
}

bool SetMTime(const std::string &p, time_t t) {
  struct timespec ts[2] = {{t, 0}, {t, 0}};
  return utimensat(AT_FDCWD, p.c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0;
}

// True once the client has stopped itself at the stand-in call.
bool Stopped(pid_t pid) {
  siginfo_t si{};
  return waitid(P_PID, (id_t)pid, &si, WSTOPPED | WNOHANG | WNOWAIT) == 0 && si.si_pid == pid;
}

// Dates every file in dir not dated `keep` yet to `t`: the markers a run has
// prepared since the last call. The number of files dated so.
int DateNew(const std::string &dir, time_t keep, time_t t) {
  int n = 0;
  for (const std::string &name : e2e::Names(dir)) {
    std::string p = dir + "/" + name;
    if (MTime(p) != keep && SetMTime(p, t)) ++n;
  }
  return n;
}

// Names of the files in dir dated t.
std::string Dated(const std::string &dir, time_t t) {
  std::string out;
  for (const std::string &name : e2e::Names(dir))
    if (MTime(dir + "/" + name) == t) out += name + " ";
  return out;
}

struct Interrupt {
  const char *name;
  int signal;
  bool leftover;  // the interrupted run's markers stay in the tmp directory
};

void PrintTo(const Interrupt &i, std::ostream *os) { *os << i.name; }

class TwoRunsOfOneJob : public ::testing::TestWithParam<Interrupt> {};

// Run A prepares its markers and stops at the stand-in's first read; run B
// of the same job starts meanwhile, prepares its own, stops likewise and is
// interrupted; then A goes on to a good end. A commits the markers it made
// (dated by the test), never B's; B's leftovers are taken by no later run,
// and the next run of the job removes them.
TEST_P(TwoRunsOfOneJob, EachCommitsOnlyItsOwnMarkers) {
  const Interrupt &in = GetParam();
  BackupJob job("stop NWSMTSReadDataSet = 1\n");
  mkdir(job.file("data/src").c_str(), 0755);
  vrktest::WriteFileAt(job.file("data/src/a.txt"), "alpha\n", 1300000000);
  vrktest::WriteFileAt(job.file("data/src/b.txt"), "beta\n", 1300000000);

  pid_t pidB = -1;
  Result b;
  int aPrepared = 0, bPrepared = 0;
  const std::string tmp = job.file("tmp");
  Result a = job.Run({"-b", "-j", "job", "-N", "srv1:srv1.Linux File System:srv1:u:p:0", "-l", "FULL", "-s",
                      "@" + job.file("a.ss"), "/src"},
                     [&](pid_t pidA, const std::string &) {
                       if (!Stopped(pidA)) return false;
                       aPrepared = DateNew(tmp, -1, kAPrepared);
                       b = job.Run({"-b", "-j", "job", "-N", "srv1:srv1.Linux File System:srv1:u:p:0", "-l", "FULL",
                                    "-s", "@" + job.file("b.ss"), "/src"},
                                   [&](pid_t pid, const std::string &) {
                                     if (!Stopped(pid)) return false;
                                     pidB = pid;
                                     bPrepared = DateNew(tmp, kAPrepared, kBPrepared);
                                     kill(pid, in.signal);
                                     kill(pid, SIGCONT);
                                     return true;
                                   });
                       kill(pidA, SIGCONT);
                       return true;
                     });
  // Each run prepared both markers before it stopped.
  ASSERT_EQ(2, aPrepared) << a.err;
  ASSERT_GT(pidB, 0) << b.err;
  EXPECT_EQ(2, bPrepared) << b.err;
  EXPECT_NE(0, b.exitCode()) << b.err;
  EXPECT_EQ(0, a.exitCode()) << a.err;
  EXPECT_EQ(kAPrepared, MTime(job.file("times/job.I"))) << a.err;
  EXPECT_EQ(kAPrepared, MTime(job.file("times/job.D"))) << a.err;
  std::string left = Dated(tmp, kBPrepared);
  EXPECT_EQ(in.leftover, !left.empty()) << left << "\n" << b.err;

  // Beside them, files that no run of the job may remove: a running
  // process's marker, another job's, one of another user, a link and names
  // not of the form a run makes.
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_EQ(ended, waitpid(ended, nullptr, 0));
  const std::string endedId = std::to_string((long)ended);
  std::vector<std::string> kept = {"job.I." + std::to_string((long)getpid()), "other.I." + endedId,
                                   "job.I." + endedId + "x", "job.D.x" + endedId};
  for (const std::string &name : kept) vrktest::WriteFile(tmp + "/" + name, "");
  ASSERT_EQ(0, symlink(job.file("data/src/a.txt").c_str(), (tmp + "/job.D." + endedId).c_str()));
  kept.push_back("job.D." + endedId);
  if (geteuid() == 0) {
    vrktest::WriteFile(tmp + "/job.I." + endedId, "");
    ASSERT_EQ(0, lchown((tmp + "/job.I." + endedId).c_str(), 65534, 65534));
    kept.push_back("job.I." + endedId);
  }
  for (const std::string &name : kept) ASSERT_TRUE(SetMTime(tmp + "/" + name, kKept)) << name;

  // A later INCR of the job commits its own marker, never B's leftover, and
  // removes what B left.
  job.SetWorld("");
  time_t before = time(nullptr);
  Result c = job.Backup({"-l", "INCR", "-s", "@" + job.file("c.ss"), "/src"});
  EXPECT_EQ(0, c.exitCode()) << c.err;
  EXPECT_GE(MTime(job.file("times/job.I")), before) << c.err;
  EXPECT_EQ(kAPrepared, MTime(job.file("times/job.D"))) << c.err;
  EXPECT_EQ("", Dated(tmp, kBPrepared)) << c.err;
  for (const std::string &name : kept) EXPECT_EQ(kKept, MTime(tmp + "/" + name)) << name;
  EXPECT_EQ(1300000000, MTime(job.file("data/src/a.txt")));
}

INSTANTIATE_TEST_SUITE_P(Markers, TwoRunsOfOneJob,
                         ::testing::Values(Interrupt{"killed", SIGKILL, true}, Interrupt{"terminated", SIGTERM, true},
                                           Interrupt{"interrupted", SIGINT, false}),
                         [](const ::testing::TestParamInfo<Interrupt> &i) { return std::string(i.param.name); });

// The FULL ran while the clock was ahead; it was set right since. The next
// INCR or DIFF would leave out every change until the clock reaches the
// marker again: it names the marker and saves everything instead.
struct Level {
  const char *level;
  const char *suffix;
};

void PrintTo(const Level &l, std::ostream *os) { *os << l.level; }

class MarkerInTheFuture : public ::testing::TestWithParam<Level> {};

TEST_P(MarkerInTheFuture, IsNamedAndTheJobRunsAsFull) {
  const Level &l = GetParam();
  BackupJob job;
  mkdir(job.file("data/src").c_str(), 0755);
  vrktest::WriteFileAt(job.file("data/src/a.txt"), "alpha\n", 1300000000);
  vrktest::WriteFileAt(job.file("data/src/b.txt"), "beta\n", 1300000000);
  Result full = job.Backup({"-l", "FULL", "-s", "@" + job.file("full.ss"), "/src"});
  ASSERT_EQ(0, full.exitCode()) << full.err;
  const std::string marker = job.file(std::string("times/job") + l.suffix);
  time_t ahead = time(nullptr) + 86400;
  ASSERT_TRUE(SetMTime(marker, ahead));
  // Changed after the FULL, but with the clock behind the marker.
  vrktest::WriteFile(job.file("data/src/a.txt"), "changed\n");

  time_t before = time(nullptr);
  Result r = job.Backup({"-l", l.level, "-s", "@" + job.file("next.ss"), "/src"});
  EXPECT_EQ(1, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Warning:  Cannot stat() time stamp file [" + marker + "]:[it is dated ")) << r.err;
  EXPECT_TRUE(Has(r.err, ", later than now].")) << r.err;
  EXPECT_TRUE(Has(r.err, "No timestamp file found. Doing full save")) << r.err;
  // Everything is saved: the directory and both files.
  EXPECT_TRUE(Has(r.err, "Items processed correctly: [3]")) << r.err;
  // The markers are those of this FULL now.
  EXPECT_GE(MTime(job.file("times/job.I")), before);
  EXPECT_LE(MTime(job.file("times/job.I")), time(nullptr));
  EXPECT_GE(MTime(job.file("times/job.D")), before);
  EXPECT_LE(MTime(job.file("times/job.D")), time(nullptr));
}

INSTANTIATE_TEST_SUITE_P(Markers, MarkerInTheFuture,
                         ::testing::Values(Level{"INCR", ".I"}, Level{"DIFF", ".D"}),
                         [](const ::testing::TestParamInfo<Level> &i) { return std::string(i.param.level); });

}  // namespace
