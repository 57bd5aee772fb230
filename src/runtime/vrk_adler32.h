// Adler-32 of a block, the running checksum of stored streams: 32 bytes a
// step with SSE2 on x86-64, the byte-wise sums elsewhere; same values as zlib.
#ifndef VRK_RUNTIME_VRK_ADLER32_H
#define VRK_RUNTIME_VRK_ADLER32_H

#include <stddef.h>
#include <stdint.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline uint32_t vrk_adler32(uint32_t adler, const uint8_t *p, size_t n) {
  const uint32_t kBase = 65521;
  // The most bytes before b can pass 32 bits, rounded down to whole steps.
  const size_t kNmax = 5536;
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (n > 0) {
    size_t k = n < kNmax ? n : kNmax;
    n -= k;
#if defined(__SSE2__)
    size_t blocks = k / 32;
    if (blocks > 0) {
      const __m128i zero = _mm_setzero_si128();
      const __m128i w1 = _mm_setr_epi16(32, 31, 30, 29, 28, 27, 26, 25);
      const __m128i w2 = _mm_setr_epi16(24, 23, 22, 21, 20, 19, 18, 17);
      const __m128i w3 = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
      const __m128i w4 = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
      __m128i vs1 = zero, vs2 = zero, vps = zero;
      for (size_t i = 0; i < blocks; ++i) {
        __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
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
      k -= blocks * 32;
    }
#endif
    while (k--) {
      a += *p++;
      b += a;
    }
    a %= kBase;
    b %= kBase;
  }
  return (b << 16) | a;
}

#endif
