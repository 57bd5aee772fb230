// What the program starters share: the start-failure pipe between child and
// parent, and the protocol report in the command-execution error format.
#ifndef VRK_RUNTIME_CM_EXEC_INTERNAL_H
#define VRK_RUNTIME_CM_EXEC_INTERNAL_H

#include <string>

// Writes one report with PROT in the error format of the language setting.
void exec_report(const std::string &prefix, const std::string &text);

// A close-on-exec pipe: the child writes errno into it when its exec fails,
// so the parent tells a start failure from the program's own exit code.
struct StartPipe {
  int fd[2] = {-1, -1};
  bool open();
  // In the child: report errno (async-signal-safe).
  void child_failed(int err);
  // In the parent: 0 when the exec succeeded, else the child's errno.
  int parent_result();
  ~StartPipe();
};

#endif
