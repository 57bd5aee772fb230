// Tests of the list helpers over strings: appending runs and pairs, and the
// regular-expression search with its results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/cm_kernel.h"
#include "runtime/strlib.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::vector<std::pair<std::string, size_t>> Elements(t_LL list) {
  std::vector<std::pair<std::string, size_t>> out;
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el))
    out.emplace_back(static_cast<char *>(el), IsElmLL(el));
  return out;
}

class ListTest : public testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    list_ = ConsLL();
  }
  void TearDown() override {
    DestLL(list_);
    vrktest::ResetGlobal();
  }
  t_LL list_ = nullptr;
};

TEST_F(ListTest, InsArgvAppendsCopies) {
  char a[] = "alpha";
  InsArgvLL(list_, a, "", "gamma", static_cast<char *>(nullptr));
  a[0] = 'X';
  using V = std::vector<std::pair<std::string, size_t>>;
  EXPECT_EQ((V{{"alpha", 6}, {"", 1}, {"gamma", 6}}), Elements(list_));
  InsArgvLL(list_, static_cast<char *>(nullptr));
  EXPECT_EQ(3u, SizeLL(list_));
}

TEST_F(ListTest, LLInsPairs) {
  struct {
    const char *a1, *a2;
    std::vector<std::string> added;
  } cases[] = {
      {"key", "value", {"key", "value"}},
      {"", "value", {"value"}},
      {"NULL", "value", {"value"}},
      {"key", "", {}},
      {"key", "NULL", {}},
      {"key", nullptr, {}},
      {nullptr, "v", {"v"}},
      {"null", "v", {"null", "v"}},  // only exactly "NULL" counts
  };
  for (const auto &c : cases) {
    EmptyLL(list_);
    LL_Ins(list_, c.a1, c.a2);
    std::vector<std::string> got;
    for (const auto &e : Elements(list_)) {
      got.push_back(e.first);
      EXPECT_EQ(512u, e.second);
    }
    EXPECT_EQ(c.added, got) << (c.a1 ? c.a1 : "(null)") << " " << (c.a2 ? c.a2 : "(null)");
  }
  EmptyLL(list_);
  std::string longValue(700, 'v');
  LL_Ins(list_, "k", longValue.c_str());  // kept whole, not cut or overrun
  auto e = Elements(list_);
  ASSERT_EQ(2u, e.size());
  EXPECT_EQ(longValue, e[1].first);
}

TEST_F(ListTest, SearchResults) {
  InsArgvLL(list_, "", "first line", "second 42", "third 43", static_cast<char *>(nullptr));
  struct {
    const char *pattern;
    int rc;
    const char *after;  // the pattern buffer afterwards
  } cases[] = {
      {"[0-9]+", 1, "[0-9]+"},
      {"[0-9]+^", 1, "second 42"},
      {"^third", 1, "^third"},
      {"nothing", 0, "nothing"},  // no match is 0, not an error code
      {"nothing^", 0, "nothing"},
      {"", 1, ""},  // empty pattern matches the first non-empty element
      {"(unclosed", 0, "(unclosed"},
  };
  for (const auto &c : cases) {
    char buf[512];
    strcpy(buf, c.pattern);
    CaptureStderr();
    EXPECT_EQ(c.rc, i_LL_search(list_, buf)) << c.pattern;
    std::string err = GetCapturedStderr();
    EXPECT_STREQ(c.after, buf) << c.pattern;
    if (std::string(c.pattern) == "(unclosed") {
      EXPECT_NE(std::string::npos, err.find("ERROR: PCRE compilation failed at offset 9: "));
    }
  }
  t_LL empty = ConsLL();
  char pat[] = "x";
  EXPECT_EQ(0, i_LL_search(empty, pat));
  DestLL(empty);
}

TEST_F(ListTest, SearchTraces) {
  spGlobal->iLogLevel = 3;
  InsArgvLL(list_, "abc", "xyz", static_cast<char *>(nullptr));
  char pat[] = "y";
  CaptureStderr();
  EXPECT_EQ(1, i_LL_search(list_, pat));
  std::string err = GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("Return from regex: -1: [abc]"));
  EXPECT_NE(std::string::npos, err.find("Return from regex: 1: [xyz]"));
  EXPECT_NE(std::string::npos, err.find("LL_Search: Return: 1"));
}

TEST_F(ListTest, SearchReturnsLineOfAtMost511) {
  std::string longLine(600, 'z');
  InsLastLLf(list_, longLine.size() + 1, longLine.c_str());
  char buf[512] = "z^";
  EXPECT_EQ(1, i_LL_search(list_, buf));
  EXPECT_EQ(std::string(511, 'z'), buf);
}

}  // namespace
