// The field tokenizer with its one static state, and the field and substring
// extraction built on it.
#include <string.h>

#include <string>

#include "runtime/cm_kernel.h"
#include "runtime/vrk_log.h"

namespace {

char szCopyOfInstring[STRTOK_BUF];
int iStrlenOfInstring = 0;
char *pszReturnString = nullptr;

}  // namespace

char *cm_strtok(const char *cpInstring, char cDelim) {
  if (cpInstring != nullptr) {
    size_t len = strlen(cpInstring);
    const size_t max = STRTOK_BUF - 1;
    if (len > max) {
      trace("%l0 string shortend to %d chars bcs. of string overflow: strlen(%s) > %d",
            static_cast<int>(max), cpInstring, static_cast<int>(max));
      len = max;
    }
    memcpy(szCopyOfInstring, cpInstring, len);
    szCopyOfInstring[len] = '\0';
    iStrlenOfInstring = static_cast<int>(len);
    for (size_t i = 0; i < len; i++)
      if (szCopyOfInstring[i] == cDelim) szCopyOfInstring[i] = '\0';
    pszReturnString = szCopyOfInstring;
    return pszReturnString;
  }
  if (pszReturnString == nullptr) return nullptr;
  char *end = szCopyOfInstring + iStrlenOfInstring;
  // Once past the end the cursor stays there: further calls give NULL too.
  if (pszReturnString > end) return nullptr;
  while (pszReturnString < end && *pszReturnString != '\0') pszReturnString++;
  pszReturnString++;
  if (pszReturnString > end) return nullptr;
  return pszReturnString;
}

int str_elem(int iPos, char cDelimiter, const char *cpStr, char *cpElem) {
  cpElem[0] = '\0';
  if (cpStr == nullptr || cpStr[0] == '\0') return 0;
  if (cpStr[0] == cDelimiter && cpStr[1] == '\0') return 0;
  if (iPos < 0) return 0;
  if (iPos == 0 && strchr(cpStr, cDelimiter) == nullptr) {
    strcpy(cpElem, cpStr);
    return 1;
  }
  const char *src = cpStr[0] == cDelimiter ? cpStr + 1 : cpStr;
  // The fields are taken from a work copy of at most 767 characters, so no
  // field longer than that reaches the caller's buffer.
  std::string work(src, strnlen(src, STR_ELEM_WORK - 1));
  char *field = cm_strtok(work.c_str(), cDelimiter);
  for (int i = 0; i < iPos && field != nullptr; i++) field = cm_strtok(nullptr, cDelimiter);
  if (field == nullptr) return 0;
  strcpy(cpElem, field);
  return 1;
}

char *str_ext(int iPos, int iLen, const char *cpInstr) {
  static char szResult[STR_EXT_BUF];
  if (cpInstr == nullptr || iPos < 0 || iLen < 0 || iLen >= STR_EXT_BUF) return szResult;
  size_t len = strlen(cpInstr);
  if (static_cast<size_t>(iPos) >= len) return szResult;
  size_t n = len - static_cast<size_t>(iPos);
  if (n > static_cast<size_t>(iLen)) n = static_cast<size_t>(iLen);
  memcpy(szResult, cpInstr + iPos, n);
  szResult[n] = '\0';
  return szResult;
}
