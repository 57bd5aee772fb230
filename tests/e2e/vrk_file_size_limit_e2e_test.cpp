// The client under a limit on the size of the files it writes (`ulimit -f`,
// LimitFSIZE), with SIGXFSZ at its default action: the write past the limit
// fails, the job names what it could not write and ends with its status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "backup_job.h"
#include "e2e_files.h"

namespace {

using e2e::BackupJob;
using e2e::FileSizeLimit;
using e2e::Has;
using e2e::Names;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";
// `ulimit -f 64`: 64 blocks of 1,024 bytes.
const rlim_t kLimit = 64 * 1024;

// data/src: small files around one far past the limit.
void MakeTree(const std::string &data, const std::string &big) {
  const std::string src = data + "/src";
  ASSERT_EQ(0, mkdir(src.c_str(), 0750));
  ASSERT_EQ(0, mkdir((src + "/sub").c_str(), 0751));
  vrktest::WriteFileAt(src + "/a.txt", "alpha\n", 1300000000);
  vrktest::WriteFileAt(src + "/big.bin", big, 1300000000);
  // Its bytes within the limit, its size past it: only the hole after them
  // passes the limit.
  vrktest::WriteFileAt(src + "/sparse.bin", "data" + std::string(200 * 1024, '\0'), 1300000000);
  vrktest::WriteFileAt(src + "/sub/c.txt", "gamma\n", 1300000000);
  vrktest::WriteFileAt(src + "/z.txt", "last\n", 1300000000);
  ASSERT_EQ(0, chmod(src.c_str(), 0750));
  ASSERT_EQ(0, chmod((src + "/sub").c_str(), 0751));
}

mode_t ModeOf(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(FileSizeLimitE2E, ABackupWhoseSavesetPassesTheLimitFailsAndLeavesNothing) {
  BackupJob job;
  MakeTree(job.data(), vrktest::Bytes(200 * 1024, 7));
  job.SetChildSetup(FileSizeLimit(kLimit));
  Result r = job.Backup({"-l", "INCR", "-s", "@" + job.saveset(), "/src"});
  EXPECT_EQ(3, r.exitCode()) << r.status << "\n" << r.err;
  EXPECT_TRUE(Has(r.err, "Error:    Cannot write to remote archive: [File too large]")) << r.err;
  EXPECT_TRUE(Has(r.err, "Operation failed!")) << r.err;
  EXPECT_FALSE(e2e::Exists(job.saveset()));
  EXPECT_EQ("", e2e::Temporaries(job.file("")));
  // Neither the markers this run prepared nor committed ones are left.
  EXPECT_TRUE(Names(job.file("tmp")).empty()) << *Names(job.file("tmp")).begin();
  EXPECT_TRUE(Names(job.file("times")).empty()) << *Names(job.file("times")).begin();
}

TEST(FileSizeLimitE2E, ARestoreNamesTheFileThatPassesTheLimitAndRestoresTheRest) {
  BackupJob job;
  const std::string big = vrktest::Bytes(200 * 1024, 7);
  MakeTree(job.data(), big);
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err;
  job.SetChildSetup(FileSizeLimit(kLimit));
  r = job.Run({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/back"});
  EXPECT_EQ(3, r.exitCode()) << r.status << "\n" << r.err;
  const std::string back = job.data() + "/back/src";
  for (const char *name : {"big.bin", "sparse.bin"}) {
    EXPECT_TRUE(Has(r.err, std::string("Item processed with failure: [/back/src/") + name + "]")) << r.err;
    EXPECT_TRUE(Has(r.err, "vrk_sms: /back/src/" + std::string(name) +
                               ": not restored: cannot write its data: File too large"))
        << r.err;
    EXPECT_FALSE(e2e::Exists(back + "/" + name)) << name;
  }
  EXPECT_EQ("alpha\n", vrktest::ReadFile(back + "/a.txt"));
  EXPECT_EQ("gamma\n", vrktest::ReadFile(back + "/sub/c.txt"));
  EXPECT_EQ("last\n", vrktest::ReadFile(back + "/z.txt"));
  EXPECT_EQ(0750u, ModeOf(back));
  EXPECT_EQ(0751u, ModeOf(back + "/sub"));
  EXPECT_EQ("", e2e::Leftovers(job.data()));
}

}  // namespace
