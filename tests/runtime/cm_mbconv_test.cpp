// Tests of the locale-bound conversions under the C library's C.UTF-8: whole
// texts, refused over-long results, restored locale, UTF-8 repair.
#include <gtest/gtest.h>
#include <locale.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "runtime/cm_mbconv.h"
#include "vrk_test_util.h"

namespace {

class MbTest : public testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    setlocale(LC_CTYPE, "C");
  }
  void TearDown() override {
    setlocale(LC_CTYPE, "C");
    vrktest::ResetGlobal();
  }
  static std::string Ctype() { return setlocale(LC_CTYPE, nullptr); }
};

const char kUtf8[] = "gr\xc3\xbc\xc3\x9f dich";  // "grüß dich"

TEST_F(MbTest, WideRoundTripUnderNamedLocale) {
  wchar_t wide[32];
  testing::internal::CaptureStderr();
  EXPECT_EQ(9u, mbstowcsl(wide, kUtf8, 32, "C.UTF-8"));
  EXPECT_EQ("C", Ctype()) << "locale restored";
  EXPECT_EQ(0xFCu, (unsigned)wide[2]);
  char back[32];
  EXPECT_EQ(strlen(kUtf8), wcstombsl(back, wide, sizeof(back), "C.UTF-8"));
  EXPECT_STREQ(kUtf8, back);
  EXPECT_EQ("C", Ctype());

  char out[32];
  EXPECT_EQ(strlen(kUtf8), mbstombsl(out, kUtf8, sizeof(out), "C.UTF-8", "C.UTF-8"));
  EXPECT_STREQ(kUtf8, out);
  testing::internal::GetCapturedStderr();
}

TEST_F(MbTest, RefusesWhatDoesNotFitOrConvert) {
  testing::internal::CaptureStderr();
  wchar_t wide[9];
  EXPECT_EQ((size_t)-1, mbstowcsl(wide, kUtf8, 9, "C.UTF-8")) << "no room for the terminator";
  EXPECT_EQ(0u, wcslen(wide));
  EXPECT_EQ((size_t)-1, mbstowcsl(wide, "bad \xff byte", 9, "C.UTF-8"));
  wchar_t src[] = L"\u00fc\u00fc\u00fc";
  char small[6];
  EXPECT_EQ((size_t)-1, wcstombsl(small, src, sizeof(small), "C.UTF-8"));
  EXPECT_STREQ("", small);
  char out[8];
  EXPECT_EQ((size_t)-1, mbstombsl(out, kUtf8, sizeof(out), "C.UTF-8", "C.UTF-8"));
  EXPECT_EQ("C", Ctype());
  // A locale that does not exist: the current one converts.
  wchar_t plain[8];
  EXPECT_EQ(3u, mbstowcsl(plain, "abc", 8, "xx_NOWHERE"));
  EXPECT_EQ("C", Ctype());
  testing::internal::GetCapturedStderr();
}

TEST_F(MbTest, ConvertToUtf8KeepsUtf8AndNeverCuts) {
  testing::internal::CaptureStderr();
  char text[32];
  snprintf(text, sizeof(text), "%s", kUtf8);
  EXPECT_EQ(1, cm_convert2utf8(text, sizeof(text)));
  EXPECT_STREQ(kUtf8, text);
  // Latin-1 needs a Latin-1 locale; without one the text is refused, unchanged.
  char latin[8] = "gr\xfc\xdf";
  int rc = cm_convert2utf8(latin, sizeof(latin));
  if (rc == 1)
    EXPECT_STREQ("gr\xc3\xbc\xc3\x9f", latin);
  else
    EXPECT_STREQ("gr\xfc\xdf", latin);
  char tight[5] = "gr\xfc\xdf";
  EXPECT_EQ(0, cm_convert2utf8(tight, sizeof(tight)));  // UTF-8 needs 7 bytes
  EXPECT_STREQ("gr\xfc\xdf", tight);
  testing::internal::GetCapturedStderr();
}

}  // namespace
