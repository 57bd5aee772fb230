// Deferred directory metadata: owner, mode and times of restored directories
// are set after their subtrees, so that a read-only directory still takes its
// children and no later entry moves its modification time.
#include "sms/sms_deferred.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "runtime/printable.h"
#include "sms/sms_path.h"

namespace vrksms {

namespace {

// Kept directories hold their descriptor up to this depth; deeper ones are
// opened again by their names (and checked to be the same directory), so
// that a deep tree costs no more descriptors than this.
constexpr size_t kKeptDescriptors = 32;

struct Deferred {
  const Resource *res = nullptr;
  std::vector<std::string> comps;
  std::string fullName;
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  DirMeta meta;
};

// Per connection the kept directories, each beneath the one before it: a
// restore walks its tree depth first, so this holds at most one directory a
// level, whatever the size of the tree.
std::map<UINT32, std::vector<Deferred>> &Kept() {
  static std::map<UINT32, std::vector<Deferred>> kept;
  return kept;
}

// Directories that got their metadata while the restore went on, by device
// and inode: a rename pair may send a later data set into one of them (the
// rest of a directory whose subdirectory went elsewhere), which then takes
// it and gets its metadata once more. At most this many are remembered, the
// deepest forgotten first: those a restore comes back to lie near the top.
constexpr size_t kRememberedApplied = 4096;

using DirId = std::pair<dev_t, ino_t>;

struct AppliedDirs {
  std::map<DirId, Deferred> byId;
  std::multimap<size_t, DirId> byDepth;
};

std::map<UINT32, AppliedDirs> &Applied() {
  static std::map<UINT32, AppliedDirs> applied;
  return applied;
}

void Forget(AppliedDirs &a, std::map<DirId, Deferred>::iterator it) {
  auto range = a.byDepth.equal_range(it->second.comps.size());
  for (auto d = range.first; d != range.second; ++d)
    if (d->second == it->first) {
      a.byDepth.erase(d);
      break;
    }
  a.byId.erase(it);
}

void Remember(UINT32 connection, Deferred &d) {
  AppliedDirs &a = Applied()[connection];
  DirId id{d.dev, d.ino};
  auto old = a.byId.find(id);
  if (old != a.byId.end()) Forget(a, old);
  a.byDepth.emplace(d.comps.size(), id);
  a.byId[id] = std::move(d);
  if (a.byId.size() > kRememberedApplied) {
    auto deepest = std::prev(a.byDepth.end());
    a.byId.erase(deepest->second);
    a.byDepth.erase(deepest);
  }
}

bool AtOrAbove(const Deferred &d, const Resource *res, const std::vector<std::string> &comps) {
  if (d.res != res || d.comps.size() > comps.size()) return false;
  for (size_t i = 0; i < d.comps.size(); ++i)
    if (d.comps[i] != comps[i]) return false;
  return true;
}

// True when the metadata is in place.
bool Apply(Deferred &d) {
  int fd = d.fd;
  d.fd = -1;
  int err = 0;
  if (fd < 0) {
    fd = OpenDirBeneath(*d.res, d.comps, d.comps.size(), false);
    struct stat st;
    if (fd < 0) err = errno;
    else if (fstat(fd, &st) != 0) err = errno;
    else if (st.st_dev != d.dev || st.st_ino != d.ino) err = ESTALE;  // another directory stands there now
  }
  if (err == 0) {
    if (geteuid() == 0 && fchown(fd, d.meta.uid, d.meta.gid) != 0) err = errno;
    if (fchmod(fd, d.meta.mode & 07777) != 0) err = errno;
    if (futimens(fd, d.meta.times) != 0) err = errno;
  }
  if (fd >= 0) close(fd);
  if (err != 0) {
    std::string note = "vrk_sms: " + d.fullName + ": owner, mode and times not set: " + strerror(err);
    fprintf(stderr, "%s\n", vrk_printable(note).c_str());
  }
  return err == 0;
}

void Leave(UINT32 connection, std::vector<Deferred> &stack, const Resource *res,
           const std::vector<std::string> &comps) {
  while (!stack.empty() && !AtOrAbove(stack.back(), res, comps)) {
    if (Apply(stack.back()) && stack.back().ino != 0) Remember(connection, stack.back());
    stack.pop_back();
  }
}

void FinishAtExit() { FinishAllDeferredDirs(); }

}  // namespace

void DeferDirMeta(UINT32 connection, const Resource *res, const std::vector<std::string> &comps,
                  const std::string &fullName, int fd, const DirMeta &meta) {
  static bool registered = false;
  if (!registered) registered = atexit(FinishAtExit) == 0;
  std::vector<Deferred> &stack = Kept()[connection];
  Leave(connection, stack, res, comps);
  Deferred d;
  d.res = res;
  d.comps = comps;
  d.fullName = fullName;
  d.meta = meta;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    d.dev = st.st_dev;
    d.ino = st.st_ino;
    // Kept again: what was set before is no longer to be set once more.
    auto a = Applied().find(connection);
    if (a != Applied().end()) {
      auto was = a->second.byId.find({d.dev, d.ino});
      if (was != a->second.byId.end()) Forget(a->second, was);
    }
  }
  // The same directory restored once more: its newer metadata counts.
  if (!stack.empty() && stack.back().comps.size() == comps.size()) {
    if (stack.back().fd >= 0) close(stack.back().fd);
    stack.pop_back();
  }
  if (stack.size() < kKeptDescriptors) {
    d.fd = fd;
  } else {
    close(fd);
  }
  stack.push_back(std::move(d));
}

void LeaveDirsFor(UINT32 connection, const Resource *res, const std::vector<std::string> &comps) {
  auto it = Kept().find(connection);
  if (it != Kept().end()) Leave(connection, it->second, res, comps);
}

void ReenterDir(UINT32 connection, int dirFd) {
  auto a = Applied().find(connection);
  if (a == Applied().end() || a->second.byId.empty()) return;
  struct stat st;
  if (fstat(dirFd, &st) != 0) return;
  ReenterDirKnown(connection, dirFd, st.st_dev, st.st_ino);
}

void ReenterDirKnown(UINT32 connection, int dirFd, dev_t dev, ino_t ino) {
  auto a = Applied().find(connection);
  if (a == Applied().end() || a->second.byId.empty()) return;
  auto it = a->second.byId.find({dev, ino});
  if (it == a->second.byId.end()) return;
  // Its mode as it is now, after the metadata set when it was left.
  struct stat st;
  if (fstat(dirFd, &st) != 0) return;
  std::vector<Deferred> &stack = Kept()[connection];
  // Kept again beneath what is kept now, which lies above it.
  if (!stack.empty() && !AtOrAbove(stack.back(), it->second.res, it->second.comps)) return;
  Deferred d = std::move(it->second);
  Forget(a->second, it);
  if (geteuid() != 0 && st.st_uid == geteuid() && (st.st_mode & S_IRWXU) != S_IRWXU)
    fchmod(dirFd, (st.st_mode & 07777) | S_IRWXU);
  d.fd = stack.size() < kKeptDescriptors ? fcntl(dirFd, F_DUPFD_CLOEXEC, 0) : -1;
  stack.push_back(std::move(d));
}

void FinishDeferredDirs(UINT32 connection) {
  Applied().erase(connection);
  auto it = Kept().find(connection);
  if (it == Kept().end()) return;
  std::vector<Deferred> stack = std::move(it->second);
  Kept().erase(it);
  while (!stack.empty()) {
    Apply(stack.back());
    stack.pop_back();
  }
}

void FinishAllDeferredDirs() {
  while (!Kept().empty()) FinishDeferredDirs(Kept().begin()->first);
  Applied().clear();
}

}  // namespace vrksms
