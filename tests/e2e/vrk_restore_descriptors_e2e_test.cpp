// A restore whose process runs out of descriptors for a reason of its own
// (a low open-file limit, descriptors its caller left open): the kept
// directories give theirs back, are opened again by name for their owner,
// mode and times, and the whole tree comes back.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "backup_job.h"
#include "e2e_files.h"

namespace {

using e2e::BackupJob;
using e2e::Has;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";
const int kDepth = 28;

// What a path is, for comparing two trees: kind, mode, modification time
// and a file's bytes.
std::string Facts(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "missing";
  std::string f = (S_ISDIR(st.st_mode) ? "d " : "f ") + std::to_string(st.st_mode & 07777) + " " +
                  std::to_string((long long)st.st_mtime);
  if (S_ISREG(st.st_mode)) f += " " + vrktest::ReadFile(path);
  return f;
}

// A chain of kDepth directories, each with a file, each with a mode and a
// modification time of its own (set last, so that nothing moves them).
void MakeChain(const std::string &root) {
  std::string p = root;
  for (int i = 0; i <= kDepth; ++i) {
    if (i > 0) p += "/d" + std::to_string(i);
    ASSERT_EQ(0, mkdir(p.c_str(), 0755)) << p;
    vrktest::WriteFileAt(p + "/f", "level " + std::to_string(i) + "\n", 1300000000 + i);
  }
  for (int i = kDepth; i >= 0; --i) {
    ASSERT_EQ(0, chmod(p.c_str(), i % 2 ? 0750 : 0711)) << p;
    struct timespec ts[2] = {{1200000000 + i, 0}, {1200000000 + i, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, p.c_str(), ts, 0)) << p;
    p = p.substr(0, p.rfind('/'));
  }
}

TEST(RestoreDescriptorsE2E, ATreeComesBackWholeWhenTheProcessRunsOutOfDescriptors) {
  BackupJob job;
  MakeChain(job.data() + "/src");
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err;
  // The open-file limit leaves room for a kept directory at every level of
  // the chain (a quarter of the limit), but the caller left all descriptors
  // but 18 open: the restore runs out half way down and must give back what
  // it keeps.
  job.SetChildSetup([] {
    const int limit = 128, free = 18;
    struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_NOFILE, &rl);
    for (int fd = 0; fd >= 0 && fd < limit - free - 1;) fd = open("/dev/null", O_RDONLY);
  });
  r = job.Run({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/back"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  std::string from = job.data() + "/src", to = job.data() + "/back/src";
  for (int i = 0; i <= kDepth; ++i) {
    if (i > 0) {
      from += "/d" + std::to_string(i);
      to += "/d" + std::to_string(i);
    }
    EXPECT_EQ(Facts(from), Facts(to)) << to;
    EXPECT_EQ(Facts(from + "/f"), Facts(to + "/f")) << to;
    EXPECT_EQ(e2e::Names(from), e2e::Names(to)) << to;
  }
  EXPECT_EQ("", e2e::Leftovers(job.data()));
  EXPECT_FALSE(Has(r.err, "not set")) << r.err;
}

}  // namespace
