// Tests of the directory helpers in a temporary tree: branch creation,
// status kinds, and tree removal that leaves what symbolic links point to.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/x_fs.h"
#include "vrk_test_util.h"

namespace {

using vrktest::TempDir;
using vrktest::WriteFile;

bool Exists(const std::string &p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

class FsTest : public testing::Test {
 protected:
  void SetUp() override { vrktest::ResetGlobal(); }
  void TearDown() override { vrktest::ResetGlobal(); }
};

TEST_F(FsTest, MakeDirBranchCreatesWhatIsMissing) {
  TempDir tmp;
  ASSERT_EQ(0, mkdir(tmp.file("a").c_str(), 0700));
  mode_t old = umask(0077);
  std::string branch = tmp.file("a/b/c");
  EXPECT_EQ(0, x_MakeDirBranch(&branch[0]));
  umask(old);
  struct stat st;
  ASSERT_EQ(0, stat(tmp.file("a/b/c").c_str(), &st));
  EXPECT_EQ(0775u, st.st_mode & 0777) << "mode does not depend on the umask";
  EXPECT_EQ(0, x_MakeDirBranch(&branch[0])) << "existing branch";
  std::string doubled = tmp.file("x//y/");
  EXPECT_EQ(0, x_MakeDirBranch(&doubled[0]));
  EXPECT_TRUE(Exists(tmp.file("x/y")));

  // Relative path and a single directory.
  ASSERT_EQ(0, chdir(tmp.path().c_str()));
  char rel[] = "r1/r2";
  EXPECT_EQ(0, x_MakeDirBranch(rel));
  char single[] = "solo";
  EXPECT_EQ(0, x_MakeDirBranch(single));
  EXPECT_TRUE(Exists(tmp.file("r1/r2")));
  EXPECT_TRUE(Exists(tmp.file("solo")));
  ASSERT_EQ(0, chdir("/"));

  // A file in the way cannot become a directory.
  WriteFile(tmp.file("file"), "x");
  std::string blocked = tmp.file("file/sub");
  EXPECT_EQ(-1, x_MakeDirBranch(&blocked[0]));
  std::string made = tmp.file("new");
  EXPECT_EQ(0, x_CreateDir(&made[0]));
  EXPECT_EQ(-1, x_CreateDir(&made[0]));
}

TEST_F(FsTest, StatKindsAndDelete) {
  TempDir tmp;
  WriteFile(tmp.file("f"), "data");
  ASSERT_EQ(0, mkdir(tmp.file("d").c_str(), 0700));
  ASSERT_EQ(0, symlink("f", tmp.file("link").c_str()));
  ASSERT_EQ(0, mkfifo(tmp.file("fifo").c_str(), 0600));
  STRU_STAT_INFO info;
  struct Case {
    const char *name;
    ENUM_STAT want;
  };
  const Case cases[] = {{"f", X_STAT_FILE}, {"d", X_STAT_DIR},     {"link", X_STAT_DIR},
                        {"fifo", X_STAT_ERROR}, {"none", X_STAT_ERROR}};
  for (const Case &c : cases) {
    std::string p = tmp.file(c.name);
    EXPECT_EQ(c.want, x_Stat(&p[0], &info)) << c.name;
  }
  std::string f = tmp.file("f");
  EXPECT_EQ(0, x_Delete(&f[0]));
  EXPECT_FALSE(Exists(f));
  EXPECT_NE(0, x_Delete(&f[0]));
}

TEST_F(FsTest, DeleteDirKeepsLinkTargets) {
  TempDir tmp;
  const std::string keep = tmp.file("keep");
  ASSERT_EQ(0, mkdir(keep.c_str(), 0700));
  WriteFile(keep + "/precious", "p");
  const std::string tree = tmp.file("tree");
  std::string deep = tree + "/a/b/c";
  ASSERT_EQ(0, x_MakeDirBranch(&deep[0]));
  WriteFile(tree + "/top", "1");
  WriteFile(tree + "/a/b/c/bottom", "2");
  ASSERT_EQ(0, symlink(keep.c_str(), (tree + "/a/dirlink").c_str()));
  ASSERT_EQ(0, symlink((keep + "/precious").c_str(), (tree + "/filelink").c_str()));
  ASSERT_EQ(0, symlink("/nonexistent", (tree + "/dangling").c_str()));

  std::string t = tree;
  EXPECT_EQ(0, x_DeleteDir(&t[0]));
  EXPECT_FALSE(Exists(tree));
  EXPECT_TRUE(Exists(keep + "/precious"));

  std::string missing = tmp.file("missing");
  EXPECT_EQ(0, x_DeleteDir(&missing[0]));
  std::string file = keep + "/precious";
  EXPECT_EQ(-1, x_DeleteDir(&file[0]));

  // A link given as the tree is not followed.
  std::string link = tmp.file("link-to-keep");
  ASSERT_EQ(0, symlink(keep.c_str(), link.c_str()));
  EXPECT_EQ(-1, x_DeleteDir(&link[0]));
  EXPECT_TRUE(Exists(keep + "/precious"));
}

TEST_F(FsTest, DeleteDirSkipsNamesPastThePathLimit) {
  TempDir tmp;
  const std::string tree = tmp.file("deep");
  ASSERT_EQ(0, mkdir(tree.c_str(), 0700));
  // Nest directories by descriptor until the path passes 4095 characters.
  int fd = open(tree.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  const std::string part(200, 'n');
  size_t len = tree.size();
  while (len <= 4300) {
    ASSERT_EQ(0, mkdirat(fd, part.c_str(), 0700));
    int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    len += part.size() + 1;
  }
  int f = openat(fd, "last", O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(f, 0);
  close(f);
  close(fd);
  WriteFile(tree + "/shallow", "s");

  std::string t = tree;
  EXPECT_EQ(-1, x_DeleteDir(&t[0]));
  EXPECT_FALSE(Exists(tree + "/shallow"));
  EXPECT_TRUE(Exists(tree + "/" + part)) << "the part past the limit stays";
}

}  // namespace
