// Tests of the block-wise Adler-32: the same values as zlib for every
// length around the step and the modulo bound, any alignment and seed, on
// both the SSE2 and the AVX2 steps, and with the copy folded in.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/vrk_adler32.h"

namespace {

TEST(VrkAdler32, EqualsZlibForEveryLengthAlignmentAndSeed) {
  std::vector<uint8_t> data(200000);
  uint32_t x = 7;
  for (uint8_t &c : data) {
    x = x * 1103515245u + 12345u;
    c = (uint8_t)(x >> 16);
  }
  std::vector<uint8_t> ones(20000, 0xFF);
  for (const std::vector<uint8_t> *buf : {&data, &ones}) {
    for (size_t off : {0, 1, 15, 31}) {
      for (size_t len : {0, 1, 31, 32, 33, 5535, 5536, 5537, 5552, 5553, 11072, 19000}) {
        for (uint32_t seed : {1u, 0u, 0xFFF0FFF0u % 65521u, (65520u << 16) | 65520u}) {
          uint32_t want = (uint32_t)adler32_z(seed, buf->data() + off, len);
          EXPECT_EQ(want, vrk_adler32(seed, buf->data() + off, len)) << off << " " << len << " " << seed;
          for (bool avx2 : {false, true}) {
            if (avx2 && !vrk_adler32_detail::use_avx2()) continue;
            EXPECT_EQ(want, vrk_adler32_detail::fold(seed, nullptr, buf->data() + off, len, avx2))
                << off << " " << len << " " << seed << " avx2 " << avx2;
            // The copy lands at any alignment, exactly the bytes asked for.
            std::vector<uint8_t> to(len + 40, 0xA5);
            EXPECT_EQ(want, vrk_adler32_detail::fold(seed, to.data() + 3, buf->data() + off, len, avx2));
            EXPECT_TRUE(std::equal(buf->data() + off, buf->data() + off + len, to.data() + 3)) << len;
            EXPECT_EQ(0xA5, to[2]);
            EXPECT_EQ(0xA5, to[len + 3]);
          }
          std::vector<uint8_t> to(len + 1);
          EXPECT_EQ(want, vrk_adler32_copy(seed, to.data(), buf->data() + off, len));
          EXPECT_TRUE(std::equal(buf->data() + off, buf->data() + off + len, to.data()));
        }
      }
    }
  }
  // In pieces as the stream writer folds them.
  uint32_t whole = (uint32_t)adler32_z(1, data.data(), data.size());
  uint32_t pieces = 1;
  for (size_t p = 0; p < data.size(); p += 65536)
    pieces = vrk_adler32(pieces, data.data() + p, std::min<size_t>(65536, data.size() - p));
  EXPECT_EQ(whole, pieces);
}

}  // namespace
