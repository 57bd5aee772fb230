// A small locale-independent strftime with English names, and the
// fixed-width digit formatter behind it.
#ifndef VRK_RUNTIME_CM_STRFTIME_H
#define VRK_RUNTIME_CM_STRFTIME_H

#include <stddef.h>
#include <time.h>

extern const char *const day[7];
extern const char *const aday[7];
extern const char *const month[12];
extern const char *const amonth[12];

size_t cm_strftime(char *s, size_t maxs, const char *f, const struct tm *t);
// '%' and a digit n takes the next argument: n 1-9 prints an int as exactly
// n digits (modulo 10^n, leading zeros), n 0 copies a string.
void strfmt(char *str, const char *fmt, ...);

#endif
