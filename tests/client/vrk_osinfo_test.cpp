// Tests of the operating-system description from a stand-in lsb_release
// and without one, and of the URL test.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "client/vrk_isurl.h"
#include "client/vrk_osinfo.h"
#include "vrk_client_fixture.h"

namespace {

class OsInfo : public vrktest::ClientTest {
 protected:
  void SetUp() override {
    vrktest::ClientTest::SetUp();
    const char *p = getenv("PATH");
    path_ = p ? p : "/usr/bin:/bin";
  }
  void TearDown() override {
    setenv("PATH", path_.c_str(), 1);
    vrktest::ClientTest::TearDown();
  }
  // A stand-in lsb_release that prints the given output, first on the PATH.
  void FakeLsb(const std::string &output) {
    std::string script = dir_.file("lsb_release");
    vrktest::WriteFile(script, "#!/bin/sh\nprintf '" + output + "'\n");
    chmod(script.c_str(), 0755);
    setenv("PATH", (dir_.path() + ":" + path_).c_str(), 1);
  }
  std::string path_;
  vrktest::TempDir dir_;
};

TEST_F(OsInfo, DescriptionAfterTheLabel) {
  FakeLsb("Description:\\tTest Linux 12 (fake)\\n");
  char *info = get_os_info();
  ASSERT_NE(nullptr, info);
  EXPECT_STREQ("Test Linux 12 (fake)", info);
  free(info);
  testing::internal::CaptureStderr();
  print_os_info();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("vrk-3019: Info:     OS info:       Test Linux 12 (fake)\n"));
}

TEST_F(OsInfo, OutputWithoutLabelGivesNone) {
  FakeLsb("Distributor ID:\\tTest\\n");
  EXPECT_EQ(nullptr, get_os_info());
}

TEST_F(OsInfo, WithoutLsbReleaseTheLineIsEmpty) {
  setenv("PATH", dir_.path().c_str(), 1);  // neither which nor lsb_release
  EXPECT_EQ(nullptr, get_os_info());
  testing::internal::CaptureStderr();
  print_os_info();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("OS info:       \n"));
}

TEST(IsUrl, FirstColonMustBeginScheme) {
  EXPECT_TRUE(isURL("http://host:80"));
  EXPECT_FALSE(isURL("host:80"));
  EXPECT_FALSE(isURL("host"));
  EXPECT_FALSE(isURL("a:b://c"));
  EXPECT_FALSE(isURL(nullptr));
}

}  // namespace
