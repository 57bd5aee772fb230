// String functions of the ini parser's unit: case copies, blank skipping and
// stripping, character and text substitution.
#include "runtime/ini_strings.h"

#include <ctype.h>
#include <string.h>

#include "runtime/vrk_log.h"

namespace {

const size_t kIniStrMax = 1024;

size_t bounded_copy(char *dst, const char *s) {
  size_t n = strnlen(s, kIniStrMax);
  memcpy(dst, s, n);
  dst[n] = '\0';
  return n;
}

bool is_white(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

char *strlwc(const char *s) {
  static char l[kIniStrMax + 1];
  if (s == nullptr) return nullptr;
  size_t n = bounded_copy(l, s);
  for (size_t i = 0; i < n; i++) l[i] = static_cast<char>(tolower(static_cast<unsigned char>(l[i])));
  return l;
}

char *strupc(const char *s) {
  static char l[kIniStrMax + 1];
  if (s == nullptr) return nullptr;
  size_t n = bounded_copy(l, s);
  for (size_t i = 0; i < n; i++) l[i] = static_cast<char>(toupper(static_cast<unsigned char>(l[i])));
  return l;
}

char *strskp(char *s) {
  if (s == nullptr) return nullptr;
  while (*s && is_white(*s)) s++;
  return s;
}

char *strcrop(const char *s) {
  static char l[kIniStrMax + 1];
  if (s == nullptr) return nullptr;
  size_t n = bounded_copy(l, s);
  while (n > 0 && is_white(l[n - 1])) n--;
  l[n] = '\0';
  return l;
}

char *strstrip(const char *s) {
  static char l[kIniStrMax + 1];
  if (s == nullptr) return nullptr;
  while (*s && is_white(*s)) s++;
  size_t n = bounded_copy(l, s);
  while (n > 0 && is_white(l[n - 1])) n--;
  l[n] = '\0';
  return l;
}

int strchrsubstitute(char *str, char c, char with, int maxlen) {
  if (str == nullptr) return 0;
  int i = 0;
  for (; i < maxlen && str[i]; i++)
    if (str[i] == c) str[i] = with;
  return i;
}

int strstrsubstitute(char *str, const char *pattern, const char *with) {
  if (str == nullptr || pattern == nullptr || with == nullptr) return -1;
  size_t plen = strlen(pattern);
  size_t wlen = strlen(with);
  if (plen == 0) {
    // An empty pattern would match at every place without moving on.
    trace("strstrsubstitute: Error empty pattern. Return unchanged string");
    return -1;
  }
  if (wlen > plen) {
    trace("strstrsubstitute: Error size of [%s] > size of [%s]. Return unchanged string", with,
          pattern);
    return -1;
  }
  // The text never grows, so the writer never overtakes the reader.
  int count = 0;
  char *r = str;
  char *w = str;
  while (*r) {
    if (strncmp(r, pattern, plen) == 0) {
      memmove(w, with, wlen);
      w += wlen;
      r += plen;
      count++;
    } else {
      *w++ = *r++;
    }
  }
  *w = '\0';
  return count;
}
