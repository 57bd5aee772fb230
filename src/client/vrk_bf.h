// Data-block cipher: vrk_encrypt and vrk_decrypt encipher a block with a
// password, AES-256-CBC chained across calls or Blowfish CFB64 per call.
#ifndef VRK_CLIENT_VRK_BF_H
#define VRK_CLIENT_VRK_BF_H

#include "runtime/vrk_types.h"

// OpenSSL's NID_aes_256_cbc: selects AES; every other identifier Blowfish.
#define VRK_NID_AES_256_CBC 427

// iNID 427: AES-256-CBC with the first 32 bytes of cpPassword (zero-padded) as
// key. A non-zero *bInit sets key and chaining vector up afresh and is cleared;
// later calls continue the chain. vrk_encrypt raises the length to a multiple
// of 16 (zero padding; cpDest holds the raised length), vrk_decrypt needs a
// multiple of 16. Any other iNID: Blowfish CFB64 keyed from the MD5 of the
// password's first 28 characters, started afresh on every call, output as long
// as input; bInit is not used. *ulpDestLen receives the bytes produced.
// Returns 0, or -1 on failure (message 1151).
int vrk_encrypt(char *cpDest, unsigned long *ulpDestLen, char *cpSrc, unsigned long ulSrcLen,
                int iNID, BOOL *bInit, char *cpPassword);
int vrk_decrypt(char *cpDest, unsigned long *ulpDestLen, char *cpSrc, unsigned long ulSrcLen,
                int iNID, BOOL *bInit, char *cpPassword);

#endif
