// Tests of the string helpers: replacement, splitting, character helpers,
// numbers to text and URL coding.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/strlib.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

TEST(Wcslcpy, CountsCopiedCharacters) {
  wchar_t buf[4];
  EXPECT_EQ(3u, wcslcpy(buf, L"abcdef", 4));
  EXPECT_STREQ(L"abc", buf);
  EXPECT_EQ(2u, wcslcpy(buf, L"xy", 4));
  EXPECT_STREQ(L"xy", buf);
}

TEST(Strreplace, Table) {
  struct Case {
    const char *text;
    unsigned long max;
    const char *pat;
    const char *rep;
    STRREPLCAE_ERROR rc;
    const char *result;
  } cases[] = {
      {"abc", 5, "b", "xyz", STRREPLACE_ERROR_OK, "axyzc"},
      {"abc", 4, "b", "xyz", STRREPLACE_ERROR_BUFFER_TOO_SMALL, "abc"},
      {"abc", 2, "z", "", STRREPLACE_ERROR_BUFFER_TOO_SMALL, "abc"},  // text already too long
      {"abc", 10, "abcd", "", STRREPLCAE_ERROR_PATTERN_NOT_FOUND, "abc"},
      {"abcb", 10, "b", "", STRREPLACE_ERROR_OK, "acb"},  // first occurrence only
      {"abc", 3, "abc", "", STRREPLACE_ERROR_OK, ""},
      {"abc", 10, "", "x", STRREPLACE_ERROR_INCORRECT_PARAM, "abc"},
  };
  for (const Case &c : cases) {
    char buf[32];
    strlcpy(buf, c.text, sizeof(buf));
    EXPECT_EQ(c.rc, strreplace(buf, c.max, c.pat, c.rep)) << c.text << " " << c.pat;
    EXPECT_STREQ(c.result, buf) << c.text << " " << c.pat;
  }
  char buf[8] = "abc";
  EXPECT_EQ(STRREPLACE_ERROR_INCORRECT_PARAM, strreplace(nullptr, 5, "a", "b"));
  EXPECT_EQ(STRREPLACE_ERROR_INCORRECT_PARAM, strreplace(buf, 5, nullptr, "b"));
  EXPECT_EQ(STRREPLACE_ERROR_INCORRECT_PARAM, strreplace(buf, 5, "a", nullptr));
}

TEST(Strreplace, ExGivesErrorText) {
  char buf[16] = "abc";
  char err[64] = "";
  EXPECT_EQ(STRREPLCAE_ERROR_PATTERN_NOT_FOUND, strreplaceex(buf, 15, "z", "y", err, sizeof(err)));
  EXPECT_STREQ("Pattern is not found", err);
  EXPECT_EQ(STRREPLACE_ERROR_BUFFER_TOO_SMALL, strreplaceex(buf, 3, "a", "long", err, sizeof(err)));
  EXPECT_STREQ("Buffer is too small", err);
  char small[5];
  memset(small, 'x', sizeof(small));
  strreplaceex(buf, 15, "z", "y", small, sizeof(small));  // cut, not terminated, no overrun
  EXPECT_EQ(0, memcmp(small, "Patte", 5));
  strlcpy(err, "keep", sizeof(err));
  EXPECT_EQ(STRREPLACE_ERROR_OK, strreplaceex(buf, 15, "a", "A", err, sizeof(err)));
  EXPECT_STREQ("keep", err);
  EXPECT_STREQ("Abc", buf);
}

TEST(StrreplaceAll, ReplacesEveryOccurrenceOrRefuses) {
  char buf[32] = "aaa";
  EXPECT_EQ(STRREPLACE_ERROR_OK, strreplace_all(buf, 31, "a", "b"));
  EXPECT_STREQ("bbb", buf);
  EXPECT_EQ(STRREPLACE_ERROR_OK, strreplace_all(buf, 31, "z", "y"));  // none found is fine
  EXPECT_STREQ("bbb", buf);
  // A replacement holding the pattern is found again in every round: the
  // text grows until the buffer is too small.
  EXPECT_EQ(STRREPLACE_ERROR_BUFFER_TOO_SMALL, strreplace_all(buf, 31, "b", "bb"));
  EXPECT_STREQ("bbb", buf);
  // One equal to the pattern would never end: refused.
  EXPECT_EQ(STRREPLACE_ERROR_INCORRECT_PARAM, strreplace_all(buf, 31, "b", "b"));
  EXPECT_EQ(STRREPLACE_ERROR_INCORRECT_PARAM, strreplace_all(buf, 31, "", "x"));
  EXPECT_STREQ("bbb", buf);
  // Running out of room part way leaves the text as it was.
  EXPECT_EQ(STRREPLACE_ERROR_BUFFER_TOO_SMALL, strreplace_all(buf, 5, "b", "xx"));
  EXPECT_STREQ("bbb", buf);
}

std::vector<std::string> Split(const char *in, const char *delim, int *count) {
  char **list = nullptr;
  std::string input(in);
  std::string d(delim);
  *count = cm_split(&input[0], &d[0], &list);
  std::vector<std::string> out;
  if (*count >= 0) {
    for (int i = 0; list[i] != nullptr; i++) out.push_back(list[i]);
    FreeSplitList(list);
  }
  return out;
}

TEST(CmSplit, Table) {
  struct Case {
    const char *in, *delim;
    std::vector<std::string> pieces;
  } cases[] = {
      {"a,,b", ",", {"a", "", "b"}},
      {"abc", ",", {"abc"}},
      {"a,", ",", {"a", ""}},
      {"", ",", {""}},
      {"x<>y<>z", "<>", {"x", "y", "z"}},
      {"x<>>y", "<>", {"x", ">y"}},
  };
  for (const Case &c : cases) {
    int n = 0;
    EXPECT_EQ(c.pieces, Split(c.in, c.delim, &n)) << c.in;
    EXPECT_EQ(static_cast<int>(c.pieces.size()), n) << c.in;
  }
}

TEST(CmSplit, GrowsAndRefusesBadArguments) {
  std::string in;
  for (int i = 0; i < 25; i++) in += (i ? "," : "") + std::to_string(i);
  int n = 0;
  std::vector<std::string> pieces = Split(in.c_str(), ",", &n);
  ASSERT_EQ(25, n);
  EXPECT_EQ("0", pieces[0]);
  EXPECT_EQ("24", pieces[24]);
  // Exactly ten and twenty pieces reach the array's room.
  Split("0,1,2,3,4,5,6,7,8,9", ",", &n);
  EXPECT_EQ(10, n);

  char **list = nullptr;
  char text[] = "a,b";
  char empty[] = "";
  char comma[] = ",";
  EXPECT_EQ(-1, cm_split(text, empty, &list));  // empty delimiter: error, no loop
  EXPECT_EQ(-1, cm_split(nullptr, comma, &list));
  EXPECT_EQ(-1, cm_split(text, nullptr, &list));
  EXPECT_EQ(-1, cm_split(text, comma, nullptr));
  EXPECT_STREQ("a,b", text);
}

TEST(CharHelpers, CaseSqueezeRemove) {
  char a[] = "MiXed 1";
  EXPECT_STREQ("mixed 1", lowercase(a));
  EXPECT_STREQ("MIXED 1", uppercase(a));
  char b[] = "abc\xe4z";
  EXPECT_STREQ("ABC\xe4Z", strupr(b));
  struct {
    const char *in;
    char c;
    const char *squeezed;
    const char *removed;
  } cases[] = {
      {"//a///b/", '/', "/a/b/", "ab"},
      {"abc", '/', "abc", "abc"},
      {"", '/', "", ""},
      {"////", '/', "/", ""},
  };
  for (const auto &c : cases) {
    std::string s(c.in), r(c.in);
    EXPECT_STREQ(c.squeezed, squeeze(&s[0], c.c)) << c.in;
    remove_char(&r[0], c.c);
    EXPECT_STREQ(c.removed, r.c_str()) << c.in;
  }
}

class TraceTest : public testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    spGlobal->iLogLevel = 3;
  }
  void TearDown() override { vrktest::ResetGlobal(); }
};

TEST_F(TraceTest, DelEnclosingChars) {
  struct {
    const char *in, *out;
    bool traced;
  } cases[] = {
      {"\"abc\"", "abc", true}, {"\"abc", "\"abc", false}, {"\"", "", true},
      {"\"\"", "", true},       {"", "", false},           {"abc\"", "abc\"", false},
  };
  for (const auto &c : cases) {
    std::string s(c.in);
    CaptureStderr();
    EXPECT_STREQ(c.out, szDelEnclosingChars(&s[0], '"')) << c.in;
    std::string err = GetCapturedStderr();
    EXPECT_EQ(c.traced, err.find("Enclosing char [\"] from [") != std::string::npos) << c.in;
  }
}

TEST(CharHelpers, EscapeChar) {
  struct {
    const char *in;
    int len;
    const char *out;
  } cases[] = {
      {"a b c", 32, "a\\ b\\ c"},
      {"abc", 32, "abc"},
      {"", 32, ""},
      {"a b", 3, "a"},     // a cut drops the escape with its character
      {"a b", 4, "a\\ "},  // exactly room for both
      {"ab c", 4, "ab"},
  };
  for (const auto &c : cases) {
    char buf[32];
    strlcpy(buf, c.in, sizeof(buf));
    EXPECT_STREQ(c.out, szChar2EscapeChar(buf, ' ', c.len)) << c.in << " " << c.len;
  }
}

TEST(CharHelpers, PathSeparators) {
  char p[] = "a/b\\c";
  EXPECT_STREQ("a\\b\\c", szPath2Dos(p));
  EXPECT_STREQ("a/b/c", szPath2Unix(p));
  wchar_t w[] = L"a/b\\c";
  EXPECT_STREQ(L"a\\b\\c", szwPath2Dos(w));
  EXPECT_STREQ(L"a/b/c", szwPath2Unix(w));
}

TEST(Numbers, ToText) {
  EXPECT_STREQ("-42", longtoasc(-42));
  EXPECT_STREQ("9223372036854775807", intoas(9223372036854775807L));
  struct {
    double v;
    const char *out;
  } cases[] = {
      {1536, "1.5K"}, {1023, "1023.0B"},          {1024, "1.0K"},
      {0, "0.0B"},    {1048576.0 * 3, "3.0M"},    {1073741824.0, "1.0G"},
      {1099511627776.0 * 2.5, "2.5T"},
  };
  for (const auto &c : cases) {
    char buf[32];
    EXPECT_STREQ(c.out, szHumanReadable(c.v, buf, sizeof(buf))) << c.v;
  }
  char small[4];
  EXPECT_STREQ("1.5", szHumanReadable(1536, small, sizeof(small)));
}

TEST(UrlCoding, EncodeDecode) {
  struct {
    const char *in, *out;
  } enc[] = {{"a b&", "a+b%26"}, {"-_.~Az09", "-_.~Az09"}, {"\xff/", "%ff%2f"}, {"", ""}};
  for (const auto &c : enc) {
    std::string s(c.in);
    char *r = cm_url_encode(&s[0]);
    ASSERT_NE(nullptr, r);
    EXPECT_STREQ(c.out, r);
    free(r);
  }
  struct {
    const char *in, *out;
  } dec[] = {{"a+b%26%", "a b&"}, {"%2F%2f", "//"}, {"%4", "4"}, {"x%", "x"}, {"%41%42", "AB"}};
  for (const auto &c : dec) {
    std::string s(c.in);
    char *r = cm_url_decode(&s[0]);
    ASSERT_NE(nullptr, r);
    EXPECT_STREQ(c.out, r) << c.in;
    free(r);
  }
  EXPECT_EQ('a', cm_to_hex(10));
  EXPECT_EQ('f', cm_to_hex(static_cast<char>(0xff)));
  EXPECT_EQ(11, cm_from_hex('B'));
  EXPECT_EQ(7, cm_from_hex('7'));
  EXPECT_EQ(1, cm_isalnum('z'));
  EXPECT_EQ(0, cm_isalnum(0xe4));
}

}  // namespace
