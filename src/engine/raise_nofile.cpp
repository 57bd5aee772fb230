// Raising the soft open-file limit to the hard limit at start: the scan of a
// deep tree holds a descriptor a level, and a low soft limit is no reason
// to leave a subtree out.
#include "engine/raise_nofile.h"

#include <sys/resource.h>

void RaiseOpenFileLimit(void) {
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == rl.rlim_max) return;
  rl.rlim_cur = rl.rlim_max;
  setrlimit(RLIMIT_NOFILE, &rl);  // a failure leaves the limit as it was
}
