// Appending a NULL-terminated run of strings to a list as copies.
#include <stdarg.h>

#include "runtime/strlib.h"

void InsArgvLL(t_LL LL_List, ...) {
  va_list args;
  va_start(args, LL_List);
  for (const char *s = va_arg(args, const char *); s != nullptr; s = va_arg(args, const char *))
    InsLastLLf(LL_List, strlen(s) + 1, s);
  va_end(args);
}
