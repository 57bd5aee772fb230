// Writes of the local saveset: a record header, a name block, a small file's
// data and an end marker gathered into one write instead of a write each.
#include "client/vrk_saveset_gather.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <vector>

#include "client/vrk_io.h"
#include "runtime/vrk_adler32.h"

namespace {

constexpr size_t kGatherSize = 65536;

struct Gather {
  std::vector<char> buf;  // 2 * kGatherSize once the first block is gathered
  size_t used = 0;        // bytes of buf waiting
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
  if (g.used > 0) iov[cnt++] = {g.buf.data(), g.used};
  if (cpBuf != nullptr && sizeNbyte > 0) iov[cnt++] = {const_cast<void *>(cpBuf), sizeNbyte};
  int rc = cnt > 0 ? write_pieces(iov, cnt, iTimeout) : 0;
  g.used = 0;
  return rc;
}

}  // namespace

ssize_t vrk_saveset_write(int iFildes, const void *cpBuf, size_t sizeNbyte, int iTimeout, uint32_t *pAdler) {
  const uint8_t *cp = static_cast<const uint8_t *>(cpBuf);
  // A gathered block is folded as it is copied; any other before it is written.
  bool gathered = g.fd == iFildes && sizeNbyte < kGatherSize;
  if (!gathered && pAdler != nullptr && sizeNbyte > 0) *pAdler = vrk_adler32(*pAdler, cp, sizeNbyte);
  if (g.fd != iFildes) {
    if (flush_with(nullptr, 0, iTimeout) != 0) return -1;
    struct stat st;
    g.fd = iFildes;
    g.regular = fstat(iFildes, &st) == 0 && S_ISREG(st.st_mode);
    return flush_with(cpBuf, sizeNbyte, iTimeout) == 0 ? (ssize_t)sizeNbyte : -1;
  }
  if (sizeNbyte >= kGatherSize) return flush_with(cpBuf, sizeNbyte, iTimeout) == 0 ? (ssize_t)sizeNbyte : -1;
  if (sizeNbyte == 0) return 0;  // an empty block leaves the checksum as it is
  // Less than kGatherSize waits and the block is smaller: both fit.
  if (g.buf.size() < 2 * kGatherSize) g.buf.resize(2 * kGatherSize);
  if (pAdler != nullptr)
    *pAdler = vrk_adler32_copy(*pAdler, g.buf.data() + g.used, cp, sizeNbyte);
  else
    memcpy(g.buf.data() + g.used, cp, sizeNbyte);
  g.used += sizeNbyte;
  if (g.used >= kGatherSize && flush_with(nullptr, 0, iTimeout) != 0) return -1;
  return (ssize_t)sizeNbyte;
}

int vrk_saveset_flush(int iTimeout) {
  int rc = flush_with(nullptr, 0, iTimeout);
  g.fd = -1;
  return rc;
}
