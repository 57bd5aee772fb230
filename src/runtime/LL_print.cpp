// Printing of list elements field by field under a printf-like control, to a
// file or into a string of at most 100 bytes (BuffLL or the caller's).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/LL.h"
#include "runtime/LL_internal.h"

char BuffLL[LL_BUFF_SIZE];
char *stringLL = BuffLL;
char *stLL = BuffLL;
FILE *FiLL = NULL;

static int outLL;  // 1: to FiLL; 0: into the string at stLL

// Writes n bytes. In string mode the room is checked first: the string holds
// at most LL_BUFF_SIZE - 1 characters and its terminator.
static void PutLL(const char *s, size_t n) {
  if (outLL) {
    if (n > 0) fwrite(s, 1, n, FiLL);
    return;
  }
  size_t used = static_cast<size_t>(stLL - stringLL);
  if (n > LL_BUFF_SIZE - 1 - used) {
    fputs("string buffer overflow in SprintfLL\n", stderr);
    exit(-1);
  }
  memcpy(stLL, s, n);
  stLL += n;
  *stLL = '\0';
}

static void PutStr(const std::string &s) { PutLL(s.data(), s.size()); }

template <typename T>
static std::string FormatField(const std::string &fmt, T v) {
  int n = snprintf(NULL, 0, fmt.c_str(), v);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n) + 1, '\0');
  snprintf(&s[0], s.size(), fmt.c_str(), v);
  s.resize(static_cast<size_t>(n));
  return s;
}

[[noreturn]] static void ShortElement() {
  fputs("element too small for control in GenPrintLL\n", stderr);
  exit(-1);
}

// Applies the conversion from pct to its letter at end to the field at *off
// of the element el of size bytes.
static void PrintConversion(const char *pct, const char *end, const char *el, size_t size, size_t *off) {
  const char *p = pct + 1;
  BOOL suppress = FALSE;
  BOOL isLong = FALSE;
  if (*p == '*') {
    suppress = TRUE;
    p++;
  }
  std::string fmt = "%";
  while (p < end && strchr("-+ #0", *p) != NULL) fmt += *p++;
  while (p < end && *p >= '0' && *p <= '9') fmt += *p++;
  if (p < end && *p == '.') {
    fmt += *p++;
    while (p < end && *p >= '0' && *p <= '9') fmt += *p++;
  }
  while (p < end && strchr("hlL", *p) != NULL) {
    if (*p == 'l') isLong = TRUE;
    p++;
  }
  char letter = *end;
  if (p != end) {  // not a conversion this library knows: written as text
    PutLL(pct, static_cast<size_t>(end - pct) + 1);
    return;
  }
  if (letter == '%') {
    if (!suppress) PutLL("%", 1);
    return;
  }
  size_t need;
  switch (letter) {
    case 'c':
      need = 1;
      break;
    case 's':
      need = sizeof(char *);
      break;
    case 'S':
      need = strnlen(el + *off, size > *off ? size - *off : 0) + 1;
      break;
    case 'e':
    case 'f':
    case 'g':
      need = isLong ? sizeof(double) : sizeof(float);
      break;
    default:  // d i o u x X
      need = 4;
      break;
  }
  if (*off > size || need > size - *off) ShortElement();
  const char *field = el + *off;
  *off += need;
  if (suppress) return;
  switch (letter) {
    case 'd':
    case 'i': {
      int32_t v;
      memcpy(&v, field, sizeof(v));
      PutStr(FormatField(fmt + letter, static_cast<int>(v)));
      break;
    }
    case 'o':
    case 'u':
    case 'x':
    case 'X': {
      uint32_t v;
      memcpy(&v, field, sizeof(v));
      PutStr(FormatField(fmt + letter, static_cast<unsigned int>(v)));
      break;
    }
    case 'e':
    case 'f':
    case 'g': {
      double v;
      if (isLong) {
        memcpy(&v, field, sizeof(v));
      } else {
        float f;
        memcpy(&f, field, sizeof(f));
        v = f;
      }
      PutStr(FormatField(fmt + letter, v));
      break;
    }
    case 'c':
      PutStr(FormatField(fmt + 'c', static_cast<int>(static_cast<unsigned char>(*field))));
      break;
    case 's': {
      const char *str;
      memcpy(&str, field, sizeof(str));
      PutStr(FormatField(fmt + 's', str != NULL ? str : "(null)"));
      break;
    }
    case 'S':
      PutStr(FormatField(fmt + 's', field));
      break;
  }
}

static void PrintElement(const char *el, size_t size, const char *control) {
  size_t off = 0;
  const char *c = control;
  while (*c != '\0') {
    const char *pct = strchr(c, '%');
    if (pct == NULL) {
      PutLL(c, strlen(c));
      return;
    }
    PutLL(c, static_cast<size_t>(pct - c));
    const char *end = strpbrk(pct + 1, "diuoxXfegcsS%");
    if (end == NULL) {
      PutLL(pct, strlen(pct));
      return;
    }
    PrintConversion(pct, end, el, size, &off);
    c = end + 1;
  }
}

char *GenPrintLL(t_LL list, const char *bef, const char *control, const char *aft, int out) {
  outLL = out;
  if (!outLL) PutLL("", 0);
  if (bef != NULL) PutLL(bef, strlen(bef));
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el))
    PrintElement(static_cast<const char *>(el), IsElmLL(el), control != NULL ? control : "");
  if (aft != NULL) PutLL(aft, strlen(aft));
  return outLL ? NULL : stLL;
}

void FprintLL(t_LL list, FILE *file, const char *bef, const char *control, const char *aft) {
  FiLL = file;
  GenPrintLL(list, bef, control, aft, 1);
}

void printLL(t_LL list, const char *control) { FprintLL(list, stdout, "", control, "\n"); }

char *SprintLL(t_LL list, char *string, const char *bef, const char *control, const char *aft) {
  stringLL = string != NULL ? string : BuffLL;
  stLL = stringLL;
  return GenPrintLL(list, bef, control, aft, 0);
}
