// ParseOption_o_newer: whether a "newer" option is given, and with which
// comparison policy or exact local reference time.
#include "runtime/cm_o_newer.h"

#include <stdio.h>
#include <string.h>

OPTIONS_PARSE_ERROR ParseOption_o_newer(const CHAR_TYPE *OptionText, BOOL *InvokeNewer, time_t *RefDate,
                                        O_NEWER_COMPARE_POLICY *ComparePolicy) {
  if (OptionText == NULL || InvokeNewer == NULL || RefDate == NULL || ComparePolicy == NULL)
    return X_PARSE_ERROR_INCORRECT_PARAM;
  if (strstr(OptionText, "newer") == NULL) return X_PARSE_ERROR_NOT_A_NEWER_OPTION;
  const char *eq = strchr(OptionText, '=');
  if (eq == NULL) {
    *InvokeNewer = TRUE;
    return X_PARSE_ERROR_OK;
  }

  struct tm tm;
  memset(&tm, 0, sizeof(tm));
  int read = sscanf(OptionText, "newer=%4d-%2d-%2d %2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec);
  // An empty value (sscanf's end of input) is no date: it falls to the
  // policy words below and is refused there.
  if (read >= 1) {
    tm.tm_mon -= 1;
    tm.tm_year -= 1900;
    tm.tm_isdst = -1;  // mktime decides daylight saving time
    *RefDate = mktime(&tm);
    *InvokeNewer = TRUE;
    *ComparePolicy = COMPARE_POLICY_EXACT_TIME;
    return X_PARSE_ERROR_OK;
  }
  const char *value = eq + 1;
  if (strcmp(value, "eq") == 0) {
    *InvokeNewer = TRUE;
    *ComparePolicy = COMPARE_POLICY_EQ;
    return X_PARSE_ERROR_OK;
  }
  if (strcmp(value, "gt") == 0) {
    *InvokeNewer = TRUE;
    *ComparePolicy = COMPARE_POLICY_GT;
    return X_PARSE_ERROR_OK;
  }
  return X_PARSE_ERROR_UNKNOWN_COMPARISON_POLICY;
}
