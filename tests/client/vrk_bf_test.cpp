// Tests of the data-block cipher: AES-256-CBC against "openssl enc -nopad"
// with chaining across calls, Blowfish CFB64 against python3-cryptography,
// the refused calls and what reaches the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/vrk_bf.h"
#include "client/vrk_global.h"
#include "vrk_crypto_tools.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// The program's fixed vector; data enciphered before must stay readable.
const std::string kFixedIV = vrktest::FromHex("3c915ea708d26bf41985e34ac62f70bd");
// 40 characters: AES keys on the first 32, Blowfish on the first 28.
char kPassword[] = "Correct-Horse-Battery-Staple-42-XXXXXXXX";
// MD5 words of "Correct-Horse-Battery-Staple" and 12 zero bytes.
const std::string kBfKey =
    vrktest::FromHex("d0cc995062420cdc872174d67e6f3f85000000000000000000000000");

std::string Sample(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (char)((i * 37 + 11) & 0xff);
  return s;
}

// One call; the buffers are the raised length, the source's tail filled
// with junk that must not reach the cipher.
int Call(bool encrypt, const std::string &in, int nid, BOOL *init, char *password,
         std::string *out) {
  size_t room = (in.size() + 15) / 16 * 16;
  std::vector<char> src(room, '\xaa'), dst(room + 16, '\x55');
  memcpy(src.data(), in.data(), in.size());
  unsigned long len = 12345;
  int rc = encrypt ? vrk_encrypt(dst.data(), &len, src.data(), in.size(), nid, init, password)
                   : vrk_decrypt(dst.data(), &len, src.data(), in.size(), nid, init, password);
  if (rc == 0) *out = std::string(dst.data(), len);
  return rc;
}

class BfTest : public testing::Test {
 protected:
  void SetUp() override { vrktest::ResetGlobal(); }
  void TearDown() override { vrktest::ResetGlobal(); }
};

TEST_F(BfTest, AesMatchesOpensslWithZeroPadding) {
  std::string plain = Sample(155), out;
  BOOL init = 1;
  ASSERT_EQ(0, Call(true, plain, 427, &init, kPassword, &out));
  EXPECT_EQ(0, init);
  EXPECT_EQ(160u, out.size());
  std::string ref;
  ASSERT_TRUE(vrktest::OpensslEnc("aes-256-cbc", true, std::string(kPassword, 32), kFixedIV,
                                  "-nopad", plain + std::string(5, '\0'), &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(out));

  // Deciphering gives the data back with the zero padding.
  std::string back;
  init = 1;
  ASSERT_EQ(0, Call(false, out, 427, &init, kPassword, &back));
  EXPECT_EQ(0, init);
  EXPECT_EQ(plain + std::string(5, '\0'), back);
}

TEST_F(BfTest, AesShortPasswordIsZeroFilled) {
  char pw[] = "pw";
  std::string plain = Sample(32), out, ref;
  BOOL init = 1;
  ASSERT_EQ(0, Call(true, plain, 427, &init, pw, &out));
  ASSERT_TRUE(vrktest::OpensslEnc("aes-256-cbc", true, std::string("pw") + std::string(30, '\0'),
                                  kFixedIV, "-nopad", plain, &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(out));
}

TEST_F(BfTest, AesChainsAcrossCallsUntilTheFlagIsSetAgain) {
  std::string plain = Sample(48 + 155);
  // Pieces of 16, 32 and 155 bytes, the flag set for the first only.
  std::string chained, piece;
  BOOL init = 1;
  for (std::string p : {plain.substr(0, 16), plain.substr(16, 32), plain.substr(48)}) {
    ASSERT_EQ(0, Call(true, p, 427, &init, kPassword, &piece));
    EXPECT_EQ(0, init);
    chained += piece;
  }
  std::string ref;
  ASSERT_TRUE(vrktest::OpensslEnc("aes-256-cbc", true, std::string(kPassword, 32), kFixedIV,
                                  "-nopad", plain + std::string(5, '\0'), &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(chained));

  // Setting the flag again restarts from the fixed vector.
  init = 1;
  ASSERT_EQ(0, Call(true, plain.substr(0, 16), 427, &init, kPassword, &piece));
  EXPECT_EQ(vrktest::ToHex(ref.substr(0, 16)), vrktest::ToHex(piece));

  // Deciphering chains the same way.
  std::string back;
  init = 1;
  for (std::string p : {ref.substr(0, 48), ref.substr(48, 16), ref.substr(64)}) {
    ASSERT_EQ(0, Call(false, p, 427, &init, kPassword, &piece));
    back += piece;
  }
  EXPECT_EQ(plain + std::string(5, '\0'), back);
}

TEST_F(BfTest, AesDecryptRefusesPartialBlocks) {
  std::string out;
  BOOL init = 1;
  CaptureStderr();
  EXPECT_EQ(-1, Call(false, Sample(155), 427, &init, kPassword, &out));
  std::string log = GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("vrk-1151: Error:    Encryption/Decryption operation failed."))
      << log;
  EXPECT_EQ(1, init);
}

TEST_F(BfTest, AesFailedSetUpKeepsFlagAndBlocksTheStream) {
  std::string out;
  BOOL init = 1;
  CaptureStderr();
  EXPECT_EQ(-1, Call(true, Sample(16), 427, &init, nullptr, &out));
  std::string log = GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("ERROR: AES_set_encrypt_key failed  -1")) << log;
  EXPECT_NE(std::string::npos, log.find("vrk-1151:")) << log;
  EXPECT_EQ(1, init);
  // No key: the stream does not go on without a set-up ...
  init = 0;
  EXPECT_EQ(-1, Call(true, Sample(16), 427, &init, kPassword, &out));
  // ... Blowfish is not affected ...
  EXPECT_EQ(0, Call(true, Sample(16), 91, &init, kPassword, &out));
  // ... and the next set-up works.
  init = 1;
  EXPECT_EQ(0, Call(true, Sample(16), 427, &init, kPassword, &out));
  EXPECT_EQ(0, init);
}

// Runs in a fresh process, where no AES set-up has happened yet.
TEST_F(BfTest, AesBeforeAnySetUpFails) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::string out;
        BOOL init = 0;
        int enc = Call(true, Sample(16), 427, &init, kPassword, &out);
        int dec = Call(false, Sample(16), 427, &init, kPassword, &out);
        _exit(enc == -1 && dec == -1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "vrk-1151");
}

TEST_F(BfTest, BlowfishMatchesPythonCfb64) {
  std::string plain = Sample(155), out, ref;
  BOOL init = 1;
  ASSERT_EQ(0, Call(true, plain, 91, &init, kPassword, &out));
  EXPECT_EQ(1, init);  // not used by Blowfish
  EXPECT_EQ(155u, out.size());
  ASSERT_TRUE(vrktest::PythonEncrypt("Blowfish", "CFB", kBfKey, kFixedIV.substr(0, 8), plain, &ref));
  EXPECT_EQ(vrktest::ToHex(ref), vrktest::ToHex(out));

  // No chaining: the same call gives the same bytes; any identifier but 427
  // and only the first 28 characters count.
  char pw28[] = "Correct-Horse-Battery-Staple";
  for (int nid : {91, 0, 426, 428}) {
    std::string again;
    ASSERT_EQ(0, Call(true, plain, nid, nullptr, nid == 0 ? pw28 : kPassword, &again)) << nid;
    EXPECT_EQ(out, again) << nid;
  }

  std::string back;
  ASSERT_EQ(0, Call(false, out, 91, nullptr, kPassword, &back));
  EXPECT_EQ(plain, back);
  // A decipher call leaves the next one unaffected too.
  ASSERT_EQ(0, Call(false, out.substr(0, 10), 91, nullptr, kPassword, &back));
  EXPECT_EQ(plain.substr(0, 10), back);
}

TEST_F(BfTest, NoKeyOrPasswordInTheLog) {
  spGlobal->iLogLevel = 4;
  std::string out, tmp;
  BOOL init = 1;
  CaptureStderr();
  Call(true, Sample(155), 427, &init, kPassword, &out);
  init = 1;
  Call(false, out, 427, &init, kPassword, &tmp);
  Call(true, Sample(155), 91, nullptr, kPassword, &out);
  Call(false, out, 91, nullptr, kPassword, &tmp);
  std::string log = GetCapturedStderr();
  EXPECT_EQ(std::string::npos, log.find("Correct")) << log;
  EXPECT_EQ(std::string::npos, log.find("cbckey [")) << log;
  for (const char *line :
       {"vrk_encrypt: AES: ulSrcLen 155", "vrk_encrypt: set cbckey and cbcVector",
        "vrk_encrypt: alignment ulSrcLen 160", "vrk_decrypt: AES: ulSrcLen 160",
        "vrk_decrypt: set cbckey and cbcVector", "vrk_encrypt: BF: ulSrcLen 155",
        "vrk_decrypt: BF: ulSrcLen 155"})
    EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
}

TEST_F(BfTest, RefusesMissingBuffers) {
  unsigned long len = 0;
  char buf[16] = {0};
  BOOL init = 1;
  EXPECT_EQ(-1, vrk_encrypt(nullptr, &len, buf, 16, 427, &init, kPassword));
  EXPECT_EQ(-1, vrk_encrypt(buf, nullptr, buf, 16, 91, &init, kPassword));
  EXPECT_EQ(-1, vrk_decrypt(buf, &len, nullptr, 16, 91, &init, kPassword));
  EXPECT_EQ(-1, vrk_decrypt(buf, &len, buf, 16, 91, &init, nullptr));
}

}  // namespace
