// The archive state files: "<state>/archive-<hash>.log", one for each TSA
// resource and job, with one header line, then lines
// "S <date> <run> <dev> <ino> <sec> <nsec> <ownsec> <ownnsec> <len>:<key>" (a
// data set saved; ownsec -1 when its access time was not set back),
// "X <date> <run> <len>:<key>" (its backup failed) and "C <run> <level>" (a run
// of the job committed its markers); the last record line of a key wins.
#include "sms/sms_archive.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <algorithm>
#include <map>
#include <unordered_set>

#include "runtime/printable.h"
#include "sms/sms_archive_records.h"
#include "sms/sms_changed.h"
#include "sms/sms_state.h"

namespace vrksms {

namespace {

// Bumped whenever tables are replaced: directory lists handed out before are gone.
uint64_t gGeneration = 1;

// Appended lines wait until this many bytes gather (or the scan ends, the
// target service is released, the world is loaded again or the process
// ends). Lines that never reach the file only make data sets count as
// modified at the next backup.
constexpr size_t kAppendGather = 65536;

// A state file is rewritten with one line a name once its lines exceed
// kCompactFactor times its names (and kCompactFloor lines), so that its size
// follows the number of names and not the number of backups.
constexpr size_t kCompactFactor = 2;
constexpr size_t kCompactFloor = 64;

struct Table {
  bool loaded = false;
  ArchiveRecords records;
  size_t lines = 0;  // record lines in the file as far as this process knows
  // Kept open for the appends of one world (O_APPEND), written whole lines
  // at a time so that two backups of one resource never split a line. The
  // descriptor holds a shared lock for as long as it is open: a rewrite
  // takes the exclusive one, so that no line goes to a replaced file.
  int out = -1;
  std::string pending;
  bool failed = false;  // a gathered write failed: reported at the next store
  // Names a scan found gone (directories with all beneath them), dropped
  // from the records at the end of the scan and from the file at its next
  // rewrite.
  std::unordered_set<std::string> goneKeys, goneDirs;
  bool goneNew = false;  // some not yet dropped from the records in memory
  JobRuns runs;          // the runs of the job that committed
  bool storedThisRun = false;
};

// The job of this process's backup and the run number of its records.
struct ArchiveJob {
  std::string name;
  ScanLevel level = ScanLevel::kFull;
  uint64_t run = 0;
};

ArchiveJob &Job() {
  static ArchiveJob j;
  return j;
}

// A run number no other run of the job has (0 is no job's).
uint64_t NewRun() {
  uint64_t r = 0;
  while (r == 0) {
    if (getrandom(&r, sizeof(r), 0) != static_cast<ssize_t>(sizeof(r))) {
      struct timespec ts;
      clock_gettime(CLOCK_REALTIME, &ts);
      r = (static_cast<uint64_t>(ts.tv_sec) << 32) ^ static_cast<uint64_t>(ts.tv_nsec) ^
          (static_cast<uint64_t>(getpid()) << 16);
    }
  }
  return r;
}

std::map<std::string, Table> &Tables() {
  static std::map<std::string, Table> t;
  return t;
}

// The table of the last TSA resource asked for: a backup asks for the same
// one for every data set.
struct LastTable {
  const Tsa *tsa = nullptr;
  const Resource *res = nullptr;
  std::string file;
  Table *table = nullptr;
};

LastTable &Last() {
  static LastTable l;
  return l;
}

bool WritePending(Table &t) {
  size_t done = 0;
  while (done < t.pending.size()) {
    ssize_t n = write(t.out, t.pending.data() + done, t.pending.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      t.pending.clear();
      t.failed = true;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  t.pending.clear();
  return true;
}

void FlushAtExit() { FlushArchive(); }

template <typename T>
void AppendNumber(std::string &out, T v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof(buf), v);
  out.append(buf, static_cast<size_t>(r.ptr - buf));
}

void AppendHex(std::string &out, uint64_t v, int digits) {
  static const char hex[] = "0123456789abcdef";
  char buf[16];
  for (int i = 0; i < digits; ++i) buf[i] = hex[(v >> (4 * (digits - 1 - i))) & 0xF];
  out.append(buf, static_cast<size_t>(digits));
}

// Appends the record's line (see the top of the file) without printf: one
// line for every data set of a backup.
void AppendLine(std::string &out, const ArchiveRecord &rec, const std::string &key) {
  out += rec.failed ? "X " : "S ";
  AppendHex(out, rec.archived, 8);
  out += ' ';
  AppendHex(out, rec.run, 16);
  out += ' ';
  if (!rec.failed) {
    AppendNumber(out, rec.dev);
    out += ' ';
    AppendNumber(out, rec.ino);
    out += ' ';
    AppendNumber(out, static_cast<long long>(rec.cleanSec));
    out += ' ';
    AppendNumber(out, rec.cleanNsec);
    out += ' ';
    AppendNumber(out, static_cast<long long>(rec.ownSec >= 0 ? rec.ownSec : -1));
    out += ' ';
    AppendNumber(out, rec.ownSec >= 0 ? rec.ownNsec : 0);
    out += ' ';
  }
  AppendNumber(out, key.size());
  out += ':';
  out += key;
  out += '\n';
}

void AppendCommit(std::string &out, uint64_t run, bool full) {
  out += "C ";
  AppendHex(out, run, 16);
  out += full ? " 0\n" : " 1\n";
}

std::string StateDir() {
  const std::string &s = G().world.stateDir;
  if (!s.empty()) return s;
  if (geteuid() == 0) return "/var/lib/vrk_sms";
  const char *home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/state/vrk_sms";
}

std::string FileFor(const Tsa &tsa, const Resource &res) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a of "tsa\0resource" (and "\0job")
  std::string id = tsa.name + '\0' + res.name;
  if (!Job().name.empty()) id += '\0' + Job().name;
  for (unsigned char c : id) h = (h ^ c) * 1099511628211ull;
  return StateDir() + Format("/archive-%016llx.log", static_cast<unsigned long long>(h));
}

bool MakeDirs(const std::string &dir) {
  std::string cur;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    cur = dir.substr(0, pos);
    if (!cur.empty() && mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Reads the record lines of f into records and the commits into runs; the
// number of lines read. Lines of an earlier layout are passed over: their
// names count as new.
size_t ReadRecords(FILE *f, ArchiveRecords &records, JobRuns &runs) {
  char *line = nullptr;
  size_t cap = 0, lines = 0;
  ssize_t n;
  while ((n = getline(&line, &cap, f)) > 0) {
    if (line[0] == '#') continue;
    ++lines;
    unsigned date = 0, nsec = 0, ownNsec = 0, level = 0;
    unsigned long long run = 0, dev = 0, ino = 0;
    long long sec = -1, ownSec = -1;
    size_t len = 0;
    int off = 0;
    bool ok;
    if (line[0] == 'C') {
      if (sscanf(line, "C %llx %u%n", &run, &level, &off) == 2 && off + 1 == n && line[n - 1] == '\n')
        runs.Committed(run, level == 0);
      continue;
    }
    if (line[0] == 'S')
      ok = sscanf(line, "S %x %llx %llu %llu %lld %u %lld %u %zu:%n", &date, &run, &dev, &ino, &sec, &nsec, &ownSec,
                  &ownNsec, &len, &off) == 9;
    else if (line[0] == 'X')
      ok = sscanf(line, "X %x %llx %zu:%n", &date, &run, &len, &off) == 3;
    else
      ok = false;
    if (!ok || off <= 0) continue;
    if (static_cast<size_t>(n) != static_cast<size_t>(off) + len + 1 || line[n - 1] != '\n') continue;
    ArchiveRecord r;
    r.archived = date;
    r.run = run;
    r.failed = line[0] == 'X';
    if (!r.failed) {
      r.dev = dev;
      r.ino = ino;
      r.cleanSec = sec;
      r.cleanNsec = nsec;
      r.ownSec = ownSec >= 0 ? ownSec : -1;
      r.ownNsec = ownSec >= 0 ? ownNsec : 0;
    }
    records.Add(std::string(line + off, len), r);
  }
  free(line);
  records.Finish();
  return lines;
}

// A state file is taken only when it is a regular file of this user that
// no one else may write: another user's lines could make a change look
// saved, and the file names what this user backs up.
bool Trusted(int fd, const std::string &file, bool say) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  const char *why = !S_ISREG(st.st_mode)         ? "it is not a regular file"
                    : st.st_uid != geteuid()     ? "it belongs to another user"
                    : (st.st_mode & 022) != 0    ? "others may write it"
                                                 : nullptr;
  if (!why) return true;
  if (say)
    fprintf(stderr, "%s\n",
            vrk_printable("vrk_sms: archive state " + file + " not used, every data set counts as modified: " + why +
                          Format(" (uid %u, mode %04o)", static_cast<unsigned>(st.st_uid),
                                 static_cast<unsigned>(st.st_mode & 07777)))
                .c_str());
  return false;
}

Table &Load(const std::string &file) {
  Table &t = Tables()[file];
  if (t.loaded) return t;
  t.loaded = true;
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return t;
  if (!Trusted(fd, file, true)) {
    close(fd);
    return t;
  }
  FILE *f = fdopen(fd, "r");
  if (!f) {
    close(fd);
    return t;
  }
  t.lines = ReadRecords(f, t.records, t.runs);
  fclose(f);
  return t;
}

bool SameFile(int fd, const std::string &file) {
  struct stat a, b;
  return fstat(fd, &a) == 0 && stat(file.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the state file for appending under a shared lock; a file replaced
// by a rewrite while this waited for the lock is opened again.
int OpenForAppend(const std::string &file) {
  for (int tries = 0; tries < 8; ++tries) {
    int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) return -1;
    int rc;
    while ((rc = flock(fd, LOCK_SH)) != 0 && errno == EINTR) {
    }
    if (rc == 0 && SameFile(fd, file)) {
      if (Trusted(fd, file, false)) return fd;
      close(fd);
      return -1;
    }
    close(fd);
    if (rc != 0) return -1;
  }
  return -1;
}

// Rewrites the file with one line a record: read again under the exclusive
// lock (other backups may have added lines), written to a temporary beside
// it and renamed over it, so that a process killed meanwhile leaves the old
// file whole. Another backup that holds the file open leaves it as it is.
void Compact(const std::string &file, Table &t) {
  int fd = t.out;
  if (fd < 0) fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return;
  // Converting a shared lock may let go of it first: once this fails the
  // appends go on under a shared lock taken again, on the current file.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !SameFile(fd, file) || !Trusted(fd, file, false)) {
    if (fd != t.out) {
      close(fd);
    } else {
      close(t.out);
      t.out = -1;
    }
    return;
  }
  ArchiveRecords records;
  std::string body;
  FILE *f = fopen(file.c_str(), "re");
  if (f) {
    // The header line is kept as it is.
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n = getline(&line, &cap, f);
    if (n > 0 && line[0] == '#') body.assign(line, static_cast<size_t>(n));
    else rewind(f);
    free(line);
    JobRuns runs;
    ReadRecords(f, records, runs);
    fclose(f);
    records.Drop(t.goneKeys, t.goneDirs);
    // Records that can hide no change go: those of runs that did not commit
    // (but this one, whose commit is still to come) and of runs before the
    // job's last FULL. The commits of the runs still named stay, in order.
    const uint64_t own = Job().run;
    records.DropIf([&](const ArchiveRecord &rec) {
      return rec.run != own && StandingOf(runs, rec.run, ScanLevel::kIncremental) != RunStanding::kInChain;
    });
    std::vector<std::pair<uint32_t, uint64_t>> named;
    records.ForEach([&](const std::string &, const ArchiveRecord &rec) {
      auto it = runs.commits.find(rec.run);
      if (it != runs.commits.end() && it->second.order != 0) {
        named.emplace_back(it->second.order, rec.run);
        it->second.order = 0;  // once
      }
    });
    std::sort(named.begin(), named.end());
    JobRuns kept;
    for (const auto &o : named) {
      const bool full = o.first == runs.lastFull;
      kept.Committed(o.second, full);
      AppendCommit(body, o.second, full);
    }
    std::string tmp = file + ".new";
    // Made anew: whatever stands at the name (a killed rewrite's leftover,
    // or a link someone put there) is removed, never written through.
    unlink(tmp.c_str());
    int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = out >= 0;
    auto put = [&]() {
      if (ok && !body.empty()) ok = write(out, body.data(), body.size()) == static_cast<ssize_t>(body.size());
      body.clear();
    };
    records.ForEach([&](const std::string &key, const ArchiveRecord &rec) {
      AppendLine(body, rec, key);
      if (body.size() >= (1u << 20)) put();
    });
    put();
    if (out >= 0) ok = fsync(out) == 0 && ok;
    if (out >= 0) ok = close(out) == 0 && ok;
    if (ok && rename(tmp.c_str(), file.c_str()) == 0) {
      t.records.swap(records);
      t.runs = std::move(kept);
      ++gGeneration;
      t.lines = t.records.size() + t.runs.commits.size();
      t.goneKeys.clear();
      t.goneDirs.clear();
    } else if (out >= 0) {
      unlink(tmp.c_str());
    }
  }
  // The lock goes with the descriptor; appends open the new file.
  if (fd == t.out) t.out = -1;
  close(fd);
}

Table &TableFor(const Tsa &tsa, const Resource &res, const std::string **file) {
  LastTable &l = Last();
  if (!l.table || l.tsa != &tsa || l.res != &res) {
    l.file = FileFor(tsa, res);
    l.table = &Load(l.file);
    l.tsa = &tsa;
    l.res = &res;
  }
  if (file) *file = &l.file;
  return *l.table;
}

}  // namespace

bool LookupArchive(const Tsa &tsa, const Resource &res, const std::string &key, ArchiveRecord &out) {
  return TableFor(tsa, res, nullptr).records.Find(key, out);
}

const ArchiveDir *FindArchiveDir(const Tsa &tsa, const Resource &res, const std::string &dir) {
  return TableFor(tsa, res, nullptr).records.Dir(dir);
}

bool LookupInArchiveDir(const ArchiveDir *dir, const std::string &leaf, ArchiveRecord &out) {
  if (!dir) return false;
  auto it = dir->Find(leaf);
  if (it == dir->list.end()) return false;
  out = it->second;
  return true;
}

uint64_t ArchiveGeneration() { return gGeneration; }

namespace {

// Opens the table's file for appending, with its header line when it is new.
bool OpenTable(Table &t, const std::string &file, const Tsa &tsa, const Resource &res) {
  if (t.out >= 0) return true;
  if (!MakeDirs(StateDir())) return false;
  t.out = OpenForAppend(file);
  if (t.out < 0) return false;
  struct stat st;
  if (fstat(t.out, &st) == 0 && st.st_size == 0) {
    std::string job = Job().name;
    // The header is one line whatever the job is named.
    for (char &c : job)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    t.pending = Format("# vrk_sms archive state of TSA \"%s\" resource \"%s\"%s\n", tsa.name.c_str(),
                       res.name.c_str(), job.empty() ? "" : (" job \"" + job + "\"").c_str());
  }
  static bool registered = false;
  if (!registered) registered = atexit(FlushAtExit) == 0;
  return true;
}

}  // namespace

bool StoreArchive(const Tsa &tsa, const Resource &res, const std::string &key, const ArchiveRecord &given) {
  const std::string *file = nullptr;
  Table &t = TableFor(tsa, res, &file);
  if (!OpenTable(t, *file, tsa, res)) return false;
  ArchiveRecord rec = given;
  rec.run = Job().run;
  t.storedThisRun = true;
  if (t.failed) {
    t.failed = false;
    return false;
  }
  if (!t.goneKeys.empty()) t.goneKeys.erase(key);
  // A name with a line break would split its line, and what follows the
  // break, chosen by whoever named the file, would read as a record of
  // another data set: such a name is kept in memory only, and counts as
  // modified at the next backup.
  if (key.find('\n') != std::string::npos) {
    t.records.Set(key, rec);
    return true;
  }
  AppendLine(t.pending, rec, key);
  ++t.lines;
  t.records.Set(key, rec);
  if (t.pending.size() >= kAppendGather) return WritePending(t);
  return true;
}

bool MarkFailed(const Tsa &tsa, const Resource &res, const std::string &key) {
  ArchiveRecord rec;
  LookupArchive(tsa, res, key, rec);
  if (rec.failed) return true;
  rec.failed = true;
  rec.cleanSec = rec.ownSec = -1;
  rec.cleanNsec = rec.ownNsec = 0;
  return StoreArchive(tsa, res, key, rec);
}

void ForgetArchive(const Tsa &tsa, const Resource &res, const std::string &key) {
  Table &t = TableFor(tsa, res, nullptr);
  if (!key.empty() && key.back() == '/') t.goneDirs.insert(key);
  else t.goneKeys.insert(key);
  t.goneNew = true;
}

void FlushArchive() {
  for (auto &kv : Tables())
    if (kv.second.out >= 0 && !kv.second.pending.empty()) WritePending(kv.second);
}

void CompactArchive() {
  for (auto &kv : Tables()) {
    Table &t = kv.second;
    if (t.goneNew) {
      t.goneNew = false;
      t.records.Drop(t.goneKeys, t.goneDirs);
      ++gGeneration;  // directory lists handed out may be gone
    }
    if (t.lines <= kCompactFloor || t.lines <= kCompactFactor * t.records.size()) continue;
    if (t.out >= 0 && !t.pending.empty() && !WritePending(t)) continue;
    Compact(kv.first, t);
  }
}

void SetArchiveJob(const std::string &job, ScanLevel level) {
  ArchiveJob &j = Job();
  if (job != j.name) ResetArchiveCache();  // the tables of another state
  j.name = job;
  j.level = level;
  j.run = job.empty() ? 0 : NewRun();
}

ScanLevel ArchiveLevel() { return Job().level; }

bool ArchiveJobSet() { return !Job().name.empty(); }

RunStanding ArchiveStanding(const Tsa &tsa, const Resource &res, uint64_t run) {
  if (Job().name.empty()) return RunStanding::kInChain;
  return StandingOf(TableFor(tsa, res, nullptr).runs, run, Job().level);
}

void CommitArchiveRun() {
  const ArchiveJob &j = Job();
  if (j.name.empty()) return;
  const bool full = j.level == ScanLevel::kFull;
  for (auto &kv : Tables()) {
    Table &t = kv.second;
    if (!t.storedThisRun) continue;
    if (t.out < 0) t.out = OpenForAppend(kv.first);
    if (t.out < 0) continue;
    // Once the records are in the file: a commit line never comes before them.
    if (!t.pending.empty() && !WritePending(t)) continue;
    AppendCommit(t.pending, j.run, full);
    if (!WritePending(t)) continue;
    t.runs.Committed(j.run, full);
    ++t.lines;
    t.storedThisRun = false;
  }
}

void ResetArchiveCache() {
  FlushArchive();
  for (auto &kv : Tables())
    if (kv.second.out >= 0) close(kv.second.out);
  Tables().clear();
  Last() = LastTable();
  ++gGeneration;
}

}  // namespace vrksms
