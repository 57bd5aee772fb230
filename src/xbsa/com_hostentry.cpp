// The storage node's host entry of a command-interface answer:
// "host[:port[:user[:password]]]" with the default port and secure login.
#include <string.h>

#include <string>
#include <vector>

#include "xbsa/com.h"

namespace {

bool put(const std::string &value, char *cpOut, size_t uiLen) {
  if (value.size() >= uiLen) return false;
  memcpy(cpOut, value.c_str(), value.size() + 1);
  return true;
}

}  // namespace

BOOL ParseCLIHostSpec(const char *cpHostSpecStr, char *cpHost, size_t uiHostLen, char *cpPort, size_t uiPortLen,
                      char *cpUser, size_t uiUserLen, char *cpPasswd, size_t uiPasswdLen) {
  if (!cpHostSpecStr || !cpHost || !cpPort || !cpUser || !cpPasswd) return FALSE;
  if (uiHostLen == 0 || uiPortLen == 0 || uiUserLen == 0 || uiPasswdLen == 0) return FALSE;
  if (cpHostSpecStr[0] == '\0') return FALSE;
  cpHost[0] = cpPort[0] = cpUser[0] = cpPasswd[0] = '\0';

  std::vector<std::string> fields(1);
  for (const char *cp = cpHostSpecStr; *cp; ++cp) {
    if (*cp == ':') {
      fields.emplace_back();
    } else {
      fields.back() += *cp;
    }
  }
  // A fifth field would be a password holding ':' or a malformed entry:
  // never cut it silently.
  size_t uiFields = fields.size();
  if (uiFields > 4) return FALSE;
  fields.resize(4);
  std::string &host = fields[0], &port = fields[1], &user = fields[2], &pass = fields[3];
  if (host.empty()) return FALSE;
  if (port.empty()) port = COM_DEFAULT_PORT;
  if (user.empty() || (user == "sms" && pass.empty())) user = COM_SECURE_USER;
  // Three fields name a user without a password: only the secure login
  // ("sms" or no user) works without one.
  if (uiFields == 3 && user != COM_SECURE_USER) return FALSE;
  if (!put(host, cpHost, uiHostLen) || !put(port, cpPort, uiPortLen) || !put(user, cpUser, uiUserLen) ||
      !put(pass, cpPasswd, uiPasswdLen)) {
    cpHost[0] = cpPort[0] = cpUser[0] = cpPasswd[0] = '\0';
    return FALSE;
  }
  return TRUE;
}
