// The relocation code's messages: texts formatted here and handed to the
// relocation log hook, which writes nothing while it is not set.
#include "client/vrk_reloc_log.h"

#include <stdarg.h>
#include <stdio.h>

#include "runtime/vrk_log.h"

void reloc_logf(int iCode, const char *cpFormat, ...) {
  if (g_kv_log_ptr == nullptr || cpFormat == nullptr) return;
  char text[8192];
  va_list args;
  va_start(args, cpFormat);
  vsnprintf(text, sizeof(text), cpFormat, args);
  va_end(args);
  g_kv_log_ptr(iCode, "%s", text);
}
