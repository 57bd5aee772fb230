// Decimal conversions for option, environment and ini values: a whole text
// checked against bounds, or the leading number as the C library reads it.
#include "client/vrk_numbers.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>

bool vrk_decimal(const char *cpText, long long llMin, long long llMax, long long *pllOut) {
  if (cpText == nullptr) return false;
  errno = 0;
  char *end = nullptr;
  long long v = strtoll(cpText, &end, 10);
  if (end == cpText || errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0' || v < llMin || v > llMax) return false;
  if (pllOut != nullptr) *pllOut = v;
  return true;
}

bool vrk_positive_number(const char *cpText, int *piOut) {
  int v = vrk_atoi(cpText);
  if (v < 1) return false;
  *piOut = v;
  return true;
}

int vrk_atoi(const char *cpText) {
  if (cpText == nullptr) return 0;
  errno = 0;
  long long v = strtoll(cpText, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return (int)v;
}

long long vrk_atoll(const char *cpText) {
  if (cpText == nullptr) return 0;
  return strtoll(cpText, nullptr, 10);  // clamped to the range on overflow
}
