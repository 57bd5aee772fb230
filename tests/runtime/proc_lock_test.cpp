// Tests of the single-instance lock across processes: a live holder, the
// refused second taker, an inquiry from the holder and a killed holder.
#include "runtime/proc_lock.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/korva_world.h"
#include "runtime/proc_child.h"
#include "vrk_test_util.h"

using vrktest::HolderChild;
using vrktest::KorvaWorld;
using vrktest::ReadFile;
using vrktest::RunInChild;

namespace {

char TakeExclusive(const char *name) {
  char msg[256];
  return i_GET_LOCK_FOR_PROCESS('+', name, msg, sizeof(msg)) == 1 ? 'y' : 'n';
}

TEST(ProcessLock, HolderRefusesSecondUntilKilled) {
  KorvaWorld world;
  HolderChild holder([] { return TakeExclusive("kv_proc_a"); });
  ASSERT_EQ('y', holder.report());
  EXPECT_EQ(std::to_string(holder.pid()) + "\n", ReadFile(world.file("work/sem/kv_proc_a.lock")));
  char msg[256];
  EXPECT_EQ(0, i_GET_LOCK_FOR_PROCESS('x', "kv_proc_a", msg, sizeof(msg)));
  EXPECT_STREQ("similar process kv_proc_a is already running (EACCESS/EAGAIN)", msg);
  EXPECT_EQ(0, i_GET_LOCK_FOR_PROCESS('*', "kv_proc_a", msg, sizeof(msg)));
  holder.Kill();
  EXPECT_EQ(1, i_GET_LOCK_FOR_PROCESS('x', "kv_proc_a", msg, sizeof(msg)));
  EXPECT_STREQ("got and released lock for kv_proc_a", msg);
  // Released at once: another process takes it now.
  EXPECT_EQ(0, RunInChild([] { return TakeExclusive("kv_proc_a") == 'y' ? 0 : 1; }));
}

TEST(ProcessLock, InquiryInHoldingProcessKeepsTheLock) {
  KorvaWorld world;
  char msg[256];
  ASSERT_EQ(1, i_GET_LOCK_FOR_PROCESS('+', "kv_proc_self", msg, sizeof(msg)));
  EXPECT_STREQ("got exclusive lock for kv_proc_self", msg);
  // The holder's own inquiry sees its lock and does not drop it.
  EXPECT_EQ(0, i_GET_LOCK_FOR_PROCESS('x', "kv_proc_self", msg, sizeof(msg)));
  EXPECT_STREQ("similar process kv_proc_self is already running (EACCESS/EAGAIN)", msg);
  EXPECT_EQ(1, RunInChild([] { return TakeExclusive("kv_proc_self") == 'y' ? 0 : 1; }));
}

TEST(ProcessLock, SharedLocksCoexistAndExcludeWriters) {
  KorvaWorld world;
  char msg[256];
  ASSERT_EQ(1, i_GET_LOCK_FOR_PROCESS('x', "kv_proc_s", msg, sizeof(msg)));
  HolderChild reader([] {
    char m[256];
    return i_GET_LOCK_FOR_PROCESS('*', "kv_proc_s", m, sizeof(m)) == 1 ? 'y' : 'n';
  });
  ASSERT_EQ('y', reader.report());
  EXPECT_EQ(1, i_GET_LOCK_FOR_PROCESS('*', "kv_proc_s", msg, sizeof(msg)));
  EXPECT_STREQ("got shared lock for kv_proc_s", msg);
  EXPECT_EQ(1, RunInChild([] { return TakeExclusive("kv_proc_s") == 'y' ? 0 : 1; }));
}

TEST(ProcessLock, Failures) {
  KorvaWorld world;
  char msg[256];
  EXPECT_EQ(0, i_GET_LOCK_FOR_PROCESS('*', "kv_never", msg, sizeof(msg)));
  EXPECT_EQ("failed to open lock file " + world.file("work/sem/kv_never.lock"), std::string(msg));
  EXPECT_EQ(0, i_GET_LOCK_FOR_PROCESS('+', "../escape", msg, sizeof(msg)));
  EXPECT_STREQ("invalid process name for a lock file: >../escape<", msg);
  char small[12];
  EXPECT_EQ(1, i_GET_LOCK_FOR_PROCESS('x', "kv_cut", small, sizeof(small)));
  EXPECT_STREQ("got and rel", small);
  unsetenv("KORVA_INI");
  EXPECT_EQ(0, i_GET_LOCK_FOR_PROCESS('x', "kv_proc_b", msg, sizeof(msg)));
  EXPECT_NE(nullptr, strstr(msg, "NO KORVA CONFIGURATION FILE FOUND")) << msg;
}

TEST(ProcessLock, AvoidMultiProcessEndsTheSecondInstance) {
  KorvaWorld world;
  EXPECT_EQ(0, RunInChild([] {
              AVOID_MULTI_PROCESS("kv_single", nullptr);
              return 0;
            }));
  HolderChild holder([] { return TakeExclusive("kv_single"); });
  ASSERT_EQ('y', holder.report());
  EXPECT_EQ(1, RunInChild([] {
              AVOID_MULTI_PROCESS("kv_single", nullptr);
              return 0;
            }));
}

}  // namespace
