// Tests of the Notes module road: its ini and directories, the hand-over of
// the work and times directories and the switch to the Notes user in a child.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "vrk_db_test_util.h"

using testing::HasSubstr;
using testing::Not;

namespace vrktest {
namespace {

// The account the tests switch to.
constexpr const char *kUser = "nobody";

struct ChildRun {
  int status;       // exit code of the child, -1 when it did not exit
  std::string log;  // its standard error
};

class DbNotesTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    struct passwd *pw = getpwnam(kUser);
    if (geteuid() != 0 || pw == nullptr) GTEST_SKIP() << "needs root and the account nobody";
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    root_ = dir_.path();
    ASSERT_EQ(0, chmod(root_.c_str(), 0755));
    for (const char *d : {"prog", "data", "work", "times", "bin", "rec"})
      ASSERT_EQ(0, mkdir((root_ + "/" + d).c_str(), 0755));
    ASSERT_EQ(0, chown((root_ + "/rec").c_str(), uid_, gid_));
    WriteFile(root_ + "/times/job.I", "marker");
    ASSERT_EQ(0, chmod((root_ + "/times/job.I").c_str(), 0644));
    WriteFile(root_ + "/secret", "root only");
    ASSERT_EQ(0, chmod((root_ + "/secret").c_str(), 0600));
    ASSERT_EQ(0, symlink((root_ + "/secret").c_str(), (root_ + "/times/job.D").c_str()));
    // The module lies where the account can read it.
    std::string module = ReadFile(DbModuleDir() + "/notes/libvrkln.so");
    ASSERT_FALSE(module.empty());
    WriteFile(root_ + "/bin/libvrkln.so", module);
    ASSERT_EQ(0, chmod((root_ + "/bin/libvrkln.so").c_str(), 0755));

    record_ = root_ + "/rec/record";
    setenv("VRKDB_RECORD", record_.c_str(), 1);
    WriteFile(root_ + "/notes.ini", "[Notes]\nNotesProgram=" + root_ + "/prog\nDirectory=" +
                                        root_ + "/data\n");
    _sVRKGlobal *g = spGlobal;
    snprintf(g->szDB_Module, sizeof(g->szDB_Module), "libvrkln.so");
    snprintf(g->szDB_User, sizeof(g->szDB_User), "%s", kUser);
    snprintf(g->szJobName, sizeof(g->szJobName), "job");
    free(g->sDirs.cpBin);
    free(g->sDirs.cpWork);
    free(g->sDirs.cpTimes);
    g->sDirs.cpBin = Dup(root_ + "/bin");
    g->sDirs.cpWork = Dup(root_ + "/work");
    g->sDirs.cpTimes = Dup(root_ + "/times");
    g->eOPERATION = BACKUP;
    g->eBackupType = FULL;
    g->iLogLevel = 4;
  }

  // Runs DBOperation in a child whose working directory is the test
  // directory; before it, prelude runs in the child (false ends it with 9).
  ChildRun RunChild(const std::function<bool()> &prelude = [] { return true; }) {
    std::string logfile = root_ + "/child.log";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(logfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd < 0 || dup2(fd, 2) < 0 || chdir(root_.c_str()) != 0) _exit(8);
      if (!prelude()) _exit(9);
      int rc = DBOperation(nullptr);
      char *cwd = getcwd(nullptr, 0);
      fprintf(stderr, "child: uid=%d cwd=%s\n", (int)getuid(), cwd != nullptr ? cwd : "?");
      fflush(stderr);
      _exit(rc == 0 ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return {-1, ""};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(logfile)};
  }

  struct stat Stat(const std::string &rel) const {
    struct stat st {};
    lstat((root_ + "/" + rel).c_str(), &st);
    return st;
  }

  uid_t uid_ = 0;
  gid_t gid_ = 0;
  std::string root_;
};

TEST_F(DbNotesTest, TheModuleRunsAsTheNotesUserInTheProgramDirectory) {
  setenv("NOTES_DATA_DIR", root_.c_str(), 1);  // the ini is found through it
  const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
  ChildRun r = RunChild();
  ASSERT_EQ(0, r.status) << r.log;

  int n = 64;
  gid_t groups[64];
  ASSERT_GE(getgrouplist(kUser, gid_, groups, &n), 0);
  std::string expectGroups;
  for (int i = 0; i < n; ++i) expectGroups += (i ? "," : "") + std::to_string(groups[i]);
  std::vector<std::string> ids = Record("ids");
  ASSERT_EQ(1u, ids.size()) << ReadFile(record_);
  const std::string u = std::to_string(uid_), gr = std::to_string(gid_);
  EXPECT_EQ("ids uid=" + u + " euid=" + u + " gid=" + gr + " egid=" + gr +
                " groups=" + expectGroups + " cwd=" + root_,
            ids[0]);
  // The library was loaded as the user inside the Notes program directory.
  EXPECT_EQ(std::vector<std::string>{"load uid=" + u + " cwd=" + root_ + "/prog"},
            Record("load"));
  EXPECT_EQ(std::vector<std::string>{"env PATH=" + path + ":" + root_ + "/prog:" + root_ +
                                     "/data"},
            Record("env"));
  EXPECT_EQ(1u, Record("var NOTESINI=" + root_ + "/notes.ini").size());
  EXPECT_EQ(1u, Record("var DB_USER=nobody").size());

  EXPECT_THAT(r.log, HasSubstr("Set [" + root_ + "/notes.ini] with NOTES_DATA_DIR"));
  EXPECT_THAT(r.log, HasSubstr("Notes User:         nobody [" + u + "]"));
  EXPECT_THAT(r.log, HasSubstr("Notes program path: " + root_ + "/prog"));
  EXPECT_THAT(r.log, HasSubstr("Notesdata path:     " + root_ + "/data"));
  EXPECT_THAT(r.log, HasSubstr("Changing working user to [nobody]."));
  EXPECT_THAT(r.log, HasSubstr("Setting environment for user [nobody]."));
  EXPECT_THAT(r.log, HasSubstr("Try to initialize Notes ..."));
  // The process stays with the Notes user, back in its working directory.
  EXPECT_THAT(r.log, HasSubstr("child: uid=" + u + " cwd=" + root_ + "\n"));

  // Work and times directories and the marker now belong to the user, with
  // their modes unchanged; a marker that is a link is not followed.
  for (const char *rel : {"work", "times", "times/job.I"}) {
    SCOPED_TRACE(rel);
    struct stat st = Stat(rel);
    EXPECT_EQ(uid_, st.st_uid);
    EXPECT_EQ(gid_, st.st_gid);
    EXPECT_EQ(0u, st.st_mode & S_IWOTH);
  }
  EXPECT_EQ(0755u, Stat("work").st_mode & 07777);
  EXPECT_EQ(0644u, Stat("times/job.I").st_mode & 07777);
  EXPECT_EQ(0u, Stat("secret").st_uid);
  EXPECT_EQ(0600u, Stat("secret").st_mode & 07777);
}

TEST_F(DbNotesTest, ACopyBackupLeavesTheTimesDirectoryAlone) {
  spGlobal->eBackupType = COPY;
  snprintf(spGlobal->szDB_Notesini, sizeof(spGlobal->szDB_Notesini), "%s/notes.ini",
           root_.c_str());
  ChildRun r = RunChild();
  ASSERT_EQ(0, r.status) << r.log;
  EXPECT_EQ(uid_, Stat("work").st_uid);
  EXPECT_EQ(0u, Stat("times").st_uid);
  EXPECT_EQ(0u, Stat("times/job.I").st_uid);
}

TEST_F(DbNotesTest, MissingIniKeysGiveTheDefaultsAndAMissingProgramDirectoryFails) {
  if (access("/opt/lotus/notes/latest/linux", F_OK) == 0) GTEST_SKIP() << "Notes is installed";
  WriteFile(root_ + "/notes.ini", "[Other]\nNotesProgram=/x\n");
  snprintf(spGlobal->szDB_Notesini, sizeof(spGlobal->szDB_Notesini), "%s/notes.ini",
           root_.c_str());
  ChildRun r = RunChild();
  EXPECT_EQ(1, r.status) << r.log;
  EXPECT_THAT(r.log, HasSubstr("DBOperation: notes.ini [" + root_ + "/notes.ini]"));
  EXPECT_THAT(r.log, HasSubstr("Couldn't get NotesProgram from notes.ini section [Notes]: "));
  EXPECT_THAT(r.log, HasSubstr("Set Notes Bin Directory to [/opt/lotus/notes/latest/linux]"));
  EXPECT_THAT(r.log, HasSubstr("Couldn't get Directory from notes.ini section [Notes]: "));
  EXPECT_THAT(r.log, HasSubstr("Set Notes Data Directory to [/local/notesdata]"));
  EXPECT_THAT(r.log, HasSubstr("cannot change to the Notes program directory "
                               "[/opt/lotus/notes/latest/linux]"));
  EXPECT_THAT(r.log, HasSubstr("child: uid=" + std::to_string(uid_) + " cwd=" + root_ + "\n"));
  EXPECT_TRUE(Record("GetInfo").empty());
}

TEST_F(DbNotesTest, AModuleThatDoesNotLoadLeavesTheWorkingDirectoryAsItWas) {
  snprintf(spGlobal->szDB_Notesini, sizeof(spGlobal->szDB_Notesini), "%s/notes.ini",
           root_.c_str());
  ASSERT_EQ(0, unlink((root_ + "/bin/libvrkln.so").c_str()));
  ChildRun r = RunChild();
  EXPECT_EQ(1, r.status) << r.log;
  EXPECT_THAT(r.log, HasSubstr("LoadDBModule ( libvrkln.so ) failed"));
  EXPECT_THAT(r.log, HasSubstr("child: uid=" + std::to_string(uid_) + " cwd=" + root_ + "\n"));
}

TEST_F(DbNotesTest, AFailingPrivilegeStepEndsTheOperation) {
  snprintf(spGlobal->szDB_Notesini, sizeof(spGlobal->szDB_Notesini), "%s/notes.ini",
           root_.c_str());
  // Without root rights the switch cannot change the groups.
  uid_t uid = uid_;
  gid_t gid = gid_;
  ChildRun r = RunChild([uid, gid] {
    return setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0;
  });
  EXPECT_EQ(1, r.status) << r.log;
  EXPECT_THAT(r.log, HasSubstr("DBOperation: initgroups() for user [nobody] failed: "));
  EXPECT_THAT(r.log, Not(HasSubstr("Setting environment for user")));
  EXPECT_TRUE(Record("GetInfo").empty());
}

TEST_F(DbNotesTest, AnUnknownNotesUserIsRefusedBeforeAnythingChanges) {
  struct Case {
    const char *user;
    const char *logged;
  } cases[] = {
      {"vrk-no-such-user", "Notes user [vrk-no-such-user] is not a local account"},
      {"", "Set Default VRKLN user 'notes'"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.user);
    if (*c.user == '\0' && getpwnam("notes") != nullptr) continue;
    snprintf(spGlobal->szDB_User, sizeof(spGlobal->szDB_User), "%s", c.user);
    spGlobal->szDB_Notesini[0] = '\0';
    DbRun r = Run();
    EXPECT_EQ(-1, r.rc);
    EXPECT_THAT(r.log, HasSubstr(c.logged));
    EXPECT_THAT(r.log, HasSubstr("DBOperation: Set Default notes.ini [/local/notesdata/notes.ini]"));
    EXPECT_EQ(getuid(), 0u);
    EXPECT_EQ(0u, Stat("work").st_uid);
    EXPECT_TRUE(Record("GetInfo").empty());
  }
}

}  // namespace
}  // namespace vrktest
