// Tests of the path relocation itself: regular-expression prefixes with back
// references, the default directory, bounds, and the lookup over a context.
#include "client/vrk_change_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "client/vrk_relocation.h"
#include "vrk_reloc_test_hook.h"

namespace {

using reloctest::HasLogged;

struct ChangeCase {
  const char *name;
  const char *pattern;
  const char *replacement;
  ERROR_CHANGE_PATH rc;
  const char *result;  // the name afterwards (unchanged unless OK)
};

class ChangePath : public reloctest::RelocFixture {
 protected:
  ERROR_CHANGE_PATH Change(std::string &out, const std::string &name, const std::string &pattern,
                           const std::string &replacement) {
    std::vector<char> buf(VRK_CHG_PATH_MAX_NAME + 1, '\0');
    memcpy(buf.data(), name.c_str(), std::min(name.size() + 1, buf.size()));
    buf.back() = '\0';
    ERROR_CHANGE_PATH rc = vrk_change_path(buf.data(), pattern.c_str(), replacement.c_str(), 3);
    out = buf.data();
    return rc;
  }
};

TEST_F(ChangePath, PatternsGroupsAndBackReferences) {
  const std::vector<ChangeCase> cases = {
      {"/vol1/a/b", "^/vol1", "/restore", ERROR_CHG_PATH_OK, "/restore/a/b"},
      {"/vol1/a/b", "/vol1", "/restore", ERROR_CHG_PATH_OK, "/restore/a/b"},
      {"/data/x/y/z", "^/data/([^/]*)/(.*)$", "/new/\\2/\\1", ERROR_CHG_PATH_OK, "/new/y/z/x"},
      {"/ab", "^/(a)(b)", "/x/\\1/\\2", ERROR_CHG_PATH_OK, "/x/a/b"},
      // Groups but no back reference: the rest of the name is kept.
      {"/home/u/f", "^/(home)", "/h", ERROR_CHG_PATH_OK, "/h/u/f"},
      // A group that takes no part gives an empty text.
      {"/a/f", "^/(x)?(a)", "/n\\1\\2", ERROR_CHG_PATH_OK, "/na"},
      // A matched text that holds a backslash and a digit stays as it is.
      {"/a\\2b/c", "^/([^/]*)/(.*)$", "/n/\\1/\\2", ERROR_CHG_PATH_OK, "/n/a\\2b/c"},
      // PCRE syntax.
      {"/vol12/x", "^/vol\\d+", "/v", ERROR_CHG_PATH_OK, "/v/x"},
      // Not at the start, no match, a pattern that does not compile.
      {"/b/a", "/a", "/x", VRK_CHANGE_PATH_SKIP, "/b/a"},
      {"/b/a", "^/c", "/x", VRK_CHANGE_PATH_SKIP, "/b/a"},
      {"/b/a", "^/(b", "/x", VRK_CHANGE_PATH_SKIP, "/b/a"},
      // A group that the replacement does not name.
      {"/ab", "^/(a)(b)", "/x/\\1", ERROR_CHG_PATH_ERROR, "/ab"},
  };
  for (const ChangeCase &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern + " => " + c.replacement);
    std::string out;
    EXPECT_EQ(c.rc, Change(out, c.name, c.pattern, c.replacement));
    EXPECT_EQ(c.result, out);
  }
}

TEST_F(ChangePath, MoreThanEightGroupsUseTheFirstEight) {
  std::string out;
  EXPECT_EQ(ERROR_CHG_PATH_OK, Change(out, "/abcdefghij", "^/(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)",
                                      "/\\8\\7\\6\\5\\4\\3\\2\\1"));
  EXPECT_EQ("/hgfedcba", out);
}

TEST_F(ChangePath, DefaultPutsTheDirectoryInFront) {
  std::string out;
  EXPECT_EQ(ERROR_CHG_PATH_OK, Change(out, "/vol1/a", "", "/restore"));
  EXPECT_EQ("/restore/vol1/a", out);
  // A network share name is dropped by the join.
  EXPECT_EQ(ERROR_CHG_PATH_OK, Change(out, "//srv/share/a/b", "", "/restore"));
  EXPECT_EQ("/restore/a/b", out);
}

TEST_F(ChangePath, ResultsThatDoNotFitAreErrors) {
  std::string out;
  const std::string longDir = "/" + std::string(4000, 'd');
  const std::string name = "/vol1/" + std::string(200, 'n');
  EXPECT_EQ(ERROR_CHG_PATH_ERROR, Change(out, name, "^/vol1", longDir));
  EXPECT_EQ(name, out);
  EXPECT_EQ(ERROR_CHG_PATH_ERROR, Change(out, name, "", longDir));
  EXPECT_EQ(name, out);
  EXPECT_EQ(ERROR_CHG_PATH_ERROR, Change(out, name, "^/(vol1)/(.*)", longDir + "/\\1/\\2"));
  EXPECT_EQ(name, out);

  // Exactly the largest result fits.
  const std::string fits = "/" + std::string(VRK_CHG_PATH_MAX_NAME - 3, 'f');
  EXPECT_EQ(ERROR_CHG_PATH_OK, Change(out, "/v/x", "^/v", fits));
  EXPECT_EQ(fits + "/x", out);

  // A name longer than the buffer is refused, never cut.
  std::vector<char> big(VRK_CHG_PATH_MAX_NAME + 2, 'x');
  big.back() = '\0';
  big[0] = '/';
  EXPECT_EQ(ERROR_CHG_PATH_ERROR, vrk_change_path(big.data(), "^/", "/y", 0));
  EXPECT_EQ(ERROR_CHG_PATH_ERROR, vrk_change_path(nullptr, "^/", "/y", 0));
}

class RelocLookup : public reloctest::RelocFixture {
 protected:
  void Add(const char *pattern, const char *replacement) {
    if (spGlobal->RelocationContext == nullptr)
      spGlobal->RelocationContext = CreatePathRelocContext();
    ASSERT_EQ(RELOC_ERROR_OK,
              AddRelocExpression(spGlobal->RelocationContext, pattern, replacement, 0));
  }
  RELOC_ERROR Lookup(const char *path, std::string &out, BOOL useDefault = FALSE) {
    char *result = nullptr;
    RELOC_ERROR rc = GetRelocByPathExt(spGlobal->RelocationContext, path, &result, useDefault, 3);
    out = result ? result : "";
    free(result);
    return rc;
  }
};

TEST_F(RelocLookup, FirstApplyingExpressionWins) {
  Add("^/vol1/a", "/new/a");
  Add("^/vol1", "/other");
  Add("", "/rest");
  std::string out;
  EXPECT_EQ(RELOC_ERROR_OK, Lookup("/vol1/a/f", out));
  EXPECT_EQ("/new/a/f", out);
  EXPECT_TRUE(HasLogged(3258, "Path relocation: [/vol1/a/f] => [/new/a/f]"));
  EXPECT_EQ(RELOC_ERROR_OK, Lookup("/vol1/b", out));
  EXPECT_EQ("/other/b", out);
  EXPECT_EQ(RELOC_ERROR_OK, Lookup("/vol2/c", out));
  EXPECT_EQ("/rest/vol2/c", out);
}

TEST_F(RelocLookup, NoApplyingExpressionSkipsTheItem) {
  Add("^/vol1", "/new");
  std::string out;
  EXPECT_EQ(RELOC_ERROR_SKIP_ITEM, Lookup("/vol2/x", out));
  EXPECT_EQ("", out);
  char *result = nullptr;
  EXPECT_EQ(RELOC_ERROR_INCORRECT_PARAM, GetRelocByPath(nullptr, "/x", &result, 0));
  EXPECT_EQ(RELOC_ERROR_INCORRECT_PARAM,
            GetRelocByPath(spGlobal->RelocationContext, "/x", nullptr, 0));
}

TEST_F(RelocLookup, FailedMatchingFallsBackToTheDefaultWhenAsked) {
  Add("^/(a)(b)", "/x/\\1");  // names only one of its two groups
  Add("", "/rest");
  std::string out;
  EXPECT_EQ(RELOC_ERROR_CANT_PERFORM_MATCHING, Lookup("/ab", out));
  EXPECT_EQ(RELOC_ERROR_OK, Lookup("/ab", out, TRUE));
  EXPECT_EQ("/rest", out);
}

TEST_F(RelocLookup, ContextCopiesCountsAndDestruction) {
  EXPECT_EQ(0, TotalRelocExpressions(nullptr));
  EXPECT_EQ(nullptr, GetReloc(nullptr));
  EXPECT_FALSE(IsRelocInvolved(nullptr));
  Add("^/a", "/b");
  Add("", "/c");
  PathRelocContext *ctx = spGlobal->RelocationContext;
  EXPECT_TRUE(IsRelocInvolved(ctx));
  EXPECT_EQ(2, TotalRelocExpressions(ctx));
  EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"^/a", "/b"}, {"", "/c"}}),
            Expressions());
  EXPECT_EQ(RELOC_ERROR_INCORRECT_PARAM, AddRelocExpression(ctx, nullptr, "/x", 3));

  DestroyPathRelocContext(ctx);
  EXPECT_EQ(nullptr, ctx->RelocExpressions);
  EXPECT_FALSE(IsRelocInvolved(ctx));
  EXPECT_EQ(RELOC_ERROR_INCORRECT_PARAM, AddRelocExpression(ctx, "^/a", "/b", 3));
  EXPECT_TRUE(HasLogged(3500, "ERROR: AddRelocExpression(): Context not initialized"));

  // A later argument gives the kept record a new list.
  ASSERT_EQ(RELOC_ERROR_OK, Process("/p==::==/q"));
  EXPECT_EQ(ctx, spGlobal->RelocationContext);
  EXPECT_EQ(1, TotalRelocExpressions(ctx));
}

}  // namespace
