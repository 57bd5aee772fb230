// Memory, timer and clock helpers of the host layer: allocation wrappers,
// millisecond timers on a monotonic clock, the time with milliseconds, sleeps.
#ifndef VRK_RUNTIME_X_MEM_TIMER_H
#define VRK_RUNTIME_X_MEM_TIMER_H

#include <stddef.h>

#include "runtime/vrk_types.h"

void *x_Malloc(size_t size);
void x_Free(void *memblock);
// Starts a timer; the handle belongs to the caller until x_TimerStop releases it.
void x_TimerStart(void **vppO_TimerHandle);
// Milliseconds since x_TimerStart; the handle is freed when I_bRelease is TRUE,
// so one timer may be read several times.
void x_TimerStop(void *vpI_TimerHandle, BOOL I_bRelease, unsigned long *ulpO_MilisecDiff);
// The current time: seconds, milliseconds, minutes west of Greenwich and the
// daylight-saving flag; 1, or 0 when the clock cannot be read.
int i_MY_FTIME(int *iTime, int *millitm, int *iTimezone, int *dstflag);
void wait_msec(int iMilliseconds);

#endif
