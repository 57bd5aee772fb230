// Locale-independent time parsing (English names only): cm_strptime, its
// worker and the day-of-week and day-of-year completion behind it.
#ifndef VRK_RUNTIME_CM_STRPTIME_H
#define VRK_RUNTIME_CM_STRPTIME_H

#include <time.h>

// Whether the parser has settled on a name set; this runtime knows only the
// English (POSIX) names, so the status is kept for the interface's sake.
typedef enum locale_status { LOCALE_NOT_DECIDED = 0, LOCALE_RAW = 1 } locale_status;

extern const char *const weekday_name[7];
extern const char *const ab_weekday_name[7];
extern const char *const month_name[12];
extern const char *const ab_month_name[12];
// Days before each month, common and leap year.
extern const unsigned short int __mon_yday[2][13];

char *cm_strptime(const char *buf, const char *format, struct tm *tm);
char *strptime_internal(const char *buf, const char *format, struct tm *tm, locale_status *decided);
struct tm *my_localtime_r(const time_t *t, struct tm *tp);
void day_of_the_week(struct tm *tm);
void day_of_the_year(struct tm *tm);

#endif
