// Pattern replacement in a caller's bounded buffer: the first occurrence,
// every occurrence, and the variant that also gives the error text.
#include <stdlib.h>

#include <string>

#include "runtime/strlib.h"

STRREPLCAE_ERROR strreplace(CHAR_TYPE *DestStr, unsigned long MaxDestStrLen,
                            const CHAR_TYPE *Pattern, const CHAR_TYPE *Replacement) {
  if (DestStr == nullptr || Pattern == nullptr || Replacement == nullptr)
    return STRREPLACE_ERROR_INCORRECT_PARAM;
  // An empty pattern "occurs" everywhere; nothing sensible can be replaced.
  if (*Pattern == '\0') return STRREPLACE_ERROR_INCORRECT_PARAM;
  size_t dlen = strlen(DestStr);
  size_t plen = strlen(Pattern);
  size_t rlen = strlen(Replacement);
  if (dlen > MaxDestStrLen) return STRREPLACE_ERROR_BUFFER_TOO_SMALL;
  size_t would = dlen + rlen >= plen ? dlen + rlen - plen : 0;
  if (would > MaxDestStrLen) return STRREPLACE_ERROR_BUFFER_TOO_SMALL;
  char *work = static_cast<char *>(malloc(MaxDestStrLen + 4));
  if (work == nullptr) return STRREPLCAE_ERROR_CANT_ALLOCATE_MEMORY;
  memcpy(work, DestStr, dlen + 1);
  char *hit = strstr(work, Pattern);
  if (hit == nullptr) {
    free(work);
    return STRREPLCAE_ERROR_PATTERN_NOT_FOUND;
  }
  size_t before = static_cast<size_t>(hit - work);
  size_t after = dlen - before - plen;
  memcpy(DestStr + before, Replacement, rlen);
  memcpy(DestStr + before + rlen, work + before + plen, after);
  DestStr[before + rlen + after] = '\0';
  free(work);
  return STRREPLACE_ERROR_OK;
}

STRREPLCAE_ERROR strreplaceex(CHAR_TYPE *szSource, unsigned long uiLength,
                              const CHAR_TYPE *szPattern, const CHAR_TYPE *szReplace,
                              CHAR_TYPE *szError, unsigned int uiErrLength) {
  STRREPLCAE_ERROR rc = strreplace(szSource, uiLength, szPattern, szReplace);
  const char *text = nullptr;
  switch (rc) {
    case STRREPLCAE_ERROR_PATTERN_NOT_FOUND: text = "Pattern is not found"; break;
    case STRREPLCAE_ERROR_CANT_ALLOCATE_MEMORY: text = "Failed to allocated memory"; break;
    case STRREPLACE_ERROR_INCORRECT_PARAM: text = "Incorrect input parameters"; break;
    case STRREPLACE_ERROR_BUFFER_TOO_SMALL: text = "Buffer is too small"; break;
    case STRREPLACE_ERROR_NOT_IMPLEMENTED: text = "Function is not implmented"; break;
    default: break;
  }
  if (text != nullptr && szError != nullptr && uiErrLength > 0) {
    // At most uiErrLength bytes; terminated only when the text fits.
    size_t n = strlen(text);
    if (n < uiErrLength) {
      memcpy(szError, text, n + 1);
    } else {
      memcpy(szError, text, uiErrLength);
    }
  }
  return rc;
}

STRREPLCAE_ERROR strreplace_all(CHAR_TYPE *DestStr, unsigned long MaxDestStrLen,
                                const CHAR_TYPE *Pattern, const CHAR_TYPE *Replacement) {
  if (DestStr == nullptr || Pattern == nullptr || Replacement == nullptr || *Pattern == '\0')
    return STRREPLACE_ERROR_INCORRECT_PARAM;
  // Each round searches from the start again: a replacement equal to the
  // pattern would be found again without end, and the text never grows to
  // stop it. One that holds the pattern grows the text until it is too small.
  if (strcmp(Replacement, Pattern) == 0) return STRREPLACE_ERROR_INCORRECT_PARAM;
  // A failure part way leaves the caller's text as it was, not half done.
  std::string original(DestStr);
  for (;;) {
    STRREPLCAE_ERROR rc = strreplace(DestStr, MaxDestStrLen, Pattern, Replacement);
    if (rc == STRREPLACE_ERROR_OK) continue;
    if (rc == STRREPLCAE_ERROR_PATTERN_NOT_FOUND) return STRREPLACE_ERROR_OK;
    memcpy(DestStr, original.c_str(), original.size() + 1);
    return rc;
  }
}
