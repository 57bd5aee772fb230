// End-to-end tests of restores that do not end as they should: killed in the
// middle and run again, or unable to set a directory's owner, mode and times
// once its subtree is in place.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "backup_job.h"
#include "e2e_files.h"

namespace {

using e2e::BackupJob;
using e2e::Has;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

// Root and every entry below it, one line each: name, kind and mode, owner,
// group, modification time and a file's bytes.
std::string Listing(const std::string &root, const std::string &rel = "") {
  std::string path = root + rel;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return rel + " missing\n";
  std::string out = (rel.empty() ? "." : rel) + " " + std::to_string(st.st_mode) + " " +
                    std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " +
                    std::to_string((long long)st.st_mtime);
  if (S_ISREG(st.st_mode)) out += " " + vrktest::ReadFile(path);
  out += "\n";
  if (S_ISDIR(st.st_mode))
    for (const std::string &n : e2e::Names(path)) out += Listing(root, rel + "/" + n);
  return out;
}

void Dir(const std::string &path, mode_t mode, uid_t uid, int64_t mtime) {
  mkdir(path.c_str(), 0700);
  ASSERT_EQ(0, chown(path.c_str(), uid, uid));
  ASSERT_EQ(0, chmod(path.c_str(), mode));
  struct timespec t[2] = {{(time_t)mtime, 0}, {(time_t)mtime, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), t, 0));
}

void File(const std::string &path, const std::string &data, mode_t mode, uid_t uid) {
  vrktest::WriteFileAt(path, data, 1300000000);
  ASSERT_EQ(0, chown(path.c_str(), uid, uid));
  ASSERT_EQ(0, chmod(path.c_str(), mode));
}

Result RestoreTo(const BackupJob &job, const std::string &target, std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"-r", "-N", kLogin, "-s", "@" + job.saveset()};
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.end(), {"-R", target});
  return job.Run(args);
}

// The client stopped at the open for restore number k: sent sig there (and
// let go on, where the signal waits for it).
Result KilledAtOpen(BackupJob &job, const std::string &target, int k, int sig) {
  return job.RunStopped({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", target}, "NWSMTSOpenDataSetForRestore",
                        k, [&](pid_t pid) {
                          kill(pid, sig);
                          if (sig != SIGKILL) kill(pid, SIGCONT);
                        });
}

// A tree of owners other than root, modes a restore must not leave at
// 0700, and old times on every directory.
void MakeOwnedTree(const std::string &data) {
  const std::string src = data + "/src";
  Dir(src, 0751, 4321, 1000000000);
  File(src + "/z.txt", "last\n", 0644, 4321);
  Dir(src + "/a", 02750, 4322, 1000001000);
  File(src + "/a/f1", "one\n", 0640, 4322);
  Dir(src + "/a/b", 0555, 4323, 1000002000);
  File(src + "/a/b/f2", "two\n", 0444, 4323);
  Dir(src + "/a/b/c", 0711, 4324, 1000003000);
  File(src + "/a/b/c/f3", "three\n", 0600, 4324);
  Dir(src + "/d", 0755, 4325, 1000004000);
  File(src + "/d/f4", "four\n", 0644, 4325);
  // The times again: the entries made in them moved them.
  for (const char *d : {"/a/b/c", "/a/b", "/a", "/d", ""}) {
    struct timespec t[2] = {{1000000000, 0}, {1000000000 + (time_t)strlen(d) * 1000, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, (src + d).c_str(), t, 0));
  }
}

// A restore ended at a named call, then run again in the default mode: every
// directory comes back with its owner, mode and times, and no note stays.
// SIGTERM and SIGHUP set the metadata of the directories the restore was in
// before the process ends; after SIGKILL only the next run does. An ordinary
// user's restore finishes its read-only directories the same way.
TEST(RestoreUnfinishedE2E, ARestoreRunAgainFinishesTheDirectoriesAKilledOneMade) {
  if (geteuid() != 0) GTEST_SKIP() << "the tree's owners are users other than the one running the test";
  struct Row {
    int sig;
    bool asUser;
  } rows[] = {{SIGTERM, false}, {SIGHUP, false}, {SIGKILL, false}, {SIGTERM, true}, {SIGKILL, true}};
  for (const Row &row : rows) {
    const int sig = row.sig;
    SCOPED_TRACE(std::string(strsignal(sig)) + (row.asUser ? ", as an ordinary user" : ""));
    BackupJob job;
    MakeOwnedTree(job.data());
    if (row.asUser) {
      e2e::TestUser user;
      std::string why;
      if (!e2e::MakeTestUser("vrk-t-a", &user, &why)) GTEST_SKIP() << why;
      // The whole tree the user's, modes and times as they were.
      ASSERT_TRUE(job.RunAs(user));
    }
    ASSERT_EQ(0, job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"}).exitCode());
    const std::string want = Listing(job.data() + "/src");

    // Where f2 is opened: inside src, a and b, which are all unfinished.
    Result dry = RestoreTo(job, "/dry");
    ASSERT_EQ(0, dry.exitCode()) << dry.err;
    ASSERT_EQ(want, Listing(job.data() + "/dry/src"));
    int k = job.OpenNumber("f2");
    ASSERT_GT(k, 0);

    Result r = KilledAtOpen(job, "/r", k, sig);
    ASSERT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == sig) << r.status << "\n" << r.err;
    const std::string back = job.data() + "/r/src";
    if (sig != SIGKILL) {
      for (const char *d : {"", "/a", "/a/b"}) {
        struct stat got, was;
        ASSERT_EQ(0, lstat((back + d).c_str(), &got)) << d;
        ASSERT_EQ(0, lstat((job.data() + "/src" + d).c_str(), &was)) << d;
        EXPECT_EQ(was.st_mode, got.st_mode) << d;
        EXPECT_EQ(was.st_uid, got.st_uid) << d;
        EXPECT_EQ(was.st_gid, got.st_gid) << d;
      }
    }
    EXPECT_FALSE(e2e::Exists(back + "/d")) << "the restore went on after the signal";

    Result again = RestoreTo(job, "/r");
    EXPECT_EQ(0, again.exitCode()) << again.err;
    EXPECT_EQ(want, Listing(back)) << again.err;
  }
}

// What a note says it belongs to: the directory's device and inode and the
// data set's full name.
std::string NoteFor(const std::string &dir, const std::string &dataSet) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) return "";
  return std::to_string((unsigned long long)st.st_dev) + " " + std::to_string((unsigned long long)st.st_ino) + "\n" +
         dataSet;
}

// A note that is not the restore's own is no mark: a directory of the same
// form that a running process, another user or nobody's restore left, or
// one made for another directory, stays as it is without -o overwrite.
TEST(RestoreUnfinishedE2E, OnlyTheNoteOfAnEndedRestoreOfTheUserIsFinished) {
  if (geteuid() != 0) GTEST_SKIP() << "the notes are given to another user";
  BackupJob job;
  MakeOwnedTree(job.data());
  ASSERT_EQ(0, job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"}).exitCode());
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  struct Row {
    const char *dir;
    std::string note;
    uid_t owner;
    bool finished;
    const char *madeFor = nullptr;  // the directory the note names, if not its own
  } rows[] = {
      {"/a", ".vrk-unfinished-0-" + std::to_string(ended), 0, true},
      {"/a/b", ".vrk-unfinished-0-" + std::to_string(getpid()), 0, false},  // a process that runs
      {"/a/b/c", ".vrk-unfinished-0-" + std::to_string(ended), 4324, false},  // another user's file
      {"/d", ".vrk-unfinished-4325-" + std::to_string(ended), 0, false},  // another user's name
      // Made for /a/b/c: moved along with it, or written for it.
      {"", ".vrk-unfinished-0-" + std::to_string(ended), 0, false, "/a/b/c"},
  };
  const std::string back = job.data() + "/r/src";
  ASSERT_EQ(0, RestoreTo(job, "/r").exitCode());
  for (const Row &row : rows) {
    ASSERT_EQ(0, chmod((back + row.dir).c_str(), 0700));
    const std::string of = row.madeFor ? row.madeFor : row.dir;
    File(back + row.dir + "/" + row.note, NoteFor(back + of, "/r/src" + of + "/"), 0600, row.owner);
  }
  Result r = RestoreTo(job, "/r");
  EXPECT_EQ(0, r.exitCode()) << r.err;
  for (const Row &row : rows) {
    struct stat st;
    ASSERT_EQ(0, lstat((back + row.dir).c_str(), &st));
    EXPECT_EQ(row.finished, (st.st_mode & 07777) != 0700) << row.dir;
    EXPECT_EQ(!row.finished, e2e::Exists(back + row.dir + "/" + row.note)) << row.dir;
  }
}

// Sets or clears the immutable flag of a directory; false where the file
// system has none.
bool Immutable(const std::string &path, bool on) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

struct ImmutableGuard {
  std::string path;
  ~ImmutableGuard() {
    if (!path.empty()) Immutable(path, false);
  }
};

// A directory whose owner, mode and times cannot be set once its subtree is
// in place is a data set not restored: named with the reason, and the job
// ends with an error, not as a success.
TEST(RestoreUnfinishedE2E, ADirectoryWhoseMetadataCannotBeSetIsAFailedItem) {
  if (geteuid() != 0) GTEST_SKIP() << "only root makes a directory immutable";
  struct Row {
    const char *name;
    bool made;  // made by the restore, made immutable while it stands
  } rows[] = {{"a directory that was there, overwritten", false}, {"a directory the restore made", true}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    BackupJob job;
    const std::string src = job.data() + "/src";
    Dir(src, 0755, 0, 1000000000);
    Dir(src + "/keep", 0750, 4321, 1000000000);
    Dir(src + "/later", 0755, 0, 1000000000);
    File(src + "/later/x", "x\n", 0644, 0);
    ASSERT_EQ(0, job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"}).exitCode());
    const std::string keep = job.data() + "/r/src/keep";
    ImmutableGuard guard;
    Result r;
    if (!row.made) {
      ASSERT_EQ(0, RestoreTo(job, "/r").exitCode());
      if (!Immutable(keep, true)) GTEST_SKIP() << "the file system here has no immutable flag";
      guard.path = keep;
      r = RestoreTo(job, "/r", {"-o", "overwrite"});
    } else {
      ASSERT_EQ(0, RestoreTo(job, "/dry").exitCode());
      int k = job.OpenNumber("/dry/src/later/");
      ASSERT_GT(k, 0);
      job.SetWorld("stop NWSMTSOpenDataSetForRestore = " + std::to_string(k) + "\n");
      const std::string stopped = "stop NWSMTSOpenDataSetForRestore call " + std::to_string(k);
      bool skip = false;
      r = job.Run({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/r"}, [&](pid_t pid, const std::string &) {
        if (!Has(vrktest::ReadFile(job.file("calls.log")), stopped)) return false;
        skip = !Immutable(keep, true);
        if (!skip) guard.path = keep;
        kill(pid, SIGCONT);
        return true;
      });
      if (skip) GTEST_SKIP() << "the file system here has no immutable flag";
    }
    EXPECT_EQ(3, r.exitCode()) << r.err;
    EXPECT_TRUE(Has(r.err, "Restore: owner, mode and times of the directory [/r/src/keep/] not set: "
                           "Operation not permitted"))
        << r.err;
    EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
    EXPECT_EQ("x\n", vrktest::ReadFile(job.data() + "/r/src/later/x"));
  }
}

}  // namespace
