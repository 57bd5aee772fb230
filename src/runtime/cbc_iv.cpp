// Storage of the shared Blowfish CBC initialisation vector: defined here
// once, written by the password encryptor, read by the data-block cipher.
#include "runtime/cbc_iv.h"

unsigned char cbc_iv[CBC_IV_SIZE] = {0};
