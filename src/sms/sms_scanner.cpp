// The depth-first scanner: directories read once and sorted, a parent before
// its children and then its subdirectories, without quadratic work.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "runtime/printable.h"
#include "sms/sms_archive.h"
#include "sms/sms_archive_records.h"
#include "sms/sms_changed.h"
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
  m.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  m.ino = sx.stx_ino;
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
  int dupfd;
  while ((dupfd = fcntl(f.fd, F_DUPFD_CLOEXEC, 0)) < 0 && (errno == EMFILE || errno == ENFILE) && Shed()) {
  }
  DIR *d = dupfd >= 0 ? fdopendir(dupfd) : nullptr;
  if (!d) {
    f.err = errno ? errno : EIO;
    if (dupfd >= 0) close(dupfd);
    return;
  }
  std::string parent = ParentName(*tsa, *sources[si_].res, comps_);
  std::vector<std::string> others;  // entries there but not returned from here
  for (;;) {
    errno = 0;
    struct dirent *de = readdir(d);
    if (!de) {
      // A directory read only in part is not returned in part.
      if (errno != 0) {
        f.err = errno;
        f.files.clear();
        f.dirs.clear();
      }
      break;
    }
    const char *n = de->d_name;
    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
    Entry e;
    e.name = n;
    if (!StatEntry(f.fd, n, e.meta)) {
      // FIFOs, devices and sockets have no data-set kind: they are left out,
      // and said so, so that a backup without them is not taken as whole.
      NoticeSpecial(f, parent, e);
      others.push_back(std::move(e.name));
      continue;
    }
    if (e.meta.kind == kSidfDirectory) {
      if (ParentExcluded(parent + e.name + "/")) {
        others.push_back(e.name + "/");
        continue;
      }
      f.dirs.push_back(std::move(e));
    } else {
      f.files.push_back(std::move(e));
    }
  }
  closedir(d);
  if (f.err) return;
  auto byName = [](const Entry &a, const Entry &b) { return a.name < b.name; };
  std::sort(f.files.begin(), f.files.end(), byName);
  std::sort(f.dirs.begin(), f.dirs.end(), byName);
  ForgetGone(f, others);
}

void Scan::ForgetGone(const Frame &f, const std::vector<std::string> &others) const {
  if (!tsa->archive) return;
  const ArchiveDir *records = FindArchiveDir(*tsa, *sources[si_].res, f.keyPrefix);
  if (!records) return;
  auto there = [](const std::vector<Entry> &list, const char *name, size_t len) {
    auto it = std::lower_bound(list.begin(), list.end(), std::make_pair(name, len),
                               [](const Entry &e, const std::pair<const char *, size_t> &n) {
                                 return e.name.compare(0, std::string::npos, n.first, n.second) < 0;
                               });
    return it != list.end() && it->name.compare(0, std::string::npos, name, len) == 0;
  };
  std::vector<std::string> gone;
  for (const auto &rec : records->list) {
    const std::string &leaf = rec.first;
    const bool dir = !leaf.empty() && leaf.back() == '/';
    const size_t len = leaf.size() - (dir ? 1 : 0);
    if (len == 0) continue;  // the top of the resource's own record
    if (there(dir ? f.dirs : f.files, leaf.data(), len)) continue;
    if (std::find(others.begin(), others.end(), leaf) != others.end()) continue;
    gone.push_back(f.keyPrefix + leaf);
  }
  for (const std::string &key : gone) ForgetArchive(*tsa, *sources[si_].res, key);
}

int Scan::OpenSub(const std::string &name) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  for (;;) {
    const Frame &p = *stack_.back();
    int fd = -1;
    if (p.fd >= 0) {
      fd = openat(p.fd, name.c_str(), flags);
    } else {
      size_t i = stack_.size();
      while (i > 0 && stack_[i - 1]->fd < 0) --i;
      if (i == 0) {
        fd = OpenDirBeneath(*sources[si_].res, comps_, comps_.size(), false);
      } else {
        // From the nearest held directory down, one component at a time.
        const Frame &a = *stack_[i - 1];
        int cur = -1;
        for (size_t j = a.depth; j < comps_.size(); ++j) {
          int next = openat(cur >= 0 ? cur : a.fd, comps_[j].c_str(), flags);
          int err = errno;
          if (cur >= 0) close(cur);
          cur = next;
          if (cur < 0) {
            errno = err;
            break;
          }
        }
        fd = cur;
      }
    }
    if (fd >= 0) return fd;
    if ((errno != EMFILE && errno != ENFILE) || !Shed()) return -1;
  }
}

bool Scan::Shed() {
  int err = errno;
  bound_ = held_ / 2 > 0 ? held_ / 2 : 1;
  bool freed = false;
  // Never the source's directory nor the deepest frame, which is at work.
  for (size_t i = stack_.empty() ? 0 : stack_.size() - 1; i-- > 1;) {
    Frame &f = *stack_[i];
    if (f.fd < 0 || (f.held && held_ <= bound_)) continue;
    Release(f);
    freed = true;
  }
  errno = err;
  return freed;
}

void Scan::Hold(Frame &f) {
  if (f.fd >= 0 && held_ < bound_) {
    f.held = true;
    ++held_;
  }
}

void Scan::Release(Frame &f) {
  if (f.held) --held_;
  f.held = false;
  f.dir.reset();
  f.fd = -1;
}

void Scan::Unreadable(Frame &f, int err) const {
  std::string note = "vrk_sms: " + ParentName(*tsa, *sources[si_].res, comps_, f.depth) +
                     ": cannot be read, left out with all it holds: " + strerror(err);
  fprintf(stderr, "%s\n", vrk_printable(note).c_str());
}

bool Scan::Archived(const Entry &e, const Frame &f) const {
  std::string key = RelKey(comps_, f.depth, false);
  if (f.depth) key += '/';
  key += e.name;
  ArchiveRecord rec;
  return LookupArchive(*tsa, *sources[si_].res, key, rec) && SameAsSaved(rec, e.meta.ctime, e.meta.dev, e.meta.ino);
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
  e.meta.ctime = st.st_ctim;
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
  // Children whose modify flag is clear, when asked to leave them out.
  if ((ctl.scanType & NWSM_EXCLUDE_ARCHIVED_CHILDREN) && Archived(e, f)) return false;
  return DateSelected(e, f, false);
}

void Scan::PrepareFilter() {
  time_t last;
  if (ctl.firstModifiedDateAndTime) UnpackInstants(ctl.firstModifiedDateAndTime, firstModified_, last);
  if (ctl.lastModifiedDateAndTime) UnpackInstants(ctl.lastModifiedDateAndTime, lastModified_, last);
  if (ctl.firstCreateDateAndTime) UnpackInstants(ctl.firstCreateDateAndTime, firstCreate_, last);
  if (ctl.lastCreateDateAndTime) UnpackInstants(ctl.lastCreateDateAndTime, lastCreate_, last);
}

// Date windows: a "first" bound is inclusive, a "last" bound exclusive. The
// bounds are packed local times; each is taken as the earlier instant it can
// stand for, so that in the hour repeated when summer time ends a change is
// never taken for one before the bound. Access and archive bounds are not
// applied.
bool Scan::DateSelected(const Entry &e, const Frame &f, bool isDir) const {
  if (!FilterActive()) return true;
  time_t m = e.meta.mtime.tv_sec;
  if (ctl.firstModifiedDateAndTime && m < firstModified_) return false;
  if (ctl.lastModifiedDateAndTime && m >= lastModified_) return false;
  if (ctl.firstCreateDateAndTime && !CameSince(e, f, isDir)) return false;
  if (ctl.lastCreateDateAndTime && e.meta.btime.tv_sec >= lastCreate_) return false;
  return true;
}

bool Scan::RecordLater(UINT32 archived) const {
  if (!haveLastArchived_ || archived != lastArchived_) {
    lastArchived_ = archived;
    lastArchivedLater_ = PackedMayBeLater(archived, ctl.firstCreateDateAndTime);
    haveLastArchived_ = true;
  }
  return lastArchivedLater_;
}

RunStanding Scan::Standing(uint64_t run) const {
  // Records of one run share their run number: the last answer is kept.
  if (!haveLastRun_ || run != lastRun_ || lastRunGen_ != ArchiveGeneration()) {
    lastRun_ = run;
    lastRunStanding_ = ArchiveStanding(*tsa, *sources[si_].res, run);
    lastRunGen_ = ArchiveGeneration();
    haveLastRun_ = true;
  }
  return lastRunStanding_;
}

// Whether e came under its present name, or changed in a way that its
// modification time does not show, at or after the first-create bound: the
// rule of sms_changed.h, given e's record in its directory.
bool Scan::CameSince(const Entry &e, const Frame &f, bool isDir) const {
  LiveFacts live;
  live.archiveState = tsa->archive && e.meta.kind != 0;
  live.ref = firstCreate_;
  live.btime = e.meta.btime;
  live.ctime = e.meta.ctime;
  live.dev = e.meta.dev;
  live.ino = e.meta.ino;
  live.forced = f.forced;
  if (!live.archiveState || live.forced || e.meta.btime.tv_sec >= live.ref)
    return MustSave(nullptr, RunStanding::kNotCommitted, false, live);
  if (f.recordsGen != ArchiveGeneration()) {
    f.records = FindArchiveDir(*tsa, *sources[si_].res, f.keyPrefix);
    f.recordsGen = ArchiveGeneration();
  }
  ArchiveRecord rec;
  bool have;
  if (isDir) {
    thread_local std::string leaf;
    leaf.assign(e.name);
    leaf += '/';
    have = LookupInArchiveDir(f.records, leaf, rec);
  } else {
    have = LookupInArchiveDir(f.records, e.name, rec);
  }
  if (!have) return MustSave(nullptr, RunStanding::kNotCommitted, false, live);
  return MustSave(&rec, Standing(rec.run), rec.archived && RecordLater(rec.archived), live);
}

void Scan::Enter(Frame &f, const Frame *parent) const {
  f.keyPrefix = RelKey(comps_, f.depth, f.depth > 0);
  f.forced = parent && parent->forced;
  if (!tsa->archive || f.forced || !FilterActive()) return;
  // A failed directory, or one above the source, makes all it holds count.
  ArchiveRecord rec;
  for (size_t n = parent ? f.depth : 0; n <= f.depth && !f.forced; ++n)
    f.forced = LookupArchive(*tsa, *sources[si_].res, RelKey(comps_, n, true), rec) && FailedRecord(rec);
}

OrderKey Scan::KeyOf(size_t depth) const {
  OrderKey k;
  for (size_t j = sources[si_].comps.size(); j < depth; ++j) k.emplace_back(1, comps_[j]);
  return k;
}

void Scan::PushParent(size_t depth, const FileMeta &meta, const std::shared_ptr<const DirFd> &dir, int err) {
  if (ctl.childrenOnly) return;
  ScanItem it;
  it.res = sources[si_].res;
  it.dirComps.assign(comps_.begin(), comps_.begin() + static_cast<long>(depth));
  it.isParent = true;
  it.meta = meta;
  it.dir = dir;
  it.unreadable = err;
  queue_.push_back(std::move(it));
}

void Scan::EmitPending() {
  for (auto &f : stack_) {
    if (f->emitted) continue;
    f->emitted = true;
    PushParent(f->depth, f->self, f->dir, f->err);
  }
}

void Scan::Passed() {
  if (ResumeActive()) resume = false;
}

FileMeta OpenDirMeta(int fd) {
  FileMeta m;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    m.kind = kSidfDirectory;
    m.mode = st.st_mode & 07777;
    m.uid = st.st_uid;
    m.gid = st.st_gid;
    m.mtime = st.st_mtim;
    m.atime = st.st_atim;
    m.ctime = st.st_ctim;
    m.btime = st.st_ctim;
    m.dev = st.st_dev;
    m.ino = st.st_ino;
  }
  return m;
}

bool Scan::AfterResume(size_t depth, int isDir, const std::string &name) const {
  OrderKey k = KeyOf(depth);
  k.emplace_back(isDir, name);
  return resumeKey < k;
}

Scan::ResumePlace Scan::PlaceOfDir(const Frame &f, const Entry &d) const {
  if (!ResumeActive()) return ResumePlace::kAfter;
  OrderKey k = KeyOf(f.depth);
  k.emplace_back(1, d.name);
  bool prefix = k.size() <= resumeKey.size() && std::equal(k.begin(), k.end(), resumeKey.begin());
  if (k < resumeKey && !prefix) return ResumePlace::kBefore;
  return resumeKey < k ? ResumePlace::kAfter : ResumePlace::kReturned;
}

void Scan::QueueChild(const Frame &f, const Entry &e) {
  ScanItem it;
  it.res = sources[si_].res;
  it.dirComps.assign(comps_.begin(), comps_.begin() + static_cast<long>(f.depth));
  it.name = e.name;
  it.meta = e.meta;
  it.dir = f.dir;
  queue_.push_back(std::move(it));
}

void Scan::FinishSource() {
  resume = resume && !ResumeActive();
  ++si_;
}

void Scan::SourceGone() {
  // The source was there when the scan began: its loss is reported.
  Frame gone;
  gone.depth = comps_.size();
  gone.err = errno ? errno : EIO;
  gone.self.kind = kSidfDirectory;
  Unreadable(gone, gone.err);
  if (!ResumeActive()) PushParent(gone.depth, gone.self, nullptr, gone.err);
  FinishSource();
}

void Scan::ScanFileSource(const Frame &f) {
  const Source &src = sources[si_];
  if (!ResumeActive()) PushParent(f.depth, f.self, f.dir);
  Entry e;
  e.name = src.fileName;
  bool ok = StatEntry(f.fd, e.name.c_str(), e.meta) && e.meta.kind != kSidfDirectory;
  bool after = !ResumeActive() || AfterResume(f.depth, 0, e.name);
  if (ok && after && !ctl.parentsOnly && Selected(e, f)) QueueChild(f, e);
  FinishSource();
}

void Scan::StartSource() {
  const Source &src = sources[si_];
  if (resume && si_ < resumeSource) {
    ++si_;
    return;
  }
  comps_ = src.comps;
  if (ParentExcluded(ParentName(*tsa, *src.res, comps_))) {
    ++si_;
    return;
  }
  int fd = OpenDirBeneath(*src.res, src.comps, src.comps.size(), false);
  if (fd < 0) {
    SourceGone();
    return;
  }
  auto f = std::make_unique<Frame>();
  f->Own(fd);
  f->depth = comps_.size();
  f->self = OpenDirMeta(fd);
  // The top parent is always returned (once: not again after a resume).
  f->emitted = true;
  Enter(*f, nullptr);
  if (src.fileSource) {
    ScanFileSource(*f);
    return;
  }
  stack_.push_back(std::move(f));
  Frame &top = *stack_.back();
  Hold(top);
  Load(top);
  if (top.err) Unreadable(top, top.err);
  if (!ResumeActive()) PushParent(top.depth, top.self, top.dir, top.err);
  started_ = true;
}

void Scan::EndSource() {
  started_ = false;
  FinishSource();
}

void Scan::NextChild(Frame &f) {
  const Entry &e = f.files[f.fi++];
  if (ResumeActive() && !AfterResume(f.depth, 0, e.name)) return;
  if (!Selected(e, f)) return;
  Passed();
  EmitPending();
  QueueChild(f, e);
}

void Scan::NameSubdir(const Frame &f, const Entry &d) {
  Passed();
  EmitPending();
  comps_.resize(f.depth);
  comps_.push_back(d.name);
  PushParent(f.depth + 1, d.meta, nullptr);
  comps_.pop_back();
}

void Scan::EnterSubdir(Frame &f, const Entry &d, bool already) {
  comps_.resize(f.depth);
  comps_.push_back(d.name);
  int fd = OpenSub(d.name);
  int err = fd < 0 ? (errno ? errno : EIO) : 0;
  // A directory below the held levels lets go once it moves on to its
  // subdirectories: they are opened beneath it or by path from then on.
  if (!f.held) Release(f);
  auto sub = std::make_unique<Frame>();
  sub->Own(fd);
  sub->depth = f.depth + 1;
  sub->self = d.meta;
  Enter(*sub, &f);
  stack_.push_back(std::move(sub));
  Frame &s = *stack_.back();
  Hold(s);
  // Read before it is returned, so that an unreadable directory says so:
  // it comes as a parent without children whose open fails.
  if (fd < 0) {
    s.loaded = true;
    s.err = err;
  } else {
    Load(s);
  }
  if (s.err) Unreadable(s, s.err);
  if (already) {
    s.emitted = true;
  } else if (!FilterActive() || s.err || DateSelected(d, f, true)) {
    // A directory that changed itself is returned without changed children.
    Passed();
    EmitPending();
  }
}

void Scan::NextSubdir(Frame &f) {
  const Entry &d = f.dirs[f.di++];
  const ResumePlace place = PlaceOfDir(f, d);
  if (place == ResumePlace::kBefore) return;  // the whole subtree lies before the resume point
  const bool already = place == ResumePlace::kReturned;
  if (ctl.scanType & NWSM_DO_NOT_TRAVERSE) {
    if (!already) NameSubdir(f, d);
    return;
  }
  EnterSubdir(f, d, already);
}

void Scan::LeaveDir() {
  if (stack_.back()->held) --held_;
  stack_.pop_back();
  if (!stack_.empty()) comps_.resize(stack_.back()->depth);
}

void Scan::Advance() {
  Frame &f = *stack_.back();
  if (!f.loaded) Load(f);
  if (!ctl.parentsOnly && f.fi < f.files.size()) {
    NextChild(f);
  } else if (f.di < f.dirs.size()) {
    NextSubdir(f);
  } else {
    LeaveDir();
  }
}

CCODE Scan::Next() {
  while (queue_.empty()) {
    if (si_ >= sources.size()) return NWSMTS_NO_MORE_DATA_SETS;
    if (!started_) {
      StartSource();
    } else if (stack_.empty()) {
      EndSource();
    } else {
      Advance();
    }
  }
  current = std::move(queue_.front());
  queue_.pop_front();
  haveCurrent = true;
  return 0;
}

}  // namespace vrksms
