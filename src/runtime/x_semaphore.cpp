// Semaphore files with open-file-description record locks: take, try, release
// and inquire; the holder's "pid caller" text is written while it holds.
#include "runtime/x_semaphore.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/path_dir.h"
#include "runtime/vrk_log.h"

namespace {

bool g_bVersionTraced = false;

void set_msg(SCT_SEMA *pS, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void set_msg(SCT_SEMA *pS, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vsnprintf(pS->szMsg, sizeof(pS->szMsg), fmt, ap);
#pragma GCC diagnostic pop
  va_end(ap);
}

int my_pid() { return static_cast<int>(getpid()); }

// A whole-file lock on the descriptor's own open file description.
int ofd_lock(int fd, short type, bool wait) {
  struct flock fl;
  memset(&fl, 0, sizeof(fl));
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  for (;;) {
    int r = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
    if (r == 0 || errno != EINTR) return r;
  }
}

const char *state_word(int r) {
  switch (r) {
    case KV_SUCCESS: return "SUCCESS";
    case KV_WARNING: return "WARNING";
    case KV_ERROR: return "ERROR";
    default: return "FATAL";
  }
}

// The holder text of an open semaphore file (at most 255 bytes).
std::string holder_text(int fd) {
  char buf[256];
  ssize_t n;
  do {
    n = pread(fd, buf, sizeof(buf) - 1, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

int inquire(const char *path, SCT_SEMA *pS) {
  int result = KV_WARNING;
  set_msg(pS, "semaphore %s is free", pS->szSema);
  trace("%l3 [%6d] open semaphore file %s", my_pid(), path);
  int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT) {
      trace("%l3 [%6d] semaphore file %s does not exist", my_pid(), path);
      return KV_SUCCESS;
    }
    set_msg(pS, "failed to open semaphore file [%s]: (%d) %s", path, err, strerror(err));
    return KV_ERROR;
  }
  std::string holder = holder_text(fd);
  if (!holder.empty()) {
    set_msg(pS, "%s", holder.c_str());
    trace("%l3 [%6d] got (%d): %s", my_pid(), static_cast<int>(holder.size()), holder.c_str());
  }
  trace("%l3 [%6d] try to inquire lock state requested by %s", my_pid(), pS->szCaller);
  if (ofd_lock(fd, F_WRLCK, false) == 0) {
    result = KV_SUCCESS;
    if (!holder.empty()) {
      set_msg(pS, "holding process %s for semaphore %s disappeared", holder.c_str(), pS->szSema);
      if (ftruncate(fd, 0) != 0) {
        int err = errno;
        set_msg(pS, "failed to truncate lock file: (%d) %s", err, strerror(err));
        result = KV_FATAL;
      }
    }
  } else {
    int err = errno;
    if (err == EACCES || err == EAGAIN) {
      if (!holder.empty()) {
        trace("%l3 [%6d] %s still locked by concurrent process %s", my_pid(), path, holder.c_str());
        result = KV_WARNING;
      } else {
        set_msg(pS, "failed to try to set lock on lock file: (%d) %s", err, strerror(err));
        result = KV_ERROR;
      }
    } else {
      set_msg(pS, "error in file lock with fcntl: (%d) %s", err, strerror(err));
      result = KV_ERROR;
    }
  }
  close(fd);
  return result;
}

int take(char cFunction, const char *path, SCT_SEMA *pS) {
  int result = KV_SUCCESS;
  pS->szMsg[0] = '\0';
  trace("%l3 [%6d] open lock file %s", my_pid(), path);
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 && errno == ENOENT) {
    int err = errno;
    result = KV_WARNING;
    set_msg(pS, "failed to open lock file: (%d) %s", err, strerror(err));
    // The missing directory is the lock file's own, created beside it.
    std::string dir = dir_of(path);
    trace("%l3 try to create directory %s", dir.c_str());
    if (mkdir(dir.c_str(), 0775) != 0 && errno != EEXIST) {
      err = errno;
      set_msg(pS, "failed to create directory %s for lock file: (%d) %s", dir.c_str(), err,
              strerror(err));
      return KV_FATAL;
    }
    fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      err = errno;
      set_msg(pS, "directory %s created >> retry creation of lock file failed: (%d) %s", dir.c_str(),
              err, strerror(err));
      return KV_FATAL;
    }
    pS->szMsg[0] = '\0';
    result = KV_SUCCESS;
  } else if (fd < 0) {
    int err = errno;
    set_msg(pS, "failed to open lock file: (%d) %s", err, strerror(err));
    return KV_FATAL;
  }
  if (cFunction == '*') {
    if (ofd_lock(fd, F_WRLCK, false) != 0) {
      int err = errno;
      close(fd);
      if (err != EACCES && err != EAGAIN) {
        set_msg(pS, "file lock with fcntl() failed: (%d) %s", err, strerror(err));
        return KV_FATAL;
      }
      if (inquire(path, pS) != KV_SUCCESS) {
        std::string holder = pS->szMsg;
        set_msg(pS, "another process %s is holding semaphore %s", holder.c_str(), pS->szSema);
      } else {
        set_msg(pS, "semaphore is occupied by another process");
      }
      return KV_WARNING;
    }
  } else {
    if (ofd_lock(fd, F_WRLCK, false) != 0) {
      int err = errno;
      // Waiting for a lock that this very process holds would never end.
      std::string holder = (err == EACCES || err == EAGAIN) ? holder_text(fd) : std::string();
      if (!holder.empty() && atoi(holder.c_str()) == my_pid()) {
        close(fd);
        set_msg(pS, "semaphore %s is already held by this process: %s", pS->szSema, holder.c_str());
        return KV_WARNING;
      }
      if (ofd_lock(fd, F_WRLCK, true) != 0) {
        err = errno;
        close(fd);
        set_msg(pS, "file lock with fcntl() failed: (%d) %s", err, strerror(err));
        return KV_FATAL;
      }
    }
  }
  if (ftruncate(fd, 0) != 0) {
    int err = errno;
    close(fd);
    set_msg(pS, "failed to truncate lock file: (%d) %s", err, strerror(err));
    return KV_FATAL;
  }
  std::string text = std::to_string(my_pid()) + " " + pS->szCaller;
  ssize_t w = pwrite(fd, text.c_str(), text.size(), 0);
  if (w < 0 || static_cast<size_t>(w) != text.size()) {
    int err = w < 0 ? errno : EIO;
    if (ftruncate(fd, 0) != 0) {
    }
    close(fd);
    set_msg(pS, "writing pid into lock file failed: (%d) %s", err, strerror(err));
    return KV_FATAL;
  }
  int flags = fcntl(fd, F_GETFD);
  if (flags < 0) {
    int err = errno;
    close(fd);
    set_msg(pS, "fcntl with F_GETFD failed: (%d) %s", err, strerror(err));
    return KV_ERROR;
  }
  if (fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0) {
    int err = errno;
    close(fd);
    set_msg(pS, "fcntl with F_SETFD failed: (%d) %s", err, strerror(err));
    return KV_ERROR;
  }
  trace("%l3 [%6d] got exclusive lock for %s", my_pid(), path);
  pS->hSema = fd;
  return result;
}

int release(const char *path, SCT_SEMA *pS) {
  int result = KV_SUCCESS;
  pS->szMsg[0] = '\0';
  if (pS->hSema != 0) {
    // The holder text is removed while the lock is still held: a process
    // that gets the lock next has written its own text by then.
    if (ftruncate(pS->hSema, 0) != 0) {
      int err = errno;
      set_msg(pS, "failed to truncate lock file: (%d) %s", err, strerror(err));
      result = KV_FATAL;
    }
    if (ofd_lock(pS->hSema, F_UNLCK, false) != 0) {
      int err = errno;
      set_msg(pS, "file unlock with fcntl() failed: (%d) %s", err, strerror(err));
      trace("%l3 [%6d] %s", my_pid(), pS->szMsg);
      result = KV_FATAL;
    }
    if (close(pS->hSema) != 0) {
      int err = errno;
      set_msg(pS, "couldn't close semaphore file: (%d) %s", err, strerror(err));
      return KV_ERROR;
    }
  } else {
    result = inquire(path, pS);
    if (result == KV_WARNING) {
      std::string holder = pS->szMsg;
      set_msg(pS, "could not reset semaphore bcs. another process %s is holding semaphore %s",
              holder.c_str(), pS->szSema);
    } else {
      trace("%l3 [%6d] - %s", my_pid(), pS->szMsg);
    }
  }
  trace("%l3 [%6d] - reset", my_pid());
  pS->hSema = 0;
  return result;
}

}  // namespace

int x_Semaphore(char cFunction, const char *cpSemaFile, SCT_SEMA *pS) {
  if (pS == nullptr) return KV_ERROR;
  if (!g_bVersionTraced) {
    g_bVersionTraced = true;
    trace("%l3 x_Semaphore: semaphore files with open-file-description locks, version 1.0");
  }
  pS->szSema[sizeof(pS->szSema) - 1] = '\0';
  pS->szCaller[sizeof(pS->szCaller) - 1] = '\0';
  const char *path = cpSemaFile != nullptr ? cpSemaFile : "";
  trace("%l3 +++ x_Semaphore [%6d] %c %s", my_pid(), cFunction, path);
  int result;
  if (*path == '\0' && cFunction != '-' && cFunction != 'R') {
    set_msg(pS, "error: no semaphore file given");
    result = KV_ERROR;
  } else {
    switch (cFunction) {
      case '+':
      case 'S':
      case '*':
        result = take(cFunction, path, pS);
        break;
      case '-':
      case 'R':
        result = release(path, pS);
        break;
      case '?':
        result = inquire(path, pS);
        break;
      default:
        set_msg(pS, "error: invalid argument %c", cFunction);
        result = KV_ERROR;
        break;
    }
  }
  trace("%l3 --- x_Semaphore [%6d] %c returns: %d (%s): %s", my_pid(), cFunction, result,
        state_word(result), pS->szMsg);
  return result;
}
