// The portable string layer: empty tests, keyword matching with
// abbreviations, token iteration, trimming and a checked formatted print.
#ifndef VRK_RUNTIME_XUTIL_H
#define VRK_RUNTIME_XUTIL_H

#include <stddef.h>
#include <wchar.h>

#include "runtime/vrk_types.h"

// Iterator state of x_ParseString; the caller holds it as an opaque void*
// that is NULL before the first call.
#define PSTR_HANDLE_ID 23456
typedef struct STRU_PSTR_HANDLE {
  int iPSTRID;
  char *cpPSTRItem;
  char *cpPSTROffset;  // NULL while the position lies before the start
  unsigned int uiPSTRItemNo;
} STRU_PSTR_HANDLE;

// Bit 0 of x_ParseString's options: parse from the end backwards.
#define PSTR_BACKWARD 1UL

BOOL x_IsEmptyString(const char *cpString);
BOOL x_IsEmptywString(const wchar_t *cpString);
BOOL x_MatchKeyword(const char *cpString, const char *cpKeyword, int iAbbreviationLen,
                    const char *cpEndChars, BOOL bCaseSensitive);
BOOL x_MatchwKeyword(const wchar_t *cpString, const wchar_t *cpKeyword, int iAbbreviationLen,
                     const wchar_t *cpEndChars, BOOL bCaseSensitive);
char *x_ParseString(void **IO_vppPSTRHandle, char *I_cpString, char *I_cpDelimiters,
                    unsigned long I_ulOptions, unsigned int *O_uipItemNo);
char *x_LTrim(char *cpString, const char *cpTrimChars);
char *x_RTrim(char *cpString, const char *cpTrimChars);
char *x_AllTrim(char *cpString, const char *cpTrimChars);
// 1 when the formatted text fitted into iSize bytes, else 0 (traced).
int x_Snprintf(char *cpString, size_t iSize, const char *cpFmt, ...)
    __attribute__((format(printf, 3, 4)));

#endif
