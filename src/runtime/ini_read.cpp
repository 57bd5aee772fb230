// Reading the main ini by section and key, one value or a numbered list, and
// loading it whole as a dictionary.
#include <string.h>

#include <string>

#include "runtime/ini_lookup.h"
#include "runtime/ini_profile_internal.h"
#include "runtime/iniparser.h"
#include "runtime/vrk_log.h"

namespace {

const size_t kPathSize = 4096;
const size_t kMsgSize = 1024;

}  // namespace

int i_READ_INI(const char *cpIdentifier, const char *cpSection, const char *cpKey, char *cpValue,
               int iLengthValue, char *cpMsg, int iLengthMsg) {
  if (cpValue != nullptr && iLengthValue > 0) cpValue[0] = '\0';
  const char *id = (cpIdentifier != nullptr && *cpIdentifier != '\0') ? cpIdentifier : "KV_INI";
  char path[kPathSize];
  char msg[kMsgSize];
  msg[0] = '\0';
  if (!i_GET_ROOT_FOR_INI(id, path, sizeof(path), msg, sizeof(msg)) ||
      !i_GetPrivateProfileString(path, cpSection, cpKey, cpValue, iLengthValue, msg, sizeof(msg))) {
    trace("READ_INI: %s %s %s not found", id, cpSection ? cpSection : "", cpKey ? cpKey : "");
    profile_put_msg(cpMsg, iLengthMsg, msg);
    return 0;
  }
  profile_put_msg(cpMsg, iLengthMsg, msg);
  return 1;
}

int i_READ_INI_LIST(const char *cpIdentifier, const char *cpSection, const char *cpKey,
                    t_LL tllListOfValues, char *cpMsg, int iLengthMsg) {
  char path[kPathSize];
  char msg[kMsgSize];
  if (!i_GET_ROOT_FOR_INI(cpIdentifier, path, sizeof(path), msg, sizeof(msg))) {
    trace("%l0 i_READ_INI_LIST: i_GET_ROOT_FOR_INI() failed");
    profile_put_msg(cpMsg, iLengthMsg, "i_READ_INI_LIST: i_GET_ROOT_FOR_INI() failed");
    return 0;
  }
  std::string key = std::string(cpKey != nullptr ? cpKey : "") + "#";
  std::string why;
  int found = 0;
  ProfileStatus st = profile_get_list(path, cpSection, key.c_str(), tllListOfValues, why, &found);
  int n = (st == PROFILE_OK && tllListOfValues != nullptr) ? static_cast<int>(SizeLL(tllListOfValues))
                                                          : 0;
  trace("i_READ_INI_LIST: got %d values", n);
  if (n == 0) {
    trace("%l2 i_READ_INI_LIST: No values for [%s] found in [%s]", key.c_str(), path);
    profile_put_msg(cpMsg, iLengthMsg,
                    profile_format("i_READ_INI_LIST: No values for [%s] found in KV_INI", key.c_str()));
    return 0;
  }
  profile_put_msg(cpMsg, iLengthMsg, "");
  return n;
}

dictionary *p_PARSE_INI(const char *cpIni, char *cpMsg, int iLengthMsg) {
  char path[kPathSize];
  char msg[kMsgSize];
  if (!i_GET_ROOT_FOR_INI(cpIni, path, sizeof(path), msg, sizeof(msg))) {
    profile_put_msg(cpMsg, iLengthMsg, msg);
    return nullptr;
  }
  dictionary *d = iniparser_load(path);
  if (d == nullptr) {
    profile_put_msg(cpMsg, iLengthMsg, profile_format("p_PARSE_INI: cannot load %s", path));
    return nullptr;
  }
  profile_put_msg(cpMsg, iLengthMsg, "");
  return d;
}
