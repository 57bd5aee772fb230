// cm_strftime: formats a struct tm with English names through strfmt, cutting
// at the caller's size and reporting a cut by 0.
#include "runtime/cm_strftime.h"

#include <stdarg.h>
#include <string.h>

const char *const day[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char *const aday[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const month[12] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char *const amonth[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

const long long kPow10[10] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// Scratch buffer of one conversion; the longest ("%c") is 24 characters.
char buf[26];

const char *name_of(const char *const *table, int count, int index) {
  return index >= 0 && index < count ? table[index] : "?";
}

// Week of the year whose weeks start on the given weekday (0 Sunday, 1 Monday);
// days before the year's first such weekday are in week 0.
int week_number(const struct tm *t, int firstDay) {
  int wday = ((t->tm_wday - firstDay) % 7 + 7) % 7;
  return (t->tm_yday + 7 - wday) / 7;
}

}  // namespace

void strfmt(char *str, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  while (*fmt != '\0') {
    if (fmt[0] == '%' && fmt[1] >= '0' && fmt[1] <= '9') {
      int n = fmt[1] - '0';
      fmt += 2;
      if (n == 0) {
        const char *s = va_arg(ap, const char *);
        if (s == nullptr) s = "";
        while (*s != '\0') *str++ = *s++;
      } else {
        long long v = va_arg(ap, int);
        if (v < 0) v = -v;
        v %= kPow10[n];
        for (int i = n - 1; i >= 0; i--) *str++ = (char)('0' + (v / kPow10[i]) % 10);
      }
      continue;
    }
    *str++ = *fmt++;
  }
  *str = '\0';
  va_end(ap);
}

size_t cm_strftime(char *s, size_t maxs, const char *f, const struct tm *t) {
  if (s == nullptr || maxs == 0 || f == nullptr || t == nullptr) return 0;
  size_t out = 0;
  const size_t room = maxs - 1;
  while (*f != '\0') {
    const char *piece;
    char one[2] = {0, 0};
    if (*f != '%') {
      one[0] = *f++;
      piece = one;
    } else {
      f++;
      char conv = *f;
      if (conv != '\0') f++;
      piece = buf;
      switch (conv) {
        case '%':
        case '\0':  // a '%' at the end prints itself
          buf[0] = '%';
          buf[1] = '\0';
          break;
        case 'A': strfmt(buf, "%0", name_of(day, 7, t->tm_wday)); break;
        case 'a': strfmt(buf, "%0", name_of(aday, 7, t->tm_wday)); break;
        case 'B': strfmt(buf, "%0", name_of(month, 12, t->tm_mon)); break;
        case 'b': strfmt(buf, "%0", name_of(amonth, 12, t->tm_mon)); break;
        case 'c':
          strfmt(buf, "%0 %0 %2 %2:%2:%2 %4", name_of(aday, 7, t->tm_wday), name_of(amonth, 12, t->tm_mon),
                 t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec, t->tm_year + 1900);
          break;
        case 'd': strfmt(buf, "%2", t->tm_mday); break;
        case 'H': strfmt(buf, "%2", t->tm_hour); break;
        case 'I': {
          int h = t->tm_hour % 12;
          strfmt(buf, "%2", h == 0 ? 12 : h);
          break;
        }
        case 'j': strfmt(buf, "%3", t->tm_yday + 1); break;
        case 'M': strfmt(buf, "%2", t->tm_min); break;
        case 'm': strfmt(buf, "%2", t->tm_mon + 1); break;
        case 'p': strfmt(buf, "%0", t->tm_hour < 12 ? "AM" : "PM"); break;
        case 'S': strfmt(buf, "%2", t->tm_sec); break;
        case 'U': strfmt(buf, "%2", week_number(t, 0)); break;
        case 'W': strfmt(buf, "%2", week_number(t, 1)); break;
        case 'u': strfmt(buf, "%1", t->tm_wday == 0 ? 7 : t->tm_wday); break;
        case 'w': strfmt(buf, "%1", t->tm_wday); break;
        case 'X': strfmt(buf, "%2:%2:%2", t->tm_hour, t->tm_min, t->tm_sec); break;
        case 'x':
          strfmt(buf, "%0 %0 %2 %4", name_of(aday, 7, t->tm_wday), name_of(amonth, 12, t->tm_mon), t->tm_mday,
                 t->tm_year + 1900);
          break;
        case 'Y': strfmt(buf, "%4", t->tm_year + 1900); break;
        case 'y': strfmt(buf, "%2", ((t->tm_year + 1900) % 100 + 100) % 100); break;
        case 'Z': {
          tzset();
          const char *zone = (t->tm_isdst > 0 && tzname[1] && tzname[1][0]) ? tzname[1] : tzname[0];
          size_t zl = strnlen(zone ? zone : "", sizeof(buf) - 1);
          memcpy(buf, zone ? zone : "", zl);
          buf[zl] = '\0';
          break;
        }
        default:
          buf[0] = '%';
          buf[1] = conv;
          buf[2] = '\0';
          break;
      }
    }
    for (const char *p = piece; *p != '\0'; p++) {
      if (out >= room) {
        s[out] = '\0';
        return 0;
      }
      s[out++] = *p;
    }
  }
  s[out] = '\0';
  return out;
}
