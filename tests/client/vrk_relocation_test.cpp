// Tests of the raw -R arguments: their rows, the relocation context built
// from them, the one default, the item limit and the saved-argument walk.
#include "client/vrk_relocation.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "client/vrk_global.h"
#include "vrk_reloc_test_hook.h"

namespace {

using reloctest::HasLogged;
using reloctest::Logged;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class RelocArgs : public reloctest::RelocFixture {};

struct ArgCase {
  const char *arg;
  const char *delim;
  std::vector<std::string> paths;    // expected szPath rows from 0
  std::vector<std::string> targets;  // expected szTargetPath rows from 0
  Pairs exprs;                       // expected context, in order
};

TEST_F(RelocArgs, RawArgumentsToRowsAndContext) {
  const std::vector<ArgCase> cases = {
      // A single slash: restore to the original places, no expression.
      {"/", "==::==", {""}, {"/"}, {}},
      // One item: the restore target and the default expression.
      {"/restore", "==::==", {""}, {"/restore"}, {{"", "/restore"}}},
      // Pairs and a default behind them.
      {"/vol1/a==::==/new/a==::==/vol2==::==/x==::==/rest",
       "==::==",
       {"/vol1/a", "/vol2", "", ""},
       {"/new/a", "/x", "/rest"},
       {{"/vol1/a", "/new/a"}, {"/vol2", "/x"}, {"", "/rest"}}},
      // One pair: the row behind it ends the list.
      {"/a==::==/b", "==::==", {"/a", ""}, {"/b"}, {{"/a", "/b"}}},
      // An empty first pattern becomes "/" in the rows.
      {"==::==/new", "==::==", {"/", ""}, {"/new"}, {{"", "/new"}}},
      // Another delimiter.
      {"/src:/dst:/other:/there",
       ":",
       {"/src", "/other", ""},
       {"/dst", "/there"},
       {{"/src", "/dst"}, {"/other", "/there"}}},
  };
  for (const ArgCase &c : cases) {
    SCOPED_TRACE(c.arg);
    TearDown();
    SetUp();
    ASSERT_EQ(RELOC_ERROR_OK, Process(c.arg, c.delim));
    for (size_t i = 0; i < c.paths.size(); ++i) EXPECT_EQ(c.paths[i], spGlobal->szPath[i]) << i;
    for (size_t i = 0; i < c.targets.size(); ++i)
      EXPECT_EQ(c.targets[i], spGlobal->szTargetPath[i]) << i;
    EXPECT_EQ(c.exprs, Expressions());
    if (c.exprs.empty()) {
      EXPECT_EQ(nullptr, spGlobal->RelocationContext);
    }
  }
}

TEST_F(RelocArgs, SecondDefaultIsRefusedAndNotAdded) {
  ASSERT_EQ(RELOC_ERROR_OK, Process("/first"));
  ASSERT_EQ(RELOC_ERROR_OK, Process("/a==::==/b==::==/second"));
  EXPECT_TRUE(HasLogged(3500, "Warning default Reloc Expression must be one"));
  EXPECT_EQ((Pairs{{"", "/first"}, {"/a", "/b"}}), Expressions());
}

TEST_F(RelocArgs, EightyItemsOrMoreAreAnError) {
  auto items = [](int n) {
    std::string arg;
    for (int i = 0; i < n; ++i) arg += (i ? "==::==/p" : "/p") + std::to_string(i);
    return arg;
  };
  // 79 items: 39 pairs and a default.
  ASSERT_EQ(RELOC_ERROR_OK, Process(items(79)));
  EXPECT_EQ(40, TotalRelocExpressions(spGlobal->RelocationContext));
  EXPECT_STREQ("/p78", spGlobal->szTargetPath[39]);

  TearDown();
  SetUp();
  strcpy(spGlobal->szPath[0], "untouched");
  const std::string arg = items(80);
  EXPECT_EQ(RELOC_ERROR_CANT_SETUP_RELOCATION_PATH, Process(arg));
  EXPECT_TRUE(HasLogged(1038, "Invalid argument [" + arg + "] for switch -R."));
  EXPECT_EQ(0, TotalRelocExpressions(spGlobal->RelocationContext));
  EXPECT_STREQ("untouched", spGlobal->szPath[0]);
}

TEST_F(RelocArgs, RefusalReachesTheJobLogThroughTheLogger) {
  SetRelocLog(vrk_log);
  std::string arg = "/a";
  for (int i = 0; i < 80; ++i) arg += "==::==/b";
  testing::internal::CaptureStderr();
  EXPECT_EQ(RELOC_ERROR_CANT_SETUP_RELOCATION_PATH, Process(arg));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("vrk-1038: Error:    Invalid argument [" + arg +
                                        "] for switch -R."))
      << err;
  EXPECT_EQ(STATUS_ERR_BEF_SAV, spGlobal->sVRKObject.eOperStatus);
}

TEST_F(RelocArgs, OverlongSingleItemIsRefusedNotCut) {
  const std::string arg = "/" + std::string(VRK_PATH_MAX, 'a');
  EXPECT_EQ(RELOC_ERROR_CANT_SETUP_RELOCATION_PATH, Process(arg));
  EXPECT_STREQ("", spGlobal->szTargetPath[0]);
  EXPECT_EQ(0, TotalRelocExpressions(spGlobal->RelocationContext));
}

TEST_F(RelocArgs, BadParametersAreRefused) {
  EXPECT_EQ(RELOC_ERROR_INCORRECT_PARAM,
            ProcessRelocArgs(nullptr, &spGlobal->RelocationContext, "==::==", paths_, targets_, 0));
  EXPECT_EQ(RELOC_ERROR_INCORRECT_PARAM, Process("/a:/b", ""));
  EXPECT_EQ(RELOC_ERROR_INCORRECT_PARAM, SaveRawRelocArg(nullptr, 0));
}

TEST_F(RelocArgs, SavedArgumentsAreWalkedInOrder) {
  ASSERT_EQ(RELOC_ERROR_OK, SaveRawRelocArg("/a==::==/b", 0));
  ASSERT_EQ(RELOC_ERROR_OK, SaveRawRelocArg("/c==::==/d", 0));
  std::vector<std::string> seen;
  static std::vector<std::string> *s_seen;
  s_seen = &seen;
  auto cb = [](const char *a, PathRelocContext **, const char *, char **, char **,
               int) -> RELOC_ERROR {
    s_seen->push_back(a);
    return RELOC_ERROR_OK;
  };
  EXPECT_EQ(RELOC_ERROR_OK,
            ForEachRelocArg(&spGlobal->RelocationContext, "==::==", paths_, targets_, cb, 0));
  EXPECT_EQ((std::vector<std::string>{"/a==::==/b", "/c==::==/d"}), seen);

  // Through the real callback, as the option parser calls it.
  EXPECT_EQ(RELOC_ERROR_OK, ForEachRelocArg(&spGlobal->RelocationContext, "==::==", paths_,
                                            targets_, ProcessRelocArgs, 0));
  EXPECT_EQ((Pairs{{"/a", "/b"}, {"/c", "/d"}}), Expressions());
  EXPECT_STREQ("/c", spGlobal->szPath[0]);
}

TEST_F(RelocArgs, FailingArgumentStopsTheWalk) {
  std::string tooMany;
  for (int i = 0; i < 100; ++i) tooMany += "/x==::==";
  ASSERT_EQ(RELOC_ERROR_OK, SaveRawRelocArg(tooMany.c_str(), 0));
  ASSERT_EQ(RELOC_ERROR_OK, SaveRawRelocArg("/never", 0));
  EXPECT_EQ(RELOC_ERROR_CMDLINE_ARGUMENT_PROCESSING_FAILED,
            ForEachRelocArg(&spGlobal->RelocationContext, "==::==", paths_, targets_,
                            ProcessRelocArgs, 0));
  EXPECT_EQ(0, TotalRelocExpressions(spGlobal->RelocationContext));
  EXPECT_STREQ("", spGlobal->szTargetPath[0]);
}

TEST_F(RelocArgs, NothingIsWrittenWithoutTheHook) {
  SetRelocLog(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(RELOC_ERROR_OK, Process("/r1"));
  EXPECT_EQ(RELOC_ERROR_OK, Process("/r2"));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

class RelocSetup : public reloctest::RelocFixture {
 protected:
  int Setup(std::vector<std::string> items, int total = -1) {
    std::vector<char *> table;
    for (std::string &s : items) table.push_back(&s[0]);
    table.push_back(nullptr);
    char **p = paths_;
    char **t = targets_;
    return vrk_path_relocation_setup(&p, &t, table.data(),
                                     total < 0 ? static_cast<int>(items.size()) : total, 5);
  }
};

TEST_F(RelocSetup, ItemCountMustBeOneTo256) {
  EXPECT_EQ(0, Setup({}, 0));
  std::vector<std::string> many(257, "/x");
  EXPECT_EQ(0, Setup(many));
  std::vector<std::string> most(256, "/y");
  strcpy(spGlobal->szPath[128], "stale");
  EXPECT_EQ(1, Setup(most));
  EXPECT_STREQ("/y", spGlobal->szPath[127]);
  EXPECT_STREQ("", spGlobal->szPath[128]);
}

TEST_F(RelocSetup, MissingTablesFail) {
  std::vector<char *> table = {nullptr};
  char **t = targets_;
  EXPECT_EQ(0, vrk_path_relocation_setup(nullptr, &t, table.data(), 1, 0));
  char **none = nullptr;
  EXPECT_EQ(0, vrk_path_relocation_setup(&none, &t, table.data(), 1, 0));
}

TEST_F(RelocSetup, EmptyItemsKeepTheirRowAndOverlongItemsFail) {
  strcpy(spGlobal->szTargetPath[0], "/kept");
  EXPECT_EQ(1, Setup({"/p", ""}));
  EXPECT_STREQ("/p", spGlobal->szPath[0]);
  EXPECT_STREQ("/kept", spGlobal->szTargetPath[0]);

  EXPECT_EQ(0, Setup({"/p", std::string(VRK_PATH_MAX, 'z')}));
}

TEST_F(RelocSetup, StopsAtTheFirstMissingItem) {
  // A table shorter than the count given: nothing past its end is read.
  EXPECT_EQ(1, Setup({"/a", "/b", "/c"}, 5));
  EXPECT_STREQ("/a", spGlobal->szPath[0]);
  EXPECT_STREQ("/b", spGlobal->szTargetPath[0]);
  EXPECT_STREQ("", spGlobal->szPath[3]);
}

}  // namespace
