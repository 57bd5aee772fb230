// The single-instance lock: open-file-description record locks, so that an
// inquiry from the holding process sees the lock and does not drop it.
#include "runtime/proc_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "runtime/ini_lookup.h"
#include "runtime/ini_profile_internal.h"
#include "runtime/vrk_log.h"

int i_GET_LOCK_FOR_PROCESS(char cMode, const char *cpProcInfo, char *cpMsg, int iLength) {
  const char *proc = cpProcInfo != nullptr ? cpProcInfo : "";
  // The name becomes part of a path: it must stay inside "sem/".
  if (*proc == '\0' || strchr(proc, '/') != nullptr || strcmp(proc, "..") == 0) {
    profile_put_msg(cpMsg, iLength, profile_format("invalid process name for a lock file: >%s<", proc));
    return 0;
  }
  char work[1024];
  char why[1024];
  if (!i_READ_INI("KV_INI", "[Pathes]", "gv_rw_work", work, sizeof(work), why, sizeof(why))) {
    profile_put_msg(cpMsg, iLength, why);
    return 0;
  }
  std::string path = profile_format("%ssem/%s.lock", work, proc);
  const bool shared = cMode == '*';
  int fd;
  if (shared) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } else {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  }
  if (fd < 0) {
    profile_put_msg(cpMsg, iLength, profile_format("failed to open lock file %s", path.c_str()));
    return 0;
  }
  struct flock fl;
  memset(&fl, 0, sizeof(fl));
  fl.l_type = shared ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;
  if (shared) fprintf(stderr, "Set f_RDLCK\n");
  if (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    int err = errno;
    close(fd);
    if (err == EACCES || err == EAGAIN)
      profile_put_msg(cpMsg, iLength,
                      profile_format("similar process %s is already running (EACCESS/EAGAIN)", proc));
    else
      profile_put_msg(cpMsg, iLength,
                      profile_format("similar process %s is already running (%d): %s", proc, err,
                                     strerror(err)));
    return 0;
  }
  if (!shared) {
    std::string pid = profile_format("%d\n", static_cast<int>(getpid()));
    if (ftruncate(fd, 0) != 0) {
      close(fd);
      profile_put_msg(cpMsg, iLength, profile_format("failed to truncate lock file %s", path.c_str()));
      return 0;
    }
    ssize_t w = write(fd, pid.c_str(), pid.size());
    if (w < 0 || static_cast<size_t>(w) != pid.size()) {
      close(fd);
      profile_put_msg(cpMsg, iLength,
                      profile_format("failed to write pid to lock file %s", path.c_str()));
      return 0;
    }
  }
  int flags = fcntl(fd, F_GETFD);
  if (flags < 0) {
    int err = errno;
    close(fd);
    profile_put_msg(cpMsg, iLength, profile_format("failed in fcntl with F_GETFD %s", strerror(err)));
    return 0;
  }
  if (fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0) {
    int err = errno;
    close(fd);
    profile_put_msg(cpMsg, iLength, profile_format("failed in fcntl with F_SETFD %s", strerror(err)));
    return 0;
  }
  if (cMode == '+') {
    profile_put_msg(cpMsg, iLength, profile_format("got exclusive lock for %s", proc));
  } else if (shared) {
    profile_put_msg(cpMsg, iLength, profile_format("got shared lock for %s", proc));
  } else {
    close(fd);
    profile_put_msg(cpMsg, iLength, profile_format("got and released lock for %s", proc));
  }
  return 1;
}

void AVOID_MULTI_PROCESS(const char *cpProcInfo, str_log strLog) {
  (void)strLog;
  char msg[256];
  trace("open lock file");
  if (!i_GET_LOCK_FOR_PROCESS('+', cpProcInfo, msg, sizeof(msg))) {
    trace("%l0 %s", msg);
    printf("STATUS=ERROR MSG=%s\n", msg);
    fflush(stdout);
    exit(1);
  }
  trace("%l1 got exclusive lock for %s", cpProcInfo != nullptr ? cpProcInfo : "");
}
