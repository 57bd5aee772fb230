// Regular-expression prefix replacement of a path with back references, and
// the report of a regular-expression library error.
#include "client/vrk_change_path.h"

#include <pcre2posix.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/cm_path_cat.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

// Owns a compiled expression for the length of one call.
struct CompiledRegex {
  regex_t re;
  bool compiled = false;
  ~CompiledRegex() {
    if (compiled) regfree(&re);
  }
};

// The default expression: the directory in front of the name.
ERROR_CHANGE_PATH prepend_directory(char *cpFileName, const std::string &name,
                                    const char *cpTargetPath) {
  // The joined path must fit the name's buffer; the join refuses a longer one.
  std::vector<char> dest(VRK_CHG_PATH_MAX_NAME + 1, '\0');
  if (strlen(cpTargetPath) > VRK_CHG_PATH_MAX_NAME) {
    trace("%l0 ERROR: relocated path of [%s] is longer than %d characters", name.c_str(),
          VRK_CHG_PATH_MAX_NAME);
    return ERROR_CHG_PATH_ERROR;
  }
  strlcpy(dest.data(), cpTargetPath, dest.size());
  std::vector<char> src(name.begin(), name.end());
  src.push_back('\0');
  PATH_CAT_ERROR rc = PathCatSpecialEx(dest.data(), dest.size(), src.data(), nullptr, 0,
                                       PATH_CAT_POLICY_PLAIN_CAT);
  // Both paths are given: the join refuses them only when they do not fit.
  if (rc == PATH_CAT_ERROR_INCORRECT_ARGS) {
    trace("%l0 ERROR: relocated path of [%s] is longer than %d characters", name.c_str(),
          VRK_CHG_PATH_MAX_NAME);
    return ERROR_CHG_PATH_ERROR;
  }
  if (rc != PATH_CAT_ERROR_OK) {
    trace("%l2 Can't concatenate: [%s] + [%s] with policy PATH_CAT_POLICY_REMOVE_DRIVE_LETTER",
          name.c_str(), cpTargetPath);
    return ERROR_CHG_PATH_ERROR;
  }
  size_t len = strnlen(dest.data(), dest.size());
  memcpy(cpFileName, dest.data(), len);
  cpFileName[len] = '\0';
  return ERROR_CHG_PATH_OK;
}

// The text group n matched; empty when the group took no part in the match.
std::string group_text(const std::string &name, const regmatch_t &m) {
  if (m.rm_so < 0 || m.rm_eo < m.rm_so || static_cast<size_t>(m.rm_eo) > name.size()) return "";
  return name.substr(static_cast<size_t>(m.rm_so), static_cast<size_t>(m.rm_eo - m.rm_so));
}

}  // namespace

void PrintRegExpErrorMessage(int iRegError, const void *preg) {
  char text[1024];
  if (preg == nullptr) {
    strlcpy(text, "Incorrect parameter", sizeof(text));
  } else {
    regerror(iRegError, static_cast<const regex_t *>(preg), text, sizeof(text));
  }
  trace("Problem with regular expression, library reports: \"%s\"", text);
}

ERROR_CHANGE_PATH vrk_change_path(char *cpFileName, const char *cpPath, const char *cpTargetPath,
                                  int iLogLevel) {
  if (cpFileName == nullptr || cpPath == nullptr || cpTargetPath == nullptr) {
    trace("%l0 ERROR: Incorrect parameters passwd to vrk_change_path()");
    return ERROR_CHG_PATH_ERROR;
  }
  size_t nameLen = strnlen(cpFileName, VRK_CHG_PATH_MAX_NAME + 1);
  size_t patternLen = strnlen(cpPath, VRK_CHG_PATH_MAX_PATTERN + 1);
  if (nameLen > VRK_CHG_PATH_MAX_NAME || patternLen > VRK_CHG_PATH_MAX_PATTERN) {
    trace("%l0 ERROR: path or pattern too long for relocation (at most %d and %d characters)",
          VRK_CHG_PATH_MAX_NAME, VRK_CHG_PATH_MAX_PATTERN);
    return ERROR_CHG_PATH_ERROR;
  }
  const std::string name(cpFileName, nameLen);
  const std::string pattern(cpPath, patternLen);
  trace("%l3 regular expression: \"%s\"", pattern.c_str());

  if (pattern.empty()) return prepend_directory(cpFileName, name, cpTargetPath);

  CompiledRegex rx;
  int rc = regcomp(&rx.re, pattern.c_str(), 0);
  if (rc != 0) {
    PrintRegExpErrorMessage(rc, &rx.re);
    return VRK_CHANGE_PATH_SKIP;
  }
  rx.compiled = true;
  trace("%l3 regcomp with %ld back references", static_cast<long>(rx.re.re_nsub));

  // The whole match and at most VRK_CHG_PATH_MAX_GROUPS groups.
  regmatch_t match[VRK_CHG_PATH_MAX_GROUPS + 1];
  for (regmatch_t &m : match) m.rm_so = m.rm_eo = -1;
  rc = regexec(&rx.re, name.c_str(), VRK_CHG_PATH_MAX_GROUPS + 1, match, 0);
  if (rc == REG_NOMATCH) {
    if (iLogLevel > 2)
      trace("RE processing gave no matches: %s ~!~ %s", name.c_str(), pattern.c_str());
    return VRK_CHANGE_PATH_SKIP;
  }
  if (rc != 0) {
    PrintRegExpErrorMessage(rc, &rx.re);
    return ERROR_CHG_PATH_ERROR;
  }
  if (match[0].rm_so != 0) {
    if (iLogLevel >= 3) {
      trace("%l3 matching: start %d - end %d", static_cast<int>(match[0].rm_so),
            static_cast<int>(match[0].rm_eo));
      trace("RE processing gave no match at begin: %s ~!~ %s", name.c_str(), pattern.c_str());
    }
    return VRK_CHANGE_PATH_SKIP;
  }
  if (iLogLevel > 3) {
    trace("matching: start %d - end %d", static_cast<int>(match[0].rm_so),
          static_cast<int>(match[0].rm_eo));
    trace("target prefix %s", cpTargetPath);
  }

  size_t groups = rx.re.re_nsub;
  if (groups > VRK_CHG_PATH_MAX_GROUPS) groups = VRK_CHG_PATH_MAX_GROUPS;
  std::string result;
  if (groups == 0 || strchr(cpTargetPath, '\\') == nullptr) {
    size_t end = static_cast<size_t>(match[0].rm_eo);
    if (end > name.size()) end = name.size();
    result = std::string(cpTargetPath) + name.substr(end);
  } else {
    if (iLogLevel > 3) {
      trace("target prefix contains '\\'");
      trace("token is: \"%s\"", cpTargetPath);
    }
    // Each group n replaces the first "\n" of the replacement, the rightmost
    // reference first: what a group puts in then lies behind every reference
    // still to come, so a matched name that holds a backslash and a digit is
    // never taken for a reference. The work buffer holds every stage.
    const std::string repl(cpTargetPath);
    std::vector<size_t> at(groups + 1, std::string::npos);
    std::vector<size_t> order;
    size_t room = repl.size();
    for (size_t n = 1; n <= groups; ++n) {
      char token[3] = {'\\', static_cast<char>('0' + n), '\0'};
      at[n] = repl.find(token);
      if (at[n] == std::string::npos) {
        trace("ERROR: Can't process the backreference \\%d", static_cast<int>(n));
        return ERROR_CHG_PATH_ERROR;
      }
      room += group_text(name, match[n]).size();
      order.push_back(n);
    }
    std::sort(order.begin(), order.end(), [&at](size_t a, size_t b) { return at[a] > at[b]; });
    std::vector<char> work(repl.begin(), repl.end());
    work.resize(room + 1, '\0');
    for (size_t n : order) {
      char token[3] = {'\\', static_cast<char>('0' + n), '\0'};
      if (strreplace(work.data(), room, token, group_text(name, match[n]).c_str()) !=
          STRREPLACE_ERROR_OK) {
        trace("ERROR: Can't process the backreference \\%d", static_cast<int>(n));
        return ERROR_CHG_PATH_ERROR;
      }
    }
    result = work.data();
    if (result.size() > VRK_CHG_PATH_MAX_NAME) {
      trace("ERROR: Can't process the backreference \\%d", static_cast<int>(groups));
      return ERROR_CHG_PATH_ERROR;
    }
  }
  if (result.size() > VRK_CHG_PATH_MAX_NAME) {
    trace("%l0 ERROR: relocated path of [%s] is longer than %d characters", name.c_str(),
          VRK_CHG_PATH_MAX_NAME);
    return ERROR_CHG_PATH_ERROR;
  }
  memcpy(cpFileName, result.c_str(), result.size() + 1);
  if (iLogLevel >= 3) trace("target file %s", cpFileName);
  return ERROR_CHG_PATH_OK;
}
