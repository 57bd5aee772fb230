// Tests of the console timer: it measures wall-clock time, not CPU time.
#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/console.h"

TEST(ConsoleTimer, CountsWallClockSeconds) {
  StartTimer();
  EXPECT_EQ(0u, ElapsedTime());
  sleep(1);  // idle: no CPU time passes, one second of wall clock does
  EXPECT_GE(ElapsedTime(), 1u);
}
