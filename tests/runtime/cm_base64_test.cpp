// Tests of base64 encoding and decoding, its output length checks, and the
// random URL-safe tokens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/cm_crypt.h"

namespace {

std::string Encode(const std::string &in, int out_len = 4096) {
  std::vector<char> out((size_t)out_len + 1, '#');
  int n = base64(in.data(), (int)in.size(), out.data(), out_len, BASE_64_ENCRYPT);
  if (n == 0) return "<0>";
  EXPECT_EQ('\0', out[(size_t)n]);
  return std::string(out.data(), (size_t)n);
}

std::string Decode(const std::string &in) {
  std::vector<char> out(in.size() + 1, '#');
  int n = base64(in.data(), (int)in.size(), out.data(), (int)in.size(), BASE_64_DECRYPT);
  return std::string(out.data(), (size_t)n);
}

TEST(Base64, StandardVectorsBothWays) {
  struct Case {
    const char *plain;
    const char *coded;  // RFC 4648
  } cases[] = {
      {"f", "Zg=="},     {"fo", "Zm8="},         {"foo", "Zm9v"},         {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.coded, Encode(c.plain)) << c.plain;
    EXPECT_EQ(c.plain, Decode(c.coded)) << c.coded;
  }
}

TEST(Base64, BreaksLinesAfter64Characters) {
  std::string b48(48, '\xff'), b49(49, '\xff');
  std::string e48 = Encode(b48);
  EXPECT_EQ(64u, e48.size());
  EXPECT_EQ(std::string::npos, e48.find('\n'));
  std::string e49 = Encode(b49);
  ASSERT_EQ(69u, e49.size());
  EXPECT_EQ('\n', e49[64]);
  EXPECT_EQ("/w==", e49.substr(65));
  EXPECT_EQ(b49, Decode(e49));

  // 300 bytes of every value: 400 characters in 7 lines, and back.
  std::string all;
  for (int i = 0; i < 300; ++i) all += (char)(i & 0xff);
  std::string e = Encode(all);
  EXPECT_EQ(406u, e.size());
  EXPECT_EQ(all, Decode(e));
  // A text on one line decodes as well.
  std::string one_line;
  for (char c : e)
    if (c != '\n') one_line += c;
  EXPECT_EQ(all, Decode(one_line));
}

TEST(Base64, OutputMustHoldTheWholeEncoding) {
  // 3 bytes need 4 characters and the terminator.
  EXPECT_EQ("<0>", Encode("abc", 4));
  EXPECT_EQ("YWJj", Encode("abc", 5));
  // 48 bytes: 64 characters; 49 bytes: 69 characters.
  EXPECT_EQ("<0>", Encode(std::string(48, 'a'), 64));
  EXPECT_EQ(64u, Encode(std::string(48, 'a'), 65).size());
  EXPECT_EQ("<0>", Encode(std::string(49, 'a'), 69));
  EXPECT_EQ(69u, Encode(std::string(49, 'a'), 70).size());

  // Too small a buffer is left as it was.
  char out[8];
  memset(out, '#', sizeof(out));
  EXPECT_EQ(0, base64("abcdefgh", 8, out, 7, BASE_64_ENCRYPT));
  EXPECT_EQ(0, base64("YWJj", 4, out, 3, BASE_64_DECRYPT));
  for (char ch : out) EXPECT_EQ('#', ch);
}

TEST(Base64, RefusesBadArguments) {
  char out[16];
  EXPECT_EQ(0, base64(nullptr, 3, out, 16, BASE_64_ENCRYPT));
  EXPECT_EQ(0, base64("abc", 3, nullptr, 16, BASE_64_ENCRYPT));
  EXPECT_EQ(0, base64("abc", -1, out, 16, BASE_64_ENCRYPT));
  EXPECT_EQ(0, base64("abc", 3, out, 16, static_cast<EBase64Operation>(2)));
  // Nothing to encode: an empty text.
  out[0] = '#';
  EXPECT_EQ(0, base64("", 0, out, 16, BASE_64_ENCRYPT));
  EXPECT_EQ('\0', out[0]);
}

bool IsUrlSafe(const std::string &s) {
  for (char c : s)
    if (!isalnum((unsigned char)c) && c != '-' && c != '_' && c != '=') return false;
  return true;
}

TEST(RandBase64Url, TokensAreOneUrlSafeLine) {
  char tok[400];
  ASSERT_EQ(1, cm_rand_base64url(tok, 3, sizeof(tok)));
  EXPECT_EQ(4u, strlen(tok));
  EXPECT_TRUE(IsUrlSafe(tok)) << tok;
  for (char c : std::string(tok)) EXPECT_NE('=', c);

  // 256 bytes: 344 characters without line breaks, "=" padding kept; over
  // many tokens "-" and "_" show up and "+" and "/" never do.
  bool dash = false, underscore = false;
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(1, cm_rand_base64url(tok, 256, sizeof(tok)));
    std::string t(tok);
    ASSERT_EQ(344u, t.size());
    EXPECT_TRUE(IsUrlSafe(t)) << t;
    EXPECT_EQ("=", t.substr(343));
    dash |= t.find('-') != std::string::npos;
    underscore |= t.find('_') != std::string::npos;
  }
  EXPECT_TRUE(dash);
  EXPECT_TRUE(underscore);
}

TEST(RandBase64Url, RefusesTooSmallOutputAndBadCounts) {
  char tok[400];
  memset(tok, '#', sizeof(tok));
  EXPECT_EQ(0, cm_rand_base64url(tok, 3, 4));  // 4 characters need 5 bytes
  EXPECT_EQ('#', tok[0]);
  EXPECT_EQ(1, cm_rand_base64url(tok, 3, 5));
  EXPECT_EQ(0, cm_rand_base64url(tok, 257, sizeof(tok)));
  EXPECT_EQ(0, cm_rand_base64url(tok, 0, sizeof(tok)));
  EXPECT_EQ(0, cm_rand_base64url(nullptr, 3, 5));
}

}  // namespace
