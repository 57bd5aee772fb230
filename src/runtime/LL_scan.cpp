// Scanning of list elements out of a text under a scanf-like control: each
// element's fields are packed into BuffLL and appended as a copy.
#include <ctype.h>
#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/LL.h"
#include "runtime/LL_internal.h"

enum ScanResult { SCAN_OK, SCAN_MISMATCH, SCAN_ERROR };

static const char *SkipSpace(const char *p) {
  while (*p != '\0' && isspace(static_cast<unsigned char>(*p))) p++;
  return p;
}

// The text of the next field: up to width characters (0: no limit), or the
// word up to the next blank when word is set.
static std::string Token(const char *p, size_t width, BOOL word) {
  size_t n = 0;
  while (p[n] != '\0' && (width == 0 || n < width) && (!word || !isspace(static_cast<unsigned char>(p[n])))) n++;
  return std::string(p, n);
}

// Packs the bytes of one field behind the used ones, when they fit.
static BOOL Pack(size_t *used, const void *v, size_t n) {
  if (n > LL_BUFF_SIZE - *used) return FALSE;
  memcpy(BuffLL + *used, v, n);
  *used += n;
  return TRUE;
}

// Reads one element at *pos into BuffLL; *used receives its packed size.
static ScanResult ScanElement(const char **pos, const char *control, size_t *used, std::vector<char *> *owned) {
  const char *p = *pos;
  const char *c = control;
  *used = 0;
  while (*c != '\0') {
    const char *pct = strchr(c, '%');
    const char *litEnd = pct != NULL ? pct : c + strlen(c);
    for (; c < litEnd; c++) {  // literal text: a blank matches any run of blanks
      if (isspace(static_cast<unsigned char>(*c)))
        p = SkipSpace(p);
      else if (*p == *c)
        p++;
      else
        return SCAN_MISMATCH;
    }
    if (pct == NULL) break;
    const char *end = strpbrk(pct + 1, "diuoxXfegcsS%");
    if (end == NULL) return SCAN_ERROR;
    const char *q = pct + 1;
    BOOL suppress = FALSE;
    BOOL isLong = FALSE;
    size_t width = 0;
    if (*q == '*') {
      suppress = TRUE;
      q++;
    }
    while (q < end && *q >= '0' && *q <= '9') width = width * 10 + static_cast<size_t>(*q++ - '0');
    while (q < end && strchr("hlL", *q) != NULL) {
      if (*q == 'l') isLong = TRUE;
      q++;
    }
    if (q != end) return SCAN_ERROR;
    char letter = *end;
    c = end + 1;
    if (letter != 'c') p = SkipSpace(p);
    switch (letter) {
      case '%':
        if (*p != '%') return SCAN_MISMATCH;
        p++;
        break;
      case 'c':
        if (width > 1) return SCAN_ERROR;
        if (*p == '\0') return SCAN_MISMATCH;
        if (!suppress && !Pack(used, p, 1)) return SCAN_ERROR;
        p++;
        break;
      case 'S':
      case 's': {
        std::string w = Token(p, width, TRUE);
        if (w.empty()) return SCAN_MISMATCH;
        p += w.size();
        if (suppress) break;
        if (letter == 'S') {
          if (!Pack(used, w.c_str(), w.size() + 1)) return SCAN_ERROR;
        } else {
          if (LL_BUFF_SIZE - *used < sizeof(char *)) return SCAN_ERROR;
          char *copy = LL_strdup(w.c_str());
          owned->push_back(copy);
          Pack(used, &copy, sizeof(copy));
        }
        break;
      }
      case 'e':
      case 'f':
      case 'g': {
        std::string t = Token(p, width, FALSE);
        char *stop;
        errno = 0;
        double d = strtod(t.c_str(), &stop);
        if (stop == t.c_str()) return SCAN_MISMATCH;
        float f = static_cast<float>(d);
        if ((errno == ERANGE && isinf(d)) || (!isLong && isinf(f) && !isinf(d))) return SCAN_MISMATCH;
        p += stop - t.c_str();
        if (suppress) break;
        if (!(isLong ? Pack(used, &d, sizeof(d)) : Pack(used, &f, sizeof(f)))) return SCAN_ERROR;
        break;
      }
      default: {  // d i o u x X: a 4-byte int
        std::string t = Token(p, width, FALSE);
        int base = letter == 'i' ? 0 : letter == 'o' ? 8 : (letter == 'x' || letter == 'X') ? 16 : 10;
        BOOL isSigned = letter == 'd' || letter == 'i';
        char *stop;
        errno = 0;
        long long v = strtoll(t.c_str(), &stop, base);
        if (stop == t.c_str()) return SCAN_MISMATCH;
        if (errno == ERANGE) return SCAN_MISMATCH;
        if (isSigned ? (v < INT32_MIN || v > INT32_MAX) : (v < 0 || v > static_cast<long long>(UINT32_MAX)))
          return SCAN_MISMATCH;
        p += stop - t.c_str();
        if (suppress) break;
        if (isSigned) {
          int32_t i = static_cast<int32_t>(v);
          if (!Pack(used, &i, sizeof(i))) return SCAN_ERROR;
        } else {
          uint32_t u = static_cast<uint32_t>(v);
          if (!Pack(used, &u, sizeof(u))) return SCAN_ERROR;
        }
        break;
      }
    }
  }
  // An element without data would read as the end marker.
  if (*used == 0) return SCAN_ERROR;
  *pos = p;
  return SCAN_OK;
}

char *SscanLL(t_LL list, const char *String, const char *control, int termination) {
  const char *pos = String;
  long expected = termination;
  if (termination < -1 || String == NULL || control == NULL) return NULL;
  if (termination == -1) {
    int count;
    int n = -1;
    if (sscanf(pos, "%d%n", &count, &n) < 1 || n < 0 || count < 0) return NULL;
    pos += n;
    expected = count;
  }
  long read = 0;
  for (;;) {
    if (termination != 0 && read >= expected) break;
    if (*SkipSpace(pos) == '\0') break;
    std::vector<char *> owned;
    size_t used;
    ScanResult r = ScanElement(&pos, control, &used, &owned);
    if (r != SCAN_OK) {
      for (char *s : owned) free(s);
      if (r == SCAN_ERROR) return NULL;
      break;
    }
    InsLastLLf(list, used, BuffLL);
    read++;
    if (*pos == '\0') break;
  }
  if (termination != 0 && read != expected) return NULL;
  return const_cast<char *>(pos);
}
