// The program's call line joined into one text of double-quoted arguments,
// as the run's start messages log it.
#include <string.h>

#include "runtime/cm_args.h"

char *GET_CALL_PARAM(int number, char **option) {
  static char szAux[CALL_PARAM_BUF];
  static const char kMarker[] = "... truncated";  // 13 characters and the terminator
  szAux[0] = '\0';
  if (option == nullptr) return szAux;
  size_t used = 0;
  for (int i = 0; i < number; i++) {
    if (option[i] == nullptr) continue;
    size_t len = strlen(option[i]);
    if (used + len > CALL_PARAM_BUF - 4) {
      // Over the buffer's last bytes: behind the terminator unless the text
      // reaches them. A later, shorter argument may still fit.
      memcpy(szAux + CALL_PARAM_BUF - sizeof(kMarker), kMarker, sizeof(kMarker));
      used = strlen(szAux);
      continue;
    }
    szAux[used++] = '"';
    memcpy(szAux + used, option[i], len);
    used += len;
    szAux[used++] = '"';
    szAux[used++] = ' ';
    szAux[used] = '\0';
  }
  return szAux;
}
