// Fuzz target of the ini parser: an arbitrary file loaded as a dictionary,
// then every section and entry read back and the dictionary dumped.
#include <stdio.h>
#include <stdlib.h>

#include "fuzz_sandbox.h"
#include "runtime/iniparser.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vrk_fuzz_sandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = vrk_fuzz_sandbox() + "/in.ini";
  vrk_fuzz_write_file(path, data, size);
  dictionary *d = iniparser_load(path.c_str());
  if (d == nullptr) return 0;
  int nsec = iniparser_getnsec(d);
  for (int i = 0; i < nsec; ++i) {
    char *sec = iniparser_getsecname(d, i);
    if (sec == nullptr) continue;
    int n = iniparser_getnentries(d, sec);
    for (int k = 0; k < n; ++k) {
      char *entry = iniparser_getentry(d, sec, k);
      if (entry == nullptr) continue;
      iniparser_getstring(d, entry, nullptr);
      iniparser_getint(d, entry, 0);
      iniparser_getdouble(d, entry, 0.0);
      iniparser_getboolean(d, entry, 0);
      iniparser_find_entry(d, entry);
    }
  }
  FILE *sink = fopen("/dev/null", "w");
  if (sink != nullptr) {
    iniparser_dump(d, sink);
    iniparser_dump_ini(d, sink);
    fclose(sink);
  }
  iniparser_freedict(d);
  return 0;
}
