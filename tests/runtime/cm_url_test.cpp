// Tests of the URL coding wrappers: percent-encoding, "+" for blanks, and the
// decoding of short or odd escapes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "runtime/cm_crypt.h"

namespace {

std::string Take(char *p) {
  std::string s = p ? p : "<null>";
  free(p);
  return s;
}

TEST(UrlCoding, EncodesAndDecodes) {
  struct Case {
    const char *in;
    const char *encoded;
  } cases[] = {
      {"a b&", "a+b%26"},
      {"AZaz09-_.~", "AZaz09-_.~"},
      {"/?=%+", "%2f%3f%3d%25%2b"},
      {"\xc3\xa9\x7f", "%c3%a9%7f"},
      {"", ""},
  };
  for (const Case &c : cases) {
    std::string in = c.in;
    EXPECT_EQ(c.encoded, Take(url_encode_string(&in[0]))) << c.in;
    std::string enc = c.encoded;
    EXPECT_EQ(c.in, Take(url_decode_string(&enc[0]))) << c.encoded;
  }
}

TEST(UrlCoding, DecodesShortEscapesAndUpperCase) {
  struct Case {
    const char *in;
    const char *decoded;
  } cases[] = {
      {"a+b%26%", "a b&"},
      {"%2F%3a", "/:"},
      {"x%4", "x4"},
  };
  for (const Case &c : cases) {
    std::string in = c.in;
    EXPECT_EQ(c.decoded, Take(url_decode_string(&in[0]))) << c.in;
  }
  EXPECT_EQ("<null>", Take(url_encode_string(nullptr)));
  EXPECT_EQ("<null>", Take(url_decode_string(nullptr)));
}

}  // namespace
