// End-to-end tests of vrk_nlm -r: trees backed up and restored through the
// binary (relocated, onto the original, selected, renamed), data sets in use,
// listings, and stored objects that are empty, cut, corrupt or hostile.
#include <gtest/gtest.h>
#include <dirent.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../xbsa/xbsa_peers.h"
#include "backup_job.h"
#include "e2e_files.h"
#include "de_check.h"
#include "sms/smsapi.h"

namespace {

using decheck::Entry;
using e2e::BackupJob;
using e2e::Exists;
using e2e::Has;
using e2e::Leftovers;
using e2e::Result;
using vrktest::Pattern;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

void Write(const std::string &path, const std::string &data, int64_t mtime, mode_t mode = 0644) {
  vrktest::WriteFile(path, data);
  chmod(path.c_str(), mode);
  struct timeval tv[2] = {{(time_t)mtime, 0}, {(time_t)mtime, 0}};
  utimes(path.c_str(), tv);
}

// The sample tree below data/src: empty, exactly one read buffer, several
// MiB, blanks and non-ASCII names, nested directories, links, modes, times.
void MakeTree(const std::string &data) {
  std::string src = data + "/src";
  for (const char *d : {"", "/sub", "/sub/deep", "/with blank", "/\xc3\xa4rger \xe6\x97\xa5\xe6\x9c\xac"})
    mkdir((src + d).c_str(), 0755);
  Write(src + "/empty", "", 1100000000, 0600);
  Write(src + "/exact", Pattern(65536, 1), 1200000000, 0640);
  Write(src + "/a.txt", "alpha\n", 1300000000);
  Write(src + "/sub/b.txt", "beta\n", 1310000000, 0444);
  Write(src + "/sub/deep/big.bin", Pattern(3 * 1024 * 1024 + 17, 2), 1400000000, 0755);
  Write(src + "/with blank/file with blanks.txt", "blanks\n", 1500000000);
  Write(src + "/\xc3\xa4rger \xe6\x97\xa5\xe6\x9c\xac/gr\xc3\xbc\xc3\x9f.txt", "utf8\n", 1600000000, 0600);
  symlink("a.txt", (src + "/link").c_str());
  symlink("../sub/deep", (src + "/with blank/dirlink").c_str());
  struct timespec ts[2] = {{1700000000, 0}, {1700000000, 0}};
  utimensat(AT_FDCWD, (src + "/link").c_str(), ts, AT_SYMLINK_NOFOLLOW);
  chmod((src + "/sub/deep").c_str(), 0750);
  // Directories get old times of their own, deepest first, so that a restore
  // which moves a directory's time (by making entries in it later) shows.
  int64_t when = 1000000000;
  for (const char *d : {"/sub/deep", "/sub", "/with blank", "/\xc3\xa4rger \xe6\x97\xa5\xe6\x9c\xac", ""}) {
    struct timespec dt[2] = {{(time_t)when, 0}, {(time_t)when, 0}};
    utimensat(AT_FDCWD, (src + d).c_str(), dt, 0);
    when += 1000;
  }
}

// Every file and link of root with bytes, mode and modification time; the
// directories with their modes and modification times.
std::map<std::string, Entry> Tree(const std::string &root) { return decheck::Tree(root + "/"); }

std::string Diff(const std::map<std::string, Entry> &want, const std::map<std::string, Entry> &got) {
  std::string why;
  for (const auto &kv : want) {
    auto g = got.find(kv.first);
    if (g == got.end()) {
      why += kv.first + ": missing\n";
      continue;
    }
    if (g->second.kind != kv.second.kind) why += kv.first + ": kind differs\n";
    if (g->second.mode != kv.second.mode) why += kv.first + ": mode differs\n";
    if (g->second.data != kv.second.data) why += kv.first + ": data differs\n";
    if (g->second.mtime != kv.second.mtime) why += kv.first + ": time differs\n";
  }
  for (const auto &kv : got)
    if (!want.count(kv.first)) why += kv.first + ": not expected\n";
  return why;
}

int CountOf(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  size_t p = 0;
  while (p < text.size()) {
    size_t nl = text.find('\n', p);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(p, nl - p));
    p = nl + 1;
  }
  return out;
}

Result Restore(const BackupJob &job, const std::vector<std::string> &args) {
  std::vector<std::string> a{"-r", "-N", kLogin, "-s", "@" + job.saveset()};
  a.insert(a.end(), args.begin(), args.end());
  return job.Run(a);
}

// A restore that reads the stored object from its standard input.
int RestoreFromStandardInput(const BackupJob &job, const std::vector<std::string> &args, std::string *err) {
  const char *binary = VRK_TEST_BINARY_DIR "/src/engine/vrk_nlm";
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e) {
    std::string v = *e;
    if (v.rfind("VRK_", 0) == 0 || v.rfind("KV_INI=", 0) == 0 || v.rfind("KORVA_INI=", 0) == 0) continue;
    env.push_back(v);
  }
  env.push_back("VRK_SMS_WORLD=" + job.file("world"));
  env.push_back("KV_INI=" + job.file("korva.ini"));
  env.push_back("KORVA_INI=" + job.file("none.ini"));
  std::vector<std::string> a{"-r", "-N", kLogin, "-s", "-"};
  a.insert(a.end(), args.begin(), args.end());
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(job.file("").c_str()) != 0) _exit(120);
    int in = open(job.saveset().c_str(), O_RDONLY);
    int out = open(job.file("stdin-run.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int errFd = open(job.file("stdin-run.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || errFd < 0) _exit(122);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    std::vector<char *> argv{const_cast<char *>(binary)};
    for (const std::string &x : a) argv.push_back(const_cast<char *>(x.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &x : env) envp.push_back(const_cast<char *>(x.c_str()));
    envp.push_back(nullptr);
    execve(binary, argv.data(), envp.data());
    _exit(121);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  *err = vrktest::ReadFile(job.file("stdin-run.err"));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Backs up data/src into the saveset.
void BackupSrc(const BackupJob &job) {
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err;
}

int DataSets(const BackupJob &job) {
  std::vector<decheck::Record> recs;
  std::string why;
  EXPECT_TRUE(decheck::ParseObject(vrktest::ReadFile(job.saveset()), recs, why)) << why;
  int markers = 0;
  for (const auto &r : recs) markers += r.marker ? 1 : 0;
  return markers - 1;
}

TEST(RestoreE2E, RelocatedRoundTripKeepsBytesModesAndTimes) {
  BackupJob job;
  MakeTree(job.data());
  BackupSrc(job);
  Result r = Restore(job, {"-R", "/restored"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_EQ("", Diff(Tree(job.data() + "/src"), Tree(job.data() + "/restored/src")));
  int n = DataSets(job);
  EXPECT_EQ(14, n);
  EXPECT_TRUE(Has(r.err, "Number of resources restored: " + std::to_string(n))) << r.err;
  EXPECT_TRUE(Has(r.err, "Items processed correctly: [" + std::to_string(n) + "]")) << r.err;
  EXPECT_EQ("", Leftovers(job.data()));
}

TEST(RestoreE2E, OntoTheOriginalKeepsExistingFilesUnlessOverwrite) {
  BackupJob job;
  MakeTree(job.data());
  BackupSrc(job);
  std::map<std::string, Entry> before = Tree(job.data() + "/src");
  Write(job.data() + "/src/a.txt", "changed\n", 1900000000);
  ASSERT_EQ(0, unlink((job.data() + "/src/sub/b.txt").c_str()));

  Result r = Restore(job, {});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_EQ("changed\n", vrktest::ReadFile(job.data() + "/src/a.txt")) << "kept without OVERWRITE";
  EXPECT_EQ("beta\n", vrktest::ReadFile(job.data() + "/src/sub/b.txt")) << "a missing file is restored";
  int n = DataSets(job);
  // Every data set but b.txt exists already: parents and children skipped.
  EXPECT_EQ(n - 1, CountOf(r.err, "already exists. Skipping overwrite")) << r.err;
  EXPECT_TRUE(Has(r.err, "Skipped items: [" + std::to_string(n - 1) + "]")) << r.err;
  EXPECT_TRUE(Has(r.err, "Items processed correctly: [1]")) << r.err;

  r = Restore(job, {"-o", "overwrite"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_EQ("", Diff(before, Tree(job.data() + "/src")));
  EXPECT_FALSE(Has(r.err, "already exists")) << r.err;
}

TEST(RestoreE2E, SourcePatternsSelectDataSets) {
  struct Case {
    std::vector<std::string> items;
    std::vector<std::string> present, absent;
    // Each selection that no data set matched gets a warning that names it,
    // and the job ends 1.
    std::vector<std::string> unmet;
    std::string target = "/sel";
  } cases[] = {
      // A pattern with a leading '/' against names that begin with '/'.
      {{"/src/sub/*"}, {"/sel/src/sub/b.txt", "/sel/src/sub/deep/big.bin"}, {"/sel/src/a.txt", "/sel/src/empty"}, {}},
      // Files whose parent does not match are still placed beneath it.
      {{"*.txt"},
       {"/sel/src/a.txt", "/sel/src/sub/b.txt", "/sel/src/with blank/file with blanks.txt"},
       {"/sel/src/empty", "/sel/src/sub/deep/big.bin", "/sel/src/link"},
       {}},
      {{"/nomatch*", "/src/e*"},
       {"/sel/src/empty", "/sel/src/exact"},
       {"/sel/src/a.txt", "/sel/src/sub"},
       {"/nomatch*"}},
      // Nothing of the saveset: every data set is passed over.
      {{"/src/nonexistent"}, {}, {"/sel/src", "/sel/src/a.txt"}, {"/src/nonexistent"}},
      // A directory named without its trailing '/' names no data set.
      {{"/src/sub"}, {}, {"/sel/src/sub", "/sel/src/sub/b.txt"}, {"/src/sub"}},
      // A selection behind the one that decides has met its data set too.
      {{"/src/*", "/src/a.txt", "/src/sub/b.txt"}, {"/sel/src/a.txt", "/sel/src/sub/b.txt"}, {}, {}},
      // A plain restore matches the part after the last '/'.
      {{"-o", "plain", "/src/sub/*b.txt", "/src/*none.txt"}, {"/sel/b.txt"}, {"/sel/a.txt"}, {"/src/*none.txt"}},
      // With relocation each data set is matched by the path it was stored
      // under, never by the relocated one: a file by its full stored path,
      // while the relocated names match nothing.
      {{"/src/sub/deep/big.bin"}, {"/sel/src/sub/deep/big.bin"}, {"/sel/src/a.txt", "/sel/src/sub/b.txt"}, {}},
      {{"/sel/src/sub/*"}, {}, {"/sel/src", "/sel/src/sub/b.txt"}, {"/sel/src/sub/*"}},
      {{"/src/sub/*"}, {"/moved/b.txt", "/moved/deep/big.bin"}, {}, {}, "/src/sub/==::==/moved/"},
      {{"/moved/*", "/src/sub/b.txt"}, {"/moved/b.txt"}, {"/moved/deep"}, {"/moved/*"}, "/src/sub/==::==/moved/"},
      // A file that no relocation pair takes is not included, yet its
      // selection did meet a data set of the saveset.
      {{"/src/sub/*b.txt", "/src/a.txt"},
       {"/sel/b.txt"},
       {"/sel/a.txt", "/sel/deep/big.bin"},
       {},
       "/src/sub/==::==/sel/"},
  };
  for (const Case &c : cases) {
    BackupJob job;
    MakeTree(job.data());
    BackupSrc(job);
    std::vector<std::string> args{"-R", c.target};
    args.insert(args.end(), c.items.begin(), c.items.end());
    Result r = Restore(job, args);
    const std::string &row = c.items[0] == "-o" ? c.items[2] : c.items[0];
    EXPECT_EQ(c.unmet.empty() ? 0 : 1, r.exitCode()) << row << r.err;
    for (const std::string &p : c.present) EXPECT_TRUE(Exists(job.data() + p)) << row << ": " << p << r.err;
    for (const std::string &p : c.absent) EXPECT_FALSE(Exists(job.data() + p)) << row << ": " << p;
    if (!c.absent.empty()) {
      EXPECT_TRUE(Has(r.err, "Item found: [")) << r.err;
    }
    for (const std::string &u : c.unmet)
      EXPECT_TRUE(Has(r.err, "Warning:  Restore: the selection [" + u + "] matched no data set of the saveset"))
          << row << r.err;
    EXPECT_EQ(c.unmet.size(), (size_t)CountOf(r.err, "] matched no data set of the saveset")) << row << r.err;
    if (c.present.size() > 1 && c.present[0].rfind("/sel/src/", 0) == 0) {
      EXPECT_EQ(vrktest::ReadFile(job.data() + "/src" + c.present[0].substr(8)),
                vrktest::ReadFile(job.data() + c.present[0]));
    }
  }
}

TEST(RestoreE2E, RenamePairsFirstApplyingPairWins) {
  struct Case {
    std::string reloc;
    std::vector<std::string> present, absent;
  } cases[] = {
      {"/src/sub==::==/moved==::==/src==::==/other",
       {"/moved/b.txt", "/moved/deep/big.bin", "/other/a.txt", "/other/with blank/file with blanks.txt"},
       {"/other/sub"}},
      // The shorter pair added first takes the longer one's names too.
      {"/src==::==/first==::==/src/sub==::==/second", {"/first/a.txt", "/first/sub/deep/big.bin"}, {"/second"}},
      // Letter case does not matter; "/" takes what no earlier pair took.
      {"/SRC/SUB==::==/moved==::==/==::==/rest", {"/moved/b.txt", "/rest/src/a.txt"}, {"/rest/src/sub"}},
  };
  for (const Case &c : cases) {
    BackupJob job;
    MakeTree(job.data());
    BackupSrc(job);
    Result r = Restore(job, {"-R", c.reloc});
    EXPECT_EQ(0, r.exitCode()) << c.reloc << r.err;
    for (const std::string &p : c.present) EXPECT_TRUE(Exists(job.data() + p)) << c.reloc << ": " << p << r.err;
    for (const std::string &p : c.absent) EXPECT_FALSE(Exists(job.data() + p)) << c.reloc << ": " << p;
  }
}

TEST(RestoreE2E, PlainRestorePutsFilesIntoTheTargetItself) {
  BackupJob job;
  MakeTree(job.data());
  BackupSrc(job);
  Result r = Restore(job, {"-o", "plain", "-R", "/flat", "/src/sub/*.txt"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_EQ("beta\n", vrktest::ReadFile(job.data() + "/flat/b.txt"));
  EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + "/flat/a.txt"));
  EXPECT_FALSE(Exists(job.data() + "/flat/src"));
}

TEST(RestoreE2E, AFileInUseIsErasedAndWrittenOnceMore) {
  BackupJob job;
  MakeTree(job.data());
  BackupSrc(job);
  Write(job.data() + "/src/a.txt", "open elsewhere\n", 1900000000);
  job.SetWorld("in_use = /src/a.txt\n");
  Result r = Restore(job, {"-o", "overwrite,noacl"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Overwrite file [/src/a.txt] which is currently in use.")) << r.err;
  EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + "/src/a.txt"));
  ASSERT_EQ(1u, job.Calls("NWSMTSDeleteDataSet").size());
  EXPECT_TRUE(Has(job.Calls("NWSMTSDeleteDataSet")[0], "/src/a.txt")) << job.Calls("NWSMTSDeleteDataSet")[0];
  // One open per data set and the retry, which repeats the first open's
  // arguments: under the parent, with the child's terminal name.
  EXPECT_EQ((size_t)DataSets(job) + 1, job.Calls("NWSMTSOpenDataSetForRestore").size());
  std::string lastOpen, retry;
  bool erased = false;
  for (const std::string &line : Lines(vrktest::ReadFile(job.file("calls.log")))) {
    if (line.rfind("NWSMTSDeleteDataSet(", 0) == 0) erased = true;
    if (line.rfind("NWSMTSOpenDataSetForRestore(", 0) != 0) continue;
    if (erased && retry.empty()) retry = line;
    if (!erased) lastOpen = line;
  }
  EXPECT_EQ(lastOpen, retry);
  EXPECT_TRUE(Has(retry, "name=\"a.txt\"")) << retry;

  EXPECT_TRUE(Has(retry, "mode=0x3C01")) << "the NOACL bits on every open: " << retry;

  // A selected child whose parent was passed over is opened by its full
  // name; so is its retry.
  Write(job.data() + "/src/a.txt", "open elsewhere\n", 1900000000);
  job.SetWorld("in_use = /src/a.txt\n");
  r = Restore(job, {"-o", "overwrite", "/src/a.txt"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + "/src/a.txt"));
  EXPECT_EQ(2u, job.Calls("NWSMTSOpenDataSetForRestore").size());

  // The erase fails: the second "in use" is one data set not restored.
  Write(job.data() + "/src/a.txt", "open elsewhere\n", 1900000000);
  job.SetWorld("in_use = /src/a.txt\nfault NWSMTSDeleteDataSet = 1 0xFFFDFFEE\n");
  r = Restore(job, {"-o", "overwrite"});
  EXPECT_EQ(1, r.exitCode()) << r.err;
  EXPECT_EQ("open elsewhere\n", vrktest::ReadFile(job.data() + "/src/a.txt"));
  EXPECT_TRUE(Has(r.err, "Item processed with failure: [/src/a.txt]")) << r.err;
  EXPECT_TRUE(Has(r.err, "Not processed or incorrectly processed items: [1]")) << r.err;
}

TEST(RestoreE2E, ListLevelOpensNothing) {
  BackupJob job;
  MakeTree(job.data());
  BackupSrc(job);
  Result r = Restore(job, {"-l", "LIST", "-R", "/listed"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_EQ(0u, job.Calls("NWSMTSOpenDataSetForRestore").size());
  EXPECT_EQ(DataSets(job), CountOf(r.err, "Item found: ["));
  EXPECT_FALSE(Exists(job.data() + "/listed"));
}

TEST(RestoreE2E, ASavesetWithOnlyTheLeadingMarkerRestoresNothing) {
  BackupJob job;
  vrktest::WriteFile(job.saveset(), std::string("\0\0\xff\xff\xff\xff\0\0", 8));
  Result r = Restore(job, {"-R", "/x", "-v", "4"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Number of resources restored: 0")) << r.err;
  EXPECT_TRUE(Has(r.err, "Restore: ReadDEFiles EOR MARKER >> break")) << r.err;
  EXPECT_EQ(0u, job.Calls("NWSMTSOpenDataSetForRestore").size());
}

TEST(RestoreE2E, CutOrCorruptSavesetsEndWithAnErrorAndLeaveNoHalfFile) {
  BackupJob job;
  MakeTree(job.data());
  BackupSrc(job);
  std::string whole = vrktest::ReadFile(job.saveset());
  size_t bigAt = whole.find("big.bin");
  ASSERT_NE(std::string::npos, bigAt);
  struct Case {
    const char *what;
    std::string object;
  } cases[] = {
      {"cut inside a record", whole.substr(0, bigAt + 200000)},
      {"cut at a record boundary", ""},
      {"a flipped data byte", whole},
  };
  // The boundary after the first record of big.bin: header, name block, data.
  {
    std::vector<decheck::Record> recs;
    std::string why;
    ASSERT_TRUE(decheck::ParseObject(whole, recs, why)) << why;
    size_t p = 0;
    for (const decheck::Record &rec : recs) {
      if (rec.marker) {
        p += 8;
        continue;
      }
      p += 8 + decheck::U16(whole, p + 6) + rec.data.size();
      if (!rec.names.empty() && rec.names[0].name == "big.bin") break;
    }
    cases[1].object = whole.substr(0, p);
  }
  cases[2].object[bigAt + 100000] ^= 0x55;
  for (const Case &c : cases) {
    vrktest::WriteFile(job.saveset(), c.object);
    std::string target = "/cut" + std::to_string(&c - cases);
    Result r = Restore(job, {"-R", target});
    EXPECT_EQ(3, r.exitCode()) << c.what << r.err;
    EXPECT_FALSE(Exists(job.data() + target + "/src/sub/deep/big.bin")) << c.what;
    EXPECT_EQ("", Leftovers(job.data())) << c.what;
    // What came before the damage is restored.
    EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + target + "/src/a.txt")) << c.what;
  }
}

// A stored object built by hand: records of one name each.
class Hostile {
 public:
  Hostile() { marker(); }
  void marker() { obj_ += std::string("\0\0\xff\xff\xff\xff\0\0", 8); }
  void record(bool parent, const std::string &name, const std::string &data, bool validList = true) {
    NWSM_DATA_SET_NAME_LIST *list = nullptr;
    EXPECT_EQ(0u, NWSMPutOneName(&list, 260, 0, 0, "/", "/", name.c_str()));
    std::string l(reinterpret_cast<const char *>(list), NWSM_LIST_TOTAL_SIZE(list));
    free(list);
    if (!validList) l[2] = 'X';
    std::string h(8, '\0');
    h[0] = parent ? 1 : 0;
    h[1] = 1;
    uint32_t size = (uint32_t)data.size();
    for (int i = 0; i < 4; ++i) h[2 + i] = (char)(size >> (8 * i));
    uint16_t ns = (uint16_t)(l.size() + 8);
    h[6] = (char)(ns & 0xFF);
    h[7] = (char)(ns >> 8);
    obj_ += h + std::string(8, '\0') + l + data;
  }
  const std::string &object() const { return obj_; }

 private:
  std::string obj_;
};

TEST(RestoreE2E, StoredNamesNeverLeaveTheTarget) {
  BackupJob job;
  MakeTree(job.data());
  BackupSrc(job);
  // Streams of real data sets, stored under hostile names.
  std::vector<decheck::Record> recs;
  std::string why;
  ASSERT_TRUE(decheck::ParseObject(vrktest::ReadFile(job.saveset()), recs, why)) << why;
  std::string dirStream, fileStream;
  for (const decheck::Record &rec : recs) {
    if (rec.marker || rec.names.empty()) continue;
    if (rec.names[0].name == "/src/") dirStream = rec.data;
    if (rec.names[0].name == "a.txt") fileStream = rec.data;
  }
  ASSERT_FALSE(dirStream.empty());
  ASSERT_FALSE(fileStream.empty());
  Hostile h;
  h.record(true, "/src/../../escape/", dirStream);
  h.marker();
  h.record(false, "a.txt", fileStream);
  h.marker();
  h.record(true, "/src/", dirStream);
  h.marker();
  h.record(false, "../../a.txt", fileStream);
  h.marker();
  h.record(false, "a.txt", fileStream, false);
  h.marker();
  h.record(false, "a.txt", fileStream);
  h.marker();
  vrktest::WriteFile(job.saveset(), h.object());
  Result r = Restore(job, {"-R", "/safe"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_EQ(2, CountOf(r.err, "would leave the restore target")) << r.err;
  EXPECT_TRUE(Has(r.err, "NWSMGetOneName")) << r.err;
  EXPECT_FALSE(Exists(job.data() + "/../escape"));
  EXPECT_FALSE(Exists(job.data() + "/escape"));
  EXPECT_FALSE(Exists(job.data() + "/a.txt"));
  EXPECT_FALSE(Exists(job.data() + "/safe/a.txt"));
  EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + "/safe/src/a.txt"));
  EXPECT_TRUE(Has(r.err, "Not processed or incorrectly processed items: [3]")) << r.err;
}

TEST(RestoreE2E, TheSavedCounterNeverFallsBelowZero) {
  // No leading marker, and a refused data set: more data sets not restored
  // than markers met.
  BackupJob job;
  Hostile h;
  h.record(true, "/../up/", std::string(10, 'x'));
  h.marker();
  vrktest::WriteFile(job.saveset(), h.object().substr(8));
  Result r = Restore(job, {"-R", "/x"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Items processed correctly: [0]. Not processed or incorrectly processed items: [1]"))
      << r.err;
}

TEST(RestoreE2E, TheObjectComesFromStandardInput) {
  BackupJob job;
  MakeTree(job.data());
  BackupSrc(job);
  std::string err;
  EXPECT_EQ(0, RestoreFromStandardInput(job, {"-R", "/piped"}, &err)) << err;
  EXPECT_EQ("", Diff(Tree(job.data() + "/src"), Tree(job.data() + "/piped/src")));
}

TEST(RestoreE2E, TheObjectComesBackFromAnFtpStorageNode) {
  if (!vrktest::VsftpdPeer::Available()) GTEST_SKIP() << "vsftpd needs /usr/sbin/vsftpd, root and the ftp user";
  vrktest::VsftpdPeer node;
  ASSERT_TRUE(node.ready()) << node.log();
  BackupJob job;
  MakeTree(job.data());
  int start = vrktest::RangeStart();
  std::string server = "127.0.0.1:" + std::to_string(node.port()) + "," + std::to_string(start) + "-" +
                       std::to_string(start + 40);
  Result r = job.Backup({"-l", "FULL", "-S", server, "-d", "incoming", "-O", "object1", "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err << node.log();
  r = job.Run({"-r", "-N", kLogin, "-S", server, "-d", "incoming", "-O", "object1", "-R", "/fromftp"});
  EXPECT_EQ(0, r.exitCode()) << r.err << node.log();
  EXPECT_EQ("", Diff(Tree(job.data() + "/src"), Tree(job.data() + "/fromftp/src")));
}


// What lstat and the bytes say about one entry, its access time kept.
std::string Look(const std::string &path, bool withOwner) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "missing";
  char buf[200];
  snprintf(buf, sizeof(buf), "kind %o mode %o size %lld mtime %lld.%09ld", (unsigned)(st.st_mode & S_IFMT),
           (unsigned)(st.st_mode & 07777), S_ISDIR(st.st_mode) ? 0LL : (long long)st.st_size,
           (long long)st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  std::string s = buf;
  if (!S_ISDIR(st.st_mode)) {
    snprintf(buf, sizeof(buf), " atime %lld.%09ld", (long long)st.st_atim.tv_sec, st.st_atim.tv_nsec);
    s += buf;
  }
  if (withOwner) s += " owner " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
  if (S_ISLNK(st.st_mode)) {
    std::string t(8192, '\0');
    ssize_t n = readlink(path.c_str(), &t[0], t.size());
    s += " -> " + t.substr(0, n < 0 ? 0 : (size_t)n);
  }
  if (S_ISREG(st.st_mode)) s += " data " + std::to_string(std::hash<std::string>()(vrktest::ReadFile(path)));
  // Reading moved the access time: it is set back for the next look.
  struct timespec ts[2] = {st.st_atim, {0, UTIME_OMIT}};
  utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW);
  return s;
}

// Every kind of entry the stand-in keeps comes back whole through a local
// saveset and through an FTP storage node: bytes, sizes around and at
// multiples of the read buffer, modes with the setuid, setgid and sticky
// bits, owners (as root), both times, link targets, odd names, deep and
// empty directories, a sparse file whose hole stays a hole. FIFOs and
// devices are not kept: the backup says so for each.
TEST(RestoreE2E, EveryKindOfEntryComesBackWhole) {
  const bool root = geteuid() == 0;
  std::string deep = "deep";
  for (int i = 0; i < 40; ++i) deep += "/d" + std::to_string(i);
  const std::string longName(255, 'n');
  struct Case {
    std::string name;
    std::function<void(const std::string &)> make;
  };
  auto file = [](const std::string &data, mode_t mode) {
    return [data, mode](const std::string &p) {
      vrktest::WriteFile(p, data);
      chmod(p.c_str(), mode);
    };
  };
  auto link = [](const std::string &target) {
    return [target](const std::string &p) { ASSERT_EQ(0, symlink(target.c_str(), p.c_str())); };
  };
  auto dir = [](mode_t mode) {
    return [mode](const std::string &p) {
      ASSERT_EQ(0, mkdir(p.c_str(), 0700));
      chmod(p.c_str(), mode);
    };
  };
  std::vector<Case> cases = {
      {"empty", file("", 0600)},
      {"one", file("x", 0644)},
      {"setuid", file("u", 04755)},
      {"setgid", file("g", 02711)},
      {"all bits", file("a", 07777)},
      {"no bits", file("z", 0)},
      {"sticky dir", dir(01777)},
      {"setgid dir", dir(02770)},
      {"empty dir", dir(0755)},
      {"abs link", link("/etc/passwd")},
      {"rel link", link("one")},
      {"dangling link", link("no/such/thing")},
      {"long link", link(std::string(4000, 't'))},
      {" blanks  around ", file("b", 0644)},
      {"new\nline", file("nl", 0644)},
      {"bad\xff\xfe utf-8", file("nu", 0644)},
      {"-leading dash", file("d", 0644)},
      {longName, file("long", 0644)},
      {"deep", [&](const std::string &p) {
         ASSERT_EQ(0, mkdir(p.c_str(), 0755));
         std::string d = p;
         for (int i = 0; i < 40; ++i) ASSERT_EQ(0, mkdir((d += "/d" + std::to_string(i)).c_str(), 0755));
         vrktest::WriteFile(d + "/leaf", "leaf");
       }},
      {"sparse", [](const std::string &p) {
         vrktest::WriteFile(p, "head");
         ASSERT_EQ(0, truncate(p.c_str(), 32 << 20));
         int fd = open(p.c_str(), O_WRONLY);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(4, pwrite(fd, "tail", 4, 32 << 20));
         close(fd);
       }},
  };
  for (size_t n : {4095, 4096, 4097, 65535, 65536, 65537, 131072, 131073, 3 * 65536})
    cases.push_back({"size " + std::to_string(n), file(Pattern(n, (unsigned)n), 0644)});
  if (root) {
    cases.push_back({"owned", [](const std::string &p) {
                       vrktest::WriteFile(p, "o");
                       ASSERT_EQ(0, chown(p.c_str(), 1234, 5678));
                     }});
    cases.push_back({"owned link", [](const std::string &p) {
                       ASSERT_EQ(0, symlink("one", p.c_str()));
                       ASSERT_EQ(0, lchown(p.c_str(), 4321, 8765));
                     }});
  }
  const std::vector<std::string> left = root ? std::vector<std::string>{"fifo", "null device"}
                                             : std::vector<std::string>{"fifo"};

  BackupJob job;
  const std::string src = job.data() + "/src";
  ASSERT_EQ(0, mkdir(src.c_str(), 0755));
  int64_t when = 1000000000;
  for (const Case &c : cases) {
    c.make(src + "/" + c.name);
    // Times of their own, with nanoseconds; one before 1970.
    struct timespec ts[2] = {{(time_t)when + 7, 123456789}, {(time_t)when, 987654321}};
    if (c.name == "one") ts[0].tv_sec = ts[1].tv_sec = -86400 * 400;
    utimensat(AT_FDCWD, (src + "/" + c.name).c_str(), ts, AT_SYMLINK_NOFOLLOW);
    when += 100000;
  }
  ASSERT_EQ(0, mkfifo((src + "/fifo").c_str(), 0600));
  if (root) {
    ASSERT_EQ(0, mknod((src + "/null device").c_str(), S_IFCHR | 0666, makedev(1, 3)));
  }
  std::map<std::string, std::string> want;
  for (const Case &c : cases) want[c.name] = Look(src + "/" + c.name, root);
  want["deep leaf"] = Look(src + "/" + deep + "/leaf", root);

  struct Road {
    const char *name;
    bool ftp;
  } roads[] = {{"saveset", false}, {"ftp", true}};
  for (const Road &road : roads) {
    SCOPED_TRACE(road.name);
    std::unique_ptr<vrktest::VsftpdPeer> node;
    std::vector<std::string> to{"-s", "@" + job.saveset()};
    if (road.ftp) {
      if (!vrktest::VsftpdPeer::Available()) continue;
      node.reset(new vrktest::VsftpdPeer);
      ASSERT_TRUE(node->ready()) << node->log();
      int start = vrktest::RangeStart();
      to = {"-S", "127.0.0.1:" + std::to_string(node->port()) + "," + std::to_string(start) + "-" +
                      std::to_string(start + 40),
            "-d", "incoming", "-O", "fidelity"};
    }
    std::vector<std::string> args{"-l", "FULL", "-o", "PRESERVE_ACCESS_TIME"};
    args.insert(args.end(), to.begin(), to.end());
    args.push_back("/src");
    Result r = job.Backup(args);
    ASSERT_EQ(0, r.exitCode()) << r.err;
    for (const std::string &l : left)
      EXPECT_TRUE(Has(r.err, "vrk_sms: /src/" + l + ": left out, a ")) << l << "\n" << r.err;
    const std::string target = std::string("/back-") + road.name;
    std::vector<std::string> back{"-r", "-N", kLogin};
    back.insert(back.end(), to.begin(), to.end());
    back.insert(back.end(), {"-R", target});
    r = job.Run(back);
    ASSERT_EQ(0, r.exitCode()) << r.err;
    const std::string got = job.data() + target + "/src";
    for (const Case &c : cases) EXPECT_EQ(want[c.name], Look(got + "/" + c.name, root)) << c.name;
    EXPECT_EQ(want["deep leaf"], Look(got + "/" + deep + "/leaf", root));
    for (const std::string &l : left) EXPECT_FALSE(Exists(got + "/" + l)) << l;
    struct stat a, b;
    ASSERT_EQ(0, stat((src + "/sparse").c_str(), &a));
    ASSERT_EQ(0, stat((got + "/sparse").c_str(), &b));
    EXPECT_LE(b.st_blocks, a.st_blocks + 64) << "the hole was filled";
    EXPECT_EQ("", Leftovers(job.data()));
  }
}


// A user made by the test, or the reason why none can be made.
bool OrdinaryUser(e2e::TestUser *user, std::string *why) { return e2e::MakeTestUser("vrk-t-a", user, why); }

// Restores as an ordinary user: every tree the user could back up comes
// back whole, with every mode and time, read-only directories holding
// subdirectories included (their modes and times are set after what lies
// beneath them).
TEST(RestoreE2E, AnOrdinaryUserRestoresAnyTreeTheyBackedUp) {
  e2e::TestUser user;
  std::string why;
  if (!OrdinaryUser(&user, &why)) GTEST_SKIP() << why;
  auto readOnly = [](const std::string &s) {
    MakeTree(s.substr(0, s.size() - 4));
    for (const char *d : {"/sub/deep", "/sub", ""}) chmod((s + d).c_str(), 0555);
    chmod((s + "/with blank").c_str(), 0500);
  };
  struct Case {
    const char *name;
    std::function<void(const std::string &)> make;
    bool overTheFirst = false;  // restored once more, with overwrite, over the first restore
    bool subElsewhere = false;  // a rename pair sends sub elsewhere; what follows it stays
  } cases[] = {
      {"read-only directories holding subdirectories", readOnly},
      {"read-only directories restored once more over the first restore", readOnly, true},
      {"a read-only directory whose subdirectory a rename pair sends elsewhere", readOnly, false, true},
      {"read-only directories with files only for the owner, and times of their own",
       [](const std::string &s) {
         for (const char *d : {"", "/a", "/a/b", "/a/b/c"}) mkdir((s + d).c_str(), 0755);
         Write(s + "/a/b/c/f.txt", "f\n", 1200000000, 0400);
         Write(s + "/a/g.txt", "g\n", 1210000000, 0444);
         const struct {
           const char *d;
           mode_t mode;
         } dirs[] = {{"/a/b/c", 0500}, {"/a/b", 0555}, {"/a", 0511}, {"", 0555}};
         int64_t when = 1000000000;
         for (const auto &d : dirs) {
           struct timespec ts[2] = {{(time_t)when, 0}, {(time_t)when, 0}};
           utimensat(AT_FDCWD, (s + d.d).c_str(), ts, 0);
           chmod((s + d.d).c_str(), d.mode);
           when += 1000;
         }
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    c.make(job.data() + "/src");
    ASSERT_TRUE(job.RunAs(user));
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, r.exitCode()) << r.err;
    r = Restore(job, {"-R", c.subElsewhere ? "/src/sub==::==/back/moved==::==/src==::==/back/src" : "/back"});
    EXPECT_EQ(0, r.exitCode()) << r.err;
    if (c.subElsewhere) {
      EXPECT_FALSE(Has(r.err, "could not be created")) << r.err;
      std::map<std::string, Entry> want = Tree(job.data() + "/src");
      for (auto it = want.begin(); it != want.end();)
        it = it->first.rfind("/sub/", 0) == 0 ? want.erase(it) : std::next(it);
      EXPECT_EQ("", Diff(want, Tree(job.data() + "/back/src")));
      EXPECT_EQ("", Diff(Tree(job.data() + "/src/sub"), Tree(job.data() + "/back/moved")));
      EXPECT_EQ("", Leftovers(job.data()));
      continue;
    }
    if (c.overTheFirst) {
      r = Restore(job, {"-o", "overwrite", "-R", "/back"});
      EXPECT_EQ(0, r.exitCode()) << r.err;
    }
    EXPECT_FALSE(Has(r.err, "could not be created")) << r.err;
    EXPECT_EQ("", Diff(Tree(job.data() + "/src"), Tree(job.data() + "/back/src")));
    EXPECT_EQ("", Leftovers(job.data()));
  }
}

// A restore killed with SIGKILL leaves its temporary file (a new file takes
// the named road here, as where the file system has no unnamed files); the
// next restore into the same directory removes it, and only what is its
// own: names of its form for its user and an ended process, owned by its user.
TEST(RestoreE2E, TheNextRestoreRemovesTheTemporaryOfAKilledOne) {
  e2e::TestUser user;
  std::string why;
  if (!OrdinaryUser(&user, &why)) GTEST_SKIP() << why;
  BackupJob job("unnamed_new_files = no\n");
  MakeTree(job.data());
  ASSERT_TRUE(job.RunAs(user));
  BackupSrc(job);
  const std::string whole = vrktest::ReadFile(job.saveset());
  size_t bigAt = whole.find("big.bin");
  ASSERT_NE(std::string::npos, bigAt);

  // The stored object through a pipe that stops inside big.bin: the client
  // waits there with the file's temporary made, and is killed.
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  void (*oldPipe)(int) = signal(SIGPIPE, SIG_IGN);
  std::atomic<bool> killed{false};
  std::thread writer([&] {
    std::string part = whole.substr(0, bigAt + 200000);
    for (size_t at = 0; at < part.size();) {
      ssize_t n = write(pipeFds[1], part.data() + at, part.size() - at);
      if (n <= 0) break;
      at += (size_t)n;
    }
    while (!killed) usleep(10000);
    close(pipeFds[1]);
  });
  const std::string deep = job.data() + "/r/src/sub/deep";
  Result r = job.Run({"-r", "-N", kLogin, "-s", "-", "-R", "/r"},
                     [&](pid_t pid, const std::string &) {
                       if (Leftovers(deep).empty()) return false;
                       kill(-pid, SIGKILL);
                       return true;
                     },
                     pipeFds[0]);
  killed = true;
  writer.join();
  signal(SIGPIPE, oldPipe);
  ASSERT_TRUE(WIFSIGNALED(r.status)) << r.err;
  std::string left = Leftovers(deep);
  ASSERT_NE("", left);
  EXPECT_TRUE(Has(left, "/.vrk-restore-" + std::to_string(user.uid) + "-")) << left;

  // Names that are not the killed restore's own, beside its temporary.
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  auto name = [](unsigned uid, long pid) {
    return ".vrk-restore-" + std::to_string(uid) + "-" + std::to_string(pid) + "-0000abcd";
  };
  struct Foreign {
    std::string name;
    uid_t owner;
  } foreign[] = {
      {name(user.uid, ended), 0},                // the user's name form, but another owner
      {name(user.uid + 1, ended), user.uid},     // another user's name form
      {name(user.uid, getpid()), user.uid},      // a process that still runs
      {name(user.uid, ended) + ".x", user.uid},  // not the name form
  };
  for (const Foreign &f : foreign) {
    vrktest::WriteFile(deep + "/" + f.name, "not the restore's\n");
    ASSERT_EQ(0, chown((deep + "/" + f.name).c_str(), f.owner, user.gid));
  }

  // Over what the killed one made, its directories included.
  r = Restore(job, {"-o", "overwrite", "-R", "/r"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  std::string expected;
  for (const Foreign &f : foreign) expected += deep + "/" + f.name + "\n";
  std::string now = Leftovers(deep);
  for (const Foreign &f : foreign) EXPECT_TRUE(Has(now, deep + "/" + f.name + "\n")) << f.name << "\n" << now;
  EXPECT_EQ(expected.size(), now.size()) << now;
  for (const Foreign &f : foreign) unlink((deep + "/" + f.name).c_str());
  struct stat was;
  ASSERT_EQ(0, stat((job.data() + "/src/sub/deep").c_str(), &was));
  struct timespec keep[2] = {{0, UTIME_OMIT}, was.st_mtim};  // the unlinks moved its time
  utimensat(AT_FDCWD, deep.c_str(), keep, 0);
  EXPECT_EQ("", Diff(Tree(job.data() + "/src"), Tree(job.data() + "/r/src")));
}

// Refusals name the file and say why.
TEST(RestoreE2E, RefusalsNameTheFileAndTheReason) {
  BackupJob job;
  MakeTree(job.data());
  // A stored name with a line break and a terminal escape: the refusal
  // shows them escaped and stays one line.
  Write(job.data() + "/src/line\nbreak\x1b[2J", "x\n", 1300000000);
  BackupSrc(job);
  ASSERT_EQ(0, mkdir((job.data() + "/into").c_str(), 0755));
  ASSERT_EQ(0, mkdir((job.data() + "/into/src").c_str(), 0755));
  ASSERT_EQ(0, mkdir((job.data() + "/into/src/line\nbreak\x1b[2J").c_str(), 0755));
  ASSERT_EQ(0, mkdir((job.data() + "/real").c_str(), 0755));
  ASSERT_EQ(0, symlink("real", (job.data() + "/lnk").c_str()));
  ASSERT_EQ(0, mkdir((job.data() + "/up").c_str(), 0755));
  ASSERT_EQ(0, symlink("../real", (job.data() + "/up/lnk").c_str()));
  struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"-s", "@" + job.saveset(), "-R", "/lnk"},
       "vrk_sms: /lnk/src/: not restored: /lnk is a symbolic link, which a restore never follows"},
      {{"-s", "@" + job.saveset(), "-R", "/up/lnk/x"},
       "vrk_sms: /up/lnk/x/src/: not restored: /up/lnk is a symbolic link, which a restore never follows"},
      {{"-s", "@" + job.data()}, "System call failed: Is a directory [" + job.data() + "]"},
      {{"-s", "@" + job.saveset(), "-R", "/into", "/src/line*"},
       "vrk_sms: /into/src/line\\x0abreak\\x1b[2J: not restored: a directory stands in its place\n"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> a{"-r", "-N", kLogin};
    a.insert(a.end(), c.args.begin(), c.args.end());
    Result r = job.Run(a);
    EXPECT_EQ(3, r.exitCode()) << c.says << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    EXPECT_FALSE(Has(r.err, "\x1b")) << r.err;
  }
  EXPECT_EQ(0u, Tree(job.data() + "/real").size() - 1) << "nothing written through the links";
}

}  // namespace
