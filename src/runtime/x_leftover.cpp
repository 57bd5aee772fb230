// Files a process names after itself: whether their maker has ended, and the
// removal of those that a killed process of this user left behind.
#include "runtime/x_leftover.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

bool x_process_ended(long pid) {
  if (pid <= 0 || pid > INT_MAX || pid == (long)getpid()) return false;
  return kill((pid_t)pid, 0) != 0 && errno == ESRCH;
}

bool x_own_single_file(int dirFd, const char *cpName, struct stat *pst) {
  struct stat st;
  if (pst == nullptr) pst = &st;
  return fstatat(dirFd, cpName, pst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(pst->st_mode) && pst->st_nlink == 1 &&
         pst->st_uid == geteuid();
}

long x_pid_after(const char *cpName, const std::string &sPrefix) {
  if (strncmp(cpName, sPrefix.c_str(), sPrefix.size()) != 0) return -1;
  const char *cpDigits = cpName + sPrefix.size();
  size_t n = strlen(cpDigits);
  if (n == 0 || n > 10 || cpDigits[0] == '0' || strspn(cpDigits, "0123456789") != n) return -1;
  long pid = strtol(cpDigits, nullptr, 10);
  return pid > INT_MAX ? -1 : pid;
}

std::vector<std::string> x_remove_ended_leftovers(const char *cpDir, const std::vector<std::string> &prefixes) {
  std::vector<std::string> removed;
  int dirFd = cpDir ? open(cpDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (dirFd < 0) return removed;
  int listFd = dup(dirFd);
  DIR *d = listFd >= 0 ? fdopendir(listFd) : nullptr;
  if (d == nullptr) {
    if (listFd >= 0) close(listFd);
    close(dirFd);
    return removed;
  }
  std::vector<std::string> names;
  while (struct dirent *de = readdir(d)) {
    for (const std::string &prefix : prefixes) {
      if (x_process_ended(x_pid_after(de->d_name, prefix))) {
        names.push_back(de->d_name);
        break;
      }
    }
  }
  closedir(d);
  for (const std::string &name : names)
    if (x_own_single_file(dirFd, name.c_str()) && unlinkat(dirFd, name.c_str(), 0) == 0) removed.push_back(name);
  close(dirFd);
  return removed;
}
