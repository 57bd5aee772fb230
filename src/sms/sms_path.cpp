// Resolving data-set names to resources and opening directories beneath them.
#include "sms/sms_path.h"

#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sms/smserrors.h"

namespace vrksms {

bool ValidComponent(const std::string &c) {
  if (c.empty() || c == "." || c == "..") return false;
  return c.find('/') == std::string::npos && c.find('\0') == std::string::npos;
}

static CCODE SplitRest(const std::string &rest, Target &out) {
  out.comps.clear();
  if (rest.find('\0') != std::string::npos) return NWSMTS_INVALID_NAME;
  if (rest.empty()) {
    out.parentForm = true;
    return 0;
  }
  std::string body = rest;
  out.parentForm = false;
  if (body.back() == '/') {
    body.pop_back();
    out.parentForm = true;
  }
  size_t start = 0;
  while (true) {
    size_t slash = body.find('/', start);
    std::string c = body.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!ValidComponent(c)) return NWSMTS_INVALID_NAME;
    out.comps.push_back(c);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return 0;
}

CCODE ResolveName(const Tsa &tsa, const std::string &name, Target &out) {
  out = Target();
  if (name.find('\0') != std::string::npos) return NWSMTS_INVALID_NAME;
  const Resource *best = nullptr;
  std::string rest;
  for (const Resource &r : tsa.resources) {
    const std::string &rn = r.name;
    if (tsa.volumeStyle) {
      if (name.size() >= rn.size() && strncasecmp(name.c_str(), rn.c_str(), rn.size()) == 0) {
        best = &r;
        rest = name.substr(rn.size());
        if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);  // "VOL1:/dir" is "VOL1:dir"
        break;
      }
      continue;
    }
    bool match;
    std::string after;
    if (rn == "/") {
      match = !name.empty() && name[0] == '/';
      after = match ? name.substr(1) : "";
    } else {
      match = name.compare(0, rn.size(), rn) == 0 &&
              (name.size() == rn.size() || name[rn.size()] == '/');
      after = match ? name.substr(rn.size() < name.size() ? rn.size() + 1 : rn.size()) : "";
    }
    if (match && (!best || rn.size() > best->name.size())) {
      best = &r;
      rest = after;
    }
  }
  if (!best) return NWSMTS_INVALID_PATH;
  out.res = best;
  return SplitRest(rest, out);
}

std::string ParentName(const Tsa &tsa, const Resource &res, const std::vector<std::string> &comps,
                       size_t n) {
  std::string s = res.name;
  if (!tsa.volumeStyle && s != "/") s += '/';
  for (size_t i = 0; i < n; ++i) {
    s += comps[i];
    s += '/';
  }
  return s;
}

std::string RelKey(const std::vector<std::string> &comps, size_t n, bool isDir) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (i) s += '/';
    s += comps[i];
  }
  if (isDir) s += '/';
  return s;
}

int OpenDirBeneath(const Resource &res, const std::vector<std::string> &comps, size_t n, bool create) {
  int fd = open(res.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  for (size_t i = 0; i < n; ++i) {
    if (!ValidComponent(comps[i])) {
      close(fd);
      errno = EINVAL;
      return -1;
    }
    int next = openat(fd, comps[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && create) {
      if (mkdirat(fd, comps[i].c_str(), 0700) == 0 || errno == EEXIST)
        next = openat(fd, comps[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    int saved = errno;
    close(fd);
    if (next < 0) {
      errno = saved;
      return -1;
    }
    fd = next;
  }
  return fd;
}

const char *FirstSeparator(const Tsa &tsa) { return tsa.volumeStyle ? ":" : "/"; }
const char *NextSeparator(const Tsa &) { return "/"; }

}  // namespace vrksms
