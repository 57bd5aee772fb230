// Tests of reading item names from the generator descriptor and from an
// include list.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "client/vrk_patterns.h"
#include "vrk_client_fixture.h"

namespace {

using vrktest::TempDir;
using vrktest::WriteFile;

class ReadGenTest : public vrktest::ClientTest {
 protected:
  void TearDown() override {
    if (spGlobal->sVRKObject.iGen > 2) close(spGlobal->sVRKObject.iGen);
    vrktest::ClientTest::TearDown();
  }
  void Generator(const std::string &data) {
    WriteFile(dir_.file("gen"), data);
    int fd = open(dir_.file("gen").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    spGlobal->sVRKObject.iGen = fd;
    spGlobal->iGenWait = 5;
  }
  TempDir dir_;
};

TEST_F(ReadGenTest, NewlineEndedNamesAndAPartialLastName) {
  Generator("/a\n/b c\n/last");
  ASSERT_EQ(0, vrk_read_gen());
  EXPECT_STREQ("/a", spGlobal->sVRKObject.szItem);
  ASSERT_EQ(0, vrk_read_gen());
  EXPECT_STREQ("/b c", spGlobal->sVRKObject.szItem);
  ASSERT_EQ(0, vrk_read_gen());
  EXPECT_STREQ("/last", spGlobal->sVRKObject.szItem);
  EXPECT_EQ(-1, vrk_read_gen());
  EXPECT_STREQ("", spGlobal->sVRKObject.szItem);
}

TEST_F(ReadGenTest, WithTheZeroByteEndTheEndOfDataIsTheEndNotAnEmptyName) {
  spGlobal->sOptions.iPrint0Flag = 1;
  Generator(std::string("x\ny\0z", 5) + std::string(1, '\0'));
  ASSERT_EQ(0, vrk_read_gen());
  EXPECT_STREQ("x\ny", spGlobal->sVRKObject.szItem);
  ASSERT_EQ(0, vrk_read_gen());
  EXPECT_STREQ("z", spGlobal->sVRKObject.szItem);
  EXPECT_EQ(-1, vrk_read_gen());
}

TEST_F(ReadGenTest, AnOverLongNameIsRefusedNotCut) {
  Generator(std::string(VRK_PATTERN_LINE_MAX + 1, 'n') + "\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, vrk_read_gen());
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ("", spGlobal->sVRKObject.szItem);
}

TEST_F(ReadGenTest, IncludeListAddsAHeapCopyOfItsFirstName) {
  WriteFile(dir_.file("inc"), "/first\n/second\n");
  spGlobal->sVRKObject.cpIncludeList = strdup(dir_.file("inc").c_str());
  spGlobal->sVRKObject.cpItem[0] = strdup("/given");
  spGlobal->iGenWait = 5;
  ASSERT_EQ(1, vrk_read_includefile(nullptr));
  ASSERT_NE(nullptr, spGlobal->sVRKObject.cpItem[1]);
  EXPECT_STREQ("/first", spGlobal->sVRKObject.cpItem[1]);
  EXPECT_NE(spGlobal->sVRKObject.szItem, spGlobal->sVRKObject.cpItem[1]);
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpItem[2]);
}

TEST_F(ReadGenTest, MissingOrEmptyIncludeListFails) {
  spGlobal->sVRKObject.cpIncludeList = strdup(dir_.file("nope").c_str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, vrk_read_includefile(nullptr));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("Unable to open file [" + dir_.file("nope") + "]")) << err;

  WriteFile(dir_.file("empty"), "");
  free(spGlobal->sVRKObject.cpIncludeList);
  spGlobal->sVRKObject.cpIncludeList = strdup(dir_.file("empty").c_str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, vrk_read_includefile(nullptr));
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("Backup source [" + dir_.file("empty") + "] could not be found. Exiting."))
      << err;
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpItem[0]);
}

}  // namespace
