// The archive state files: "<state>/archive-<hash>.log" with one header line
// naming TSA and resource, then lines "A <date> <sec> <nsec> <len>:<key>".
#include "sms/sms_archive.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <map>
#include <unordered_map>

#include "sms/sms_state.h"

namespace vrksms {

namespace {

// Appended lines wait until this many bytes gather (or the scan ends, the
// target service is released, the world is loaded again or the process
// ends). Lines that never reach the file only make data sets count as
// modified at the next backup.
constexpr size_t kAppendGather = 65536;

struct Table {
  bool loaded = false;
  std::unordered_map<std::string, ArchiveRecord> records;
  // Kept open for the appends of one world (O_APPEND), written whole lines
  // at a time so that two backups of one resource never split a line.
  int out = -1;
  std::string pending;
  bool failed = false;  // a gathered write failed: reported at the next store
};

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

// Appends "A <date> <sec> <nsec> <len>:<key>\n" (the date as 8 hex digits)
// without printf: one line for every data set of a backup.
void AppendLine(std::string &out, const ArchiveRecord &rec, const std::string &key) {
  static const char hex[] = "0123456789abcdef";
  char date[11] = {'A', ' '};
  for (int i = 0; i < 8; ++i) date[2 + i] = hex[(rec.archived >> (28 - 4 * i)) & 0xF];
  date[10] = ' ';
  out.append(date, sizeof(date));
  AppendNumber(out, static_cast<long long>(rec.cleanSec));
  out += ' ';
  AppendNumber(out, rec.cleanNsec);
  out += ' ';
  AppendNumber(out, key.size());
  out += ':';
  out += key;
  out += '\n';
}

std::string StateDir() {
  const std::string &s = G().world.stateDir;
  if (!s.empty()) return s;
  if (geteuid() == 0) return "/var/lib/vrk_sms";
  const char *home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/state/vrk_sms";
}

std::string FileFor(const Tsa &tsa, const Resource &res) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a of "tsa\0resource"
  std::string id = tsa.name + '\0' + res.name;
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

Table &Load(const std::string &file) {
  Table &t = Tables()[file];
  if (t.loaded) return t;
  t.loaded = true;
  FILE *f = fopen(file.c_str(), "r");
  if (!f) return t;
  char *line = nullptr;
  size_t cap = 0;
  ssize_t n;
  while ((n = getline(&line, &cap, f)) > 0) {
    unsigned date, nsec;
    long long sec;
    size_t len;
    int off = 0;
    if (sscanf(line, "A %x %lld %u %zu:%n", &date, &sec, &nsec, &len, &off) != 4 || off <= 0) continue;
    if (static_cast<size_t>(n) != static_cast<size_t>(off) + len + 1 || line[n - 1] != '\n') continue;
    ArchiveRecord r;
    r.archived = date;
    r.cleanSec = sec;
    r.cleanNsec = nsec;
    t.records[std::string(line + off, len)] = r;
  }
  free(line);
  fclose(f);
  return t;
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
  Table &t = TableFor(tsa, res, nullptr);
  auto it = t.records.find(key);
  if (it == t.records.end()) return false;
  out = it->second;
  return true;
}

bool StoreArchive(const Tsa &tsa, const Resource &res, const std::string &key, const ArchiveRecord &rec) {
  const std::string *file = nullptr;
  Table &t = TableFor(tsa, res, &file);
  if (t.out < 0) {
    if (!MakeDirs(StateDir())) return false;
    t.out = open(file->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (t.out < 0) return false;
    struct stat st;
    if (fstat(t.out, &st) == 0 && st.st_size == 0)
      t.pending = Format("# vrk_sms archive state of TSA \"%s\" resource \"%s\"\n", tsa.name.c_str(), res.name.c_str());
    static bool registered = false;
    if (!registered) registered = atexit(FlushAtExit) == 0;
  }
  if (t.failed) {
    t.failed = false;
    return false;
  }
  AppendLine(t.pending, rec, key);
  t.records[key] = rec;
  if (t.pending.size() >= kAppendGather) return WritePending(t);
  return true;
}

void FlushArchive() {
  for (auto &kv : Tables())
    if (kv.second.out >= 0 && !kv.second.pending.empty()) WritePending(kv.second);
}

void ResetArchiveCache() {
  FlushArchive();
  for (auto &kv : Tables())
    if (kv.second.out >= 0) close(kv.second.out);
  Tables().clear();
  Last() = LastTable();
}

}  // namespace vrksms
