// End-to-end tests of vrk_nlm -b against stand-in worlds: the stored object
// on a local saveset, standard output and vsftpd, read back with the tests'
// own DE reader and compared with the source tree; levels, exclusions, open
// failures and the TSA fail-over table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "../xbsa/xbsa_peers.h"
#include "backup_job.h"
#include "e2e_files.h"
#include "de_check.h"

namespace {

using decheck::Occurrence;
using e2e::BackupJob;
using e2e::Has;
using e2e::Result;

const int64_t kOld = 1000000000;  // 2001-09-09: far before every reference time

void Write(const std::string &path, const std::string &data, int64_t mtime = kOld) {
  vrktest::WriteFileAt(path, data, mtime);
}

using vrktest::Bytes;

// Stream bytes of a file's data set besides its data: header of 58 bytes
// and the name, trailer of 16.
size_t StreamOverhead(const std::string &name) { return 58 + name.size() + 16; }

// A tree of nested directories, symbolic links, an empty file and a file
// whose data-set stream is exactly one read buffer.
void MakeTree(const std::string &root) {
  Write(root + "/exact", Bytes(65536 - StreamOverhead("exact"), 1));
  Write(root + "/empty", "");
  mkdir((root + "/sub").c_str(), 0755);
  Write(root + "/sub/a.txt", "hello\n");
  Write(root + "/sub/b.tmp", "scratch\n");
  if (symlink("a.txt", (root + "/sub/link").c_str()) != 0) ADD_FAILURE() << "symlink";
  mkdir((root + "/sub/deep").c_str(), 0700);
  Write(root + "/sub/deep/d.bin", Bytes(150000, 2));
  if (symlink("..", (root + "/sub/deep/up").c_str()) != 0) ADD_FAILURE() << "symlink";
  mkdir((root + "/skip").c_str(), 0755);
  Write(root + "/skip/x", "x\n");
}

struct Stored {
  std::vector<decheck::Record> records;
  std::vector<Occurrence> occ;
  std::string why;
};

Stored Read(const std::string &object) {
  Stored s;
  if (!decheck::ParseObject(object, s.records, s.why)) return s;
  decheck::Occurrences(s.records, s.occ, s.why);
  return s;
}

const Occurrence *Find(const Stored &s, const std::string &path) {
  const Occurrence *last = nullptr;
  for (const Occurrence &o : s.occ)
    if (o.path == path) last = &o;
  return last;
}

std::map<std::string, decheck::Entry> Without(std::map<std::string, decheck::Entry> t,
                                              const std::vector<std::string> &gone) {
  for (const std::string &g : gone) t.erase(g);
  return t;
}

TEST(BackupE2E, FullBackupToALocalSavesetStoresTheWholeTree) {
  BackupJob job;
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  Stored s = Read(vrktest::ReadFile(job.saveset()));
  ASSERT_EQ("", s.why);
  EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data())));
  EXPECT_EQ(s.occ.size(), decheck::Tree(job.data()).size()) << "every data set once";

  const Occurrence *exact = Find(s, "/exact");
  ASSERT_NE(nullptr, exact);
  EXPECT_EQ((std::vector<size_t>{65536, 0}), exact->sizes) << "a full block, an empty one, then the marker";
  const Occurrence *empty = Find(s, "/empty");
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(1u, empty->records);
  const Occurrence *big = Find(s, "/sub/deep/d.bin");
  ASSERT_NE(nullptr, big);
  EXPECT_EQ(3u, big->records);

  // Records carry the long name only, with both dates, and the terminal flag.
  for (const decheck::Record &rec : s.records) {
    if (rec.marker) continue;
    ASSERT_EQ(1u, rec.names.size());
    EXPECT_EQ(260u, rec.names[0].nameSpace);
    EXPECT_EQ(1, rec.terminal);
    EXPECT_NE(0u, rec.modified);
  }
  EXPECT_TRUE(Has(r.err, "Total read:")) << r.err;
  EXPECT_TRUE(Has(r.err, "Items processed correctly: [" + std::to_string(s.occ.size()) + "]")) << r.err;
  // Archive status after every data set of a full backup; the markers committed.
  EXPECT_EQ(s.occ.size(), job.Calls("NWSMTSSetArchiveStatus").size());
  struct stat st;
  EXPECT_EQ(0, stat(job.file("times/job.I").c_str(), &st));
}


TEST(BackupE2E, StandardOutputCarriesTheSameObject) {
  BackupJob job;
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-s", "-", "/"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  Stored s = Read(r.out);
  ASSERT_EQ("", s.why);
  EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data())));
}

TEST(BackupE2E, ExcludesOfEverySelectionType) {
  struct Case {
    const char *name;
    std::vector<std::string> args;
    std::string excludeFile;
    std::vector<std::string> gone;
  } cases[] = {
      // No parent part: children excluded by name, anywhere.
      {"by name", {"-x", "*.tmp"}, "", {"/sub/b.tmp"}},
      // A parent part: the child by its full name only.
      {"by full name", {"-x", "/sub/a.txt"}, "", {"/sub/a.txt"}},
      // A parent part ending in a slash: the directory and its subtree too.
      {"directory", {"-x", "/skip/"}, "", {"/skip/", "/skip/x"}},
      {"list", {"-x", "*.tmp,/skip/"}, "", {"/sub/b.tmp", "/skip/", "/skip/x"}},
      // The exclude file adds its lines behind the -x items.
      {"file", {"-x", "*.tmp"}, "/sub/deep/\n\n/exact\n", {"/sub/b.tmp", "/exact", "/sub/deep/",
                                                               "/sub/deep/d.bin", "/sub/deep/up"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    MakeTree(job.data());
    std::vector<std::string> args{"-l", "FULL", "-s", "@" + job.saveset()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (!c.excludeFile.empty()) {
      vrktest::WriteFile(job.file("exclude"), c.excludeFile);
      args.push_back("-X");
      args.push_back(job.file("exclude"));
    }
    args.push_back("/");
    Result r = job.Backup(args);
    EXPECT_EQ(0, r.exitCode()) << r.err;
    Stored s = Read(vrktest::ReadFile(job.saveset()));
    ASSERT_EQ("", s.why);
    EXPECT_EQ("", decheck::CheckStored(s.occ, Without(decheck::Tree(job.data()), c.gone)));
  }
}

TEST(BackupE2E, AnItemThatCannotBeOpenedIsAWarningAndNotSaved) {
  BackupJob job("in_use = /sub/a.txt\n");
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/"});
  EXPECT_EQ(1, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Unable to open item [/sub/a.txt]: [Count as warning].")) << r.err;
  EXPECT_TRUE(Has(r.err, "Not processed or incorrectly processed items: [1].")) << r.err;
  Stored s = Read(vrktest::ReadFile(job.saveset()));
  ASSERT_EQ("", s.why);
  EXPECT_EQ("", decheck::CheckStored(s.occ, Without(decheck::Tree(job.data()), {"/sub/a.txt"})));
}


// Only the files of a tree (directories may be stored once per run).
std::map<std::string, decheck::Entry> FilesOf(const std::map<std::string, decheck::Entry> &t) {
  std::map<std::string, decheck::Entry> out;
  for (auto &kv : t)
    if (kv.second.kind != 2) out.insert(kv);
  return out;
}

std::string Stamp(time_t t) {
  struct tm tm;
  localtime_r(&t, &tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
  return buf;
}

void Touch(const std::string &path, time_t t) {
  vrktest::WriteFile(path, "");
  struct timeval tv[2] = {{t, 0}, {t, 0}};
  utimes(path.c_str(), tv);
}

TEST(BackupE2E, LevelsFilterByTheReferenceTimeAndSetArchiveStatusWhereTheyShould) {
  const time_t now = time(nullptr);
  const time_t future = now + 2 * 86400, ahead = now + 86400;
  enum Expect { kAll, kNewOnly };
  struct Case {
    const char *name;
    std::vector<std::string> args;
    const char *marker;  // times/ marker written before the run,
    time_t markerAge;    // dated this many seconds before the run
    Expect stored;
    bool archive, committed;
  } cases[] = {
      {"FULL", {"-l", "FULL"}, nullptr, 0, kAll, true, true},
      {"COPY", {"-l", "COPY"}, nullptr, 0, kAll, false, false},
      // Reference time ahead of every creation (by the few seconds a marker
      // may lie ahead of the clock): the first run takes the files modified
      // since, the second run finds no file created since.
      {"INCREMENTAL", {"-l", "INCR"}, "job.I", -3, kNewOnly, true, true},
      {"DIFFERENTIAL", {"-l", "DIFF"}, "job.D", -3, kNewOnly, false, true},
      {"SINCE", {"-T", Stamp(ahead)}, nullptr, 0, kNewOnly, true, true},
      // Reference time behind the creation of the tree: the second run takes
      // every file that was created since and not modified since.
      {"INCREMENTAL created since", {"-l", "INCR"}, "job.I", 86400, kAll, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job("", "scan_types = 0x806003\n");
    MakeTree(job.data());
    Write(job.data() + "/new1", "new one\n", future);
    Write(job.data() + "/sub/deep/new2", Bytes(70000, 9), future);
    bool twoRuns = c.marker != nullptr || c.args[0] == "-T";
    // The levels with a reference follow a FULL: what was never saved at
    // all counts as changed.
    if (twoRuns) {
      ASSERT_EQ(0, job.Backup({"-l", "FULL", "-s", "@" + job.file("full"), "/"}).exitCode());
    }
    if (c.marker != nullptr) Touch(job.file(std::string("times/") + c.marker), time(nullptr) - c.markerAge);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-s", "@" + job.saveset(), "/"});
    Result r = job.Backup(args);
    EXPECT_EQ(0, r.exitCode()) << r.err;
    Stored s = Read(vrktest::ReadFile(job.saveset()));
    ASSERT_EQ("", s.why);
    auto tree = decheck::Tree(job.data());
    if (c.stored == kAll && !twoRuns) {
      EXPECT_EQ("", decheck::CheckStored(s.occ, tree));
    } else {
      auto want = FilesOf(tree);
      if (c.stored == kNewOnly) want = {{"/new1", want["/new1"]}, {"/sub/deep/new2", want["/sub/deep/new2"]}};
      std::vector<Occurrence> files;
      for (const Occurrence &o : s.occ)
        if (!o.parent) files.push_back(o);
      EXPECT_EQ("", decheck::CheckStored(files, want));
      EXPECT_EQ("", decheck::CheckStored(s.occ, tree, false, true));
      EXPECT_TRUE(Has(r.err, "Call ScanAndReadDataSets() Second Run (created items)")) << r.err;
    }
    size_t archived = job.Calls("NWSMTSSetArchiveStatus").size();
    if (c.archive) EXPECT_EQ(s.occ.size(), archived);
    else EXPECT_EQ(0u, archived);
    struct stat st;
    bool have = stat(job.file("times/job.I").c_str(), &st) == 0;
    EXPECT_EQ(c.committed, have && st.st_mtime >= now - 5 && st.st_mtime < ahead);
  }
}

// The second run of a level with a reference time starts whatever the first
// run answered; the error of a failed first run ends the job with 3. The
// second run's scan control is traced field by field.
TEST(BackupE2E, TheSecondRunStartsAfterAFailedFirstRun) {
  BackupJob job("fault NWSMTSScanNextDataSet = 1 0xFFFDFFDC\n");
  MakeTree(job.data());
  Result r = job.Backup({"-T", Stamp(time(nullptr) - 86400), "-s", "@" + job.saveset(), "-v", "4", "/"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "NWSMTSScanNextDataSet: (0XFFFDFFDC)")) << r.err;
  EXPECT_TRUE(Has(r.err, "Call ScanAndReadDataSets() Second Run (created items)")) << r.err;
  EXPECT_EQ(2u, job.Calls("NWSMTSScanDataSetBegin").size());
  for (const char *field : {"firstModifiedDateAndTime == 0", "lastModifiedDateAndTime == ", "firstCreateDateAndTime == ",
                            "lastCreateDateAndTime == 0", "firstAccessDateAndTime == ", "firstArchivedDateAndTime == ",
                            "childrenOnly == 0"})
    EXPECT_TRUE(Has(r.err, std::string("scanControl.") + field)) << field;
}

TEST(BackupE2E, AReferenceTimeBefore1980ScansNothing) {
  BackupJob job("", "scan_types = 0x806003\n");
  MakeTree(job.data());
  Touch(job.file("times/job.I"), 297043200);  // 1979-06-01
  Result r = job.Backup({"-l", "INCR", "-s", "@" + job.saveset(), "/"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "DOS packed time does not support year before 1980: 1979")) << r.err;
  EXPECT_TRUE(job.Calls("NWSMTSScanDataSetBegin").empty());
  EXPECT_FALSE(Has(r.err, "Total read:")) << r.err;
}

// -o PRESERVE_ACCESS_TIME adds the TSA's open mode bit 0x40000 to every open
// and leaves the access times as they were; a TSA without that option gets
// the warning and the plain open mode, and the backup goes on.
TEST(BackupE2E, PreserveAccessTimeInTheOpenModeOrItsWarning) {
  struct Case {
    const char *name;
    const char *tsa;
    bool option, bit;
    int exitCode;
    const char *says;
  } cases[] = {
      {"asked and supported", "", true, true, 0, "SetOpenModeForBackup: > May cause locking problem on some OES!"},
      {"asked, not supported", "preserve_access_time = no\n", true, false, 1,
       "ATTENTION: TSA specific open mode NWSM_PRESERVE_ACCESS_TIME (10) not supported!"},
      {"not asked", "", false, false, 0, "SetOpenModeForBackup: Do not set NWSM_PRESERVE_ACCESS_TIME"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job("", c.tsa);
    MakeTree(job.data());
    std::vector<std::string> args{"-l", "FULL", "-v", "4", "-s", "@" + job.saveset()};
    if (c.option) args.insert(args.end(), {"-o", "PRESERVE_ACCESS_TIME"});
    args.push_back("/");
    Result r = job.Backup(args);
    EXPECT_EQ(c.exitCode, r.exitCode()) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    EXPECT_EQ(c.bit, Has(r.err, "SetOpenModeForBackup: Open mode with NWSM_PRESERVE_ACCESS_TIME")) << r.err;
    if (c.bit) {
      // Read whole, yet not accessed as far as the file system tells (asked
      // before the test reads the tree itself).
      struct stat st;
      for (const char *f : {"/exact", "/sub/deep/d.bin"}) {
        ASSERT_EQ(0, stat((job.data() + f).c_str(), &st)) << f;
        EXPECT_EQ(kOld, (int64_t)st.st_atime) << f;
      }
    }
    Stored s = Read(vrktest::ReadFile(job.saveset()));
    ASSERT_EQ("", s.why);
    EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data())));
    std::vector<std::string> opens = job.Calls("NWSMTSOpenDataSetForBackup");
    EXPECT_EQ(s.occ.size(), opens.size());
    for (const std::string &call : opens) {
      size_t at = call.find("mode=0x");
      ASSERT_NE(std::string::npos, at) << call;
      unsigned long mode = strtoul(call.c_str() + at + 7, nullptr, 16);
      EXPECT_EQ(c.bit, (mode & 0x40000UL) != 0) << call;
    }
  }
}

// The session takes UTF-8 names only from a TSA of API version 3 or later
// that names UTF-8 among its name types; a failed query of either is no
// error. With UTF-8 each data set is stored under its one long name in the
// UTF-8 long name space (260), else under the TSA's whole list of local names.
TEST(BackupE2E, SessionStartTakesUtf8NamesFromAnApiThreeTsaThatOffersThem) {
  struct Case {
    const char *name;
    std::string world, tsa;
    size_t nameTypeCalls;
    bool utf8;
  } cases[] = {
      {"API 3.0 with UTF-8", "", "", 1, true},
      {"API 2.9 with UTF-8", "", "api = 2.9\n", 0, false},
      {"API 3.0 without UTF-8", "", "utf8 = no\n", 1, false},
      {"version query fails", "fault NWSMTSGetTargetServiceAPIVersion = 1 0xFFFDFFB9\n", "", 0, false},
      {"name type query fails", "fault NWSMTSGetSupportedNameTypes = 1 0xFFFDFFB9\n", "", 1, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job(c.world, c.tsa);
    MakeTree(job.data());
    Write(job.data() + "/gr\xc3\xbc\xc3\x9f" "e", "non-ASCII name\n");
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/"});
    EXPECT_EQ(0, r.exitCode()) << r.err;
    EXPECT_EQ(c.utf8, Has(r.err, "StartSession: set isUTF8Supp = TRUE")) << r.err;
    EXPECT_EQ(1u, job.Calls("NWSMTSGetTargetServiceAPIVersion").size());
    EXPECT_EQ(c.nameTypeCalls, job.Calls("NWSMTSGetSupportedNameTypes").size());
    Stored s = Read(vrktest::ReadFile(job.saveset()));
    ASSERT_EQ("", s.why);
    EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data())));
    for (const decheck::Record &rec : s.records) {
      if (rec.marker || rec.names.empty()) continue;
      if (c.utf8) {
        EXPECT_EQ(1u, rec.names.size()) << rec.names[0].name;
        EXPECT_EQ(260u, rec.names[0].nameSpace) << rec.names[0].name;
      } else {
        EXPECT_LT(1u, rec.names.size()) << rec.names[0].name;
        for (const decheck::Name &n : rec.names) EXPECT_GT(256u, n.nameSpace) << n.name;
      }
    }
  }
}

// After the TSA answers 0xFFFDFFB9 or 0xFFFDFFCE to setting the archive status
// once, the job asks no more, in neither run; any other failure is only
// reported for its item. MakeTree gives 12 data sets.
TEST(BackupE2E, ArchiveStatusStopsForTheRestOfTheJobAfterTheTsaRefusesIt) {
  const time_t now = time(nullptr);
  struct Case {
    const char *name;
    const char *level;
    std::string fault;
    size_t calls;
    const char *says;
  } cases[] = {
      {"unsupported at the third", "FULL", "3 0xFFFDFFB9", 3, "TSA does not support NWSMTSSetArchiveStatus, now avoid it"},
      {"no such property at the first", "FULL", "1 0xFFFDFFCE", 1,
       "NWSMTSSetArchiveStatus returns No such property, now avoid it"},
      // Run 1 takes /new1 and its parent, run 2 the rest of the tree.
      {"no such property in the first of two runs", "INCR", "1 0xFFFDFFCE", 1,
       "NWSMTSSetArchiveStatus returns No such property, now avoid it"},
      {"another failure", "FULL", "3 0xFFFDFFBD", 12, "NWSMTSSetArchiveStatus failed for item: ["},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job("fault NWSMTSSetArchiveStatus = " + c.fault + "\n", "scan_types = 0x806003\n");
    MakeTree(job.data());
    bool twoRuns = std::string(c.level) == "INCR";
    if (twoRuns) {
      Write(job.data() + "/new1", "new one\n", now + 2 * 86400);
      Touch(job.file("times/job.I"), now - 86400);
    }
    Result r = job.Backup({"-l", c.level, "-s", "@" + job.saveset(), "/"});
    EXPECT_EQ(0, r.exitCode()) << r.err;
    // The refusal comes in the first run; the second asks no more.
    size_t second = r.err.find("Call ScanAndReadDataSets() Second Run (created items)");
    EXPECT_EQ(twoRuns, second != std::string::npos) << r.err;
    if (twoRuns) {
      EXPECT_LT(r.err.find(c.says), second) << r.err;
    }
    Stored s = Read(vrktest::ReadFile(job.saveset()));
    ASSERT_EQ("", s.why);
    EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data()), true, twoRuns));
    EXPECT_EQ(c.calls, job.Calls("NWSMTSSetArchiveStatus").size()) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
  }
}


// Read calls of MakeTree's data sets in scan order: / 1, /empty 2, /exact 3-4,
// /skip/ 5, /skip/x 6, /sub/ 7, /sub/a.txt 8, /sub/b.tmp 9, /sub/link 10,
// /sub/deep/ 11, /sub/deep/d.bin 12-14, /sub/deep/up 15.
TEST(BackupE2E, AFailOverLosesNothing) {
  const std::string lost = " 0xFFFDFFAF\n";
  struct Case {
    const char *name;
    std::string world;
    const char *cut;  // a data set stored partly before the fail-over
    bool resumed;     // the scan goes on with NWSMTSScanDataSetContinue
  } cases[] = {
      {"at the scan start", "lose NWSMTSScanDataSetBegin = 1" + lost, nullptr, false},
      {"at the open of the first data set", "lose NWSMTSOpenDataSetForBackup = 1" + lost, nullptr, false},
      {"at the open of a later data set", "lose NWSMTSOpenDataSetForBackup = 7" + lost, nullptr, true},
      {"at a first read, behind a child", "lose NWSMTSReadDataSet = 3" + lost, nullptr, true},
      {"in a read with a block written", "lose NWSMTSReadDataSet = 13" + lost, "/sub/deep/d.bin", true},
      {"at the first child behind a parent", "lose NWSMTSReadDataSet = 8" + lost, nullptr, true},
      {"at the next data set", "lose NWSMTSScanNextDataSet = 5" + lost, nullptr, true},
      // Without a resumable scan the scan begins again and skips to the restart point.
      {"without resumable scans", "optional_calls = no\nlose NWSMTSReadDataSet = 13" + lost, "/sub/deep/d.bin",
       false},
      {"without resumable scans, behind a child", "optional_calls = no\nlose NWSMTSReadDataSet = 9" + lost,
       nullptr, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job(c.world);
    MakeTree(job.data());
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/"});
    EXPECT_EQ(1, r.exitCode()) << r.err;
    EXPECT_TRUE(Has(r.err, "Fail Over / Fail Back...")) << r.err;
    EXPECT_EQ(c.resumed, !job.Calls("NWSMTSScanDataSetContinue").empty());
    bool skipped = Has(c.name, "without");
    EXPECT_EQ(skipped, Has(r.err, "Restart the scan and skip to [")) << r.err;
    Stored s = Read(vrktest::ReadFile(job.saveset()));
    ASSERT_EQ("", s.why);
    EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data())));
    size_t partial = 0;
    for (const Occurrence &o : s.occ)
      if (!o.stream.complete) {
        ++partial;
        EXPECT_TRUE(c.cut != nullptr && o.path == c.cut) << o.path;
        EXPECT_TRUE(o.ended) << "a cut data set is ended with a marker";
      }
    EXPECT_EQ(c.cut != nullptr ? 1u : 0u, partial);
    if (c.cut != nullptr) {
      EXPECT_TRUE(Has(r.err, std::string("Write end of file index record for item [") + c.cut)) << r.err;
    }
  }
}

// A resumed scan that the TSA refuses ends the loop with its general
// failure: the job fails, and the scan is not begun again.
TEST(BackupE2E, AResumedScanThatFailsEndsTheJobWithAnError) {
  BackupJob job("lose NWSMTSReadDataSet = 9 0xFFFDFFAF\nfault NWSMTSScanDataSetContinue = 1 0xFFFDFFDC\n");
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-s", "-", "/"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Fail Over / Fail Back...")) << r.err;
  EXPECT_TRUE(Has(r.err, "NWSMTSScanDataSetContinue: (0XFFFDFFDC)")) << r.err;
  EXPECT_TRUE(Has(r.err, "ScanAndReadDataSets: return [-262145]")) << r.err;
  EXPECT_FALSE(Has(r.err, "Restart the scan and skip to [")) << r.err;
  EXPECT_EQ(1u, job.Calls("NWSMTSScanDataSetContinue").size());
  EXPECT_EQ(1u, job.Calls("NWSMTSScanDataSetBegin").size());
  // What was stored before the fail-over is readable and complete.
  Stored s = Read(r.out);
  ASSERT_EQ("", s.why);
  EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data()), false));
  EXPECT_EQ(7u, s.occ.size()) << "the data sets up to /sub/a.txt";
}

// With cluster parameters the restart point is named in the name space that
// answers for name space 0 of the first data set; the counters of the scan
// lose a data set only after an open error, since a read error leaves the
// data set in the counts before the resumed scan returns it again.
TEST(BackupE2E, TheFailOverNameSpaceAndTheCountersOfTheScan) {
  struct Case {
    const char *name;
    std::string world;
    const char *counts[3];  // resources, directories, files
  } cases[] = {
      {"no fail-over", "", {"resources scanned: 12", "Directories scanned: 4", "Files scanned: 8"}},
      {"open error at /sub/", "lose NWSMTSOpenDataSetForBackup = 7 0xFFFDFFAF\n",
       {"resources scanned: 12", "Directories scanned: 4", "Files scanned: 8"}},
      {"read error in /sub/deep/d.bin", "lose NWSMTSReadDataSet = 13 0xFFFDFFAF\n",
       {"resources scanned: 13", "Directories scanned: 4", "Files scanned: 9"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job(c.world);
    MakeTree(job.data());
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "-v", "3", "/"});
    EXPECT_EQ(c.world.empty() ? 0 : 1, r.exitCode()) << r.err;
    EXPECT_TRUE(Has(r.err, "NWSMGetDataSetName for cluster params returned name space 0X")) << r.err;
    for (const char *count : c.counts) EXPECT_TRUE(Has(r.err, std::string("Number of ") + count + "\n")) << r.err;
  }
}

TEST(BackupE2E, AFailedReconnectEndsTheJobWithAnError) {
  BackupJob job("lose NWSMTSReadDataSet = 8 0xFFFDFFAF\nfault NWSMConnectToTSA = 2-100 0xFFFDFFBA\n");
  MakeTree(job.data());
  // Standard output is written straight (a saveset file of a failed job is
  // never put in place): what was stored before is readable and complete.
  Result r = job.Backup({"-l", "FULL", "-s", "-", "/"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Error Reconnecting after Retries")) << r.err;
  EXPECT_EQ(11u, job.Calls("NWSMConnectToTSA").size()) << "the first connect and ten reconnect tries";
  Stored s = Read(r.out);
  ASSERT_EQ("", s.why);
  EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data()), false));
  EXPECT_EQ(6u, s.occ.size()) << "the data sets before /sub/a.txt";
}


// The scan start fails again after a successful reconnect: nothing can be
// saved, and the job must not end as a success with warnings.
TEST(BackupE2E, AScanStartThatFailsAgainAfterAReconnectEndsTheJobWithAnError) {
  BackupJob job("lose NWSMTSScanDataSetBegin = 1 0xFFFDFFAF\nfault NWSMTSScanDataSetBegin = 2 0xFFFDFFDC\n");
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Fail Over / Fail Back...")) << r.err;
  EXPECT_EQ(2u, job.Calls("NWSMTSScanDataSetBegin").size());
  EXPECT_TRUE(Has(r.err, "Backup source [/] could not be found. Exiting.")) << r.err;
  EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
}

// A source the TSA cannot find is named as it was given, a relative one
// too, in the TSA's answer and in the error; a source that is there is not.
TEST(BackupE2E, ASourceThatCannotBeFoundIsNamedAsGiven) {
  struct Case {
    std::vector<std::string> sources;
    std::vector<std::string> missing, there;
  } cases[] = {
      {{"data2"}, {"data2"}, {}},
      {{"/sub", "data2", "/nope"}, {"data2", "/nope"}, {"/sub"}},
  };
  for (const Case &c : cases) {
    BackupJob job;
    MakeTree(job.data());
    std::vector<std::string> args{"-l", "FULL", "-s", "@" + job.saveset()};
    args.insert(args.end(), c.sources.begin(), c.sources.end());
    Result r = job.Backup(args);
    EXPECT_EQ(3, r.exitCode()) << r.err;
    for (const std::string &m : c.missing) {
      EXPECT_TRUE(Has(r.err, "Error:    NWSMTSScanDataSetBegin [" + m + "]: (0XFFFDFFDC) \"Invalid path\"")) << r.err;
      EXPECT_TRUE(Has(r.err, "Error:    Backup source [" + m + "] could not be found. Exiting.")) << r.err;
    }
    for (const std::string &t : c.there) {
      EXPECT_FALSE(Has(r.err, "NWSMTSScanDataSetBegin [" + t + "]")) << r.err;
      EXPECT_FALSE(Has(r.err, "Backup source [" + t + "]")) << r.err;
    }
    EXPECT_FALSE(Has(r.err, "\"NWSMTSScanDataSetBegin: (")) << r.err;
  }
}

TEST(BackupE2E, TheObjectGoesToAnFtpStorageNode) {
  if (!vrktest::VsftpdPeer::Available()) GTEST_SKIP() << "vsftpd needs /usr/sbin/vsftpd, root and the ftp user";
  vrktest::VsftpdPeer node;
  ASSERT_TRUE(node.ready()) << node.log();
  BackupJob job;
  MakeTree(job.data());
  int start = vrktest::RangeStart();
  Result r = job.Backup({"-l", "FULL", "-S",
                         "127.0.0.1:" + std::to_string(node.port()) + "," + std::to_string(start) + "-" +
                             std::to_string(start + 40),
                         "-d", "incoming", "-O", "object1", "/"});
  EXPECT_EQ(0, r.exitCode()) << r.err << node.log();
  // The completed data argument names the object.
  Stored s = Read(vrktest::ReadFile(node.incoming() + "/object1:"));
  ASSERT_EQ("", s.why);
  EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data())));
}


TEST(BackupE2E, ReadErrorsAndSpecialFiles) {
  struct Case {
    const char *name;
    std::string world;
    std::vector<std::string> gone;  // not stored completely
    const char *partial;            // stored in part, ended with a marker
    int notSaved, exitCode;
    size_t failedOpens;
  } cases[] = {
      // A first read that fails: no record, no marker.
      {"first read", "fault NWSMTSReadDataSet = 12 0xFFFDFFEB\n", {"/sub/deep/d.bin"}, nullptr, 1, 1, 0},
      // A read that fails after a block: the block and a marker stay.
      {"later read", "fault NWSMTSReadDataSet = 13 0xFFFDFFEB\n", {"/sub/deep/d.bin"}, "/sub/deep/d.bin", 1, 1, 0},
      // A special file of the TSA that cannot be opened is no loss.
      {"special file", "in_use = /sub/AUDIT.LOG\n", {"/sub/AUDIT.LOG"}, nullptr, 0, 1, 1},
      // A directory that cannot be opened: its children, which the stream
      // names by terminal name only, would be restored into /sub; they are
      // counted as not saved instead.
      {"parent in use", "in_use = /sub/deep/\n", {"/sub/deep/", "/sub/deep/d.bin", "/sub/deep/up"}, nullptr, 3, 1, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job(c.world);
    MakeTree(job.data());
    // Added only here: the read numbers above count MakeTree's data sets.
    if (!c.gone.empty() && c.gone[0] == "/sub/AUDIT.LOG") Write(job.data() + "/sub/AUDIT.LOG", "audit\n");
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/"});
    EXPECT_EQ(c.exitCode, r.exitCode()) << r.err;
    EXPECT_TRUE(Has(r.err, "Not processed or incorrectly processed items: [" + std::to_string(c.notSaved) + "]."))
        << r.err;
    Stored s = Read(vrktest::ReadFile(job.saveset()));
    ASSERT_EQ("", s.why);
    std::vector<Occurrence> complete;
    for (const Occurrence &o : s.occ) {
      if (o.stream.complete) {
        complete.push_back(o);
        continue;
      }
      EXPECT_TRUE(c.partial != nullptr && o.path == c.partial) << o.path;
      EXPECT_TRUE(o.ended);
      EXPECT_EQ(1u, o.records);
    }
    EXPECT_EQ("", decheck::CheckStored(complete, Without(decheck::Tree(job.data()), c.gone)));
    // Every data set that opened is closed again.
    EXPECT_EQ(job.Calls("NWSMTSOpenDataSetForBackup").size() - c.failedOpens, job.Calls("NWSMTSCloseDataSet").size());
  }
}

// An exclude file that opens but cannot be read ends the job as a missing
// one does: nothing is stored, not even what no exclusion would leave out.
TEST(BackupE2E, AnUnreadableExcludeFileEndsTheBackupBeforeAnythingIsStored) {
  BackupJob job;
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-X", job.data() + "/sub", "-x", "*.tmp", "-s", "@" + job.saveset(), "/"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Error while reading exclude pattern file [" + job.data() +
                             "/sub]:[Read of exclude file failed: Is a directory]."))
      << r.err;
  EXPECT_NE(0, access(job.saveset().c_str(), F_OK));
  EXPECT_TRUE(job.Calls("NWSMTSScanDataSetBegin").empty());
}


// Configuration files that are not regular files: a device, a FIFO nobody
// writes, a pipe that delivers (what a shell's process substitution hands
// over) and an over-large regular file, as the exclude file and as the
// stand-in's world file. The data wait is two seconds.
enum class Given { kDevZero, kSilentFifo, kDeliveringPipe, kOverLarge };

struct NonRegularCase {
  const char *name;
  bool world;  // the world file, else the exclude file (-X)
  Given given;
  int exitCode;
  const char *message;
};

void PrintTo(const NonRegularCase &c, std::ostream *os) { *os << c.name; }

class NonRegularConfigFile : public ::testing::TestWithParam<NonRegularCase> {};

TEST_P(NonRegularConfigFile, EndsOrFailsWithinTheDataWait) {
  const NonRegularCase &c = GetParam();
  BackupJob job;
  MakeTree(job.data());
  vrktest::WriteFile(job.file("korva.ini"), vrktest::ReadFile(job.file("korva.ini")) + "VRK_DATA_WAIT=2\n");
  std::string path = c.world ? job.file("world") : job.file("exclude");
  // What the pipe row hands over: the real world, or one exclude line.
  std::string text = c.world ? vrktest::ReadFile(path) : "/sub/b.tmp\n";
  if (c.world) unlink(path.c_str());
  int pipeFd[2] = {-1, -1};
  switch (c.given) {
    case Given::kDevZero: ASSERT_EQ(0, symlink("/dev/zero", path.c_str())); break;
    case Given::kSilentFifo: ASSERT_EQ(0, mkfifo(path.c_str(), 0600)); break;
    case Given::kDeliveringPipe: {
      // Filled and closed before the client starts, which inherits the read end.
      ASSERT_LT(text.size(), 60000u);
      ASSERT_EQ(0, pipe(pipeFd));
      ASSERT_EQ((ssize_t)text.size(), write(pipeFd[1], text.data(), text.size()));
      close(pipeFd[1]);
      std::string fdPath = "/dev/fd/" + std::to_string(pipeFd[0]);
      if (c.world) ASSERT_EQ(0, symlink(fdPath.c_str(), path.c_str()));
      else path = fdPath;
      break;
    }
    case Given::kOverLarge: vrktest::WriteFile(path, text + std::string(5 << 20, '#')); break;
  }
  std::vector<std::string> args{"-l", "FULL", "-s", "@" + job.saveset(), "/"};
  if (!c.world) args.insert(args.begin(), {"-X", path});
  Result r = job.Backup(args);
  if (pipeFd[0] >= 0) close(pipeFd[0]);
  EXPECT_EQ(c.exitCode, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, c.message)) << r.err;
  if (c.exitCode != 0) return;
  Stored s = Read(vrktest::ReadFile(job.saveset()));
  ASSERT_EQ("", s.why);
  bool excluded = !c.world && c.given == Given::kDeliveringPipe;
  EXPECT_EQ("", decheck::CheckStored(s.occ, excluded ? Without(decheck::Tree(job.data()), {"/sub/b.tmp"})
                                                     : decheck::Tree(job.data())));
}

INSTANTIATE_TEST_SUITE_P(
    Files, NonRegularConfigFile,
    ::testing::Values(
        NonRegularCase{"ExcludeDevZero", false, Given::kDevZero, 3,
                       "]:[Read of exclude file failed: larger than 4194304 bytes]."},
        NonRegularCase{"ExcludeFifoNobodyWrites", false, Given::kSilentFifo, 3,
                       "]:[Read of exclude file failed: a FIFO with no writer]."},
        NonRegularCase{"ExcludePipeThatDelivers", false, Given::kDeliveringPipe, 0,
                       "Exclude pattern [/sub/b.tmp]"},
        NonRegularCase{"ExcludeOverLarge", false, Given::kOverLarge, 3,
                       "]:[Read of exclude file failed: larger than 4194304 bytes]."},
        NonRegularCase{"WorldDevZero", true, Given::kDevZero, 3, ": larger than 4194304 bytes"},
        NonRegularCase{"WorldFifoNobodyWrites", true, Given::kSilentFifo, 3, ": a FIFO with no writer"},
        NonRegularCase{"WorldPipeThatDelivers", true, Given::kDeliveringPipe, 0, "Operation successful"},
        NonRegularCase{"WorldOverLarge", true, Given::kOverLarge, 3, ": larger than 4194304 bytes"}),
    [](const ::testing::TestParamInfo<NonRegularCase> &p) { return std::string(p.param.name); });


// The main ini file (KV_INI) as a FIFO that nobody writes is refused at
// once, whatever the data wait; the same file handed over on standard input
// by a pipe that delivers it is read as ever.
TEST(BackupE2E, AMainIniFileThatIsAFifoWithoutWriterIsRefusedAtOnce) {
  BackupJob job;
  MakeTree(job.data());
  const std::string ini = vrktest::ReadFile(job.file("korva.ini"));
  const std::string fifo = job.file("ini.fifo");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  // No saveset: the job stops after its start, having read what it reads first.
  Result r = job.Run({"-b", "-l", "FULL"}, e2e::Watch(), -1, {"KV_INI=" + fifo, "VRK_DATA_WAIT=5"});
  EXPECT_TRUE(Has(r.err, "Unable to open ini file [" + fifo + "]:[a FIFO with no writer]. Using default values."))
      << r.err;

  int pipeFd[2];
  ASSERT_EQ(0, pipe(pipeFd));
  ASSERT_EQ((ssize_t)ini.size(), write(pipeFd[1], ini.data(), ini.size()));
  close(pipeFd[1]);
  r = job.Run({"-b", "-j", "job", "-N", "srv1:srv1.Linux File System:srv1:u:p:0", "-l", "FULL", "-s",
               "@" + job.saveset(), "/"},
              e2e::Watch(), pipeFd[0], {"KV_INI=/dev/stdin"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_FALSE(Has(r.err, "Unable to open ini file")) << r.err;
  // The ini's times directory got the job's marker.
  struct stat st;
  EXPECT_EQ(0, stat(job.file("times/job.I").c_str(), &st)) << r.err;
}


TEST(BackupE2E, AFirstSourceEndingInAColonBacksUpThatOneResource) {
  BackupJob job;
  vrktest::WriteFile(job.file("world"),
                     "[world]\nlog = " + job.file("calls.log") + "\n[smdr srv1]\n[tsa srv1.Linux File System]\n"
                     "resource VOL1: = " + job.data() + "\nresource VOL2: = " + job.file("tmp") + "\n");
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "VOL1:", "VOL2:"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Given target [VOL1:] is a resource")) << r.err;
  Stored s = Read(vrktest::ReadFile(job.saveset()));
  ASSERT_EQ("", s.why);
  std::map<std::string, decheck::Entry> want;
  for (auto &kv : decheck::Tree(job.data())) want["VOL1:" + kv.first.substr(1)] = kv.second;
  EXPECT_EQ("", decheck::CheckStored(s.occ, want));
}


// Name lookups per data set: the long name, then the name in the job's name
// space; /sub/a.txt is the seventh data set.
TEST(BackupE2E, AFailedNameLookupNeverCarriesThePreviousName) {
  BackupJob job("fault NWSMGetDataSetName = 13-14 0xFFFBFFF8\n");
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-v", "1", "-s", "@" + job.saveset(), "/"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Finish processing item: [/sub/a.txt]...")) << r.err;
  Stored s = Read(vrktest::ReadFile(job.saveset()));
  ASSERT_EQ("", s.why);
  EXPECT_EQ("", decheck::CheckStored(s.occ, decheck::Tree(job.data())));
  // Without its long name the record carries the scan's whole name list.
  EXPECT_TRUE(Has(r.err, "NWSMGetDataSetName: (LONG): (0XFFFBFFF8)")) << r.err;
  size_t seen = 0;
  for (const decheck::Record &rec : s.records)
    if (!rec.marker && rec.names[0].name == "a.txt") {
      ++seen;
      EXPECT_EQ(3u, rec.names.size());
    }
  EXPECT_EQ(1u, seen);
}

}  // namespace
