// The archive state files: "<state>/archive-<hash>.log" with one header line
// naming TSA and resource, then lines "A <date> <sec> <nsec> <len>:<key>".
#include "sms/sms_archive.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <unordered_map>

#include "sms/sms_state.h"

namespace vrksms {

namespace {

struct Table {
  bool loaded = false;
  std::unordered_map<std::string, ArchiveRecord> records;
  // Kept open for the appends of one world: one write per data set instead
  // of the directories made, the file probed, opened and closed each time.
  FILE *out = nullptr;
};

std::map<std::string, Table> &Tables() {
  static std::map<std::string, Table> t;
  return t;
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

}  // namespace

bool LookupArchive(const Tsa &tsa, const Resource &res, const std::string &key, ArchiveRecord &out) {
  Table &t = Load(FileFor(tsa, res));
  auto it = t.records.find(key);
  if (it == t.records.end()) return false;
  out = it->second;
  return true;
}

bool StoreArchive(const Tsa &tsa, const Resource &res, const std::string &key, const ArchiveRecord &rec) {
  std::string file = FileFor(tsa, res);
  Table &t = Load(file);
  if (!t.out) {
    if (!MakeDirs(StateDir())) return false;
    bool fresh = access(file.c_str(), F_OK) != 0;
    t.out = fopen(file.c_str(), "a");
    if (!t.out) return false;
    if (fresh)
      fprintf(t.out, "# vrk_sms archive state of TSA \"%s\" resource \"%s\"\n", tsa.name.c_str(), res.name.c_str());
  }
  FILE *f = t.out;
  fprintf(f, "A %08x %lld %u %zu:", rec.archived, static_cast<long long>(rec.cleanSec), rec.cleanNsec, key.size());
  fwrite(key.data(), 1, key.size(), f);
  fputc('\n', f);
  bool ok = fflush(f) == 0 && !ferror(f);
  if (!ok) {
    fclose(f);
    t.out = nullptr;
  }
  if (ok) t.records[key] = rec;
  return ok;
}

void ResetArchiveCache() {
  for (auto &kv : Tables())
    if (kv.second.out) fclose(kv.second.out);
  Tables().clear();
}

}  // namespace vrksms
