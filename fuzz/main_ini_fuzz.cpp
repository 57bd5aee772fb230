// Fuzz target of the main ini reader: an arbitrary ini file read into a
// fresh global state ("KV_INI" may chain to the file itself).
#include <unistd.h>

#include "client/vrk_inifile.h"
#include "fuzz_global.h"
#include "fuzz_sandbox.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const std::string &dir = vrk_fuzz_sandbox();
  if (chdir(dir.c_str()) != 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &dir = vrk_fuzz_sandbox();
  vrk_fuzz_fresh_global(dir);
  vrk_fuzz_write_file(dir + "/main.ini", data, size);
  vrk_parse_inifile("main.ini");
  vrk_fuzz_free_global();
  return 0;
}
