// Small text tests of the utility unit: all digits, character counts and the
// datastore part of a virtual-disk path.
#include <string.h>

#include "client/vrk_util.h"

int vrk_isdigit(char *cpLine) {
  if (cpLine == nullptr) return -1;
  for (const char *p = cpLine; *p != '\0'; ++p)
    if (*p < '0' || *p > '9') return -1;
  return 0;
}

int vrk_count(char *cpLine, char cChar) {
  if (cpLine == nullptr) return -1;
  int n = 0;
  for (const char *p = cpLine; *p != '\0'; ++p)
    if (*p == cChar) ++n;
  return n;
}

char *check_prepare_vmdk_path(char *path) {
  static const char kSuffix[] = ".vmdk";
  if (path == nullptr) return nullptr;
  size_t len = strlen(path);
  if (len < 6) return nullptr;
  if (strcmp(path + len - (sizeof(kSuffix) - 1), kSuffix) != 0) return nullptr;
  char *close = strrchr(path, ']');
  if (close == nullptr) return nullptr;
  for (size_t i = (size_t)(close - path) + 1; i > 0; --i)
    if (path[i - 1] == '[') return path + i - 1;
  return nullptr;
}
