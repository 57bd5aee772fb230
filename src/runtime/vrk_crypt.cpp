// Enciphered passwords: Blowfish CBC (OpenSSL's low-level BF_* interface)
// keyed with the SHA-1 digest of a passphrase, and the hex text around it.
#define OPENSSL_SUPPRESS_DEPRECATED 1  // BF_* is deprecated, not removed, in OpenSSL 3
#include "runtime/vrk_crypt.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <openssl/blowfish.h>
#include <openssl/crypto.h>

#include <vector>

#include "runtime/cbc_iv.h"
#include "runtime/sha1.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

constexpr size_t kBfBlock = 8;

// A byte vector that wipes itself, for clear text and key material.
struct WipedBytes {
  std::vector<unsigned char> v;
  explicit WipedBytes(size_t n) : v(n, 0) {}
  ~WipedBytes() {
    if (!v.empty()) OPENSSL_cleanse(v.data(), v.size());
  }
  unsigned char *data() { return v.data(); }
  size_t size() const { return v.size(); }
};

// Blowfish key from the passphrase: at most 128 bytes of it, digested whole.
bool set_key(BF_KEY *key, const char *cpPassword) {
  unsigned char phrase[VRK_CRYPT_PASSPHRASE_MAX];
  memset(phrase, 0, sizeof(phrase));
  size_t len = cpPassword ? strnlen(cpPassword, sizeof(phrase)) : 0;
  if (len > 0) memcpy(phrase, cpPassword, len);
  PSHA1CTX ctx = KV_SHA1_Create();
  if (ctx == NULL) {
    OPENSSL_cleanse(phrase, sizeof(phrase));
    return false;
  }
  unsigned char digest[SHA1_DIGEST_SIZE];
  KV_SHA1_Update(ctx, phrase, (WORD32)len);
  KV_SHA1_Final(digest, ctx);
  KV_SHA1_Destroy(ctx);
  BF_set_key(key, SHA1_DIGEST_SIZE, digest);
  OPENSSL_cleanse(phrase, sizeof(phrase));
  OPENSSL_cleanse(digest, sizeof(digest));
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int GetMultiplicant(int iPot) {
  // 16^7 is the largest power an int holds.
  if (iPot < 0 || iPot > 7) return -1;
  return 1 << (4 * iPot);
}

int HexToDec(char *pcHex) {
  if (pcHex == NULL) return -1;
  size_t len = strlen(pcHex);
  long long sum = 0;
  for (size_t k = 0; k < len; k++) {
    int d = hex_digit(pcHex[len - 1 - k]);
    if (d < 0) return -1;
    if (d == 0) continue;
    int mult = GetMultiplicant((int)(k > 8 ? 8 : k));
    if (mult < 0) return -1;  // does not fit in an int
    sum += (long long)d * mult;
    if (sum > INT_MAX) return -1;
  }
  return (int)sum;
}

long bf_random(void) {
  srand48((long)time(NULL));
  return lrand48();
}

int vrk_decrypt_password(char *cpPlainPassword, char *cpEncPassword, char *cpPassword) {
  if (cpPlainPassword == NULL) return 0;
  memset(cpPlainPassword, 0, VRK_CRYPT_PLAIN_SIZE);
  if (cpEncPassword == NULL) return 0;

  // The text may still end where its closing brace was; an odd last digit
  // is ignored.
  size_t digits = strlen(cpEncPassword);
  if (digits > 0 && cpEncPassword[digits - 1] == '}') digits--;
  size_t count = digits / 2;
  // Longer texts than the largest clear block are no password of ours.
  if (count <= CBC_IV_SIZE || count - CBC_IV_SIZE > VRK_CRYPT_MAX_BLOCK) return 0;

  // Byte i comes from the pair at 2i, blanks at its start skipped; a pair
  // that is not hex gives 0xFF.
  WipedBytes bytes(count);
  for (size_t i = 0; i < count; i++) {
    char pair[3] = {cpEncPassword[2 * i], cpEncPassword[2 * i + 1], '\0'};
    char *cp = pair;
    while (*cp == ' ') cp++;
    bytes.data()[i] = (unsigned char)(HexToDec(cp) & 0xFF);
  }

  BF_KEY key;
  if (!set_key(&key, cpPassword)) return 0;
  unsigned char iv[CBC_IV_SIZE];
  memcpy(iv, bytes.data(), CBC_IV_SIZE);
  size_t cipherLen = count - CBC_IV_SIZE;
  if (cipherLen % kBfBlock != 0) {
    OPENSSL_cleanse(&key, sizeof(key));
    return 0;  // not whole Blowfish blocks: no clear block comes out
  }
  WipedBytes clear(cipherLen);
  BF_cbc_encrypt(bytes.data() + CBC_IV_SIZE, clear.data(), (long)cipherLen, &key, iv, BF_DECRYPT);
  OPENSSL_cleanse(&key, sizeof(key));

  // The clear block: 2 bytes per character, p pad bytes of value p, the last
  // of them enciphered as 0. Anything else (a wrong passphrase, a damaged
  // text) gives no password rather than a wrong one.
  const unsigned char *b = clear.data();
  size_t L = cipherLen;
  if (b[L - 1] != 0) return 0;
  unsigned p = b[L - 2];
  if (p != 2 && p != 4 && p != 6 && p != 8) return 0;
  for (size_t i = L - p; i < L - 1; i++)
    if (b[i] != p) return 0;
  size_t n = (L - p) / 2;
  if (n > VRK_CRYPT_MAX_PASSWORD) return 0;
  for (size_t i = 0; i < n; i++) {
    unsigned char high = b[2 * i], ch = b[2 * i + 1];
    if (ch == 0 || high != (ch >= 0x80 ? 0xFF : 0x00)) return 0;
  }
  for (size_t i = 0; i < n; i++) cpPlainPassword[i] = (char)b[2 * i + 1];
  cpPlainPassword[n] = '\0';
  return 0;
}

int vrk_encrypt_password(char *cpEncryptedPassword, char *cpPlainPassword, unsigned long ulSrcLen,
                         char *cpPassword) {
  (void)ulSrcLen;
  if (cpEncryptedPassword == NULL || cpPlainPassword == NULL) return -1;
  size_t n = strlen(cpPlainPassword);
  if (n > VRK_CRYPT_MAX_PASSWORD) return -1;
  size_t L = (2 * n / 8) * 8 + 8;

  BF_KEY key;
  if (!set_key(&key, cpPassword)) return -1;

  unsigned char r = (unsigned char)(bf_random() & 0xFF);
  for (int i = 0; i < CBC_IV_SIZE; i++) cbc_iv[i] = (unsigned char)(((r >> 3) * i + r) & 0xFF);

  WipedBytes block(L);
  for (size_t i = 0; i < n; i++) {
    unsigned char ch = (unsigned char)cpPlainPassword[i];
    block.data()[2 * i] = ch >= 0x80 ? 0xFF : 0x00;
    block.data()[2 * i + 1] = ch;
  }
  size_t p = L - 2 * n;
  for (size_t i = 2 * n; i < L; i++) block.data()[i] = (unsigned char)p;

  // L - 1 bytes go in: CBC completes the last block with a zero byte.
  std::vector<unsigned char> cipher(L, 0);
  unsigned char iv[CBC_IV_SIZE];
  memcpy(iv, cbc_iv, CBC_IV_SIZE);
  BF_cbc_encrypt(block.data(), cipher.data(), (long)(L - 1), &key, iv, BF_ENCRYPT);
  OPENSSL_cleanse(&key, sizeof(key));

  char *out = cpEncryptedPassword;
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < CBC_IV_SIZE; i++) {
    *out++ = kHex[cbc_iv[i] >> 4];
    *out++ = kHex[cbc_iv[i] & 15];
  }
  for (size_t i = 0; i < L; i++) {
    *out++ = kHex[cipher[i] >> 4];
    *out++ = kHex[cipher[i] & 15];
  }
  return 0;
}

int vrk_check_encryption(E_OPERATION eOPERATION, char *szKey, char *szCrypted, unsigned int uiMaxPassSize) {
  if (szCrypted == NULL || uiMaxPassSize == 0) return 0;
  size_t len = strnlen(szCrypted, uiMaxPassSize);
  if (len == uiMaxPassSize) {  // not a terminated text of that buffer
    vrk_log(1149);
    return 0;
  }
  if (len == 0 || szCrypted[0] != '{' || szCrypted[len - 1] != '}') return 1;
  if (len <= 17) {
    vrk_log(1500, "vrk_check_encryption: strlen(szCrypted) %d < 16 !", (int)len);
    return 0;
  }
  vrk_log(3117);
  szCrypted[len - 1] = '\0';

  WipedBytes passphrase(2048);
  char *phrase = (char *)passphrase.data();
  phrase[0] = eOPERATION == BACKUP ? VRK_PASSPHRASE_CHAR_BACKUP : VRK_PASSPHRASE_CHAR_OTHER;
  if (szKey != NULL) strlcpy(phrase + 1, szKey, passphrase.size() - 1);

  WipedBytes plain(2048);
  char *clear = (char *)plain.data();
  vrk_decrypt_password(clear, szCrypted + 1, phrase);
  if (clear[0] == '\0') {
    vrk_log(1149);
    szCrypted[len - 1] = '}';
    return 0;
  }
  memset(szCrypted, 0, uiMaxPassSize);
  strlcpy(szCrypted, clear, uiMaxPassSize);
  return 1;
}
