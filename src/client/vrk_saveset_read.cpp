// Reads of a local saveset that is a regular file: taken from the file in
// large blocks and handed out in the small pieces the record reader asks for.
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "client/vrk_io.h"

namespace {

// Large enough that the pieces of many small data sets come from one read,
// small enough to keep the peak memory of a restore where it was.
constexpr size_t kReadBlock = 128 * 1024;

struct ReadAhead {
  int fd = -1;
  bool regular = false;
  std::vector<char> buf;
  size_t at = 0, end = 0;
};

ReadAhead gAhead;

}  // namespace

ssize_t vrk_saveset_read(int iFildes, void *cpBuf, size_t sizeNbyte, int iTimeout) {
  ReadAhead &a = gAhead;
  if (a.fd != iFildes) {
    // A pipe or device is read as it comes: waiting for a whole block of it
    // could wait for bytes that are not needed yet.
    struct stat st;
    a = ReadAhead();
    a.fd = iFildes;
    a.regular = fstat(iFildes, &st) == 0 && S_ISREG(st.st_mode);
  }
  if (!a.regular) return vrk_read(iFildes, cpBuf, sizeNbyte, iTimeout);
  char *out = static_cast<char *>(cpBuf);
  size_t done = 0;
  while (done < sizeNbyte) {
    if (a.at < a.end) {
      size_t k = a.end - a.at < sizeNbyte - done ? a.end - a.at : sizeNbyte - done;
      memcpy(out + done, a.buf.data() + a.at, k);
      a.at += k;
      done += k;
      continue;
    }
    size_t left = sizeNbyte - done;
    if (left >= kReadBlock) {
      // A large piece goes straight into the caller's buffer.
      ssize_t n = vrk_read(iFildes, out + done, left, iTimeout);
      if (n < 0) return -1;
      done += (size_t)n;
      break;
    }
    if (a.buf.empty()) a.buf.resize(kReadBlock);
    ssize_t n = vrk_read(iFildes, a.buf.data(), kReadBlock, iTimeout);
    if (n < 0) return -1;
    a.at = 0;
    a.end = (size_t)n;
    if (n == 0) break;
  }
  return (ssize_t)done;
}

void vrk_saveset_read_forget() { gAhead = ReadAhead(); }
