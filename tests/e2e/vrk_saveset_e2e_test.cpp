// End-to-end tests of the local saveset file and the files the client makes
// by name: failed, interrupted and concurrent backups leave the last good
// saveset as it was, and links planted at the client's own names are not followed.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "backup_job.h"
#include "e2e_files.h"
#include "de_check.h"
#include "watched_run.h"

namespace {

using e2e::BackupJob;
using e2e::Exists;
using e2e::Has;
using e2e::IsLink;
using e2e::Temporaries;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

using vrktest::Bytes;

void Write(const std::string &path, const std::string &data, int64_t mtime = 1300000000) {
  vrktest::WriteFileAt(path, data, mtime);
}

// data/src: a few small files around a 4 MiB one, so that a job stopped in a
// read has written part of its saveset.
void MakeTree(const std::string &data) {
  std::string src = data + "/src";
  mkdir(src.c_str(), 0755);
  mkdir((src + "/sub").c_str(), 0755);
  Write(src + "/a.txt", "alpha\n");
  Write(src + "/big.bin", Bytes(4 * 1024 * 1024 + 3, 1));
  Write(src + "/sub/c.bin", Bytes(200000, 2));
}

std::string Diff(const std::map<std::string, decheck::Entry> &want, const std::map<std::string, decheck::Entry> &got) {
  std::string why;
  for (const auto &kv : want) {
    auto g = got.find(kv.first);
    if (g == got.end())
      why += kv.first + ": missing\n";
    else if (g->second.kind != kv.second.kind || g->second.data != kv.second.data)
      why += kv.first + ": differs\n";
  }
  for (const auto &kv : got)
    if (!want.count(kv.first)) why += kv.first + ": not expected\n";
  return why;
}

// Restores the saveset below data/<into> and compares it with data/src.
std::string RestoresWhole(const BackupJob &job, const std::string &into) {
  Result r = job.Run({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/" + into});
  if (r.exitCode() != 0) return "restore ended with " + std::to_string(r.status) + "\n" + r.err;
  return Diff(decheck::Tree(job.data() + "/src/"), decheck::Tree(job.data() + "/" + into + "/src/"));
}

TEST(SavesetE2E, AFailedBackupLeavesTheLastGoodSavesetByteForByte) {
  const std::string lost = " 0xFFFDFFAF\n";
  struct Case {
    const char *name;
    std::string world;
    std::vector<std::string> args;  // behind "-s @saveset"
    bool restore = false;           // the job a restore (else a backup)
    int status = 3;
  } cases[] = {
      {"a mistyped level", "", {"-l", "FULLL", "/src"}},
      {"no source", "", {"-l", "FULL"}},
      {"a source that does not exist", "", {"-l", "FULL", "/nowhere"}},
      {"the storage-management login refused", "fail_login = 100\n", {"-l", "FULL", "/src"}},
      // The job fails with half of the new saveset written.
      {"a reconnect that fails in the middle",
       "lose NWSMTSReadDataSet = 20" + lost + "fault NWSMConnectToTSA = 2-100 0xFFFDFFBA\n",
       {"-l", "FULL", "/src"}},
      // The log directory is the saveset's: the job log named like it is
      // not opened onto it (a warning says so, the log goes to stderr).
      {"the job log named as the saveset", "", {"-L", "CONTROL:saveset", "-l", "FULL", "/nowhere"}},
      {"a restore with the job log named as the saveset", "", {"-L", "CONTROL:saveset", "-R", "/back"}, true, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    MakeTree(job.data());
    Result good = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, good.exitCode()) << good.err;
    std::string before = vrktest::ReadFile(job.saveset());
    ASSERT_GT(before.size(), 4u * 1024 * 1024);
    Write(job.data() + "/src/new.txt", "changed since\n");

    job.SetWorld(c.world);
    bool logged = c.args[0] == "-L";
    if (logged) {
      vrktest::WriteFile(job.file("korva.ini"),
                         vrktest::ReadFile(job.file("korva.ini")) + "gv_rw_vrk_log=" + job.file("") + "\n");
    }
    std::vector<std::string> args{"-s", "@" + job.saveset()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.restore) args.insert(args.begin(), {"-r", "-N", kLogin});
    Result r = c.restore ? job.Run(args) : job.Backup(args);
    EXPECT_EQ(c.status, r.exitCode()) << r.status << r.err;
    EXPECT_TRUE(vrktest::ReadFile(job.saveset()) == before) << "the saveset changed";
    EXPECT_EQ("", Temporaries(job.file("")));
    if (logged) {
      EXPECT_TRUE(Has(r.err, "Unable to open log file [" + job.file("") + "/saveset]:[the file is the saveset of the job]"))
          << r.err;
    }
  }
}

TEST(SavesetE2E, ASavesetThatIsALinkStaysTheLinkAndItsTargetIsReplaced) {
  BackupJob job;
  MakeTree(job.data());
  mkdir(job.file("store").c_str(), 0755);
  std::string target = job.file("store/night.sav");
  Write(target, "last night\n");
  chmod(target.c_str(), 0640);
  ASSERT_EQ(0, symlink("store/night.sav", job.saveset().c_str()));

  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err;
  EXPECT_TRUE(IsLink(job.saveset()));
  std::string stored = vrktest::ReadFile(target);
  EXPECT_EQ("", RestoresWhole(job, "back"));
  struct stat st;
  ASSERT_EQ(0, stat(target.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777) << "the new saveset keeps the old one's mode";
  EXPECT_EQ("", Temporaries(job.file("store")));
  EXPECT_EQ("", Temporaries(job.file("")));

  r = job.Backup({"-s", "@" + job.saveset(), "-l", "FULLL", "/src"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(IsLink(job.saveset()));
  EXPECT_TRUE(vrktest::ReadFile(target) == stored);
  EXPECT_EQ("", Temporaries(job.file("store")));
}

TEST(SavesetE2E, ASignalInTheMiddleOfABackupLeavesTheOldSaveset) {
  struct Case {
    int sig;
    bool endsBySignal;
  } cases[] = {{SIGTERM, true}, {SIGHUP, true}, {SIGINT, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sig);
    BackupJob job;
    MakeTree(job.data());
    Result good = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, good.exitCode()) << good.err;
    std::string before = vrktest::ReadFile(job.saveset());

    // The TSA connection is lost in big.bin; the client then waits a
    // minute before it reconnects, and the signal comes in that wait.
    job.SetWorld("lose NWSMTSReadDataSet = 30 0xFFFDFFAF\n");
    std::string temp = job.file(".saveset.vrk-new");
    off_t written = 0;
    int sig = c.sig;
    Result r = e2e::RunWatched(
        job, {"-b", "-j", "job", "-N", kLogin, "-l", "FULL", "-s", "@" + job.saveset(), "/src"},
        [&](pid_t pid, const std::string &err) {
          if (!Has(err, "Fail Over / Fail Back...")) return false;
          struct stat st;
          if (stat(temp.c_str(), &st) == 0) written = st.st_size;
          kill(pid, sig);
          return true;
        },
        {"VRK_TEST_DELAY_SCALE=1"});
    if (c.endsBySignal)
      EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == c.sig) << r.status << r.err;
    else
      EXPECT_EQ(3, r.exitCode()) << r.status << r.err;
    EXPECT_GT(written, 1024 * 1024) << "the signal came in the middle of the saveset";
    EXPECT_TRUE(vrktest::ReadFile(job.saveset()) == before) << "the saveset changed";
    EXPECT_FALSE(Exists(temp));
  }
}

// Ctrl-C in a backup to a local saveset or to standard output: the job ends
// at its next write, not after the rest of the tree. The stand-in stops the
// client in its third read; the test sends SIGINT and lets it go on.
TEST(SavesetE2E, AnInterruptEndsALocalBackupAtItsNextWrite) {
  struct Case {
    const char *name;
    bool toStandardOutput;
  } cases[] = {{"saveset file", false}, {"standard output", true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    const std::string src = job.data() + "/src";
    mkdir(src.c_str(), 0755);
    for (int i = 0; i < 40; ++i) Write(src + "/f" + std::to_string(i), Bytes(256 * 1024, i));
    Result good = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, good.exitCode()) << good.err;
    const size_t wholeReads = job.Calls("NWSMTSReadDataSet").size();
    ASSERT_GT(wholeReads, 40u);
    const std::string before = vrktest::ReadFile(job.saveset());

    job.SetWorld("stop NWSMTSReadDataSet = 3\n");
    bool interrupted = false;
    Result r = job.Run({"-b", "-j", "job", "-N", kLogin, "-l", "FULL", "-s",
                        c.toStandardOutput ? "-" : "@" + job.saveset(), "/src"},
                       [&](pid_t pid, const std::string &) {
                         siginfo_t si{};
                         if (waitid(P_PID, (id_t)pid, &si, WSTOPPED | WNOHANG) != 0 || si.si_pid != pid)
                           return false;
                         kill(pid, SIGINT);
                         kill(pid, SIGCONT);
                         interrupted = true;
                         return true;
                       });
    ASSERT_TRUE(interrupted) << r.err;
    EXPECT_EQ(3, r.exitCode()) << r.status << r.err;
    EXPECT_TRUE(Has(r.err, "Termination signal received!")) << r.err;
    EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
    // The tree was not read on after the signal.
    EXPECT_LE(job.Calls("NWSMTSReadDataSet").size(), 4u) << r.err;
    EXPECT_LT(r.out.size(), before.size() / 4);
    EXPECT_TRUE(vrktest::ReadFile(job.saveset()) == before) << "the saveset changed";
    EXPECT_EQ("", Temporaries(job.path()));
  }
}

// True once the client waits in a poll (the kernel names its wait so);
// true also where the kernel does not tell.
bool WaitsInPoll(pid_t pid) {
  std::string wchan = vrktest::ReadFile("/proc/" + std::to_string(pid) + "/wchan");
  return wchan.empty() || wchan == "0" || wchan.find("poll") != std::string::npos;
}

// Ctrl-C while the client waits on a stalled pipe (standard output that
// nobody reads, standard input that nobody writes): the job ends by the
// signal at once, not when the data wait runs out.
TEST(SavesetE2E, AnInterruptEndsTheWaitOnAStalledPipe) {
  struct Case {
    const char *name;
    bool restore;
  } cases[] = {{"backup to standard output", false}, {"restore from standard input", true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    // A data wait long enough to tell the signal's end from the timeout's.
    vrktest::WriteFile(job.file("korva.ini"), vrktest::ReadFile(job.file("korva.ini")) + "VRK_DATA_WAIT=20\n");
    const std::string src = job.data() + "/src";
    mkdir(src.c_str(), 0755);
    for (int i = 0; i < 8; ++i) Write(src + "/f" + std::to_string(i), Bytes(256 * 1024, i));
    Result good = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, good.exitCode()) << good.err;
    const std::string saveset = vrktest::ReadFile(job.saveset());

    int stall[2];
    ASSERT_EQ(0, pipe2(stall, O_CLOEXEC));
    std::vector<std::string> args;
    int stdinFd = -1;
    if (c.restore) {
      // The first part of the saveset, then a writer that says no more.
      ASSERT_EQ(30000, write(stall[1], saveset.data(), 30000));
      stdinFd = dup(stall[0]);
      args = {"-r", "-N", kLogin, "-s", "-", "-R", "/restored"};
    } else {
      // A reader that never reads: the pipe fills and the client waits.
      const int out = stall[1];
      job.SetChildSetup([out] { dup2(out, STDOUT_FILENO); });
      args = {"-b", "-j", "job", "-N", kLogin, "-l", "FULL", "-s", "-", "/src"};
    }
    const int capacity = fcntl(stall[0], F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    bool interrupted = false;
    Result r = job.Run(
        args,
        [&](pid_t pid, const std::string &) {
          int queued = 0;
          if (ioctl(stall[0], FIONREAD, &queued) != 0) return false;
          // Full up to less than a page (a write fills whole pages), or drained.
          if ((c.restore ? queued != 0 : queued < capacity / 2) || !WaitsInPoll(pid)) return false;
          kill(pid, SIGINT);
          interrupted = true;
          return true;
        },
        stdinFd);
    close(stall[0]);
    close(stall[1]);
    ASSERT_TRUE(interrupted) << r.err;
    EXPECT_EQ(3, r.exitCode()) << r.err;
    EXPECT_TRUE(Has(r.err, "Termination signal received!")) << r.err;
    EXPECT_FALSE(Has(r.err, "timed out after")) << r.err;
    EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
    if (c.restore) {
      // Stopped by the signal: the saveset itself is not taken for cut off.
      EXPECT_TRUE(Has(r.err, "Restore: stopped by a termination signal")) << r.err;
      EXPECT_FALSE(Has(r.err, "it is incomplete")) << r.err;
    }
  }
}

TEST(SavesetE2E, TwoJobsOntoOneSavesetNeverWriteItAtOnce) {
  BackupJob job;
  MakeTree(job.data());
  Result first = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  ASSERT_EQ(0, first.exitCode()) << first.err;
  Write(job.data() + "/src/new.txt", "changed since\n");
  std::map<std::string, decheck::Entry> changed = decheck::Tree(job.data() + "/src/");

  // The first connect of each job fails and the job waits before it tries
  // again; job A is held in that wait, with its saveset open.
  job.SetWorld("fail_connect = 1\n");
  Result b, during;
  bool held = false;
  Result a = e2e::RunWatched(
      job, {"-b", "-j", "job", "-N", kLogin, "-l", "FULL", "-s", "@" + job.saveset(), "/src"},
      [&](pid_t pid, const std::string &err) {
        if (!Has(err, "Failure to connect to Target Service Agent.")) return false;
        held = kill(pid, SIGSTOP) == 0;
        b = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
        // A restore meanwhile reads the saveset of the first backup.
        during = job.Run({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/during"});
        kill(pid, SIGCONT);
        return true;
      },
      {"VRK_TEST_DELAY_SCALE=0.2"});
  ASSERT_TRUE(held);
  EXPECT_EQ(0, a.exitCode()) << a.status << a.err;
  EXPECT_EQ(3, b.exitCode()) << b.status << b.err;
  EXPECT_TRUE(Has(b.err, "Saveset [" + job.saveset() + "] is being written by another job.")) << b.err;
  EXPECT_FALSE(Has(b.err, "Items processed correctly: [1")) << b.err;
  EXPECT_EQ(0, during.exitCode()) << during.err;
  std::map<std::string, decheck::Entry> old = changed;
  old.erase("/new.txt");
  EXPECT_EQ("", Diff(old, decheck::Tree(job.data() + "/during/src/")));

  // The saveset is job A's, whole.
  job.SetWorld("");
  EXPECT_EQ("", RestoresWhole(job, "back"));
  EXPECT_EQ("", Diff(changed, decheck::Tree(job.data() + "/back/src/")));
  EXPECT_EQ("", Temporaries(job.file("")));
}

TEST(SavesetE2E, ALinkPlantedAtAFileTheClientMakesIsNotFollowed) {
  struct Case {
    const char *name;
    const char *link;     // below the run directory
    const char *message;  // then the link's path and "]"
    bool backup;          // a backup (else a PUT of one file)
    bool stillLink;       // the link stays (or the client's own file replaces it)
  } cases[] = {
      {"the job log", "log/job.log", "Unable to open log file [", true, true},
      // Markers are prepared under names of the run's own: a link at the
      // job's plain name in the tmp directory is never used.
      {"a marker of the job's name in the tmp directory", "tmp/job.I", nullptr, true, true},
      {"a committed marker", "times/job.I", nullptr, true, false},
      {"the list of a PUT", "tmp/PUT.IN", "Unable to open file [", false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    MakeTree(job.data());
    std::string victim = job.file("victim");
    Write(victim, "precious\n", 1000000000);
    std::string link = job.file(c.link);
    ASSERT_EQ(0, symlink(victim.c_str(), link.c_str()));
    if (!c.backup) Write(job.saveset(), "put\n");

    Result r = c.backup ? job.Backup({"-L", "CONTROL:job.log", "-l", "FULL", "-s", "@" + job.saveset(), "/src"})
                        : job.Run({"-p", "-s", "@" + job.saveset(), "/etc/hostname"});
    if (c.backup) {
      EXPECT_LE(r.exitCode(), 1) << r.status << r.err;
    }
    if (c.message != nullptr) {
      std::string named = std::string(c.message) + link + "]";
      EXPECT_TRUE(Has(r.err, named)) << r.err;
    }
    EXPECT_EQ("precious\n", vrktest::ReadFile(victim));
    struct stat st;
    ASSERT_EQ(0, stat(victim.c_str(), &st));
    EXPECT_EQ(1000000000, (int64_t)st.st_mtime) << "the link's target was touched";
    if (c.stillLink) {
      EXPECT_TRUE(IsLink(link));
    }
    EXPECT_FALSE(IsLink(job.file("times/job.I")));
    if (c.backup) {
      EXPECT_EQ("", RestoresWhole(job, "back"));
    }
  }
}

TEST(SavesetE2E, ALinkPlantedAtTheTemporaryNameIsNeverWrittenThrough) {
  enum Kind { kSymbolic, kHard, kFile };
  struct Case {
    const char *name;
    Kind kind;
    int status;  // a symbolic link stops the job; a hard link's or a file's name is made anew
  } cases[] = {
      {"a symbolic link", kSymbolic, 3},
      {"a hard link", kHard, 0},
      // Left by a killed job, or planted by another user who holds it open
      // to read what a job writes into it.
      {"a file of another user, held open", kFile, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    MakeTree(job.data());
    std::string temp = job.file(".saveset.vrk-new");
    std::string victim = c.kind == kFile ? temp : job.file("victim");
    Write(victim, "precious\n", 1000000000);
    if (c.kind == kFile) {
      chmod(victim.c_str(), 0666);
      if (geteuid() == 0) {
        ASSERT_EQ(0, chown(victim.c_str(), 65534, 65534));
      }
    }
    int held = open(victim.c_str(), O_RDONLY);
    ASSERT_LE(0, held);
    if (c.kind != kFile) {
      ASSERT_EQ(0, c.kind == kHard ? link(victim.c_str(), temp.c_str()) : symlink(victim.c_str(), temp.c_str()));
    }
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    EXPECT_EQ(c.status, r.exitCode()) << r.err;
    char buf[64];
    ssize_t n = pread(held, buf, sizeof(buf), 0);
    close(held);
    EXPECT_EQ("precious\n", std::string(buf, n > 0 ? (size_t)n : 0)) << "written through";
    if (c.kind != kSymbolic) {
      EXPECT_EQ("", RestoresWhole(job, "back"));
      EXPECT_FALSE(Exists(temp));
      struct stat st;
      ASSERT_EQ(0, stat(job.saveset().c_str(), &st));
      EXPECT_EQ(geteuid(), st.st_uid);
      EXPECT_EQ(0u, st.st_mode & 0022) << "the new saveset is writable by others";
    } else {
      EXPECT_TRUE(Has(r.err, "System call failed: Too many levels of symbolic links")) << r.err;
      EXPECT_FALSE(Exists(job.saveset()));
    }
  }
}

}  // namespace
