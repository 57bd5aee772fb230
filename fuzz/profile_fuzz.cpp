// Fuzz target of the private-profile reader: an arbitrary file asked for an
// arbitrary section and key, as one value and as a numbered list.
#include <string.h>

#include <string>

#include "fuzz_sandbox.h"
#include "runtime/LL.h"
#include "runtime/ini_lookup.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vrk_fuzz_sandbox();
  return 0;
}

// Line 1: the section; line 2: the key; byte 0 of line 1 also sizes the
// value buffer; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string in(reinterpret_cast<const char *>(data), size);
  size_t nl1 = in.find('\n');
  if (nl1 == std::string::npos) return 0;
  size_t nl2 = in.find('\n', nl1 + 1);
  if (nl2 == std::string::npos) return 0;
  std::string section = in.substr(0, nl1);
  std::string key = in.substr(nl1 + 1, nl2 - nl1 - 1);
  std::string file = in.substr(nl2 + 1);
  if (section.find('\0') != std::string::npos || key.find('\0') != std::string::npos) return 0;
  const std::string path = vrk_fuzz_sandbox() + "/in.ini";
  vrk_fuzz_write_file(path, reinterpret_cast<const uint8_t *>(file.data()), file.size());

  int valueSize = section.empty() ? 256 : 1 + (unsigned char)section[0] % 600;
  std::string value((size_t)valueSize, '\x7f');
  char msg[128];
  i_GetPrivateProfileString(path.c_str(), section.c_str(), key.c_str(), &value[0], valueSize, msg, sizeof msg);
  if (memchr(value.data(), 0, value.size()) == nullptr && value[0] != '\x7f') abort();
  if (memchr(msg, 0, sizeof msg) == nullptr) abort();

  t_LL list = ConsLL();
  i_GetPrivateProfileList(path.c_str(), section.c_str(), (key + "#").c_str(), list, msg, sizeof msg);
  DestLL(list);
  return 0;
}
