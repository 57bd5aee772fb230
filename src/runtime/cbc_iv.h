// The 8-byte Blowfish CBC initialisation vector shared by the password
// encryptor and the data-block cipher.
#ifndef VRK_RUNTIME_CBC_IV_H
#define VRK_RUNTIME_CBC_IV_H

#define CBC_IV_SIZE 8

extern unsigned char cbc_iv[CBC_IV_SIZE];

#endif
