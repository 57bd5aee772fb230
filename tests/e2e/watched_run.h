// The client binary run for a backup job while the test watches it: extra
// environment, and a check every few milliseconds that may signal it.
#ifndef VRK_TESTS_E2E_WATCHED_RUN_H
#define VRK_TESTS_E2E_WATCHED_RUN_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "backup_job.h"

namespace e2e {

// Called with the client's pid and what it wrote to standard error so far;
// true once it has done its work (it is not called again).
using Watch = std::function<bool(pid_t, const std::string &)>;

// extraEnv comes first: its entries win over the ones set here.
inline Result RunWatched(const BackupJob &job, const std::vector<std::string> &args, const Watch &watch,
                         const std::vector<std::string> &extraEnv = {}) {
  const char *binary = VRK_TEST_BINARY_DIR "/src/engine/vrk_nlm";
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return Result();
  std::vector<std::string> env(extraEnv);
  for (char **e = environ; *e; ++e) {
    std::string v = *e;
    if (v.rfind("VRK_", 0) == 0 || v.rfind("KV_INI=", 0) == 0 || v.rfind("KORVA_INI=", 0) == 0) continue;
    env.push_back(v);
  }
  env.push_back("VRK_SMS_WORLD=" + job.file("world"));
  env.push_back("KV_INI=" + job.file("korva.ini"));
  env.push_back("KORVA_INI=" + job.file("none.ini"));
  env.push_back("VRK_TEST_DELAY_SCALE=0.001");
  pid_t pid = fork();
  if (pid == 0) {
    // A group of its own: the client passes SIGTERM on to its group.
    setpgid(0, 0);
    if (chdir(job.file("").c_str()) != 0) _exit(120);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, STDIN_FILENO);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], devnull}) close(fd);
    std::vector<char *> argv{const_cast<char *>(binary)};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    execve(binary, argv.data(), envp.data());
    _exit(121);
  }
  setpgid(pid, pid);
  close(outPipe[1]);
  close(errPipe[1]);
  Result r;
  struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  bool watched = !watch;
  int idle = 0;
  while (open > 0) {
    int n = poll(fds, 2, 20);
    if (!watched) watched = watch(pid, r.err);
    if (n == 0) {
      // Two minutes without a byte: the client hangs.
      if (++idle > 6000) {
        kill(-pid, SIGKILL);
        break;
      }
      continue;
    }
    if (n < 0) break;
    idle = 0;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[65536];
      ssize_t got = read(fds[i].fd, buf, sizeof(buf));
      if (got <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? r.out : r.err).append(buf, (size_t)got);
    }
  }
  for (struct pollfd &f : fds)
    if (f.fd >= 0) close(f.fd);
  waitpid(pid, &r.status, 0);
  return r;
}

}  // namespace e2e

#endif
