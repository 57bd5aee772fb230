// MD5 digest in the program's word layout and the MD5 fingerprint text, with
// the common crypto unit's initialisation vector.
#include "runtime/cm_crypt.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <string.h>

unsigned char cbc_iv[8] = {0x5e, 0x0b, 0x7a, 0xd1, 0xc4, 0x93, 0x2f, 0x68};

int vrk_generate_md5(const char *cpString, unsigned char *ucpOut) {
  if (cpString == nullptr || ucpOut == nullptr) return -1;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(cpString, strlen(cpString), digest, &len, EVP_md5(), nullptr) != 1 || len != 16)
    return -1;
  // Each 32-bit word is the big-endian reading of four digest bytes, stored
  // low byte first.
  for (int w = 0; w < 4; ++w)
    for (int b = 0; b < 4; ++b) ucpOut[4 * w + b] = digest[4 * w + 3 - b];
  return 0;
}

void ENCRYPT(const char *cpString, char *cpEncrypt) {
  if (cpEncrypt == nullptr) return;
  cpEncrypt[0] = '\0';
  unsigned char md5[16];
  if (vrk_generate_md5(cpString, md5) != 0) return;
  // Bytes are printed unsigned: a byte 0xab is "ab", never "ffffffab".
  snprintf(cpEncrypt, 17, "%x%x%x%x%x%x%x%x", (unsigned)md5[0], (unsigned)md5[1],
           (unsigned)md5[2], (unsigned)md5[3], (unsigned)md5[4], (unsigned)md5[5],
           (unsigned)md5[6], (unsigned)md5[7]);
}
