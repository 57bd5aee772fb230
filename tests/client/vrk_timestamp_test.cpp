// Tests of the timestamp marker files: prepare in the tmp directory, commit
// into the times directory (also across file systems), reference times.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "client/vrk_timestamp.h"
#include "runtime/strlib.h"
#include "vrk_client_fixture.h"

namespace {

bool Exists(const std::string &p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

time_t MTime(const std::string &p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? st.st_mtime : (time_t)-1;
}

class Markers : public vrktest::ClientTest {
 protected:
  void SetUp() override {
    vrktest::ClientTest::SetUp();
    Use(tmp_.path(), times_.path());
    strlcpy(spGlobal->szJobName, "job1", sizeof(spGlobal->szJobName));
    spGlobal->iLogLevel = 1;
  }
  void Use(const std::string &tmp, const std::string &times) {
    free(spGlobal->sDirs.cpTmp);
    free(spGlobal->sDirs.cpTimes);
    spGlobal->sDirs.cpTmp = strdup(tmp.c_str());
    spGlobal->sDirs.cpTimes = strdup(times.c_str());
  }
  int Set(_eBackupType t, int call) {
    testing::internal::CaptureStderr();
    int rc = vrk_settimestamp(t, call);
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }
  // The name under which this process prepares a marker in the tmp directory.
  std::string Prepared(const std::string &base) const {
    return tmp_.file(base + "." + std::to_string((long)getpid()));
  }
  vrktest::TempDir tmp_, times_;
  std::string err_;
};

TEST_F(Markers, FullPreparesAndCommitsBoth) {
  EXPECT_EQ(0, Set(FULL, 1));
  EXPECT_TRUE(Exists(Prepared("job1.I")));
  EXPECT_TRUE(Exists(Prepared("job1.D")));
  struct stat st;
  ASSERT_EQ(0, stat(Prepared("job1.I").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_EQ(0, Set(FULL, 2));
  EXPECT_TRUE(Exists(times_.file("job1.I")));
  EXPECT_TRUE(Exists(times_.file("job1.D")));
  EXPECT_FALSE(Exists(Prepared("job1.I")));
}

TEST_F(Markers, IncrementalOnlyTheIMarkerCopyNothing) {
  EXPECT_EQ(0, Set(INCREMENTAL, 1));
  EXPECT_TRUE(Exists(Prepared("job1.I")));
  EXPECT_FALSE(Exists(Prepared("job1.D")));
  EXPECT_EQ(0, Set(INCREMENTAL, 2));
  EXPECT_TRUE(Exists(times_.file("job1.I")));
  EXPECT_FALSE(Exists(times_.file("job1.D")));

  EXPECT_EQ(0, Set(COPY, 1));
  EXPECT_EQ(0, Set(COPY, 2));
  EXPECT_FALSE(Exists(Prepared("job1.I")));
}

TEST_F(Markers, PreparingAgainOnlyUpdatesTheTimes) {
  vrktest::WriteFile(Prepared("job1.I"), "");
  struct timespec old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, Prepared("job1.I").c_str(), old, 0));
  EXPECT_EQ(0, Set(INCREMENTAL, 1));
  EXPECT_GT(MTime(Prepared("job1.I")), 1000);
}

TEST_F(Markers, CommitWithoutPreparedMarkerWarns) {
  EXPECT_EQ(-1, Set(INCREMENTAL, 2));
  EXPECT_NE(std::string::npos, err_.find("vrk-2021: Warning:  Time stamp update failed for [" +
                                          times_.file("job1.I") + "]"));
}

TEST_F(Markers, SymbolicLinksAreNotFollowed) {
  std::string victim = times_.file("victim");
  vrktest::WriteFile(victim, "data");
  struct timespec old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, victim.c_str(), old, 0));
  ASSERT_EQ(0, symlink(victim.c_str(), Prepared("job1.I").c_str()));
  // The link is reported and the marker made anew in its place.
  EXPECT_EQ(0, Set(INCREMENTAL, 1));
  EXPECT_EQ(1000, MTime(victim));
  EXPECT_EQ("data", vrktest::ReadFile(victim));
  EXPECT_NE(std::string::npos, err_.find("vrk-2021"));
  struct stat st;
  ASSERT_EQ(0, lstat(Prepared("job1.I").c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(Markers, JobNameWithSlashIsRefused) {
  strlcpy(spGlobal->szJobName, "../escape", sizeof(spGlobal->szJobName));
  EXPECT_EQ(-1, Set(FULL, 1));
  EXPECT_EQ(-1, Set(FULL, 2));
  EXPECT_FALSE(Exists(tmp_.path() + "/../escape.I"));
  EXPECT_NE(std::string::npos, err_.find("vrk-2021"));
}

TEST_F(Markers, CommitAcrossFileSystemsKeepsThePreparedTime) {
  char shm[] = "/dev/shm/vrktest.XXXXXX";
  if (mkdtemp(shm) == nullptr) GTEST_SKIP() << "no /dev/shm";
  std::string tmp(shm);
  Use(tmp, times_.path());
  EXPECT_EQ(0, Set(FULL, 1));
  struct timespec prepared[2] = {{5000, 0}, {5000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, (tmp + "/job1.I." + std::to_string((long)getpid())).c_str(), prepared, 0));
  EXPECT_EQ(0, Set(FULL, 2)) << err_;
  EXPECT_EQ(5000, MTime(times_.file("job1.I")));
  EXPECT_TRUE(Exists(times_.file("job1.D")));
  EXPECT_FALSE(Exists(tmp + "/job1.I." + std::to_string((long)getpid())));
  EXPECT_FALSE(Exists(times_.file("job1.I.commit." + std::to_string((long)getpid()))));
  unlink((tmp + "/job1.D." + std::to_string((long)getpid())).c_str());
  rmdir(tmp.c_str());
}

void SetMTime(const std::string &p, time_t t) {
  struct timespec ts[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, p.c_str(), ts, AT_SYMLINK_NOFOLLOW)) << p;
}

// Markers of other runs of the same job stand in the tmp directory when this
// run commits: only the one this run made becomes the reference.
TEST_F(Markers, ARunCommitsOnlyTheMarkerItMade) {
  struct Row {
    const char *name;
    std::string other;  // a marker of another run, left as it was
    bool replaced;      // this run's own marker is made anew by someone else
  };
  Row rows[] = {
      {"a marker of another run under its own name", "job1.I." + std::to_string((long)getpid() + 1), false},
      {"a marker left at the name every run once shared", "job1.I", false},
      {"this run's marker made anew by someone else", "", true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    unlink(times_.file("job1.I").c_str());
    ASSERT_EQ(0, Set(INCREMENTAL, 1));
    SetMTime(Prepared("job1.I"), 5000);
    if (!row.other.empty()) {
      vrktest::WriteFile(tmp_.file(row.other), "");
      SetMTime(tmp_.file(row.other), 9000);
    }
    if (row.replaced) {
      // Made beside it and renamed over it, so that the new file cannot take
      // the inode number the old one frees.
      vrktest::WriteFile(Prepared("job1.I") + ".new", "");
      SetMTime(Prepared("job1.I") + ".new", 9000);
      ASSERT_EQ(0, rename((Prepared("job1.I") + ".new").c_str(), Prepared("job1.I").c_str()));
    }
    EXPECT_EQ(row.replaced ? -1 : 0, Set(INCREMENTAL, 2)) << err_;
    EXPECT_EQ(row.replaced ? (time_t)-1 : 5000, MTime(times_.file("job1.I")));
    if (row.replaced) {
      EXPECT_NE(std::string::npos, err_.find(Prepared("job1.I") + " is no longer the marker this run prepared")) << err_;
    }
    if (!row.other.empty()) {
      EXPECT_EQ(9000, MTime(tmp_.file(row.other)));
      unlink(tmp_.file(row.other).c_str());
    }
    unlink(Prepared("job1.I").c_str());
  }
}

// The id of a process that has ended: a child made and reaped here.
long EndedPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return pid;
}

// Runs killed before their end left files in the tmp and times directories:
// preparing the markers removes those of this job's ended runs and leaves
// everything else as it was.
enum LeftKind { kFile, kOtherUsers, kLink, kDirectory, kTwoLinks };
struct Left {
  const char *what;
  bool inTimes;      // else in the tmp directory
  const char *name;  // '%' stands for the process id
  bool live;         // the process still runs (else it has ended)
  LeftKind kind;
  bool removed;
};
void PrintTo(const Left &l, std::ostream *os) { *os << l.what; }

class LeftByOtherRuns : public Markers, public testing::WithParamInterface<Left> {};

TEST_P(LeftByOtherRuns, PreparingRemovesOnlyWhatEndedRunsOfTheJobLeft) {
  const Left &row = GetParam();
  if (row.kind == kOtherUsers && geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  const std::string target = times_.file("target");
  vrktest::WriteFile(target, "data");
  std::string name = row.name;
  name.replace(name.find('%'), 1, std::to_string(row.live ? (long)getppid() : EndedPid()));
  const std::string path = row.inTimes ? times_.file(name) : tmp_.file(name);
  switch (row.kind) {
    case kDirectory: ASSERT_EQ(0, mkdir(path.c_str(), 0700)); break;
    case kLink: ASSERT_EQ(0, symlink(target.c_str(), path.c_str())); break;
    default: vrktest::WriteFile(path, ""); break;
  }
  if (row.kind == kOtherUsers) {
    ASSERT_EQ(0, lchown(path.c_str(), 65534, 65534));
  }
  if (row.kind == kTwoLinks) {
    ASSERT_EQ(0, link(path.c_str(), times_.file("second").c_str()));
  }
  EXPECT_EQ(0, Set(FULL, 1)) << err_;
  EXPECT_EQ(!row.removed, Exists(path)) << path;
  EXPECT_EQ("data", vrktest::ReadFile(target));
  // This run's own markers are made all the same.
  EXPECT_TRUE(Exists(Prepared("job1.I")));
  EXPECT_TRUE(Exists(Prepared("job1.D")));
}

INSTANTIATE_TEST_SUITE_P(
    Markers, LeftByOtherRuns,
    testing::Values(Left{"killed_run_I", false, "job1.I.%", false, kFile, true},
                    Left{"killed_run_D", false, "job1.D.%", false, kFile, true},
                    Left{"killed_commit_I", true, "job1.I.commit.%", false, kFile, true},
                    Left{"killed_commit_D", true, "job1.D.commit.%", false, kFile, true},
                    Left{"running_run", false, "job1.I.%", true, kFile, false},
                    Left{"running_commit", true, "job1.D.commit.%", true, kFile, false},
                    Left{"another_job", false, "job2.I.%", false, kFile, false},
                    Left{"longer_job_name", false, "job1.I.I.%", false, kFile, false},
                    Left{"another_users_file", false, "job1.I.%", false, kOtherUsers, false},
                    Left{"symbolic_link", false, "job1.D.%", false, kLink, false},
                    Left{"directory", false, "job1.I.%", false, kDirectory, false},
                    Left{"second_hard_link", false, "job1.I.%", false, kTwoLinks, false},
                    Left{"non_numeric_suffix", false, "job1.I.%x", false, kFile, false},
                    Left{"leading_zero", false, "job1.I.0%", false, kFile, false},
                    Left{"sign", false, "job1.I.+%", false, kFile, false},
                    Left{"marker_name_in_times", true, "job1.I.%", false, kFile, false}),
    [](const testing::TestParamInfo<Left> &i) { return std::string(i.param.what); });

// A reference later than now would leave out what changes until the clock
// reaches it: beyond a few seconds it is not used and the backup is a FULL.
TEST_F(Markers, MarkerDatedLaterThanNow) {
  struct Row {
    long offset;  // seconds from now
    bool used;
  } rows[] = {{-86400, true}, {0, true}, {2, true}, {60, false}, {86400, false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.offset);
    spGlobal->eBackupType = INCREMENTAL;
    spGlobal->sVRKObject.eOperStatus = STATUS_OK;
    time_t when = time(nullptr) + row.offset;
    vrktest::WriteFile(times_.file("job1.I"), "");
    SetMTime(times_.file("job1.I"), when);
    testing::internal::CaptureStderr();
    time_t got = vrk_gettimestamp(INCREMENTAL);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(row.used ? when : 0, got);
    EXPECT_EQ(row.used ? INCREMENTAL : FULL, spGlobal->eBackupType);
    EXPECT_EQ(row.used ? STATUS_OK : STATUS_WARNING, spGlobal->sVRKObject.eOperStatus);
    bool warned = err.find("vrk-2022: Warning:  Cannot stat() time stamp file [" + times_.file("job1.I") +
                           "]:[it is dated ") != std::string::npos &&
                  err.find(", later than now].") != std::string::npos &&
                  err.find("No timestamp file found. Doing full save") != std::string::npos;
    EXPECT_EQ(!row.used, warned) << err;
  }
}

TEST_F(Markers, ReferenceTimes) {
  spGlobal->tBackupFrom = 4242;
  EXPECT_EQ(0, vrk_gettimestamp(FULL));
  EXPECT_EQ(0, vrk_gettimestamp(COPY));
  EXPECT_EQ(4242, vrk_gettimestamp(SINCE));
  EXPECT_EQ(0, vrk_gettimestamp(E_TYPE_UNKNOWN));

  vrktest::WriteFile(times_.file("job1.D"), "");
  struct timespec t[2] = {{7777, 0}, {7777, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, times_.file("job1.D").c_str(), t, 0));
  spGlobal->eBackupType = DIFFERENTIAL;
  EXPECT_EQ(7777, vrk_gettimestamp(DIFFERENTIAL));
  EXPECT_EQ(DIFFERENTIAL, spGlobal->eBackupType);
  EXPECT_EQ(STATUS_OK, spGlobal->sVRKObject.eOperStatus);
}

TEST_F(Markers, MissingMarkerFallsBackToFull) {
  spGlobal->eBackupType = INCREMENTAL;
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, vrk_gettimestamp(INCREMENTAL));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("vrk-2059: Warning:  No timestamp file found. Doing full save"));
  EXPECT_EQ(FULL, spGlobal->eBackupType);
  EXPECT_EQ(STATUS_WARNING, spGlobal->sVRKObject.eOperStatus);
}

}  // namespace
