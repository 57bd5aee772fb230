// Tests of the restore rename list: pairs normalised by the TSA, refused
// sources, and the new names of parents (first applying pair, case, "/" and
// empty sources, cut lengths, '/' squeezing, plain restores).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/rename_list.h"
#include "engine/session.h"
#include "engine_test_util.h"

using enginetest::Capture;
using enginetest::World;

namespace {

struct Pair {
  std::string source, dest;
};

class RenameListTest : public ::testing::Test {
 public:
  // tsaLines: extra lines of the TSA (fix_name, volume resources).
  void Open(const std::string &resource, const std::string &tsaLines = "") {
    world_.reset(new World("[smdr srv1]\n[tsa srv1.Linux File System]\nresource " + resource +
                           " = @DATA@\n" + tsaLines));
    ASSERT_TRUE(world_->loaded());
    enginetest::FreshState();
    session_ = GetSessionInfoBuffer();
    ASSERT_EQ(NWSMConnectToTSA("srv1.Linux File System", &session_->connection), 0u);
    const char pw[] = "\x05\x00qopex";
    ASSERT_EQ(NWSMTSConnectToTargetService(&session_->connection, "srv1", "ADMIN", pw), 0u);
    session_->IsUTF8Supp = TRUE;
  }
  void TearDown() override {
    FreeRenameList();
    EndSession(0, session_);
    world_.reset();
  }
  void Add(const std::vector<Pair> &pairs) {
    for (const Pair &p : pairs) {
      std::string s = p.source, d = p.dest;
      ASSERT_EQ(0u, RenameRestore(session_, &s[0], &d[0])) << p.source;
    }
  }
  // The new name of a stored parent, "<none>" when no pair applies.
  std::string NewName(const std::string &stored, int plain, const char *firstSep = "/") {
    NWSM_DATA_SET_NAME_LIST *orig = nullptr;
    EXPECT_EQ(0u, NWSMPutOneName(&orig, 260, 0, 0, firstSep, "/", stored.c_str()));
    NWSM_DATA_SET_NAME_LIST *fresh = nullptr;
    CCODE rc = GetNewName(session_->connection, orig, &fresh, plain, session_);
    free(orig);
    EXPECT_EQ(0u, rc);
    EXPECT_EQ(nullptr, sourceUTF8);
    EXPECT_EQ(nullptr, destUTF8);
    if (fresh == nullptr) return "<none>";
    NWSM_DATA_SET_NAME n;
    EXPECT_EQ(0u, NWSMGetOneName(fresh, &n));
    std::string out = n.name;
    NWSMFreeDataSetName(&n);
    free(fresh);
    return out;
  }
  std::unique_ptr<World> world_;
  SESSION_INFORMATION *session_ = nullptr;
};

struct Case {
  const char *what;
  std::vector<Pair> pairs;
  std::string stored;
  int plain;
  std::string want;
};

void RunCases(RenameListTest *t, const std::vector<Case> &cases, const char *firstSep = "/") {
  for (const Case &c : cases) {
    FreeRenameList();
    t->Add(c.pairs);
    EXPECT_EQ(c.want, t->NewName(c.stored, c.plain, firstSep)) << c.what;
  }
}

}  // namespace

TEST_F(RenameListTest, PathStyleNamesWithTheTsaNormalising) {
  Open("/");
  RunCases(this, {
      {"the first pair added wins over a longer one", {{"/src", "/first"}, {"/src/sub", "/second"}},
       "/src/sub/x/", 0, "/first/sub/x/"},
      {"a later pair applies when the first does not", {{"/other", "/o"}, {"/src/sub", "/second"}},
       "/src/sub/x/", 0, "/second/x/"},
      {"letter case is ignored", {{"/SRC/Sub", "/up"}}, "/src/sub/a/", 0, "/up/a/"},
      {"\"/\" takes the rest without its leading '/'", {{"/other", "/o"}, {"/", "/rest"}}, "/src/a/", 0,
       "/rest/src/a/"},
      {"the default pair puts the whole name beneath the target", {{"", "/target"}}, "/src/a/", 0,
       "/target/src/a/"},
      {"a plain restore makes every parent the destination", {{"/src", "/flat"}}, "/src/deep/er/", 1, "/flat/"},
      {"\"/\" on a plain restore too", {{"/", "/flat"}}, "/src/deep/", 1, "/flat/"},
      {"no pair applies", {{"/other", "/x"}}, "/src/", 0, "<none>"},
      {"the top of the resource", {{"", "/target"}}, "/", 0, "/target/"},
  });
}

TEST_F(RenameListTest, PathStyleNamesAsGiven) {
  Open("/", "fix_name = no\n");
  RunCases(this, {
      {"a string prefix that is no path prefix applies", {{"/src", "/n"}}, "/srcfoo/", 0, "/nfoo/"},
      {"a destination ending in '/' and a rest beginning with '/' give one '/'", {{"/src", "/dst/"}}, "/src/a/",
       0, "/dst/a/"},
      {"runs of '/' are squeezed", {{"", "/t//"}}, "//src/a/", 0, "/t/src/a/"},
  });
}

TEST_F(RenameListTest, VolumeStyleNames) {
  Open("VOL1:", "fix_name = no\n");
  RunCases(this,
           {
               {"the default pair replaces the volume part", {{"", "VOL2:r/"}}, "VOL1:dir/", 0, "VOL2:r/dir/"},
               {"\"/\" replaces everything up to the first separator", {{"/", "VOL2:x/"}}, "VOL1:dir/sub/", 0,
                "VOL2:x/dir/sub/"},
               {"a source with \":/\" loses that '/'", {{"VOL1:/dir", "VOL2:y"}}, "VOL1:dir/a/", 0,
                "VOL2:y/a/"},
           },
           ":");
  FreeRenameList();
  Add({{"VOL1:/dir", "VOL2:y"}});
  ASSERT_NE(nullptr, head);
  EXPECT_STREQ("VOL1:dir", head->source);
  EXPECT_STREQ("VOL2:y", head->destination);
  EXPECT_EQ(nullptr, head->next);
}

TEST_F(RenameListTest, PairsKeepTheirOrderAndTheNormalisedPaths) {
  Open("/");
  Add({{"/a//b", "/x"}, {"/c", "/y/"}});
  ASSERT_NE(nullptr, head);
  EXPECT_STREQ("/a/b/", head->source);
  EXPECT_STREQ("/x/", head->destination);
  ASSERT_NE(nullptr, head->next);
  EXPECT_STREQ("/c/", head->next->source);
  EXPECT_EQ(4u, head->next->nameSpace) << "the LONG name space";
  spGlobal->iLogLevel = 4;
  {
    Capture cap;
    DisplayRenameList();
    EXPECT_NE(std::string::npos, cap.err().find("Source Path : \"/a/b/\"")) << cap.err();
    EXPECT_NE(std::string::npos, cap.err().find("Destination Path : \"/y/\"")) << cap.err();
  }
  FreeRenameList();
  EXPECT_EQ(nullptr, head);
}

TEST_F(RenameListTest, RefusedSourcesAddNothing) {
  Open("/");
  Capture cap;
  std::string tooLong = "/" + std::string(RENAME_PATH_MAX, 'a');
  std::string dest = "/x";
  EXPECT_NE(0u, RenameRestore(session_, &tooLong[0], &dest[0]));
  std::string longDest = "/" + std::string(RENAME_PATH_MAX, 'd');
  std::string src = "/src";
  EXPECT_NE(0u, RenameRestore(session_, &src[0], &longDest[0]));
  // A name the TSA refuses.
  std::string bad = "/src/../etc";
  EXPECT_EQ(NWSMTS_INVALID_NAME, RenameRestore(session_, &bad[0], &dest[0]));
  EXPECT_EQ(nullptr, head);
  EXPECT_NE(std::string::npos, cap.err().find("NWSMTSFixDataSetName fails :ccode is 0XFFFDFFDB")) << cap.err();
  // Exactly the longest source is taken.
  std::string longest = "/" + std::string(RENAME_PATH_MAX - 1, 'a');
  EXPECT_EQ(0u, RenameRestore(session_, &longest[0], &dest[0]));
  ASSERT_NE(nullptr, head);
  EXPECT_EQ(std::string(longest) + "/", head->source);
}

TEST_F(RenameListTest, ATsaWithoutNormalisingTakesThePathsAsGiven) {
  Open("/", "fix_name = no\n");
  Capture cap;
  Add({{"/a//b", "/x"}});
  ASSERT_NE(nullptr, head);
  EXPECT_STREQ("/a//b", head->source);
  EXPECT_NE(std::string::npos, cap.err().find("try with given source")) << cap.err();
}
