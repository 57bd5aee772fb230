// Backup reads: opening the scan's current data set, producing its stream
// straight into the caller's buffer, archive status, and closing.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "sms/sms_archive.h"
#include "sms/sms_datahandle.h"
#include "sms/sms_path.h"
#include "sms/sms_scan.h"
#include "sms/sms_sidf.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

struct BackupHandle : DataHandle {
  const Tsa *tsa = nullptr;
  const Resource *res = nullptr;
  std::string archiveKey;
  struct timespec ctime {};
  uint64_t dev = 0, ino = 0;
  // The change time that setting back the access time made, when it had to.
  struct timespec ownCtime {};
  bool own = false;
  int fd = -1;
  bool restoreAtime = false;
  struct timespec atime {};
  std::vector<uint8_t> header;
  std::string linkTarget;
  uint64_t dataSize = 0, dataDone = 0;
  size_t headerDone = 0, trailerDone = 0;
  uint8_t trailer[kSidfTrailer];
  uint32_t adler = kAdlerStart;
  bool failed = false;
  // What the open saw of a file, compared after its last read: a file that
  // changed, shrank or grew while it was read is said so at its close.
  off_t openSize = 0;
  struct timespec openMtime {}, openCtime {};
  bool isFile = false, changed = false, changeChecked = false;

  ~BackupHandle() override {
    if (fd >= 0) {
      if (restoreAtime) {
        struct timespec ts[2] = {atime, {0, UTIME_OMIT}};
        futimens(fd, ts);
      }
      close(fd);
    }
  }
  bool Done() const { return trailerDone == kSidfTrailer; }
  // A data set that failed, or changed while it was read, is saved again by
  // the next backup of any level: its record says it failed.
  CCODE Close() override {
    if ((failed || changed) && tsa && tsa->archive) MarkFailed(*tsa, *res, archiveKey);
    return changed ? NWSMTS_DATA_SET_CHANGED : 0;
  }
  // After the last read: the access time is set back now rather than at the
  // close, and the archive status records the change time this makes as the
  // backup's own, so that the data set does not count as changed later.
  void RestoreAccessTime() {
    if (!restoreAtime || fd < 0) return;
    restoreAtime = false;
    struct stat st;
    if (fstat(fd, &st) != 0) return;
    // Only when nothing else changed it since it was opened.
    bool moved = changed || !SameTime(st.st_ctim, ctime);
    if (SameTime(st.st_atim, atime)) return;
    struct timespec ts[2] = {atime, {0, UTIME_OMIT}};
    if (futimens(fd, ts) != 0 || fstat(fd, &st) != 0 || moved) return;
    ownCtime = st.st_ctim;
    own = true;
  }
  // Once, after the last read of a file's data (or when it failed).
  void CheckChange() {
    if (changeChecked || !isFile) return;
    changeChecked = true;
    struct stat st;
    if (fstat(fd, &st) != 0) return;
    changed = changed || st.st_size != openSize || !SameTime(st.st_mtim, openMtime) ||
              !SameTime(st.st_ctim, openCtime);
  }
  static bool SameTime(const struct timespec &a, const struct timespec &b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  }
};

bool SameTimes(const struct timespec &a, const struct timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A symbolic link child: its metadata and target, read without following it.
// Reading a link moves its access time; with 0x40000 it is set back.
CCODE OpenLink(int dirfd, const std::string &name, UINT32 openMode, FileMeta &m, BackupHandle &h) {
  if (!StatEntry(dirfd, name.c_str(), m) || m.kind != kSidfSymlink) return NWSMTS_OPEN_ERROR;
  char buf[kSidfMaxLinkTarget + 1];
  ssize_t n = readlinkat(dirfd, name.c_str(), buf, sizeof(buf));
  if (n <= 0 || static_cast<size_t>(n) > kSidfMaxLinkTarget) return NWSMTS_OPEN_ERROR;
  h.linkTarget.assign(buf, static_cast<size_t>(n));
  m.size = h.linkTarget.size();
  if (openMode & NWSM_PRESERVE_ACCESS_TIME) {
    struct timespec ts[2] = {m.atime, {0, UTIME_OMIT}};
    FileMeta now;
    // Setting it back moves the change time: the archive status records that
    // one as the backup's own.
    if (utimensat(dirfd, name.c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0 && StatEntry(dirfd, name.c_str(), now) &&
        now.kind == kSidfSymlink && SameTimes(now.mtime, m.mtime)) {
      h.ownCtime = now.ctime;
      h.own = true;
    }
  }
  return 0;
}

// A regular file child, opened beneath its directory without following a
// link (O_NONBLOCK: a file turned into a FIFO never blocks the open) and
// described by the one fstat of what was opened. ELOOP: it is a link now.
CCODE OpenFile(int dirfd, const std::string &name, UINT32 openMode, FileMeta &m, BackupHandle &h) {
  int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = -1;
  if (openMode & NWSM_PRESERVE_ACCESS_TIME) fd = openat(dirfd, name.c_str(), flags | O_NOATIME);
  if (fd < 0) fd = openat(dirfd, name.c_str(), flags);
  if (fd < 0) return errno == ELOOP ? OpenLink(dirfd, name, openMode, m, h) : NWSMTS_OPEN_ERROR;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return NWSMTS_OPEN_ERROR;
  }
  // Reads of a regular file never wait, so O_NONBLOCK stays: no flag changes.
  h.fd = fd;
  h.isFile = true;
  h.openSize = st.st_size;
  h.openMtime = st.st_mtim;
  h.openCtime = st.st_ctim;
  m.kind = kSidfFile;
  m.mode = st.st_mode & 07777;
  m.uid = st.st_uid;
  m.gid = st.st_gid;
  m.size = static_cast<uint64_t>(st.st_size);
  m.mtime = st.st_mtim;
  m.atime = st.st_atim;
  m.ctime = st.st_ctim;
  m.dev = st.st_dev;
  m.ino = st.st_ino;
  if (openMode & NWSM_PRESERVE_ACCESS_TIME) {
    h.restoreAtime = true;
    h.atime = st.st_atim;
  }
  UINT32 lockMode = openMode & NWSM_OPEN_MODE_MASK;
  if (lockMode == NWSM_OPEN_READ_DENY_WRITE || lockMode == NWSM_USE_LOCK_MODE_IF_DW_FAILS) {
    // Deny writers through a shared lock; a writer's lock means "in use".
    struct flock fl;
    memset(&fl, 0, sizeof(fl));
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &fl) != 0 && lockMode == NWSM_OPEN_READ_DENY_WRITE) return NWSMTS_DATA_SET_IN_USE;
  }
  return 0;
}

CCODE OpenCurrent(const Scan &s, UINT32 openMode, BackupHandle &h) {
  const ScanItem &it = s.current;
  h.tsa = s.tsa;
  h.res = it.res;
  std::string full = ItemFullName(*s.tsa, it);
  if (G().world.inUse.count(full)) return NWSMTS_DATA_SET_IN_USE;
  // A directory the scan could not read is not stored as if it were empty.
  if (it.isParent && it.unreadable) return NWSMTS_OPEN_ERROR;
  // The scan holds the item's directory open, reached beneath the resource
  // without following links; only a directory it did not open is reached
  // again component by component.
  int dirfd = it.dir ? it.dir->fd : -1;
  int ownfd = -1;
  if (dirfd < 0) {
    dirfd = ownfd = OpenDirBeneath(*it.res, it.dirComps, it.dirComps.size(), false);
    if (dirfd < 0) return NWSMTS_OPEN_ERROR;
  }
  FileMeta m;
  SidfHeader hd;
  CCODE rc = 0;
  if (it.isParent) {
    m = OpenDirMeta(dirfd);
    if (m.kind != kSidfDirectory) rc = NWSMTS_OPEN_ERROR;
    // The scan read the directory before returning it, which may have moved
    // its access time: the one it had before that is kept, and set back.
    if (it.meta.kind == kSidfDirectory) m.atime = it.meta.atime;
    if ((openMode & NWSM_PRESERVE_ACCESS_TIME) && !rc) {
      // The access time is set back through a descriptor of the handle's own.
      h.fd = ownfd >= 0 ? ownfd : fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
      ownfd = -1;
      h.restoreAtime = h.fd >= 0;
      h.atime = m.atime;
    }
  } else {
    if (it.meta.kind == kSidfSymlink) rc = OpenLink(dirfd, it.name, openMode, m, h);
    else rc = OpenFile(dirfd, it.name, openMode, m, h);
  }
  if (ownfd >= 0) close(ownfd);
  if (rc) return rc;
  hd.kind = m.kind;
  hd.flags = (it.isParent || !s.ctl.returnChildTerminalNodeNameOnly) ? kSidfFullName : 0;
  hd.mode = m.mode;
  hd.uid = m.uid;
  hd.gid = m.gid;
  hd.mtimeSec = m.mtime.tv_sec;
  hd.mtimeNsec = static_cast<uint32_t>(m.mtime.tv_nsec);
  hd.atimeSec = m.atime.tv_sec;
  hd.atimeNsec = static_cast<uint32_t>(m.atime.tv_nsec);
  hd.dataSize = m.kind == kSidfDirectory ? 0 : m.size;
  hd.name = hd.flags & kSidfFullName ? full : it.name;
  if (hd.name.size() > kSidfMaxName) return NWSMTS_OPEN_ERROR;
  h.header = EncodeSidfHeader(hd);
  h.dataSize = hd.dataSize;
  h.archiveKey = ItemKey(it);
  h.ctime = m.ctime;
  h.dev = m.dev;
  h.ino = m.ino;
  return 0;
}

}  // namespace

extern "C" CCODE NWSMTSOpenDataSetForBackup(UINT32 connection, UINT32 sequence, UINT32 openMode,
                                            UINT32 *dataSetHandle) {
  Call c("NWSMTSOpenDataSetForBackup");
  c.Args("connection=0x%X, sequence=0x%X, mode=0x%X", connection, sequence, openMode);
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  if (!dataSetHandle) return c.End(NWSMTS_INVALID_PARAMETER);
  Scan *s = FindHandle<Scan>(sequence, connection);
  if (!s || !s->haveCurrent) return c.End(NWSMTS_INVALID_SEQUENCE_NUMBER);
  UINT32 lockMode = openMode & NWSM_OPEN_MODE_MASK;
  if (lockMode > NWSM_OPEN_READ_ONLY || !(s->tsa->openModes & (1u << lockMode)) ||
      (openMode & ~(NWSM_OPEN_MODE_MASK | NWSM_PRESERVE_ACCESS_TIME)))
    return c.End(NWSMTS_OPTION_NOT_SUPPORTED);
  if ((openMode & NWSM_PRESERVE_ACCESS_TIME) && !s->tsa->preserveAccessTime)
    return c.End(NWSMTS_OPTION_NOT_SUPPORTED);
  auto h = std::make_unique<BackupHandle>();
  h->connection = connection;
  if (CCODE rc = OpenCurrent(*s, openMode, *h)) {
    // Not saved now: the next backup of any level saves it (a directory
    // with all it holds).
    if (s->tsa->archive) MarkFailed(*s->tsa, *s->current.res, ItemKey(s->current));
    return c.End(rc);
  }
  if (c.Logging())
    c.Args("connection=0x%X, sequence=0x%X, mode=0x%X, name=\"%s\"", connection, sequence, openMode,
           ItemFullName(*s->tsa, s->current).c_str());
  *dataSetHandle = AddHandle(std::move(h));
  return c.End(0);
}

extern "C" CCODE NWSMTSReadDataSet(UINT32 connection, UINT32 dataSetHandle, UINT32 bytesToRead,
                                   UINT32 *bytesRead, BUFFERPTR buffer) {
  Call c("NWSMTSReadDataSet");
  c.Args("connection=0x%X, handle=0x%X, size=%u", connection, dataSetHandle, bytesToRead);
  if (bytesRead) *bytesRead = 0;
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  if (!bytesRead || (!buffer && bytesToRead)) return c.End(NWSMTS_INVALID_PARAMETER);
  BackupHandle *h = FindHandle<BackupHandle>(dataSetHandle, connection);
  if (!h) return c.End(NWSMTS_INVALID_DATA_SET_HANDLE);
  if (h->failed) return c.End(NWSMTS_READ_ERROR);
  UINT32 got = 0;
  while (got < bytesToRead && !h->Done()) {
    if (h->headerDone < h->header.size()) {
      size_t n = std::min<size_t>(bytesToRead - got, h->header.size() - h->headerDone);
      memcpy(buffer + got, h->header.data() + h->headerDone, n);
      h->adler = Adler32(h->adler, buffer + got, n);
      h->headerDone += n;
      got += static_cast<UINT32>(n);
    } else if (h->dataDone < h->dataSize) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(bytesToRead - got, h->dataSize - h->dataDone));
      if (!h->linkTarget.empty()) {
        memcpy(buffer + got, h->linkTarget.data() + h->dataDone, n);
      } else {
        ssize_t r = read(h->fd, buffer + got, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
          // The file shrank (or failed) while it was read: its stream cannot be completed.
          h->failed = true;
          if (r == 0) h->changed = true;
          h->CheckChange();
          *bytesRead = got;
          return c.End(NWSMTS_READ_ERROR);
        }
        n = static_cast<size_t>(r);
      }
      h->adler = Adler32(h->adler, buffer + got, n);
      h->dataDone += n;
      got += static_cast<UINT32>(n);
    } else {
      if (h->trailerDone == 0) {
        h->CheckChange();
        h->RestoreAccessTime();
        EncodeSidfTrailer(h->header.size() + h->dataSize, h->adler, h->trailer);
      }
      size_t n = std::min<size_t>(bytesToRead - got, kSidfTrailer - h->trailerDone);
      memcpy(buffer + got, h->trailer + h->trailerDone, n);
      h->trailerDone += n;
      got += static_cast<UINT32>(n);
    }
  }
  *bytesRead = got;
  return c.End(0);
}

extern "C" CCODE NWSMTSSetArchiveStatus(UINT32 connection, UINT32 dataSetHandle, UINT32 setFlag,
                                        UINT32 archivedDateAndTime) {
  Call c("NWSMTSSetArchiveStatus");
  c.Args("connection=0x%X, handle=0x%X, flags=0x%X, date=0x%08X", connection, dataSetHandle, setFlag,
         archivedDateAndTime);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!conn->tsa->archive) return c.End(NWSMTS_UNSUPPORTED_FUNCTION);
  BackupHandle *h = FindHandle<BackupHandle>(dataSetHandle, connection);
  if (!h) return c.End(NWSMTS_INVALID_DATA_SET_HANDLE);
  if (setFlag & ~(NWSM_CLEAR_MODIFY_FLAG | NWSM_SET_ARCHIVE_DATE_AND_TIME)) return c.End(NWSMTS_INVALID_PARAMETER);
  ArchiveRecord rec;
  LookupArchive(*h->tsa, *h->res, h->archiveKey, rec);
  if (setFlag & NWSM_SET_ARCHIVE_DATE_AND_TIME) rec.archived = archivedDateAndTime;
  if (setFlag & NWSM_CLEAR_MODIFY_FLAG) {
    rec.cleanSec = h->ctime.tv_sec;
    rec.cleanNsec = static_cast<uint32_t>(h->ctime.tv_nsec);
    rec.ownSec = h->own ? h->ownCtime.tv_sec : -1;
    rec.ownNsec = h->own ? static_cast<uint32_t>(h->ownCtime.tv_nsec) : 0;
    rec.dev = h->dev;
    rec.ino = h->ino;
    rec.failed = false;
  }
  if (!StoreArchive(*h->tsa, *h->res, h->archiveKey, rec)) return c.End(NWSMTS_SET_ARCHIVE_STATUS_ERR);
  return c.End(0);
}
