// cm_strptime: the POSIX strptime in the POSIX locale, with English names, the
// %y pivot at 69, %j and the completion of weekday and day of the year.
#include "runtime/cm_strptime.h"

#include <ctype.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

const char *const weekday_name[7] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
const char *const ab_weekday_name[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const month_name[12] = {"January", "February", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};
const char *const ab_month_name[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const unsigned short int __mon_yday[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

namespace {

// What the conversions have read so far; shared by the composite conversions.
struct ParseState {
  bool have_I = false;
  bool is_pm = false;
  int century = -1;
  bool want_century = false;
  bool want_xday = false;
  bool have_wday = false;
  bool have_yday = false;
  bool have_mon = false;
  bool have_mday = false;
};

bool is_leap(long long year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// Days from 1970-01-01 to the given Gregorian date (month 1-12).
long long days_from_civil(long long y, unsigned m, long long d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Reads a number of at most `width` digits in [from, to]; blanks before it
// are skipped, and digits stop once another would pass the maximum.
const char *get_number(const char *rp, int from, int to, int width, int *out) {
  while (*rp == ' ') rp++;
  if (*rp < '0' || *rp > '9') return nullptr;
  int val = *rp++ - '0';
  while (--width > 0 && val * 10 <= to && *rp >= '0' && *rp <= '9') val = val * 10 + (*rp++ - '0');
  if (val < from || val > to) return nullptr;
  *out = val;
  return rp;
}

// Matches one of the names (full first, then abbreviated) ignoring case.
const char *match_name(const char *rp, const char *const *full, const char *const *abbr, int count,
                       int *index) {
  for (int i = 0; i < count; i++) {
    size_t len = strlen(full[i]);
    if (strncasecmp(rp, full[i], len) == 0) {
      *index = i;
      return rp + len;
    }
    len = strlen(abbr[i]);
    if (strncasecmp(rp, abbr[i], len) == 0) {
      *index = i;
      return rp + len;
    }
  }
  return nullptr;
}

const char *parse(const char *rp, const char *fmt, struct tm *tm, ParseState &s);

const char *parse_composite(const char *rp, const char *sub, struct tm *tm, ParseState &s,
                            bool isDate) {
  rp = parse(rp, sub, tm, s);
  if (rp != nullptr && isDate) s.want_xday = true;
  return rp;
}

const char *parse(const char *rp, const char *fmt, struct tm *tm, ParseState &s) {
  while (*fmt != '\0') {
    if (isspace((unsigned char)*fmt)) {
      while (isspace((unsigned char)*rp)) rp++;
      fmt++;
      continue;
    }
    if (*fmt != '%') {
      if (*fmt++ != *rp++) return nullptr;
      continue;
    }
    fmt++;
    char mod = 0;
    if (*fmt == 'E' || *fmt == 'O') mod = *fmt++;
    char conv = *fmt++;
    if (mod == 'E' && strchr("cCyYxX", conv) == nullptr) return nullptr;
    if (mod == 'O' && strchr("deHImMSUVWwy", conv) == nullptr) return nullptr;
    if (conv == '\0') return nullptr;
    int val = 0, idx = 0;
    switch (conv) {
      case '%':
        if (*rp++ != '%') return nullptr;
        break;
      case 'a':
      case 'A':
        rp = match_name(rp, weekday_name, ab_weekday_name, 7, &idx);
        if (rp == nullptr) return nullptr;
        tm->tm_wday = idx;
        s.have_wday = true;
        break;
      case 'b':
      case 'B':
      case 'h':
        rp = match_name(rp, month_name, ab_month_name, 12, &idx);
        if (rp == nullptr) return nullptr;
        tm->tm_mon = idx;
        s.have_mon = true;
        s.want_xday = true;
        break;
      case 'c':
        rp = parse_composite(rp, "%a %b %e %H:%M:%S %Y", tm, s, true);
        if (rp == nullptr) return nullptr;
        break;
      case 'C':
        if ((rp = get_number(rp, 0, 99, 2, &val)) == nullptr) return nullptr;
        s.century = val;
        s.want_xday = true;
        break;
      case 'd':
      case 'e':
        if ((rp = get_number(rp, 1, 31, 2, &val)) == nullptr) return nullptr;
        tm->tm_mday = val;
        s.have_mday = true;
        s.want_xday = true;
        break;
      case 'D':
      case 'x':
        rp = parse_composite(rp, "%m/%d/%y", tm, s, true);
        if (rp == nullptr) return nullptr;
        break;
      case 'F':
        rp = parse_composite(rp, "%Y-%m-%d", tm, s, true);
        if (rp == nullptr) return nullptr;
        break;
      case 'g':
        if ((rp = get_number(rp, 0, 99, 2, &val)) == nullptr) return nullptr;
        break;
      case 'G':
        if ((rp = get_number(rp, 0, 9999, 4, &val)) == nullptr) return nullptr;
        break;
      case 'H':
      case 'k':
        if ((rp = get_number(rp, 0, 23, 2, &val)) == nullptr) return nullptr;
        tm->tm_hour = val;
        s.have_I = false;
        break;
      case 'I':
        if ((rp = get_number(rp, 1, 12, 2, &val)) == nullptr) return nullptr;
        tm->tm_hour = val % 12;
        s.have_I = true;
        break;
      case 'j':
        if ((rp = get_number(rp, 1, 366, 3, &val)) == nullptr) return nullptr;
        tm->tm_yday = val - 1;
        s.have_yday = true;
        break;
      case 'm':
        if ((rp = get_number(rp, 1, 12, 2, &val)) == nullptr) return nullptr;
        tm->tm_mon = val - 1;
        s.have_mon = true;
        s.want_xday = true;
        break;
      case 'M':
        if ((rp = get_number(rp, 0, 59, 2, &val)) == nullptr) return nullptr;
        tm->tm_min = val;
        break;
      case 'n':
      case 't':
        while (isspace((unsigned char)*rp)) rp++;
        break;
      case 'p':
        if (strncasecmp(rp, "AM", 2) == 0)
          s.is_pm = false;
        else if (strncasecmp(rp, "PM", 2) == 0)
          s.is_pm = true;
        else
          return nullptr;
        rp += 2;
        break;
      case 'r':
        rp = parse_composite(rp, "%I:%M:%S %p", tm, s, false);
        if (rp == nullptr) return nullptr;
        break;
      case 'R':
        rp = parse_composite(rp, "%H:%M", tm, s, false);
        if (rp == nullptr) return nullptr;
        break;
      case 's': {
        if (*rp < '0' || *rp > '9') return nullptr;
        int64_t secs = 0;
        while (*rp >= '0' && *rp <= '9') {
          int digit = *rp++ - '0';
          if (secs > (INT64_MAX - digit) / 10) return nullptr;
          secs = secs * 10 + digit;
        }
        time_t t = (time_t)secs;
        if ((int64_t)t != secs) return nullptr;
        if (my_localtime_r(&t, tm) == nullptr) return nullptr;
        break;
      }
      case 'S':
        if ((rp = get_number(rp, 0, 61, 2, &val)) == nullptr) return nullptr;
        tm->tm_sec = val;
        break;
      case 'T':
      case 'X':
        rp = parse_composite(rp, "%H:%M:%S", tm, s, false);
        if (rp == nullptr) return nullptr;
        break;
      case 'u':
        if ((rp = get_number(rp, 1, 7, 1, &val)) == nullptr) return nullptr;
        tm->tm_wday = val % 7;
        s.have_wday = true;
        break;
      case 'U':
      case 'V':
      case 'W':
        if ((rp = get_number(rp, 0, 53, 2, &val)) == nullptr) return nullptr;
        break;
      case 'w':
        if ((rp = get_number(rp, 0, 6, 1, &val)) == nullptr) return nullptr;
        tm->tm_wday = val;
        s.have_wday = true;
        break;
      case 'y':
        if ((rp = get_number(rp, 0, 99, 2, &val)) == nullptr) return nullptr;
        tm->tm_year = val >= 69 ? val : val + 100;
        s.want_century = true;
        s.want_xday = true;
        break;
      case 'Y':
        if ((rp = get_number(rp, 0, 9999, 4, &val)) == nullptr) return nullptr;
        tm->tm_year = val - 1900;
        s.want_century = false;
        s.want_xday = true;
        break;
      case 'Z':
        break;
      default:
        return nullptr;
    }
  }
  return rp;
}

}  // namespace

struct tm *my_localtime_r(const time_t *t, struct tm *tp) {
  if (t == nullptr || tp == nullptr) return nullptr;
  struct tm r;
  if (localtime_r(t, &r) == nullptr) return nullptr;
  tp->tm_sec = r.tm_sec;
  tp->tm_min = r.tm_min;
  tp->tm_hour = r.tm_hour;
  tp->tm_mday = r.tm_mday;
  tp->tm_mon = r.tm_mon;
  tp->tm_year = r.tm_year;
  tp->tm_wday = r.tm_wday;
  tp->tm_yday = r.tm_yday;
  tp->tm_isdst = r.tm_isdst;
  tp->tm_gmtoff = r.tm_gmtoff;
  tp->tm_zone = r.tm_zone;
  return tp;
}

void day_of_the_week(struct tm *tm) {
  if (tm->tm_mon < 0 || tm->tm_mon > 11) return;
  long long days = days_from_civil(1900LL + tm->tm_year, (unsigned)tm->tm_mon + 1, tm->tm_mday);
  tm->tm_wday = (int)(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
}

void day_of_the_year(struct tm *tm) {
  if (tm->tm_mon < 0 || tm->tm_mon > 11) return;
  tm->tm_yday = __mon_yday[is_leap(1900LL + tm->tm_year) ? 1 : 0][tm->tm_mon] + tm->tm_mday - 1;
}

char *strptime_internal(const char *buf, const char *format, struct tm *tm, locale_status *decided) {
  if (buf == nullptr || format == nullptr || tm == nullptr) return nullptr;
  if (decided != nullptr) *decided = LOCALE_RAW;
  ParseState s;
  const char *rp = parse(buf, format, tm, s);
  if (rp == nullptr) return nullptr;

  if (s.have_I && s.is_pm) tm->tm_hour += 12;
  if (s.century != -1 && s.want_century) tm->tm_year = s.century * 100 + (tm->tm_year % 100) - 1900;

  if (s.want_xday && !s.have_wday) {
    if (!(s.have_mon && s.have_mday) && s.have_yday) {
      const int leap = is_leap(1900LL + tm->tm_year) ? 1 : 0;
      // A day of the year past the year's end names no date.
      if (tm->tm_yday < 0 || tm->tm_yday >= __mon_yday[leap][12]) return nullptr;
      int t_mon = 0;
      while (__mon_yday[leap][t_mon + 1] <= tm->tm_yday) t_mon++;
      if (!s.have_mon) tm->tm_mon = t_mon;
      if (!s.have_mday) tm->tm_mday = tm->tm_yday - __mon_yday[leap][t_mon] + 1;
    }
    // Fields the format did not name keep the caller's values; a month
    // outside the calendar cannot be completed.
    if (tm->tm_mon < 0 || tm->tm_mon > 11) return nullptr;
    day_of_the_week(tm);
  }
  if (s.want_xday && !s.have_yday) {
    if (tm->tm_mon < 0 || tm->tm_mon > 11) return nullptr;
    day_of_the_year(tm);
  }
  return const_cast<char *>(rp);
}

char *cm_strptime(const char *buf, const char *format, struct tm *tm) {
  locale_status decided = LOCALE_NOT_DECIDED;
  return strptime_internal(buf, format, tm, &decided);
}
