// Deferred directory metadata: owner, mode and times of restored directories
// are set after their subtrees, so that a read-only directory still takes its
// children and no later entry moves its modification time.
#include "sms/sms_deferred.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>

#include "runtime/printable.h"
#include "sms/sms_path.h"
#include "sms/smsapi.h"

namespace vrksms {

namespace {

// Kept directories hold their descriptor up to this depth; deeper ones are
// opened again by their names (and checked to be the same directory), so
// that a deep tree costs no more descriptors than this. Under a low
// open-file limit fewer, and fewer again each time the process runs out.
constexpr size_t kKeptDescriptors = 32;

size_t &Bound() {
  static size_t bound = [] {
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return kKeptDescriptors;
    return std::max<size_t>(1, std::min<size_t>(kKeptDescriptors, static_cast<size_t>(rl.rlim_cur / 4)));
  }();
  return bound;
}

struct Deferred {
  const Resource *res = nullptr;
  std::vector<std::string> comps;
  std::string fullName;
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  DirMeta meta;
  std::string note;  // an unfinished restore's note in it, removed first
  // fd and meta for a signal handler while fd is held.
  std::unique_ptr<UnfinishedDir> onSignal;
};

// Holds fd for d, in the list that a signal handler sets.
void Hold(Deferred &d, int fd) {
  d.fd = fd;
  if (fd < 0) return;
  if (!d.onSignal) d.onSignal.reset(new UnfinishedDir);
  WatchDir(*d.onSignal, fd, d.meta);
  RememberUnfinished(*d.onSignal);
}

// Gives d's descriptor back: out of the handler's list before it is closed,
// so that the handler never sets a number that another file reuses.
void LetGo(Deferred &d) {
  if (d.onSignal) ForgetUnfinished(*d.onSignal);
  if (d.fd >= 0) close(d.fd);
  d.fd = -1;
}

// What could not be set, per connection: the directory's name and why.
std::map<UINT32, std::vector<std::pair<std::string, std::string>>> &Failed() {
  static std::map<UINT32, std::vector<std::pair<std::string, std::string>>> failed;
  return failed;
}

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

// True when the metadata is in place. keepNote: the directory may not be
// finished (the restore was stopped), so its note stays for the next one.
bool Apply(UINT32 connection, Deferred &d, bool keepNote = false) {
  int fd = d.fd;
  int err = 0;
  if (fd < 0) {
    fd = WithDescriptors([&] { return OpenDirBeneath(*d.res, d.comps, d.comps.size(), false); });
    struct stat st;
    if (fd < 0) err = errno;
    else if (fstat(fd, &st) != 0) err = errno;
    else if (st.st_dev != d.dev || st.st_ino != d.ino) err = ESTALE;  // another directory stands there now
  }
  if (err == 0) {
    if (!d.note.empty() && !keepNote) unlinkat(fd, d.note.c_str(), 0);
    if (geteuid() == 0 && fchown(fd, d.meta.uid, d.meta.gid) != 0) err = errno;
    if (fchmod(fd, d.meta.mode & 07777) != 0) err = errno;
    if (futimens(fd, d.meta.times) != 0) err = errno;
  }
  if (fd != d.fd && fd >= 0) close(fd);
  LetGo(d);
  if (err != 0) Failed()[connection].emplace_back(d.fullName, strerror(err));
  return err == 0;
}

void Leave(UINT32 connection, std::vector<Deferred> &stack, const Resource *res,
           const std::vector<std::string> &comps) {
  while (!stack.empty() && !AtOrAbove(stack.back(), res, comps)) {
    if (Apply(connection, stack.back()) && stack.back().ino != 0) Remember(connection, stack.back());
    stack.pop_back();
  }
}

void FinishAtExit() { FinishAllDeferredDirs(); }

}  // namespace

void WatchDir(UnfinishedDir &node, int fd, const DirMeta &meta) {
  node.fd = fd;
  node.uid = meta.uid;
  node.gid = meta.gid;
  node.mode = meta.mode;
  node.times[0] = meta.times[0];
  node.times[1] = meta.times[1];
}

void DeferDirMeta(UINT32 connection, const Resource *res, const std::vector<std::string> &comps,
                  const std::string &fullName, int fd, const DirMeta &meta, const std::string &note,
                  UnfinishedDir &handleNode) {
  static bool registered = false;
  if (!registered) {
    // Made before the handler is registered, so that they are still there
    // when it runs.
    Kept();
    Applied();
    Failed();
    registered = atexit(FinishAtExit) == 0;
  }
  std::vector<Deferred> &stack = Kept()[connection];
  Leave(connection, stack, res, comps);
  Deferred d;
  d.res = res;
  d.comps = comps;
  d.fullName = fullName;
  d.meta = meta;
  d.note = note;
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
    // The note of the first restore of it goes with the newer metadata.
    if (d.note.empty()) d.note = stack.back().note;
    LetGo(stack.back());
    stack.pop_back();
  }
  size_t held = 0;
  for (const Deferred &k : stack) held += k.fd >= 0;
  // The handler's node of the handle is forgotten only once this one is
  // listed: no moment in which a signal finds neither.
  if (held < Bound()) Hold(d, fd);
  ForgetUnfinished(handleNode);
  if (d.fd < 0) close(fd);
  stack.push_back(std::move(d));
}

bool ShedKeptDirs() {
  bool freed = false;
  size_t held = 0;
  for (auto &k : Kept())
    for (Deferred &d : k.second)
      if (d.fd >= 0) {
        ++held;
        LetGo(d);
        freed = true;
      }
  Bound() = std::max<size_t>(1, held / 2);
  return freed;
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
  size_t held = 0;
  for (const Deferred &k : stack) held += k.fd >= 0;
  Hold(d, held < Bound() ? fcntl(dirFd, F_DUPFD_CLOEXEC, 0) : -1);
  stack.push_back(std::move(d));
}

void ApplyDeferredDirs(UINT32 connection, bool keepNotes) {
  Applied().erase(connection);
  auto it = Kept().find(connection);
  if (it == Kept().end()) return;
  std::vector<Deferred> stack = std::move(it->second);
  Kept().erase(it);
  while (!stack.empty()) {
    Apply(connection, stack.back(), keepNotes);
    stack.pop_back();
  }
}

bool TakeFailedDir(UINT32 connection, std::string &fullName, std::string &why) {
  auto it = Failed().find(connection);
  if (it == Failed().end()) return false;
  if (it->second.empty()) {
    Failed().erase(it);
    return false;
  }
  fullName = std::move(it->second.front().first);
  why = std::move(it->second.front().second);
  it->second.erase(it->second.begin());
  return true;
}

void FinishDeferredDirs(UINT32 connection) {
  ApplyDeferredDirs(connection);
  std::string name, why;
  while (TakeFailedDir(connection, name, why)) {
    std::string note = "vrk_sms: " + name + ": owner, mode and times not set: " + why;
    fprintf(stderr, "%s\n", vrk_printable(note).c_str());
  }
}

void FinishAllDeferredDirs() {
  while (!Kept().empty()) FinishDeferredDirs(Kept().begin()->first);
  while (!Failed().empty()) FinishDeferredDirs(Failed().begin()->first);
  Applied().clear();
}

}  // namespace vrksms

extern "C" void vrk_sms_finish_restore(UINT32 connection) { vrksms::ApplyDeferredDirs(connection); }

extern "C" void vrk_sms_stop_restore(UINT32 connection) { vrksms::ApplyDeferredDirs(connection, true); }

extern "C" int vrk_sms_failed_directory(UINT32 connection, char **name, char **why) {
  std::string n, w;
  if (!name || !why || !vrksms::TakeFailedDir(connection, n, w)) return 0;
  *name = strdup(n.c_str());
  *why = strdup(w.c_str());
  return 1;
}
