// String and keyword helpers of the runtime: bounded copy and concatenation,
// replacement, splitting, case, characters, paths, numbers and URL coding.
#ifndef VRK_RUNTIME_STRLIB_H
#define VRK_RUNTIME_STRLIB_H

#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include "runtime/LL.h"

// glibc 2.36 has no strlcpy/strlcat; a libc that has them (glibc 2.38 on)
// declares them in <string.h> and we use its own, which share the BSD
// semantics.
#if !(defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 38)))
#define VRK_OWN_STRLCPY 1
extern "C" size_t strlcpy(char *dst, const char *src, size_t siz);
extern "C" size_t strlcat(char *dst, const char *src, size_t siz);
#endif

// Copies min(size-1, wcslen(src)) wide characters and terminates; returns the
// number copied (size 0 copies nothing and returns 0).
size_t wcslcpy(wchar_t *dst, const wchar_t *src, size_t size);

// ---- replacement ----------------------------------------------------------
typedef char CHAR_TYPE;

typedef enum STRREPLCAE_ERROR {
  STRREPLACE_ERROR_OK = 0,
  STRREPLCAE_ERROR_PATTERN_NOT_FOUND = 1,
  STRREPLCAE_ERROR_CANT_ALLOCATE_MEMORY = 2,
  STRREPLACE_ERROR_INCORRECT_PARAM = 3,
  STRREPLACE_ERROR_BUFFER_TOO_SMALL = 4,
  STRREPLACE_ERROR_NOT_IMPLEMENTED = 5
} STRREPLCAE_ERROR;

// MaxDestStrLen is the greatest length the text may reach: the buffer holds
// MaxDestStrLen+1 bytes. An empty Pattern is refused as an incorrect param.
STRREPLCAE_ERROR strreplace(CHAR_TYPE *DestStr, unsigned long MaxDestStrLen,
                            const CHAR_TYPE *Pattern, const CHAR_TYPE *Replacement);
STRREPLCAE_ERROR strreplaceex(CHAR_TYPE *szSource, unsigned long uiLength,
                              const CHAR_TYPE *szPattern, const CHAR_TYPE *szReplace,
                              CHAR_TYPE *szError, unsigned int uiErrLength);
// Replaces every occurrence; a Replacement that contains Pattern is refused
// (it would find the pattern again forever) as an incorrect param.
STRREPLCAE_ERROR strreplace_all(CHAR_TYPE *DestStr, unsigned long MaxDestStrLen,
                                const CHAR_TYPE *Pattern, const CHAR_TYPE *Replacement);

// ---- splitting ------------------------------------------------------------
// Pieces between occurrences of Delim in a new NULL-terminated array; returns
// the count, -1 for a NULL argument, an empty Delim or no memory.
int cm_split(char *Input, char *Delim, char ***List);
void FreeSplitList(char **List);

// ---- case and characters (in place) ---------------------------------------
char *lowercase(char *arg);
char *uppercase(char *arg);
char *strupr(char *string);
char *squeeze(char *szString, char cChar);
void remove_char(char *s, char chr);
char *szDelEnclosingChars(char *cpString, char cChar);
char *szChar2EscapeChar(char *szString, char cChar, int iStringLen);
char *szPath2Dos(char *cpX);
char *szPath2Unix(char *cpX);
wchar_t *szwPath2Dos(wchar_t *cpX);
wchar_t *szwPath2Unix(wchar_t *cpX);

// ---- numbers to text ------------------------------------------------------
// Both return their own static 256-byte buffer, overwritten by the next call.
char *longtoasc(long n);
char *intoas(long n);
char *szHumanReadable(double dSize, char *pszOutput, int iSize);

// ---- URL coding (new buffers the caller frees; NULL when out of memory) ----
char *cm_url_encode(char *str);
char *cm_url_decode(char *str);
char cm_to_hex(char code);
char cm_from_hex(char ch);
int cm_isalnum(unsigned char in);

// ---- lists ----------------------------------------------------------------
// Appends a copy of each char* argument up to a NULL argument to the list.
void InsArgvLL(t_LL LL_List, ...);

#endif
