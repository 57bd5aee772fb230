// UTF-8 helpers: conversion between the local character set and UTF-8
// (iconv), and comparisons of UTF-8 texts.
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <string.h>
#include <strings.h>
#include <wctype.h>

#include <string>

#include "sms/sms_state.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

// The C and POSIX locales count as UTF-8, as the engine treats them.
bool LocalIsUtf8() {
  const char *cs = nl_langinfo(CODESET);
  if (!cs || !*cs) return true;
  return strcasecmp(cs, "UTF-8") == 0 || strcasecmp(cs, "UTF8") == 0 || strcmp(cs, "ANSI_X3.4-1968") == 0;
}

bool ValidUtf8(const unsigned char *p, size_t n) {
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!len || i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

CCODE Convert(const char *from, const char *to, char *out, UINT32 *outLength, const char *in, UINT32 inLength,
              bool identity) {
  if (!outLength || (!in && inLength)) return NWSMUT_INVALID_PARAMETER;
  std::string result;
  if (identity) {
    if (!ValidUtf8(reinterpret_cast<const unsigned char *>(in), inLength)) return NWSMUT_CONVERSION_ERROR;
    result.assign(in, inLength);
  } else {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return NWSMUT_CONVERSION_ERROR;
    char *src = const_cast<char *>(in);
    size_t left = inLength;
    char buf[1024];
    while (left > 0) {
      char *dst = buf;
      size_t room = sizeof(buf);
      size_t r = iconv(cd, &src, &left, &dst, &room);
      result.append(buf, static_cast<size_t>(dst - buf));
      if (r == static_cast<size_t>(-1) && errno != E2BIG) {
        iconv_close(cd);
        return NWSMUT_CONVERSION_ERROR;
      }
    }
    iconv_close(cd);
  }
  if (!out) {
    *outLength = static_cast<UINT32>(result.size());
    return 0;
  }
  if (result.size() > *outLength) {
    *outLength = static_cast<UINT32>(result.size());
    return NWSMUT_BUFFER_OVERFLOW;
  }
  memcpy(out, result.data(), result.size());
  // Terminate when there is room, so a caller may treat it as a string.
  if (result.size() < *outLength) out[result.size()] = '\0';
  *outLength = static_cast<UINT32>(result.size());
  return 0;
}

// Decodes one code point; returns its byte length (0 at the end, 1 for a bad byte).
size_t Decode(const unsigned char *p, size_t left, UINT32 &cp) {
  if (!left) return 0;
  unsigned char c = p[0];
  size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (!len || len > left) {
    cp = c;
    return 1;
  }
  cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < len; ++k) {
    if ((p[k] & 0xC0) != 0x80) {
      cp = c;
      return 1;
    }
    cp = (cp << 6) | (p[k] & 0x3F);
  }
  return len;
}

}  // namespace

extern "C" CCODE SMloc2utf8(char *out, UINT32 *outLength, const char *in, UINT32 inLength, UINT32) {
  Call c("SMloc2utf8");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  bool same = LocalIsUtf8();
  return c.End(Convert(nl_langinfo(CODESET), "UTF-8", out, outLength, in, inLength, same));
}

extern "C" CCODE SMutf82loc(char *out, UINT32 *outLength, const char *in, UINT32 inLength, UINT32) {
  Call c("SMutf82loc");
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  bool same = LocalIsUtf8();
  return c.End(Convert("UTF-8", nl_langinfo(CODESET), out, outLength, in, inLength, same));
}

extern "C" char *SMutf8chr(const char *string, UINT32 codePoint) {
  if (!string) return nullptr;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(string);
  size_t left = strlen(string);
  while (left) {
    UINT32 cp;
    size_t len = Decode(p, left, cp);
    if (cp == codePoint) return const_cast<char *>(reinterpret_cast<const char *>(p));
    p += len;
    left -= len;
  }
  return codePoint == 0 ? const_cast<char *>(reinterpret_cast<const char *>(p)) : nullptr;
}

extern "C" int SMutf8cmp(const char *a, const char *b) {
  // Byte order of UTF-8 is code-point order.
  return strcmp(a ? a : "", b ? b : "");
}

extern "C" int SMutf8nicmp(const char *a, const char *b, UINT32 length) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(a ? a : "");
  const unsigned char *q = reinterpret_cast<const unsigned char *>(b ? b : "");
  size_t pl = strlen(reinterpret_cast<const char *>(p)), ql = strlen(reinterpret_cast<const char *>(q));
  size_t used = 0;
  while (used < length) {
    UINT32 x = 0, y = 0;
    size_t lx = Decode(p, pl, x), ly = Decode(q, ql, y);
    if (!lx || !ly) return lx ? 1 : ly ? -1 : 0;
    UINT32 fx = static_cast<UINT32>(towlower(static_cast<wint_t>(x)));
    UINT32 fy = static_cast<UINT32>(towlower(static_cast<wint_t>(y)));
    if (fx != fy) return fx < fy ? -1 : 1;
    p += lx;
    pl -= lx;
    q += ly;
    ql -= ly;
    used += lx;
  }
  return 0;
}
