// A forked helper process for the lock tests: runs a function, reports that
// it is ready through a pipe and then waits until it is killed.
#ifndef VRK_TESTS_RUNTIME_PROC_CHILD_H
#define VRK_TESTS_RUNTIME_PROC_CHILD_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace vrktest {

class HolderChild {
 public:
  // body returns the byte the child reports; it then blocks until killed.
  explicit HolderChild(const std::function<char()> &body) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      char c = body();
      if (write(fds[1], &c, 1) != 1) _exit(2);
      for (;;) pause();
    }
    close(fds[1]);
    if (pid_ > 0 && read(fds[0], &report_, 1) != 1) report_ = '\0';
    close(fds[0]);
  }
  ~HolderChild() { Kill(); }
  HolderChild(const HolderChild &) = delete;
  HolderChild &operator=(const HolderChild &) = delete;

  pid_t pid() const { return pid_; }
  char report() const { return report_; }
  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      int st;
      waitpid(pid_, &st, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  char report_ = '\0';
};

// Runs body in a child process and returns its exit status (-1 on failure).
inline int RunInChild(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int st = 0;
  if (pid < 0 || waitpid(pid, &st, 0) != pid || !WIFEXITED(st)) return -1;
  return WEXITSTATUS(st);
}

}  // namespace vrktest

#endif
