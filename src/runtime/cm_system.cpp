// Running a command line through "/bin/sh -c", waiting for the shell (also
// while it is only stopped) and reporting how it ended.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "runtime/cm_exec.h"
#include "runtime/cm_exec_internal.h"
#include "runtime/vrk_log.h"

extern char **environ;

namespace {

void report(const std::string &prefix, const std::string &text, bool traced) {
  if (traced) trace("%s: %s", prefix.c_str(), text.c_str());
  exec_report(prefix, text);
}

}  // namespace

int i_cm_system(const char *cpExe) {
  if (cpExe != nullptr) i_setenv_korva(cpExe);
  if (cpExe == nullptr) return 1;
  const std::string prefix = std::string("Error: start_system: ") + cpExe;
  StartPipe start;
  bool piped = start.open();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    char sh[] = "sh";
    char dashC[] = "-c";
    char *argv[] = {sh, dashC, const_cast<char *>(cpExe), nullptr};
    execve("/bin/sh", argv, environ);
    int err = errno;
    if (piped) start.child_failed(err);
    fprintf(stderr, "start_system (child): %s (%d)\n", strerror(err), err);
    _exit(160 + err);
  }
  int startErr = piped ? start.parent_result() : 0;
  int status = 0;
  for (;;) {
    pid_t got = waitpid(pid, &status, WUNTRACED);
    if (got < 0) {
      int err = errno;
      if (err == EINTR) continue;
      fprintf(stderr, "start_system: no child to wait for! %s (errno=%d)\n", strerror(err), err);
      report(prefix, std::string("no child to wait for: ") + strerror(err), false);
      return -1;
    }
    if (WIFSTOPPED(status)) {
      trace("%l3 start_system: child %d stopped by signal %d, waiting on", static_cast<int>(pid),
            WSTOPSIG(status));
      continue;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
  }
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
    fprintf(stderr, "/bin/sh terminated abnormally %d...\n", 0);
    report(prefix, "/bin/sh terminated abnormally", false);
    fprintf(stderr, "/bin/sh terminated due to the receipt of a signal that was not caught: %d\n", sig);
    report(prefix,
           "/bin/sh terminated due to receipt of a signal that was not caught: " + std::to_string(sig),
           true);
    return 128 + sig;
  }
  int code = WEXITSTATUS(status);
  if (startErr != 0) {
    fprintf(stderr, "exe could not start!\n");
    fprintf(stderr, "start_system: %s (%d)\n", strerror(startErr), startErr);
    report(prefix, std::string("could not start: ") + strerror(startErr), true);
  } else if (code >= 128 && code <= 160) {
    // The shell's way of telling that its command was ended by a signal.
    fprintf(stderr, "exe terminated due to the receipt of a signal that was not caught: %d\n",
            code - 128);
    report(prefix,
           "terminated due to receipt of a signal that was not caught: " + std::to_string(code - 128),
           true);
  } else if (code == 127) {
    fprintf(stderr, "start_system: please check: %s (%d)\n", strerror(ENOENT), ENOENT);
    std::string text = std::string("could not start (ENOENT): ") + strerror(ENOENT);
    exec_report(prefix, text);
    fprintf(stderr, "start_system: [%s]\n", text.c_str());
    trace("%s: %s", prefix.c_str(), text.c_str());
  }
  return code;
}
