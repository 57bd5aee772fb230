// Tests of the name-space choice, the name-space and selection-type texts,
// the UTF-8 name-space numbers and the log of a selection list.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/namespace.h"
#include "engine/session.h"
#include "engine_test_util.h"

using enginetest::Capture;
using enginetest::World;

namespace {

// A logged-in session on a TSA with the given name spaces.
class NameSpaceTest : public ::testing::Test {
 protected:
  void Open(const std::string &spaces) {
    world_.reset(new World("[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n"
                           "name_spaces = " + spaces + "\n"));
    ASSERT_TRUE(world_->loaded());
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
  std::unique_ptr<World> world_;
  SESSION_INFORMATION *session_ = nullptr;
};

}  // namespace

TEST(NameSpaceMapping, LocalAndUtf8Numbers) {
  struct Case {
    UINT32 local, utf8;
  } cases[] = {{0, 256}, {1, 257}, {2, 258}, {4, 260}};
  for (const Case &c : cases) {
    EXPECT_EQ(MapToUtf8NameSpace(c.local), c.utf8);
    EXPECT_EQ(MapToMBCSNameSpace(c.utf8), c.local);
  }
  EXPECT_EQ(MapToUtf8NameSpace(3), 3u);
  EXPECT_EQ(MapToMBCSNameSpace(259), 259u);
  EXPECT_EQ(MapToMBCSNameSpace(4), 4u);
  EXPECT_EQ(MapToUtf8NameSpace(0xFFFFFFFCu), 0xFFFFFFFCu);
}

TEST_F(NameSpaceTest, LongIsPreferredWithoutAPrompt) {
  Open("DOS NFS LONG");
  Capture cap;
  EXPECT_EQ(GetNameSpace(session_), 4u);
  EXPECT_EQ(cap.out(), "");
}

TEST_F(NameSpaceTest, WithoutLongTheFirstIsTaken) {
  Open("DOS NFS");
  Capture cap;
  EXPECT_EQ(GetNameSpace(session_), 0u);
  spGlobal->iLogLevel = 3;
  Capture cap2;
  EXPECT_EQ(GetNameSpace(session_), 0u);
  cap2.Stop();
  EXPECT_NE(cap2.err().find("Use Name Space Type 'DOS' 0x000"), std::string::npos) << cap2.err();
}

TEST_F(NameSpaceTest, NotLoggedInGivesNoNameSpace) {
  Open("LONG");
  NWSMTSReleaseTargetService(&session_->connection);
  Capture cap;
  EXPECT_EQ(GetNameSpace(session_), 100u);
}

TEST_F(NameSpaceTest, NameSpaceTexts) {
  Open("NFS LONG");
  char text[NAME_SPACE_TEXT_SIZE];
  SetNameSpaceType(4, text, session_);
  EXPECT_STREQ(text, "LONG");
  SetNameSpaceType(0, text, session_);
  EXPECT_STREQ(text, "Bad nameSpaceType");
}

// 2^n is the exclude of type number n, 2^n + 1 its include, as the TSA's
// own selection constants have it.
TEST_F(NameSpaceTest, SelectionTypeTexts) {
  Open("LONG");
  struct Case {
    UINT32 type;
    const char *text;
  } cases[] = {{4, "Exclude parent and its subtree"},
               {5, "Include parent"},
               {8, "Exclude child by terminal name"},
               {16, "Exclude child by full name"}};
  for (const Case &c : cases) {
    char text[NAME_SPACE_TEXT_SIZE] = "unset";
    SetSelectionType(c.type, text, session_);
    EXPECT_STREQ(text, c.text) << c.type;
  }
}

TEST_F(NameSpaceTest, SelectionListIsLoggedAndFreed) {
  Open("NFS LONG");
  session_->IsUTF8Supp = TRUE;
  UINT32 handle = 0;
  ASSERT_EQ(NWSMPutFirstName(&session_->selectionList, 260, 8, 0, "/", "/", "*.tmp", &handle), 0u);
  ASSERT_EQ(NWSMPutNextName(&session_->selectionList, &handle, 4, 16, 0, "/", "/", "/srv/x"), 0u);
  NWSMCloseName(&handle);
  Capture cap;
  DisplaySelectionList(session_);
  cap.Stop();
  EXPECT_NE(cap.err().find("SelectionList:"), std::string::npos);
  EXPECT_NE(cap.err().find(" LONG, Exclude child by terminal name:  \"*.tmp\""), std::string::npos)
      << cap.err();
  EXPECT_NE(cap.err().find(" LONG, Exclude child by full name:  \"/srv/x\""), std::string::npos)
      << cap.err();
  FreeSelectionList(session_);
  EXPECT_EQ(session_->selectionList, nullptr);
}
