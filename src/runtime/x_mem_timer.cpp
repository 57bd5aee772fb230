// Memory and timer helpers: malloc/free wrappers, monotonic millisecond
// timers, the current time with milliseconds and millisecond sleeps.
#include "runtime/x_mem_timer.h"

#include <stdlib.h>
#include <time.h>

void *x_Malloc(size_t size) { return malloc(size); }

void x_Free(void *memblock) { free(memblock); }

void x_TimerStart(void **vppO_TimerHandle) {
  if (vppO_TimerHandle == NULL) return;
  // The start is taken on the monotonic clock, so that a change of the
  // system time during a transfer does not distort the elapsed time.
  struct timespec *start = (struct timespec *)x_Malloc(sizeof(struct timespec));
  if (start != NULL) clock_gettime(CLOCK_MONOTONIC, start);
  *vppO_TimerHandle = start;
}

void x_TimerStop(void *vpI_TimerHandle, BOOL I_bRelease, unsigned long *ulpO_MilisecDiff) {
  const struct timespec *start = (const struct timespec *)vpI_TimerHandle;
  if (ulpO_MilisecDiff != NULL) {
    *ulpO_MilisecDiff = 0;
    if (start != NULL) {
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      long long ms = (long long)(now.tv_sec - start->tv_sec) * 1000 + (now.tv_nsec - start->tv_nsec) / 1000000;
      *ulpO_MilisecDiff = ms > 0 ? (unsigned long)ms : 0;
    }
  }
  if (I_bRelease) x_Free(vpI_TimerHandle);
}

int i_MY_FTIME(int *iTime, int *millitm, int *iTimezone, int *dstflag) {
  struct timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
  struct tm local;
  if (localtime_r(&now.tv_sec, &local) == NULL) return 0;
  if (iTime) *iTime = (int)now.tv_sec;
  if (millitm) *millitm = (int)(now.tv_nsec / 1000000);
  if (iTimezone) *iTimezone = (int)(timezone / 60);  // standard time, as localtime_r set it
  if (dstflag) *dstflag = local.tm_isdst > 0 ? 1 : 0;
  return 1;
}

void wait_msec(int iMilliseconds) {
  if (iMilliseconds <= 0) return;
  struct timespec ts;
  ts.tv_sec = iMilliseconds / 1000;
  ts.tv_nsec = (long)(iMilliseconds % 1000) * 1000000L;
  nanosleep(&ts, NULL);  // a signal ends the pause early, as with usleep
}
