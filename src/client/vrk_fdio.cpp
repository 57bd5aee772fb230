// Descriptor loops of the local saveset: whole-buffer reads and writes that
// wait with poll under one deadline and leave the descriptor's flags as they were.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "client/vrk_global.h"
#include "client/vrk_io.h"
#include "runtime/vrk_log.h"

namespace {

// Diagnostic lines of the loops name the source file and line.
#define FDIO_TRACE(text)                                                   \
  do {                                                                     \
    if (spGlobal->iLogLevel > 2) vrk_log(4000, "%s:%d %s", "vrk_fdio.cpp", __LINE__, text); \
  } while (0)

// Puts the descriptor into non-blocking mode for the call and restores its
// own flags afterwards (a saveset opened for append, or a standard stream
// shared with the shell, keeps them).
class NonBlocking {
 public:
  explicit NonBlocking(int fd) : fd_(fd) {}
  ~NonBlocking() {
    if (changed_) {
      int saved = errno;
      fcntl(fd_, F_SETFL, flags_);
      errno = saved;
    }
  }
  NonBlocking(const NonBlocking &) = delete;
  NonBlocking &operator=(const NonBlocking &) = delete;
  // 0 when ready; -1 when the flags cannot be read (silently) or set.
  int Enter(const char *cpSetFailed) {
    flags_ = fcntl(fd_, F_GETFL);
    if (flags_ == -1) return -1;
    if ((flags_ & O_NONBLOCK) == 0) {
      if (fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK) == -1) {
        FDIO_TRACE(cpSetFailed);
        return -1;
      }
      changed_ = true;
    }
    return 0;
  }

 private:
  int fd_;
  int flags_ = 0;
  bool changed_ = false;
};

// One deadline for the whole call on the monotonic clock.
class Deadline {
 public:
  explicit Deadline(int iSeconds) {
    clock_gettime(CLOCK_MONOTONIC, &end_);
    end_.tv_sec += iSeconds > 0 ? iSeconds : 0;
  }
  // Milliseconds left, 0 once the deadline has passed.
  int Left() const {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long ms = (long long)(end_.tv_sec - now.tv_sec) * 1000LL + (end_.tv_nsec - now.tv_nsec) / 1000000LL;
    if (ms <= 0) return 0;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ms;
  }

 private:
  struct timespec end_;
};

// A regular file is always ready: it is read and written straight, without
// the flag changes and the poll that a pipe, socket or device needs (four
// system calls less on every block of a saveset file).
bool is_regular(int iFildes) {
  struct stat st;
  return fstat(iFildes, &st) == 0 && S_ISREG(st.st_mode);
}

// A stop signal (SIGINT, SIGPIPE) ends the wait for a stalled pipe or
// device at once: the loop fails with EINTR instead of waiting again.
bool stop_signalled() { return spGlobal->sVRKObject.iSigRecv != 0; }

}  // namespace

ssize_t vrk_read(int iFildes, void *cpBuf, size_t sizeNbyte, int iTimeout) {
  if (is_regular(iFildes)) {
    char *cp = static_cast<char *>(cpBuf);
    size_t total = 0;
    while (total < sizeNbyte) {
      ssize_t n = read(iFildes, cp + total, sizeNbyte - total);
      if (n > 0) {
        total += (size_t)n;
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        FDIO_TRACE("vrk_read: read() failed.");
        return -1;
      }
    }
    return (ssize_t)total;
  }
  NonBlocking nb(iFildes);
  if (nb.Enter("vrk_read: fcntl() failed.") != 0) return -1;
  if (iFildes < 0 || iFildes > 1023) FDIO_TRACE("vrk_read:iFildes invalid.");

  char *cp = static_cast<char *>(cpBuf);
  size_t total = 0;
  Deadline deadline(iTimeout);
  while (total < sizeNbyte) {
    if (stop_signalled()) {
      errno = EINTR;
      return -1;
    }
    struct pollfd pfd = {iFildes, POLLIN, 0};
    int rc = poll(&pfd, 1, deadline.Left());
    if (rc == 0) {
      vrk_log(1019, "read()", iTimeout);
      errno = ETIMEDOUT;
      return -1;
    }
    if (rc < 0) {
      if (errno == EAGAIN || errno == EINTR) {
        FDIO_TRACE("vrk_read():select() got: EAGAIN/EINTR");
        usleep(20);
        continue;
      }
      FDIO_TRACE("vrk_read():select() failed.");
      return -1;
    }
    if (pfd.revents & POLLNVAL) {
      errno = EBADF;
      FDIO_TRACE("vrk_read: read() failed.");
      return -1;
    }
    ssize_t n = read(iFildes, cp + total, sizeNbyte - total);
    if (n > 0) {
      total += (size_t)n;
    } else if (n == 0) {
      break;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      errno = 0;
      FDIO_TRACE("vrk_read: read() got: EAGAIN/EINTR");
    } else {
      FDIO_TRACE("vrk_read: read() failed.");
      return -1;
    }
  }
  return (ssize_t)total;
}

ssize_t vrk_write(int iFildes, const void *cpBuf, size_t sizeNbyte, int iTimeout) {
  if (is_regular(iFildes)) {
    const char *cp = static_cast<const char *>(cpBuf);
    size_t total = 0;
    while (total < sizeNbyte) {
      ssize_t n = write(iFildes, cp + total, sizeNbyte - total);
      if (n > 0) {
        total += (size_t)n;
      } else if (n == 0) {
        errno = ENOSPC;
        return -1;
      } else if (errno != EINTR) {
        return -1;
      }
    }
    return (ssize_t)total;
  }
  NonBlocking nb(iFildes);
  if (nb.Enter("vrk_write:fcntl() failed.") != 0) return -1;
  if (iFildes < 0 || iFildes > 1023) FDIO_TRACE("vrk_write: invalid iFildes.");

  const char *cp = static_cast<const char *>(cpBuf);
  size_t total = 0;
  Deadline deadline(iTimeout);
  while (total < sizeNbyte) {
    if (stop_signalled()) {
      errno = EINTR;
      return -1;
    }
    struct pollfd pfd = {iFildes, POLLOUT, 0};
    int rc = poll(&pfd, 1, deadline.Left());
    if (rc == 0) {
      vrk_log(1019, "write()", iTimeout);
      errno = ETIMEDOUT;
      return -1;
    }
    if (rc < 0) {
      if (errno == EAGAIN || errno == EINTR) {
        FDIO_TRACE("vrk_write(): select() got: EAGAIN/EINTR");
        usleep(20);
        continue;
      }
      vrk_log(3500, "vrk_write: select() failed: %s", strerror(errno));
      FDIO_TRACE("vrk_write: select() failed.");
      break;
    }
    if (pfd.revents & POLLNVAL) {
      errno = EBADF;
      return -1;
    }
    ssize_t n = write(iFildes, cp + total, sizeNbyte - total);
    if (n >= 0) {
      total += (size_t)n;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return -1;
    }
  }
  return (ssize_t)total;
}
