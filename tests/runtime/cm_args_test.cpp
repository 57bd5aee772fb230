// Tests of the option parser's helpers: the joined call line and the
// regular-expression scan with its group and output rules.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "client/vrk_global.h"
#include "runtime/cm_args.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const char kNodePattern[] = "(.*://.*):(.*),([0-9]*)-([0-9]*)";

class PscanfTest : public testing::Test {
 protected:
  void SetUp() override { vrktest::ResetGlobal(); }
  void TearDown() override {
    for (char *&p : out_) {
      if (p != sentinel_) free(p);
      p = sentinel_;
    }
    vrktest::ResetGlobal();
  }
  char sentinel_[1] = {0};
  char *out_[4] = {sentinel_, sentinel_, sentinel_, sentinel_};
  std::string Out(int i) { return out_[i] == sentinel_ ? "<untouched>" : out_[i]; }
};

TEST_F(PscanfTest, StorageNodeForms) {
  struct {
    const char *input;
    int rc;
    const char *host, *port, *lo, *hi;
  } cases[] = {
      {"ftp://h:11001,0-0", 4, "ftp://h", "11001", "0", "0"},
      {"http://backup.example:8080,1000-1010", 4, "http://backup.example", "8080", "1000", "1010"},
      {"https://[::1]:443,0-0", 4, "https://[::1]", "443", "0", "0"},
      {"ftp://h:,-", 4, "ftp://h", "", "", ""},  // empty groups take part: ""
      {"ftp://h:1:2,3-4", 4, "ftp://h:1", "2", "3", "4"},  // greedy: the last ':' starts the port
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.rc, pscanf(c.input, kNodePattern, &out_[0], &out_[1], &out_[2], &out_[3]))
        << c.input;
    EXPECT_EQ(c.host, Out(0)) << c.input;
    EXPECT_EQ(c.port, Out(1)) << c.input;
    EXPECT_EQ(c.lo, Out(2)) << c.input;
    EXPECT_EQ(c.hi, Out(3)) << c.input;
    TearDown();
  }
}

TEST_F(PscanfTest, NoMatchLeavesOutputsUntouched) {
  for (const char *input : {"h", "ftp://h,0-0", "ftp://h:11001"}) {
    int rc = pscanf(input, kNodePattern, &out_[0], &out_[1], &out_[2], &out_[3]);
    EXPECT_LT(rc, 0) << input;
    EXPECT_NE(4, rc);
    for (int i = 0; i < 4; i++) EXPECT_EQ("<untouched>", Out(i)) << input;
  }
}

TEST_F(PscanfTest, GroupsThatDidNotTakePart) {
  // Only up to the highest group that took part is stored.
  EXPECT_EQ(1, pscanf("a", "(a)|(b)", &out_[0], &out_[1]));
  EXPECT_EQ("a", Out(0));
  EXPECT_EQ("<untouched>", Out(1));
  TearDown();
  // A lower group that did not take part gives "".
  EXPECT_EQ(2, pscanf("b", "(a)|(b)", &out_[0], &out_[1]));
  EXPECT_EQ("", Out(0));
  EXPECT_EQ("b", Out(1));
  TearDown();
  EXPECT_EQ(0, pscanf("xabc", "ab"));
}

TEST_F(PscanfTest, RefusesBadPatternAndMismatchedOutputs) {
  CaptureStderr();
  EXPECT_EQ(-1, pscanf("abc", "(ab", &out_[0]));
  std::string err = GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("Error compiling regex at offset 3: "));
  CaptureStderr();
  EXPECT_EQ(-1, pscanf("ftp://h:1,0-0", kNodePattern, &out_[0], &out_[1], &out_[2]));
  EXPECT_EQ(-1, pscanf("ab", "(a)", &out_[0], &out_[1]));
  EXPECT_EQ(-1, pscanf("ab", "(a)"));
  err = GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("has 4 capturing groups but 3 outputs were given"));
  EXPECT_EQ(-1, pscanf("ab", "(a)", static_cast<char **>(nullptr)));
  for (int i = 0; i < 4; i++) EXPECT_EQ("<untouched>", Out(i));
}

TEST(GetCallParam, JoinsQuotedArguments) {
  char a0[] = "vrk_nlm", a1[] = "-b", a2[] = "two words";
  char *argv[] = {a0, a1, a2, nullptr};
  EXPECT_STREQ("\"vrk_nlm\" \"-b\" \"two words\" ", GET_CALL_PARAM(3, argv));
  EXPECT_STREQ("\"vrk_nlm\" ", GET_CALL_PARAM(1, argv));
  EXPECT_STREQ("", GET_CALL_PARAM(0, argv));
}

TEST(GetCallParam, LeftOutArgumentsAreMarkedOnlyInTheBuffersLastBytes) {
  std::string k(1000, 'k'), x(1020, 'x');
  std::string big = k;
  char *three[] = {&k[0], &k[0], &big[0]};
  std::string joined = "\"" + k + "\" \"" + k + "\" ";
  // 2006 characters: the marker lies behind the end of the text.
  EXPECT_EQ(joined, GET_CALL_PARAM(3, three));

  // A later argument that fits is still taken.
  char small[] = "s";
  char *four[] = {&k[0], &k[0], &big[0], small};
  EXPECT_EQ(joined + "\"s\" ", GET_CALL_PARAM(4, four));

  // The text reaches the buffer's last bytes: the marker ends it there.
  char *full[] = {&x[0], &x[0], small};
  std::string r = GET_CALL_PARAM(3, full);
  EXPECT_EQ(2047u, r.size());
  EXPECT_EQ(("\"" + x + "\" \"" + x).substr(0, 2034) + "... truncated", r);

  // The edge: a text of 2033 characters hides the marker, one of 2034 shows it.
  struct Case {
    size_t argLen;
    const char *visible;
  } cases[] = {{2030, ""}, {2031, "... truncated"}};
  for (const Case &c : cases) {
    std::string a(c.argLen, 'a');
    char *edge[] = {&a[0], &big[0]};
    std::string text = "\"" + a + "\" ";
    EXPECT_EQ(text.substr(0, 2034) + c.visible, GET_CALL_PARAM(2, edge)) << c.argLen;
  }
}

}  // namespace
