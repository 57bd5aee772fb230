// The test whether a text is written as a URL: a scheme, then "://" at its
// first colon.
#include "client/vrk_isurl.h"

#include <string.h>

BOOL isURL(const char *cpText) {
  if (cpText == nullptr) return FALSE;
  const char *colon = strchr(cpText, ':');
  return (colon != nullptr && strncmp(colon, "://", 3) == 0) ? TRUE : FALSE;
}
