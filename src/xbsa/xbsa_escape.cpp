// Escaping of the storage node's text before it reaches standard error, the
// job log or the trace file: control characters and broken UTF-8 as \xHH.
#include "xbsa/xbsa_escape.h"

#include <string.h>

namespace {

void put_hex(std::string *out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('\\');
  out->push_back('x');
  out->push_back(kHex[c >> 4]);
  out->push_back(kHex[c & 15]);
}

// Length of the valid UTF-8 sequence of a printable character at p (lead
// byte 0x80 or above), or 0 when the bytes there must be escaped.
size_t utf8_printable(const unsigned char *p, size_t left) {
  unsigned char c = p[0];
  size_t n;
  unsigned long cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (size_t i = 1; i < n; i++) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  // Over-long forms, surrogates, beyond U+10FFFF and the C1 controls.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  if (cp >= 0x80 && cp <= 0x9F) return 0;
  return n;
}

}  // namespace

std::string xbsa_escape_text(const char *cpText, size_t uiLen) {
  std::string out;
  if (!cpText) return out;
  out.reserve(uiLen);
  const unsigned char *p = (const unsigned char *)cpText;
  size_t i = 0;
  while (i < uiLen) {
    unsigned char c = p[i];
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F) {
        put_hex(&out, c);
      } else {
        out.push_back((char)c);
      }
      i++;
      continue;
    }
    size_t n = utf8_printable(p + i, uiLen - i);
    if (n == 0) {
      put_hex(&out, c);
      i++;
    } else {
      out.append(cpText + i, n);
      i += n;
    }
  }
  return out;
}

std::string xbsa_escape_text(const char *cpText) { return xbsa_escape_text(cpText, cpText ? strlen(cpText) : 0); }
