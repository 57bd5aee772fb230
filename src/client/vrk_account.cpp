// User and group ids of a user name, looked up by the exact name in the
// password database.
#include <errno.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "client/vrk_util.h"
#include "runtime/vrk_log.h"

namespace {

// The password entry of exactly that name into *pw; false when there is none.
bool lookup(const char *cpUsername, struct passwd *pw, std::vector<char> &buf) {
  if (cpUsername == nullptr || *cpUsername == '\0') return false;
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  buf.assign(hint > 0 ? (size_t)hint : 1024, '\0');
  for (;;) {
    struct passwd *result = nullptr;
    int rc = getpwnam_r(cpUsername, pw, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.assign(buf.size() * 2, '\0');
      continue;
    }
    if (rc != 0) {
      vrk_log(3500, "Error opening /etc/passwd, errno %d", rc);
      return false;
    }
    return result != nullptr;
  }
}

}  // namespace

int iGetUserId(char *cpUsername) {
  struct passwd pw;
  std::vector<char> buf;
  if (!lookup(cpUsername, &pw, buf)) return -1;
  return (int)pw.pw_uid;
}

int iGetGroupId(char *cpUsername) {
  struct passwd pw;
  std::vector<char> buf;
  if (!lookup(cpUsername, &pw, buf)) return -1;
  return (int)pw.pw_gid;
}
