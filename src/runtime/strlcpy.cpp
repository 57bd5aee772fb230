// strlcpy and strlcat with BSD semantics, for a libc that lacks them: the
// result is the length the caller tried to create, so cut text is detectable.
#include "runtime/strlib.h"

#ifdef VRK_OWN_STRLCPY

extern "C" size_t strlcpy(char *dst, const char *src, size_t siz) {
  size_t len = strlen(src);
  if (siz > 0) {
    size_t n = len < siz - 1 ? len : siz - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
  }
  return len;
}

extern "C" size_t strlcat(char *dst, const char *src, size_t siz) {
  size_t dlen = strnlen(dst, siz);
  size_t slen = strlen(src);
  if (dlen == siz) return siz + slen;
  size_t room = siz - dlen - 1;
  size_t n = slen < room ? slen : room;
  memcpy(dst + dlen, src, n);
  dst[dlen + n] = '\0';
  return dlen + slen;
}

#endif
