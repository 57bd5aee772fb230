// Reading the world file of the stand-in and building the default world.
#include "sms/sms_world.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <sstream>

#include "runtime/bounded_read.h"

namespace vrksms {

const char *const kWorldVariable = "VRK_SMS_WORLD";

namespace {

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string HostName() {
  char buf[256] = {0};
  if (gethostname(buf, sizeof(buf) - 1) != 0 || !buf[0]) return "localhost";
  return buf;
}

bool ParseBool(const std::string &v, bool &out) {
  if (v == "yes" || v == "true" || v == "1" || v == "on") { out = true; return true; }
  if (v == "no" || v == "false" || v == "0" || v == "off") { out = false; return true; }
  return false;
}

bool ParseU32(const std::string &v, uint32_t &out) {
  if (v.empty()) return false;
  char *end = nullptr;
  errno = 0;
  unsigned long long x = strtoull(v.c_str(), &end, 0);
  if (errno || *end || x > 0xFFFFFFFFull) return false;
  out = static_cast<uint32_t>(x);
  return true;
}

std::vector<std::string> Words(const std::string &v) {
  std::istringstream in(v);
  std::vector<std::string> w;
  std::string t;
  while (in >> t) w.push_back(t);
  return w;
}

bool ParseNameSpaces(const std::string &v, std::vector<uint32_t> &out) {
  out.clear();
  for (const std::string &w : Words(v)) {
    uint32_t n;
    if (w == "DOS") n = 0;
    else if (w == "NFS") n = 2;
    else if (w == "LONG") n = 4;
    else if (!ParseU32(w, n) || (n != 0 && n != 2 && n != 4)) return false;
    for (uint32_t x : out)
      if (x == n) return false;
    out.push_back(n);
  }
  return !out.empty();
}

// "K" or "K-M", call numbers from 1.
bool ParseRange(const std::string &v, uint64_t &from, uint64_t &to) {
  size_t dash = v.find('-');
  uint32_t a, b;
  if (dash == std::string::npos) {
    if (!ParseU32(v, a) || a == 0) return false;
    from = to = a;
    return true;
  }
  if (!ParseU32(v.substr(0, dash), a) || !ParseU32(v.substr(dash + 1), b) || a == 0 || b < a)
    return false;
  from = a;
  to = b;
  return true;
}

Resource *FindResource(Tsa &t, const std::string &name) {
  for (Resource &r : t.resources)
    if (r.name == name) return &r;
  return nullptr;
}

bool ValidResourceName(const std::string &n) {
  if (n.empty() || n.size() >= 256) return false;
  if (n[0] == '/') {
    if (n.size() > 1 && n.back() == '/') return false;
    return n.find("//") == std::string::npos && n.find("/../") == std::string::npos &&
           n.find("/./") == std::string::npos;
  }
  size_t colon = n.find(':');
  return colon == n.size() - 1 && colon > 0 && n.find('/') == std::string::npos;
}

}  // namespace

World DefaultWorld() {
  World w;
  std::string host = HostName();
  w.smdrs.push_back(host);
  Tsa t;
  t.name = host + ".Linux File System";
  t.smdr = host;
  t.services.push_back(host);
  Resource r;
  r.name = "/";
  r.dir = "/";
  r.mountType = "local";
  t.resources.push_back(r);
  w.tsas.push_back(t);
  return w;
}

bool ReadWorldFile(const std::string &path, World &w, std::string &error) {
  // A few MiB at most; a pipe or device must end within the data wait.
  std::string text, why;
  if (!vrk_read_file_bounded(path.c_str(), text, why)) {
    error = "cannot read " + path + ": " + why;
    return false;
  }
  std::istringstream in(text);
  w = World();
  enum { kNone, kWorld, kSmdr, kTsa } section = kNone;
  std::string line;
  int lineNo = 0;
  auto fail = [&](const std::string &why) {
    error = path + " line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    std::string s = Trim(line);
    if (s.empty() || s[0] == '#') continue;
    if (s[0] == '[') {
      if (s.back() != ']') return fail("section without ']'");
      std::string head = Trim(s.substr(1, s.size() - 2));
      if (head == "world" || head == "faults") {
        section = kWorld;
      } else if (head.compare(0, 5, "smdr ") == 0) {
        std::string name = Trim(head.substr(5));
        if (name.empty() || name.size() >= 256) return fail("bad SMDR name");
        w.smdrs.push_back(name);
        section = kSmdr;
      } else if (head.compare(0, 4, "tsa ") == 0) {
        Tsa t;
        t.name = Trim(head.substr(4));
        if (t.name.empty() || t.name.size() >= 256) return fail("bad TSA name");
        t.smdr = w.smdrs.empty() ? HostName() : w.smdrs.back();
        w.tsas.push_back(t);
        section = kTsa;
      } else {
        return fail("unknown section [" + head + "]");
      }
      continue;
    }
    size_t eq = s.find('=');
    if (eq == std::string::npos) return fail("line without '='");
    std::string key = Trim(s.substr(0, eq));
    std::string value = Trim(s.substr(eq + 1));
    std::string word = key, arg;
    size_t sp = key.find(' ');
    if (sp != std::string::npos) {
      word = key.substr(0, sp);
      arg = Trim(key.substr(sp + 1));
    }
    if (section == kWorld) {
      if (word == "log") w.logPath = value;
      else if (word == "state") w.stateDir = value;
      else if (word == "optional_calls") {
        if (!ParseBool(value, w.optionalCalls)) return fail("optional_calls needs yes or no");
      } else if (word == "unnamed_new_files") {
        if (!ParseBool(value, w.unnamedNewFiles)) return fail("unnamed_new_files needs yes or no");
      } else if (word == "fail_new_file") {
        if (value == "data") w.failNewFile = World::NewFileFault::kData;
        else if (value == "close") w.failNewFile = World::NewFileFault::kClose;
        else return fail("fail_new_file needs data or close");
      } else if (word == "fault" || word == "lose") {
        std::vector<std::string> v = Words(value);
        Fault f;
        f.op = arg;
        f.lose = word == "lose";
        if (f.op.empty() || v.size() != 2 || !ParseRange(v[0], f.from, f.to) ||
            !ParseU32(v[1], f.code) || f.code == 0)
          return fail(word + " needs: " + word + " OPERATION = K[-M] CODE");
        w.faults.push_back(f);
      } else if (word == "stop") {
        std::vector<std::string> v = Words(value);
        Fault f;
        f.op = arg;
        f.stop = true;
        if (f.op.empty() || v.size() != 1 || !ParseRange(v[0], f.from, f.to))
          return fail("stop needs: stop OPERATION = K[-M]");
        w.faults.push_back(f);
      } else if (word == "fail_connect" || word == "fail_login") {
        std::vector<std::string> v = Words(value);
        uint32_t n = 0, code = word == "fail_connect" ? 0xFFFDFFBAu : 0xFFFDFFD7u;
        if (v.empty() || v.size() > 2 || !ParseU32(v[0], n) || (v.size() == 2 && !ParseU32(v[1], code)) ||
            code == 0)
          return fail(word + " needs: N [CODE]");
        if (word == "fail_connect") { w.failConnects = n; w.failConnectCode = code; }
        else { w.failLogins = n; w.failLoginCode = code; }
      } else if (word == "in_use") {
        if (value.empty()) return fail("in_use needs a data-set name");
        w.inUse.insert(value);
      } else {
        return fail("unknown key " + word);
      }
    } else if (section == kTsa) {
      Tsa &t = w.tsas.back();
      bool b;
      if (word == "smdr") t.smdr = value;
      else if (word == "api") {
        unsigned ma = 0, mi = 0;
        char extra;
        if (sscanf(value.c_str(), "%u.%u%c", &ma, &mi, &extra) != 2 || ma > 65535 || mi > 65535)
          return fail("api needs MAJOR.MINOR");
        t.apiMajor = static_cast<uint16_t>(ma);
        t.apiMinor = static_cast<uint16_t>(mi);
      } else if (word == "utf8") {
        if (!ParseBool(value, t.utf8)) return fail("utf8 needs yes or no");
      } else if (word == "name_spaces") {
        if (!ParseNameSpaces(value, t.nameSpaces)) return fail("name_spaces takes DOS NFS LONG");
      } else if (word == "service") {
        if (value.empty() || value.size() >= 256) return fail("bad service name");
        t.services.push_back(value);
      } else if (word == "user") {
        if (arg.empty()) return fail("user needs: user NAME = PASSWORD");
        t.users.emplace_back(arg, value);
      } else if (word == "resource") {
        if (!ValidResourceName(arg)) return fail("bad resource name '" + arg + "'");
        if (value.empty() || value[0] != '/') return fail("resource needs an absolute directory");
        if (FindResource(t, arg)) return fail("resource " + arg + " given twice");
        Resource r;
        r.name = arg;
        r.dir = value;
        r.mountType = arg.back() == ':' ? "nssvol" : "local";
        t.resources.push_back(r);
      } else if (word == "blocks") {
        Resource *r = FindResource(t, arg);
        std::vector<std::string> v = Words(value);
        if (!r) return fail("blocks for an unknown resource");
        if (v.size() != 3 || !ParseU32(v[0], r->blockSize) || !ParseU32(v[1], r->totalBlocks) ||
            !ParseU32(v[2], r->freeBlocks) || r->freeBlocks > r->totalBlocks)
          return fail("blocks needs BLOCKSIZE TOTAL FREE");
        r->fixedBlocks = true;
      } else if (word == "mount") {
        Resource *r = FindResource(t, arg);
        if (!r || value.empty() || value.size() >= 64) return fail("mount needs a known resource and a type");
        r->mountType = value;
      } else if (word == "archive" || word == "fix_name" || word == "preserve_access_time") {
        if (!ParseBool(value, b)) return fail(word + " needs yes or no");
        if (word == "archive") t.archive = b;
        else if (word == "fix_name") t.fixName = b;
        else t.preserveAccessTime = b;
      } else if (word == "open_modes") {
        t.openModes = 0;
        for (const std::string &m : Words(value)) {
          uint32_t x;
          if (!ParseU32(m, x) || x > 3) return fail("open_modes takes numbers 0 to 3");
          t.openModes |= 1u << x;
        }
      } else if (word == "scan_types" || word == "unsupported_backup" || word == "unsupported_restore") {
        uint32_t x;
        if (!ParseU32(value, x)) return fail(word + " needs a number");
        if (word == "scan_types") t.scanTypes = x;
        else if (word == "unsupported_backup") t.unsupportedBackup = x;
        else t.unsupportedRestore = x;
      } else {
        return fail("unknown key " + word);
      }
    } else {
      return fail("key outside a section");
    }
  }
  if (w.tsas.empty()) {
    lineNo = 0;
    return fail("the world has no TSA");
  }
  if (w.smdrs.empty()) w.smdrs.push_back(HostName());
  for (Tsa &t : w.tsas) {
    if (t.resources.empty()) {
      lineNo = 0;
      return fail("TSA " + t.name + " has no resource");
    }
    bool vol = t.resources[0].name.back() == ':';
    for (const Resource &r : t.resources)
      if ((r.name.back() == ':') != vol) {
        lineNo = 0;
        return fail("TSA " + t.name + " mixes volume and path resources");
      }
    t.volumeStyle = vol;
    if (t.services.empty()) t.services.push_back(t.smdr);
  }
  return true;
}

}  // namespace vrksms
