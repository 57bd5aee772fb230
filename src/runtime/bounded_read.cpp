// Whole-file reads of configuration files: at most a few MiB, and a pipe,
// FIFO or device that does not come to its end fails when the data wait ends.
#include "runtime/bounded_read.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/mono_clock.h"

namespace {

int giReadWait = 900;

std::string too_large(size_t uiMax) {
  return "larger than " + std::to_string(uiMax) + " bytes";
}

// What a FIFO holds, read without waiting: a FIFO that has nobody at its
// writing end and nothing in it would only wait, so it is told at once (end
// of data before any byte) from one whose writer is there (EAGAIN) or whose
// data is in it already (read up to its end).
enum class Fifo { kFailed, kNoWriter, kEnded, kWriterThere };

Fifo drain_fifo(int fd, std::string &out, size_t uiMax) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return Fifo::kFailed;
  if ((flags & O_NONBLOCK) == 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return Fifo::kFailed;
  char buf[65536];
  ssize_t r;
  for (;;) {
    size_t want = uiMax + 1 - out.size();
    r = read(fd, buf, want < sizeof buf ? want : sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    out.append(buf, (size_t)r);
    if (out.size() > uiMax) break;
  }
  int err = errno;
  if ((flags & O_NONBLOCK) == 0) fcntl(fd, F_SETFL, flags);
  errno = err;
  if (r < 0) return err == EAGAIN ? Fifo::kWriterThere : Fifo::kFailed;
  if (r == 0 && out.empty()) return Fifo::kNoWriter;
  return Fifo::kEnded;
}

}  // namespace

void vrk_set_read_wait(int iSeconds) { giReadWait = iSeconds > 0 ? iSeconds : 0; }

int vrk_read_wait(void) { return giReadWait; }

bool vrk_read_fd_bounded(int fd, std::string &out, std::string &why, size_t uiMax) {
  out.clear();
  why.clear();
  struct stat st;
  if (fstat(fd, &st) != 0) {
    why = strerror(errno);
    return false;
  }
  const bool regular = S_ISREG(st.st_mode);
  if (regular && st.st_size > 0 && (unsigned long long)st.st_size > uiMax) {
    why = too_large(uiMax);
    errno = EFBIG;
    return false;
  }
  if (S_ISFIFO(st.st_mode)) {
    Fifo f = drain_fifo(fd, out, uiMax);
    if (f == Fifo::kFailed) {
      why = strerror(errno);
      return false;
    }
    if (f == Fifo::kNoWriter) {
      // Refused at once: nothing could ever come.
      why = "a FIFO with no writer";
      errno = ENXIO;
      return false;
    }
    if (out.size() > uiMax) {
      out.clear();
      why = too_large(uiMax);
      errno = EFBIG;
      return false;
    }
    if (f == Fifo::kEnded) return true;
  }
  // A FIFO opened without waiting reads as ended while it has no writer, and
  // the poll tells when one has written or gone; so the poll comes first.
  const long long deadline = mono_now_ms() + (long long)giReadWait * 1000;
  char buf[65536];
  for (;;) {
    if (!regular) {
      long long left = deadline - mono_now_ms();
      if (left < 0) left = 0;
      struct pollfd p = {fd, POLLIN, 0};
      int n = poll(&p, 1, (int)(left > 86400000 ? 86400000 : left));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        why = strerror(errno);
        return false;
      }
      if (n == 0) {
        if (mono_now_ms() < deadline) continue;
        why = "no end of data within " + std::to_string(giReadWait) + " seconds";
        errno = ETIMEDOUT;
        return false;
      }
    }
    size_t want = uiMax + 1 - out.size();
    if (want > sizeof buf) want = sizeof buf;
    ssize_t r = read(fd, buf, want);
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      why = strerror(errno);
      return false;
    }
    if (r == 0) return true;
    out.append(buf, (size_t)r);
    if (out.size() > uiMax) {
      out.clear();
      why = too_large(uiMax);
      errno = EFBIG;
      return false;
    }
  }
}

bool vrk_read_file_bounded(const char *cpPath, std::string &out, std::string &why, size_t uiMax) {
  out.clear();
  int fd = cpPath != nullptr ? open(cpPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
  if (fd < 0) {
    why = cpPath != nullptr ? strerror(errno) : "no file name";
    return false;
  }
  bool ok = vrk_read_fd_bounded(fd, out, why, uiMax);
  int err = errno;
  close(fd);
  errno = err;
  return ok;
}

FILE *vrk_fopen_bounded(const char *cpPath, std::string &why, size_t uiMax) {
  std::string content;
  if (!vrk_read_file_bounded(cpPath, content, why, uiMax)) return nullptr;
  int fd = memfd_create("vrk-config", MFD_CLOEXEC);
  if (fd < 0) {
    why = strerror(errno);
    return nullptr;
  }
  int err = 0;
  size_t done = 0;
  while (done < content.size()) {
    ssize_t w = write(fd, content.data() + done, content.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      err = w < 0 ? errno : EIO;
      break;
    }
    done += (size_t)w;
  }
  FILE *f = err == 0 && lseek(fd, 0, SEEK_SET) == 0 ? fdopen(fd, "r") : nullptr;
  if (f == nullptr) {
    if (err == 0) err = errno;
    why = strerror(err);
    close(fd);
    errno = err;
  }
  return f;
}
