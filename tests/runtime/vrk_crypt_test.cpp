// Tests of the enciphered passwords: independent Blowfish vectors, round
// trips of every length, malformed texts and wrong passphrases, hex helpers.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "runtime/cbc_iv.h"
#include "runtime/vrk_crypt.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// The encryptor replaces the shared vector: each test puts it back.
class CryptTest : public testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    memcpy(savedIv_, cbc_iv, sizeof(savedIv_));
  }
  void TearDown() override {
    memcpy(cbc_iv, savedIv_, sizeof(savedIv_));
    vrktest::ResetGlobal();
  }

 private:
  unsigned char savedIv_[CBC_IV_SIZE];
};

std::string Decrypt(const std::string &hex, const std::string &phrase) {
  char plain[2048];
  memset(plain, 'x', sizeof(plain));
  std::string h = hex, p = phrase;
  vrk_decrypt_password(plain, &h[0], &p[0]);
  return plain;
}

std::string Encrypt(const std::string &pw, const std::string &phrase) {
  char out[1024];
  memset(out, 0, sizeof(out));
  std::string w = pw, p = phrase;
  EXPECT_EQ(0, vrk_encrypt_password(out, &w[0], 0, &p[0]));
  return out;
}

// Cipher texts made with an independent Blowfish-CBC implementation, key
// SHA-1 of the passphrase (at most 128 bytes of it).
struct Vector {
  const char *phrase;
  const char *password;
  const char *hex;
};
const Vector kVectors[] = {
    {"Bsecret", "abc", "000102030405060751a1194b97d426d4"},
    {"Rsecret", "pass1234", "07090b0d0f111315e3604187dcdbb4c4cf174580110b2ff4cc1b57454a080a61"},
};

TEST_F(CryptTest, DecryptsIndependentVectors) {
  for (const Vector &v : kVectors) EXPECT_EQ(v.password, Decrypt(v.hex, v.phrase)) << v.hex;
  // Upper-case digits are read too.
  EXPECT_EQ("abc", Decrypt("000102030405060751A1194B97D426D4", "Bsecret"));
  // Only the first 128 bytes of a long passphrase make the key.
  std::string longPhrase = "R" + std::string(200, 'k');
  EXPECT_EQ("Zz9!", Decrypt("1010101010101010817872ebca4ca91d8d50025f7b32309d", longPhrase));
}

TEST_F(CryptTest, EncryptorWritesVectorThenCipher) {
  std::string out = Encrypt("pass1234", "Rsecret");
  ASSERT_EQ(16u + 48u, out.size());
  // The vector is (r >> 3) * i + r for one random byte r, kept in cbc_iv.
  unsigned r = cbc_iv[0];
  char iv[17];
  for (int i = 0; i < 8; i++) {
    EXPECT_EQ((unsigned char)(((r >> 3) * i + r) & 0xFF), cbc_iv[i]);
    snprintf(iv + 2 * i, 3, "%02x", cbc_iv[i]);
  }
  EXPECT_EQ(std::string(iv), out.substr(0, 16));
  EXPECT_EQ("pass1234", Decrypt(out, "Rsecret"));
  EXPECT_EQ(16u + 16u, Encrypt("abc", "x").size());   // L = 8
  EXPECT_EQ(16u + 32u, Encrypt("abcd", "x").size());  // L = 16
}

TEST_F(CryptTest, RoundTripsEveryLength) {
  for (size_t n = 1; n <= 123; n++) {
    std::string pw;
    for (size_t i = 0; i < n; i++) pw += (char)('!' + (i * 7 + n) % 90);
    std::string out = Encrypt(pw, "Bkey");
    EXPECT_EQ(16 + 2 * ((2 * n / 8) * 8 + 8), out.size());
    EXPECT_EQ(pw, Decrypt(out, "Bkey")) << n;
  }
  std::string high = "p\xe4\xdf\xff";
  EXPECT_EQ(high, Decrypt(Encrypt(high, "Bkey"), "Bkey"));
  char out[1024] = {0};
  std::string tooLong(124, 'a');  // the block length must fit one byte
  EXPECT_NE(0, vrk_encrypt_password(out, &tooLong[0], 0, (char *)"Bkey"));
}

// The text with its first non-zero digit at an even position (in the cipher
// text) replaced by a blank: that byte then loses its high digit.
std::string BlankAtEvenDigit(std::string hex) {
  for (size_t i = 16; i < hex.size(); i += 2)
    if (hex[i] != '0') {
      hex[i] = ' ';
      break;
    }
  return hex;
}

// An odd last digit is ignored, and a blank at the start of a pair is
// skipped, so a blank standing for a leading 0 digit reads as that digit.
TEST_F(CryptTest, IgnoresOddDigitAndSkipsLeadingBlanks) {
  struct Case {
    std::string hex, phrase, password;
  };
  std::string good = Encrypt("secret-pw", "Bkey");
  const Case cases[] = {
      {good + "7", "Bkey", "secret-pw"},
      {good + "f}", "Bkey", "secret-pw"},
      {" 0 1 2 3 4 5 6 751a1194b97d426d4", "Bsecret", "abc"},
      {" 0 1 2 3 4 5 6 751a1194b97d426d4e", "Bsecret", "abc"},
      {"000102030405060751a1194b97d426d", "Bsecret", ""},  // the last byte is cut
  };
  for (const Case &c : cases) EXPECT_EQ(c.password, Decrypt(c.hex, c.phrase)) << c.hex;

  // The function always answers 0: a text that gives no password leaves the
  // clear buffer empty.
  char plain[VRK_CRYPT_PLAIN_SIZE + 1];
  const char *texts[] = {"", "zz", "0001020304050607", "000102030405060751a1194b97d426d4"};
  for (const char *t : texts) {
    std::string h = t;
    memset(plain, 'x', sizeof(plain));
    EXPECT_EQ(0, vrk_decrypt_password(plain, &h[0], (char *)"Bwrong")) << t;
    EXPECT_EQ("", std::string(plain)) << t;
  }
}

TEST_F(CryptTest, RefusesMalformedOrWrongKey) {
  std::string good = Encrypt("secret-pw", "Bkey");
  const std::string bad[] = {
      good.substr(0, good.size() - 1),   // odd digit count
      good.substr(0, good.size() - 2),   // not whole cipher blocks
      good.substr(0, good.size() - 16),  // whole blocks, but cut
      good.substr(0, 16),                // vector only
      "zz" + good.substr(2),             // not hex
      BlankAtEvenDigit(good),            // a blank for a digit that is not 0
      good + good.substr(16, 16),  // a block too many
      std::string(16 + 2 * 256, '0'),
  };
  for (const std::string &b : bad) EXPECT_EQ("", Decrypt(b, "Bkey")) << b;
  for (int i = 0; i < 50; i++) {
    std::string phrase = "Bwrong" + std::to_string(i);
    EXPECT_EQ("", Decrypt(good, phrase)) << phrase;
  }
  EXPECT_EQ("secret-pw", Decrypt(good + "}", "Bkey"));
}

TEST_F(CryptTest, CheckEncryptionDeciphersInPlace) {
  std::string hex = Encrypt("topsecret", std::string(1, VRK_PASSPHRASE_CHAR_BACKUP) + "host1");
  char buf[256];
  snprintf(buf, sizeof(buf), "{%s}", hex.c_str());
  CaptureStderr();
  EXPECT_EQ(1, vrk_check_encryption(BACKUP, (char *)"host1", buf, sizeof(buf)));
  std::string err = GetCapturedStderr();
  EXPECT_EQ("topsecret", std::string(buf));
  EXPECT_NE(std::string::npos, err.find("vrk-3117")) << err;

  // Another operation uses the other passphrase character.
  hex = Encrypt("other", std::string(1, VRK_PASSPHRASE_CHAR_OTHER) + "host1");
  snprintf(buf, sizeof(buf), "{%s}", hex.c_str());
  CaptureStderr();
  EXPECT_EQ(1, vrk_check_encryption(RESTORE, (char *)"host1", buf, sizeof(buf)));
  GetCapturedStderr();
  EXPECT_EQ("other", std::string(buf));

  // An extra digit before the closing brace is ignored.
  snprintf(buf, sizeof(buf), "{%s0}", hex.c_str());
  CaptureStderr();
  EXPECT_EQ(1, vrk_check_encryption(RESTORE, (char *)"host1", buf, sizeof(buf)));
  err = GetCapturedStderr();
  EXPECT_EQ("other", std::string(buf));
  EXPECT_EQ(std::string::npos, err.find("vrk-1149")) << err;

  // A buffer just large enough for the enciphered text holds the clear one.
  snprintf(buf, sizeof(buf), "{%s}", hex.c_str());
  CaptureStderr();
  EXPECT_EQ(1, vrk_check_encryption(RESTORE, (char *)"host1", buf, (unsigned)strlen(buf) + 1));
  GetCapturedStderr();
  EXPECT_EQ("other", std::string(buf));
}

TEST_F(CryptTest, CheckEncryptionFailures) {
  struct Case {
    const char *text;
    E_OPERATION op;
    int result;
    const char *logged;
  };
  std::string hex = "{" + Encrypt("pw", "Bk") + "}";
  std::string cut = hex.substr(0, hex.size() - 3) + "}";
  const Case cases[] = {
      {"plain", BACKUP, 1, nullptr},
      {"{notclosed", BACKUP, 1, nullptr},
      {"closed}", BACKUP, 1, nullptr},
      {"{}", BACKUP, 0, "strlen(szCrypted) 2 < 16 !"},
      {"{0123456789abcde}", BACKUP, 0, "strlen(szCrypted) 17 < 16 !"},
      {"{0123456789abcdef}", BACKUP, 0, "Encryption password validation failed."},
      {hex.c_str(), RESTORE, 0, "Encryption password validation failed."},  // wrong character
      {cut.c_str(), BACKUP, 0, "Encryption password validation failed."},
  };
  for (const Case &c : cases) {
    char buf[256];
    snprintf(buf, sizeof(buf), "%s", c.text);
    CaptureStderr();
    int rc = vrk_check_encryption(c.op, (char *)"k", buf, sizeof(buf));
    std::string err = GetCapturedStderr();
    EXPECT_EQ(c.result, rc) << c.text;
    EXPECT_EQ(std::string(c.text), std::string(buf)) << "left unchanged";
    if (c.logged)
      EXPECT_NE(std::string::npos, err.find(c.logged)) << err;
    else
      EXPECT_EQ("", err);
  }
}

TEST_F(CryptTest, CheckEncryptionRefusesUnterminatedBuffer) {
  char buf[4] = {'{', 'a', 'b', '}'};
  CaptureStderr();
  EXPECT_EQ(0, vrk_check_encryption(BACKUP, (char *)"k", buf, sizeof(buf)));
  EXPECT_NE(std::string::npos, GetCapturedStderr().find("vrk-1149"));
  EXPECT_EQ(0, memcmp(buf, "{ab}", 4));
}

TEST(CryptHex, HexToDecAndMultiplicant) {
  struct Case {
    const char *text;
    int value;
  };
  const Case cases[] = {{"1f", 31}, {"1F", 31}, {"", 0}, {"1g", -1}, {"ff", 255},
                        {"7fffffff", 0x7fffffff}, {"80000000", -1}, {"0000000001", 1}, {"100000000", -1}};
  for (const Case &c : cases) EXPECT_EQ(c.value, HexToDec((char *)c.text)) << c.text;
  EXPECT_EQ(1, GetMultiplicant(0));
  EXPECT_EQ(16, GetMultiplicant(1));
  EXPECT_EQ(0x10000000, GetMultiplicant(7));
  EXPECT_GE(bf_random(), 0);
}

}  // namespace
