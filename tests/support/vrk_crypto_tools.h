// Test helpers that cross-check ciphers against the system's own tools: the
// openssl command and Debian's python3 with its cryptography package.
#ifndef VRK_TESTS_SUPPORT_VRK_CRYPTO_TOOLS_H
#define VRK_TESTS_SUPPORT_VRK_CRYPTO_TOOLS_H

#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "vrk_test_util.h"

namespace vrktest {

inline std::string ToHex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : bytes) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

inline std::string FromHex(const std::string &hex) {
  std::string s;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) s += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
  return s;
}

// Runs a shell command; returns its exit status (-1 when it could not run).
inline int RunCommand(const std::string &cmd) {
  int rc = system(cmd.c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

// Enciphers or deciphers data with "openssl enc"; cipher is the command's
// name such as "aes-256-cbc", extra its further options ("-nopad").
// Returns false when the tool fails.
inline bool OpensslEnc(const std::string &cipher, bool encrypt, const std::string &key,
                       const std::string &iv, const std::string &extra, const std::string &in,
                       std::string *out) {
  TempDir dir;
  WriteFile(dir.file("in"), in);
  std::string cmd = "openssl enc -" + cipher + (encrypt ? " -e" : " -d") + " -K " + ToHex(key) +
                    (iv.empty() ? "" : " -iv " + ToHex(iv)) + " " + extra + " -in '" +
                    dir.file("in") + "' -out '" + dir.file("out") + "' 2>'" + dir.file("err") + "'";
  if (RunCommand(cmd) != 0) {
    fprintf(stderr, "%s failed: %s\n", cmd.c_str(), ReadFile(dir.file("err")).c_str());
    return false;
  }
  *out = ReadFile(dir.file("out"));
  return true;
}

// Enciphers data with Debian's python3-cryptography (the system interpreter,
// not one found first on PATH): algorithm as in its algorithms module
// ("Blowfish"), mode as in its modes module ("CFB", "CBC"); CBC input must be
// whole blocks (padding is the caller's).
inline bool PythonEncrypt(const std::string &algorithm, const std::string &mode,
                          const std::string &key, const std::string &iv, const std::string &in,
                          std::string *out) {
  TempDir dir;
  WriteFile(dir.file("in"), in);
  WriteFile(dir.file("enc.py"),
            "import sys, warnings\n"
            "warnings.simplefilter('ignore')\n"
            "from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes\n"
            "alg, mode, key, iv, src, dst = sys.argv[1:]\n"
            "c = Cipher(getattr(algorithms, alg)(bytes.fromhex(key)),\n"
            "           getattr(modes, mode)(bytes.fromhex(iv))).encryptor()\n"
            "data = open(src, 'rb').read()\n"
            "open(dst, 'wb').write(c.update(data) + c.finalize())\n");
  std::string cmd = "/usr/bin/python3 -I '" + dir.file("enc.py") + "' " + algorithm + " " + mode +
                    " " + ToHex(key) + " " + ToHex(iv) + " '" + dir.file("in") + "' '" +
                    dir.file("out") + "' 2>'" + dir.file("err") + "'";
  if (RunCommand(cmd) != 0) {
    fprintf(stderr, "%s failed: %s\n", cmd.c_str(), ReadFile(dir.file("err")).c_str());
    return false;
  }
  *out = ReadFile(dir.file("out"));
  return true;
}

}  // namespace vrktest

#endif
