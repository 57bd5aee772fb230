// The tests' own reader of stored objects: DE records, the name lists in
// them and the stand-in's data-set streams, checked against a source tree.
#ifndef VRK_TESTS_E2E_DE_CHECK_H
#define VRK_TESTS_E2E_DE_CHECK_H

#include <dirent.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace decheck {

inline uint32_t U16(const std::string &b, size_t p) {
  return (uint32_t)(uint8_t)b[p] | (uint32_t)(uint8_t)b[p + 1] << 8;
}
inline uint32_t U32(const std::string &b, size_t p) { return U16(b, p) | U16(b, p + 2) << 16; }
inline uint64_t U64(const std::string &b, size_t p) { return (uint64_t)U32(b, p) | (uint64_t)U32(b, p + 4) << 32; }

struct Name {
  uint32_t nameSpace = 0, selection = 0;
  std::string name;
};

struct Record {
  bool marker = false;
  uint8_t parent = 0, terminal = 0;
  uint32_t created = 0, modified = 0;
  std::vector<Name> names;
  std::string data;
};

// Parses a name list of the frozen layout (u16 size, 'N', version 1, u16
// count, entries); false on any inconsistency.
inline bool ParseNames(const std::string &b, std::vector<Name> &out) {
  if (b.size() < 6 || U16(b, 0) + 2 != b.size() || (uint8_t)b[2] != 'N' || (uint8_t)b[3] != 1) return false;
  size_t count = U16(b, 4), p = 6;
  for (size_t i = 0; i < count; ++i) {
    if (p + 10 > b.size()) return false;
    Name n;
    n.nameSpace = U32(b, p);
    n.selection = U32(b, p + 4);
    p += 10;
    for (int t = 0; t < 3; ++t) {
      if (p + 2 > b.size()) return false;
      size_t len = U16(b, p);
      p += 2;
      if (p + len > b.size()) return false;
      if (t == 2) n.name = b.substr(p, len);
      p += len;
    }
    out.push_back(n);
  }
  return p == b.size();
}

// Splits a stored object into records; false with a reason on a malformed one.
inline bool ParseObject(const std::string &obj, std::vector<Record> &out, std::string &why) {
  size_t p = 0;
  while (p < obj.size()) {
    if (p + 8 > obj.size()) {
      why = "short header at " + std::to_string(p);
      return false;
    }
    Record r;
    r.parent = (uint8_t)obj[p];
    r.terminal = (uint8_t)obj[p + 1];
    uint32_t size = U32(obj, p + 2);
    uint32_t nameSize = U16(obj, p + 6);
    p += 8;
    if (size == 0xFFFFFFFFu) {
      if (r.parent || r.terminal || nameSize) {
        why = "end marker with fields set at " + std::to_string(p - 8);
        return false;
      }
      r.marker = true;
      out.push_back(r);
      continue;
    }
    if (nameSize < 10 || p + nameSize + size > obj.size()) {
      why = "record does not fit at " + std::to_string(p - 8);
      return false;
    }
    r.created = U32(obj, p);
    r.modified = U32(obj, p + 4);
    if (!ParseNames(obj.substr(p + 8, nameSize - 8), r.names)) {
      why = "bad name list at " + std::to_string(p);
      return false;
    }
    p += nameSize;
    r.data = obj.substr(p, size);
    p += size;
    out.push_back(r);
  }
  return true;
}

// One data-set stream of the stand-in, decoded.
struct Stream {
  bool complete = false;  // header, data and a trailer whose size and checksum agree
  uint8_t kind = 0;       // 1 file, 2 directory, 3 symbolic link
  uint32_t mode = 0;
  int64_t mtime = 0;
  std::string name, data;
};

inline uint32_t Adler(const std::string &s) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : s) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

inline Stream DecodeStream(const std::string &s) {
  Stream st;
  if (s.size() < 58 + 16 || s.compare(0, 4, "VSDF") != 0 || U16(s, 4) != 1) return st;
  size_t hdr = U16(s, 6);
  if (hdr < 58 || hdr > s.size()) return st;
  st.kind = (uint8_t)s[8];
  st.mode = U32(s, 12);
  st.mtime = (int64_t)U64(s, 24);
  uint64_t dataSize = U64(s, 48);
  size_t nameLen = U16(s, 56);
  if (58 + nameLen != hdr) return st;
  st.name = s.substr(58, nameLen);
  if (hdr + dataSize + 16 != s.size()) return st;
  st.data = s.substr(hdr, dataSize);
  size_t t = hdr + dataSize;
  if (s.compare(t, 4, "VEND") != 0 || U64(s, t + 4) != t || U32(s, t + 12) != Adler(s.substr(0, t))) return st;
  st.complete = true;
  return st;
}

// One occurrence of a data set in the object: its records up to the marker.
struct Occurrence {
  std::string path;  // full path: a parent's name, or its directory and the child's name
  bool parent = false;
  size_t records = 0;
  std::vector<size_t> sizes;
  bool ended = false;  // an end marker follows
  Stream stream;
};

// Groups the records after the first marker into data-set occurrences.
inline bool Occurrences(const std::vector<Record> &recs, std::vector<Occurrence> &out, std::string &why) {
  if (recs.empty() || !recs[0].marker) {
    why = "the object does not begin with an end marker";
    return false;
  }
  std::string dir;
  std::string bytes;
  Occurrence cur;
  bool open = false;
  for (size_t i = 1; i < recs.size(); ++i) {
    const Record &r = recs[i];
    if (r.marker) {
      if (!open) {
        why = "two end markers in a row at record " + std::to_string(i);
        return false;
      }
      cur.ended = true;
      cur.stream = DecodeStream(bytes);
      out.push_back(cur);
      open = false;
      continue;
    }
    if (r.names.empty()) {
      why = "a record without a name at " + std::to_string(i);
      return false;
    }
    std::string path = r.parent ? r.names[0].name : dir + r.names[0].name;
    if (!open) {
      cur = Occurrence();
      cur.path = path;
      cur.parent = r.parent;
      bytes.clear();
      open = true;
      if (r.parent) dir = r.names[0].name;
    } else if (path != cur.path) {
      why = "records of two data sets without a marker between them at " + std::to_string(i);
      return false;
    }
    cur.records++;
    cur.sizes.push_back(r.data.size());
    bytes += r.data;
  }
  if (open) {
    cur.stream = DecodeStream(bytes);
    out.push_back(cur);
  }
  return true;
}

// What a source tree holds: path ("/", "/d/", "/d/f") to kind, mode, mtime, data.
struct Entry {
  uint8_t kind = 0;
  uint32_t mode = 0;
  int64_t mtime = 0;
  std::string data;
};

inline std::string Slurp(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  std::string s;
  if (!f) return s;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

inline void Walk(const std::string &root, const std::string &rel, std::map<std::string, Entry> &out) {
  std::string dir = root + rel;
  struct stat st;
  lstat(dir.c_str(), &st);
  out[rel].kind = 2;
  out[rel].mode = st.st_mode & 07777;
  out[rel].mtime = st.st_mtime;
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  while (struct dirent *de = readdir(d)) {
    std::string n = de->d_name;
    if (n == "." || n == "..") continue;
    std::string full = dir + n;
    if (lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Walk(root, rel + n + "/", out);
    } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
      Entry e;
      e.kind = S_ISREG(st.st_mode) ? 1 : 3;
      e.mode = st.st_mode & 07777;
      e.mtime = st.st_mtime;
      if (S_ISREG(st.st_mode)) {
        e.data = Slurp(full);
      } else {
        char buf[4096];
        ssize_t k = readlink(full.c_str(), buf, sizeof buf);
        e.data.assign(buf, k > 0 ? (size_t)k : 0);
      }
      out[rel + n] = e;
    }
  }
  closedir(d);
}

// The source tree under root, paths as the stand-in names them for a
// resource "/" on root.
inline std::map<std::string, Entry> Tree(const std::string &root) {
  std::map<std::string, Entry> out;
  Walk(root, "/", out);
  return out;
}

// Checks that every data set's last occurrence is complete and the only
// complete one, and that the stored files are those of `expected`, byte for
// byte. Returns an empty text when all holds.
// With repeatedParents a directory may be stored once per run.
inline std::string CheckStored(const std::vector<Occurrence> &occ, const std::map<std::string, Entry> &expected,
                               bool exactSet = true, bool repeatedParents = false) {
  std::map<std::string, std::vector<const Occurrence *>> by;
  for (const Occurrence &o : occ) by[o.path].push_back(&o);
  std::string why;
  for (auto &kv : by) {
    const auto &list = kv.second;
    size_t complete = 0;
    for (const Occurrence *o : list) complete += o->stream.complete ? 1 : 0;
    if (!list.back()->ended) why += kv.first + ": no end marker after its last record\n";
    if (!list.back()->stream.complete) why += kv.first + ": last occurrence is not complete\n";
    if (complete != 1 && !(repeatedParents && list.back()->parent && complete > 1)) why += kv.first + ": " + std::to_string(complete) + " complete copies\n";
    auto e = expected.find(kv.first);
    if (e == expected.end()) {
      why += kv.first + ": stored but not expected\n";
      continue;
    }
    const Stream &s = list.back()->stream;
    if (s.kind != e->second.kind) why += kv.first + ": kind differs\n";
    if (s.mode != e->second.mode) why += kv.first + ": mode differs\n";
    if (s.kind != 2 && s.data != e->second.data) why += kv.first + ": data differs\n";
    if (s.kind != 2 && s.mtime != e->second.mtime) why += kv.first + ": modification time differs\n";
  }
  if (exactSet)
    for (auto &kv : expected)
      if (!by.count(kv.first)) why += kv.first + ": not stored\n";
  return why;
}

}  // namespace decheck

#endif
