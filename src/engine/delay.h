// Pauses of the engine: the random retry delay and the one pause function
// through which every retry delay and fail-over wait goes.
#ifndef VRK_ENGINE_DELAY_H
#define VRK_ENGINE_DELAY_H

// Environment variable that scales every pause (a factor from 0 to 1, for
// tests; see docs/testing.md).
#define VRK_TEST_DELAY_SCALE_ENV "VRK_TEST_DELAY_SCALE"

// A delay in milliseconds from iMin to iMin + iMax; the generator is seeded
// from the time in seconds and the process id on every call.
int random_delay(int iMin, int iMax);

// Sleeps iMilliseconds (scaled by VRK_TEST_DELAY_SCALE); a stopping signal
// (iSigRecv) ends the pause early.
void vrk_pause_ms(long iMilliseconds);

// random_delay(iMin, iMax), logs "Delay  %2d ms" and pauses for it.
void vrk_random_pause(int iMin, int iMax);

#endif
