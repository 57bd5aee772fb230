// SHA-1 (FIPS 180-1) written for the runtime: the context lifecycle, the
// block compression and the self-test over the standard's three examples.
#include "runtime/sha1.h"

#include <stdlib.h>
#include <string.h>

#include <openssl/crypto.h>

namespace {

inline WORD32 rol(WORD32 v, int n) { return (v << n) | (v >> (32 - n)); }

const WORD32 kInit[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};

// Loads the 64 buffered bytes as big-endian words and compresses them.
void transform_buffer(PSHA1CTX pCtx) {
  for (int i = 0; i < 16; i++) {
    const WORD8 *p = pCtx->dataBuffer + 4 * i;
    pCtx->data[i] = ((WORD32)p[0] << 24) | ((WORD32)p[1] << 16) | ((WORD32)p[2] << 8) | (WORD32)p[3];
  }
  _SHA1_transform(pCtx->digest, pCtx->data);
}

void clear_ctx(PSHA1CTX pCtx) { OPENSSL_cleanse(pCtx, sizeof(*pCtx)); }

}  // namespace

void _SHA1_transform(WORD32 *digest, WORD32 *data) {
  WORD32 w[80];
  for (int i = 0; i < 16; i++) w[i] = data[i];
  for (int i = 16; i < 80; i++) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  WORD32 a = digest[0], b = digest[1], c = digest[2], d = digest[3], e = digest[4];
  for (int i = 0; i < 80; i++) {
    WORD32 f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    WORD32 t = rol(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rol(b, 30);
    b = a;
    a = t;
  }
  digest[0] += a;
  digest[1] += b;
  digest[2] += c;
  digest[3] += d;
  digest[4] += e;
  OPENSSL_cleanse(w, sizeof(w));
}

PSHA1CTX KV_SHA1_Create(void) {
  PSHA1CTX pCtx = (PSHA1CTX)malloc(sizeof(SHA1CTX));
  if (pCtx == NULL) return NULL;
  KV_SHA1_Initialize(pCtx);
  return pCtx;
}

void KV_SHA1_Initialize(PSHA1CTX pCtx) {
  KV_SHA1_Reset(pCtx);
  pCtx->lCountLo = 0;
  pCtx->lCountHi = 0;
}

void KV_SHA1_Reset(PSHA1CTX pCtx) {
  clear_ctx(pCtx);
  memcpy(pCtx->digest, kInit, sizeof(kInit));
}

void KV_SHA1_Update(PSHA1CTX pCtx, const WORD8 *pData, WORD32 lNumOfBytes) {
  WORD32 used = (pCtx->lCountLo >> 3) & 63u;
  WORD32 lo = pCtx->lCountLo + (lNumOfBytes << 3);
  if (lo < pCtx->lCountLo) pCtx->lCountHi++;
  pCtx->lCountLo = lo;
  pCtx->lCountHi += lNumOfBytes >> 29;
  while (lNumOfBytes > 0) {
    WORD32 take = SHA1_BLOCK_SIZE - used;
    if (take > lNumOfBytes) take = lNumOfBytes;
    memcpy(pCtx->dataBuffer + used, pData, take);
    used += take;
    pData += take;
    lNumOfBytes -= take;
    if (used == SHA1_BLOCK_SIZE) {
      transform_buffer(pCtx);
      used = 0;
    }
  }
}

void KV_SHA1_Final(WORD8 *pDigest, PSHA1CTX pCtx) {
  WORD32 lo = pCtx->lCountLo, hi = pCtx->lCountHi;
  WORD32 used = (lo >> 3) & 63u;
  pCtx->dataBuffer[used++] = 0x80;
  if (used > 56) {
    memset(pCtx->dataBuffer + used, 0, SHA1_BLOCK_SIZE - used);
    transform_buffer(pCtx);
    used = 0;
  }
  memset(pCtx->dataBuffer + used, 0, 56 - used);
  WORD8 *len = pCtx->dataBuffer + 56;
  for (int i = 0; i < 4; i++) {
    len[i] = (WORD8)(hi >> (24 - 8 * i));
    len[4 + i] = (WORD8)(lo >> (24 - 8 * i));
  }
  transform_buffer(pCtx);
  for (int i = 0; i < 5; i++) {
    pDigest[4 * i] = (WORD8)(pCtx->digest[i] >> 24);
    pDigest[4 * i + 1] = (WORD8)(pCtx->digest[i] >> 16);
    pDigest[4 * i + 2] = (WORD8)(pCtx->digest[i] >> 8);
    pDigest[4 * i + 3] = (WORD8)pCtx->digest[i];
  }
  clear_ctx(pCtx);
  pCtx->blDone = 1;
}

void KV_SHA1_Destroy(PSHA1CTX pCtx) {
  if (pCtx == NULL) return;
  clear_ctx(pCtx);
  free(pCtx);
}

BYTEBOOL SHA1_SelfTest(void) {
  static const WORD8 kAbc[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                 0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
  static const WORD8 kLong[20] = {0x84, 0x98, 0x3e, 0x44, 0x1c, 0x3b, 0xd2, 0x6e, 0xba, 0xae,
                                  0x4a, 0xa1, 0xf9, 0x51, 0x29, 0xe5, 0xe5, 0x46, 0x70, 0xf1};
  static const WORD8 kMillion[20] = {0x34, 0xaa, 0x97, 0x3c, 0xd4, 0xc4, 0xda, 0xa4, 0xf6, 0x1e,
                                     0xeb, 0x2b, 0xdb, 0xad, 0x27, 0x31, 0x65, 0x34, 0x01, 0x6f};
  WORD8 out[20];
  SHA1CTX ctx;

  KV_SHA1_Initialize(&ctx);
  KV_SHA1_Update(&ctx, (const WORD8 *)"abc", 3);
  KV_SHA1_Final(out, &ctx);
  if (memcmp(out, kAbc, 20) != 0) return 0;

  static const char kMsg2[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  KV_SHA1_Initialize(&ctx);
  KV_SHA1_Update(&ctx, (const WORD8 *)kMsg2, (WORD32)strlen(kMsg2));
  KV_SHA1_Final(out, &ctx);
  if (memcmp(out, kLong, 20) != 0) return 0;

  WORD8 a[1000];
  memset(a, 'a', sizeof(a));
  KV_SHA1_Initialize(&ctx);
  for (int i = 0; i < 1000; i++) KV_SHA1_Update(&ctx, a, sizeof(a));
  KV_SHA1_Final(out, &ctx);
  if (memcmp(out, kMillion, 20) != 0) return 0;
  return 1;
}
