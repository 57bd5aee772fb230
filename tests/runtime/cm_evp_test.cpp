// Tests of evp_crypt against the openssl command and python3-cryptography:
// streaming over several calls, the vector from cbc_iv, operation resets and
// the refused set-ups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/cm_crypt.h"
#include "vrk_crypto_tools.h"

namespace {

const std::string kIv(reinterpret_cast<const char *>(cbc_iv), 8);

// Runs one whole operation: updates over the given pieces of data, then the
// final call. Returns false when any call fails.
bool Crypt(const std::vector<std::string> &pieces, bool encrypt, const char *cipher,
           const char *passwd, std::string *out) {
  out->clear();
  for (const std::string &p : pieces) {
    std::vector<unsigned char> buf(p.size() + 32);
    int n = -1;
    if (evp_crypt(buf.data(), &n, reinterpret_cast<const unsigned char *>(p.data()), (int)p.size(),
                  encrypt, 0, cipher, passwd) != 1)
      return false;
    out->append(reinterpret_cast<char *>(buf.data()), (size_t)n);
  }
  unsigned char last[32];
  int n = -1;
  if (evp_crypt(last, &n, nullptr, 0, encrypt, 1, cipher, passwd) != 1) return false;
  out->append(reinterpret_cast<char *>(last), (size_t)n);
  return true;
}

std::string Pkcs7(std::string s, size_t block) {
  size_t pad = block - s.size() % block;
  return s.append(pad, (char)pad);
}

const std::string kText = "The quick brown fox jumps over the lazy dog, twice over: 0123456789";

TEST(EvpCrypt, BlowfishCbcMatchesPythonAcrossCalls) {
  // A 10-byte key: the key is the password's bytes at the password's length.
  std::string out;
  ASSERT_TRUE(Crypt({kText.substr(0, 5), kText.substr(5, 20), kText.substr(25)}, true, "bf-cbc",
                    "secret key", &out));
  std::string ref;
  ASSERT_TRUE(vrktest::PythonEncrypt("Blowfish", "CBC", "secret key", kIv, Pkcs7(kText, 8), &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(out));

  std::string back;
  ASSERT_TRUE(Crypt({out.substr(0, 13), out.substr(13)}, false, "BF-CBC", "secret key", &back));
  EXPECT_EQ(kText, back);
}

TEST(EvpCrypt, TripleDesMatchesOpensslAndFollowsCbcIv) {
  const char *key = "0123456789abcdefFEDCBA98";  // 24 bytes
  std::string out, ref;
  ASSERT_TRUE(Crypt({kText}, true, "des-ede3-cbc", key, &out));
  ASSERT_TRUE(vrktest::OpensslEnc("des-ede3-cbc", true, key, kIv, "", kText, &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(out));

  // The vector is whatever cbc_iv holds when an operation starts.
  unsigned char saved[8];
  memcpy(saved, cbc_iv, 8);
  const unsigned char other[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  memcpy(cbc_iv, other, 8);
  bool ok = Crypt({kText}, true, "des-ede3-cbc", key, &out);
  memcpy(cbc_iv, saved, 8);
  ASSERT_TRUE(ok);
  ASSERT_TRUE(vrktest::OpensslEnc("des-ede3-cbc", true, key,
                                  std::string(reinterpret_cast<const char *>(other), 8), "", kText,
                                  &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(out));
}

TEST(EvpCrypt, CipherWithoutVectorMatchesOpenssl) {
  const char *key = "sixteen byte key";
  std::string out, ref;
  ASSERT_TRUE(Crypt({kText}, true, "aes-128-ecb", key, &out));
  ASSERT_TRUE(vrktest::OpensslEnc("aes-128-ecb", true, key, "", "", kText, &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(out));
}

TEST(EvpCrypt, RefusedSetUps) {
  unsigned char out[64];
  int n = 0;
  const unsigned char in[16] = {0};
  // Unknown cipher.
  EXPECT_EQ(0, evp_crypt(out, &n, in, 16, 1, 0, "no-such-cipher", "key"));
  // A final call with no operation running.
  EXPECT_EQ(0, evp_crypt(out, &n, in, 16, 1, 1, "bf-cbc", "key"));
  // A 16-byte vector cannot come from the 8-byte cbc_iv.
  EXPECT_EQ(0, evp_crypt(out, &n, in, 16, 1, 0, "aes-256-cbc", "0123456789abcdef0123456789abcdef"));
  // A fixed-length key that the password does not match.
  EXPECT_EQ(0, evp_crypt(out, &n, in, 16, 1, 0, "aes-128-ecb", "short"));
  // None of these left an operation running.
  EXPECT_EQ(0, evp_crypt(out, &n, nullptr, 0, 1, 1, "aes-128-ecb", "short"));
}

TEST(EvpCrypt, OtherCipherOrDirectionStartsANewOperation) {
  const char *bfkey = "secret key";
  unsigned char buf[128];
  int n = 0;
  // An encryption left open ...
  ASSERT_EQ(1, evp_crypt(buf, &n, reinterpret_cast<const unsigned char *>("leftover"), 8, 1, 0,
                         "bf-cbc", bfkey));
  // ... does not leak into a decryption with the same cipher,
  std::string cipher_text;
  {
    std::string ref;
    ASSERT_TRUE(
        vrktest::PythonEncrypt("Blowfish", "CBC", bfkey, kIv, Pkcs7(kText, 8), &ref));
    cipher_text = ref;
  }
  std::string back;
  ASSERT_TRUE(Crypt({cipher_text}, false, "bf-cbc", bfkey, &back));
  EXPECT_EQ(kText, back);

  // ... nor into an encryption with another cipher.
  ASSERT_EQ(1, evp_crypt(buf, &n, reinterpret_cast<const unsigned char *>("leftover"), 8, 1, 0,
                         "bf-cbc", bfkey));
  std::string out, ref;
  const char *key = "0123456789abcdefFEDCBA98";
  ASSERT_TRUE(Crypt({kText}, true, "des-ede3-cbc", key, &out));
  ASSERT_TRUE(vrktest::OpensslEnc("des-ede3-cbc", true, key, kIv, "", kText, &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(out));
}

TEST(EvpCrypt, FailedFinalEndsTheOperation) {
  // Deciphering text that is not whole blocks fails at the final call ...
  unsigned char buf[64];
  int n = 0;
  ASSERT_EQ(1, evp_crypt(buf, &n, reinterpret_cast<const unsigned char *>("12345"), 5, 0, 0,
                         "bf-cbc", "secret key"));
  EXPECT_EQ(0, evp_crypt(buf, &n, nullptr, 0, 0, 1, "bf-cbc", "secret key"));
  // ... and the next call starts afresh.
  EXPECT_EQ(0, evp_crypt(buf, &n, nullptr, 0, 0, 1, "bf-cbc", "secret key"));
  std::string out;
  ASSERT_TRUE(Crypt({kText}, true, "bf-cbc", "secret key", &out));
  std::string back;
  ASSERT_TRUE(Crypt({out}, false, "bf-cbc", "secret key", &back));
  EXPECT_EQ(kText, back);
}

}  // namespace
