// Running a program directly with an argument array or list, waiting for it
// and reporting a start failure, a signal or a failed wait.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/cm_exec.h"
#include "runtime/cm_exec_internal.h"
#include "runtime/vrk_log.h"

namespace {

const size_t kMaxProgram = 511;
const size_t kMaxPrefix = 1023;
const size_t kMaxCommand = 24575;

void report_not_started(const char *cpExe, const std::string &prefix, int err) {
  fprintf(stderr, "exe %s could not start!\n", cpExe);
  fprintf(stderr, "start_exe: %s (%d)\n", strerror(err), err);
  exec_report(prefix, std::string("could not start: ") + strerror(err));
}

std::string prefix_for(const char *cpExe) {
  std::string prefix = std::string("Error: start_exe: ") + cpExe;
  if (prefix.size() > kMaxPrefix) prefix.resize(kMaxPrefix);
  return prefix;
}

}  // namespace

int i_cm_execvp(const char *cpExe, char **pszArgs) {
  const char *exe = cpExe != nullptr ? cpExe : "";
  if (cpExe == nullptr || pszArgs == nullptr || strlen(exe) > kMaxProgram) {
    // Never run a cut name: it would start another program.
    int err = cpExe == nullptr || pszArgs == nullptr ? EINVAL : ENAMETOOLONG;
    report_not_started(exe, prefix_for(exe), err);
    return 128 + err;
  }
  if (!i_setenv_korva(exe)) {
    fprintf(stderr, "error occured in i_setenv_korva\n");
    return CM_EXEC_ENV_FAILED;
  }
  const std::string prefix = prefix_for(exe);
  StartPipe start;
  bool piped = start.open();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execvp(exe, pszArgs);
    int err = errno;
    if (piped) start.child_failed(err);
    fprintf(stderr, "start_exe (child): %s (%d)\n", strerror(err), err);
    _exit(128 + err);
  }
  if (pid < 0) {
    int err = errno;
    fprintf(stderr, "start_exe Unable to fork child process: %s (errno=%d)\n", strerror(err), err);
    exec_report(prefix, std::string("unable to fork child process: ") + strerror(err));
    exit(1);
  }
  int startErr = piped ? start.parent_result() : 0;
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid, &status, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    int err = errno;
    fprintf(stderr, "start_exe: no child to wait for! %s (errno=%d)\n", strerror(err), err);
    exec_report(prefix, std::string("no child to wait for: ") + strerror(err));
    return 127;
  }
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
    fprintf(stderr, "exe terminated abnormally %d...\n", 0);
    exec_report(prefix, "exe terminated abnormally");
    fprintf(stderr, "exe terminated due to the receipt of a signal that was not caught: %d\n", sig);
    exec_report(prefix, "terminated due to receipt of a signal that was not caught: " + std::to_string(sig));
    return 128 + sig;
  }
  int code = WEXITSTATUS(status);
  if (startErr != 0) report_not_started(exe, prefix, startErr);
  return code;
}

int i_cm_exec_LL(const char *cpExe, t_LL LL_ArgList) {
  const char *exe = cpExe != nullptr ? cpExe : "";
  if (strlen(exe) > kMaxCommand) {
    report_not_started(exe, prefix_for(exe), E2BIG);
    return 128 + E2BIG;
  }
  std::string copy(exe);
  if (LL_ArgList != nullptr) {
    // The caller's list stays as it is: the program name leads only the
    // argument array.
    std::vector<char *> args;
    args.push_back(&copy[0]);
    for (void *el = FirstElmLL(LL_ArgList); IsElmLL(el); el = NextElmLL(el))
      args.push_back(static_cast<char *>(el));
    args.push_back(nullptr);
    return i_cm_execvp(exe, args.data());
  }
  char *args[128];
  i_parse_cmd(&copy[0], args);
  if (args[0] == nullptr) {
    report_not_started(exe, prefix_for(exe), ENOENT);
    return 128 + ENOENT;
  }
  return i_cm_execvp(args[0], args);
}

int i_cm_exec(const char *cpExe) { return i_cm_exec_LL(cpExe, nullptr); }

void event_log_lib_interface(int argc, char **argv) {
  (void)argc;
  (void)argv;
  char cmd[64];
  snprintf(cmd, sizeof(cmd), "cat \"%s\"", "/var/log/messages");
  i_cm_exec(cmd);
}
