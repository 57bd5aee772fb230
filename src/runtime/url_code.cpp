// URL encoding and decoding into new buffers, and the hexadecimal digit and
// ASCII alphanumeric helpers they use.
#include <ctype.h>
#include <stdlib.h>

#include "runtime/strlib.h"

char cm_to_hex(char code) {
  static const char hex[] = "0123456789abcdef";
  return hex[code & 15];
}

char cm_from_hex(char ch) {
  if (ch >= '0' && ch <= '9') return static_cast<char>(ch - '0');
  return static_cast<char>(tolower(static_cast<unsigned char>(ch)) - 'a' + 10);
}

int cm_isalnum(unsigned char in) {
  return (in >= 'A' && in <= 'Z') || (in >= 'a' && in <= 'z') || (in >= '0' && in <= '9');
}

char *cm_url_encode(char *str) {
  size_t len = strlen(str);
  char *buf = static_cast<char *>(malloc(3 * len + 1));
  if (buf == nullptr) return nullptr;
  char *w = buf;
  for (const unsigned char *r = reinterpret_cast<const unsigned char *>(str); *r; r++) {
    if (cm_isalnum(*r) || *r == '-' || *r == '_' || *r == '.' || *r == '~') {
      *w++ = static_cast<char>(*r);
    } else if (*r == ' ') {
      *w++ = '+';
    } else {
      *w++ = '%';
      *w++ = cm_to_hex(static_cast<char>(*r >> 4));
      *w++ = cm_to_hex(static_cast<char>(*r & 15));
    }
  }
  *w = '\0';
  return buf;
}

char *cm_url_decode(char *str) {
  size_t len = strlen(str);
  char *buf = static_cast<char *>(malloc(len + 1));
  if (buf == nullptr) return nullptr;
  char *w = buf;
  const char *r = str;
  while (*r) {
    if (*r == '%') {
      if (r[1] && r[2]) {
        unsigned hi = static_cast<unsigned char>(cm_from_hex(r[1])) & 15u;
        unsigned lo = static_cast<unsigned char>(cm_from_hex(r[2])) & 15u;
        *w++ = static_cast<char>((hi << 4) | lo);
        r += 3;
      } else {
        // Fewer than two characters follow: the '%' is dropped and the next
        // character, if any, is copied as it is.
        r++;
        if (*r) *w++ = *r++;
      }
    } else if (*r == '+') {
      *w++ = ' ';
      r++;
    } else {
      *w++ = *r++;
    }
  }
  *w = '\0';
  return buf;
}
