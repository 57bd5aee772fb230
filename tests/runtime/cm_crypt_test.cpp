// Tests of the MD5 word layout and the MD5 fingerprint text, and the initial
// value of the common crypto unit's vector.
#include <gtest/gtest.h>

#include <string>

#include "runtime/cm_crypt.h"

namespace {

std::string Hex(const unsigned char *p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

// The standard digest with every group of four bytes reversed.
std::string WordLayout(const std::string &digest_hex) {
  std::string s;
  for (size_t w = 0; w < 32; w += 8)
    for (int b = 3; b >= 0; --b) s += digest_hex.substr(w + 2 * b, 2);
  return s;
}

TEST(Md5, StandardVectorsInWordLayout) {
  struct Case {
    const char *text;
    const char *digest;  // RFC 1321 test suite
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case &c : cases) {
    unsigned char out[16];
    ASSERT_EQ(0, vrk_generate_md5(c.text, out)) << c.text;
    EXPECT_EQ(WordLayout(c.digest), Hex(out, 16)) << c.text;
  }
  unsigned char abc[16];
  vrk_generate_md5("abc", abc);
  EXPECT_EQ("98500190b04fd23c7d3f96d6727fe128", Hex(abc, 16));
}

TEST(Md5, NullArgumentsFail) {
  unsigned char out[16];
  EXPECT_NE(0, vrk_generate_md5(nullptr, out));
  EXPECT_NE(0, vrk_generate_md5("abc", nullptr));
}

TEST(Encrypt, PrintsBytesUnsignedWithoutLeadingZeros) {
  char text[32];
  memset(text, 'x', sizeof(text));
  // Layout bytes of "k404": e7 ab 00 f9 0a 88 b2 ff.
  ENCRYPT("k404", text);
  EXPECT_STREQ("e7ab0f9a88b2ff", text);
  ENCRYPT("abc", text);
  EXPECT_STREQ("9850190b04fd23c", text);
}

TEST(CbcIv, StartsWithTheCommonVector) {
  const unsigned char expected[8] = {0x5e, 0x0b, 0x7a, 0xd1, 0xc4, 0x93, 0x2f, 0x68};
  EXPECT_EQ(0, memcmp(expected, cbc_iv, 8));
}

}  // namespace
