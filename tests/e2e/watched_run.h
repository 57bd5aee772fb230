// The client run for a backup job while the test watches it: the name kept
// for the tests that call it so; the run itself is BackupJob::Run.
#ifndef VRK_TESTS_E2E_WATCHED_RUN_H
#define VRK_TESTS_E2E_WATCHED_RUN_H

#include <string>
#include <vector>

#include "backup_job.h"

namespace e2e {

inline Result RunWatched(const BackupJob &job, const std::vector<std::string> &args, const Watch &watch,
                         int stdinFd = -1) {
  return job.Run(args, watch, stdinFd);
}

// extraEnv comes first: its entries win over the ones the harness sets.
inline Result RunWatched(const BackupJob &job, const std::vector<std::string> &args, const Watch &watch,
                         const std::vector<std::string> &extraEnv) {
  return job.Run(args, watch, -1, extraEnv);
}

}  // namespace e2e

#endif
