// The tests' own writer of stored objects, byte by byte from the documented
// layouts: DE records and end markers, name lists and data-set streams, so
// that a test can build any object a hex editor could.
#ifndef VRK_TESTS_E2E_SAVESET_WRITER_H
#define VRK_TESTS_E2E_SAVESET_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace ssw {

inline void Put(std::string &b, uint64_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) b += (char)(uint8_t)(x >> (8 * i));
}

struct Entry {
  uint32_t nameSpace;
  std::string name;
};

// A name list: u16 size, 'N', version 1, u16 count, then per entry the name
// space, selection type 0, reverse order 0, reserved 0 and the separators
// "/" and "/" and the name, each with its u16 length.
inline std::string NameList(const std::vector<Entry> &entries) {
  std::string body = "N";
  Put(body, 1, 1);
  Put(body, entries.size(), 2);
  for (const Entry &e : entries) {
    Put(body, e.nameSpace, 4);
    Put(body, 0, 4);
    Put(body, 0, 2);
    for (const std::string &s : {std::string("/"), std::string("/"), e.name}) {
      Put(body, s.size(), 2);
      body += s;
    }
  }
  std::string list;
  Put(list, body.size(), 2);
  return list + body;
}
inline std::string NameList(const std::string &name) { return NameList({{260, name}}); }

enum Kind : uint8_t { kFile = 1, kDirectory = 2, kLink = 3 };

inline uint32_t Adler32(const std::string &b) {
  uint32_t a = 1, s = 0;
  for (unsigned char c : b) {
    a = (a + c) % 65521;
    s = (s + a) % 65521;
  }
  return s << 16 | a;
}

// A data-set stream: header ("VSDF", version, header size, kind, flags,
// reserved, mode, owner, group, both times, data size, name), data, trailer
// ("VEND", byte count, Adler-32).
inline std::string Stream(Kind kind, const std::string &name, const std::string &data = "", bool fullName = false,
                          uint32_t mode = 0644, uint32_t uid = 0, int64_t mtime = 1500000000) {
  std::string h = "VSDF";
  Put(h, 1, 2);
  Put(h, 58 + name.size(), 2);
  Put(h, kind, 1);
  Put(h, fullName ? 1 : 0, 1);
  Put(h, 0, 2);
  Put(h, mode, 4);
  Put(h, uid, 4);
  Put(h, uid, 4);
  Put(h, (uint64_t)mtime, 8);
  Put(h, 0, 4);
  Put(h, (uint64_t)mtime, 8);
  Put(h, 0, 4);
  Put(h, data.size(), 8);
  Put(h, name.size(), 2);
  std::string body = h + name + data;
  std::string t = "VEND";
  Put(t, body.size(), 8);
  Put(t, Adler32(body), 4);
  return body + t;
}

// A stored object: records and end markers in the order they are added.
class Object {
 public:
  Object &Marker() {
    obj_ += std::string("\0\0\xff\xff\xff\xff\0\0", 8);
    return *this;
  }
  // One record: parent flag, terminal-name flag, the name list, the data.
  Object &Record(bool parent, bool terminal, const std::string &list, const std::string &data) {
    Put(obj_, parent ? 1 : 0, 1);
    Put(obj_, terminal ? 1 : 0, 1);
    Put(obj_, data.size(), 4);
    Put(obj_, list.size() + 8, 2);
    Put(obj_, 0, 8);  // creation and modification dates
    obj_ += list + data;
    return *this;
  }
  // A data set of one record in the terminal-name form, then its marker.
  Object &Parent(const std::string &name, const std::string &stream) {
    return Record(true, true, NameList(name), stream).Marker();
  }
  Object &Child(const std::string &name, const std::string &stream) {
    return Record(false, true, NameList(name), stream).Marker();
  }
  // The same in the full-name form (terminal-name flag 0).
  Object &FullName(bool parent, const std::string &name, const std::string &stream) {
    return Record(parent, false, NameList(name), stream).Marker();
  }
  // Bytes as they are: a record cut short, garbage.
  Object &Raw(const std::string &bytes) {
    obj_ += bytes;
    return *this;
  }
  const std::string &bytes() const { return obj_; }

 private:
  std::string obj_;
};

}  // namespace ssw

#endif
