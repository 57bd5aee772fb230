// Enciphered passwords: the "{vector+cipher}" check and in-place deciphering,
// the matching encryptor, and the hex helpers and random byte behind them.
#ifndef VRK_RUNTIME_VRK_CRYPT_H
#define VRK_RUNTIME_VRK_CRYPT_H

#include "client/vrk_global.h"

// The character that opens the passphrase: one for BACKUP, one for every
// other operation. The tools that encipher passwords for the client use the
// same pair.
#define VRK_PASSPHRASE_CHAR_BACKUP 'B'
#define VRK_PASSPHRASE_CHAR_OTHER 'R'

// Longest password the clear block can carry (its length is held in one byte).
#define VRK_CRYPT_MAX_PASSWORD 123
// Bytes of the clear-text buffer that vrk_decrypt_password clears (the buffer
// must hold one more).
#define VRK_CRYPT_PLAIN_SIZE 156
// Bytes of the passphrase that enter the key digest.
#define VRK_CRYPT_PASSPHRASE_MAX 128
// Largest clear block: 2 * 123 rounded down to 8, plus 8.
#define VRK_CRYPT_MAX_BLOCK 248

int vrk_check_encryption(E_OPERATION eOPERATION, char *szKey, char *szCrypted, unsigned int uiMaxPassSize);
int vrk_decrypt_password(char *cpPlainPassword, char *cpEncPassword, char *cpPassword);
int vrk_encrypt_password(char *cpEncryptedPassword, char *cpPlainPassword, unsigned long ulSrcLen, char *cpPassword);
int HexToDec(char *pcHex);
int GetMultiplicant(int iPot);
long bf_random(void);

#endif
