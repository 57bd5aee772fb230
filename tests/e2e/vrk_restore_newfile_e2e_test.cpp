// End-to-end tests of how a restored file comes to its name: a new one is
// written unnamed and linked in whole, a replacing one (or any, with unnamed
// files switched off) through a temporary name; killed in the middle, or
// with a link planted at the name before the last step.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "backup_job.h"
#include "e2e_files.h"
#include "test_user.h"

namespace {

using e2e::BackupJob;
using e2e::Exists;
using e2e::Has;
using e2e::IsLink;
using e2e::Leftovers;
using e2e::Names;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

// The source: src/ with a file of many records and a small one after it.
void MakeSource(const BackupJob &job, std::string *big) {
  ASSERT_EQ(0, mkdir((job.data() + "/src").c_str(), 0755));
  *big = vrktest::Pattern(2 * 1024 * 1024 + 5, 7);
  vrktest::WriteFile(job.data() + "/src/big.bin", *big);
  vrktest::WriteFile(job.data() + "/src/z.txt", "last\n");
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err;
}

std::vector<std::string> CallLog(const BackupJob &job) {
  std::vector<std::string> out;
  std::istringstream in(vrktest::ReadFile(job.file("calls.log")));
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// The numbers of the calls of op, in the log of the last run, whose line names the file.
std::vector<int> CallsNaming(const BackupJob &job, const std::string &op, const std::string &file) {
  std::vector<int> out;
  int n = 0;
  for (const std::string &l : CallLog(job)) {
    if (l.compare(0, op.size() + 1, op + "(") != 0) continue;
    ++n;
    if (Has(l, file)) out.push_back(n);
  }
  return out;
}

// The number of the close that follows the last write naming the file.
int CloseOf(const BackupJob &job, const std::string &file) {
  int writes = 0, closes = 0, lastWrite = -1;
  for (const std::string &l : CallLog(job)) {
    if (l.rfind("NWSMTSWriteDataSet(", 0) == 0 && Has(l, file)) lastWrite = ++writes;
    else if (l.rfind("NWSMTSWriteDataSet(", 0) == 0) ++writes;
    if (l.rfind("NWSMTSCloseDataSet(", 0) == 0) {
      ++closes;
      if (lastWrite > 0) return closes;
    }
  }
  return -1;
}

// True once the process stands stopped (state T in /proc).
bool Stopped(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t paren = all.rfind(')');
  return paren != std::string::npos && paren + 2 < all.size() && all[paren + 2] == 'T';
}

Result Restore(const BackupJob &job, const std::vector<std::string> &more, const e2e::Watch &watch = e2e::Watch()) {
  std::vector<std::string> a{"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/r"};
  a.insert(a.end(), more.begin(), more.end());
  return job.Run(a, watch);
}

// A restore killed while big.bin is half written leaves no name for it: a
// new file has none until it is whole (or, on the named road, only the
// temporary name the next restore clears), and a file being replaced stays
// the old one. The next restore brings everything back whole.
TEST(RestoreNewFileE2E, AKillInTheMiddleOfAFileLeavesNoPartOfItUnderItsName) {
  struct Row {
    const char *what;
    const char *world;
    bool overOld;    // an older big.bin is there and is replaced (-o overwrite)
    bool temporary;  // the killed restore leaves a temporary name
  } rows[] = {
      {"a new file", "", false, false},
      {"a new file without unnamed files", "unnamed_new_files = no\n", false, true},
      {"a file replaced", "", true, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    BackupJob job;
    std::string big;
    MakeSource(job, &big);
    const std::string dir = job.data() + "/r/src";
    std::vector<std::string> more;
    if (row.overOld) more = {"-o", "overwrite"};
    // Where big.bin is half written, found by a run that is not stopped.
    Result r = Restore(job, more);
    ASSERT_EQ(0, r.exitCode()) << r.err;
    std::vector<int> writes = CallsNaming(job, "NWSMTSWriteDataSet", "big.bin");
    ASSERT_GE(writes.size(), 4u);
    int middle = writes[writes.size() / 2];
    if (row.overOld) {
      vrktest::WriteFile(dir + "/big.bin", "the old one\n");
      ASSERT_EQ(0, unlink((dir + "/z.txt").c_str()));
    } else {
      ASSERT_EQ(0, system(("rm -rf '" + job.data() + "/r'").c_str()));
    }

    job.SetWorld(std::string(row.world) + "stop NWSMTSWriteDataSet = " + std::to_string(middle) + "\n");
    r = Restore(job, more, [](pid_t pid, const std::string &) {
      if (!Stopped(pid)) return false;
      kill(-pid, SIGKILL);
      return true;
    });
    ASSERT_TRUE(WIFSIGNALED(r.status)) << r.status << r.err;
    if (row.overOld) {
      EXPECT_EQ("the old one\n", vrktest::ReadFile(dir + "/big.bin"));
    } else {
      EXPECT_FALSE(Exists(dir + "/big.bin"));
    }
    EXPECT_FALSE(Exists(dir + "/z.txt")) << "the restore went on";
    std::string left = Leftovers(job.data());
    EXPECT_EQ(row.temporary, !left.empty()) << left;
    if (!row.temporary) {
      // Beside the note that marks a directory the killed restore made and
      // did not finish, nothing stands there.
      size_t names = 0;
      for (const std::string &n : Names(dir)) names += n.rfind(".vrk-unfinished-", 0) != 0;
      EXPECT_EQ(row.overOld ? 1u : 0u, names);
    }

    job.SetWorld(row.world);
    r = Restore(job, {"-o", "overwrite"});
    EXPECT_EQ(0, r.exitCode()) << r.err;
    EXPECT_EQ(big, vrktest::ReadFile(dir + "/big.bin"));
    EXPECT_EQ("last\n", vrktest::ReadFile(dir + "/z.txt"));
    EXPECT_EQ("", Leftovers(job.data()));
  }
}

// A link planted at the name of a new file after the restore looked there
// and before it links the file in is never written through: without
// overwrite the file is not restored and the link stays; with it the link
// is replaced by the file.
TEST(RestoreNewFileE2E, ALinkPlantedBeforeTheLastStepIsNotFollowed) {
  struct Row {
    const char *what;
    const char *world;
    bool overwrite;
  } rows[] = {
      {"unnamed, without overwrite", "", false},
      {"unnamed, with overwrite", "", true},
      {"named road, without overwrite", "unnamed_new_files = no\n", false},
      {"named road, with overwrite", "unnamed_new_files = no\n", true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    BackupJob job;
    std::string big;
    MakeSource(job, &big);
    const std::string dir = job.data() + "/r/src";
    const std::string outside = job.data() + "/outside.txt";
    vrktest::WriteFile(outside, "not the restore's\n");
    std::vector<std::string> more;
    if (row.overwrite) more = {"-o", "overwrite"};
    Result r = Restore(job, more);
    ASSERT_EQ(0, r.exitCode()) << r.err;
    int close = CloseOf(job, "big.bin");
    ASSERT_GT(close, 0);
    ASSERT_EQ(0, system(("rm -rf '" + job.data() + "/r'").c_str()));

    job.SetWorld(std::string(row.world) + "stop NWSMTSCloseDataSet = " + std::to_string(close) + "\n");
    bool planted = false;
    r = Restore(job, more, [&](pid_t pid, const std::string &) {
      if (!Stopped(pid)) return false;
      planted = symlink(outside.c_str(), (dir + "/big.bin").c_str()) == 0;
      kill(-pid, SIGCONT);
      return true;
    });
    ASSERT_TRUE(planted);
    EXPECT_EQ("not the restore's\n", vrktest::ReadFile(outside));
    if (row.overwrite) {
      EXPECT_EQ(0, r.exitCode()) << r.err;
      EXPECT_FALSE(IsLink(dir + "/big.bin"));
      EXPECT_EQ(big, vrktest::ReadFile(dir + "/big.bin"));
    } else {
      EXPECT_EQ(3, r.exitCode()) << r.err;
      EXPECT_TRUE(IsLink(dir + "/big.bin"));
    }
    EXPECT_EQ("last\n", vrktest::ReadFile(dir + "/z.txt"));
    EXPECT_EQ("", Leftovers(job.data()));
  }
}

// A small file is written before anything looks at its name (linking it in
// is the look), a big one only after the look: whatever stands at the name,
// both are answered alike, with the same messages, the same status and the
// same entry left there, and nothing is written through a link.
TEST(RestoreNewFileE2E, WhatStandsAtTheNameIsAnsweredAlikeForSmallAndBigFiles) {
  enum Kind { kNone, kFile, kLinkOut, kDangling, kDir, kFifo };
  struct Row {
    const char *what;
    Kind kind;
    bool overwrite;
    int exit;
    const char *left;      // what stands at the name afterwards
    bool full = false;     // every write of more than 1,000 bytes fails
  } rows[] = {
      {"a file, kept", kFile, false, 0, "the old one"},
      {"a file, replaced", kFile, true, 0, "restored"},
      {"a link to a file outside, kept", kLinkOut, false, 0, "link"},
      {"a link to a file outside, replaced", kLinkOut, true, 0, "restored"},
      {"a dangling link, kept", kDangling, false, 0, "link"},
      {"a dangling link, replaced", kDangling, true, 0, "restored"},
      {"a directory", kDir, false, 3, "directory"},
      {"a directory, with overwrite", kDir, true, 3, "directory"},
      {"a FIFO", kFifo, false, 0, "fifo"},
      {"a FIFO, with overwrite", kFifo, true, 3, "fifo"},
      {"a file, kept, where no file can be written", kFile, false, 0, "the old one", true},
      {"nothing, where no file can be written", kNone, false, 3, "nothing", true},
  };
  BackupJob job;
  ASSERT_EQ(0, mkdir((job.data() + "/src").c_str(), 0755));
  const std::string small = vrktest::Pattern(3000, 3), big = vrktest::Pattern(40 * 1024 + 7, 5);
  vrktest::WriteFile(job.data() + "/src/small.dat", small);
  vrktest::WriteFile(job.data() + "/src/big.dat", big);
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err;
  const std::string dir = job.data() + "/r/src", outside = job.data() + "/outside.txt";

  // The lines that name the file, without their time and with the name
  // made one word, so that the two files' lines compare.
  auto linesOf = [](const std::string &err, const std::string &file) {
    std::vector<std::string> out;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line)) {
      size_t at = line.find(file);
      if (at == std::string::npos) continue;
      line.replace(at, file.size(), "FILE");
      size_t vrk = line.find("vrk");
      out.push_back(vrk == std::string::npos ? line : line.substr(vrk));
    }
    return out;
  };
  auto what = [](const std::string &path, const std::string &restored) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return std::string("nothing");
    if (S_ISLNK(st.st_mode)) return std::string("link");
    if (S_ISDIR(st.st_mode)) return std::string("directory");
    if (S_ISFIFO(st.st_mode)) return std::string("fifo");
    std::string bytes = vrktest::ReadFile(path);
    return bytes == restored ? std::string("restored") : bytes;
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ(0, system(("rm -rf '" + job.data() + "/r'").c_str()));
    ASSERT_EQ(0, system(("mkdir -p '" + dir + "'").c_str()));
    vrktest::WriteFile(outside, "not the restore's\n");
    for (const char *name : {"small.dat", "big.dat"}) {
      const std::string at = dir + "/" + name;
      switch (row.kind) {
        case kNone: break;
        case kFile: vrktest::WriteFile(at, "the old one"); break;
        case kLinkOut: ASSERT_EQ(0, symlink(outside.c_str(), at.c_str())); break;
        case kDangling: ASSERT_EQ(0, symlink((job.data() + "/none").c_str(), at.c_str())); break;
        case kDir: ASSERT_EQ(0, mkdir(at.c_str(), 0755)); break;
        case kFifo: ASSERT_EQ(0, mkfifo(at.c_str(), 0644)); break;
      }
    }
    std::vector<std::string> more;
    if (row.overwrite) more = {"-o", "overwrite"};
    job.SetChildSetup(row.full ? e2e::FileSizeLimit(1000) : std::function<void()>());
    r = Restore(job, more);
    EXPECT_EQ(row.exit, r.exitCode()) << r.err;
    EXPECT_EQ(row.left, what(dir + "/small.dat", small));
    EXPECT_EQ(row.left, what(dir + "/big.dat", big));
    EXPECT_EQ(linesOf(r.err, "big.dat"), linesOf(r.err, "small.dat")) << r.err;
    EXPECT_FALSE(Exists(job.data() + "/none"));
    EXPECT_EQ("not the restore's\n", vrktest::ReadFile(outside));
    EXPECT_EQ("", Leftovers(job.data()));
  }
}

// A new file is created with its permission bits and gets its mode and
// group set again only where the creation gave others: under any umask, and
// in a directory that hands its own group down, every file comes back with
// the mode and group it was stored with.
TEST(RestoreNewFileE2E, ModesAndGroupsComeBackWhateverTheCreationGives) {
  struct Row {
    const char *what;
    mode_t umask;
    bool groupHandedDown;
  } rows[] = {
      {"umask 077", 077, false},
      {"umask 000", 0, false},
      {"a directory that hands down another group", 022, true},
  };
  const struct {
    const char *name;
    mode_t mode;
  } files[] = {{"a", 0644}, {"b", 0755}, {"c", 0600}, {"d", 0664}, {"e", 0777}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    BackupJob job;
    ASSERT_EQ(0, mkdir((job.data() + "/src").c_str(), 0755));
    for (const auto &f : files) {
      std::string path = job.data() + "/src/" + f.name;
      vrktest::WriteFile(path, std::string(f.name) + "\n");
      ASSERT_EQ(0, chmod(path.c_str(), f.mode));
      ASSERT_EQ(0, chown(path.c_str(), getuid(), getgid()));
    }
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, r.exitCode()) << r.err;
    const std::string into = job.data() + "/into";
    ASSERT_EQ(0, mkdir(into.c_str(), 0755));
    if (row.groupHandedDown) {
      ASSERT_EQ(0, chown(into.c_str(), getuid(), getgid() + 4242));
      ASSERT_EQ(0, chmod(into.c_str(), 02775));
    }
    const mode_t mask = row.umask;
    job.SetChildSetup([mask] { umask(mask); });
    r = job.Run({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/into"});
    ASSERT_EQ(0, r.exitCode()) << r.err;
    for (const auto &f : files) {
      struct stat st;
      ASSERT_EQ(0, lstat((into + "/src/" + f.name).c_str(), &st)) << f.name;
      EXPECT_EQ(f.mode, st.st_mode & 07777) << f.name;
      EXPECT_EQ(getgid(), st.st_gid) << f.name;
    }
  }
}

// Root restores into a directory another user owns (his in the backup too),
// who makes it hand down his group while the restore works in it: a file
// made after that still comes back with the group it was stored with, never
// readable by his.
TEST(RestoreNewFileE2E, AGroupHandedDownMidwayInAnotherUsersDirectoryIsNotKept) {
  e2e::TestUser bob;
  std::string why;
  if (!e2e::MakeTestUser("vrk-t-a", &bob, &why)) GTEST_SKIP() << why;
  if (bob.gid == getgid()) GTEST_SKIP() << "the test user's group is root's";
  struct Row {
    const char *what;
    const char *world;
  } rows[] = {
      {"unnamed", ""},
      {"named road", "unnamed_new_files = no\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    BackupJob job;
    ASSERT_EQ(0, mkdir((job.data() + "/src").c_str(), 0755));
    for (const char *f : {"a.txt", "secret.txt"}) {
      std::string path = job.data() + "/src/" + f;
      vrktest::WriteFile(path, "only root and its group\n");
      ASSERT_EQ(0, chmod(path.c_str(), 0640));
    }
    ASSERT_EQ(0, chown((job.data() + "/src").c_str(), bob.uid, bob.gid));
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, r.exitCode()) << r.err;
    const std::string dir = job.data() + "/r/src";
    ASSERT_EQ(0, system(("mkdir -p '" + dir + "'").c_str()));
    ASSERT_TRUE(e2e::GiveTree(dir, bob));
    job.SetWorld(row.world);
    r = Restore(job, {});
    ASSERT_EQ(0, r.exitCode()) << r.err;
    std::vector<int> writes = CallsNaming(job, "NWSMTSWriteDataSet", "secret.txt");
    ASSERT_FALSE(writes.empty());
    ASSERT_EQ(0, system(("rm -f '" + dir + "'/*").c_str()));

    job.SetWorld(std::string(row.world) + "stop NWSMTSWriteDataSet = " + std::to_string(writes[0]) + "\n");
    bool handedDown = false;
    r = Restore(job, {}, [&](pid_t pid, const std::string &) {
      if (!Stopped(pid)) return false;
      // Opened here: the job's directory above it is not the user's to pass.
      int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      handedDown = fd >= 0 && e2e::AsUser(bob, [&] { return fchmod(fd, 02755) == 0; });
      if (fd >= 0) close(fd);
      kill(-pid, SIGCONT);
      return true;
    });
    ASSERT_TRUE(handedDown);
    EXPECT_EQ(0, r.exitCode()) << r.err;
    struct stat st;
    ASSERT_EQ(0, lstat((dir + "/secret.txt").c_str(), &st));
    EXPECT_EQ(getgid(), st.st_gid);
    EXPECT_EQ(0640u, st.st_mode & 07777);
  }
}

}  // namespace
