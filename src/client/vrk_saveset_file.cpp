// The local saveset file a backup writes: made under a temporary name beside
// its final name, locked for the whole job, renamed over it after a good end.
#include "client/vrk_saveset_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/path_dir.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"
#include "runtime/x_file_owner.h"
#include "runtime/x_open_nofollow.h"
#include "runtime/x_std_fds.h"

namespace {

// The open saveset (iLockFd -1: none). The temporary's name is also kept
// in a fixed buffer that the signal handler may read.
struct PendingSaveset {
  std::string sFinal;  // the file the saveset replaces (a link resolved)
  std::string sTemp;
  int iLockFd = -1;    // shares the lock with the writer's descriptor
};
PendingSaveset gPending;
char gszTemp[VRK_PATH_MAX + 64];
volatile sig_atomic_t giTempPending = 0;
pid_t gOwner = 0;

// True when `cur` stands in this process's directory of descriptors: a link
// there leads to the open file itself, whatever its text says.
bool in_own_fd_dir(const std::string &cur) {
  struct stat stDir, stFds;
  return stat(dir_of(cur).c_str(), &stDir) == 0 && stat("/proc/self/fd", &stFds) == 0 &&
         stDir.st_dev == stFds.st_dev && stDir.st_ino == stFds.st_ino;
}

// True when `cur` is this process's standard descriptor that was closed when
// the job started (a name like /dev/stdout or /dev/fd/1 leads there).
bool closed_std_fd(const std::string &cur) {
  size_t slash = cur.rfind('/');
  std::string base = slash == std::string::npos ? cur : cur.substr(slash + 1);
  if (base.size() != 1 || base[0] < '0' || base[0] > '2' || !x_std_fd_was_closed(base[0] - '0'))
    return false;
  return in_own_fd_dir(cur);
}

std::string join(const std::string &sDir, const std::string &sComp) {
  if (sDir.empty()) return sComp;
  return sDir == "/" ? "/" + sComp : sDir + "/" + sComp;
}

// Puts the components of sPath in front of those still to walk (kept last
// first); empty ones and "." are dropped.
void push_components(const std::string &sPath, std::vector<std::string> *pTodo) {
  std::vector<std::string> parts;
  size_t from = 0;
  while (from <= sPath.size()) {
    size_t slash = sPath.find('/', from);
    if (slash == std::string::npos) slash = sPath.size();
    std::string comp = sPath.substr(from, slash - from);
    if (!comp.empty() && comp != ".") parts.push_back(comp);
    from = slash + 1;
  }
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) pTodo->push_back(*it);
}

// Walks the name component by component as the kernel would, following
// every symbolic link on the way (the saveset stays the link and its target
// is what gets replaced). Each link is followed only when its owner may have
// put it there for this job; otherwise *psFile names it and *psWhy says why.
// The result names the same file without links; *pst is what stands there
// (lstat), *pbThere false when nothing does; *pbFdLink is true when a link
// of the process's descriptor directory was followed. Empty with errno on a
// loop or a refusal.
std::string resolve_links(const std::string &sName, struct stat *pst, bool *pbThere, bool *pbFdLink,
                          std::string *psFile, std::string *psWhy) {
  *pbFdLink = false;
  std::vector<std::string> todo;
  push_components(sName, &todo);
  std::string res = !sName.empty() && sName[0] == '/' ? "/" : "";
  int iLinks = 0;
  while (!todo.empty()) {
    std::string comp = todo.back();
    todo.pop_back();
    if (comp == "..") {
      // What is walked so far holds no link: ".." takes one component off.
      size_t slash = res.rfind('/');
      std::string last = slash == std::string::npos ? res : res.substr(slash + 1);
      if (res.empty() || last == "..")
        res = join(res, "..");
      else if (res != "/")
        res = slash == std::string::npos ? "" : slash == 0 ? "/" : res.substr(0, slash);
      continue;
    }
    std::string cur = join(res, comp);
    bool bThere = lstat(cur.c_str(), pst) == 0;
    if (bThere && closed_std_fd(cur)) {
      *psFile = sName;
      *psWhy = std::string("it leads to standard ") + (cur.back() == '0' ? "input" : cur.back() == '1' ? "output" : "error") +
               ", which was closed when the job started";
      errno = EPERM;
      return "";
    }
    if (!bThere) {
      // Nothing stands here: the saveset is made at this name. A directory
      // missing on the way fails the job as the open would, and is not left
      // to a later open that another user may lead elsewhere meanwhile.
      if (!todo.empty()) return "";
      res = cur;
      break;
    }
    if (!S_ISLNK(pst->st_mode)) {
      res = cur;
      continue;
    }
    if (++iLinks > 40) {
      errno = ELOOP;
      return "";
    }
    if (!x_entry_trusted(cur.c_str(), *pst, psWhy)) {
      *psFile = cur;
      errno = EPERM;
      return "";
    }
    if (in_own_fd_dir(cur)) *pbFdLink = true;
    std::string target(PATH_MAX, '\0');
    ssize_t n = readlink(cur.c_str(), &target[0], target.size());
    if (n < 0) return "";
    if ((size_t)n >= target.size() || n == 0) {
      errno = n == 0 ? ENOENT : ENAMETOOLONG;
      return "";
    }
    target.resize((size_t)n);
    if (target[0] == '/') res = "/";
    push_components(target, &todo);
  }
  if (res.empty()) res = ".";
  *pbThere = lstat(res.c_str(), pst) == 0;
  return res;
}

// ".<name>.vrk-new" beside the final name. A name too long to take the
// 9 characters more keeps its first part and gets a digest of the whole in
// place of the rest, so that two long names never share one temporary.
std::string temp_name(const std::string &sFinal) {
  size_t slash = sFinal.rfind('/');
  std::string base = slash == std::string::npos ? sFinal : sFinal.substr(slash + 1);
  std::string dir = slash == std::string::npos ? "" : sFinal.substr(0, slash + 1);
  const size_t kNameMax = 255, kAdded = 9;
  if (base.size() + kAdded > kNameMax) {
    uint64_t h = 1469598103934665603ULL;  // FNV-1a
    for (unsigned char c : base) h = (h ^ c) * 1099511628211ULL;
    char szDigest[18];
    snprintf(szDigest, sizeof(szDigest), "-%016llx", (unsigned long long)h);
    base = base.substr(0, kNameMax - kAdded - 17) + szDigest;
  }
  return dir + "." + base + ".vrk-new";
}

void at_exit_discard() {
  if (getpid() == gOwner) vrk_saveset_discard_signal_safe();
}

// Opens and locks the temporary; -1 with errno, or -2 when another job
// holds it. The saveset is only ever written into a file this job made:
// one left at the name (by a job that was killed, or planted by another
// user who may hold it open) is removed once no job holds its lock, and
// the name is made anew, exclusively and readable by nobody else yet. One
// of another user is no job of this user's, locked or not: it is removed
// at once, and where the directory does not allow that, *psWhy says why.
int open_locked(const std::string &sTemp, std::string *psWhy) {
  for (int iTry = 0; iTry < 8; ++iTry) {
    bool bMade = true;
    int fd = open(sTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
      bMade = false;
      // A link, FIFO or directory of another user at the name is no job's
      // temporary either: removed, or named as what stops the job.
      struct stat stOther;
      if (lstat(sTemp.c_str(), &stOther) == 0 && !S_ISREG(stOther.st_mode) && stOther.st_uid != geteuid()) {
        if ((S_ISDIR(stOther.st_mode) ? rmdir(sTemp.c_str()) : unlink(sTemp.c_str())) == 0 || errno == ENOENT)
          continue;
        int err = errno;
        const char *kind = S_ISLNK(stOther.st_mode)   ? "the symbolic link"
                           : S_ISDIR(stOther.st_mode) ? "the directory"
                                                      : "the file";
        *psWhy = std::string(kind) + " belongs to " + x_owner_text(stOther.st_uid) + " and cannot be removed: " +
                 strerror(err);
        errno = err;
        return -1;
      }
      fd = open(sTemp.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;
    }
    if (fd < 0) return -1;
    struct stat st, stName;
    int err = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
    if (err != 0) {
      close(fd);
      errno = err;
      return -1;
    }
    if (!bMade && st.st_uid != geteuid()) {
      bool bSame = lstat(sTemp.c_str(), &stName) == 0 && stName.st_dev == st.st_dev && stName.st_ino == st.st_ino;
      err = bSame && unlink(sTemp.c_str()) != 0 ? errno : 0;
      close(fd);
      if (err != 0) {
        *psWhy = "the file belongs to " + x_owner_text(st.st_uid) + " and cannot be removed: " + strerror(err);
        errno = err;
        return -1;
      }
      continue;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      close(fd);
      if (err == EWOULDBLOCK) return -2;
      errno = err;
      return -1;
    }
    // The job that held the lock may have renamed this very file into place
    // or removed it meanwhile: only the file still at the temporary name is
    // ours, and only one made here with no second name.
    bool bOurs = lstat(sTemp.c_str(), &stName) == 0 && stName.st_dev == st.st_dev && stName.st_ino == st.st_ino;
    if (bOurs && bMade && st.st_nlink == 1) return fd;
    // One that cannot be removed (another user's in a sticky directory)
    // stops the job with the reason.
    err = bOurs && unlink(sTemp.c_str()) != 0 ? errno : 0;
    close(fd);
    if (err != 0) {
      errno = err;
      return -1;
    }
  }
  errno = EAGAIN;
  return -1;
}

// True when the name (not followed) is the file open at fd.
bool name_leads_to(const std::string &sName, int fd) {
  struct stat stFd, stName;
  return fstat(fd, &stFd) == 0 && lstat(sName.c_str(), &stName) == 0 && stFd.st_dev == stName.st_dev &&
         stFd.st_ino == stName.st_ino;
}

// The mode a saveset made where none stood gets: readable by its owner
// alone (it holds every file of the backup, private ones too), narrowed
// further by the process's umask.
mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0600 & ~mask;
}

}  // namespace

int vrk_saveset_create(const char *cpName, bool *pbBusy, std::string *psFile, std::string *psWhy) {
  *pbBusy = false;
  psFile->clear();
  psWhy->clear();
  vrk_saveset_finish(false);
  struct stat stEnd, stFinal;
  bool bThere = false, bFdLink = false, bStat = false;
  std::string sFinal;
  // The walk and what the name leads to must agree: a link that another
  // user puts at the name (or on the way) after the walk looked is judged
  // by a walk of its own, never followed unseen. Only a name through the
  // process's descriptor links leads where no walk can tell.
  for (int iTry = 0;; ++iTry) {
    sFinal = resolve_links(cpName, &stEnd, &bThere, &bFdLink, psFile, psWhy);
    if (sFinal.empty()) return -1;
    bStat = stat(cpName, &stFinal) == 0;
    // A file named with a trailing "/" or "/." is the file the walk found,
    // as it always was.
    bool bSlashed = bThere && !bStat && errno == ENOTDIR && !S_ISDIR(stEnd.st_mode);
    if (bFdLink || bSlashed ||
        (bThere ? bStat && stEnd.st_dev == stFinal.st_dev && stEnd.st_ino == stFinal.st_ino : !bStat))
      break;
    if (iTry == 3) {
      errno = EAGAIN;
      return -1;
    }
  }
  // What the name leads to decides first: /dev/stdout or /dev/fd/1 lead to
  // a pipe through links whose text names no file.
  if (bStat && !S_ISREG(stFinal.st_mode)) {
    if (!bThere || stEnd.st_dev != stFinal.st_dev || stEnd.st_ino != stFinal.st_ino)
      return open(cpName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    // A device or FIFO at a name is written into only when its owner may
    // have put it there for this job; it is opened as the one judged.
    if (!x_entry_trusted(sFinal.c_str(), stEnd, psWhy)) {
      *psFile = sFinal;
      errno = EPERM;
      return -1;
    }
    int fd = open(sFinal.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat stOpen;
    if (fd >= 0 && (fstat(fd, &stOpen) != 0 || stOpen.st_dev != stEnd.st_dev || stOpen.st_ino != stEnd.st_ino)) {
      close(fd);
      errno = EAGAIN;
      return -1;
    }
    return fd;
  }
  // What the walk found is what is judged and replaced.
  bool bExists = bThere;
  if (bExists) stFinal = stEnd;
  if (bExists && !S_ISREG(stFinal.st_mode))
    return open(cpName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  // Another user's file in a directory where anyone may put one is not
  // replaced: the new saveset would be handed to that user.
  if (bExists && !x_replace_trusted(sFinal.c_str(), stFinal, psWhy)) {
    *psFile = sFinal;
    errno = EPERM;
    return -1;
  }

  // The old saveset stays whole until it is replaced: no file of the job's
  // own may be opened onto it meanwhile.
  if (bExists) x_open_nofollow_keep(&stFinal);
  std::string sTemp = temp_name(sFinal);
  if (sTemp.size() >= sizeof(gszTemp)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = open_locked(sTemp, psWhy);
  if (fd == -2) {
    *pbBusy = true;
    errno = EWOULDBLOCK;
    return -1;
  }
  if (fd < 0) {
    if (!psWhy->empty()) *psFile = sTemp;
    return -1;
  }
  int err = 0;
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) err = errno;
  // The new saveset takes the place of the old one with its mode and owner.
  if (err == 0 && fchmod(fd, bExists ? stFinal.st_mode & 0777 : new_file_mode()) != 0) err = errno;
  // A user who may not give files away keeps the new saveset as the owner:
  // the job goes on, with a warning.
  if (err == 0 && bExists && (stFinal.st_uid != geteuid() || stFinal.st_gid != getegid()) &&
      fchown(fd, stFinal.st_uid, stFinal.st_gid) != 0) {
    std::string why = strerror(errno);
    vrk_log(2500, "Saveset [%s] made anew keeps its owner %s, not %s with group %lu of the one it replaces: %s",
            sFinal.c_str(), x_owner_text(geteuid()).c_str(), x_owner_text(stFinal.st_uid).c_str(),
            (unsigned long)stFinal.st_gid, why.c_str());
  }
  int iWriteFd = err == 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
  if (err == 0 && iWriteFd < 0) err = errno;
  if (err != 0) {
    unlink(sTemp.c_str());
    close(fd);
    errno = err;
    return -1;
  }

  gPending.sFinal = sFinal;
  gPending.sTemp = sTemp;
  gPending.iLockFd = fd;
  strlcpy(gszTemp, sTemp.c_str(), sizeof(gszTemp));
  giTempPending = 1;
  if (gOwner == 0) {
    gOwner = getpid();
    atexit(at_exit_discard);
  }
  return iWriteFd;
}

int vrk_saveset_finish(bool bGood) {
  if (gPending.iLockFd < 0) return 0;
  PendingSaveset *p = &gPending;
  int result = 0;
  if (bGood) {
    // The data reaches the disk before the name does: a crash right after
    // never leaves an empty saveset in place of the old one.
    if (fsync(p->iLockFd) != 0) {
      vrk_log(1008, strerror(errno));
      result = -1;
    }
    // The sync of a large saveset takes a while: a SIGINT that came in it
    // has failed the job, and the old saveset stays. From this check to the
    // rename no stopping signal comes between.
    sigset_t stop, old;
    sigemptyset(&stop);
    for (int iSig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, iSig);
    sigprocmask(SIG_BLOCK, &stop, &old);
    _eOperStatus eStatus = spGlobal->sVRKObject.eOperStatus;
    bool bStillGood = eStatus == STATUS_OK || eStatus == STATUS_WARNING;
    giTempPending = 0;
    // Only the file written is put in place: where others may write into the
    // directory, another user may have put a file of theirs at the temporary
    // name, and a saveset of theirs must never stand as this job's.
    if (result == 0 && bStillGood && !name_leads_to(p->sTemp, p->iLockFd)) {
      vrk_log(1008, ("[" + p->sTemp + "] is no longer the saveset written; [" + p->sFinal + "] is not replaced").c_str());
      result = -1;
    }
    if (result == 0 && bStillGood && rename(p->sTemp.c_str(), p->sFinal.c_str()) != 0) {
      vrk_log(1008, strerror(errno));
      result = -1;
    }
    if (result == 0 && bStillGood && !name_leads_to(p->sFinal, p->iLockFd)) {
      vrk_log(1008, ("[" + p->sFinal + "] is not the saveset written: another file took the temporary name").c_str());
      struct stat stOurs, stName;
      if (fstat(p->iLockFd, &stOurs) == 0 && lstat(p->sFinal.c_str(), &stName) == 0 &&
          (stName.st_dev != stOurs.st_dev || stName.st_ino != stOurs.st_ino))
        unlink(p->sFinal.c_str());
      result = -1;
    }
    if (!bStillGood) result = -1;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (result == 0) {
      int dirFd = open(dir_of(p->sFinal).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
      }
    } else {
      unlink(p->sTemp.c_str());
    }
  } else {
    giTempPending = 0;
    unlink(p->sTemp.c_str());
  }
  close(p->iLockFd);
  p->iLockFd = -1;
  return result;
}

void vrk_saveset_discard_signal_safe(void) {
  if (giTempPending) {
    giTempPending = 0;
    unlink(gszTemp);
  }
}
