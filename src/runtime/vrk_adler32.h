// Adler-32 of a block, the running checksum of stored streams: 32 bytes a
// step with AVX2 or SSE2 on x86-64, the byte-wise sums elsewhere; zlib's values.
#ifndef VRK_RUNTIME_VRK_ADLER32_H
#define VRK_RUNTIME_VRK_ADLER32_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VRK_ADLER32_AVX2 1
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vrk_adler32_detail {

const uint32_t kBase = 65521;
// The most bytes before b can pass 32 bits, rounded down to whole steps.
const size_t kNmax = 5536;

// The byte-wise sums of k bytes (copied to dst too, when dst is not null).
inline void tail(uint32_t &a, uint32_t &b, uint8_t *dst, const uint8_t *p, size_t k) {
  if (dst != nullptr && k > 0) memcpy(dst, p, k);
  while (k--) {
    a += *p++;
    b += a;
  }
}

// SSE2 (or nothing) for whole 32-byte steps of one chunk of at most kNmax
// bytes; returns the bytes it took.
inline size_t steps_sse2(uint32_t &a, uint32_t &b, uint8_t *dst, const uint8_t *p, size_t k) {
#if defined(__SSE2__)
  size_t blocks = k / 32;
  if (blocks == 0) return 0;
  const __m128i zero = _mm_setzero_si128();
  const __m128i w1 = _mm_setr_epi16(32, 31, 30, 29, 28, 27, 26, 25);
  const __m128i w2 = _mm_setr_epi16(24, 23, 22, 21, 20, 19, 18, 17);
  const __m128i w3 = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i w4 = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  __m128i vs1 = zero, vs2 = zero, vps = zero;
  for (size_t i = 0; i < blocks; ++i) {
    __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
    if (dst != nullptr) {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), x0);
      _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16), x1);
      dst += 32;
    }
    vps = _mm_add_epi32(vps, vs1);
    vs1 = _mm_add_epi32(vs1, _mm_add_epi32(_mm_sad_epu8(x0, zero), _mm_sad_epu8(x1, zero)));
    __m128i m = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(x0, zero), w1),
                              _mm_madd_epi16(_mm_unpackhi_epi8(x0, zero), w2));
    m = _mm_add_epi32(m, _mm_madd_epi16(_mm_unpacklo_epi8(x1, zero), w3));
    m = _mm_add_epi32(m, _mm_madd_epi16(_mm_unpackhi_epi8(x1, zero), w4));
    vs2 = _mm_add_epi32(vs2, m);
    p += 32;
  }
  vs2 = _mm_add_epi32(vs2, _mm_slli_epi32(vps, 5));
  alignas(16) uint32_t s1[4], s2[4];
  _mm_store_si128(reinterpret_cast<__m128i *>(s1), vs1);
  _mm_store_si128(reinterpret_cast<__m128i *>(s2), vs2);
  b += a * (uint32_t)(blocks * 32) + s2[0] + s2[1] + s2[2] + s2[3];
  a += s1[0] + s1[1] + s1[2] + s1[3];
  return blocks * 32;
#else
  (void)a, (void)b, (void)dst, (void)p, (void)k;
  return 0;
#endif
}

#if defined(VRK_ADLER32_AVX2)
// The same with AVX2: one load, one byte-pair multiply and one widening
// multiply a step, two steps a turn; kCopy stores each load to dst as well.
template <bool kCopy>
__attribute__((target("avx2"))) inline size_t steps_avx2(uint32_t &a, uint32_t &b, uint8_t *dst,
                                                         const uint8_t *p, size_t k) {
  size_t blocks = k / 32;
  if (blocks == 0) return 0;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16,
                                           15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  const __m256i ones = _mm256_set1_epi16(1);
  __m256i vs1 = zero, vs2 = zero, vps = zero, vs2b = zero;
  size_t i = 0;
  // Two steps a turn: the second adds what the first added to vs1 once more
  // to vps, so vps gets twice vs1 and the first step's sums.
  for (; i + 2 <= blocks; i += 2) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 * i));
    __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 * i + 32));
    if (kCopy) {
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 32 * i), x);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 32 * i + 32), y);
    }
    __m256i sx = _mm256_sad_epu8(x, zero);
    vps = _mm256_add_epi32(vps, _mm256_add_epi32(_mm256_add_epi32(vs1, vs1), sx));
    vs1 = _mm256_add_epi32(vs1, _mm256_add_epi32(sx, _mm256_sad_epu8(y, zero)));
    vs2 = _mm256_add_epi32(vs2, _mm256_madd_epi16(_mm256_maddubs_epi16(x, weights), ones));
    vs2b = _mm256_add_epi32(vs2b, _mm256_madd_epi16(_mm256_maddubs_epi16(y, weights), ones));
  }
  for (; i < blocks; ++i) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 * i));
    if (kCopy) _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 32 * i), x);
    vps = _mm256_add_epi32(vps, vs1);
    vs1 = _mm256_add_epi32(vs1, _mm256_sad_epu8(x, zero));
    vs2 = _mm256_add_epi32(vs2, _mm256_madd_epi16(_mm256_maddubs_epi16(x, weights), ones));
  }
  vs2 = _mm256_add_epi32(_mm256_add_epi32(vs2, vs2b), _mm256_slli_epi32(vps, 5));
  __m128i s1 = _mm_add_epi32(_mm256_castsi256_si128(vs1), _mm256_extracti128_si256(vs1, 1));
  __m128i s2 = _mm_add_epi32(_mm256_castsi256_si128(vs2), _mm256_extracti128_si256(vs2, 1));
  s1 = _mm_add_epi32(s1, _mm_shuffle_epi32(s1, 0x4E));
  s2 = _mm_add_epi32(s2, _mm_shuffle_epi32(s2, 0x4E));
  s2 = _mm_add_epi32(s2, _mm_shuffle_epi32(s2, 0xB1));
  b += a * (uint32_t)(blocks * 32) + (uint32_t)_mm_cvtsi128_si32(s2);
  a += (uint32_t)_mm_cvtsi128_si32(s1);
  return blocks * 32;
}

inline bool have_avx2() {
  // Asked once; the processor's description is read first in case this runs
  // before the compiler's own start-up code did.
  static const bool yes = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
  return yes;
}
#endif

// Folds n bytes into adler, copying them to dst as well when dst is not null;
// avx2 chooses the AVX2 steps (only where the processor has them).
inline uint32_t fold(uint32_t adler, uint8_t *dst, const uint8_t *p, size_t n, bool avx2) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (n > 0) {
    size_t k = n < kNmax ? n : kNmax;
    n -= k;
    size_t done;
#if defined(VRK_ADLER32_AVX2)
    if (avx2)
      done = dst != nullptr ? steps_avx2<true>(a, b, dst, p, k) : steps_avx2<false>(a, b, dst, p, k);
    else
      done = steps_sse2(a, b, dst, p, k);
#else
    (void)avx2;
    done = steps_sse2(a, b, dst, p, k);
#endif
    p += done;
    if (dst != nullptr) dst += done;
    tail(a, b, dst, p, k - done);
    p += k - done;
    if (dst != nullptr) dst += k - done;
    a %= kBase;
    b %= kBase;
  }
  return (b << 16) | a;
}

inline bool use_avx2() {
#if defined(VRK_ADLER32_AVX2)
  return have_avx2();
#else
  return false;
#endif
}

}  // namespace vrk_adler32_detail

inline uint32_t vrk_adler32(uint32_t adler, const uint8_t *p, size_t n) {
  return vrk_adler32_detail::fold(adler, nullptr, p, n, vrk_adler32_detail::use_avx2());
}

// Copies n bytes from src to dst and folds them into adler in the same pass;
// the blocks must not overlap.
inline uint32_t vrk_adler32_copy(uint32_t adler, void *dst, const void *src, size_t n) {
  return vrk_adler32_detail::fold(adler, static_cast<uint8_t *>(dst), static_cast<const uint8_t *>(src), n,
                                  vrk_adler32_detail::use_avx2());
}

#endif
