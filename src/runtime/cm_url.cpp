// URL coding wrappers of the crypto and encoding utilities: they hand the
// string to the string toolkit's coder and return its new buffer.
#include "runtime/cm_crypt.h"
#include "runtime/cm_urlcode.h"

char *url_encode_string(char *str) { return cm_url_encode(str); }

char *url_decode_string(char *str) { return cm_url_decode(str); }
