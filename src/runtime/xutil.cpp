// The portable string layer: empty tests, keyword matching, token iteration,
// trimming and the formatted print that reports a cut.
#include "runtime/xutil.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/vrk_log.h"

BOOL x_IsEmptyString(const char *cpString) {
  if (cpString == nullptr) return TRUE;
  for (const char *p = cpString; *p; p++)
    if (*p != ' ') return FALSE;
  return TRUE;
}

BOOL x_IsEmptywString(const wchar_t *cpString) {
  if (cpString == nullptr) return TRUE;
  for (const wchar_t *p = cpString; *p; p++)
    if (*p != L' ') return FALSE;
  return TRUE;
}

namespace {

template <typename C>
C ascii_upper(C c) {
  return (c >= 'a' && c <= 'z') ? static_cast<C>(c - 'a' + 'A') : c;
}

template <typename C>
bool is_end_char(const C *ends, C c) {
  if (ends == nullptr || c == 0) return false;
  for (const C *p = ends; *p; p++)
    if (*p == c) return true;
  return false;
}

template <typename C>
size_t str_len(const C *s) {
  size_t n = 0;
  while (s[n]) n++;
  return n;
}

template <typename C>
BOOL match_keyword(const C *s, const C *k, int abbrev, const C *ends, BOOL caseSensitive) {
  size_t klen = str_len(k);
  size_t least = (abbrev > 0 && static_cast<size_t>(abbrev) <= klen) ? static_cast<size_t>(abbrev)
                                                                      : klen;
  size_t i = 0;
  for (;; i++) {
    C sc = s[i];
    C kc = k[i];
    if (!caseSensitive) {
      sc = ascii_upper(sc);
      kc = ascii_upper(kc);
    }
    if (is_end_char(ends, sc)) break;
    if (sc == 0) break;
    // Past the keyword's end kc is its terminator, so a longer string fails
    // here before anything beyond the keyword is read.
    if (sc != kc) return FALSE;
  }
  return i >= least ? TRUE : FALSE;
}

}  // namespace

BOOL x_MatchKeyword(const char *cpString, const char *cpKeyword, int iAbbreviationLen,
                    const char *cpEndChars, BOOL bCaseSensitive) {
  if (x_IsEmptyString(cpString) || x_IsEmptyString(cpKeyword)) return FALSE;
  return match_keyword(cpString, cpKeyword, iAbbreviationLen, cpEndChars, bCaseSensitive);
}

BOOL x_MatchwKeyword(const wchar_t *cpString, const wchar_t *cpKeyword, int iAbbreviationLen,
                     const wchar_t *cpEndChars, BOOL bCaseSensitive) {
  if (x_IsEmptywString(cpString) || x_IsEmptywString(cpKeyword)) return FALSE;
  return match_keyword(cpString, cpKeyword, iAbbreviationLen, cpEndChars, bCaseSensitive);
}

namespace {

bool is_delim(const char *delims, char c) { return c != '\0' && strchr(delims, c) != nullptr; }

char *end_iteration(void **handle, unsigned int *itemNo) {
  STRU_PSTR_HANDLE *h = static_cast<STRU_PSTR_HANDLE *>(*handle);
  if (h != nullptr) {
    free(h->cpPSTRItem);
    h->iPSTRID = 0;
    free(h);
  }
  *handle = nullptr;
  if (itemNo) *itemNo = 0;
  return nullptr;
}

}  // namespace

char *x_ParseString(void **IO_vppPSTRHandle, char *I_cpString, char *I_cpDelimiters,
                    unsigned long I_ulOptions, unsigned int *O_uipItemNo) {
  if (IO_vppPSTRHandle == nullptr) return nullptr;
  if (I_cpDelimiters == nullptr && I_cpString != nullptr) return nullptr;
  bool backward = (I_ulOptions & PSTR_BACKWARD) != 0;
  STRU_PSTR_HANDLE *h = static_cast<STRU_PSTR_HANDLE *>(*IO_vppPSTRHandle);
  if (h == nullptr || h->iPSTRID != PSTR_HANDLE_ID) {
    h = static_cast<STRU_PSTR_HANDLE *>(calloc(1, sizeof(STRU_PSTR_HANDLE)));
    if (h == nullptr) return end_iteration(IO_vppPSTRHandle, O_uipItemNo);
    h->iPSTRID = PSTR_HANDLE_ID;
    h->uiPSTRItemNo = 1;
    // Backward starts on the last character; an empty string has none, so
    // the position lies before the start at once.
    if (I_cpString != nullptr) {
      size_t len = strlen(I_cpString);
      h->cpPSTROffset = backward ? (len ? I_cpString + len - 1 : nullptr) : I_cpString;
    }
    *IO_vppPSTRHandle = h;
  }
  free(h->cpPSTRItem);
  h->cpPSTRItem = nullptr;
  if (I_cpString == nullptr || h->cpPSTROffset == nullptr)
    return end_iteration(IO_vppPSTRHandle, O_uipItemNo);

  // Positions as offsets into the string; -1 is "before the start".
  ptrdiff_t pos = h->cpPSTROffset - I_cpString;
  ptrdiff_t len = static_cast<ptrdiff_t>(strlen(I_cpString));
  if (pos < 0 || pos > len) return end_iteration(IO_vppPSTRHandle, O_uipItemNo);
  if (backward) {
    while (pos >= 0 && is_delim(I_cpDelimiters, I_cpString[pos])) pos--;
  } else {
    while (pos < len && is_delim(I_cpDelimiters, I_cpString[pos])) pos++;
  }
  if (pos < 0 || pos >= len) return end_iteration(IO_vppPSTRHandle, O_uipItemNo);

  ptrdiff_t first, last;  // the item's first and last character
  if (backward) {
    last = pos;
    while (pos >= 0 && !is_delim(I_cpDelimiters, I_cpString[pos])) pos--;
    first = pos + 1;
  } else {
    first = pos;
    while (pos < len && !is_delim(I_cpDelimiters, I_cpString[pos])) pos++;
    last = pos - 1;
  }
  size_t n = static_cast<size_t>(last - first + 1);
  char *item = static_cast<char *>(malloc(n + 1));
  if (item == nullptr) return end_iteration(IO_vppPSTRHandle, O_uipItemNo);
  memcpy(item, I_cpString + first, n);
  item[n] = '\0';
  h->cpPSTRItem = item;
  h->cpPSTROffset = pos >= 0 ? I_cpString + pos : nullptr;
  if (O_uipItemNo) *O_uipItemNo = h->uiPSTRItemNo;
  h->uiPSTRItemNo++;
  return item;
}

char *x_LTrim(char *cpString, const char *cpTrimChars) {
  if (cpString == nullptr || *cpString == '\0') return nullptr;
  const char *trim = cpTrimChars ? cpTrimChars : " ";
  size_t skip = strspn(cpString, trim);
  if (skip > 0) memmove(cpString, cpString + skip, strlen(cpString + skip) + 1);
  return cpString;
}

char *x_RTrim(char *cpString, const char *cpTrimChars) {
  if (cpString == nullptr || *cpString == '\0') return nullptr;
  const char *trim = cpTrimChars ? cpTrimChars : " ";
  size_t len = strlen(cpString);
  while (len > 0 && strchr(trim, cpString[len - 1]) != nullptr) len--;
  cpString[len] = '\0';
  return cpString;
}

char *x_AllTrim(char *cpString, const char *cpTrimChars) {
  x_LTrim(cpString, cpTrimChars);
  x_RTrim(cpString, cpTrimChars);
  return cpString;
}

int x_Snprintf(char *cpString, size_t iSize, const char *cpFmt, ...) {
  trace("%l2 x_Snprintf: Size %d", static_cast<int>(iSize));
  va_list args;
  va_start(args, cpFmt);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int rc = vsnprintf(cpString, iSize, cpFmt, args);
#pragma GCC diagnostic pop
  va_end(args);
  trace("%l2 x_Snprintf: vsnprintf returned %d: [%s]", rc,
        (iSize > 0 && cpString != nullptr) ? cpString : "");
  if (rc >= 0 && static_cast<size_t>(rc) < iSize) return 1;
  if (rc < 0)
    trace("%l0 x_Snprintf: Error vsnprintf failed with return %d (%d size) (encoding)", rc,
          static_cast<int>(iSize));
  else
    trace("%l0 x_Snprintf: Error vsnprintf truncated %d >= %d size", rc, static_cast<int>(iSize));
  return 0;
}
