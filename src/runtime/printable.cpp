// Text made safe for one log line: control characters written as "\xNN",
// the escaping of every message of the log and of the stand-in's notes.
#include "runtime/printable.h"

#include <stdio.h>

namespace {

bool is_control(unsigned char c, bool keepBreaks) {
  return (c < 0x20 && c != '\t' && !(keepBreaks && c == '\n')) || c == 0x7f;
}

}  // namespace

void vrk_printable(const char *in, char *out, size_t size, bool keepBreaks) {
  if (size == 0) return;
  size_t o = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(in); *p != '\0'; ++p) {
    bool control = is_control(*p, keepBreaks);
    size_t need = control ? 4 : 1;
    if (o + need >= size) break;
    if (control) {
      snprintf(out + o, 5, "\\x%02x", *p);
    } else {
      out[o] = static_cast<char>(*p);
    }
    o += need;
  }
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
