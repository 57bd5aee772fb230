// The time texts of the command line (the -T reference time) read into a
// local calendar time.
#include <string.h>

#include "client/vrk_levels.h"
#include "runtime/cm_strptime.h"

time_t vrk_get_time(const char *cpTime, char cMode) {
  if (cpTime == nullptr) return (time_t)-1;
  struct tm tmTime;
  memset(&tmTime, 0, sizeof(tmTime));
  const char *end = cm_strptime(cpTime, cMode ? "%Y-%m-%d %H:%M:%S" : "%Y%m%d%H%M%S", &tmTime);
  // A text that is not a whole date is refused rather than read in part.
  if (end == nullptr || *end != '\0') return (time_t)-1;
  tmTime.tm_isdst = -1;
  return mktime(&tmTime);
}
