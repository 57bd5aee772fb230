// Base64 encoding and decoding through OpenSSL's BIO filter, and random
// URL-safe base64 tokens.
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <string.h>

#include <vector>

#include "runtime/cm_crypt.h"

namespace {

constexpr int kLineChars = 64;  // the filter's line length when it breaks lines
constexpr int kMaxRandBytes = 256;

// Length of the base64 text of n bytes, without terminator; with line breaks,
// a newline follows every full line of 64 characters except the last one.
long encoded_length(long n, bool line_breaks) {
  long chars = 4 * ((n + 2) / 3);
  if (line_breaks && chars > 0) chars += (chars - 1) / kLineChars;
  return chars;
}

// Encodes into output_buf, terminated; returns the text length, or -1 when the
// text and its terminator do not fit into output_len bytes or OpenSSL fails.
int encode(const char *in, int in_len, char *out, int out_len, bool line_breaks) {
  long want = encoded_length(in_len, line_breaks);
  if (want + 1 > out_len) return -1;
  BIO *b64 = BIO_new(BIO_f_base64());
  BIO *mem = BIO_new(BIO_s_mem());
  if (b64 == nullptr || mem == nullptr) {
    BIO_free(b64);
    BIO_free(mem);
    return -1;
  }
  if (!line_breaks) BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
  BIO_push(b64, mem);
  int result = -1;
  if ((in_len == 0 || BIO_write(b64, in, in_len) == in_len) && BIO_flush(b64) == 1) {
    BUF_MEM *bm = nullptr;
    BIO_get_mem_ptr(b64, &bm);
    if (bm != nullptr) {
      size_t len = bm->length;
      // The filter ends its text with a newline, which is not part of it.
      if (len > 0 && bm->data[len - 1] == '\n') --len;
      if ((long)len == want) {
        if (len > 0) memcpy(out, bm->data, len);
        out[len] = '\0';
        result = (int)len;
      }
    }
  }
  BIO_free_all(b64);
  return result;
}

int decode(const char *in, int in_len, char *out, int out_len) {
  // The filter needs a line end after the last group.
  std::vector<char> text(in, in + in_len);
  text.push_back('\n');
  BIO *mem = BIO_new_mem_buf(text.data(), (int)text.size());
  BIO *b64 = BIO_new(BIO_f_base64());
  if (b64 == nullptr || mem == nullptr) {
    BIO_free(b64);
    BIO_free(mem);
    return 0;
  }
  BIO_push(b64, mem);
  int total = 0;
  while (total < out_len) {
    int n = BIO_read(b64, out + total, out_len - total);
    if (n <= 0) break;
    total += n;
  }
  BIO_free_all(b64);
  return total;
}

}  // namespace

int base64(const char *input_buf, int input_len, char *output_buf, int output_len,
           EBase64Operation operation) {
  if (input_buf == nullptr || output_buf == nullptr || input_len < 0 || output_len < input_len)
    return 0;
  if (operation == BASE_64_ENCRYPT) {
    int n = encode(input_buf, input_len, output_buf, output_len, true);
    return n < 0 ? 0 : n;
  }
  if (operation == BASE_64_DECRYPT) return decode(input_buf, input_len, output_buf, output_len);
  return 0;
}

int cm_rand_base64url(char *cpOut, int iBytes, int iOut) {
  if (cpOut == nullptr || iBytes < 1 || iBytes > kMaxRandBytes || iOut < 1) return 0;
  if (RAND_status() != 1) return 0;
  unsigned char bytes[kMaxRandBytes];
  if (RAND_bytes(bytes, iBytes) != 1) return 0;
  // A token is one line: no line breaks even past 64 characters.
  int n = encode(reinterpret_cast<const char *>(bytes), iBytes, cpOut, iOut, false);
  OPENSSL_cleanse(bytes, sizeof(bytes));
  if (n < 0) return 0;
  for (int i = 0; i < n; ++i) {
    if (cpOut[i] == '+')
      cpOut[i] = '-';
    else if (cpOut[i] == '/')
      cpOut[i] = '_';
  }
  return 1;
}
