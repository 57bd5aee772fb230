// Checked decimal conversions for option, environment and ini values: whole
// text a number within given bounds, or a refusal.
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
  long long v;
  if (!vrk_decimal(cpText, 1, INT_MAX, &v)) return false;
  *piOut = (int)v;
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
