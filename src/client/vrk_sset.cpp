// The saveset key entry "SSET" at the start of an encrypted archive: the
// password enciphered with the saveset name, written and read back.
#include <errno.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "client/vrk_archive.h"
#include "client/vrk_bf.h"
#include "client/vrk_global.h"
#include "client/vrk_io.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

const char kSsetName[] = "SSET";  // with its zero: 5 bytes on the medium
const size_t kSsetNameSize = sizeof(kSsetName);
// Both texts of the entry live in buffers of this size, zero-filled.
const size_t kTextBuf = VRK_SSET_PASSWORD_MAX + 1;
// Bytes dumped after a damaged entry.
const size_t kDumpBytes = 112;

// The entry could not be made: the item failure messages of the archive.
int sset_not_made(const char *cpWhy) {
  if (spGlobal->iLogLevel > 1) vrk_log(3008, kSsetName);
  vrk_log(2011, cpWhy);
  spGlobal->sVRKObject.ulNotSaved++;
  if (spGlobal->iLogLevel > 0) vrk_log(3109, kSsetName);
  return -1;
}

bool write_all(const void *cpBuf, size_t n) {
  if (n == 0) return true;
  return vrk_bsa_write(cpBuf, n, spGlobal->iDataWait) == (ssize_t)n;
}

bool write_zeros(int n) {
  static const char zeros[4] = {0, 0, 0, 0};
  return write_all(zeros, (size_t)n);
}

// Reads and discards n bytes; false when they are not all there.
bool skip(size_t n) {
  char buf[4];
  while (n > 0) {
    size_t want = n < sizeof(buf) ? n : sizeof(buf);
    if (vrk_archive_read_full(buf, want) != want) return false;
    n -= want;
  }
  return true;
}

// Dumps what was read of a damaged entry and what follows, kDumpBytes in all.
void dump_following(const char *cpRead, size_t nRead) {
  std::vector<char> buf(kDumpBytes);
  size_t n = nRead < kDumpBytes ? nRead : kDumpBytes;
  if (n > 0) memcpy(buf.data(), cpRead, n);
  n += vrk_archive_read_full(buf.data() + n, kDumpBytes - n);
  if (n > 0) vrk_archive_dump(buf.data(), n);
}

}  // namespace

int vrk_write_sset(s_vrk_cpio_header *spItemHeader) {
  if (spItemHeader == nullptr) return -1;
  _sVRKGlobal *g = spGlobal;
  const char *saveset = g->sSMS.cpSaveset ? g->sSMS.cpSaveset : "";
  const char *password = g->sVRKObject.szEnDecrPassword[0] != '\0' ? g->sVRKObject.szEnDecrPassword : saveset;
  size_t pwLen = strnlen(password, sizeof(g->sVRKObject.szEnDecrPassword));
  if (pwLen > VRK_SSET_PASSWORD_MAX) return sset_not_made("encryption password longer than 155 characters");
  // Without header texts no reader could find the entry again.
  if (g->eHdrFmt == HDR_RAW) return sset_not_made("no SSET entry in an archive without headers");

  char szPassword[kTextBuf] = {0};
  char szSaveset[kTextBuf] = {0};
  memcpy(szPassword, password, pwLen);
  strlcpy(szSaveset, saveset, sizeof(szSaveset));
  char szCipher[kTextBuf] = {0};
  unsigned long ulCipherLen = 0;
  BOOL bInit = 0;
  int rc = vrk_encrypt(szCipher, &ulCipherLen, szPassword, VRK_SSET_PASSWORD_MAX, VRK_SSET_CIPHER_NID,
                       &bInit, szSaveset);
  memset(szPassword, 0, sizeof(szPassword));
  if (rc != 0 || ulCipherLen > sizeof(szCipher)) {
    vrk_log(1151);
    return -1;
  }
  // The ciphertext replaces the clear password, zero-filled behind it.
  memset(g->sVRKObject.szEnDecrPassword, 0, sizeof(g->sVRKObject.szEnDecrPassword));
  memcpy(g->sVRKObject.szEnDecrPassword, szCipher, ulCipherLen);

  s_vrk_cpio_header *h = spItemHeader;
  memset(h, 0, sizeof(*h));
  h->c_magic = VRK_MAGIC_OWN_ENC_2;
  h->c_filesize_low = (uint32_t)ulCipherLen;
  strlcpy(h->c_name, kSsetName, sizeof(h->c_name));
  h->c_namesize = (uint32_t)kSsetNameSize;
  if (g->iLogLevel > 2) trace(" Making SSET header...");
  char szHeader[VRK_HDR_BUFSIZE];
  char szError[VRK_HDR_ERROR_SIZE] = {0};
  int iHeaderLen = 0;
  int n = vrk_make_header(h, szHeader, &iHeaderLen, szError);
  if (n <= 0) return sset_not_made(szError);

  // Header text without its zero, then the name with its zero; c_magic now
  // holds the magic that was written, which decides the padding.
  std::string entry(szHeader, (size_t)n);
  entry.append(kSsetName, kSsetNameSize);
  if (!write_all(entry.data(), entry.size()) || !write_zeros(vrk_pad(entry.size(), h->c_magic))) {
    if (g->iLogLevel > 0) vrk_log(3109, kSsetName);
    return -1;
  }
  if (!write_all(szCipher, ulCipherLen)) return -1;
  if (g->iLogLevel > 2) trace("Padding archive.");
  if (!write_zeros(vrk_pad(ulCipherLen, h->c_magic))) {
    if (g->iLogLevel > 0) vrk_log(3109, g->sVRKObject.szItem);
    return -1;
  }
  return 0;
}

int vrk_read_sset(int iHeaderLen, char *cpHeader, char *cpSSETFileData, size_t sizeSSETFileData) {
  if (cpHeader == nullptr || cpSSETFileData == nullptr || iHeaderLen < 0 ||
      iHeaderLen > VRK_HDR_BUFSIZE - 1 - VRK_MAGIC_LEN)
    return -1;
  size_t want = (size_t)iHeaderLen;
  errno = 0;
  size_t got = vrk_archive_read_full(cpHeader + VRK_MAGIC_LEN, want);
  if (got < want) {
    vrk_log(2052, strerror(errno), (int)got, (int)want);
    return -1;
  }
  cpHeader[VRK_MAGIC_LEN + want] = '\0';

  std::unique_ptr<s_vrk_cpio_header> h(new s_vrk_cpio_header());
  char szError[VRK_HDR_ERROR_SIZE] = {0};
  if (vrk_get_header(cpHeader, h.get(), szError) != 0) {
    vrk_log(2051, szError);
    dump_following(nullptr, 0);
    return -1;
  }
  size_t nameSize = h->c_namesize;
  if (nameSize == 0 || nameSize >= sizeof(h->c_name)) {
    snprintf(szError, sizeof(szError), "name size %zu out of range", nameSize);
    vrk_log(2051, szError);
    dump_following(nullptr, 0);
    return -1;
  }
  errno = 0;
  got = vrk_archive_read_full(h->c_name, nameSize);
  if (got < nameSize) {
    vrk_log(2052, strerror(errno), (int)got, (int)nameSize);
    dump_following(h->c_name, got);
    return -1;
  }
  h->c_name[nameSize] = '\0';

  if (nameSize != kSsetNameSize || memcmp(h->c_name, kSsetName, kSsetNameSize) != 0) {
    trace(" The first file in archive is not SSET file. Continuing ...");
    // Given back in reading order: header rest, then the name.
    vrk_archive_unread(h->c_name, nameSize);
    vrk_archive_unread(cpHeader + VRK_MAGIC_LEN, want);
    return 1;
  }
  trace(" The SSET file found at the beginning of archive.");
  errno = 0;
  if (!skip((size_t)vrk_pad(VRK_MAGIC_LEN + want + nameSize, h->c_magic))) {
    vrk_log(1030, strerror(errno));
    if (spGlobal->iLogLevel > 0) vrk_log(3109, kSsetName);
    return -1;
  }
  size_t bodySize = h->c_filesize_low;
  if (h->c_filesize_high != 0 || bodySize > sizeSSETFileData) {
    snprintf(szError, sizeof(szError), "SSET data of %llu bytes does not fit a buffer of %zu bytes",
             ((unsigned long long)h->c_filesize_high << 32) | h->c_filesize_low, sizeSSETFileData);
    vrk_log(2051, szError);
    return -1;
  }
  errno = 0;
  got = vrk_archive_read_full(cpSSETFileData, bodySize);
  if (got < bodySize) {
    vrk_log(1027, strerror(errno));
    return -1;
  }
  errno = 0;
  if (!skip((size_t)vrk_pad(bodySize, h->c_magic))) {
    vrk_log(1030, strerror(errno));
    if (spGlobal->iLogLevel > 0) vrk_log(3109, h->c_name);
    return -1;
  }
  memset(cpSSETFileData + bodySize, 0, sizeSSETFileData - bodySize);
  return 0;
}
