// The archive state over many backups: rewritten whole once its lines far
// exceed its names, left as it is while another backup holds it, whole after
// an interrupted rewrite; and packed reference times in a repeated hour.
#include <dirent.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "sms/sms_time.h"
#include "sms_test_util.h"

using namespace smstest;

namespace {

class ArchiveState : public ::testing::Test {
 protected:
  void SetUp() override {
    root = tmp.file("tree");
    MakeDirs(root + "/d");
    for (int i = 0; i < 40; ++i) Touch(root + "/d/f" + std::to_string(i), "data", 1600000000);
    PathWorld(tmp, root);
    conn = Login();
    ASSERT_NE(0u, conn);
  }
  void TearDown() override { Logout(conn); }

  // A FULL of /d as the engine makes it: every data set read whole and its
  // modify flag cleared.
  // want: what clearing the modify flag answers.
  void Full(const char *source = "/d", CCODE want = 0) {
    NWSM_DATA_SET_NAME_LIST *src = OneName(source);
    NWSM_SCAN_CONTROL ctl = Control();
    UINT32 seq = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    CCODE rc = NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names);
    while (rc == 0) {
      UINT32 h = 0;
      ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_ONLY, &h));
      EXPECT_EQ(want, NWSMTSSetArchiveStatus(conn, h, NWSM_CLEAR_MODIFY_FLAG | NWSM_SET_ARCHIVE_DATE_AND_TIME,
                                             NWSMPackDateTime(2026, 1, 4, 12, 0, 0)));
      NWSMTSCloseDataSet(conn, &h);
      rc = NWSMTSScanNextDataSet(conn, &seq, &info, &names);
    }
    EXPECT_EQ(NWSMTS_NO_MORE_DATA_SETS, rc);
    NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
    free(src);
  }

  std::string StateFile() {
    std::string found;
    if (DIR *d = opendir(tmp.file("state").c_str())) {
      while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".log") == 0) found = tmp.file("state/") + n;
      }
      closedir(d);
    }
    return found;
  }
  size_t Lines() {
    std::string s = ReadFile(StateFile());
    size_t n = 0;
    for (char c : s) n += c == '\n';
    return n;
  }
  ino_t Inode() {
    struct stat st;
    return stat(StateFile().c_str(), &st) == 0 ? st.st_ino : 0;
  }
  // Children of /d whose modify flag is clear are left out: none is, when
  // every record came through.
  // What an incremental scan of /d as the engine's second run makes it
  // returns: what is new since a reference a day from now.
  std::vector<std::string> CreatedSince() {
    time_t ref = time(nullptr) + 86400;
    struct tm tm;
    localtime_r(&ref, &tm);
    UINT32 t = NWSMPackDateTime(static_cast<UINT16>(tm.tm_year + 1900), static_cast<UINT16>(tm.tm_mon + 1),
                                static_cast<UINT16>(tm.tm_mday), static_cast<UINT16>(tm.tm_hour),
                                static_cast<UINT16>(tm.tm_min), static_cast<UINT16>(tm.tm_sec));
    NWSM_DATA_SET_NAME_LIST *src = OneName("/d");
    NWSM_SCAN_CONTROL ctl = Control();
    ctl.lastModifiedDateAndTime = t;
    ctl.firstCreateDateAndTime = t;
    std::vector<std::string> out = ScanNames(conn, src, ctl);
    free(src);
    return out;
  }
  void NewWorld() {
    Logout(conn);
    PathWorld(tmp, root);
    conn = Login();
  }
  std::vector<std::string> Unarchived(const char *source = "/d") {
    NWSM_DATA_SET_NAME_LIST *src = OneName(source);
    NWSM_SCAN_CONTROL ctl = Control();
    ctl.scanType |= NWSM_EXCLUDE_ARCHIVED_CHILDREN;
    std::vector<std::string> out = ScanNames(conn, src, ctl);
    free(src);
    return out;
  }

  TempDir tmp;
  std::string root;
  UINT32 conn = 0;
};

TEST_F(ArchiveState, IsRewrittenWholeOnceItsLinesFarExceedItsNames) {
  const size_t names = 41;  // /d/ and its forty files
  Full();
  const size_t one = Lines();
  EXPECT_EQ(names + 1, one);  // with the header line
  for (int i = 0; i < 20; ++i) {
    Full();
    EXPECT_LE(Lines(), 2 * names + 1) << "after FULL " << i + 2;
  }
  // What a new world reads from it is whole.
  Logout(conn);
  PathWorld(tmp, root);
  conn = Login();
  EXPECT_EQ(std::vector<std::string>{"/d/"}, Unarchived());
}

// A job's FULL that committed hides what it saved from the job's INCR, also
// after a rewrite of the state that a later run makes; the records of a run
// that never committed hide nothing, and another job has a state of its own.
TEST_F(ArchiveState, OnlyCommittedRunsOfTheJobHideChangesAlsoAfterARewrite) {
  vrk_sms_archive_job("/times/job", 0);
  Full();
  vrk_sms_archive_commit();
  // Lines of no use make the next scan's end rewrite the file.
  {
    std::string junk;
    for (int i = 0; i < 200; ++i) junk += "A 00000000 0 0 3:zzz\n";
    int fd = open(StateFile().c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(junk.size()), write(fd, junk.data(), junk.size()));
    close(fd);
  }
  const ino_t before = Inode();
  NewWorld();
  vrk_sms_archive_job("/times/job", 1);
  EXPECT_EQ(std::vector<std::string>{"/d/"}, CreatedSince());
  EXPECT_NE(before, Inode()) << "not rewritten";
  NewWorld();
  vrk_sms_archive_job("/times/job", 1);
  EXPECT_EQ(std::vector<std::string>{"/d/"}, CreatedSince()) << ReadFile(StateFile());
  // A FULL of the job that never commits: all it saved counts as new.
  vrk_sms_archive_job("/times/job", 0);
  Full();
  NewWorld();
  vrk_sms_archive_job("/times/job", 1);
  EXPECT_EQ(41u, CreatedSince().size());
  NewWorld();
  vrk_sms_archive_job("/times/other", 1);
  EXPECT_EQ(41u, CreatedSince().size());
  vrk_sms_archive_job("", 0);
}

// Another backup of the resource holds the state open (its shared lock):
// the rewrite waits for a later scan, and no line is lost meanwhile.
TEST_F(ArchiveState, IsLeftAsItIsWhileAnotherBackupHoldsIt) {
  Full();
  int other = open(StateFile().c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(other, 0);
  ASSERT_EQ(0, flock(other, LOCK_SH));
  const ino_t before = Inode();
  for (int i = 0; i < 3; ++i) Full();
  EXPECT_EQ(before, Inode());
  EXPECT_EQ(4 * 41 + 1u, Lines());
  close(other);
  Full();
  EXPECT_NE(before, Inode());
  EXPECT_LE(Lines(), 2 * 41 + 1u);
  EXPECT_EQ(std::vector<std::string>{"/d/"}, Unarchived());
}

// Dated logs and a dated directory made and deleted day by day: the records
// of names a scan no longer finds are let go, so that the state stays near
// the size one FULL leaves; those of names still there stay, also beside the
// FULL's source, and what changed is still told apart after a new world.
TEST_F(ArchiveState, LetsGoOfNamesThatAreGone) {
  MakeDirs(root + "/e/sub");
  Touch(root + "/e/sub/kept", "kept", 1600000000);
  Full("/e");
  size_t one = 0;
  for (int day = 0; day < 20; ++day) {
    const std::string yesterday = std::to_string(day - 1), today = std::to_string(day);
    for (int k = 0; k < 30; ++k) std::filesystem::remove(root + "/d/log-" + yesterday + "-" + std::to_string(k));
    std::filesystem::remove_all(root + "/d/day" + yesterday);
    for (int k = 0; k < 30; ++k) Touch(root + "/d/log-" + today + "-" + std::to_string(k), "log", 1600000000);
    MakeDirs(root + "/d/day" + today + "/in");
    for (int k = 0; k < 5; ++k) Touch(root + "/d/day" + today + "/in/f" + std::to_string(k), "f", 1600000000);
    Full();
    if (day == 0) one = Lines();
    EXPECT_LE(Lines(), 2 * one) << "after FULL " << day + 1 << " of " << one << " lines";
  }
  Logout(conn);
  PathWorld(tmp, root);
  conn = Login();
  EXPECT_EQ((std::vector<std::string>{"/d/", "/d/day19/", "/d/day19/in/"}), Unarchived());
  EXPECT_EQ((std::vector<std::string>{"/e/", "/e/sub/"}), Unarchived("/e"));
  // A name that comes back counts as new.
  Touch(root + "/d/log-3-3", "log", 1600000000);
  Touch(root + "/d/day19/in/f0", "changed", 1600000000);
  EXPECT_EQ((std::vector<std::string>{"/d/", "  log-3-3", "/d/day19/", "/d/day19/in/", "  f0"}),
            Unarchived());
}

// A name holding a line break cannot forge a record of another data set: a
// user's file named "x<newline>P ... 7:top.txt" with the change time of
// root's top.txt, made private since its last save, does not make top.txt
// count as saved as it is now.
TEST_F(ArchiveState, ANameWithALineBreakForgesNoRecord) {
  Touch(root + "/top.txt", "top", 1600000000);
  Full("/");
  ASSERT_EQ(0, chmod((root + "/top.txt").c_str(), 0600));
  struct stat st;
  ASSERT_EQ(0, stat((root + "/top.txt").c_str(), &st));
  const std::string forged = "x\nS 00000000 0000000000000000 " + std::to_string(st.st_dev) + " " +
                             std::to_string(st.st_ino) + " " + std::to_string(st.st_ctim.tv_sec) + " " +
                             std::to_string(st.st_ctim.tv_nsec) + " -1 0 7:top.txt";
  Touch(root + "/d/" + forged, "m", 1600000000);
  Full();
  Logout(conn);
  PathWorld(tmp, root);
  conn = Login();
  std::vector<std::string> left = Unarchived("/");
  EXPECT_NE(left.end(), std::find(left.begin(), left.end(), "  top.txt")) << ReadFile(StateFile());
}

// A state file that others may write, or that another user owns, is not
// taken: a line put in it cannot make a file made private since its save
// count as saved as it is now.
TEST_F(ArchiveState, AFileOthersMayWriteIsNotTaken) {
  Full();
  ASSERT_EQ(0, chmod((root + "/d/f0").c_str(), 0600));
  struct stat st;
  ASSERT_EQ(0, stat((root + "/d/f0").c_str(), &st));
  const std::string file = StateFile();
  WriteFile(file, ReadFile(file) + "P 00000000 0 0 " + std::to_string(st.st_ctim.tv_sec) + " " +
                      std::to_string(st.st_ctim.tv_nsec) + " 4:d/f0\n");
  for (bool otherOwner : {false, true}) {
    SCOPED_TRACE(otherOwner ? "another user's" : "writable by others");
    if (otherOwner) {
      if (geteuid() != 0) continue;
      ASSERT_EQ(0, chmod(file.c_str(), 0600));
      ASSERT_EQ(0, chown(file.c_str(), 65534, 65534));
    } else {
      ASSERT_EQ(0, chmod(file.c_str(), 0666));
    }
    Logout(conn);
    PathWorld(tmp, root);
    conn = Login();
    std::vector<std::string> left = Unarchived();
    EXPECT_NE(left.end(), std::find(left.begin(), left.end(), "  f0"));
  }
}

// A FIFO put at the state's name (by whoever may write the state directory)
// is not taken, and no backup waits on it for a writer or a reader.
TEST_F(ArchiveState, AFifoAtItsNameIsNotWaitedOn) {
  Full();
  const std::string file = StateFile();
  ASSERT_EQ(0, unlink(file.c_str()));
  ASSERT_EQ(0, mkfifo(file.c_str(), 0600));
  Logout(conn);
  PathWorld(tmp, root);
  conn = Login();
  EXPECT_EQ(41u, Unarchived().size());  // /d/ and every file
  Full("/d", NWSMTS_SET_ARCHIVE_STATUS_ERR);
  EXPECT_EQ(41u, Unarchived().size());
}

// A rewrite killed before its rename leaves its temporary beside the state,
// which stays as it was; the next rewrite replaces the temporary.
TEST_F(ArchiveState, ALeftoverOfAnInterruptedRewriteChangesNothing) {
  Full();
  WriteFile(StateFile() + ".new", "A 00000000 1 2 3:d/f0\ncut off in the mid");
  Logout(conn);
  PathWorld(tmp, root);
  conn = Login();
  EXPECT_EQ(std::vector<std::string>{"/d/"}, Unarchived());
  for (int i = 0; i < 3; ++i) Full();
  EXPECT_LE(Lines(), 2 * 41 + 1u);
  EXPECT_EQ(std::vector<std::string>{"/d/"}, Unarchived());
  struct stat st;
  EXPECT_NE(0, stat((StateFile() + ".new").c_str(), &st));
}

// A packed reference time in the hour that summer time's end repeats stands
// for two instants: the filter takes the earlier one.
TEST(PackedReferenceTime, InTheRepeatedHourIsTakenAtItsEarlierReading) {
  struct stat st;
  if (stat("/usr/share/zoneinfo/Europe/Berlin", &st) != 0) GTEST_SKIP() << "no tzdata for Europe/Berlin here";
  const char *old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  time_t first, last;
  // 2026-10-25 02:30 local: 00:30 UTC in summer time, 01:30 UTC after.
  vrksms::UnpackInstants(NWSMPackDateTime(2026, 10, 25, 2, 30, 0), first, last);
  EXPECT_EQ(1792888200, first);
  EXPECT_EQ(1792888200 + 3600, last);
  // 02:15 winter time is 45 minutes after 02:30 summer time.
  EXPECT_TRUE(vrksms::PackedMayBeLater(NWSMPackDateTime(2026, 10, 25, 2, 15, 0),
                                       NWSMPackDateTime(2026, 10, 25, 2, 30, 0)));
  // Outside that hour one instant, and packed order is time order.
  vrksms::UnpackInstants(NWSMPackDateTime(2026, 12, 11, 10, 0, 0), first, last);
  EXPECT_EQ(first, last);
  EXPECT_EQ(1796979600, first);
  EXPECT_FALSE(vrksms::PackedMayBeLater(NWSMPackDateTime(2026, 12, 11, 9, 59, 58),
                                        NWSMPackDateTime(2026, 12, 11, 10, 0, 0)));
  EXPECT_FALSE(vrksms::PackedMayBeLater(NWSMPackDateTime(2026, 12, 11, 10, 0, 0),
                                        NWSMPackDateTime(2026, 12, 11, 10, 0, 0)));
  if (old) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

}  // namespace
