// Small helpers shared by the unit tests: temporary directories, whole-file
// reads and a clean global state per test.
#ifndef VRK_TESTS_SUPPORT_VRK_TEST_UTIL_H
#define VRK_TESTS_SUPPORT_VRK_TEST_UTIL_H

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "client/vrk_global.h"

namespace vrktest {

// A directory under $TMPDIR (or /tmp) removed with its contents at scope end.
class TempDir {
 public:
  TempDir() {
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vrktest.XXXXXX";
    char *p = mkdtemp(&tmpl[0]);
    path_ = p ? p : "";
  }
  ~TempDir() {
    if (!path_.empty()) {
      std::string cmd = "rm -rf '" + path_ + "'";
      if (system(cmd.c_str()) != 0) {
      }
    }
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string &path, const std::string &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

// Zeroes the global client state, as main does before its set-up.
inline void ResetGlobal() { vrk_reset_global(); }

}  // namespace vrktest

#endif
