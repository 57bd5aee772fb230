// Files a process names after itself and removes before it ends: whether the
// process that made one has ended, and the removal of those it left behind.
#ifndef VRK_RUNTIME_X_LEFTOVER_H
#define VRK_RUNTIME_X_LEFTOVER_H

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

// True when pid is a process other than this one that no longer runs
// (kill(pid, 0) fails with ESRCH); a process of another user still runs.
bool x_process_ended(long pid);

// True when the entry `cpName` of the directory dirFd, not followed, is a
// regular file of one link that belongs to the effective user; *pst gets it.
bool x_own_single_file(int dirFd, const char *cpName, struct stat *pst = nullptr);

// The process id that cpName carries after sPrefix: the name is exactly the
// prefix and a positive number as a process writes its id (digits only, no
// leading zero). -1 for any other name.
long x_pid_after(const char *cpName, const std::string &sPrefix);

// Removes from the directory cpDir the entries named one of the prefixes and
// the id of a process that has ended, where the entry is a regular file of
// one link of the effective user; anything else there is left alone.
// The names removed.
std::vector<std::string> x_remove_ended_leftovers(const char *cpDir, const std::vector<std::string> &prefixes);

#endif
