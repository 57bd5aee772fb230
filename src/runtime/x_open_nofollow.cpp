// Opening a file the client creates by name in its own directories: a
// symbolic link or a special file planted at that name is never opened.
#include "runtime/x_open_nofollow.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "runtime/x_file_owner.h"

namespace {

std::vector<std::pair<dev_t, ino_t>> gKept;

bool kept(const struct stat &st) {
  for (const auto &k : gKept)
    if (k.first == st.st_dev && k.second == st.st_ino) return true;
  return false;
}

}  // namespace

void x_open_nofollow_keep(const struct stat *st) {
  if (S_ISREG(st->st_mode) && !kept(*st)) gKept.emplace_back(st->st_dev, st->st_ino);
}

void x_open_nofollow_forget(void) { gKept.clear(); }

int x_open_nofollow(const char *cpPath, int iFlags, mode_t mode) {
  bool bTrunc = (iFlags & O_TRUNC) != 0;
  // A planted FIFO must not block the open; the flag is taken back after.
  int fd = open(cpPath, (iFlags & ~O_TRUNC) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
  if (fd < 0) return -1;
  struct stat st;
  int err = 0;
  if (fstat(fd, &st) != 0)
    err = errno;
  else if (!S_ISREG(st.st_mode))
    err = EINVAL;
  // A second name of the same file may be a link planted from elsewhere.
  else if ((iFlags & O_ACCMODE) != O_RDONLY && st.st_nlink > 1)
    err = EMLINK;
  else if ((iFlags & O_ACCMODE) != O_RDONLY && kept(st))
    err = EBUSY;
  // Another user's file at the name (made before the job, to read or feed
  // what the job writes) is not written into.
  else if ((iFlags & O_ACCMODE) != O_RDONLY && !x_owner_trusted(st.st_uid))
    err = EPERM;
  // An older file of the job's own keeps no wider permissions than a new
  // one gets.
  else if ((iFlags & O_ACCMODE) != O_RDONLY && (st.st_mode & 07777 & ~mode) != 0 && st.st_uid == geteuid() &&
           fchmod(fd, st.st_mode & 07777 & mode) != 0)
    err = errno;
  else if (bTrunc && st.st_size != 0 && ftruncate(fd, 0) != 0)
    err = errno;
  else if (!(iFlags & O_NONBLOCK) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
    err = errno;
  if (err != 0) {
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

FILE *x_fopen_nofollow(const char *cpPath, const char *cpMode, mode_t mode) {
  if (cpPath == nullptr || cpMode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  bool bPlus = strchr(cpMode, '+') != nullptr;
  int iFlags;
  switch (cpMode[0]) {
    case 'r': iFlags = bPlus ? O_RDWR : O_RDONLY; break;
    case 'w': iFlags = (bPlus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': iFlags = (bPlus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: errno = EINVAL; return nullptr;
  }
  int fd = x_open_nofollow(cpPath, iFlags, mode);
  if (fd < 0) return nullptr;
  FILE *fp = fdopen(fd, cpMode);
  if (fp == nullptr) {
    int err = errno;
    close(fd);
    errno = err;
  }
  return fp;
}
