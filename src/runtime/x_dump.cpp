// x_DumpEx/x_Dump: the trace hex dump, line by line through the caller's
// print function or to standard output.
#include "runtime/x_dump.h"

#include <stdio.h>
#include <string.h>

namespace {

void emit(X_DUMP_PRINT_FUNC print, char *line) {
  if (print != NULL)
    print(line);
  else
    puts(line);
}

}  // namespace

void x_DumpEx(char *cpBuffer, unsigned long ulBufferSize, X_DUMP_PRINT_FUNC print, unsigned long long ullOffset,
              int iSkipDuplicates) {
  char line[128];
  snprintf(line, sizeof(line), "BLOCK INFO: Address = [%p], Size: [%lu]", (void *)cpBuffer, ulBufferSize);
  emit(print, line);
  snprintf(line, sizeof(line), "        %s", "  -0 -1 -2 -3 -4 -5 -6 -7  -8 -9 -a -b -c -d -e -f");
  emit(print, line);
  if (cpBuffer == NULL) return;

  const unsigned char *data = (const unsigned char *)cpBuffer;
  char hex[64], prevHex[64], chars[17];
  bool inRun = false;
  prevHex[0] = '\0';
  for (unsigned long start = 0; start < ulBufferSize; start += 16) {
    char *h = hex;
    *h++ = ' ';
    for (int i = 0; i < 16; i++) {
      if (i == 8) *h++ = ' ';
      unsigned long pos = start + (unsigned long)i;
      if (pos < ulBufferSize) {
        snprintf(h, 4, "%02x ", data[pos]);
        chars[i] = (data[pos] >= 33 && data[pos] <= 126) ? (char)data[pos] : '.';
      } else {
        memcpy(h, "   ", 4);
        chars[i] = ' ';
      }
      h += 3;
    }
    *h = '\0';
    chars[16] = '\0';
    const bool last = ulBufferSize - start <= 16;
    if (iSkipDuplicates && start > 0 && !last && strcmp(hex, prevHex) == 0) {
      if (!inRun) {
        snprintf(line, sizeof(line), "*");
        emit(print, line);
        inRun = true;
      }
      continue;
    }
    inRun = false;
    memcpy(prevHex, hex, sizeof(hex));
    snprintf(line, sizeof(line), "%08llx %s %s", (unsigned long long)(start + ullOffset), hex, chars);
    emit(print, line);
  }
}

void x_Dump(char *cpBuffer, unsigned long ulBufferSize, X_DUMP_PRINT_FUNC print) {
  x_DumpEx(cpBuffer, ulBufferSize, print, 0, 0);
}
