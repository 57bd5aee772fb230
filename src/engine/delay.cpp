// The random retry delay and the single pause function of the engine, with
// the test scale that shortens every pause.
#include "engine/delay.h"

#include <errno.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "client/vrk_global.h"
#include "runtime/vrk_log.h"

int random_delay(int iMin, int iMax) {
  srand((unsigned int)(time(nullptr) + getpid()));
  int r = rand();
  return (int)((double)r * (double)iMax / 2147483647.0 + (double)iMin);
}

namespace {

// The test scale factor: 1 unless VRK_TEST_DELAY_SCALE holds a number from 0 to 1.
double delay_scale() {
  const char *cp = getenv(VRK_TEST_DELAY_SCALE_ENV);
  if (cp == nullptr || *cp == '\0') return 1.0;
  char *end = nullptr;
  double d = strtod(cp, &end);
  if (end == cp || *end != '\0' || !(d >= 0.0) || d > 1.0) return 1.0;
  return d;
}

}  // namespace

void vrk_pause_ms(long iMilliseconds) {
  // A stopping signal that came just before the pause ends it too.
  if (iMilliseconds <= 0 || spGlobal->sVRKObject.iSigRecv) return;
  double ms = (double)iMilliseconds * delay_scale();
  struct timespec req;
  req.tv_sec = (time_t)(ms / 1000.0);
  req.tv_nsec = (long)((ms - (double)req.tv_sec * 1000.0) * 1000000.0);
  if (req.tv_nsec < 0) req.tv_nsec = 0;
  if (req.tv_nsec > 999999999L) req.tv_nsec = 999999999L;
  struct timespec rem;
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) {
    if (spGlobal->sVRKObject.iSigRecv) return;
    req = rem;
  }
}

void vrk_random_pause(int iMin, int iMax) {
  int iDelay = random_delay(iMin, iMax);
  vrk_log(3500, "Delay  %2d ms", iDelay);
  vrk_pause_ms(iDelay);
}
