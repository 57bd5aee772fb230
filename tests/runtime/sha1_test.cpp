// Tests of the runtime's SHA-1: the standard's vectors, agreement with
// OpenSSL over lengths and split points around the 64-byte block.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "runtime/sha1.h"

namespace {

std::string Hex(const WORD8 *d, size_t n) {
  static const char k[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += k[d[i] >> 4];
    s += k[d[i] & 15];
  }
  return s;
}

std::string Ours(const std::vector<WORD8> &msg, std::vector<size_t> splits = {}) {
  PSHA1CTX ctx = KV_SHA1_Create();
  EXPECT_NE(nullptr, ctx);
  size_t pos = 0;
  splits.push_back(msg.size());
  for (size_t cut : splits) {
    KV_SHA1_Update(ctx, msg.data() + pos, (WORD32)(cut - pos));
    pos = cut;
  }
  WORD8 d[20];
  KV_SHA1_Final(d, ctx);
  EXPECT_EQ(1, ctx->blDone);
  KV_SHA1_Destroy(ctx);
  return Hex(d, 20);
}

std::string Theirs(const std::vector<WORD8> &msg) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(msg.data(), msg.size(), d, &n, EVP_sha1(), nullptr);
  return Hex(d, n);
}

std::vector<WORD8> Bytes(const std::string &s) { return std::vector<WORD8>(s.begin(), s.end()); }

TEST(Sha1, StandardVectors) {
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", Ours({}));
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", Ours(Bytes("abc")));
  EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1",
            Ours(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")));
  EXPECT_EQ(1, SHA1_SelfTest());
}

TEST(Sha1, PiecewiseEqualsWhole) {
  EXPECT_EQ(Ours(Bytes("abc")), Ours(Bytes("abc"), {1, 2}));
}

TEST(Sha1, AgreesWithOpenSslAroundBlockBoundaries) {
  for (size_t len : {1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u, 1000u}) {
    std::vector<WORD8> msg(len);
    for (size_t i = 0; i < len; i++) msg[i] = (WORD8)(i * 131 + 7);
    std::string want = Theirs(msg);
    EXPECT_EQ(want, Ours(msg)) << len;
    for (size_t cut : {1u, 63u, 64u, 65u}) {
      if (cut < len) {
        EXPECT_EQ(want, Ours(msg, {cut})) << len << " cut " << cut;
      }
    }
    if (len > 66) {
      EXPECT_EQ(want, Ours(msg, {3, 64, 66})) << len;
    }
  }
}

TEST(Sha1, ResetStartsAFreshMessage) {
  PSHA1CTX ctx = KV_SHA1_Create();
  WORD8 d[20];
  KV_SHA1_Update(ctx, (const WORD8 *)"xyz", 3);
  KV_SHA1_Final(d, ctx);
  KV_SHA1_Reset(ctx);
  KV_SHA1_Update(ctx, (const WORD8 *)"abc", 3);
  KV_SHA1_Final(d, ctx);
  KV_SHA1_Destroy(ctx);
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", Hex(d, 20));
}

}  // namespace
