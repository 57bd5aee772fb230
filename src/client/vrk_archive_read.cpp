// Archive reads over the data gate with a give-back buffer, so that bytes
// read ahead (a first entry that is not SSET) are read again by the caller.
#include <string.h>

#include <vector>

#include "client/vrk_archive.h"
#include "client/vrk_global.h"
#include "client/vrk_io.h"

namespace {

std::vector<char> &given_back() {
  static std::vector<char> buffer;
  return buffer;
}

}  // namespace

ssize_t vrk_archive_read(void *cpBuf, size_t sizeNbyte) {
  if (sizeNbyte == 0) return 0;
  std::vector<char> &back = given_back();
  if (!back.empty()) {
    size_t n = sizeNbyte < back.size() ? sizeNbyte : back.size();
    memcpy(cpBuf, back.data(), n);
    back.erase(back.begin(), back.begin() + (std::ptrdiff_t)n);
    if (back.empty()) std::vector<char>().swap(back);
    return (ssize_t)n;
  }
  return vrk_bsa_read(cpBuf, sizeNbyte, spGlobal->iDataWait);
}

size_t vrk_archive_read_full(void *cpBuf, size_t sizeNbyte) {
  size_t done = 0;
  char *p = static_cast<char *>(cpBuf);
  while (done < sizeNbyte) {
    ssize_t n = vrk_archive_read(p + done, sizeNbyte - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  return done;
}

void vrk_archive_unread(const void *cpBuf, size_t sizeNbyte) {
  if (sizeNbyte == 0) return;
  std::vector<char> &back = given_back();
  const char *p = static_cast<const char *>(cpBuf);
  back.insert(back.begin(), p, p + sizeNbyte);
}

void vrk_archive_reset(void) { std::vector<char>().swap(given_back()); }
