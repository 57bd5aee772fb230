// Helpers shared by the option handlers: the refusal messages of a bad
// argument, bounded copies into fixed fields and heap fields, pipe mode.
#include "client/vrk_optutil.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "client/vrk_global.h"
#include "client/vrk_usage.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

bool vrk_opt_missing(int iLetter) {
  vrk_banner();
  vrk_log(1001, iLetter);
  return false;
}

bool vrk_opt_dash_ok(const char *cpArg, int iLetter) {
  if (cpArg != nullptr && cpArg[0] != '-') return true;
  return vrk_opt_missing(iLetter);
}

bool vrk_opt_invalid(const char *cpArg, int iLetter) {
  vrk_banner();
  vrk_log(1038, cpArg != nullptr ? cpArg : "", iLetter);
  return false;
}

bool vrk_opt_fits(const char *cpValue, size_t iSize, const char *cpArg, int iLetter) {
  if (cpValue != nullptr && strlen(cpValue) < iSize) return true;
  return vrk_opt_invalid(cpArg, iLetter);
}

bool vrk_opt_set_heap(char **cppField, const char *cpValue) {
  char *copy = strdup(cpValue != nullptr ? cpValue : "");
  if (copy == nullptr) {
    vrk_log(1008, strerror(ENOMEM));
    return false;
  }
  free(*cppField);
  *cppField = copy;
  return true;
}

bool vrk_opt_set_pipe(const char *cpTarget) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  if (!vrk_opt_set_heap(&o->cpItem[0], "pipe")) return false;
  free(o->cpItem[1]);
  o->cpItem[1] = nullptr;
  strlcpy(spGlobal->szTargetPath[0], cpTarget, sizeof(spGlobal->szTargetPath[0]));
  return true;
}

void vrk_opt_free_items(char **cpItem, size_t iSize) {
  for (size_t i = 0; i < iSize && cpItem[i] != nullptr; ++i) {
    free(cpItem[i]);
    cpItem[i] = nullptr;
  }
}
