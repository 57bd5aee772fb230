// Small helpers shared by the unit tests: temporary directories, whole-file
// reads and writes, repeatable file contents and a clean global state per test.
#ifndef VRK_TESTS_SUPPORT_VRK_TEST_UTIL_H
#define VRK_TESTS_SUPPORT_VRK_TEST_UTIL_H

#include <stdint.h>
#include <stdlib.h>
#include <sys/time.h>
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

// Writes a file and sets its access and modification times to mtime.
inline void WriteFileAt(const std::string &path, const std::string &data, int64_t mtime) {
  WriteFile(path, data);
  struct timeval tv[2] = {{(time_t)mtime, 0}, {(time_t)mtime, 0}};
  utimes(path.c_str(), tv);
}

// n bytes of repeatable pseudo-random content, different for each seed.
inline std::string Bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = (char)(x >> 16);
  }
  return s;
}

// n bytes of a repeatable pattern from a linear congruential sequence.
inline std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = (char)(seed >> 16);
  }
  return s;
}

// Zeroes the global client state, as main does before its set-up.
inline void ResetGlobal() { vrk_reset_global(); }

}  // namespace vrktest

#endif
