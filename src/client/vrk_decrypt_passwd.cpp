// The password wrapper of the utility unit: deciphers a password in place
// with a passphrase of a prefix character and the saveset name.
#include <string.h>

#include <string>

#include "client/vrk_util.h"
#include "runtime/strlib.h"
#include "runtime/vrk_crypt.h"
#include "runtime/vrk_log.h"

BOOL decrypt_passwd(char *cpPasswd, char *cpSaveset, char *cpPrefix) {
  vrk_log(3117);
  if (cpPasswd == nullptr) {
    vrk_log(1151);
    return FALSE;
  }
  // The passphrase: the prefix's first character, then the saveset name, in
  // a 156-character buffer (the digest uses at most 128 bytes of it).
  char szKey[VRK_DECRYPT_PASSWD_BUFSIZE + 1] = {0};
  if (cpPrefix != nullptr && cpPrefix[0] != '\0') szKey[0] = cpPrefix[0];
  strlcat(szKey, cpSaveset ? cpSaveset : "", VRK_DECRYPT_PASSWD_BUFSIZE);

  // The text may still carry its braces.
  std::string text(cpPasswd, strnlen(cpPasswd, VRK_DECRYPT_PASSWD_BUFSIZE));
  if (!text.empty() && text.front() == '{') text.erase(0, 1);

  char szClear[VRK_CRYPT_PLAIN_SIZE + 1] = {0};
  int rc = vrk_decrypt_password(szClear, &text[0], szKey);
  memset(szKey, 0, sizeof(szKey));
  size_t n = strnlen(szClear, VRK_CRYPT_PLAIN_SIZE);
  if (rc != 0 || n > VRK_DECRYPT_PASSWD_MAX) {
    // A clear text longer than the caller's field is refused, never cut.
    memset(szClear, 0, sizeof(szClear));
    vrk_log(1151);
    return FALSE;
  }
  if (n == 0) {
    vrk_log(1149);
    return FALSE;
  }
  memset(cpPasswd, 0, VRK_DECRYPT_PASSWD_BUFSIZE);
  memcpy(cpPasswd, szClear, n);
  memset(szClear, 0, sizeof(szClear));
  return TRUE;
}
