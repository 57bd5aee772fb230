// Tests of the directory-path builder, the directory creation for a file and
// the disk-information restore start, over directories made per test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "client/vrk_makepath.h"
#include "client/vrk_util.h"
#include "vrk_client_fixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using vrktest::TempDir;

struct stat Stat(const std::string &p) {
  struct stat st;
  memset(&st, 0, sizeof(st));
  EXPECT_EQ(0, lstat(p.c_str(), &st)) << p;
  return st;
}

mode_t Mode(const std::string &p) { return Stat(p).st_mode & 07777; }

// Works in another directory for its lifetime.
class InDir {
 public:
  explicit InDir(const std::string &dir) {
    char buf[4096];
    saved_ = getcwd(buf, sizeof(buf)) ? buf : "/";
    EXPECT_EQ(0, chdir(dir.c_str()));
  }
  ~InDir() { EXPECT_EQ(0, chdir(saved_.c_str())); }

 private:
  std::string saved_;
};

#define NEEDS_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "owner changes need root"

int MakePath(const std::string &p, int mode, int parentMode, uid_t owner = (uid_t)-1, gid_t group = (gid_t)-1) {
  std::string copy = p;
  return vrk_makepath(&copy[0], mode, parentMode, owner, group);
}

class MakePathTest : public vrktest::ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    saved_ = umask(022);
  }
  void TearDown() override {
    umask(saved_);
    ClientTest::TearDown();
  }
  mode_t saved_ = 0;
  TempDir t_;
};

TEST_F(MakePathTest, CreatesMissingParentsWithTheirModeAndRestoresTheUmask) {
  ASSERT_EQ(0, MakePath(t_.file("a/b/c"), 0750, 0711));
  EXPECT_EQ(0711u, Mode(t_.file("a")));
  EXPECT_EQ(0711u, Mode(t_.file("a/b")));
  EXPECT_EQ(0750u, Mode(t_.file("a/b/c")));
  EXPECT_EQ(022u, umask(022));
  // Relative paths, doubled and trailing slashes.
  {
    InDir in(t_.path());
    EXPECT_EQ(0, MakePath("rel//x/./y/", 0700, 0755));
  }
  EXPECT_EQ(0700u, Mode(t_.file("rel/x/y")));
}

TEST_F(MakePathTest, ExistingDirectoryOnlyGetsOwnerAndMode) {
  NEEDS_ROOT();
  std::string d = t_.file("d");
  ASSERT_EQ(0, mkdir(d.c_str(), 0755));
  vrktest::WriteFile(d + "/keep", "x");
  ASSERT_EQ(0, MakePath(d, 0700, 0755, 65534, 65534));
  EXPECT_EQ(0700u, Mode(d));
  EXPECT_EQ(65534u, Stat(d).st_uid);
  EXPECT_EQ(65534u, Stat(d).st_gid);
  EXPECT_EQ("x", vrktest::ReadFile(d + "/keep"));
  // Only one id valid: the owner stays.
  ASSERT_EQ(0, MakePath(d, 0751, 0755, 0, (gid_t)-1));
  EXPECT_EQ(65534u, Stat(d).st_uid);
  EXPECT_EQ(0751u, Mode(d));
}

TEST_F(MakePathTest, NeverChangesModeOrOwnerThroughASymbolicLink) {
  NEEDS_ROOT();
  std::string target = t_.file("target"), link = t_.file("link");
  ASSERT_EQ(0, mkdir(target.c_str(), 0755));
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  EXPECT_EQ(1, MakePath(link, 0777, 0755, 65534, 65534));
  EXPECT_EQ(0755u, Mode(target));
  EXPECT_EQ(0u, Stat(target).st_uid);
  // A dangling link as the last component is not followed to make its target.
  std::string dangling = t_.file("dangling");
  ASSERT_EQ(0, symlink(t_.file("nowhere").c_str(), dangling.c_str()));
  EXPECT_EQ(1, MakePath(dangling, 0755, 0755));
  EXPECT_NE(0, access(t_.file("nowhere").c_str(), F_OK));
  // A link among the parents leads to a real directory: made inside it.
  EXPECT_EQ(0, MakePath(link + "/new", 0700, 0755));
  EXPECT_EQ(0700u, Mode(target + "/new"));
}

TEST_F(MakePathTest, ComponentThatIsAFileFails) {
  vrktest::WriteFile(t_.file("f"), "x");
  EXPECT_EQ(1, MakePath(t_.file("f"), 0755, 0755));
  EXPECT_EQ(1, MakePath(t_.file("f/sub/dir"), 0755, 0755));
  EXPECT_EQ(1, MakePath("", 0755, 0755));
}

TEST_F(MakePathTest, TemporaryParentModeIsReplacedAtTheEnd) {
  NEEDS_ROOT();
  // Without owner write and execute the parents are built with 0700 first.
  ASSERT_EQ(0, MakePath(t_.file("p/q/r"), 0755, 0555));
  EXPECT_EQ(0555u, Mode(t_.file("p")));
  EXPECT_EQ(0555u, Mode(t_.file("p/q")));
  EXPECT_EQ(0755u, Mode(t_.file("p/q/r")));
  // Set-group-ID parents with a new owner: the bits survive the chown.
  ASSERT_EQ(0, MakePath(t_.file("s/t"), 01777, 02775, 65534, 65534));
  EXPECT_EQ(02775u, Mode(t_.file("s")));
  EXPECT_EQ(65534u, Stat(t_.file("s")).st_uid);
  EXPECT_EQ(01777u, Mode(t_.file("s/t")));
  EXPECT_EQ(65534u, Stat(t_.file("s/t")).st_gid);
}

TEST_F(MakePathTest, OwnerAndGroupFromTheParentDirectory) {
  NEEDS_ROOT();
  std::string base = t_.file("base");
  ASSERT_EQ(0, mkdir(base.c_str(), 0755));
  ASSERT_EQ(0, chown(base.c_str(), 1000, 100));
  ASSERT_EQ(0, MakePath(base + "/x/y", 0755, 0755, VRK_MAKEPATH_FROM_PARENT, (gid_t)-2));
  for (const char *p : {"/x", "/x/y"}) {
    EXPECT_EQ(1000u, Stat(base + p).st_uid) << p;
    EXPECT_EQ(100u, Stat(base + p).st_gid) << p;
  }
  // -1: the creator's ids.
  ASSERT_EQ(0, MakePath(base + "/z", 0755, 0755));
  EXPECT_EQ(getuid(), Stat(base + "/z").st_uid);
}

TEST_F(MakePathTest, CreateAllDirectoriesOfAFilePath) {
  std::string file = t_.file("one/two/three/file.txt");
  EXPECT_EQ(0, vrk_create_all_directories(&file[0]));
  EXPECT_EQ(0755u, Mode(t_.file("one/two/three")));
  EXPECT_NE(0, access(file.c_str(), F_OK));            // the file itself is not made
  EXPECT_EQ(0, vrk_create_all_directories(&file[0]));  // already there

  std::string slash = t_.file("four/five/");
  EXPECT_EQ(0, vrk_create_all_directories(&slash[0]));
  EXPECT_TRUE(S_ISDIR(Stat(t_.file("four")).st_mode));
  EXPECT_NE(0, access(t_.file("four/five").c_str(), F_OK));

  vrktest::WriteFile(t_.file("plainfile"), "x");
  std::string under = t_.file("plainfile/x/y");
  EXPECT_EQ(-1, vrk_create_all_directories(&under[0]));

  char bare[] = "justaname";
  EXPECT_EQ(0, vrk_create_all_directories(bare));
  std::string huge(5000, 'a');
  EXPECT_EQ(-1, vrk_create_all_directories(&huge[0]));
  EXPECT_EQ(-1, vrk_create_all_directories(nullptr));
}

class DiskInfoTest : public vrktest::ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    bin_ = t_.file("bin");
    ASSERT_EQ(0, mkdir(bin_.c_str(), 0755));
    // The program writes its arguments one a line beside itself.
    std::string prog = bin_ + "/vrk_disk_info_restore";
    vrktest::WriteFile(prog, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n");
    ASSERT_EQ(0, chmod(prog.c_str(), 0755));
    strcpy(spGlobal->szTargetPath[0], "/restore dir; touch pwned");
  }
  int Run(const std::string &bin, const char *arg, std::string *err) {
    free(spGlobal->sDirs.cpBin);
    spGlobal->sDirs.cpBin = strdup(bin.c_str());
    free(spGlobal->sVRKObject.cpAdditionalFindArg);
    spGlobal->sVRKObject.cpAdditionalFindArg = arg ? strdup(arg) : nullptr;
    CaptureStderr();
    int rc = vrk_disk_info_recover();
    *err = GetCapturedStderr();
    return rc;
  }
  TempDir t_;
  std::string bin_;
};

TEST_F(DiskInfoTest, RunsTheProgramWithAnArgumentVector) {
  std::string err;
  {
    InDir in(t_.path());
    EXPECT_EQ(0, Run(bin_, "X,RECOVER", &err));
  }
  EXPECT_NE(std::string::npos, err.find("End of vrk_disk_info metadata reached.")) << err;
  EXPECT_NE(std::string::npos, err.find("Command for executing disk_info recover: [" + bin_ +
                                        "/vrk_disk_info_restore \"/restore dir; touch pwned\" AUTO]"))
      << err;
  EXPECT_NE(std::string::npos, err.find("Option 'RECOVER' set. Executing 'disk_info' restore"));
  EXPECT_EQ("/restore dir; touch pwned\nAUTO\n", vrktest::ReadFile(bin_ + "/args"));
  EXPECT_NE(0, access(t_.file("pwned").c_str(), F_OK));
}

TEST_F(DiskInfoTest, WithoutRecoverOnlyTheCommandIsNamed) {
  std::string err;
  EXPECT_EQ(0, Run(bin_, nullptr, &err));
  EXPECT_EQ(0, Run(bin_, "NORECOVE", &err));
  EXPECT_NE(std::string::npos, err.find("Command for executing disk_info recover"));
  EXPECT_NE(0, access((bin_ + "/args").c_str(), F_OK));
}

TEST_F(DiskInfoTest, RelativeProgramDirectoryOrFailingProgramIsReported) {
  std::string err;
  {
    InDir in(bin_);
    EXPECT_EQ(-1, Run(".", "RECOVER", &err));
  }
  EXPECT_NE(std::string::npos, err.find("not an absolute path")) << err;
  EXPECT_NE(0, access((bin_ + "/args").c_str(), F_OK));

  EXPECT_EQ(-1, Run(t_.file("nothing"), "RECOVER", &err));
  EXPECT_NE(std::string::npos, err.find("vrk-1500")) << err;
}

}  // namespace
