// evp_crypt: a streaming symmetric cipher over OpenSSL's EVP interface, one
// operation at a time, keyed with the password's bytes and started from cbc_iv.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <string.h>

#include "runtime/cm_crypt.h"

namespace {

// The running operation: set up by its first call, ended by its final call,
// a failure, or a call for another cipher or direction.
EVP_CIPHER_CTX *g_ctx = nullptr;
EVP_CIPHER *g_cipher = nullptr;
int g_crypt = -1;

// Blowfish, CAST, DES and the like live in OpenSSL's legacy provider, loaded
// (with the default one, which an explicit load would otherwise hide) the first
// time a cipher name is not found among the default ciphers.
bool g_providers_tried = false;
OSSL_PROVIDER *g_default_provider = nullptr;
OSSL_PROVIDER *g_legacy_provider = nullptr;

void evp_end() {
  EVP_CIPHER_CTX_free(g_ctx);
  g_ctx = nullptr;
  EVP_CIPHER_free(g_cipher);
  g_cipher = nullptr;
  g_crypt = -1;
}

EVP_CIPHER *fetch_cipher(const char *name) {
  EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
  if (cipher == nullptr && !g_providers_tried) {
    g_providers_tried = true;
    g_default_provider = OSSL_PROVIDER_load(nullptr, "default");
    g_legacy_provider = OSSL_PROVIDER_load(nullptr, "legacy");
    cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
  }
  ERR_clear_error();
  return cipher;
}

// Sets up g_ctx for the named cipher; false (nothing kept) on any failure.
bool evp_begin(int crypt, const char *cipher_name, const char *passwd) {
  EVP_CIPHER *cipher = fetch_cipher(cipher_name);
  if (cipher == nullptr) return false;
  // The vector comes from the 8-byte cbc_iv: longer vectors are refused
  // rather than read past its end.
  size_t key_len = strnlen(passwd, EVP_MAX_KEY_LENGTH + 1);
  if (EVP_CIPHER_get_iv_length(cipher) > (int)sizeof(cbc_iv) || key_len > EVP_MAX_KEY_LENGTH) {
    EVP_CIPHER_free(cipher);
    return false;
  }
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  // The key is the password's bytes themselves; a cipher that cannot take
  // that key length refuses it here.
  if (ctx == nullptr || EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, crypt) != 1 ||
      EVP_CIPHER_CTX_set_key_length(ctx, (int)key_len) != 1 ||
      EVP_CipherInit_ex(ctx, nullptr, nullptr, reinterpret_cast<const unsigned char *>(passwd),
                        cbc_iv, crypt) != 1) {
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    ERR_clear_error();
    return false;
  }
  g_ctx = ctx;
  g_cipher = cipher;
  g_crypt = crypt;
  return true;
}

}  // namespace

int evp_crypt(unsigned char *out, int *out_len, const unsigned char *in, int in_len, int bCrypt,
              int bFinalize, const char *cipher_name, const char *passwd) {
  if (out == nullptr || out_len == nullptr || cipher_name == nullptr || passwd == nullptr)
    return 0;
  int crypt = bCrypt ? 1 : 0;
  // Another cipher or direction does not continue the running operation.
  if (g_ctx != nullptr && (crypt != g_crypt || !EVP_CIPHER_is_a(g_cipher, cipher_name))) evp_end();

  if (g_ctx == nullptr) {
    if (bFinalize) return 0;
    if (!evp_begin(crypt, cipher_name, passwd)) return 0;
  }

  int len = 0;
  if (!bFinalize) {
    if (in_len < 0 || (in == nullptr && in_len > 0) ||
        EVP_CipherUpdate(g_ctx, out, &len, in, in_len) != 1) {
      evp_end();
      ERR_clear_error();
      return 0;
    }
    *out_len = len;
    return 1;
  }
  int ok = EVP_CipherFinal_ex(g_ctx, out, &len);
  evp_end();
  if (ok != 1) {
    ERR_clear_error();
    return 0;
  }
  *out_len = len;
  return 1;
}
