// Crypto and encoding utilities of the common library: MD5 words, the MD5
// fingerprint text, base64, URL-safe random tokens, URL coding, named ciphers.
#ifndef VRK_RUNTIME_CM_CRYPT_H
#define VRK_RUNTIME_CM_CRYPT_H

// The common crypto unit's 8-byte initialisation vector: 5e0b7ad1c4932f68 at
// start; the password encryptor replaces it with the vector it derives, and
// evp_crypt starts every operation from it.
extern unsigned char cbc_iv[8];

enum EBase64Operation : int {
  BASE_64_ENCRYPT = 0,  // encode
  BASE_64_DECRYPT = 1   // decode
};

// MD5 of the string's bytes (without the terminator) as four 32-bit words:
// word i is bytes 4i..4i+3 of the digest read big-endian, stored little-endian,
// so each group of four bytes of ucpOut is reversed against the digest.
// ucpOut receives 16 bytes. Returns 0, or -1 for a NULL argument or a failed
// digest.
int vrk_generate_md5(const char *cpString, unsigned char *ucpOut);

// Writes the first 8 bytes of vrk_generate_md5(cpString) as "%x" each (8 to 16
// lower-case hex digits, no leading zeros) into cpEncrypt, which holds at least
// 17 bytes. Writes an empty text when the digest cannot be taken.
void ENCRYPT(const char *cpString, char *cpEncrypt);

// Encode: writes the base64 text of input_buf (a newline after every 64
// characters, none at the end) and its terminator; output_len must hold both.
// Decode: writes the bytes of the base64 text (not terminated); output_len
// must be at least input_len. Returns the number of bytes written, or 0.
int base64(const char *input_buf, int input_len, char *output_buf, int output_len,
           EBase64Operation operation);

// Writes a base64url text (no line breaks, "=" padding kept) of iBytes random
// bytes (1 to 256) and its terminator into cpOut of iOut bytes. Returns 1 or 0.
int cm_rand_base64url(char *cpOut, int iBytes, int iOut);

// URL coding of the string toolkit; the caller frees the result (NULL when no
// memory is left or str is NULL).
char *url_encode_string(char *str);
char *url_decode_string(char *str);

// Streaming cipher over the named OpenSSL cipher, keyed with passwd's bytes and
// started from cbc_iv: calls with bFinalize 0 run the update on in, the call
// with bFinalize 1 writes the last block and ends the operation. A call with a
// different cipher or direction than the running operation starts a new one.
// out needs in_len plus one block. Returns 1, or 0 on failure (which ends the
// operation).
int evp_crypt(unsigned char *out, int *out_len, const unsigned char *in, int in_len, int bCrypt,
              int bFinalize, const char *cipher_name, const char *passwd);

#endif
