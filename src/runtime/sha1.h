// The program's own SHA-1 message digest (FIPS 180-1): the context record,
// its create/update/final interface, the compression function and a self-test.
#ifndef VRK_RUNTIME_SHA1_H
#define VRK_RUNTIME_SHA1_H

#include <stdint.h>

typedef uint8_t WORD8;
typedef uint32_t WORD32;
typedef uint8_t BYTEBOOL;

#define SHA1_DIGEST_SIZE 20
#define SHA1_BLOCK_SIZE 64

typedef struct _SHA1CTX {
  WORD32 digest[5];       // chaining value
  WORD32 lCountLo;        // message length in bits, low word
  WORD32 lCountHi;        // message length in bits, high word
  WORD32 data[16];        // current block as big-endian words
  WORD8 dataBuffer[64];   // input bytes not yet forming a whole block
  BYTEBOOL blDone;        // set once the digest has been taken
} SHA1CTX, *PSHA1CTX;

PSHA1CTX KV_SHA1_Create(void);
void KV_SHA1_Initialize(PSHA1CTX pCtx);
void KV_SHA1_Reset(PSHA1CTX pCtx);
void KV_SHA1_Update(PSHA1CTX pCtx, const WORD8 *pData, WORD32 lNumOfBytes);
void KV_SHA1_Final(WORD8 *pDigest, PSHA1CTX pCtx);
void KV_SHA1_Destroy(PSHA1CTX pCtx);
void _SHA1_transform(WORD32 *digest, WORD32 *data);
BYTEBOOL SHA1_SelfTest(void);

#endif
