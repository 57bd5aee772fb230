// Starting the command-interface program without a shell: an argument
// vector, standard output to a pipe and standard error to /dev/null.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "xbsa/com.h"

extern char **environ;

bool com_start_child(const std::vector<std::string> &argv, COM_CHILD *pChild) {
  if (argv.empty() || !pChild) {
    errno = EINVAL;
    return false;
  }
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(NULL);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  int iErr = posix_spawn_file_actions_init(&actions);
  if (iErr == 0) {
    // Both pipe ends are closed on exec; the duplicate on 1 stays open.
    iErr = posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (iErr == 0) iErr = posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (iErr == 0) iErr = posix_spawnp(&pid, args[0], &actions, NULL, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (iErr == 0) {
      close(fds[1]);
      pChild->pid = (int)pid;
      pChild->fdOut = fds[0];
      return true;
    }
  }
  close(fds[0]);
  close(fds[1]);
  errno = iErr;
  return false;
}

void com_end_child(COM_CHILD *pChild, bool bKill) {
  if (!pChild) return;
  if (pChild->fdOut >= 0) {
    close(pChild->fdOut);
    pChild->fdOut = -1;
  }
  if (pChild->pid > 0) {
    if (bKill) kill((pid_t)pChild->pid, SIGKILL);
    int iStatus;
    while (waitpid((pid_t)pChild->pid, &iStatus, 0) < 0 && errno == EINTR) {
    }
    pChild->pid = -1;
  }
}
