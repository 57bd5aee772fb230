// The 8-byte Blowfish CBC initialisation vector shared by the password
// encryptor, the named ciphers and the data-block cipher (defined in cm_crypt.cpp).
#ifndef VRK_RUNTIME_CBC_IV_H
#define VRK_RUNTIME_CBC_IV_H

#define CBC_IV_SIZE 8

extern unsigned char cbc_iv[CBC_IV_SIZE];

#endif
