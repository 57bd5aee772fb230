// End-to-end tests of restores from stored objects built by hand: every
// hostile or damaged form one row, each checked for its exit status, its
// messages and that nothing beneath the resource changed outside the target.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "backup_job.h"
#include "e2e_files.h"
#include "saveset_writer.h"
#include "watched_run.h"

namespace {

using e2e::BackupJob;
using e2e::Exists;
using e2e::Has;
using e2e::Leftovers;
using e2e::Result;
using ssw::Object;
using ssw::Stream;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

// Every path beneath root with what a restore could change: kind, mode,
// owner, size, modification time and bytes (a link's target). Below `target`
// nothing is recorded; of the target itself only its kind, mode and owner
// when it is the directory of -R, nothing when the stored names name it.
void Snapshot(const std::string &root, const std::string &rel, const std::string &target, bool keepTarget,
              std::map<std::string, std::string> &out) {
  std::string full = root + rel;
  struct stat st;
  if (lstat(full.c_str(), &st) != 0) return;
  bool isTarget = !target.empty() && rel == "/" + target;
  if (isTarget && !keepTarget) return;
  std::string v = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + " " + std::to_string(st.st_gid);
  if (!isTarget) {
    v += " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    if (S_ISREG(st.st_mode)) v += " " + vrktest::ReadFile(full);
    if (S_ISLNK(st.st_mode)) {
      char buf[4096];
      ssize_t n = readlink(full.c_str(), buf, sizeof(buf));
      if (n > 0) v += " -> " + std::string(buf, (size_t)n);
    }
  }
  out[rel.empty() ? "/" : rel] = v;
  if (isTarget || !S_ISDIR(st.st_mode)) return;
  DIR *d = opendir(full.c_str());
  if (d == nullptr) return;
  while (struct dirent *e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") Snapshot(root, rel + "/" + n, target, keepTarget, out);
  }
  closedir(d);
}

std::map<std::string, std::string> Snapshot(const std::string &root, const std::string &target, bool keepTarget) {
  std::map<std::string, std::string> out;
  Snapshot(root, "", target, keepTarget, out);
  return out;
}

std::string Changes(const std::map<std::string, std::string> &before, const std::map<std::string, std::string> &after) {
  std::string why;
  for (const auto &kv : before) {
    auto a = after.find(kv.first);
    if (a == after.end()) why += kv.first + ": gone\n";
    else if (a->second != kv.second) why += kv.first + ": changed\n";
  }
  for (const auto &kv : after)
    if (!before.count(kv.first)) why += kv.first + ": new\n";
  return why;
}

// The resource every row starts from: files outside any target that a
// hostile object aims at, and the directories restored into.
void Furnish(const BackupJob &job) {
  std::string data = job.data();
  vrktest::WriteFile(data + "/outside.txt", "original\n");
  mkdir((data + "/keep").c_str(), 0755);
  vrktest::WriteFile(data + "/keep/inner.txt", "inner\n");
  mkdir((data + "/restored").c_str(), 0750);
  mkdir((data + "/sample").c_str(), 0755);
  struct timespec ts[2] = {{1400000000, 0}, {1400000000, 0}};
  for (const char *p : {"/outside.txt", "/keep/inner.txt", "/keep", "/restored", "/sample", ""})
    utimensat(AT_FDCWD, (data + p).c_str(), ts, AT_SYMLINK_NOFOLLOW);
  chmod(data.c_str(), 0755);
}

Object Dir(Object o, const std::string &name) { return o.Parent(name, Stream(ssw::kDirectory, name, "", true)); }

using Check = std::function<void(const BackupJob &, const Result &)>;

struct Row {
  Row(const char *w, std::function<Object(const BackupJob &)> o, std::vector<std::string> a, std::string t, int e,
      std::vector<std::string> m, Check c)
      : what(w), object(o), args(a), target(t), exit(e), messages(m), check(c) {}
  const char *what;
  std::function<Object(const BackupJob &)> object;
  std::vector<std::string> args;
  std::string target;  // the only directory beneath the resource that may change ("": none)
  int exit;
  std::vector<std::string> messages;
  Check check;
};

TEST(RestoreHostileE2E, NothingOutsideTheTargetChanges) {
  const std::string evil = "written by the stored object\n";
  const Row rows[] = {
      {"a child whose stream names a file outside",
       [&](const BackupJob &) {
         return Dir(Object().Marker(), "/sample/").Child("ok.txt", Stream(ssw::kFile, "/outside.txt", evil, true));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 0,
       {"Processing item: [/restored/sample/ok.txt]", "Operation successful."},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/restored/sample/ok.txt"));
       }},
      {"the same without -R",
       [&](const BackupJob &) {
         return Dir(Object().Marker(), "/sample/").Child("ok.txt", Stream(ssw::kFile, "/outside.txt", evil, true));
       },
       {"-o", "overwrite"}, "sample", 0, {"Processing item: [/sample/ok.txt]"},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/sample/ok.txt"));
       }},
      {"a child whose stream names another terminal name",
       [&](const BackupJob &) {
         return Dir(Object().Marker(), "/sample/").Child("ok.txt", Stream(ssw::kFile, "other.txt", evil));
       },
       {"-R", "/restored"}, "restored", 0, {},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/restored/sample/ok.txt"));
         EXPECT_FALSE(Exists(job.data() + "/restored/sample/other.txt"));
       }},
      {"a parent whose stream names another directory, without -R",
       [&](const BackupJob &) {
         return Object()
             .Marker()
             .Parent("/sample/", Stream(ssw::kDirectory, "/keep/", "", true, 0777, 4321))
             .Child("ok.txt", Stream(ssw::kFile, "ok.txt", evil));
       },
       {"-o", "overwrite"}, "sample", 0, {},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/sample/ok.txt"));
       }},
      {"a parent whose stream names the resource root, mode 0777, another owner",
       [&](const BackupJob &) {
         return Object().Marker().Parent("/sample/", Stream(ssw::kDirectory, "/", "", true, 0777, 4321));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 0, {},
       [&](const BackupJob &job, const Result &) {
         struct stat st;
         ASSERT_EQ(0, stat((job.data() + "/restored/sample").c_str(), &st));
         EXPECT_EQ(0777u, st.st_mode & 07777) << "the restored directory takes its own mode";
       }},
      {"the resource root restored onto itself with overwrite",
       [&](const BackupJob &) {
         return Object().Marker().Parent("/", Stream(ssw::kDirectory, "/", "", true, 0777, 4321));
       },
       {"-o", "overwrite"}, "", 0, {"Item [/] already exists. Skipping overwrite..."}, nullptr},
      {"the restore target itself restored with overwrite",
       [&](const BackupJob &) {
         return Object()
             .Marker()
             .Parent("/", Stream(ssw::kDirectory, "/", "", true, 0777, 4321))
             .Child("in.txt", Stream(ssw::kFile, "in.txt", evil));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 0, {"already exists. Skipping overwrite..."},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/restored/in.txt"));
       }},
      {"a child in the full-name form naming a file outside",
       [&](const BackupJob &) {
         return Object().Marker().FullName(false, "/outside.txt", Stream(ssw::kFile, "/outside.txt", evil, true));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 0, {"Processing item: [/restored/outside.txt]"},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/restored/outside.txt"));
       }},
      {"a parent and a child in the full-name form",
       [&](const BackupJob &) {
         return Object()
             .Marker()
             .FullName(true, "/keep/", Stream(ssw::kDirectory, "/keep/", "", true, 0700, 4321))
             .FullName(false, "/keep/inner.txt", Stream(ssw::kFile, "/keep/inner.txt", evil, true));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 0, {"Processing item: [/restored/keep/inner.txt]"},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/restored/keep/inner.txt"));
       }},
      {"a full-name child that climbs out with \"..\"",
       [&](const BackupJob &) {
         return Object().Marker().FullName(false, "/restored/../outside.txt",
                                           Stream(ssw::kFile, "/outside.txt", evil, true));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 3,
       {"would leave the restore target", "Not processed or incorrectly processed items: [1]"}, nullptr},
      {"the same without -R",
       [&](const BackupJob &) {
         return Object().Marker().FullName(false, "/sample/../outside.txt",
                                           Stream(ssw::kFile, "/outside.txt", evil, true));
       },
       {"-o", "overwrite"}, "", 3, {"would leave the restore target"}, nullptr},
      {"a full-name child without a parent part",
       [&](const BackupJob &) {
         return Object().Marker().FullName(false, "outside.txt", Stream(ssw::kFile, "/outside.txt", evil, true));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 3, {"would leave the restore target"}, nullptr},
      {"a terminal name that holds a path",
       [&](const BackupJob &) {
         return Dir(Object().Marker(), "/sample/").Child("sub/../../outside.txt", Stream(ssw::kFile, "x", evil));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 3,
       {"would leave the restore target", "Items processed correctly: [1]. Not processed or incorrectly processed "
                                          "items: [1]."},
       nullptr},
      {"a name list whose other entry climbs out",
       [&](const BackupJob &) {
         return Object()
             .Marker()
             .Record(true, true, ssw::NameList({{2, "/sample/"}, {260, "/../keep/"}}),
                     Stream(ssw::kDirectory, "/keep/", "", true))
             .Marker()
             .Child("inner.txt", Stream(ssw::kFile, "inner.txt", evil));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 3, {"would leave the restore target"}, nullptr},
      {"a symbolic link planted, then written through",
       [&](const BackupJob &job) {
         return Dir(Object().Marker(), "/sample/")
             .Child("lnk", Stream(ssw::kLink, "lnk", job.data() + "/keep"))
             .Parent("/sample/lnk/", Stream(ssw::kDirectory, "/sample/lnk/", "", true, 0777))
             .Child("inner.txt", Stream(ssw::kFile, "inner.txt", evil));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 3,
       {"Item processed with failure: [/restored/sample/lnk/]"}, nullptr},
      {"a parent whose stream is a file",
       [&](const BackupJob &) { return Object().Marker().Parent("/sample/", Stream(ssw::kFile, "/sample/", evil)); },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 3, {"Item processed with failure: [/restored/sample/]"},
       nullptr},
      {"a child before any parent",
       [&](const BackupJob &) { return Object().Marker().Child("outside.txt", Stream(ssw::kFile, "outside.txt", evil)); },
       {"-o", "overwrite"}, "", 3,
       {"No parent directory for file [outside.txt]", "Not processed or incorrectly processed items: [1]"}, nullptr},
      {"a record whose name list is empty",
       [&](const BackupJob &) {
         return Object().Marker().Record(false, true, ssw::NameList(std::vector<ssw::Entry>{}),
                                          Stream(ssw::kFile, "/outside.txt", evil, true)).Marker();
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 3, {"Not processed or incorrectly processed items: [1]"},
       nullptr},
      {"a parent stored without its trailing separator, passed over, and its child",
       [&](const BackupJob &) {
         return Object()
             .Marker()
             .Parent("/sample", Stream(ssw::kDirectory, "/sample/", "", true))
             .Child("ok.txt", Stream(ssw::kFile, "ok.txt", evil));
       },
       {"-R", "/restored", "*ok.txt"}, "restored", 0, {"Processing item: [/restored/sample/ok.txt]"},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/restored/sample/ok.txt"));
       }},
      {"a child whose only record is empty",
       [&](const BackupJob &) {
         return Dir(Object().Marker(), "/sample/").Record(false, true, ssw::NameList("ok.txt"), "").Marker();
       },
       {"-R", "/restored"}, "restored", 3,
       {"No whole copy of [/restored/sample/ok.txt] in the saveset: not restored",
        "Items processed correctly: [1]. Not processed or incorrectly processed items: [1]."},
       nullptr},
      {"no leading end marker: restored whole",
       [&](const BackupJob &) {
         Object o;
         return Dir(o, "/sample/").Child("ok.txt", Stream(ssw::kFile, "ok.txt", evil));
       },
       {"-R", "/restored"}, "restored", 0,
       {"does not begin with an end-of-record marker", "Number of resources restored: 2",
        "Items processed correctly: [2]. Not processed or incorrectly processed items: [0]."},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/restored/sample/ok.txt"));
       }},
      {"a name whose line break would forge a log line",
       [&](const BackupJob &) {
         return Dir(Object().Marker(), "/sample/")
             .Child("a\n2026-01-01 00:00:00: vrk-3007: Info:     Operation successful.\x1b[2K",
                    Stream(ssw::kFile, "x", evil));
       },
       {"-R", "/restored"}, "restored", 0,
       {"Processing item: [/restored/sample/a\\x0a2026-01-01 00:00:00: vrk-3007: Info:     Operation "
        "successful.\\x1b[2K]..."},
       [&](const BackupJob &, const Result &r) {
         // Every line is one message of its own.
         size_t at = 0;
         while (at < r.err.size()) {
           size_t nl = r.err.find('\n', at);
           std::string line = r.err.substr(at, nl - at);
           EXPECT_NE(std::string::npos, line.find(": vrk-")) << line;
           EXPECT_EQ(std::string::npos, line.find('\x1b')) << line;
           if (nl == std::string::npos) break;
           at = nl + 1;
         }
       }},
      {"skipped data over a file with another link outside",
       [&](const BackupJob &job) {
         mkdir((job.data() + "/restored/sample").c_str(), 0755);
         link((job.data() + "/outside.txt").c_str(), (job.data() + "/restored/sample/ok.txt").c_str());
         return Dir(Object().Marker(), "/sample/")
             .Child("ok.txt", Stream(ssw::kFile, "ok.txt", evil, false, 04777, 4321));
       },
       {"-o", "overwrite", "-o", "SKIP_DATA", "-R", "/restored"}, "restored", 3,
       {"Item processed with failure: [/restored/sample/ok.txt]",
        "Items processed correctly: [1]. Not processed or incorrectly processed items: [1]."},
       nullptr},
      {"a saveset cut inside the record after a whole data set",
       [&](const BackupJob &) {
         Object whole = Object().Child("b.txt", Stream(ssw::kFile, "b.txt", evil));
         return Dir(Object().Marker(), "/sample/")
             .Child("ok.txt", Stream(ssw::kFile, "ok.txt", evil))
             .Raw(whole.bytes().substr(0, 30));
       },
       {"-R", "/restored"}, "restored", 3,
       {"short read", "Item processed with failure: [<damaged record>]",
        "Items processed correctly: [2]. Not processed or incorrectly processed items: [1]."},
       [&](const BackupJob &job, const Result &) {
         EXPECT_EQ(evil, vrktest::ReadFile(job.data() + "/restored/sample/ok.txt"));
       }},
      {"bytes after a small file's trailer, in the same record",
       [&](const BackupJob &) {
         return Dir(Object().Marker(), "/sample/")
             .Record(false, true, ssw::NameList("ok.txt"), Stream(ssw::kFile, "ok.txt", evil) + "more")
             .Marker();
       },
       {"-R", "/restored"}, "restored", 3, {"Not processed or incorrectly processed items: [1]."},
       [&](const BackupJob &job, const Result &) { EXPECT_FALSE(Exists(job.data() + "/restored/sample/ok.txt")); }},
      {"bytes after a small file's trailer, in a record of their own",
       [&](const BackupJob &) {
         return Dir(Object().Marker(), "/sample/")
             .Record(false, true, ssw::NameList("ok.txt"), Stream(ssw::kFile, "ok.txt", evil))
             .Record(false, true, ssw::NameList("ok.txt"), "more")
             .Marker();
       },
       {"-R", "/restored"}, "restored", 3, {"Not processed or incorrectly processed items: [1]."},
       [&](const BackupJob &job, const Result &) { EXPECT_FALSE(Exists(job.data() + "/restored/sample/ok.txt")); }},
      {"a parent named only in a name space the rename list cannot read",
       [&](const BackupJob &) {
         return Object()
             .Marker()
             .Record(true, true, ssw::NameList({{0xFFFFFFFFu, "/sample/"}}),
                     Stream(ssw::kDirectory, "/sample/", "", true))
             .Marker()
             .Child("ok.txt", Stream(ssw::kFile, "ok.txt", evil));
       },
       {"-R", "/restored"}, "", 3,
       {"GetNewName error code", "Items processed correctly: [0]. Not processed or incorrectly processed items: [1]."},
       nullptr},
      {"a full-name child named only in a name space the rename list cannot read",
       [&](const BackupJob &) {
         return Object().Marker().Record(false, false, ssw::NameList({{0xFFFFFFFFu, "/sample/ok.txt"}}),
                                          Stream(ssw::kFile, "ok.txt", evil)).Marker();
       },
       {"-R", "/restored"}, "", 3,
       {"GetNewName error code", "Items processed correctly: [0]. Not processed or incorrectly processed items: [1]."},
       nullptr},
      {"a parent whose name list is malformed, after another parent",
       [&](const BackupJob &) {
         std::string list = ssw::NameList(std::string("/keep/\0/../", 11));
         return Dir(Object().Marker(), "/sample/")
             .Record(true, true, list, Stream(ssw::kDirectory, "/keep/", "", true))
             .Marker()
             .Child("inner.txt", Stream(ssw::kFile, "inner.txt", evil));
       },
       {"-o", "overwrite", "-R", "/restored"}, "restored", 3,
       {"Item processed with failure: [<unreadable name>]", "Item [<unreadable name>/inner.txt] not included"},
       [&](const BackupJob &, const Result &r) { EXPECT_FALSE(Has(r.err, "[/sample/inner.txt]")) << r.err; }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    BackupJob job;
    Furnish(job);
    vrktest::WriteFile(job.saveset(), row.object(job).bytes());
    bool relocated = std::find(row.args.begin(), row.args.end(), "-R") != row.args.end();
    std::map<std::string, std::string> before = Snapshot(job.data(), row.target, relocated);
    std::vector<std::string> args{"-r", "-N", kLogin, "-s", "@" + job.saveset()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    Result r = job.Run(args);
    EXPECT_EQ(row.exit, r.exitCode()) << r.err;
    for (const std::string &m : row.messages) EXPECT_TRUE(Has(r.err, m)) << m << "\n" << r.err;
    if (row.exit != 0) {
      EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
    }
    EXPECT_EQ("", Changes(before, Snapshot(job.data(), row.target, relocated)));
    EXPECT_EQ("", Leftovers(job.data()));
    if (row.check) row.check(job, r);
  }
}

// A signal while a file is half written: SIGINT stops the restore at the
// next record, SIGTERM and SIGHUP end the process; none leaves a temporary
// file.
TEST(RestoreHostileE2E, ASignalInTheMiddleOfAFileLeavesNoTemporaryFile) {
  signal(SIGPIPE, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    // The named road, which a new file takes without unnamed files.
    BackupJob job("unnamed_new_files = no\n");
    mkdir((job.data() + "/src").c_str(), 0755);
    std::string big(4 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = (char)(i * 2654435761u >> 13);
    vrktest::WriteFile(job.data() + "/src/big.bin", big);
    vrktest::WriteFile(job.data() + "/src/z.txt", "last\n");
    Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, r.exitCode()) << r.err;
    std::string whole = vrktest::ReadFile(job.saveset());
    size_t at = whole.find("big.bin");
    ASSERT_NE(std::string::npos, at);
    // The object up to the middle of big.bin, the rest held back.
    int p[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC));
    std::atomic<bool> signalled{false};
    std::thread writer([&] {
      auto put = [&](const std::string &b) {
        for (size_t done = 0; done < b.size();) {
          ssize_t n = write(p[1], b.data() + done, b.size() - done);
          if (n <= 0) return;
          done += (size_t)n;
        }
      };
      put(whole.substr(0, at + big.size() / 2));
      while (!signalled) usleep(1000);
      if (sig == SIGINT) put(whole.substr(at + big.size() / 2));
      close(p[1]);
    });
    std::string back = job.data() + "/back";
    r = e2e::RunWatched(
        job, {"-r", "-N", kLogin, "-s", "-", "-R", "/back"},
        [&](pid_t pid, const std::string &) {
          if (Leftovers(back).empty()) return false;
          kill(pid, sig);
          signalled = true;
          return true;
        },
        p[0]);
    signalled = true;
    writer.join();
    if (sig != SIGINT) {
      EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == sig) << r.status << r.err;
    } else {
      EXPECT_EQ(3, r.exitCode()) << r.err;
      EXPECT_TRUE(Has(r.err, "Termination signal received!")) << r.err;
      EXPECT_TRUE(Has(r.err, "Restore: stopped by a termination signal")) << r.err;
      EXPECT_FALSE(Exists(back + "/src/z.txt")) << "the restore went on after the signal";
    }
    EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
    EXPECT_EQ("", Leftovers(job.data()));
    EXPECT_FALSE(Exists(back + "/src/big.bin"));
  }
}

}  // namespace
