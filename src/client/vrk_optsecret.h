// Passwords inside option arguments: where they stand in -N, -C, -S and -o, the
// masked text of an argument, and hiding them in the argument vector.
#ifndef VRK_CLIENT_VRK_OPTSECRET_H
#define VRK_CLIENT_VRK_OPTSECRET_H

#include <stddef.h>

#include <string>
#include <vector>

struct SecretSpan {
  size_t pos;
  size_t len;
};

// -N smdr:tsa:ts:user:password:flag: the fifth field.
std::vector<SecretSpan> vrk_login_secrets(const char *cpArg);
// -C host:port:user:password: the fourth field.
std::vector<SecretSpan> vrk_control_host_secrets(const char *cpArg);
// -S: the password of the URL's user information (up to the argument's last
// '@'). Every finder remembers what it finds for the masking of every message.
std::vector<SecretSpan> vrk_url_secrets(const char *cpArg);
// -o: the value of every ENCRYPT keyword (every keyword beginning with EN).
std::vector<SecretSpan> vrk_subopt_secrets(const char *cpArg);

// cpArg with every non-empty span replaced by the password mask.
std::string vrk_secret_masked(const char *cpArg, const std::vector<SecretSpan> &spans);

// Takes the passwords out of the argument vector: the slot that holds cpArg
// points at a masked copy from now on (the joined command line shows it),
// and the original text, which the process list shows, is rewritten in
// place as that masked copy, the arguments behind it moved up so that the
// list shows no password length (a password shorter than the mask is
// overwritten with '*' where it stands). Nothing happens without a
// non-empty span. The slot, or -1.
int vrk_secret_hide(char *cpArg, const std::vector<SecretSpan> &spans, int argc, char **argv);

#endif
