// The process's monotonic clock in milliseconds, for deadlines and waits
// that a change of the wall clock must not move.
#ifndef VRK_RUNTIME_MONO_CLOCK_H
#define VRK_RUNTIME_MONO_CLOCK_H

// Milliseconds of CLOCK_MONOTONIC.
long long mono_now_ms();

#endif
