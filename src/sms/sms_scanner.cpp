// The depth-first scanner: directories read once and sorted, a parent before
// its children and then its subdirectories, without quadratic work.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdio.h>

#include <algorithm>
#include <string>

#include "runtime/printable.h"
#include "sms/sms_path.h"
#include "sms/sms_scan.h"
#include "sms/sms_sidf.h"
#include "sms/sms_time.h"
#include "sms/smsdefs.h"
#include "sms/smserrors.h"

namespace vrksms {

bool StatEntry(int dirfd, const char *name, FileMeta &m) {
  struct statx sx;
  if (statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return false;
  if (S_ISREG(sx.stx_mode)) m.kind = kSidfFile;
  else if (S_ISDIR(sx.stx_mode)) m.kind = kSidfDirectory;
  else if (S_ISLNK(sx.stx_mode)) m.kind = kSidfSymlink;
  else return false;
  m.mode = sx.stx_mode & 07777;
  m.uid = sx.stx_uid;
  m.gid = sx.stx_gid;
  m.size = m.kind == kSidfDirectory ? 0 : sx.stx_size;
  m.mtime = {static_cast<time_t>(sx.stx_mtime.tv_sec), static_cast<long>(sx.stx_mtime.tv_nsec)};
  m.atime = {static_cast<time_t>(sx.stx_atime.tv_sec), static_cast<long>(sx.stx_atime.tv_nsec)};
  m.ctime = {static_cast<time_t>(sx.stx_ctime.tv_sec), static_cast<long>(sx.stx_ctime.tv_nsec)};
  // Creation: the birth time where the file system keeps it, else the change time.
  if (sx.stx_mask & STATX_BTIME)
    m.btime = {static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)};
  else
    m.btime = m.ctime;
  return true;
}

std::string ItemFullName(const Tsa &tsa, const ScanItem &item) {
  std::string s = ParentName(tsa, *item.res, item.dirComps);
  if (!item.isParent) s += item.name;
  return s;
}

std::string ItemKey(const ScanItem &item) {
  size_t n = item.name.size() + 1;
  for (const std::string &c : item.dirComps) n += c.size() + 1;
  std::string s;
  s.reserve(n);
  for (size_t i = 0; i < item.dirComps.size(); ++i) {
    if (i) s += '/';
    s += item.dirComps[i];
  }
  if (item.isParent) {
    s += '/';
  } else {
    if (!item.dirComps.empty()) s += '/';
    s += item.name;
  }
  return s;
}

DirFd::~DirFd() {
  if (fd >= 0) close(fd);
}

Scan::~Scan() = default;

void Scan::Load(Frame &f) {
  f.loaded = true;
  if (f.fd < 0) return;
  int dupfd = dup(f.fd);
  if (dupfd < 0) return;
  DIR *d = fdopendir(dupfd);
  if (!d) {
    close(dupfd);
    return;
  }
  std::string parent = ParentName(*tsa, *sources[si_].res, comps_);
  while (struct dirent *de = readdir(d)) {
    const char *n = de->d_name;
    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
    Entry e;
    e.name = n;
    if (!StatEntry(f.fd, n, e.meta)) {
      // FIFOs, devices and sockets have no data-set kind: they are left out,
      // and said so, so that a backup without them is not taken as whole.
      NoticeSpecial(f, parent, e);
      continue;
    }
    if (e.meta.kind == kSidfDirectory) {
      if (ParentExcluded(parent + e.name + "/")) continue;
      f.dirs.push_back(std::move(e));
    } else {
      f.files.push_back(std::move(e));
    }
  }
  closedir(d);
  auto byName = [](const Entry &a, const Entry &b) { return a.name < b.name; };
  std::sort(f.files.begin(), f.files.end(), byName);
  std::sort(f.dirs.begin(), f.dirs.end(), byName);
}

bool Scan::ParentExcluded(const std::string &full) const {
  std::string bare = full;
  if (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  for (const NameEntry &s : selection) {
    if (s.selectionType != NWSM_PARENT_TO_BE_EXCLUDED) continue;
    if (fnmatch(s.name.c_str(), full.c_str(), 0) == 0 || fnmatch(s.name.c_str(), bare.c_str(), 0) == 0)
      return true;
  }
  return false;
}

bool Scan::FilterActive() const {
  return ctl.firstModifiedDateAndTime || ctl.lastModifiedDateAndTime || ctl.firstCreateDateAndTime ||
         ctl.lastCreateDateAndTime;
}

void Scan::NoticeSpecial(const Frame &f, const std::string &parent, Entry &e) const {
  struct stat st;
  if (fstatat(f.fd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  const char *kind = S_ISFIFO(st.st_mode)  ? "FIFO"
                     : S_ISCHR(st.st_mode) ? "character device"
                     : S_ISBLK(st.st_mode) ? "block device"
                     : S_ISSOCK(st.st_mode) ? "socket"
                                            : nullptr;
  if (!kind) return;
  e.meta.mtime = st.st_mtim;
  e.meta.btime = st.st_ctim;
  if (!Selected(e, f)) return;
  // The name is the tree's: a line break or an escape in it must not reach
  // the terminal or forge a line of its own.
  std::string note = "vrk_sms: " + parent + e.name + ": left out, a " + kind + " is not backed up";
  fprintf(stderr, "%s\n", vrk_printable(note).c_str());
}

bool Scan::Selected(const Entry &e, const Frame &f) const {
  std::string full;
  for (const NameEntry &s : selection) {
    if (s.selectionType == NWSM_CHILD_TO_BE_EXCLUDED) {
      if (fnmatch(s.name.c_str(), e.name.c_str(), 0) == 0) return false;
    } else if (s.selectionType == NWSM_EXCLUDE_CHILD_BY_FULL_NAME) {
      if (full.empty()) full = ParentName(*tsa, *sources[si_].res, comps_, f.depth) + e.name;
      if (fnmatch(s.name.c_str(), full.c_str(), 0) == 0) return false;
    }
  }
  // Date windows: a "first" bound is inclusive, a "last" bound exclusive;
  // both compare packed DOS times. Access and archive bounds are not applied.
  if (FilterActive()) {
    UINT32 m = packedTimes.Pack(e.meta.mtime.tv_sec), cr = packedTimes.Pack(e.meta.btime.tv_sec);
    if (ctl.firstModifiedDateAndTime && m < ctl.firstModifiedDateAndTime) return false;
    if (ctl.lastModifiedDateAndTime && m >= ctl.lastModifiedDateAndTime) return false;
    if (ctl.firstCreateDateAndTime && cr < ctl.firstCreateDateAndTime) return false;
    if (ctl.lastCreateDateAndTime && cr >= ctl.lastCreateDateAndTime) return false;
  }
  return true;
}

OrderKey Scan::KeyOf(size_t depth) const {
  OrderKey k;
  for (size_t j = sources[si_].comps.size(); j < depth; ++j) k.emplace_back(1, comps_[j]);
  return k;
}

void Scan::PushParent(size_t depth, const FileMeta &meta, const std::shared_ptr<const DirFd> &dir) {
  if (ctl.childrenOnly) return;
  ScanItem it;
  it.res = sources[si_].res;
  it.dirComps.assign(comps_.begin(), comps_.begin() + static_cast<long>(depth));
  it.isParent = true;
  it.meta = meta;
  it.dir = dir;
  queue_.push_back(std::move(it));
}

void Scan::EmitPending() {
  for (auto &f : stack_) {
    if (f->emitted) continue;
    f->emitted = true;
    PushParent(f->depth, f->self, f->dir);
  }
}

void Scan::Passed() {
  if (ResumeActive()) resume = false;
}

CCODE Scan::Next() {
  const bool oneLevel = (ctl.scanType & NWSM_DO_NOT_TRAVERSE) != 0;
  while (queue_.empty()) {
    if (si_ >= sources.size()) return NWSMTS_NO_MORE_DATA_SETS;
    const Source &src = sources[si_];
    if (!started_) {
      if (resume && si_ < resumeSource) {
        ++si_;
        continue;
      }
      comps_ = src.comps;
      int fd = OpenDirBeneath(*src.res, src.comps, src.comps.size(), false);
      std::string self = ParentName(*tsa, *src.res, comps_);
      if (fd < 0 || ParentExcluded(self)) {
        if (fd >= 0) close(fd);
        ++si_;
        continue;
      }
      auto f = std::make_unique<Frame>();
      f->Own(fd);
      f->depth = comps_.size();
      struct stat st;
      if (fstat(fd, &st) == 0) {
        f->self.kind = kSidfDirectory;
        f->self.mode = st.st_mode & 07777;
        f->self.uid = st.st_uid;
        f->self.gid = st.st_gid;
        f->self.mtime = st.st_mtim;
        f->self.atime = st.st_atim;
        f->self.ctime = st.st_ctim;
        f->self.btime = st.st_ctim;
      }
      // The top parent is always returned (once: not again after a resume).
      f->emitted = true;
      if (!ResumeActive()) PushParent(f->depth, f->self, f->dir);
      if (src.fileSource) {
        Entry e;
        e.name = src.fileName;
        bool ok = StatEntry(fd, e.name.c_str(), e.meta) && e.meta.kind != kSidfDirectory;
        bool after = !ResumeActive() || resumeKey < OrderKey{{0, e.name}};
        if (ok && after && !ctl.parentsOnly && Selected(e, *f)) {
          ScanItem it;
          it.res = src.res;
          it.dirComps = comps_;
          it.name = e.name;
          it.meta = e.meta;
          it.dir = f->dir;
          queue_.push_back(std::move(it));
        }
        resume = resume && !ResumeActive();
        ++si_;
        continue;
      }
      stack_.push_back(std::move(f));
      started_ = true;
      continue;
    }
    if (stack_.empty()) {
      started_ = false;
      resume = resume && !ResumeActive();
      ++si_;
      continue;
    }
    Frame &f = *stack_.back();
    if (!f.loaded) Load(f);
    if (!ctl.parentsOnly && f.fi < f.files.size()) {
      const Entry &e = f.files[f.fi++];
      if (ResumeActive()) {
        OrderKey k = KeyOf(f.depth);
        k.emplace_back(0, e.name);
        if (!(resumeKey < k)) continue;
      }
      if (!Selected(e, f)) continue;
      Passed();
      EmitPending();
      ScanItem it;
      it.res = src.res;
      it.dirComps.assign(comps_.begin(), comps_.begin() + static_cast<long>(f.depth));
      it.name = e.name;
      it.meta = e.meta;
      it.dir = f.dir;
      queue_.push_back(std::move(it));
      continue;
    }
    if (f.di < f.dirs.size()) {
      const Entry &d = f.dirs[f.di++];
      bool already = false;
      if (ResumeActive()) {
        OrderKey k = KeyOf(f.depth);
        k.emplace_back(1, d.name);
        bool prefix = k.size() <= resumeKey.size() && std::equal(k.begin(), k.end(), resumeKey.begin());
        if (k < resumeKey && !prefix) continue;  // the whole subtree lies before the resume point
        already = !(resumeKey < k);
      }
      if (oneLevel) {
        if (!already) {
          Passed();
          EmitPending();
          comps_.resize(f.depth);
          comps_.push_back(d.name);
          PushParent(f.depth + 1, d.meta, nullptr);
          comps_.pop_back();
        }
        continue;
      }
      auto sub = std::make_unique<Frame>();
      sub->Own(openat(f.fd, d.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      sub->depth = f.depth + 1;
      sub->self = d.meta;
      comps_.resize(f.depth);
      comps_.push_back(d.name);
      if (sub->fd < 0) sub->loaded = true;  // unreadable: returned as a parent without children
      if (already) {
        sub->emitted = true;
      } else if (!FilterActive()) {
        Passed();
        sub->emitted = true;
        PushParent(sub->depth, sub->self, sub->dir);
      }
      stack_.push_back(std::move(sub));
      continue;
    }
    stack_.pop_back();
    if (!stack_.empty()) comps_.resize(stack_.back()->depth);
  }
  current = std::move(queue_.front());
  queue_.pop_front();
  haveCurrent = true;
  return 0;
}

}  // namespace vrksms
