// Bounded copy of a wide-character string that reports the number of wide
// characters copied.
#include "runtime/strlib.h"

size_t wcslcpy(wchar_t *dst, const wchar_t *src, size_t size) {
  if (size == 0) return 0;
  size_t n = wcslen(src);
  if (n > size - 1) n = size - 1;
  wmemcpy(dst, src, n);
  dst[n] = L'\0';
  return n;
}
