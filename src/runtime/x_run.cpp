// x_RunProgram: fork and exec of an argument vector with an optional pipe for
// its output; the exit status is decoded so a signal never reads as success.
#include "runtime/x_run.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

bool same_name(const char *entry, const std::string &assignment) {
  size_t eq = assignment.find('=');
  if (eq == std::string::npos) return false;
  return strncmp(entry, assignment.c_str(), eq + 1) == 0;
}

// The program waited for now; read by signal handlers.
volatile sig_atomic_t gRunningChild = 0;

}  // namespace

pid_t x_RunningChild(void) { return (pid_t)gRunningChild; }

namespace {

// Runs the program and waits for it. kWaited with its wait status in
// *status; kExecFailed when it could not be executed (errno set);
// kNotStarted when no child could be made or waited for.
enum RunEnd { kWaited, kExecFailed, kNotStarted };

RunEnd run_and_wait(const X_RUN_REQUEST &req, int *status) {
  if (req.argv.empty()) {
    errno = EINVAL;
    return kNotStarted;
  }
  // Everything the child needs is built before the fork.
  std::vector<char *> argv;
  for (const std::string &a : req.argv) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char *> envp;
  for (char **e = environ; e != nullptr && *e != nullptr; e++) {
    bool replaced = false;
    for (const std::string &s : req.environment) replaced = replaced || same_name(*e, s);
    if (!replaced) envp.push_back(*e);
  }
  for (const std::string &s : req.environment) envp.push_back(const_cast<char *>(s.c_str()));
  envp.push_back(nullptr);

  int pipeFd[2] = {-1, -1};
  if (req.output != nullptr && pipe2(pipeFd, O_CLOEXEC) != 0) return kNotStarted;
  // A pipe to report a failed exec; it closes by itself on a successful one.
  int errFd[2];
  if (pipe2(errFd, O_CLOEXEC) != 0) {
    int saved = errno;
    if (pipeFd[0] >= 0) {
      close(pipeFd[0]);
      close(pipeFd[1]);
    }
    errno = saved;
    return kNotStarted;
  }

  // SIGTERM and SIGHUP wait until the child is known, so that a handler
  // that ends the client ends the child too; the child takes them again.
  sigset_t ending, before;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  sigprocmask(SIG_BLOCK, &ending, &before);
  pid_t pid = fork();
  if (pid > 0) gRunningChild = (sig_atomic_t)pid;
  if (pid != 0) sigprocmask(SIG_SETMASK, &before, nullptr);
  if (pid < 0) {
    int saved = errno;
    if (pipeFd[0] >= 0) {
      close(pipeFd[0]);
      close(pipeFd[1]);
    }
    close(errFd[0]);
    close(errFd[1]);
    errno = saved;
    return kNotStarted;
  }
  if (pid == 0) {
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (req.umaskValue >= 0) umask((mode_t)req.umaskValue);
    if (req.output != nullptr) {
      dup2(pipeFd[1], STDOUT_FILENO);
      if (req.mergeStderr) dup2(pipeFd[1], STDERR_FILENO);
    } else if (!req.stdoutFile.empty()) {
      int fd = open(req.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd < 0) {
        int e = errno;
        ssize_t w = write(errFd[1], &e, sizeof(e));
        (void)w;
        _exit(127);
      }
      dup2(fd, STDOUT_FILENO);
      close(fd);
    }
    execvpe(argv[0], argv.data(), envp.data());
    int e = errno;
    ssize_t w = write(errFd[1], &e, sizeof(e));
    (void)w;
    _exit(127);
  }

  close(errFd[1]);
  if (req.output != nullptr) {
    close(pipeFd[1]);
    char buf[4096];
    for (;;) {
      ssize_t n = read(pipeFd[0], buf, sizeof(buf));
      if (n > 0) {
        req.output->append(buf, (size_t)n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    close(pipeFd[0]);
  }
  int childErr = 0;
  ssize_t got;
  do {
    got = read(errFd[0], &childErr, sizeof(childErr));
  } while (got < 0 && errno == EINTR);
  close(errFd[0]);

  pid_t w;
  do {
    w = waitpid(pid, status, 0);
  } while (w < 0 && errno == EINTR);
  gRunningChild = 0;
  if (w < 0) return kNotStarted;
  if (got == (ssize_t)sizeof(childErr)) {
    errno = childErr;
    return kExecFailed;
  }
  return kWaited;
}

}  // namespace

int x_RunProgram(const X_RUN_REQUEST &req) {
  int status = 0;
  if (run_and_wait(req, &status) != kWaited) return X_RUN_NOT_STARTED;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return X_RUN_SIGNAL_BASE + WTERMSIG(status);
  return X_RUN_NOT_STARTED;
}

int x_RunProgramStatus(const X_RUN_REQUEST &req) {
  int status = 0;
  RunEnd end = run_and_wait(req, &status);
  if (end == kNotStarted) return -1;
  // A shell that cannot execute the command ends with 127.
  if (end == kExecFailed) return 127 << 8;
  return status;
}


std::string x_RunResultText(int iResult) {
  char buf[96];
  if (iResult == X_RUN_NOT_STARTED)
    snprintf(buf, sizeof(buf), "not started");
  else if (iResult > X_RUN_SIGNAL_BASE)
    snprintf(buf, sizeof(buf), "ended by signal %d", iResult - X_RUN_SIGNAL_BASE);
  else
    snprintf(buf, sizeof(buf), "exit status %d", iResult);
  return buf;
}

std::string x_RunCommandText(const std::vector<std::string> &argv) {
  std::string text;
  for (const std::string &a : argv) {
    if (!text.empty()) text += ' ';
    if (a.find_first_of(" \t\"") != std::string::npos)
      text += "\"" + a + "\"";
    else
      text += a;
  }
  return text;
}
