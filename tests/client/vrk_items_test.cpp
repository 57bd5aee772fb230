// Tests of the item splitters: separator and delimiter cutting, table
// limits, and the comma-run rule of the backup sources with its item limit.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "client/vrk_items.h"
#include "vrk_client_fixture.h"

namespace {

using vrktest::ClientTest;

std::vector<std::string> Items(char **table) {
  std::vector<std::string> out;
  for (int i = 0; table[i] != nullptr; ++i) out.emplace_back(table[i]);
  return out;
}

void FreeTable(char **table, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    free(table[i]);
    table[i] = nullptr;
  }
}

using V = std::vector<std::string>;

TEST(ParseItem, CutsAtEverySeparatorKeepingEmptyPieces) {
  char *t[8] = {nullptr};
  EXPECT_EQ(4, vrk_parse_item(t, "a::b:", ':', 6));
  EXPECT_EQ((V{"a", "", "b", ""}), Items(t));
  FreeTable(t, 8);
}

TEST(ParseItem, AppendsAfterFilledEntries) {
  char *t[8] = {strdup("x"), nullptr};
  EXPECT_EQ(3, vrk_parse_item(t, "a,b", ',', 6));
  EXPECT_EQ((V{"x", "a", "b"}), Items(t));
  FreeTable(t, 8);
}

TEST(ParseItem, FullTableGivesMaxPlusOneAndStaysTerminated) {
  char *t[4] = {nullptr, nullptr, nullptr, reinterpret_cast<char *>(0x1)};
  EXPECT_EQ(4, vrk_parse_item(t, "a:b:c:d:e", ':', 3));
  EXPECT_EQ(nullptr, t[3]);
  EXPECT_EQ((V{"a", "b", "c"}), Items(t));
  FreeTable(t, 4);
  // Exactly max pieces fit.
  char *u[4] = {nullptr};
  EXPECT_EQ(3, vrk_parse_item(u, "a:b:c", ':', 3));
  FreeTable(u, 4);
}

TEST(ParseItemStrDelim, CutsAtMultiCharacterDelimiter) {
  char *t[8] = {nullptr};
  EXPECT_EQ(3, vrk_parse_item_str_delim(t, "/a==::==/b==::==/c", "==::==", 6));
  EXPECT_EQ((V{"/a", "/b", "/c"}), Items(t));
  FreeTable(t, 8);
  EXPECT_EQ(1, vrk_parse_item_str_delim(t, "/only", "==::==", 1));
  EXPECT_EQ((V{"/only"}), Items(t));
  FreeTable(t, 8);
}

TEST(ParseItemStrDelim, TooManyPiecesStoreNothing) {
  char *t[8] = {nullptr};
  EXPECT_EQ(-1, vrk_parse_item_str_delim(t, "a:b:c", ":", 3));
  EXPECT_EQ(nullptr, t[0]);
  EXPECT_EQ(-1, vrk_parse_item_str_delim(t, nullptr, ":", 3));
}

TEST(ParseItemStrDelimDrv, KeepsDriveColonsInsidePieces) {
  char *t[8] = {nullptr};
  int n = vrk_parse_item_str_delim_save_drv_name(t, "C:/dir", ":", 6);
  ASSERT_GE(n, 1);
  EXPECT_EQ("C:/dir/", std::string(t[0]));
  FreeTable(t, 8);
}

TEST(FindParseItem, QuotedPiecesMayHoldTheSeparator) {
  char *t[8] = {nullptr};
  EXPECT_EQ(3, vrk_find_parse_item(t, "\"a,b\",c,d", ',', 6));
  EXPECT_EQ((V{"a,b", "c", "d"}), Items(t));
  FreeTable(t, 8);
}

struct SourceCase {
  V args;
  V items;
};

void PrintTo(const SourceCase &c, std::ostream *os) {
  for (const std::string &a : c.args) *os << "[" << a << "]";
}

class BackupSource : public ClientTest, public testing::WithParamInterface<SourceCase> {};

TEST_P(BackupSource, CommaRunRule) {
  const SourceCase &c = GetParam();
  vrktest::Argv a(c.args);
  char **items = spGlobal->sVRKObject.cpItem;
  int first = 1, next = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, ProcessBackupSource(&first, a.argc(), &next, a.argv(), items));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(c.items, Items(items));
  EXPECT_EQ((int)c.items.size(), next);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BackupSource,
    testing::Values(
        // No odd run anywhere: one item per argument, a doubled comma is literal.
        SourceCase{{"/vol/a,,b", "/vol/c"}, {"/vol/a,b", "/vol/c"}},
        // A name with a blank spread over two arguments, then a comma.
        SourceCase{{"/vol/My", "Docs,", "/vol/b"}, {"/vol/My Docs", "/vol/b"}},
        // One comma followed by a blank: two items, the second trimmed.
        SourceCase{{"/a, /b"}, {"/a", "/b"}},
        // Three commas: one literal comma that ends the item.
        SourceCase{{"/a,,,/b"}, {"/a,", "/b"}},
        // Four commas: two literal commas inside the item.
        SourceCase{{"/a,,,,b"}, {"/a,,b"}},
        // An empty last item is dropped.
        SourceCase{{"/a,"}, {"/a"}},
        SourceCase{{"  /padded  "}, {"/padded"}}));

TEST_F(BackupSource, The256thItemIsRefusedWith1006) {
  std::vector<std::string> args;
  for (int i = 0; i < 256; ++i) args.push_back("/v/" + std::to_string(i));
  vrktest::Argv a(args);
  char **items = spGlobal->sVRKObject.cpItem;
  int first = 1, next = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, ProcessBackupSource(&first, a.argc(), &next, a.argv(), items));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("vrk-1006"));
  EXPECT_EQ(nullptr, items[255]);
  EXPECT_EQ("/v/254", std::string(items[254]));
}

TEST_F(BackupSource, ManyItemsInOneJoinedArgumentAreRefused) {
  std::string all;
  for (int i = 0; i < 300; ++i) all += "/v" + std::to_string(i) + ",";
  vrktest::Argv a({all});
  int first = 1, next = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, ProcessBackupSource(&first, a.argc(), &next, a.argv(), spGlobal->sVRKObject.cpItem));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("vrk-1006"));
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpItem[255]);
}

TEST_F(BackupSource, ExactlyTheLimitFits) {
  std::vector<std::string> args;
  for (int i = 0; i < 255; ++i) args.push_back("/v/" + std::to_string(i));
  vrktest::Argv a(args);
  int first = 1, next = 0;
  EXPECT_EQ(0, ProcessBackupSource(&first, a.argc(), &next, a.argv(), spGlobal->sVRKObject.cpItem));
  EXPECT_EQ(255, next);
  EXPECT_EQ(a.argc(), first);
}

TEST_F(BackupSource, OverlongArgumentIsRefusedNotCut) {
  vrktest::Argv a({std::string(5000, 'x')});
  int first = 1, next = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, ProcessBackupSource(&first, a.argc(), &next, a.argv(), spGlobal->sVRKObject.cpItem));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("Error:"));
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpItem[0]);
}

}  // namespace
