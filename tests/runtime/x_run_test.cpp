// Tests of the shell-free program runner and the commands built on it:
// exit and signal results, du, chmod, touch and sort with hostile names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "runtime/cm_fs_cmds.h"
#include "runtime/cm_fs_usage.h"
#include "runtime/x_run.h"
#include "runtime/korva_world.h"
#include "vrk_test_util.h"

namespace {

using vrktest::ReadFile;
using vrktest::TempDir;
using vrktest::WriteFile;

// A name that a shell would take apart.
const char kHostile[] = "-a b'\"; touch INJECTED; $(touch INJECTED2) `touch INJECTED3`";

bool Exists(const std::string &p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

class RunTest : public testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    ASSERT_EQ(0, chdir(tmp_.path().c_str()));
  }
  void TearDown() override {
    EXPECT_FALSE(Exists(tmp_.file("INJECTED")));
    EXPECT_FALSE(Exists(tmp_.file("INJECTED2")));
    EXPECT_FALSE(Exists(tmp_.file("INJECTED3")));
    if (chdir("/") != 0) {
    }
    vrktest::ResetGlobal();
  }
  TempDir tmp_;
};

TEST_F(RunTest, ExitSignalAndStartFailures) {
  X_RUN_REQUEST req;
  std::string out;
  req.argv = {"sh", "-c", "echo out; echo err >&2; exit 3"};
  req.output = &out;
  req.mergeStderr = true;
  EXPECT_EQ(3, x_RunProgram(req));
  EXPECT_EQ("out\nerr\n", out);

  req.argv = {"sh", "-c", "kill -9 $$"};
  int rc = x_RunProgram(req);
  EXPECT_EQ(X_RUN_SIGNAL_BASE + 9, rc);
  EXPECT_NE(0, rc);

  req.argv = {"/nonexistent/program"};
  EXPECT_EQ(X_RUN_NOT_STARTED, x_RunProgram(req));

  X_RUN_REQUEST env;
  std::string envOut;
  env.argv = {"sh", "-c", "echo \"$VRK_X\"; umask"};
  env.output = &envOut;
  env.environment = {"VRK_X=set here"};
  env.umaskValue = 027;
  EXPECT_EQ(0, x_RunProgram(env));
  EXPECT_EQ("set here\n0027\n", envOut);
}

TEST_F(RunTest, ChmodAndTouchTakeAnyName) {
  const std::string file = tmp_.file(kHostile);
  WriteFile(file, "x");
  std::string mode = "640";
  EXPECT_EQ(0, cm_chmod(&mode[0], const_cast<char *>(file.c_str())));
  struct stat st;
  ASSERT_EQ(0, stat(file.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
  std::string badMode = "nonsense";
  // What system() answers: chmod's exit status 1 in a wait status.
  EXPECT_EQ(1 << 8, cm_chmod(&badMode[0], const_cast<char *>(file.c_str())));

  struct Case {
    const char *stamp;
    int sec;
  };
  for (const Case &c : {Case{"201402191310", 0}, Case{"20140219131022", 22}}) {
    std::string stamp = c.stamp;
    EXPECT_EQ(0, cm_chtime(&stamp[0], const_cast<char *>(file.c_str())));
    ASSERT_EQ(0, stat(file.c_str(), &st));
    struct tm tm;
    localtime_r(&st.st_mtime, &tm);
    char got[32];
    strftime(got, sizeof(got), "%Y%m%d%H%M%S", &tm);
    char want[32];
    snprintf(want, sizeof(want), "201402191310%02d", c.sec);
    EXPECT_STREQ(want, got);
  }
  std::string bad = "20xx";
  EXPECT_EQ(1 << 8, cm_chtime(&bad[0], const_cast<char *>(file.c_str())));
}

TEST_F(RunTest, SortFileInPosixOrder) {
  const std::string in = tmp_.file(std::string(kHostile) + ".in");
  const std::string out = tmp_.file(std::string(kHostile) + ".out");
  WriteFile(in, "b\nB\na\n_\nA\n");
  mode_t old = umask(0);
  EXPECT_EQ(0, sort_file(const_cast<char *>(in.c_str()), const_cast<char *>(out.c_str())));
  umask(old);
  EXPECT_EQ("A\nB\n_\na\nb\n", ReadFile(out));
  struct stat st;
  ASSERT_EQ(0, stat(out.c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777);
  std::string missing = tmp_.file("missing");
  EXPECT_EQ(2 << 8, sort_file(&missing[0], const_cast<char *>(out.c_str())));
}

// sort gets the product's temporary directory, the named value "gv_rw_tmp",
// as TMPDIR; without that value TMPDIR is left as it was.
TEST_F(RunTest, SortFileUsesTheNamedTemporaryDirectory) {
  vrktest::KorvaWorld world;
  const std::string bin = tmp_.file("bin");
  ASSERT_EQ(0, mkdir(bin.c_str(), 0755));
  WriteFile(bin + "/sort", "#!/bin/sh\nprintf '%s\\n' \"${TMPDIR-unset}\"\n");
  ASSERT_EQ(0, chmod((bin + "/sort").c_str(), 0755));
  const char *oldPath = getenv("PATH");
  const std::string savedPath = oldPath != nullptr ? oldPath : "";
  const char *oldTmp = getenv("TMPDIR");
  const bool hadTmp = oldTmp != nullptr;
  const std::string savedTmp = hadTmp ? oldTmp : "";
  setenv("PATH", (bin + ":" + savedPath).c_str(), 1);
  unsetenv("TMPDIR");

  std::string in = tmp_.file("in"), out = tmp_.file("out");
  WriteFile(in, "b\na\n");
  EXPECT_EQ(0, sort_file(&in[0], &out[0]));
  EXPECT_EQ("unset\n", ReadFile(out));
  const std::string named = world.file("named tmp");
  WriteFile(world.file("glbv/gv_rw_tmp.sgv"), named);
  EXPECT_EQ(0, sort_file(&in[0], &out[0]));
  EXPECT_EQ(named + "\n", ReadFile(out));

  setenv("PATH", savedPath.c_str(), 1);
  if (hadTmp) setenv("TMPDIR", savedTmp.c_str(), 1);
}

TEST_F(RunTest, DirectoryUsage) {
  const std::string dir = tmp_.file(kHostile);
  ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
  WriteFile(dir + "/data", std::string(200 * 1024, 'x'));
  long long kb = 0;
  char msg[64];
  EXPECT_EQ(0, i_GetDirectoryUsage(const_cast<char *>(dir.c_str()), &kb, msg, sizeof(msg)));
  EXPECT_GE(kb, 200);
  char want[64];
  snprintf(want, sizeof(want), "%lld (", kb);
  EXPECT_EQ(0, strncmp(msg, want, strlen(want))) << msg;
  EXPECT_NE(nullptr, strstr(msg, "K)")) << msg;

  std::string missing = tmp_.file("missing dir");
  kb = -5;
  EXPECT_EQ(2, i_GetDirectoryUsage(&missing[0], &kb, msg, sizeof(msg)));
  EXPECT_EQ(-5, kb);
  EXPECT_NE(nullptr, strstr(msg, "du:")) << msg;

  char tiny[8];
  EXPECT_EQ(0, i_GetDirectoryUsage(const_cast<char *>(dir.c_str()), &kb, tiny, sizeof(tiny)));
  EXPECT_LT(strlen(tiny), sizeof(tiny));
}

TEST_F(RunTest, DiskUsage) {
  long long freeBytes = -1, used = -1;
  int pct = i_GetDiskUsage(const_cast<char *>(tmp_.path().c_str()), &freeBytes, &used);
  EXPECT_GE(pct, 0);
  EXPECT_LE(pct, 100);
  EXPECT_GT(freeBytes, 0);
  std::string missing = tmp_.file("missing");
  EXPECT_EQ(-ENOENT, i_GetDiskUsage(&missing[0], &freeBytes, &used));
}

}  // namespace
