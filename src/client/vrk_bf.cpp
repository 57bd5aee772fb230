// Data-block cipher: AES-256-CBC with a chain kept per direction across calls,
// and Blowfish CFB64 keyed from the MD5 words of the password.
// The AES_* and BF_* block APIs are deprecated in OpenSSL 3 but still shipped.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "client/vrk_bf.h"

#include <limits.h>
#include <openssl/aes.h>
#include <openssl/blowfish.h>
#include <openssl/crypto.h>
#include <stdio.h>
#include <string.h>

#include "client/vrk_global.h"
#include "runtime/cm_crypt.h"
#include "runtime/vrk_log.h"

namespace {

// The program's fixed initialisation vector: AES starts its chain from all 16
// bytes, Blowfish from the first 8. Data enciphered with another vector cannot
// be read back, so these bytes never change.
const unsigned char kFixedIV[16] = {0x3c, 0x91, 0x5e, 0xa7, 0x08, 0xd2, 0x6b, 0xf4,
                                    0x19, 0x85, 0xe3, 0x4a, 0xc6, 0x2f, 0x70, 0xbd};

constexpr size_t kAesKeyBuf = 33;  // key buffer; AES-256 takes its first 32 bytes
constexpr size_t kAesKeyBytes = 32;
constexpr size_t kBfKeyText = 28;  // password characters digested for Blowfish
constexpr size_t kBfKeyBytes = 28;  // 16 MD5 word bytes, then 12 zero bytes
constexpr unsigned long kAesBlock = 16;

// One AES stream per function: key schedule, chaining vector and the result
// of the last key set-up (non-zero until the first set-up succeeds).
struct AesStream {
  AES_KEY sKey;
  unsigned char ucVector[16];
  int iSetupResult;
};

AesStream g_encrypt_stream = {{}, {}, -1};
AesStream g_decrypt_stream = {{}, {}, -1};

// Sets key and vector up when *bInit is non-zero; returns false (messages
// 3500 and 1151 logged, *bInit left set) when the key set-up fails.
bool aes_setup(AesStream *stream, BOOL *bInit, const char *cpPassword, bool bEncrypt) {
  if (bInit == nullptr || *bInit == 0) return true;
  const char *fn = bEncrypt ? "vrk_encrypt" : "vrk_decrypt";
  if (spGlobal->iLogLevel > 2) {
    char what[64];
    snprintf(what, sizeof(what), "%s: set cbckey and cbcVector", fn);
    vrk_log(4000, "%s:%d %s", __FILE__, __LINE__, what);
  }
  unsigned char key[kAesKeyBuf] = {0};
  int rc = -1;
  if (cpPassword != nullptr) {
    memcpy(key, cpPassword, strnlen(cpPassword, kAesKeyBytes));
    memcpy(stream->ucVector, kFixedIV, sizeof(stream->ucVector));
    rc = bEncrypt ? AES_set_encrypt_key(key, 8 * kAesKeyBytes, &stream->sKey)
                  : AES_set_decrypt_key(key, 8 * kAesKeyBytes, &stream->sKey);
    OPENSSL_cleanse(key, sizeof(key));
  }
  stream->iSetupResult = rc;
  if (rc != 0) {
    if (bEncrypt)
      vrk_log(3500, "ERROR: AES_set_encrypt_key failed  %d", rc);
    else
      vrk_log(3500, "ERROR: AES_set_decrypt_key failed %d", rc);
    vrk_log(1151);
    return false;
  }
  *bInit = 0;
  return true;
}

int aes_crypt(char *cpDest, unsigned long *ulpDestLen, const char *cpSrc, unsigned long ulSrcLen,
              BOOL *bInit, const char *cpPassword, bool bEncrypt) {
  AesStream *stream = bEncrypt ? &g_encrypt_stream : &g_decrypt_stream;
  const char *fn = bEncrypt ? "vrk_encrypt" : "vrk_decrypt";
  vrk_log(4000, "%s: AES: ulSrcLen %lu", fn, ulSrcLen);
  if (cpDest == nullptr || ulpDestLen == nullptr || (cpSrc == nullptr && ulSrcLen > 0) ||
      ulSrcLen > ULONG_MAX - kAesBlock) {
    vrk_log(1151);
    return -1;
  }
  // A cipher text is whole blocks; anything else is not ours to decipher.
  if (!bEncrypt && ulSrcLen % kAesBlock != 0) {
    vrk_log(4000, "%s: AES: ulSrcLen %lu is no multiple of %lu", fn, ulSrcLen, kAesBlock);
    vrk_log(1151);
    return -1;
  }
  if (!aes_setup(stream, bInit, cpPassword, bEncrypt)) return -1;
  // No stream without a key: before the first set-up, or after a failed one.
  if (stream->iSetupResult != 0) {
    vrk_log(1151);
    return -1;
  }

  unsigned long ulLen = ulSrcLen;
  if (ulLen % kAesBlock != 0) {
    ulLen += kAesBlock - ulLen % kAesBlock;
    vrk_log(4000, "%s: alignment ulSrcLen %lu", fn, ulLen);
  }
  const unsigned char *in = reinterpret_cast<const unsigned char *>(cpSrc);
  unsigned char *out = reinterpret_cast<unsigned char *>(cpDest);
  unsigned long ulWhole = ulSrcLen - ulSrcLen % kAesBlock;
  int enc = bEncrypt ? AES_ENCRYPT : AES_DECRYPT;
  if (ulWhole > 0) AES_cbc_encrypt(in, out, ulWhole, &stream->sKey, stream->ucVector, enc);
  if (ulLen > ulWhole) {
    // The last block is padded with zero bytes here, never with whatever lies
    // behind the caller's data.
    unsigned char block[kAesBlock] = {0};
    memcpy(block, in + ulWhole, ulSrcLen - ulWhole);
    AES_cbc_encrypt(block, out + ulWhole, kAesBlock, &stream->sKey, stream->ucVector, enc);
    OPENSSL_cleanse(block, sizeof(block));
  }
  *ulpDestLen = ulLen;
  return 0;
}

int bf_crypt(char *cpDest, unsigned long *ulpDestLen, const char *cpSrc, unsigned long ulSrcLen,
             const char *cpPassword, bool bEncrypt) {
  vrk_log(4000, "%s: BF: ulSrcLen %lu", bEncrypt ? "vrk_encrypt" : "vrk_decrypt", ulSrcLen);
  if (cpDest == nullptr || ulpDestLen == nullptr || (cpSrc == nullptr && ulSrcLen > 0) ||
      cpPassword == nullptr || ulSrcLen > (unsigned long)LONG_MAX) {
    vrk_log(1151);
    return -1;
  }
  char keytext[kBfKeyText + 1] = {0};
  memcpy(keytext, cpPassword, strnlen(cpPassword, kBfKeyText));
  unsigned char digest[256] = {0};
  int rc = vrk_generate_md5(keytext, digest);
  OPENSSL_cleanse(keytext, sizeof(keytext));
  if (rc != 0) {
    OPENSSL_cleanse(digest, sizeof(digest));
    vrk_log(1151);
    return -1;
  }
  BF_KEY key;
  BF_set_key(&key, (int)kBfKeyBytes, digest);
  OPENSSL_cleanse(digest, sizeof(digest));
  unsigned char iv[8];
  memcpy(iv, kFixedIV, sizeof(iv));
  int num = 0;
  BF_cfb64_encrypt(reinterpret_cast<const unsigned char *>(cpSrc),
                   reinterpret_cast<unsigned char *>(cpDest), (long)ulSrcLen, &key, iv, &num,
                   bEncrypt ? BF_ENCRYPT : BF_DECRYPT);
  OPENSSL_cleanse(&key, sizeof(key));
  *ulpDestLen = ulSrcLen;
  return 0;
}

}  // namespace

int vrk_encrypt(char *cpDest, unsigned long *ulpDestLen, char *cpSrc, unsigned long ulSrcLen,
                int iNID, BOOL *bInit, char *cpPassword) {
  if (iNID == VRK_NID_AES_256_CBC)
    return aes_crypt(cpDest, ulpDestLen, cpSrc, ulSrcLen, bInit, cpPassword, true);
  return bf_crypt(cpDest, ulpDestLen, cpSrc, ulSrcLen, cpPassword, true);
}

int vrk_decrypt(char *cpDest, unsigned long *ulpDestLen, char *cpSrc, unsigned long ulSrcLen,
                int iNID, BOOL *bInit, char *cpPassword) {
  if (iNID == VRK_NID_AES_256_CBC)
    return aes_crypt(cpDest, ulpDestLen, cpSrc, ulSrcLen, bInit, cpPassword, false);
  return bf_crypt(cpDest, ulpDestLen, cpSrc, ulSrcLen, cpPassword, false);
}
