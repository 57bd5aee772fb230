// URL coding wrappers of the crypto and encoding utilities: they hand the
// string to the string toolkit's coder and return its new buffer.
#include "runtime/cm_crypt.h"
#include "runtime/strlib.h"

char *url_encode_string(char *str) { return str ? cm_url_encode(str) : nullptr; }

char *url_decode_string(char *str) { return str ? cm_url_decode(str) : nullptr; }
