// Regular-expression prefix replacement of a path with back references, and
// the report of a regular-expression library error.
#ifndef VRK_CLIENT_VRK_CHANGE_PATH_H
#define VRK_CLIENT_VRK_CHANGE_PATH_H

typedef enum ERROR_CHANGE_PATH {
  ERROR_CHG_PATH_ERROR = 0,
  ERROR_CHG_PATH_OK = 1,
  VRK_CHANGE_PATH_SKIP = 100  // the pattern does not apply to this path
} ERROR_CHANGE_PATH;

// Longest file name and result (without the terminating zero) and longest
// pattern vrk_change_path accepts.
#define VRK_CHG_PATH_MAX_NAME 4095
#define VRK_CHG_PATH_MAX_PATTERN 4105

// Groups of a pattern that back references can name (\1 to \8).
#define VRK_CHG_PATH_MAX_GROUPS 8

// Relocates cpFileName in place: cpPath is a pattern that must match from the
// first character (an empty pattern puts the directory cpTargetPath in front
// of the name), cpTargetPath its replacement. cpFileName must have room for
// VRK_CHG_PATH_MAX_NAME + 1 bytes; a result that would be longer is an error
// and leaves cpFileName unchanged.
ERROR_CHANGE_PATH vrk_change_path(char *cpFileName, const char *cpPath, const char *cpTargetPath,
                                  int iLogLevel);

// Writes the library's text for a regular-expression error; preg is the
// compiled expression (a regex_t of the POSIX interface) or NULL.
void PrintRegExpErrorMessage(int iRegError, const void *preg);

#endif
