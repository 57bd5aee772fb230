// End-to-end tests of the client run by root beside shared, world-writable
// directories: what another user put in place is never followed, written into or trusted.
#include <gtest/gtest.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "backup_job.h"
#include "e2e_files.h"

namespace {

using e2e::BackupJob;
using e2e::Has;
using e2e::Result;
using e2e::TestUser;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";
const int64_t kOld = 1000000000;

// What a file looked like, to tell that nothing changed it.
struct Snapshot {
  bool there = false;
  mode_t mode = 0;
  uid_t uid = 0;
  off_t size = 0;
  int64_t mtime = 0;
  dev_t rdev = 0;
  std::string data;
};

Snapshot Take(const std::string &path) {
  Snapshot s;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return s;
  s.there = true;
  s.mode = st.st_mode;
  s.uid = st.st_uid;
  s.size = st.st_size;
  s.mtime = (int64_t)st.st_mtime;
  s.rdev = st.st_rdev;
  if (S_ISREG(st.st_mode)) s.data = vrktest::ReadFile(path);
  return s;
}

std::string Same(const std::string &what, const Snapshot &a, const Snapshot &b) {
  if (a.there != b.there) return what + (b.there ? " appeared\n" : " vanished\n");
  if (a.mode != b.mode || a.uid != b.uid || a.size != b.size || a.mtime != b.mtime || a.rdev != b.rdev ||
      a.data != b.data)
    return what + " changed\n";
  return "";
}

// A FIFO with a reader held open by the test, so that a writer never blocks
// and whatever it writes stays to be read.
struct Fifo {
  std::string path;
  int reader = -1;
  bool Make(const std::string &p) {
    path = p;
    if (mkfifo(p.c_str(), 0666) != 0) return false;
    reader = open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return reader >= 0;
  }
  // True when nothing was written into it.
  bool Untouched() const {
    char c;
    return read(reader, &c, 1) <= 0;
  }
  ~Fifo() {
    if (reader >= 0) close(reader);
  }
};

std::string Uid(uid_t u) { return "(uid " + std::to_string((unsigned long)u) + ")"; }

// The job directory: the source tree, and the saveset's directory "shared"
// that everyone may write into (sticky), like the tmp directory.
struct World {
  BackupJob job;
  TestUser a, b;  // a plants files; b is a second ordinary user
  std::string shared, saveset, victim;
  Fifo fifo;
  std::vector<int> held;
  pid_t flipper = -1;  // user a, putting a link at a name and taking it away
  void StopFlipper() {
    if (flipper > 0) {
      kill(flipper, SIGKILL);
      waitpid(flipper, nullptr, 0);
    }
    flipper = -1;
  }
  ~World() {
    StopFlipper();
    for (int fd : held) close(fd);
  }
  std::string SharedSaveset() const { return "@" + saveset; }
};

bool MakeWorld(World *w, std::string *why) {
  if (!e2e::MakeTestUser("vrk-t-a", &w->a, why) || !e2e::MakeTestUser("vrk-t-b", &w->b, why)) return false;
  BackupJob &job = w->job;
  chmod(job.path().c_str(), 0755);
  mkdir(job.file("data/src").c_str(), 0755);
  vrktest::WriteFileAt(job.file("data/src/a.txt"), "alpha\n", 1300000000);
  vrktest::WriteFileAt(job.file("data/src/b.txt"), "beta\n", 1300000000);
  w->shared = job.file("shared");
  mkdir(w->shared.c_str(), 0755);
  chmod(w->shared.c_str(), 01777);
  chmod(job.file("tmp").c_str(), 01777);
  w->saveset = w->shared + "/nightly.ss";
  w->victim = job.file("victim");
  vrktest::WriteFileAt(w->victim, "precious\n", kOld);
  chmod(w->victim.c_str(), 0644);
  return true;
}

// As user a: a symbolic link at `at` to `to`.
bool PlantLink(const World &w, const std::string &to, const std::string &at) {
  return e2e::AsUser(w.a, [&] { return symlink(to.c_str(), at.c_str()) == 0; });
}

// As user a: a file at `at`, mode 0666.
bool PlantFile(const World &w, const std::string &at, const std::string &data) {
  return e2e::AsUser(w.a, [&] {
    int fd = open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return false;
    bool ok = write(fd, data.data(), data.size()) == (ssize_t)data.size();
    struct timespec t[2] = {{kOld, 0}, {kOld, 0}};
    return fchmod(fd, 0666) == 0 && futimens(fd, t) == 0 && close(fd) == 0 && ok;
  });
}

Result Full(const World &w, std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"-l", "FULL", "-s", w.SharedSaveset()};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("/src");
  return w.job.Backup(args);
}

// As user a, in a process of its own until StopFlipper (a minute at most):
// a link at `at` to `to`, there and gone again as fast as it can.
bool StartFlipper(World &w, const std::string &to, const std::string &at) {
  w.flipper = fork();
  if (w.flipper == 0) {
    if (!e2e::BecomeUser(w.a)) _exit(1);
    for (time_t end = time(nullptr) + 60; time(nullptr) < end;) {
      if (symlink(to.c_str(), at.c_str()) != 0 && errno != EEXIST) usleep(100);
      unlink(at.c_str());
    }
    _exit(0);
  }
  return w.flipper > 0;
}

void CloseFds(std::initializer_list<int> fds) {
  for (int fd : fds) close(fd);
}

struct Case {
  const char *name;
  // Puts the attacker's files in place; false stops the row.
  std::function<bool(World &)> plant;
  std::function<Result(World &)> run;
  int status;
  // Texts that the client's standard error holds (the user names of a and
  // b are put in for "{a}" and "{b}", their uids for "{ua}").
  std::vector<std::string> messages;
  // What must hold afterwards: "" or the reasons.
  std::function<std::string(World &)> check;
};

std::string Fill(std::string s, const World &w) {
  auto put = [&](const std::string &key, const std::string &v) {
    for (size_t p; (p = s.find(key)) != std::string::npos;) s.replace(p, key.size(), v);
  };
  put("{a}", w.a.name + " " + Uid(w.a.uid));
  put("{b}", w.b.name + " " + Uid(w.b.uid));
  put("{shared}", w.shared);
  put("{job}", w.job.path());
  return s;
}

Snapshot gVictim;

std::string VictimSame(World &w) { return Same("the victim", gVictim, Take(w.victim)); }

std::string SavesetMade(World &w) {
  struct stat st;
  if (stat(w.saveset.c_str(), &st) != 0 || st.st_size < 100) return "no saveset written\n";
  return "";
}

std::string NoSaveset(World &w) {
  struct stat st;
  std::string why;
  if (lstat(w.saveset.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) why += "a saveset was written\n";
  return why;
}

std::string Mode(const std::string &path, mode_t want, uid_t uid) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return path + " missing\n";
  std::string why;
  if ((st.st_mode & 07777) != want) why += path + " has mode " + std::to_string(st.st_mode & 07777) + "\n";
  if (st.st_uid != uid) why += path + " belongs to uid " + std::to_string(st.st_uid) + "\n";
  return why;
}

// A backup of root's set-user-ID program /src/s/tool, and, as user a in the
// world-writable restore target /rt, a directory src/s of a's own (or, with
// shared, root's and open to everyone, sticky) with a's program at the same
// name: the victim.
bool PlantProgramUnderRoots(World &w, bool shared = false) {
  std::string s = w.job.file("data/src/s"), rt = w.job.file("data/rt");
  if (mkdir(s.c_str(), 0755) != 0) return false;
  vrktest::WriteFileAt(s + "/tool", "#!/bin/sh\necho root\n", 1300000000);
  if (chmod((s + "/tool").c_str(), 04755) != 0) return false;
  if (Full(w).exitCode() != 0 || mkdir(rt.c_str(), 0755) != 0 || chmod(rt.c_str(), 01777) != 0) return false;
  w.victim = rt + "/src/s/tool";
  if (shared) {
    for (const std::string &d : {rt + "/src", rt + "/src/s"})
      if (mkdir(d.c_str(), 0755) != 0 || chmod(d.c_str(), 01777) != 0) return false;
  } else if (!e2e::AsUser(w.a, [&] {
               return mkdir((rt + "/src").c_str(), 0755) == 0 && mkdir((rt + "/src/s").c_str(), 0755) == 0;
             })) {
    return false;
  }
  return PlantFile(w, w.victim, "#!/bin/sh\necho mine\n") &&
         e2e::AsUser(w.a, [&] { return chmod(w.victim.c_str(), 0755) == 0; });
}

Result RestoreIntoRt(World &w, const std::string &options) {
  return w.job.Run({"-r", "-N", kLogin, "-s", w.SharedSaveset(), "-o", options, "-R", "/rt"});
}

Result RestoreInPlace(World &w, const std::string &options = "") {
  std::vector<std::string> args{"-r", "-N", kLogin, "-s", w.SharedSaveset()};
  if (!options.empty()) args.insert(args.end(), {"-o", options});
  return w.job.Run(args);
}

// The restore stopped at the open of the data set `name` (numbered from a
// dry run into /dry), sent sig there.
Result SignalledAtOpen(World &w, const std::string &name, int sig, const std::vector<std::string> &args) {
  Result dry = w.job.Run({"-r", "-N", kLogin, "-s", w.SharedSaveset(), "-R", "/dry"});
  int k = w.job.OpenNumber(name);
  if (dry.exitCode() != 0 || k == 0) return dry;
  return w.job.RunStopped(args, "NWSMTSOpenDataSetForRestore", k, [&](pid_t pid) {
    kill(pid, sig);
    if (sig != SIGKILL) kill(pid, SIGCONT);
  });
}

// What the backup kept from user a: root's private file.
const char kSecret[] = "password=swordfish\n";

// Every file below root holding the secret that user a can read, and every
// directory of a's that holds one: "" where there is none.
std::string Exposed(const World &w, const std::string &root, bool aOwnsRoot = false) {
  std::string why;
  for (const std::string &n : e2e::Names(root)) {
    std::string path = root + "/" + n;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) why += Exposed(w, path, st.st_uid == w.a.uid);
    if (!S_ISREG(st.st_mode) || vrktest::ReadFile(path) != kSecret) continue;
    if (aOwnsRoot) why += "a owns the directory of " + path + "\n";
    if (e2e::AsUser(w.a, [&] { return open(path.c_str(), O_RDONLY) >= 0; })) why += "a reads " + path + "\n";
  }
  return why;
}

// /src/www of user a's (0755) holding root's .secrets (0700), and in that
// root's db.conf (0644), backed up; then, as a, root's .secrets moved to
// .gone (www is a's) and, with swap, a's own .secrets (0755) put at its name.
bool PlantSecrets(World &w, bool swap) {
  std::string www = w.job.file("data/src/www");
  if (mkdir(www.c_str(), 0755) != 0 || mkdir((www + "/.secrets").c_str(), 0700) != 0) return false;
  vrktest::WriteFileAt(www + "/.secrets/db.conf", kSecret, 1300000000);
  if (chmod((www + "/.secrets/db.conf").c_str(), 0644) != 0 || chown(www.c_str(), w.a.uid, w.a.gid) != 0 ||
      Full(w).exitCode() != 0)
    return false;
  return e2e::AsUser(w.a, [&] {
    return rename((www + "/.secrets").c_str(), (www + "/.gone").c_str()) == 0 &&
           (!swap || (mkdir((www + "/.secrets").c_str(), 0755) == 0 && chmod((www + "/.secrets").c_str(), 0755) == 0));
  });
}

// As a: root's .secrets, made by a restore, moved away and a's own put there.
bool SwapSecretsAgain(World &w) {
  std::string www = w.job.file("data/src/www");
  return e2e::AsUser(w.a, [&] {
    return rename((www + "/.secrets").c_str(), (www + "/.gone2").c_str()) == 0 &&
           mkdir((www + "/.secrets").c_str(), 0755) == 0 && chmod((www + "/.secrets").c_str(), 0755) == 0;
  });
}

// /s of user a's holding a's pub (0755, with a's file) and root's secret
// (0700, with root's k1 and k2, 0644), backed up; then pub and secret gone.
bool PlantPubAndSecret(World &w) {
  std::string top = w.job.file("data/s");
  if (mkdir(top.c_str(), 0755) != 0 || mkdir((top + "/pub").c_str(), 0755) != 0 ||
      mkdir((top + "/secret").c_str(), 0700) != 0)
    return false;
  vrktest::WriteFileAt(top + "/pub/readme", "public\n", 1300000000);
  for (const char *k : {"/secret/k1", "/secret/k2"}) {
    vrktest::WriteFileAt(top + k, kSecret, 1300000000);
    if (chmod((top + k).c_str(), 0644) != 0) return false;
  }
  if (!e2e::GiveTree(top + "/pub", w.a) || chown(top.c_str(), w.a.uid, w.a.gid) != 0 ||
      w.job.Backup({"-l", "FULL", "-s", w.SharedSaveset(), "/s"}).exitCode() != 0)
    return false;
  return system(("rm -rf '" + top + "/pub' '" + top + "/secret'").c_str()) == 0;
}

// A restore with overwrite over root's a.txt and b.txt (0644, which user a
// may read), whose new files fail as the world says: the old files stay
// whole, as a could read them.
Case FailedOverwrite(const char *name, const char *world) {
  return {name,
          [world](World &w) {
            if (Full(w).exitCode() != 0) return false;
            for (const char *f : {"data/src/a.txt", "data/src/b.txt"}) {
              vrktest::WriteFileAt(w.job.file(f), "kept\n", kOld);
              if (chmod(w.job.file(f).c_str(), 0644) != 0) return false;
            }
            w.job.SetWorld(world);
            return true;
          },
          [](World &w) { return RestoreInPlace(w, "overwrite"); }, 3,
          {"Item processed with failure: [/src/a.txt]", "Item processed with failure: [/src/b.txt]"},
          [](World &w) {
            std::string why;
            for (const char *f : {"data/src/a.txt", "data/src/b.txt"}) {
              const std::string path = w.job.file(f);
              if (vrktest::ReadFile(path) != "kept\n") why += std::string(f) + " lost its bytes\n";
              if (!e2e::AsUser(w.a, [&] { return open(path.c_str(), O_RDONLY) >= 0; })) why += "a cannot read " + path + "\n";
              why += Mode(path, 0644, 0);
            }
            return why + e2e::Leftovers(w.job.file("data/src"));
          }};
}

// Every directory below `was` and its copy below `back`: "" where each has
// the same mode, owner, group and modification time.
std::string DirsAlike(const std::string &was, const std::string &back) {
  struct stat a, b;
  if (lstat(was.c_str(), &a) != 0 || lstat(back.c_str(), &b) != 0) return back + " missing\n";
  std::string why;
  if (a.st_mode != b.st_mode || a.st_uid != b.st_uid || a.st_gid != b.st_gid || a.st_mtime != b.st_mtime)
    why += back + " has mode " + std::to_string(b.st_mode & 07777) + ", owner " + std::to_string(b.st_uid) +
           ", time " + std::to_string((long long)b.st_mtime) + "\n";
  for (const std::string &n : e2e::Names(was))
    if (lstat((was + "/" + n).c_str(), &a) == 0 && S_ISDIR(a.st_mode)) why += DirsAlike(was + "/" + n, back + "/" + n);
  return why;
}

// /src/t of user a's (0750) holding root's priv (0700) with root's k1 and
// k2 (0644), every directory with an old time, backed up.
bool PlantOldTree(World &w) {
  const std::string t = w.job.file("data/src/t");
  if (mkdir(t.c_str(), 0750) != 0 || mkdir((t + "/priv").c_str(), 0700) != 0) return false;
  vrktest::WriteFileAt(t + "/open", "public\n", 1300000000);
  for (const char *k : {"/priv/k1", "/priv/k2"}) {
    vrktest::WriteFileAt(t + k, kSecret, 1300000000);
    if (chmod((t + k).c_str(), 0644) != 0) return false;
  }
  if (chown(t.c_str(), w.a.uid, w.a.gid) != 0 || chown((t + "/open").c_str(), w.a.uid, w.a.gid) != 0) return false;
  struct timespec old[2] = {{kOld, 0}, {kOld, 0}};
  for (const std::string &d : {t + "/priv", t, w.job.file("data/src")})
    if (utimensat(AT_FDCWD, d.c_str(), old, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return Full(w).exitCode() == 0;
}

const std::string kSecretsRefused =
    "vrk_sms: /src/www/.secrets/: not restored: the directory belongs to {a}, who is neither the caller, root nor "
    "its owner in the backup, root (uid 0): nothing is restored into it or beneath it";

std::string SecretsKept(World &w) {
  std::string why = Exposed(w, w.job.file("data/src"));
  if (!e2e::Names(w.job.file("data/src/www/.secrets")).empty()) why += "a's .secrets was written into\n";
  return why;
}

const std::string kLinkRefused = "Unable to open file [{shared}/nightly.ss] [the symbolic link belongs to {a}, in a world-writable directory: not followed].";

TEST(RootSharedE2E, FilesOfAnotherUserAreNeverTrusted) {
  if (geteuid() != 0) GTEST_SKIP() << "the client must run as root beside another user's files";
  Case cases[] = {
      {"a link at the saveset name to a file of root's",
       [](World &w) { return PlantLink(w, w.victim, w.saveset); }, [](World &w) { return Full(w); }, 3,
       {kLinkRefused},
       [](World &w) { return VictimSame(w); }},
      {"a link at the saveset name to a device",
       [](World &w) {
         std::string dev = w.job.file("victim.dev");
         return mknod(dev.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 && (w.victim = dev, true) &&
                PlantLink(w, dev, w.saveset);
       },
       [](World &w) { return Full(w); }, 3, {kLinkRefused},
       [](World &w) { return VictimSame(w); }},
      {"a link at the saveset name to a FIFO",
       [](World &w) { return w.fifo.Make(w.job.file("victim.fifo")) && PlantLink(w, w.fifo.path, w.saveset); },
       [](World &w) { return Full(w); }, 3, {kLinkRefused},
       [](World &w) { return std::string(w.fifo.Untouched() ? "" : "written into the FIFO\n"); }},
      {"a link at the saveset name to where no file stands",
       [](World &w) { return PlantLink(w, w.job.file("made"), w.saveset); }, [](World &w) { return Full(w); }, 3,
       {kLinkRefused},
       [](World &w) { return std::string(access(w.job.file("made").c_str(), F_OK) == 0 ? "made through the link\n" : ""); }},
      {"a link behind a link of root's",
       [](World &w) {
         return PlantLink(w, w.victim, w.shared + "/hop") && symlink((w.shared + "/hop").c_str(), w.saveset.c_str()) == 0;
       },
       [](World &w) { return Full(w); }, 3,
       {"Unable to open file [{shared}/hop] [the symbolic link belongs to {a}, in a world-writable directory"},
       [](World &w) { return VictimSame(w); }},
      {"a link of another user as a directory on the way",
       [](World &w) {
         std::string home = w.job.file("home-a");
         mkdir(home.c_str(), 0755);
         if (chown(home.c_str(), w.a.uid, w.a.gid) != 0 || !PlantLink(w, w.victim, home + "/nightly.ss")) return false;
         w.saveset = w.shared + "/sub/nightly.ss";
         return PlantLink(w, home, w.shared + "/sub");
       },
       [](World &w) { return Full(w); }, 3,
       {"Unable to open file [{shared}/sub] [the symbolic link belongs to {a}, in a world-writable directory"},
       [](World &w) { return VictimSame(w); }},
      // Found with the links: what another user put at the name itself.
      {"a FIFO of another user at the saveset name",
       [](World &w) {
         return e2e::AsUser(w.a, [&] { return mkfifo(w.saveset.c_str(), 0666) == 0; }) &&
                (w.fifo.path = w.saveset, w.fifo.reader = open(w.saveset.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) >= 0;
       },
       [](World &w) { return Full(w); }, 3,
       {"Unable to open file [{shared}/nightly.ss] [the FIFO belongs to {a}, in a world-writable directory: not written into]."},
       [](World &w) { return std::string(w.fifo.Untouched() ? "" : "written into the FIFO\n"); }},
      {"a file of another user at the saveset name, which would be handed the backup",
       [](World &w) { return PlantFile(w, w.saveset, "mine\n") && (w.victim = w.saveset, true); },
       [](World &w) { return Full(w); }, 3,
       {"Unable to open file [{shared}/nightly.ss] [the file belongs to {a}, in a world-writable directory: not replaced]."},
       [](World &w) { return VictimSame(w); }},
      // What stays as it was: links of the caller's own, and of the owner
      // of a directory nobody else may write into.
      {"a link of root's own at the saveset name",
       [](World &w) { return symlink(w.victim.c_str(), w.saveset.c_str()) == 0; }, [](World &w) { return Full(w); }, 0,
       {},
       [](World &w) {
         struct stat st;
         std::string why = lstat(w.saveset.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? "" : "the link is gone\n";
         if (Take(w.victim).size < 100) why += "the target was not replaced\n";
         return why;
       }},
      {"a link of the owner of a directory only that user writes into",
       [](World &w) {
         std::string home = w.job.file("home-a");
         mkdir(home.c_str(), 0755);
         w.saveset = home + "/nightly.ss";
         return chown(home.c_str(), w.a.uid, w.a.gid) == 0 && PlantLink(w, w.victim, w.saveset);
       },
       [](World &w) { return Full(w); }, 0, {},
       [](World &w) { return std::string(Take(w.victim).size < 100 ? "the target was not replaced\n" : ""); }},
      // A temporary of another user, held under a shared lock.
      {"a temporary of another user, locked",
       [](World &w) {
         std::string temp = w.shared + "/.nightly.ss.vrk-new";
         if (!PlantFile(w, temp, "mine\n")) return false;
         int fd = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
         w.held.push_back(fd);
         return fd >= 0 && flock(fd, LOCK_SH) == 0;
       },
       [](World &w) { return Full(w); }, 0, {},
       [](World &w) {
         std::string why = SavesetMade(w);
         char buf[16] = {0};
         if (pread(w.held[0], buf, sizeof(buf) - 1, 0) != 5 || std::string(buf) != "mine\n") why += "the temporary changed\n";
         if (access((w.shared + "/.nightly.ss.vrk-new").c_str(), F_OK) == 0) why += "the temporary stayed\n";
         return why;
       }},
      {"a temporary of another user that the job's user may not remove",
       [](World &w) {
         if (!w.job.RunAs(w.b)) return false;
         chown(w.shared.c_str(), 0, 0);
         return PlantFile(w, w.shared + "/.nightly.ss.vrk-new", "mine\n");
       },
       [](World &w) { return Full(w); }, 3,
       {"Unable to open file [{shared}/.nightly.ss.vrk-new] [the file belongs to {a} and cannot be removed: Operation not permitted]."},
       [](World &w) {
         std::string why = NoSaveset(w);
         if (vrktest::ReadFile(w.shared + "/.nightly.ss.vrk-new") != "mine\n") why += "the temporary changed\n";
         return why;
       }},
      // The link comes between the look at the name and the open: the
      // open must not follow what the look did not see.
      {"a link put at the saveset name while the job looks at what stands there",
       [](World &w) { return w.fifo.Make(w.job.file("victim.fifo")) && StartFlipper(w, w.fifo.path, w.saveset); },
       [](World &w) {
         for (int i = 0; i < 80; ++i) {
           Full(w);
           struct stat st;
           if (lstat(w.saveset.c_str(), &st) == 0 && st.st_uid == 0) unlink(w.saveset.c_str());
         }
         w.StopFlipper();
         unlink(w.saveset.c_str());
         return Full(w);
       },
       0, {}, [](World &w) { return std::string(w.fifo.Untouched() ? "" : "written into the FIFO\n"); }},
      {"a link put as the missing directory of the saveset while the job looks at the name",
       [](World &w) {
         std::string dir = w.job.file("victim.dir");
         w.saveset = w.shared + "/sub/nightly.ss";
         return mkdir(dir.c_str(), 0755) == 0 && StartFlipper(w, dir, w.shared + "/sub");
       },
       [](World &w) {
         for (int i = 0; i < 80; ++i) Full(w);
         w.StopFlipper();
         unlink((w.shared + "/sub").c_str());
         return Full(w);
       },
       3, {"System call failed: No such file or directory [{shared}/sub/nightly.ss]"},
       [](World &w) {
         std::string why;
         for (const char *name : {"/nightly.ss", "/.nightly.ss.vrk-new"})
           if (access(w.job.file(std::string("victim.dir") + name).c_str(), F_OK) == 0)
             why += std::string(name + 1) + " made in the directory the link led to\n";
         return why;
       }},
      {"root's own saveset named with a trailing slash",
       [](World &w) {
         vrktest::WriteFile(w.saveset, "old\n");
         return true;
       },
       [](World &w) { return w.job.Backup({"-l", "FULL", "-s", w.SharedSaveset() + "/", "/src"}); }, 0, {},
       [](World &w) { return SavesetMade(w); }},
      {"a link of another user at the temporary name",
       [](World &w) { return PlantLink(w, w.victim, w.shared + "/.nightly.ss.vrk-new"); },
       [](World &w) { return Full(w); }, 0, {},
       [](World &w) { return SavesetMade(w) + VictimSame(w); }},
      {"a FIFO of another user at the temporary name",
       [](World &w) {
         return e2e::AsUser(w.a, [&] { return mkfifo((w.shared + "/.nightly.ss.vrk-new").c_str(), 0666) == 0; });
       },
       [](World &w) { return Full(w); }, 0, {}, [](World &w) { return SavesetMade(w); }},
      {"an empty directory of another user at the temporary name",
       [](World &w) {
         return e2e::AsUser(w.a, [&] { return mkdir((w.shared + "/.nightly.ss.vrk-new").c_str(), 0755) == 0; });
       },
       [](World &w) { return Full(w); }, 0, {}, [](World &w) { return SavesetMade(w); }},
      {"a directory of another user at the temporary name that holds a file",
       [](World &w) {
         std::string temp = w.shared + "/.nightly.ss.vrk-new";
         return e2e::AsUser(w.a, [&] { return mkdir(temp.c_str(), 0755) == 0; }) && PlantFile(w, temp + "/x", "x\n");
       },
       [](World &w) { return Full(w); }, 3,
       {"Unable to open file [{shared}/.nightly.ss.vrk-new] [the directory belongs to {a} and cannot be removed: Directory not empty]."},
       [](World &w) { return NoSaveset(w); }},
      // A restore over files of another user in a target everyone writes
      // into: no owner and no set-user-ID in place.
      {"a restore of metadata only over another user's program",
       [](World &w) { return PlantProgramUnderRoots(w, true); },
       [](World &w) { return RestoreIntoRt(w, "skip_data,overwrite"); }, 3,
       {"vrk_sms: /rt/src/s/tool: not restored: the file belongs to {a}, who is neither the caller, root nor its "
        "owner in the backup: a restore gives it no new owner and no set-user or set-group ID"},
       [](World &w) { return VictimSame(w); }},
      // Nothing goes into another user's directory at the name of one of
      // root's: the program stays a's, the directories too.
      {"a restore over another user's program and directories",
       [](World &w) { return PlantProgramUnderRoots(w); },
       [](World &w) { return RestoreIntoRt(w, "overwrite"); }, 3,
       {"vrk_sms: /rt/src/: not restored: the directory belongs to {a}, who is neither the caller, root nor its "
        "owner in the backup, root (uid 0): nothing is restored into it or beneath it",
        "vrk_sms: /rt/src/s/: not restored: it lies beneath /rt/src/, which was not restored",
        "vrk_sms: /rt/src/s/tool: not restored: its directory was not restored"},
       [](World &w) { return VictimSame(w) + Mode(w.job.file("data/rt/src/s"), 0755, w.a.uid); }},
      {"a restore of metadata only over a program of the owner the backup names",
       [](World &w) {
         if (!PlantProgramUnderRoots(w)) return false;
         // a's own program in the backup: a's again, with a's set-user-ID.
         std::string tool = w.job.file("data/src/s/tool");
         return chown(tool.c_str(), w.a.uid, w.a.gid) == 0 && chmod(tool.c_str(), 04755) == 0 &&
                chown(w.job.file("data/src/s").c_str(), w.a.uid, w.a.gid) == 0 &&
                chown(w.job.file("data/src").c_str(), w.a.uid, w.a.gid) == 0 && Full(w).exitCode() == 0;
       },
       [](World &w) { return RestoreIntoRt(w, "skip_data,overwrite"); }, 0, {},
       [](World &w) { return Mode(w.victim, 04755, w.a.uid); }},
      {"a restore of metadata only over a program of the owner the backup names, set-group ID of root's group",
       [](World &w) {
         if (!PlantProgramUnderRoots(w)) return false;
         // a's program in the backup ran with group 0, which a is not of:
         // a's new program must not.
         std::string tool = w.job.file("data/src/s/tool");
         return chown(tool.c_str(), w.a.uid, 0) == 0 && chmod(tool.c_str(), 02755) == 0 &&
                chown(w.job.file("data/src/s").c_str(), w.a.uid, w.a.gid) == 0 &&
                chown(w.job.file("data/src").c_str(), w.a.uid, w.a.gid) == 0 && Full(w).exitCode() == 0;
       },
       [](World &w) { return RestoreIntoRt(w, "skip_data,overwrite"); }, 3,
       {"vrk_sms: /rt/src/s/tool: not restored: the file belongs to {a}, who is not of its group 0 in the backup: "
        "a restore gives it no set-group ID of that group"},
       [](World &w) {
         struct stat st;
         std::string why = VictimSame(w) + Mode(w.victim, 0755, w.a.uid);
         if (lstat(w.victim.c_str(), &st) == 0 && st.st_gid != w.a.gid) why += "the victim's group changed\n";
         return why;
       }},
      // Another user's directory at the name of one of root's that the
      // backup holds beneath the user's: root's files never go into it.
      {"another user's directory at a restored directory's name, default mode",
       [](World &w) { return PlantSecrets(w, true); }, [](World &w) { return RestoreInPlace(w); }, 3,
       {kSecretsRefused, "vrk_sms: /src/www/.secrets/db.conf: not restored: its directory was not restored"},
       [](World &w) { return SecretsKept(w) + Mode(w.job.file("data/src/www/.gone/db.conf"), 0644, 0); }},
      {"another user's directory at a restored directory's name, overwrite",
       [](World &w) { return PlantSecrets(w, true); }, [](World &w) { return RestoreInPlace(w, "overwrite"); }, 3,
       {kSecretsRefused},
       [](World &w) { return SecretsKept(w) + Mode(w.job.file("data/src/www"), 0755, w.a.uid); }},
      {"another user's directory put where a restore ended by SIGTERM made root's",
       [](World &w) { return PlantSecrets(w, false); },
       [](World &w) {
         Result r = SignalledAtOpen(w, "db.conf", SIGTERM, {"-r", "-N", kLogin, "-s", w.SharedSaveset()});
         if (!WIFSIGNALED(r.status) || Mode(w.job.file("data/src/www/.secrets"), 0700, 0) != "" ||
             !SwapSecretsAgain(w))
           return r;
         return RestoreInPlace(w);
       },
       3, {kSecretsRefused}, [](World &w) { return SecretsKept(w); }},
      // The note of a directory a killed restore left moves with the
      // directory: at another name it marks nothing.
      {"root's unfinished directory moved by its parent's owner to the name of one of theirs",
       [](World &w) { return PlantPubAndSecret(w); },
       [](World &w) {
         Result r = SignalledAtOpen(w, "k2", SIGKILL, {"-r", "-N", kLogin, "-s", w.SharedSaveset()});
         const std::string top = w.job.file("data/s");
         if (!WIFSIGNALED(r.status) || Mode(top + "/secret", 0700, 0) != "" || !e2e::AsUser(w.a, [&] {
               return rename((top + "/pub").c_str(), (top + "/pub.old").c_str()) == 0 &&
                      rename((top + "/secret").c_str(), (top + "/pub").c_str()) == 0;
             }))
           return r;
         return RestoreInPlace(w);
       },
       0, {},
       [](World &w) {
         return Exposed(w, w.job.file("data/s")) + Mode(w.job.file("data/s/pub"), 0700, 0) +
                Mode(w.job.file("data/s/secret"), 0700, 0) + Mode(w.job.file("data/s/secret/k1"), 0644, 0);
       }},
      // An overwrite replaces the old file only once the new one is whole
      // and closed: on every road a failure keeps the old one.
      FailedOverwrite("an overwrite whose new unnamed file fails at its close", "fail_new_file = close\n"),
      FailedOverwrite("an overwrite whose new unnamed file cannot take its data", "fail_new_file = data\n"),
      FailedOverwrite("an overwrite whose new named file fails at its close",
                      "unnamed_new_files = no\nfail_new_file = close\n"),
      // A restore stopped by SIGINT leaves what SIGTERM leaves: the
      // directories' metadata set and their notes, so that a run again
      // without overwrite gives every directory back as it was.
      {"a restore stopped by SIGINT, run again without overwrite",
       [](World &w) { return PlantOldTree(w); },
       [](World &w) {
         const std::vector<std::string> args{"-r", "-N", kLogin, "-s", w.SharedSaveset(), "-R", "/r"};
         // Stopped after k1, before k2 is made in priv.
         Result r = SignalledAtOpen(w, "k1", SIGINT, args);
         if (r.exitCode() < 0 || Mode(w.job.file("data/r/src/t/priv"), 0700, 0) != "") return r;
         return w.job.Run(args);
       },
       0, {},
       [](World &w) {
         return DirsAlike(w.job.file("data/src"), w.job.file("data/r/src")) + Exposed(w, w.job.file("data/r")) +
                Mode(w.job.file("data/r/src/t/priv/k2"), 0644, 0);
       }},
      // Markers.
      // A run prepares its markers under names of its own and commits only
      // those: what another user put at the job's names is never taken.
      {"markers of another user in the tmp directory before a FULL",
       [](World &w) {
         w.victim = w.job.file("tmp/job.I");
         return PlantFile(w, w.job.file("tmp/job.I"), "") && PlantFile(w, w.job.file("tmp/job.D"), "");
       },
       [](World &w) { return Full(w); }, 0, {},
       [](World &w) {
         std::string why = VictimSame(w) + Mode(w.job.file("times/job.I"), 0600, 0) +
                           Mode(w.job.file("times/job.D"), 0600, 0);
         struct stat st;
         if (stat(w.job.file("times/job.I").c_str(), &st) == 0 && st.st_mtime == kOld)
           why += "the planted marker became the reference\n";
         return why;
       }},
      {"a committed marker of another user, dated 2099",
       [](World &w) {
         Result r = Full(w);
         if (r.exitCode() != 0) return false;
         std::string m = w.job.file("times/job.I");
         struct timespec t[2] = {{4102444800, 0}, {4102444800, 0}};
         vrktest::WriteFileAt(w.job.file("data/src/a.txt"), "changed\n", 1400000000);
         return chown(m.c_str(), w.a.uid, w.a.gid) == 0 && utimensat(AT_FDCWD, m.c_str(), t, 0) == 0;
       },
       [](World &w) { return w.job.Backup({"-l", "INCR", "-s", w.SharedSaveset(), "/src"}); }, 1,
       {"Cannot stat() time stamp file [{job}/times/job.I]:[it belongs to {a}, not to the user of the job].",
        "No timestamp file found. Doing full save", "Items processed correctly: [3]"},
       [](World &w) { return Mode(w.job.file("times/job.I"), 0600, 0); }},
      // Job logs and the list of a PUT.
      {"a job log of another user",
       [](World &w) {
         chmod(w.job.file("log").c_str(), 01777);
         w.victim = w.job.file("log/job.log");
         return PlantFile(w, w.victim, "mine\n");
       },
       [](World &w) { return Full(w, {"-L", "CONTROL:job.log"}); }, 1,
       {"Unable to open log file [{job}/log/job.log]:[the file belongs to {a}, not to the user of the job]. Continuing logging to stderr...",
        "Operation successful with warnings."},
       [](World &w) { return VictimSame(w); }},
      {"the list of a PUT made by another user",
       [](World &w) {
         w.victim = w.job.file("tmp/PUT.IN");
         vrktest::WriteFile(w.job.file("put.ss"), "put\n");
         return PlantFile(w, w.victim, "mine\n");
       },
       [](World &w) { return w.job.Run({"-p", "-s", "@" + w.job.file("put.ss"), "/etc/hostname"}); }, 3,
       {"Unable to open file [{job}/tmp/PUT.IN] [the file belongs to {a}, not to the user of the job]."},
       [](World &w) { return VictimSame(w); }},
      {"files made under umask 000",
       [](World &w) {
         w.job.SetChildSetup([] { umask(0); });
         return true;
       },
       [](World &w) { return Full(w, {"-L", "CONTROL:job.log"}); }, 0, {},
       [](World &w) {
         return Mode(w.job.file("log/job.log"), 0640, 0) + Mode(w.job.file("times/job.I"), 0600, 0) +
                Mode(w.saveset, 0600, 0);
       }},
      // A new saveset holds every file of the backup, private ones too: no
      // other user may read it. One that replaces a saveset keeps its mode.
      {"a new saveset of root's in a shared directory",
       [](World &w) {
         w.job.SetChildSetup([] { umask(022); });
         return true;
       },
       [](World &w) { return Full(w); }, 0, {},
       [](World &w) {
         std::string why = SavesetMade(w) + Mode(w.saveset, 0600, 0);
         if (e2e::AsUser(w.b, [&] { return open(w.saveset.c_str(), O_RDONLY) >= 0; }))
           why += "another user read the new saveset\n";
         return why;
       }},
      {"root's saveset replaced, its mode kept",
       [](World &w) {
         w.job.SetChildSetup([] { umask(077); });
         vrktest::WriteFile(w.saveset, "old\n");
         return chmod(w.saveset.c_str(), 0644) == 0;
       },
       [](World &w) { return Full(w); }, 0, {},
       [](World &w) {
         std::string why = SavesetMade(w) + Mode(w.saveset, 0644, 0);
         if (!e2e::AsUser(w.b, [&] { return open(w.saveset.c_str(), O_RDONLY) >= 0; }))
           why += "the replaced saveset is no longer readable as before\n";
         return why;
       }},
      // A saveset directory everyone writes into without the sticky bit:
      // while the job writes, a moves the temporary away and puts a saveset
      // of a's own at its name. That never stands as root's saveset.
      {"a saveset of another user's put at the temporary name while the job writes",
       [](World &w) {
         w.job.SetWorld("stop NWSMTSReadDataSet = 2\n");
         return chmod(w.shared.c_str(), 0777) == 0;
       },
       [](World &w) {
         const std::string temp = w.shared + "/.nightly.ss.vrk-new";
         return w.job.Run({"-b", "-j", "job", "-N", kLogin, "-l", "FULL", "-s", w.SharedSaveset(), "/src"},
                          [&](pid_t pid, const std::string &) {
                            if (!Has(vrktest::ReadFile(w.job.file("calls.log")), "stop NWSMTSReadDataSet call 2"))
                              return false;
                            e2e::AsUser(w.a, [&] {
                              if (rename(temp.c_str(), (w.shared + "/moved").c_str()) != 0) return false;
                              int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                              return fd >= 0 && write(fd, "forged\n", 7) == 7 && close(fd) == 0;
                            });
                            kill(pid, SIGCONT);
                            return true;
                          });
       },
       3,
       {"System call failed: [{shared}/.nightly.ss.vrk-new] is no longer the saveset written; "
        "[{shared}/nightly.ss] is not replaced"},
       [](World &w) {
         struct stat st;
         std::string why = NoSaveset(w);
         if (lstat((w.shared + "/moved").c_str(), &st) != 0 || st.st_uid != 0) why += "a did not move the temporary\n";
         return why;
       }},
      {"an older job log of root's own, open to everyone",
       [](World &w) {
         vrktest::WriteFile(w.job.file("log/job.log"), "old\n");
         return chmod(w.job.file("log/job.log").c_str(), 0666) == 0;
       },
       [](World &w) { return Full(w, {"-L", "CONTROL:job.log"}); }, 0, {},
       [](World &w) { return Mode(w.job.file("log/job.log"), 0640, 0); }},
      // Standard descriptors closed at the start.
      {"-s - with standard output closed",
       [](World &w) {
         w.job.SetChildSetup([] { CloseFds({1}); });
         return true;
       },
       [](World &w) { return w.job.Backup({"-l", "FULL", "-s", "-", "/src"}); }, 3,
       {"Saveset [STDOUT] is standard output, which was closed when the job started. Exiting."},
       [](World &w) {
         return std::string(vrktest::ReadFile(w.job.file("calls.log")).empty() ? "" : "the job went on\n");
       }},
      {"-s - with standard output and error closed",
       [](World &w) {
         w.job.SetChildSetup([] { CloseFds({1, 2}); });
         return true;
       },
       [](World &w) { return w.job.Backup({"-l", "FULL", "-s", "-", "/src"}); }, 3, {},
       [](World &w) {
         return std::string(vrktest::ReadFile(w.job.file("calls.log")).empty() ? "" : "the job went on\n");
       }},
      {"a saveset named /dev/stdout with standard output closed",
       [](World &w) {
         w.job.SetChildSetup([] { CloseFds({1}); });
         return true;
       },
       [](World &w) { return w.job.Backup({"-l", "FULL", "-s", "@/dev/stdout", "/src"}); }, 3,
       {"Unable to open file [/dev/stdout] [it leads to standard output, which was closed when the job started]."},
       [](World &) { return std::string(); }},
      {"-s - for a restore with standard input closed",
       [](World &w) {
         w.job.SetChildSetup([] { CloseFds({0}); });
         return true;
       },
       [](World &w) { return w.job.Run({"-r", "-N", kLogin, "-s", "-", "-R", "/back"}); }, 3,
       {"Saveset [STDIN] is standard input, which was closed when the job started. Exiting."},
       [](World &) { return std::string(); }},
      {"a listing with standard output closed",
       [](World &w) {
         w.job.SetChildSetup([] { CloseFds({1}); });
         return true;
       },
       [](World &w) { return w.job.Run({"-D", "-N", kLogin, "/src"}); }, 3,
       {"The listing goes to standard output, which was closed when the job started. Exiting."},
       [](World &) { return std::string(); }},
      // An ordinary user who replaces a saveset of root's cannot give the
      // new one to root: said, not ignored.
      {"an ordinary user replacing root's saveset",
       [](World &w) {
         if (!w.job.RunAs(w.b)) return false;
         w.saveset = w.job.file("own.ss");
         vrktest::WriteFile(w.saveset, "old\n");
         return chmod(w.saveset.c_str(), 0644) == 0;
       },
       [](World &w) { return Full(w); }, 1,
       {"Saveset [{job}/own.ss] made anew keeps its owner {b}, not root (uid 0) with group 0 of the one it replaces: Operation not permitted"},
       [](World &w) { return SavesetMade(w) + Mode(w.saveset, 0644, w.b.uid); }},
  };
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    World w;
    std::string why;
    if (!MakeWorld(&w, &why)) GTEST_SKIP() << why;
    ASSERT_TRUE(c.plant(w)) << "setting up the row failed: " << strerror(errno);
    gVictim = Take(w.victim);
    Result r = c.run(w);
    EXPECT_EQ(c.status, r.exitCode()) << r.status << "\n" << r.err;
    for (const std::string &m : c.messages) EXPECT_TRUE(Has(r.err, Fill(m, w))) << Fill(m, w) << "\n" << r.err;
    EXPECT_EQ("", c.check(w)) << r.err;
  }
}

}  // namespace
