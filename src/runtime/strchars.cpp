// In-place character helpers: case changes, squeezing and removing a
// character, enclosing characters, escaping and path separator conversion.
#include <ctype.h>
#include <stdlib.h>

#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

char *lowercase(char *arg) {
  for (char *p = arg; *p; p++) *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
  return arg;
}

char *uppercase(char *arg) {
  for (char *p = arg; *p; p++) *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
  return arg;
}

char *strupr(char *string) {
  for (char *p = string; *p; p++)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  return string;
}

char *squeeze(char *szString, char cChar) {
  char *w = szString;
  for (const char *r = szString; *r; r++) {
    if (*r == cChar && w > szString && w[-1] == cChar) continue;
    *w++ = *r;
  }
  *w = '\0';
  return szString;
}

void remove_char(char *s, char chr) {
  char *w = s;
  for (const char *r = s; *r; r++)
    if (*r != chr) *w++ = *r;
  *w = '\0';
}

char *szDelEnclosingChars(char *cpString, char cChar) {
  size_t len = strlen(cpString);
  // The empty string has no first and last character to look at.
  if (len == 0 || cpString[0] != cChar || cpString[len - 1] != cChar) return cpString;
  if (len == 1) {
    cpString[0] = '\0';
  } else {
    memmove(cpString, cpString + 1, len - 2);
    cpString[len - 2] = '\0';
  }
  trace("Enclosing char [%c] from [%s] deleted.", cChar, cpString);
  return cpString;
}

char *szChar2EscapeChar(char *szString, char cChar, int iStringLen) {
  if (iStringLen <= 0) return szString;
  char *work = static_cast<char *>(malloc(static_cast<size_t>(iStringLen)));
  if (work == nullptr) {
    trace("szChar2EscapeChar: malloc failed");
    return nullptr;
  }
  strlcpy(work, szString, static_cast<size_t>(iStringLen));
  size_t max = static_cast<size_t>(iStringLen) - 1;
  size_t w = 0;
  for (const char *r = work; *r && w < max; r++) {
    if (*r == cChar) {
      // A backslash is written only together with its character, so a cut
      // never leaves a lone trailing backslash.
      if (w + 2 > max) break;
      szString[w++] = '\\';
    }
    szString[w++] = *r;
  }
  szString[w] = '\0';
  free(work);
  return szString;
}

char *szPath2Dos(char *cpX) {
  for (char *p = cpX; *p; p++)
    if (*p == '/') *p = '\\';
  return cpX;
}

char *szPath2Unix(char *cpX) {
  for (char *p = cpX; *p; p++)
    if (*p == '\\') *p = '/';
  return cpX;
}

wchar_t *szwPath2Dos(wchar_t *cpX) {
  for (wchar_t *p = cpX; *p; p++)
    if (*p == L'/') *p = L'\\';
  return cpX;
}

wchar_t *szwPath2Unix(wchar_t *cpX) {
  for (wchar_t *p = cpX; *p; p++)
    if (*p == L'\\') *p = L'/';
  return cpX;
}
