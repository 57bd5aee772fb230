// Tests of the timestamp marker files: prepare in the tmp directory, commit
// into the times directory (also across file systems), reference times.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
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
  vrktest::TempDir tmp_, times_;
  std::string err_;
};

TEST_F(Markers, FullPreparesAndCommitsBoth) {
  EXPECT_EQ(0, Set(FULL, 1));
  EXPECT_TRUE(Exists(tmp_.file("job1.I")));
  EXPECT_TRUE(Exists(tmp_.file("job1.D")));
  struct stat st;
  ASSERT_EQ(0, stat(tmp_.file("job1.I").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_EQ(0, Set(FULL, 2));
  EXPECT_TRUE(Exists(times_.file("job1.I")));
  EXPECT_TRUE(Exists(times_.file("job1.D")));
  EXPECT_FALSE(Exists(tmp_.file("job1.I")));
}

TEST_F(Markers, IncrementalOnlyTheIMarkerCopyNothing) {
  EXPECT_EQ(0, Set(INCREMENTAL, 1));
  EXPECT_TRUE(Exists(tmp_.file("job1.I")));
  EXPECT_FALSE(Exists(tmp_.file("job1.D")));
  EXPECT_EQ(0, Set(INCREMENTAL, 2));
  EXPECT_TRUE(Exists(times_.file("job1.I")));
  EXPECT_FALSE(Exists(times_.file("job1.D")));

  EXPECT_EQ(0, Set(COPY, 1));
  EXPECT_EQ(0, Set(COPY, 2));
  EXPECT_FALSE(Exists(tmp_.file("job1.I")));
}

TEST_F(Markers, PreparingAgainOnlyUpdatesTheTimes) {
  vrktest::WriteFile(tmp_.file("job1.I"), "");
  struct timespec old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, tmp_.file("job1.I").c_str(), old, 0));
  EXPECT_EQ(0, Set(INCREMENTAL, 1));
  EXPECT_GT(MTime(tmp_.file("job1.I")), 1000);
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
  ASSERT_EQ(0, symlink(victim.c_str(), tmp_.file("job1.I").c_str()));
  // The link is reported and the marker made anew in its place.
  EXPECT_EQ(0, Set(INCREMENTAL, 1));
  EXPECT_EQ(1000, MTime(victim));
  EXPECT_EQ("data", vrktest::ReadFile(victim));
  EXPECT_NE(std::string::npos, err_.find("vrk-2021"));
  struct stat st;
  ASSERT_EQ(0, lstat(tmp_.file("job1.I").c_str(), &st));
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
  ASSERT_EQ(0, utimensat(AT_FDCWD, (tmp + "/job1.I").c_str(), prepared, 0));
  EXPECT_EQ(0, Set(FULL, 2)) << err_;
  EXPECT_EQ(5000, MTime(times_.file("job1.I")));
  EXPECT_TRUE(Exists(times_.file("job1.D")));
  EXPECT_FALSE(Exists(tmp + "/job1.I"));
  EXPECT_FALSE(Exists(times_.file("job1.I.commit")));
  unlink((tmp + "/job1.D").c_str());
  rmdir(tmp.c_str());
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
