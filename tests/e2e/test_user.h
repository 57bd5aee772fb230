// Unprivileged users made by the tests, for the runs where root works beside
// another user's files or an ordinary user runs the client.
#ifndef VRK_TESTS_E2E_TEST_USER_H
#define VRK_TESTS_E2E_TEST_USER_H

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace e2e {

struct TestUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The user `name` ("vrk-t-a", "vrk-t-b", ...), made with useradd on first use
// under a lock shared by all test processes. False, with the reason in *why,
// where the test does not run as root or the machine cannot make users.
inline bool MakeTestUser(const std::string &name, TestUser *user, std::string *why) {
  if (geteuid() != 0) {
    *why = "the test does not run as root, so it cannot make a second user";
    return false;
  }
  int lock = open("/tmp/.vrktest-users.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock >= 0) flock(lock, LOCK_EX);
  struct passwd *pw = getpwnam(name.c_str());
  if (!pw) {
    std::string cmd = "useradd --system --no-create-home --shell /usr/sbin/nologin '" + name + "' >/dev/null 2>&1";
    if (system(cmd.c_str()) == 0) pw = getpwnam(name.c_str());
  }
  if (lock >= 0) close(lock);
  if (!pw) {
    *why = "useradd could not make the user " + name;
    return false;
  }
  user->name = name;
  user->uid = pw->pw_uid;
  user->gid = pw->pw_gid;
  return true;
}

// Drops this process to the user, for good (in a child only).
inline bool BecomeUser(const TestUser &u) {
  return setgroups(0, nullptr) == 0 && setgid(u.gid) == 0 && setuid(u.uid) == 0;
}

// Runs fn in a child process as the user; true when fn returned true.
inline bool AsUser(const TestUser &u, const std::function<bool()> &fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(BecomeUser(u) && fn() ? 0 : 1);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Gives the tree at path (the path itself included, links not followed) to the user.
inline bool GiveTree(const std::string &path, const TestUser &u) {
  std::string cmd = "chown -R -h " + std::to_string(u.uid) + ":" + std::to_string(u.gid) + " '" + path + "'";
  return system(cmd.c_str()) == 0;
}

}  // namespace e2e

#endif
