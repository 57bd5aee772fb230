// Escaping of the storage node's text: control characters and broken UTF-8
// become \xHH, printable text and valid UTF-8 stay as they are.
#include <gtest/gtest.h>

#include "xbsa/xbsa_escape.h"

namespace {

TEST(XbsaEscapeTest, ControlsAndBrokenUtf8AreEscapedTheRestStays) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"226 Transfer complete.", "226 Transfer complete."},
      {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"tab\there\r\n", "tab\\x09here\\x0d\\x0a"},
      {"del\x7f", "del\\x7f"},
      {"back\\slash \\x1b", "back\\slash \\x1b"},
      {"B\xc3\xa4r \xe2\x82\xac \xf0\x9f\x98\x80", "B\xc3\xa4r \xe2\x82\xac \xf0\x9f\x98\x80"},
      // U+009B, the one-character CSI, and a bare C1 byte.
      {"\xc2\x9b" "2J", "\\xc2\\x9b2J"},
      {"\x9b" "2J", "\\x9b2J"},
      // Latin-1, a cut sequence, an over-long slash, a surrogate.
      {"B\xe4r", "B\\xe4r"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},
      {"\xc0\xaf", "\\xc0\\xaf"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(xbsa_escape_text(c.in.data(), c.in.size()), c.out) << c.in;
    // Escaped text is left alone the second time.
    EXPECT_EQ(xbsa_escape_text(c.out.c_str()), c.out);
  }
  EXPECT_EQ(xbsa_escape_text(nullptr), "");
}

}  // namespace
