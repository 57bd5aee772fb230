// Fuzz target of the command-line parser: arbitrary argument vectors on a
// fresh global state, run in a temporary working directory.
#include <getopt.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "client/vrk_options.h"
#include "client/vrk_osinfo.h"
#include "fuzz_global.h"
#include "fuzz_sandbox.h"
#include "runtime/vrk_log.h"

// The parser logs the system description on many roads; asking
// "lsb_release" would start two processes per input.
char *get_os_info(void) { return nullptr; }
void print_os_info(void) { vrk_log(3019, ""); }

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const std::string &dir = vrk_fuzz_sandbox();
  if (chdir(dir.c_str()) != 0) abort();
  return 0;
}

// The input is the argument vector: arguments separated by NUL bytes,
// argv[0] "vrk" in front.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> args{"vrk"};
  std::string cur;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(cur);
      cur.clear();
    } else {
      cur += (char)data[i];
    }
  }
  if (size > 0) args.push_back(cur);
  if (args.size() > 64) return 0;
  // -h prints the help and ends the process, as it should.
  for (const std::string &a : args)
    if (a.size() > 1 && a[0] == '-' && a.find('h') != std::string::npos) return 0;

  const std::string &dir = vrk_fuzz_sandbox();
  vrk_fuzz_fresh_global(dir);
  optind = 0;
  opterr = 1;
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  vrk_analyze_opt((int)args.size(), argv.data());
  vrk_fuzz_free_global();
  return 0;
}
