// Writes of the local saveset: a record header, a name block, a small file's
// data and an end marker gathered into one write instead of a write each.
#include "client/vrk_saveset_gather.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <vector>

#include "client/vrk_io.h"

namespace {

constexpr size_t kGatherSize = 65536;

struct Gather {
  std::vector<char> buf;
  int fd = -1;           // the saveset the gathered bytes belong to
  bool regular = false;  // a regular file: written straight, pieces in one writev
};

Gather g;

// Writes all bytes of the pieces; 0, or -1 with errno set. A regular file
// takes them in one writev; a pipe, socket or device goes through the
// waiting loop of vrk_write, piece by piece.
int write_pieces(struct iovec *iov, int cnt, int iTimeout) {
  if (g.regular) {
    while (cnt > 0) {
      ssize_t n = writev(g.fd, iov, cnt);
      if (n < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (n == 0) {
        errno = ENOSPC;
        return -1;
      }
      size_t done = (size_t)n;
      while (cnt > 0 && done >= iov->iov_len) {
        done -= iov->iov_len;
        ++iov;
        --cnt;
      }
      if (cnt > 0) {
        iov->iov_base = static_cast<char *>(iov->iov_base) + done;
        iov->iov_len -= done;
      }
    }
    return 0;
  }
  for (int i = 0; i < cnt; ++i) {
    errno = 0;
    ssize_t w = vrk_write(g.fd, iov[i].iov_base, iov[i].iov_len, iTimeout);
    if (w < 0) return -1;
    if ((size_t)w != iov[i].iov_len) {
      if (errno == 0) errno = EIO;
      return -1;
    }
  }
  return 0;
}

// Writes what waits, then the block (none: nullptr); the gathered bytes are
// dropped either way. 0 or -1.
int flush_with(const void *cpBuf, size_t sizeNbyte, int iTimeout) {
  struct iovec iov[2];
  int cnt = 0;
  if (!g.buf.empty()) iov[cnt++] = {g.buf.data(), g.buf.size()};
  if (cpBuf != nullptr && sizeNbyte > 0) iov[cnt++] = {const_cast<void *>(cpBuf), sizeNbyte};
  int rc = cnt > 0 ? write_pieces(iov, cnt, iTimeout) : 0;
  g.buf.clear();
  return rc;
}

}  // namespace

ssize_t vrk_saveset_write(int iFildes, const void *cpBuf, size_t sizeNbyte, int iTimeout) {
  if (g.fd != iFildes) {
    if (flush_with(nullptr, 0, iTimeout) != 0) return -1;
    struct stat st;
    g.fd = iFildes;
    g.regular = fstat(iFildes, &st) == 0 && S_ISREG(st.st_mode);
    return flush_with(cpBuf, sizeNbyte, iTimeout) == 0 ? (ssize_t)sizeNbyte : -1;
  }
  if (sizeNbyte >= kGatherSize) return flush_with(cpBuf, sizeNbyte, iTimeout) == 0 ? (ssize_t)sizeNbyte : -1;
  if (g.buf.capacity() < 2 * kGatherSize) g.buf.reserve(2 * kGatherSize);
  const char *cp = static_cast<const char *>(cpBuf);
  g.buf.insert(g.buf.end(), cp, cp + sizeNbyte);
  if (g.buf.size() >= kGatherSize && flush_with(nullptr, 0, iTimeout) != 0) return -1;
  return (ssize_t)sizeNbyte;
}

int vrk_saveset_flush(int iTimeout) {
  int rc = flush_with(nullptr, 0, iTimeout);
  g.fd = -1;
  return rc;
}
