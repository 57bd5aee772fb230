// vrk_makepath: creates a directory and its missing parents component by
// component, setting owners and modes on the directories' own descriptors.
#include "client/vrk_makepath.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/vrk_log.h"

namespace {

const mode_t kSpecialBits = S_ISUID | S_ISGID | S_ISVTX;

// Keeps the umask at 0 for the life of the object.
class UmaskZero {
 public:
  UmaskZero() : saved_(umask(0)) {}
  ~UmaskZero() { umask(saved_); }
  UmaskZero(const UmaskZero &) = delete;
  UmaskZero &operator=(const UmaskZero &) = delete;

 private:
  mode_t saved_;
};

// A descriptor closed at scope end.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd &operator=(Fd &&o) noexcept {
    if (this != &o) {
      reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

bool ids_valid(uid_t owner, gid_t group) {
  return owner != (uid_t)-1 && owner != (uid_t)-2 && group != (gid_t)-1 && group != (gid_t)-2;
}

// Sets the owner of a directory just created (descriptor dirfd) as the caller
// asked: from its parent (parentfd), to the given ids, or not at all.
bool set_owner(int dirfd, int parentfd, const std::string &name, uid_t owner, gid_t group) {
  if (owner == (uid_t)-2 && group == (gid_t)-2) {
    struct stat st;
    if (fstat(parentfd, &st) != 0) return false;
    trace("Set owner/group from parent directory %s %ld,%ld", name.c_str(), (long)st.st_uid,
          (long)st.st_gid);
    return fchown(dirfd, st.st_uid, st.st_gid) == 0;
  }
  if (ids_valid(owner, group)) return fchown(dirfd, owner, group) == 0;
  return true;
}

// The path's components; empty ones and "." are dropped.
std::vector<std::string> components(const std::string &path) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string c = path.substr(i, j - i);
    if (!c.empty() && c != ".") out.push_back(c);
    i = j + 1;
  }
  return out;
}

int mkdir_failed(const std::string &name, int err) {
  trace("Cannot create directory %s: %s", name.c_str(), strerror(err));
  return err == ENOSPC ? VRK_MAKEPATH_NOSPACE : VRK_MAKEPATH_FAILED;
}

// An existing directory: owner (both ids valid) and mode, on the directory
// itself; a symbolic link or any other item is refused.
int adjust_existing(const char *cpPath, int iMode, uid_t owner, gid_t group) {
  Fd fd(open(cpPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return VRK_MAKEPATH_FAILED;
  if (ids_valid(owner, group) && fchown(fd.get(), owner, group) != 0) return VRK_MAKEPATH_FAILED;
  trace("vrk_makepath: chmod: %d", iMode);
  if (fchmod(fd.get(), (mode_t)iMode) != 0) return VRK_MAKEPATH_FAILED;
  return VRK_MAKEPATH_OK;
}

}  // namespace

int vrk_makepath(char *cpArg_path, int iMode, int iParent_mode, uid_t owner, gid_t group) {
  if (cpArg_path == nullptr || *cpArg_path == '\0') return VRK_MAKEPATH_FAILED;
  UmaskZero umaskGuard;
  trace("vrk_make_path: Create missing directory: %s", cpArg_path);

  struct stat st;
  if (lstat(cpArg_path, &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return VRK_MAKEPATH_FAILED;
    return adjust_existing(cpArg_path, iMode, owner, group);
  }
  if (errno != ENOENT) return VRK_MAKEPATH_FAILED;

  mode_t parentMode = (mode_t)iParent_mode;
  bool temporary = false;
  if ((parentMode & (S_IWUSR | S_IXUSR)) != (S_IWUSR | S_IXUSR) ||
      (ids_valid(owner, group) && (parentMode & kSpecialBits) != 0)) {
    parentMode = 0700;
    temporary = true;
  }

  std::string path(cpArg_path);
  std::vector<std::string> parts = components(path);
  if (parts.empty()) return VRK_MAKEPATH_FAILED;

  Fd cur(open(path[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (cur.get() < 0) return VRK_MAKEPATH_FAILED;
  std::string sofar = path[0] == '/' ? "" : ".";
  // Parents made with the temporary mode get iParent_mode once all is built.
  std::vector<Fd> madeTemporary;

  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string &c = parts[i];
    sofar += "/" + c;
    Fd next(openat(cur.get(), c.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (next.get() < 0) {
      if (errno != ENOENT) return VRK_MAKEPATH_FAILED;  // not a directory, or no access
      if (mkdirat(cur.get(), c.c_str(), parentMode) != 0 && errno != EEXIST)
        return mkdir_failed(sofar, errno);
      next = Fd(openat(cur.get(), c.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (next.get() < 0) return VRK_MAKEPATH_FAILED;
      if (!set_owner(next.get(), cur.get(), sofar, owner, group)) return VRK_MAKEPATH_FAILED;
      if (temporary) madeTemporary.push_back(Fd(dup(next.get())));
    }
    cur = std::move(next);
  }

  const std::string &last = parts.back();
  sofar += "/" + last;
  if (mkdirat(cur.get(), last.c_str(), (mode_t)iMode & 0777) != 0) {
    int err = errno;
    trace("Cannot create directory %s: %s", sofar.c_str(), strerror(err));
    return err == ENOSPC ? VRK_MAKEPATH_NOSPACE : VRK_MAKEPATH_FAILED;
  }
  Fd made(openat(cur.get(), last.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (made.get() < 0) return VRK_MAKEPATH_FAILED;
  if (!set_owner(made.get(), cur.get(), sofar, owner, group)) return VRK_MAKEPATH_FAILED;
  if (((mode_t)iMode & kSpecialBits) != 0 && fchmod(made.get(), (mode_t)iMode) != 0) {
    trace("vrk_make_path: Error during 'chown': %s", strerror(errno));
    return VRK_MAKEPATH_FAILED;
  }
  for (const Fd &fd : madeTemporary)
    if (fd.get() < 0 || fchmod(fd.get(), (mode_t)iParent_mode) != 0) return VRK_MAKEPATH_FAILED;
  return VRK_MAKEPATH_OK;
}
