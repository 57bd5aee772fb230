// vrk_shown_name: a name escaped for one line and cut in its middle when it
// is too long to read.
#include "runtime/shown_name.h"

#include "runtime/printable.h"

namespace {

const size_t kHead = 96, kTail = 48;

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string vrk_shown_name(const std::string &name) {
  if (name.size() <= VRK_SHOWN_NAME_MAX) return vrk_printable(name);
  size_t head = kHead;
  while (head > 0 && Continuation((unsigned char)name[head])) --head;
  size_t tail = name.size() - kTail;
  while (tail < name.size() && Continuation((unsigned char)name[tail])) ++tail;
  return vrk_printable(name.substr(0, head)) + "..." + vrk_printable(name.substr(tail)) + " (" +
         std::to_string(name.size()) + " bytes)";
}
