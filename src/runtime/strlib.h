// String and keyword helpers of the runtime: bounded copy and concatenation,
// replacement, splitting, case, trimming and keyword matching.
#ifndef VRK_RUNTIME_STRLIB_H
#define VRK_RUNTIME_STRLIB_H

#include <stddef.h>
#include <string.h>

// glibc 2.36 has no strlcpy/strlcat; a libc that has them (glibc 2.38 on)
// declares them in <string.h> and we use its own, which share the BSD
// semantics.
#if !(defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 38)))
#define VRK_OWN_STRLCPY 1
extern "C" size_t strlcpy(char *dst, const char *src, size_t siz);
extern "C" size_t strlcat(char *dst, const char *src, size_t siz);
#endif

#endif
