// Installing this build with "cmake --install" into a temporary root
// (DESTDIR and a prefix): the program, the main ini file and the job
// directories with their modes; then a FULL and an INCR of the installed
// program on those directories, each ending with 0.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "backup_job.h"

namespace {

using e2e::BackupJob;
using e2e::Result;

int Install(const std::string &root, const std::string &log) {
  std::string cmd = "DESTDIR='" + root + "' '" VRK_TEST_CMAKE "' --install '" VRK_TEST_BINARY_DIR
                    "' --prefix /opt/vrk >'" + log + "' 2>&1";
  return system(cmd.c_str());
}

// The installed program with the job's world and ini file: its exit status.
int RunInstalled(const BackupJob &job, const std::string &program, const std::string &args, const std::string &log) {
  std::string cmd = "cd '" + job.path() + "' && env VRK_SMS_WORLD='" + job.file("world") + "' KV_INI='" +
                    job.file("korva.ini") + "' KORVA_INI='" + job.file("none.ini") + "' '" + program +
                    "' -b -j job -N 'srv1:srv1.Linux File System:srv1:u:p:0' " + args + " </dev/null >/dev/null 2>'" +
                    log + "'";
  int st = system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

unsigned Mode(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return (S_ISDIR(st.st_mode) ? 040000u : 0u) | (st.st_mode & 07777);
}

TEST(InstallE2E, InstallsTheProgramItsIniAndTheJobDirectories) {
  BackupJob job;
  const std::string root = job.file("root");
  ASSERT_EQ(0, Install(root, job.file("install.log"))) << vrktest::ReadFile(job.file("install.log"));
  EXPECT_EQ(0755u, Mode(root + "/opt/vrk/bin/vrk_nlm"));
  EXPECT_EQ(040750u, Mode(root + "/korva/log"));
  EXPECT_EQ(040700u, Mode(root + "/korva/times"));
  EXPECT_EQ(040700u, Mode(root + "/korva/work"));
  EXPECT_EQ(040700u, Mode(root + "/korva/tmp"));
  EXPECT_EQ("gv_rw_vrk_log=/korva/log\ngv_rw_vrk_times=/korva/times\ngv_rw_work=/korva/work\ngv_rw_tmp=/korva/tmp\n",
            vrktest::ReadFile(root + "/etc/korva2000.ini"));

  // A second install keeps the ini file an administrator edited, and the
  // modes an administrator gave the job directories (opened to the group,
  // or closed further).
  vrktest::WriteFile(root + "/etc/korva2000.ini", "gv_rw_vrk_log=/var/log/korva\n");
  ASSERT_EQ(0, chmod((root + "/korva/log").c_str(), 0700));
  ASSERT_EQ(0, chmod((root + "/korva/work").c_str(), 0770));
  ASSERT_EQ(0, Install(root, job.file("install.log"))) << vrktest::ReadFile(job.file("install.log"));
  EXPECT_EQ("gv_rw_vrk_log=/var/log/korva\n", vrktest::ReadFile(root + "/etc/korva2000.ini"));
  EXPECT_EQ(040700u, Mode(root + "/korva/log"));
  EXPECT_EQ(040770u, Mode(root + "/korva/work"));
  EXPECT_EQ(040700u, Mode(root + "/korva/times"));

  // The installed program on the installed directories: a FULL and an INCR.
  std::string dirs = "gv_rw_tmp=" + root + "/korva/tmp\ngv_rw_vrk_times=" + root + "/korva/times\ngv_rw_vrk_log=" +
                     root + "/korva/log\ngv_rw_work=" + root + "/korva/work\n";
  vrktest::WriteFile(job.file("korva.ini"), dirs);
  mkdir((job.data() + "/t").c_str(), 0755);
  vrktest::WriteFile(job.data() + "/t/a.txt", "alpha\n");
  const std::string program = root + "/opt/vrk/bin/vrk_nlm", log = job.file("run.log");
  EXPECT_EQ(0, RunInstalled(job, program, "-l FULL -s @" + job.file("full") + " /t", log)) << vrktest::ReadFile(log);
  EXPECT_EQ(0600u, Mode(root + "/korva/times/job.I"));
  EXPECT_EQ(0, RunInstalled(job, program, "-l INCR -s @" + job.file("incr") + " /t", log)) << vrktest::ReadFile(log);
}

}  // namespace
