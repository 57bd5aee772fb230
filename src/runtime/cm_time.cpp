// Conversions between the compact and ISO-like time stamps, and the current
// or shifted local time as text (time_get, psz_now_iso).
#include "runtime/cm_time.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "runtime/cm_strftime.h"
#include "runtime/cm_strptime.h"
#include "runtime/vrk_log.h"
#include "runtime/x_mem_timer.h"

namespace {

const char kStampFmt[] = "%Y%m%d%H%M%S";
const char kIsoFmt[] = "%Y-%m-%d %H:%M:%S";

bool add_checked(int *field, long long delta) {
  long long v = (long long)*field + delta;
  if (v > 0x7fffffffLL || v < -0x7fffffffLL - 1) return false;
  *field = (int)v;
  return true;
}

int convert_in_place(char *cpTime, const char *fmt) {
  if (cpTime == NULL) return 0;
  char work[64];
  snprintf(work, sizeof(work), "%s", cpTime);
  struct tm tm;
  if (cm_convert_time(work, &tm) == NULL) return 0;
  char out[20];
  size_t n = cm_strftime(out, sizeof(out), fmt, &tm);
  if (n == 0) return 0;
  memcpy(cpTime, out, n + 1);
  return (int)n;
}

}  // namespace

char *cm_convert_time(char *szInput, struct tm *tm) {
  if (szInput == NULL || tm == NULL) return NULL;
  trace("%l3 CONVERT_TIME: [%s]", szInput);
  memset(tm, 0, sizeof(*tm));
  if (strchr(szInput, '_') != NULL && strlen(szInput) > 10) szInput[10] = ' ';

  struct Form {
    const char *fmt;
    const char *traceText;
  };
  static const Form kForms[] = {
      {kStampFmt, "%l3 CONVERT_TIME: [%%Y%%m%%d%%H%%M%%S]"},
      {kIsoFmt, "%l3 CONVERT_TIME: [%%Y-%%m-%%d %%H:%%M:%%S]"},
      {"%Y-%m-%d", "%l3 CONVERT_TIME: [%%Y-%%m-%%d]"},
  };
  for (const Form &form : kForms) {
    // Each try starts from a cleared tm, so a failed try leaves nothing behind.
    memset(tm, 0, sizeof(*tm));
    char *rest = cm_strptime(szInput, form.fmt, tm);
    if (rest != NULL) {
      trace(form.traceText);
      return rest;
    }
  }
  memset(tm, 0, sizeof(*tm));
  trace("%l0 CONVERT_TIME: Could not convert timestring [%s]", szInput);
  return NULL;
}

int cm_time_iso2stamp(char *cpTime) { return convert_in_place(cpTime, kStampFmt); }

int cm_time_stamp2iso(char *cpTime) { return convert_in_place(cpTime, kIsoFmt); }

char *time_get(char *cpTime) {
  if (cpTime == NULL) return NULL;
  std::string text(cpTime);
  std::string original = text;

  time_t now = time(NULL);
  struct tm tm;
  localtime_r(&now, &tm);

  // Base time: "YYYY-MM-DD hh:mm:ss" or "YYYYMMDD_hhmmss", each with the
  // blank behind it.
  if (!text.empty() && text[0] >= '1' && text[0] <= '9') {
    int y, mo, d, h, mi, s;
    if (text.size() >= 19 && text[4] == '-' && text[7] == '-' && text[10] == ' ' && text[13] == ':' &&
        sscanf(text.c_str(), "%04d-%02d-%02d %02d:%02d:%02d", &y, &mo, &d, &h, &mi, &s) == 6) {
      tm.tm_year = y - 1900;
      tm.tm_mon = mo - 1;
      tm.tm_mday = d;
      tm.tm_hour = h;
      tm.tm_min = mi;
      tm.tm_sec = s;
      text.erase(0, text.size() < 20 ? text.size() : 20);
    } else if (text.size() >= 15 && text[8] == '_' &&
               sscanf(text.c_str(), "%04d%02d%02d_%02d%02d%02d", &y, &mo, &d, &h, &mi, &s) == 6) {
      tm.tm_year = y - 1900;
      tm.tm_mon = mo - 1;
      tm.tm_mday = d;
      tm.tm_hour = h;
      tm.tm_min = mi;
      tm.tm_sec = s;
      text.erase(0, text.size() < 16 ? text.size() : 16);
    }
  }

  char mode = text.empty() ? '\0' : text[0];
  bool fits = true;
  long long n = 0;
  int ni = 0;
  switch (mode) {
    case 'D':
      if (sscanf(text.c_str(), "D %d", &ni) == 1) fits = add_checked(&tm.tm_mday, ni);
      break;
    case 'H':
      if (sscanf(text.c_str(), "H %d", &ni) == 1) fits = add_checked(&tm.tm_hour, ni);
      break;
    case 'M':
      if (sscanf(text.c_str(), "M %d", &ni) == 1) fits = add_checked(&tm.tm_min, ni);
      break;
    case 'S':
      if (sscanf(text.c_str(), "S %d", &ni) == 1) fits = add_checked(&tm.tm_sec, ni);
      break;
    case 'T':
      n = 1;
      fits = add_checked(&tm.tm_mday, n);
      break;
    case 'Y':
      n = -1;
      fits = add_checked(&tm.tm_mday, n);
      break;
    default:
      break;
  }

  // The shift may cross a change of daylight saving time: mktime decides.
  tm.tm_isdst = -1;
  time_t t = fits ? mktime(&tm) : (time_t)-1;
  if (t == (time_t)-1) {
    trace("%l0 time_get: WARNING: Set time to end-of-epoch bcs. given time shift [%s] exceeds UNIX time",
          original.c_str());
    t = (time_t)2147483647;
    localtime_r(&t, &tm);
  }

  char out[TIME_GET_BUFFER_SIZE];
  if (mode == 'I' || mode == 'N') {
    cm_strftime(out, sizeof(out), kStampFmt, &tm);
    if (mode == 'N') {
      int secs = 0, ms = 0, zone = 0, dst = 0;
      if (!i_MY_FTIME(&secs, &ms, &zone, &dst)) ms = 0;
      size_t len = strlen(out);
      snprintf(out + len, sizeof(out) - len, "%03d", ms);
    }
  } else {
    cm_strftime(out, sizeof(out), kIsoFmt, &tm);
  }
  memcpy(cpTime, out, strlen(out) + 1);
  return cpTime;
}

char *psz_now_iso(void) {
  static char szTime[TIME_GET_BUFFER_SIZE];
  szTime[0] = '\0';
  return time_get(szTime);
}
