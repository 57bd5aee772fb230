// Parser of the "newer" sub-option: plain "newer", "newer=eq", "newer=gt" or
// "newer=YYYY-MM-DD hh:mm:ss".
#ifndef VRK_RUNTIME_CM_O_NEWER_H
#define VRK_RUNTIME_CM_O_NEWER_H

#include <time.h>

#include "runtime/strlib.h"
#include "runtime/vrk_types.h"

#ifndef VRK_O_NEWER_COMPARE_POLICY_DEFINED
#define VRK_O_NEWER_COMPARE_POLICY_DEFINED
typedef enum O_NEWER_COMPARE_POLICY {
  COMPARE_POLICY_GT = 0,
  COMPARE_POLICY_EQ = 1,
  COMPARE_POLICY_EXACT_TIME = 2
} O_NEWER_COMPARE_POLICY;
#endif

typedef enum eOPTIONS_PARSE_ERROR {
  X_PARSE_ERROR_OK = 0,
  X_PARSE_ERROR_INCORRECT_PARAM = 1,
  X_PARSE_ERROR_NOT_A_NEWER_OPTION = 2,
  X_PARSE_ERROR_UNKNOWN_COMPARISON_POLICY = 3
} OPTIONS_PARSE_ERROR;

OPTIONS_PARSE_ERROR ParseOption_o_newer(const CHAR_TYPE *OptionText, BOOL *InvokeNewer, time_t *RefDate,
                                        O_NEWER_COMPARE_POLICY *ComparePolicy);

#endif
