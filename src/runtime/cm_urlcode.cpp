// URL coding of the string toolkit: cm_url_encode and cm_url_decode with their
// hex digit conversions.
#include "runtime/cm_urlcode.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

namespace {

char to_hex(char code) { return "0123456789abcdef"[code & 15]; }

// A decimal digit gives its value, anything else its offset from 'a' plus 10
// (so non-hex characters give arbitrary nibbles, as callers have always seen).
char from_hex(char ch) {
  return isdigit((unsigned char)ch) ? (char)(ch - '0')
                                    : (char)(tolower((unsigned char)ch) - 'a' + 10);
}

bool is_ascii_alnum(unsigned char in) {
  return (in >= 'A' && in <= 'Z') || (in >= 'a' && in <= 'z') || (in >= '0' && in <= '9');
}

}  // namespace

char *cm_url_encode(char *str) {
  if (str == nullptr) return nullptr;
  size_t len = strlen(str);
  char *buf = static_cast<char *>(malloc(3 * len + 1));
  if (buf == nullptr) return nullptr;
  char *out = buf;
  for (const char *p = str; *p; ++p) {
    unsigned char c = (unsigned char)*p;
    if (is_ascii_alnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      *out++ = (char)c;
    } else if (c == ' ') {
      *out++ = '+';
    } else {
      *out++ = '%';
      *out++ = to_hex((char)(c >> 4));
      *out++ = to_hex((char)(c & 15));
    }
  }
  *out = '\0';
  return buf;
}

char *cm_url_decode(char *str) {
  if (str == nullptr) return nullptr;
  size_t len = strlen(str);
  char *buf = static_cast<char *>(malloc(len + 1));
  if (buf == nullptr) return nullptr;
  char *out = buf;
  for (const char *p = str; *p; ++p) {
    if (*p == '%') {
      if (p[1] != '\0' && p[2] != '\0') {
        *out++ = (char)((unsigned char)(from_hex(p[1]) << 4) | (unsigned char)(from_hex(p[2]) & 15));
        p += 2;
      } else if (p[1] != '\0') {
        // A "%" with one character behind it is dropped; the character stays.
        *out++ = p[1];
        ++p;
      }
    } else if (*p == '+') {
      *out++ = ' ';
    } else {
      *out++ = *p;
    }
  }
  *out = '\0';
  return buf;
}
