// The start-failure pipe of the program starters and their protocol report.
#include "runtime/cm_exec_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "runtime/cm_lang.h"
#include "runtime/prot.h"

void exec_report(const std::string &prefix, const std::string &text) {
  PROT(cpCmdExecErrorFormat(), prefix.c_str(), text.c_str());
}

bool StartPipe::open() { return pipe2(fd, O_CLOEXEC) == 0; }

void StartPipe::child_failed(int err) {
  if (fd[1] >= 0) {
    ssize_t w = write(fd[1], &err, sizeof(err));
    (void)w;
  }
}

int StartPipe::parent_result() {
  if (fd[1] >= 0) {
    close(fd[1]);
    fd[1] = -1;
  }
  if (fd[0] < 0) return 0;
  int err = 0;
  ssize_t n;
  do {
    n = read(fd[0], &err, sizeof(err));
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof(err)) ? err : 0;
}

StartPipe::~StartPipe() {
  for (int &f : fd)
    if (f >= 0) close(f);
}
