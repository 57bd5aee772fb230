// The process's monotonic clock in milliseconds, for deadlines and waits
// that a change of the wall clock must not move.
#include "runtime/mono_clock.h"

#include <time.h>

long long mono_now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}
