// Tests of the portable string layer: empty tests, keyword matching, token
// iteration, trimming and the checked formatted print.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/xutil.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

TEST(XEmpty, Table) {
  EXPECT_TRUE(x_IsEmptyString(nullptr));
  EXPECT_TRUE(x_IsEmptyString(""));
  EXPECT_TRUE(x_IsEmptyString("   "));
  EXPECT_FALSE(x_IsEmptyString(" \t "));
  EXPECT_FALSE(x_IsEmptyString(" a"));
  EXPECT_TRUE(x_IsEmptywString(L"  "));
  EXPECT_FALSE(x_IsEmptywString(L" x"));
}

TEST(XMatchKeyword, Table) {
  struct {
    const char *s, *k;
    int abbrev;
    const char *ends;
    BOOL cs;
    BOOL result;
  } cases[] = {
      {"BAC", "BACKUP", 3, nullptr, TRUE, TRUE},
      {"BA", "BACKUP", 3, nullptr, TRUE, FALSE},
      {"BACKUPS", "BACKUP", 3, nullptr, TRUE, FALSE},
      {"BACKUP", "BACKUP", 3, nullptr, TRUE, TRUE},
      {"backup", "BACKUP", 0, nullptr, FALSE, TRUE},
      {"backup", "BACKUP", 0, nullptr, TRUE, FALSE},
      {"reply= OK", "reply", 0, "= ", TRUE, TRUE},
      {"reply OK", "reply", 0, "= ", TRUE, TRUE},
      {"replyX= OK", "reply", 0, "= ", TRUE, FALSE},
      {"rep", "reply", 0, nullptr, TRUE, FALSE},
      {"rep=", "reply", 0, "=", TRUE, FALSE},
      {"=x", "reply", 0, "=", TRUE, FALSE},
      {"ok", "OK", 0, nullptr, FALSE, TRUE},
      {"ERRORS", "ERROR", 0, nullptr, FALSE, FALSE},
      {"BACX", "BACKUP", 3, nullptr, TRUE, FALSE},
      {"BAC", "BACKUP", 9, nullptr, TRUE, FALSE},  // abbreviation beyond the keyword: whole word
      {"", "BACKUP", 0, nullptr, TRUE, FALSE},
      {"  ", "BACKUP", 0, nullptr, TRUE, FALSE},
      {"BACKUP", nullptr, 0, nullptr, TRUE, FALSE},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.result, x_MatchKeyword(c.s, c.k, c.abbrev, c.ends, c.cs))
        << c.s << " / " << (c.k ? c.k : "(null)");
  }
  EXPECT_TRUE(x_MatchwKeyword(L"bac", L"BACKUP", 3, nullptr, FALSE));
  EXPECT_TRUE(x_MatchwKeyword(L"reply=x", L"reply", 0, L"=", TRUE));
  EXPECT_FALSE(x_MatchwKeyword(L"replyx", L"reply", 0, L"=", TRUE));
}

std::vector<std::pair<std::string, unsigned>> ParseAll(const char *text, const char *delims,
                                                       unsigned long opts) {
  std::string s(text), d(delims);
  void *handle = nullptr;
  std::vector<std::pair<std::string, unsigned>> out;
  unsigned int no = 99;
  for (int guard = 0; guard < 100; guard++) {
    char *item = x_ParseString(&handle, &s[0], &d[0], opts, &no);
    if (item == nullptr) break;
    out.emplace_back(item, no);
  }
  EXPECT_EQ(nullptr, handle);
  EXPECT_EQ(0u, no);
  return out;
}

TEST(XParseString, ForwardAndBackward) {
  using V = std::vector<std::pair<std::string, unsigned>>;
  EXPECT_EQ((V{{"a", 1}, {"b", 2}, {"c", 3}}), ParseAll(" a,b ,c", ", ", 0));
  EXPECT_EQ((V{{"c", 1}, {"b", 2}, {"a", 3}}), ParseAll(" a,b ,c", ", ", PSTR_BACKWARD));
  EXPECT_EQ((V{{"abc", 1}}), ParseAll("abc", ",", 0));
  EXPECT_EQ((V{{"abc", 1}}), ParseAll("abc", ",", PSTR_BACKWARD));
  EXPECT_EQ((V{{"ab", 1}, {"cd", 2}}), ParseAll(",,ab,,cd,,", ",", 0));
  EXPECT_EQ((V{{"cd", 1}, {"ab", 2}}), ParseAll(",,ab,,cd,,", ",", PSTR_BACKWARD));
  EXPECT_EQ(V{}, ParseAll("", ",", 0));
  EXPECT_EQ(V{}, ParseAll("", ",", PSTR_BACKWARD));  // no character before an empty start
  EXPECT_EQ(V{}, ParseAll(",,,", ",", PSTR_BACKWARD));
  EXPECT_EQ((V{{"x", 1}}), ParseAll("x", ",", 3));  // other option bits are ignored
}

TEST(XParseString, ArgumentsAndEarlyStop) {
  char text[] = "a b";
  char delims[] = " ";
  EXPECT_EQ(nullptr, x_ParseString(nullptr, text, delims, 0, nullptr));
  void *handle = nullptr;
  EXPECT_EQ(nullptr, x_ParseString(&handle, text, nullptr, 0, nullptr));
  EXPECT_EQ(nullptr, handle);
  // Stopping early: the last call with a NULL string frees the handle.
  EXPECT_STREQ("a", x_ParseString(&handle, text, delims, 0, nullptr));
  EXPECT_NE(nullptr, handle);
  unsigned int no = 5;
  EXPECT_EQ(nullptr, x_ParseString(&handle, nullptr, delims, 0, &no));
  EXPECT_EQ(nullptr, handle);
  EXPECT_EQ(0u, no);
}

TEST(XTrim, Table) {
  struct {
    const char *in, *trim, *l, *r, *all;
  } cases[] = {
      {"  ab  ", nullptr, "ab  ", "  ab", "ab"},
      {"   ", nullptr, "", "", ""},
      {"xxaxbxx", "x", "axbxx", "xxaxb", "axb"},
      {"\t a \t", " \t", "a \t", "\t a", "a"},
      {"ab", nullptr, "ab", "ab", "ab"},
  };
  for (const auto &c : cases) {
    std::string l(c.in), r(c.in), a(c.in);
    EXPECT_STREQ(c.l, x_LTrim(&l[0], c.trim)) << c.in;
    EXPECT_STREQ(c.r, x_RTrim(&r[0], c.trim)) << c.in;
    EXPECT_STREQ(c.all, x_AllTrim(&a[0], c.trim)) << c.in;
  }
  char empty[] = "";
  EXPECT_EQ(nullptr, x_LTrim(empty, nullptr));
  EXPECT_EQ(nullptr, x_RTrim(empty, nullptr));
  EXPECT_EQ(nullptr, x_RTrim(nullptr, nullptr));
  EXPECT_EQ(nullptr, x_AllTrim(nullptr, nullptr));
  EXPECT_EQ(empty, x_AllTrim(empty, nullptr));
}

class XSnprintfTest : public testing::Test {
 protected:
  void SetUp() override { vrktest::ResetGlobal(); }
  void TearDown() override { vrktest::ResetGlobal(); }
};

TEST_F(XSnprintfTest, ReportsFitAndCut) {
  char buf[8];
  CaptureStderr();
  EXPECT_EQ(1, x_Snprintf(buf, sizeof(buf), "%s-%d", "ab", 12));
  std::string err = GetCapturedStderr();
  EXPECT_STREQ("ab-12", buf);
  EXPECT_NE(std::string::npos, err.find("x_Snprintf: Size 8"));
  EXPECT_NE(std::string::npos, err.find("x_Snprintf: vsnprintf returned 5: [ab-12]"));

  CaptureStderr();
  EXPECT_EQ(0, x_Snprintf(buf, sizeof(buf), "%s", "abcdefgh"));
  err = GetCapturedStderr();
  EXPECT_STREQ("abcdefg", buf);
  EXPECT_NE(std::string::npos, err.find("x_Snprintf: Error vsnprintf truncated 8 >= 8 size"));

  CaptureStderr();
  EXPECT_EQ(0, x_Snprintf(nullptr, 0, "%s", "a"));
  GetCapturedStderr();
}

}  // namespace
