// FULL, one change, INCR and DIFF through the binary: each saveset holds the
// change, and a restore of FULL + INCR or FULL + DIFF gives back the live
// tree; what did not change is not stored again, and the archive state stays
// small however many FULLs run.
#include <dirent.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "backup_job.h"
#include "de_check.h"
#include "e2e_files.h"

namespace {

using e2e::BackupJob;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";
const time_t kOld = 1000000000;  // 2001: the tree's own modification times

// What a restore must give back of an entry.
struct Node {
  char kind = '?';
  unsigned mode = 0, uid = 0, gid = 0;
  long long mtimeSec = 0, mtimeNsec = 0;
  std::string data;  // a file's bytes, a link's target
};

void Walk(const std::string &root, const std::string &rel, std::map<std::string, Node> &out) {
  DIR *d = opendir((root + rel).c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (struct dirent *de = readdir(d)) {
    std::string n = de->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  for (const std::string &n : names) {
    std::string r = rel + "/" + n, full = root + r;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) continue;
    Node e;
    e.mode = st.st_mode & 07777;
    e.uid = st.st_uid;
    e.gid = st.st_gid;
    e.mtimeSec = st.st_mtim.tv_sec;
    e.mtimeNsec = st.st_mtim.tv_nsec;
    if (S_ISDIR(st.st_mode)) {
      e.kind = 'd';
      Walk(root, r, out);
    } else if (S_ISLNK(st.st_mode)) {
      e.kind = 'l';
      char buf[4096];
      ssize_t len = readlink(full.c_str(), buf, sizeof buf);
      e.data.assign(buf, len > 0 ? (size_t)len : 0);
    } else {
      e.kind = 'f';
      e.data = vrktest::ReadFile(full);
    }
    out[r] = e;
  }
}

std::map<std::string, Node> Snapshot(const std::string &root) {
  std::map<std::string, Node> out;
  struct stat st;
  if (lstat(root.c_str(), &st) == 0) {
    Node top;
    top.kind = 'd';
    top.mode = st.st_mode & 07777;
    top.uid = st.st_uid;
    top.gid = st.st_gid;
    top.mtimeSec = st.st_mtim.tv_sec;
    top.mtimeNsec = st.st_mtim.tv_nsec;
    out["/"] = top;
  }
  Walk(root, "", out);
  return out;
}

// What differs between the live tree and a restore of it; `extra` names the
// restore may hold beyond the live tree (deleted or renamed after the FULL).
std::string Differences(const std::map<std::string, Node> &live, const std::map<std::string, Node> &back,
                        const std::set<std::string> &extra) {
  const bool root = geteuid() == 0;
  std::string why;
  for (const auto &kv : live) {
    auto b = back.find(kv.first);
    if (b == back.end()) {
      why += kv.first + ": missing\n";
      continue;
    }
    const Node &w = kv.second, &g = b->second;
    if (w.kind != g.kind) why += kv.first + ": kind differs\n";
    if (w.data != g.data) why += kv.first + ": bytes differ\n";
    if (w.kind != 'l' && w.mode != g.mode) why += kv.first + ": mode differs\n";
    if (root && (w.uid != g.uid || w.gid != g.gid)) why += kv.first + ": owner differs\n";
    if (w.mtimeSec != g.mtimeSec || w.mtimeNsec != g.mtimeNsec) why += kv.first + ": time differs\n";
  }
  for (const auto &kv : back)
    if (!live.count(kv.first) && !extra.count(kv.first)) why += kv.first + ": not in the live tree\n";
  return why;
}

// The data sets a saveset holds, each name once.
std::set<std::string> Stored(const std::string &saveset, std::string &why) {
  std::vector<decheck::Record> recs;
  std::vector<decheck::Occurrence> occ;
  std::set<std::string> out;
  if (!decheck::ParseObject(vrktest::ReadFile(saveset), recs, why) || !decheck::Occurrences(recs, occ, why))
    return out;
  for (const decheck::Occurrence &o : occ) out.insert(o.path);
  return out;
}

void Write(const std::string &path, const std::string &data, time_t mtime) {
  vrktest::WriteFile(path, data);
  struct timespec ts[2] = {{mtime, 0}, {mtime, 0}};
  utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW);
}

void SetTime(const std::string &path, time_t mtime) {
  struct timespec ts[2] = {{mtime, 0}, {mtime, 0}};
  utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW);
}

// Waits until the clock has passed t: reference times are packed to two
// seconds, and what the tree holds must lie wholly before the FULL's.
void WaitForClockPast(time_t t) {
  while (time(nullptr) <= t) {
    struct timespec step = {0, 20 * 1000 * 1000};
    nanosleep(&step, nullptr);
  }
}

uint64_t StateSize(const BackupJob &job) {
  glob_t g;
  uint64_t size = 0;
  if (glob((job.file("state") + "/archive-*.log").c_str(), 0, nullptr, &g) == 0) {
    for (size_t i = 0; i < g.gl_pathc; ++i) {
      struct stat st;
      if (stat(g.gl_pathv[i], &st) == 0) size += (uint64_t)st.st_size;
    }
    globfree(&g);
  }
  return size;
}

struct Ctx {
  BackupJob *job;
  std::string t;                  // the live tree, /t of the resource
  std::vector<uint64_t> stateSizes;  // the archive state after each FULL
  std::vector<std::string> env;   // the client's extra environment
  std::vector<std::string> incrEnv;  // set by a change: the INCR's and DIFF's
  std::vector<std::string> incrChain;  // savesets a change made: restored between the FULL and the INCR
  std::map<std::string, std::string> said;  // what each level wrote to standard error
  std::string tsa;                   // the row's TSA switches
};

struct Row {
  const char *name;
  std::function<void(Ctx &)> before;  // before the FULLs
  std::function<void(Ctx &)> change;  // after them
  std::set<std::string> stored;       // what the INCR and the DIFF hold, exactly
  std::set<std::string> diffStored;   // the DIFF's, where it differs from the INCR's
  std::set<std::string> extra;        // names the restores give back that are gone
  int cleanFulls = 0;                 // FULLs before the FULL of the row
  std::string fullWorld;              // the last FULL's world switches
  std::function<e2e::Watch(Ctx &)> fullWatch;  // ... and what the test does while it runs
  std::string tsa;                    // the TSA's switches, every run
  std::vector<std::string> options;   // more arguments of every backup
  int fullExit = 0;
  bool exact = true;                  // false: `stored` is a part of what is held
  std::function<void(Ctx &)> beforeLevel;  // before the INCR and before the DIFF
  int levelExit = 0;                  // the INCR's and the DIFF's
  std::function<void(Ctx &)> check;   // after everything
  bool needsRoot = false;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

Row Make(const char *name, std::function<void(Ctx &)> before, std::function<void(Ctx &)> change,
         std::set<std::string> stored, std::set<std::string> extra = {}) {
  Row r;
  r.name = name;
  r.before = std::move(before);
  r.change = std::move(change);
  r.stored = std::move(stored);
  r.extra = std::move(extra);
  return r;
}

// Moves /t/d away while the FULL stands at its first NWSMTSScanNextDataSet,
// after the scan listed /t and before it opens /t/d.
e2e::Watch MoveDirectoryAway(const std::string &data) {
  return [data](pid_t pid, const std::string &) {
    siginfo_t si{};
    if (waitid(P_PID, (id_t)pid, &si, WSTOPPED | WNOHANG) != 0 || si.si_pid != pid) return false;
    rename((data + "/t/d").c_str(), (data + "/away").c_str());
    kill(pid, SIGCONT);
    return true;
  };
}

// True once the client has stopped itself at the stand-in call.
bool Stopped(pid_t pid) {
  siginfo_t si{};
  return waitid(P_PID, (id_t)pid, &si, WSTOPPED | WNOHANG | WNOWAIT) == 0 && si.si_pid == pid;
}

// Two runs of the job at once. Run A (an INCR) scans, saving a change made
// before it started, and stands before it ends; /t/b is rewritten; run B
// starts, prepares its own marker, stands at its first read and is killed.
// A then ends well: its marker, dated before the rewrite, is the reference,
// not B's, dated after it.
void TwoRunsAtOnce(Ctx &c) {
  BackupJob &job = *c.job;
  vrktest::WriteFile(c.t + "/a.txt", "alpha, changed before both runs\n");
  // A's marker and what it saves lie in a later two seconds than this
  // change, so that the next INCR need not save it again.
  WaitForClockPast(time(nullptr) | 1);
  job.SetWorld("stop NWSMReleaseTSA = 1\n", c.tsa);
  pid_t pidB = -1;
  bool bPrepared = false;
  Result b;
  Result a = job.Run(
      {"-b", "-j", "job", "-N", kLogin, "-l", "INCR", "-s", "@" + job.file("A.ss"), "/t"},
      [&](pid_t pidA, const std::string &) {
        if (!Stopped(pidA)) return false;
        // Later than A's marker, earlier than B's.
        WaitForClockPast(time(nullptr) | 1);
        const time_t rewritten = time(nullptr);
        Write(c.t + "/b", "bravo, rewritten between the two starts\n", rewritten);
        WaitForClockPast(rewritten | 1);
        job.SetWorld("stop NWSMTSReadDataSet = 1\n", c.tsa);
        b = job.Run({"-b", "-j", "job", "-N", kLogin, "-l", "INCR", "-s", "@" + job.file("B.ss"), "/t"},
                    [&](pid_t pid, const std::string &) {
                      if (!Stopped(pid)) return false;
                      pidB = pid;
                      for (const std::string &name : e2e::Names(job.file("tmp"))) {
                        struct stat st;
                        if (name.rfind("job.I", 0) == 0 && stat(job.file("tmp/" + name).c_str(), &st) == 0 &&
                            st.st_mtime > (rewritten | 1))
                          bPrepared = true;
                      }
                      kill(-pid, SIGKILL);
                      return true;
                    });
        kill(pidA, SIGCONT);
        return true;
      });
  job.SetWorld("", c.tsa);
  ASSERT_GT(pidB, 0) << b.err;
  ASSERT_TRUE(bPrepared) << "run B stopped before it prepared its marker\n" << b.err;
  ASSERT_EQ(-1, b.exitCode()) << b.err;
  ASSERT_EQ(0, a.exitCode()) << a.err;
  c.incrChain.push_back(job.file("A.ss"));
}

// A zone whose summer time ends between the FULL's reference and now: the
// reference falls in the hour that is repeated, and a change made after the
// end packs to an earlier local time than the reference.
std::string ZoneEndingSummerTimeAt(time_t end) {
  time_t local = end + 2 * 3600;  // summer time is two hours ahead of UTC
  struct tm tm;
  gmtime_r(&local, &tm);
  char buf[96];
  snprintf(buf, sizeof buf, "TZ=XST-1XDT,0/0,%d/%02d:%02d:%02d", tm.tm_yday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

int Count(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Dates the job's committed markers seconds after now, as a FULL run while
// the clock was fast leaves them once the clock is stepped back.
void MarkersAhead(Ctx &c, time_t seconds) {
  for (const char *marker : {"times/job.I", "times/job.D"}) SetTime(c.job->file(marker), time(nullptr) + seconds);
}

class IncrementalLevel : public ::testing::TestWithParam<Row> {};

TEST_P(IncrementalLevel, SavesTheChangeAndRestoresTheLiveTree) {
  const Row &row = GetParam();
  if (row.needsRoot && geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
  BackupJob job("", row.tsa);
  Ctx ctx{&job, job.data() + "/t", {}, {}, {}, {}, {}, row.tsa};
  const std::string &t = ctx.t;
  // The tree: files, a link, a directory with a subdirectory, old times.
  ASSERT_EQ(0, mkdir(t.c_str(), 0755));
  ASSERT_EQ(0, mkdir((t + "/d").c_str(), 0755));
  ASSERT_EQ(0, mkdir((t + "/d/sub").c_str(), 0750));
  Write(t + "/a.txt", "alpha\n", kOld);
  Write(t + "/b", "bravo\n", kOld + 10);
  Write(t + "/secret.txt", "secret\n", kOld + 20);
  Write(t + "/d/x", "x-ray\n", kOld + 30);
  Write(t + "/d/y", "yankee\n", kOld + 40);
  Write(t + "/d/sub/z", "zulu\n", kOld + 50);
  ASSERT_EQ(0, symlink("a.txt", (t + "/ln").c_str()));
  SetTime(t + "/ln", kOld + 60);
  if (row.before) row.before(ctx);
  for (const char *dir : {"/d/sub", "/d", ""}) SetTime(t + dir, kOld + 100);
  WaitForClockPast(time(nullptr) + 1);

  std::vector<std::string> fullArgs{"-b", "-j", "job", "-N", kLogin, "-l", "FULL", "-s", "@" + job.file("full.ss")};
  fullArgs.insert(fullArgs.end(), row.options.begin(), row.options.end());
  fullArgs.push_back("/t");
  for (int i = 0; i < row.cleanFulls; ++i) {
    Result r = job.Run(fullArgs, e2e::Watch(), -1, ctx.env);
    ASSERT_EQ(0, r.exitCode()) << r.err;
    ctx.stateSizes.push_back(StateSize(job));
  }
  job.SetWorld(row.fullWorld, row.tsa);
  Result r = job.Run(fullArgs, row.fullWatch ? row.fullWatch(ctx) : e2e::Watch(), -1, ctx.env);
  ASSERT_EQ(row.fullExit, r.exitCode()) << r.err;
  ctx.stateSizes.push_back(StateSize(job));
  job.SetWorld("", row.tsa);
  // Records of a later backup bear a later archive date than the FULL's
  // reference only from the next two seconds on.
  struct stat marker;
  ASSERT_EQ(0, stat(job.file("times/job.I").c_str(), &marker));
  WaitForClockPast(marker.st_mtime | 1);

  if (row.change) row.change(ctx);
  if (HasFatalFailure() || IsSkipped()) return;
  std::vector<std::string> env = ctx.incrEnv.empty() ? ctx.env : ctx.incrEnv;
  for (const char *level : {"INCR", "DIFF"}) {
    SCOPED_TRACE(level);
    if (row.beforeLevel) row.beforeLevel(ctx);
    std::string ss = job.file(std::string(level) + ".ss");
    std::vector<std::string> args{"-b", "-j", "job", "-N", kLogin, "-l", level, "-s", "@" + ss};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back("/t");
    r = job.Run(args, e2e::Watch(), -1, env);
    EXPECT_EQ(row.levelExit, r.exitCode()) << r.err;
    ctx.said[level] = r.err;
    std::string why;
    std::set<std::string> got = Stored(ss, why);
    ASSERT_EQ("", why);
    const bool incr = std::string(level) == "INCR";
    const std::set<std::string> &want = incr || row.diffStored.empty() ? row.stored : row.diffStored;
    if (row.exact) {
      EXPECT_EQ(want, got) << r.err;
    } else {
      for (const std::string &name : want) EXPECT_TRUE(got.count(name)) << name;
    }
    // The FULL, the INCRs between, then this level, over a restore of their own.
    std::string target = std::string("/back-") + level;
    std::vector<std::string> chain{job.file("full.ss")};
    if (incr) chain.insert(chain.end(), ctx.incrChain.begin(), ctx.incrChain.end());
    chain.push_back(ss);
    for (const std::string &saveset : chain) {
      Result back = job.Run({"-r", "-N", kLogin, "-s", "@" + saveset, "-o", "overwrite", "-R", target},
                            e2e::Watch(), -1, env);
      ASSERT_EQ(0, back.exitCode()) << back.err;
    }
    EXPECT_EQ("", Differences(Snapshot(t), Snapshot(job.data() + target + "/t"), row.extra));
  }
  if (row.check) row.check(ctx);
}

std::vector<Row> Rows() {
  std::vector<Row> rows;
  // Moved into the source from elsewhere on the same file system: its times
  // are old, its name is new.
  rows.push_back(Make("FileMovedInFromElsewhere",
                  [](Ctx &c) {
                    mkdir((c.job->data() + "/inbox").c_str(), 0700);
                    Write(c.job->data() + "/inbox/report", "report\n", kOld);
                  },
                  [](Ctx &c) { ASSERT_EQ(0, rename((c.job->data() + "/inbox/report").c_str(), (c.t + "/report").c_str())); },
                  {"/t/", "/t/report"}));
  rows.push_back(Make("FileRenamed", nullptr,
                  [](Ctx &c) { ASSERT_EQ(0, rename((c.t + "/b").c_str(), (c.t + "/b.moved").c_str())); },
                  {"/t/", "/t/b.moved"},
                  {"/b"}));
  rows.push_back(Make("SymbolicLinkRenamed", nullptr,
                  [](Ctx &c) { ASSERT_EQ(0, rename((c.t + "/ln").c_str(), (c.t + "/ln.moved").c_str())); },
                  {"/t/", "/t/ln.moved"},
                  {"/ln"}));
  // A renamed directory's contents are saved under their new names; the
  // directory is not saved whole as a changed one.
  rows.push_back(Make("DirectoryRenamed", nullptr,
                  [](Ctx &c) { ASSERT_EQ(0, rename((c.t + "/d").c_str(), (c.t + "/d2").c_str())); },
                  {"/t/", "/t/d2/", "/t/d2/x", "/t/d2/y", "/t/d2/sub/", "/t/d2/sub/z"},
                  {"/d", "/d/x", "/d/y", "/d/sub", "/d/sub/z"}));
  // New contents with an old time kept (a template copied with its times).
  rows.push_back(Make("ContentsCopiedWithAnOldTime", nullptr,
                  [](Ctx &c) { Write(c.t + "/a.txt", "from the template, longer\n", kOld - 5000); },
                  {"/t/", "/t/a.txt"}));
  // Written, then its time set back to the one it had.
  rows.push_back(Make("WrittenThenTouchedBack", nullptr,
                  [](Ctx &c) { Write(c.t + "/d/x", "x-ray, rewritten\n", kOld + 30); },
                  {"/t/", "/t/d/", "/t/d/x"}));
  rows.push_back(Make("ModeOnly", nullptr, [](Ctx &c) { ASSERT_EQ(0, chmod((c.t + "/secret.txt").c_str(), 0600)); },
                  {"/t/", "/t/secret.txt"}));
  rows.push_back(Make("DirectoryModeOnly", nullptr, [](Ctx &c) { ASSERT_EQ(0, chmod((c.t + "/d").c_str(), 0700)); },
                  {"/t/", "/t/d/"}));
  {
    Row owner = Make("OwnerOnly", nullptr, [](Ctx &c) { ASSERT_EQ(0, lchown((c.t + "/d/y").c_str(), 4321, 4321)); },
              {"/t/", "/t/d/", "/t/d/y"});
    owner.needsRoot = true;
    rows.push_back(owner);
  }
  // What the FULL failed to save, though an earlier FULL saved it: in use...
  {
    Row inUse = Make("InUseDuringTheFull", nullptr, nullptr, {"/t/", "/t/d/", "/t/d/x"});
    inUse.cleanFulls = 1;
    inUse.fullWorld = "in_use = /t/d/x\n";
    inUse.fullExit = 1;
    rows.push_back(inUse);
  }
  // ... or a directory away while it was scanned, with all it holds.
  {
    Row away = Make("DirectoryAwayWhileScanned", nullptr,
             [](Ctx &c) { ASSERT_EQ(0, rename((c.job->data() + "/away").c_str(), (c.t + "/d").c_str())); },
             {"/t/", "/t/d/", "/t/d/x", "/t/d/y", "/t/d/sub/", "/t/d/sub/z"});
    away.cleanFulls = 1;
    away.fullWorld = "stop NWSMTSScanNextDataSet = 1\n";
    away.fullWatch = [](Ctx &c) { return MoveDirectoryAway(c.job->data()); };
    away.fullExit = 1;
    rows.push_back(away);
  }
  // Summer time ends between the FULL's reference and the change, which
  // packs to an earlier local time than the reference. The TSA keeps no
  // archive state here: the times alone tell what changed.
  {
    Row dst = Make("ChangeInTheRepeatedHourOfSummerTimesEnd",
            [](Ctx &c) { c.env = {"TZ=XDT-2"}; },
            [](Ctx &c) {
              struct stat st;
              ASSERT_EQ(0, stat(c.job->file("times/job.I").c_str(), &st));
              time_t end = st.st_mtime + 2;
              struct tm tm;
              time_t local = end + 2 * 3600;
              gmtime_r(&local, &tm);
              if (tm.tm_yday == 0) GTEST_SKIP() << "summer time cannot end on the first day of a year here";
              c.incrEnv = {ZoneEndingSummerTimeAt(end)};
              WaitForClockPast(end);
              Write(c.t + "/late", "made after the end of summer time\n", time(nullptr));
              vrktest::WriteFile(c.t + "/a.txt", "alpha, changed after the end of summer time\n");
            },
            {"/t/", "/t/late", "/t/a.txt"});
    dst.exact = false;  // in the repeated hour more may be saved, never less
    dst.tsa = "archive = no\n";
    rows.push_back(dst);
  }
  // Two runs of the job at once, the later one killed: the change made
  // between their starts is in the next INCR, and the DIFF holds both.
  // Without archive state the reference alone tells what changed.
  {
    Row two = Make("TwoRunsAtOnceTheLaterKilled", nullptr, TwoRunsAtOnce, {"/t/", "/t/b"});
    two.diffStored = {"/t/", "/t/a.txt", "/t/b"};
    two.tsa = "archive = no\n";
    rows.push_back(two);
  }
  // The FULL ran while the clock was a day ahead, and the clock was set
  // right since: each level finds the FULL's markers in the future, names
  // the one it would take and saves everything. Without archive state the
  // reference alone tells what changed.
  {
    Row ahead = Make("MarkersOfTheFullADayAhead", nullptr,
              [](Ctx &c) { Write(c.t + "/b", "bravo, changed after the clock was set right\n", time(nullptr)); },
              {"/t/", "/t/a.txt", "/t/b", "/t/secret.txt", "/t/ln", "/t/d/", "/t/d/x", "/t/d/y", "/t/d/sub/",
               "/t/d/sub/z"});
    ahead.beforeLevel = [](Ctx &c) {
      for (const char *marker : {"times/job.I", "times/job.D"}) SetTime(c.job->file(marker), time(nullptr) + 86400);
    };
    ahead.levelExit = 1;
    ahead.tsa = "archive = no\n";
    ahead.check = [](Ctx &c) {
      for (const char *level : {"INCR", "DIFF"}) {
        std::string marker = c.job->file(std::string("times/job.") + level[0]);
        EXPECT_NE(std::string::npos,
                  c.said[level].find("Warning:  Cannot stat() time stamp file [" + marker + "]:[it is dated "))
            << level << "\n" << c.said[level];
      }
    };
    rows.push_back(ahead);
  }
  // Another job's FULL saves a change while this job's markers lie a few
  // seconds ahead (its FULL ran while the clock was fast, then the clock was
  // stepped back): what the other job saved is not in this job's savesets.
  rows.push_back(Make("AnotherJobsFullWhileThisJobsMarkersAreAhead", nullptr,
                  [](Ctx &c) {
                    vrktest::WriteFile(c.t + "/a.txt", "alpha, changed before the other job's FULL\n");
                    Result y = c.job->Run({"-b", "-j", "other", "-N", kLogin, "-l", "FULL", "-s",
                                           "@" + c.job->file("other.ss"), "/t"});
                    ASSERT_EQ(0, y.exitCode()) << y.err;
                    MarkersAhead(c, 4);
                  },
                  {"/t/", "/t/a.txt"}));
  // This job's INCR finds its marker ahead and runs as a FULL, which saves
  // a change and then fails: nothing it saved counts once the clock has
  // passed the marker, and the change is in the next INCR and DIFF.
  {
    Row failed = Make("ForcedFullThatFailsAfterSavingAChange", nullptr,
                  [](Ctx &c) {
                    vrktest::WriteFile(c.t + "/a.txt", "alpha, changed before the FULL that fails\n");
                    MarkersAhead(c, 60);
                    c.job->SetWorld("fault NWSMTSScanNextDataSet = 2 0xFFFDFFEB\n", c.tsa);
                    Result x = c.job->Run({"-b", "-j", "job", "-N", kLogin, "-l", "INCR", "-s",
                                           "@" + c.job->file("failed.ss"), "/t"});
                    c.job->SetWorld("", c.tsa);
                    ASSERT_EQ(3, x.exitCode()) << x.err;
                    ASSERT_NE(std::string::npos, x.err.find("it is dated ")) << x.err;
                    // It cleared the modify flags of /t and /t/a.txt before it failed.
                    ASSERT_EQ(2, Count(vrktest::ReadFile(c.job->file("calls.log")), "NWSMTSSetArchiveStatus("))
                        << x.err;
                    MarkersAhead(c, 4);
                  },
                  {"/t/", "/t/a.txt"});
    failed.exact = false;  // what the failed run saved counts as unsaved: saved again
    rows.push_back(failed);
  }
  // Nothing unchanged is saved again.
  rows.push_back(Make("TwoThousandUnchangedFilesAndOneNew",
                  [](Ctx &c) {
                    mkdir((c.t + "/many").c_str(), 0755);
                    for (int i = 0; i < 2000; ++i) Write(c.t + "/many/f" + std::to_string(i), std::to_string(i), kOld);
                    SetTime(c.t + "/many", kOld);
                  },
                  [](Ctx &c) { Write(c.t + "/many/new", "new\n", time(nullptr)); },
                  {"/t/", "/t/many/", "/t/many/new"}));
  rows.push_back(Make("UnchangedTree", nullptr, nullptr, {"/t/"}));
  // Setting back the access times that reading moved (of directories and
  // links here) is the backup's own change, not the tree's.
  {
    Row atime = Make("UnchangedTreeWithAccessTimesPreserved", nullptr, nullptr, {"/t/"});
    atime.options = {"-o", "PRESERVE_ACCESS_TIME"};
    rows.push_back(atime);
  }
  // Twenty FULLs leave an archive state about the size one leaves, and the
  // INCR after them is still right.
  {
    Row twenty = Make("TwentyFullsKeepTheStateSmall",
               [](Ctx &c) {
                 mkdir((c.t + "/many").c_str(), 0755);
                 for (int i = 0; i < 100; ++i) Write(c.t + "/many/f" + std::to_string(i), std::to_string(i), kOld);
                 SetTime(c.t + "/many", kOld);
               },
               [](Ctx &c) { Write(c.t + "/many/f50", "fifty, changed\n", kOld); },
               {"/t/", "/t/many/", "/t/many/f50"});
    twenty.cleanFulls = 19;
    twenty.check = [](Ctx &c) {
      ASSERT_EQ(20u, c.stateSizes.size());
      for (size_t i = 1; i < c.stateSizes.size(); ++i)
        EXPECT_LE(c.stateSizes[i], 2 * c.stateSizes[0]) << "after FULL " << i + 1 << " of " << c.stateSizes[0];
    };
    rows.push_back(twenty);
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Changes, IncrementalLevel, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row> &p) { return std::string(p.param.name); });

}  // namespace
