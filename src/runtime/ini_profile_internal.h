// The profile reader's inner interface: lookups with a detailed status, so
// that callers can tell a missing key from a refused (over-long) one.
#ifndef VRK_RUNTIME_INI_PROFILE_INTERNAL_H
#define VRK_RUNTIME_INI_PROFILE_INTERNAL_H

#include <stddef.h>

#include <string>

#include "runtime/LL.h"

enum ProfileStatus {
  PROFILE_OK = 0,
  PROFILE_NO_FILE,     // no name or the file cannot be opened
  PROFILE_NO_SECTION,  // the section was never seen
  PROFILE_NO_KEY,      // the section has no such key
  PROFILE_EMPTY,       // the key has no value
  PROFILE_REFUSED      // over-long line, key, section or value; reference cycle
};

// One value of cpKey into value (at most uMaxValue characters).
ProfileStatus profile_get_string(const char *cpFilename, const char *cpSection, const char *cpKey,
                                 size_t uMaxValue, std::string &value, std::string &msg);
// Every matching value appended to the list; *piFound gets their number.
ProfileStatus profile_get_list(const char *cpFilename, const char *cpSection, const char *cpKey,
                               t_LL list, std::string &msg, int *piFound);

// printf into a std::string.
std::string profile_format(const char *cpFormat, ...) __attribute__((format(printf, 1, 2)));
// Copies text into a caller's buffer of iLength bytes, cut and terminated.
void profile_put_msg(char *cpMsg, int iLength, const std::string &text);

#endif
