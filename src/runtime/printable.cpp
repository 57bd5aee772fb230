// Text made safe for one log line: control characters written as "\xNN",
// the escaping of every message of the log and of the stand-in's notes.
#include "runtime/printable.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

bool is_control(unsigned char c, bool keepBreaks) {
  return (c < 0x20 && c != '\t' && !(keepBreaks && c == '\n')) || c == 0x7f;
}

// Whether any of the 8 bytes at p is below 0x20 or DEL, a word at a time
// (a borrow can only spread from a byte that is one).
bool has_control(const unsigned char *p) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  uint64_t x;
  memcpy(&x, p, sizeof x);
  const uint64_t below = (x - kOnes * 0x20) & ~x & kHigh;
  const uint64_t del = x ^ (kOnes * 0x7f);
  return (below | ((del - kOnes) & ~del & kHigh)) != 0;
}

}  // namespace

bool vrk_printable_append(const char *in, size_t n, char *out, size_t *pLen, size_t size, bool keepBreaks) {
  static const char kHex[] = "0123456789abcdef";
  const unsigned char *p = reinterpret_cast<const unsigned char *>(in);
  size_t o = *pLen, i = 0;
  for (;;) {
    // A run of bytes that stand for themselves goes over in one copy.
    size_t run = i;
    while (run + 8 <= n && !has_control(p + run)) run += 8;
    while (run < n && p[run] >= 0x20 && p[run] != 0x7f) ++run;
    const size_t room = o + 1 < size ? size - 1 - o : 0;
    const size_t take = std::min(run - i, room);
    memcpy(out + o, p + i, take);
    o += take;
    i += take;
    if (i < run) break;
    if (i == n) break;
    const unsigned char c = p[i];
    if (!is_control(c, keepBreaks)) {
      if (o + 1 >= size) break;
      out[o++] = static_cast<char>(c);
    } else {
      if (o + 4 >= size) break;
      out[o] = '\\';
      out[o + 1] = 'x';
      out[o + 2] = kHex[c >> 4];
      out[o + 3] = kHex[c & 0xf];
      o += 4;
    }
    ++i;
  }
  *pLen = o;
  return i == n;
}

void vrk_printable(const char *in, char *out, size_t size, bool keepBreaks) {
  if (size == 0) return;
  size_t o = 0;
  vrk_printable_append(in, strlen(in), out, &o, size, keepBreaks);
  out[o] = '\0';
}

std::string vrk_printable(const std::string &in) {
  std::string out;
  out.reserve(in.size());
  for (unsigned char c : in) {
    if (is_control(c, false)) {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
