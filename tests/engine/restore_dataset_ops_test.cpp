// Tests of erasing and renaming one data set on the TSA: the data set found
// through a scan, names checked, over-long names refused, failures logged.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "engine/restore.h"
#include "engine/session.h"
#include "engine_test_util.h"

using enginetest::Capture;
using enginetest::World;

namespace {

class DataSetOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world_.reset(new World("[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n"));
    ASSERT_TRUE(world_->loaded());
    data_ = world_->dir() + "/data";
    mkdir((data_ + "/dir").c_str(), 0755);
    vrktest::WriteFile(data_ + "/dir/a.txt", "a");
    vrktest::WriteFile(data_ + "/dir/b.txt", "b");
    enginetest::FreshState();
    session_ = GetSessionInfoBuffer();
    ASSERT_EQ(NWSMConnectToTSA("srv1.Linux File System", &session_->connection), 0u);
    const char pw[] = "\x05\x00qopex";
    ASSERT_EQ(NWSMTSConnectToTargetService(&session_->connection, "srv1", "ADMIN", pw), 0u);
  }
  void TearDown() override {
    EndSession(0, session_);
    world_.reset();
  }
  bool Exists(const std::string &rel) const {
    struct stat st;
    return lstat((data_ + rel).c_str(), &st) == 0;
  }
  std::unique_ptr<World> world_;
  std::string data_;
  SESSION_INFORMATION *session_ = nullptr;
};

}  // namespace

TEST_F(DataSetOpsTest, EraseDeletesTheNamedFile) {
  std::string name = "/dir/a.txt";
  EraseFile(session_, &name[0]);
  EXPECT_FALSE(Exists("/dir/a.txt"));
  EXPECT_TRUE(Exists("/dir/b.txt"));
  ASSERT_EQ(1u, world_->Calls("NWSMTSDeleteDataSet").size());
  EXPECT_EQ(1u, world_->Calls("NWSMTSScanDataSetEnd").size()) << "the scan is always ended";
}

TEST_F(DataSetOpsTest, EraseOfAMissingFileDeletesNothing) {
  Capture cap;
  std::string name = "/dir/missing.txt";
  EraseFile(session_, &name[0]);
  EXPECT_EQ(0u, world_->Calls("NWSMTSDeleteDataSet").size());
  EXPECT_NE(std::string::npos, cap.err().find("NWSMTSScan")) << cap.err();
  EXPECT_TRUE(Exists("/dir/a.txt"));
}

TEST_F(DataSetOpsTest, OverLongNamesAreRefusedBeforeAnyScan) {
  Capture cap;
  std::string name = "/dir/" + std::string(RESTORE_NAME_MAX, 'x');
  EraseFile(session_, &name[0]);
  std::string target = "b";
  RenameFile(session_, &name[0], &target[0]);
  EXPECT_EQ(0u, world_->Calls("NWSMTSScanDataSetBegin").size());
  EXPECT_NE(std::string::npos, cap.err().find("longer than 499 characters")) << cap.err();
}

TEST_F(DataSetOpsTest, RenameGivesTheFileItsNewName) {
  Capture cap;
  std::string name = "/dir/a.txt", target = "c.txt";
  RenameFile(session_, &name[0], &target[0]);
  EXPECT_FALSE(Exists("/dir/a.txt"));
  EXPECT_EQ("a", vrktest::ReadFile(data_ + "/dir/c.txt"));
  EXPECT_NE(std::string::npos, cap.out().find("Rename /dir/a.txt to c.txt")) << cap.out();
}

TEST_F(DataSetOpsTest, RenameOntoAnExistingFileIsAnError) {
  Capture cap;
  std::string name = "/dir/a.txt", target = "b.txt";
  RenameFile(session_, &name[0], &target[0]);
  EXPECT_EQ("a", vrktest::ReadFile(data_ + "/dir/a.txt"));
  EXPECT_EQ("b", vrktest::ReadFile(data_ + "/dir/b.txt"));
  EXPECT_NE(std::string::npos, cap.err().find("NWSMTSRenameDataSet")) << cap.err();
  EXPECT_NE(std::string::npos, cap.err().find("Error:")) << cap.err();
}
