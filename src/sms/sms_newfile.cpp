// New restored files: unnamed files (O_TMPFILE) linked into place through
// /proc/self/fd, and the process constants and directory defaults that let
// a restore skip asking or setting what a creation already gave.
#include "sms/sms_newfile.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vrksms {

namespace {

struct Process {
  bool known = false;
  uid_t euid = 0;
  gid_t egid = 0;
  pid_t pid = 0;
  mode_t umask = 022;
};

Process gProcess;
int gUnnamedWorks = -1;  // -1 not tried yet, 0 no (the file system or /proc), 1 yes

void ForgetInChild() { gProcess.known = false; }

const Process &Me() {
  if (!gProcess.known) {
    static bool registered = false;
    if (!registered) registered = pthread_atfork(nullptr, nullptr, ForgetInChild) == 0;
    gProcess.euid = geteuid();
    gProcess.egid = getegid();
    gProcess.pid = getpid();
    gProcess.umask = ::umask(022);
    ::umask(gProcess.umask);
    gProcess.known = true;
  }
  return gProcess;
}

}  // namespace

uid_t ProcessEuid() { return Me().euid; }
gid_t ProcessEgid() { return Me().egid; }
pid_t ProcessPid() { return Me().pid; }

int OpenUnnamedFile(int dirFd, mode_t mode) {
  if (gUnnamedWorks == 0) {
    errno = EOPNOTSUPP;
    return -1;
  }
  if (gUnnamedWorks < 0) {
    // Linking it in goes through /proc: without it the named road is taken.
    gUnnamedWorks = access("/proc/self/fd", X_OK) == 0 ? 1 : 0;
    if (gUnnamedWorks == 0) {
      errno = EOPNOTSUPP;
      return -1;
    }
  }
  return openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode & 0777);
}

int LinkUnnamedFile(int fd, int dirFd, const char *name) {
  // Straight from the descriptor where the system lets this process do so
  // (it saves the walk through /proc); otherwise through /proc.
  static int emptyPath = -1;  // -1 not known yet, 1 it works, 0 it does not
  if (emptyPath != 0) {
    int r = linkat(fd, "", dirFd, name, AT_EMPTY_PATH);
    if (r == 0) {
      emptyPath = 1;
      return 0;
    }
    if (emptyPath == 1 || (errno != ENOENT && errno != EPERM && errno != EINVAL)) return r;
    emptyPath = 0;  // never worked: this process may not link from a descriptor
  }
  char path[64];
  snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, path, dirFd, name, AT_SYMLINK_FOLLOW);
}

CreateDefaults CreateDefaultsOf(int dirFd) {
  CreateDefaults d;
  struct stat st;
  if (fstat(dirFd, &st) != 0) return d;
  d.dev = st.st_dev;
  d.ino = st.st_ino;
  d.gid = (st.st_mode & S_ISGID) ? st.st_gid : Me().egid;
  errno = 0;
  ssize_t acl = fgetxattr(dirFd, "system.posix_acl_default", nullptr, 0);
  d.plainMode = acl < 0 && (errno == ENODATA || errno == EOPNOTSUPP);
  d.steady = st.st_uid == Me().euid || st.st_uid == 0;
  d.known = true;
  return d;
}

bool CreateGivesMode(const CreateDefaults &d, mode_t mode) {
  return d.known && d.steady && d.plainMode && (mode & 07777) == (mode & 0777 & ~Me().umask);
}

}  // namespace vrksms
