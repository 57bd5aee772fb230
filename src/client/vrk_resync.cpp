// Resynchronisation after a damaged header, sliding one character at a time
// to the next item magic, and the archive dump.
#include <string.h>

#include "client/vrk_archive.h"
#include "client/vrk_cpio_layouts.h"
#include "runtime/vrk_log.h"
#include "runtime/x_dump.h"

int vrk_resync_archive(char *cpHeader) {
  if (cpHeader == nullptr) return -1;
  vrk_log(3055);
  char window[VRK_MAGIC_LEN];
  size_t have = 0;
  for (;;) {
    char c;
    if (vrk_archive_read(&c, 1) != 1) return -1;
    if (have == VRK_MAGIC_LEN) {
      memmove(window, window + 1, VRK_MAGIC_LEN - 1);
      have--;
    }
    window[have++] = c;
    if (have < VRK_MAGIC_LEN || window[0] != '0') continue;
    uint64_t magic;
    if (cpio_get_digits(window, VRK_MAGIC_LEN, 8, &magic) && vrk_magic_is_resync((uint32_t)magic)) {
      memcpy(cpHeader, window, VRK_MAGIC_LEN);
      cpHeader[VRK_MAGIC_LEN] = '\0';
      return 0;
    }
  }
}

void vrk_print_dump(char *cpLine) { vrk_log(3054, cpLine); }

void vrk_archive_dump(char *cpBuffer, unsigned long ulBufferSize) {
  if (cpBuffer == nullptr) return;
  x_Dump(cpBuffer, ulBufferSize, vrk_print_dump);
}
