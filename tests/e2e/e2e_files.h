// Text and file helpers of the end-to-end tests: a text in the output, what
// a path is, the names and files a directory holds, what a job leaves.
#ifndef VRK_TESTS_E2E_E2E_FILES_H
#define VRK_TESTS_E2E_E2E_FILES_H

#include <dirent.h>
#include <sys/stat.h>

#include <set>
#include <string>

#include "vrk_test_util.h"

namespace e2e {

inline bool Has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

// Whatever the path is, a dangling link too.
inline bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline bool IsLink(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The names in dir, without "." and "..".
inline std::set<std::string> Names(const std::string &dir) {
  std::set<std::string> out;
  DIR *d = opendir(dir.c_str());
  if (!d) return out;
  while (struct dirent *de = readdir(d)) {
    std::string n = de->d_name;
    if (n != "." && n != "..") out.insert(n);
  }
  closedir(d);
  return out;
}

// Names of leftover temporary files of a restore anywhere below root.
inline std::string Leftovers(const std::string &root) {
  std::string found;
  for (const std::string &n : Names(root)) {
    std::string full = root + "/" + n;
    if (n.rfind(".vrk-restore-", 0) == 0) found += full + "\n";
    struct stat st;
    if (lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) found += Leftovers(full);
  }
  return found;
}

// The bytes of every file in dir that is not hidden, joined: what a job
// wrote into its log directory.
inline std::string FilesText(const std::string &dir) {
  std::string all;
  for (const std::string &n : Names(dir))
    if (n[0] != '.') all += vrktest::ReadFile(dir + "/" + n);
  return all;
}

// Names in dir that only a saveset being written has.
inline std::string Temporaries(const std::string &dir) {
  std::string found;
  DIR *d = opendir(dir.c_str());
  if (!d) return "cannot list " + dir;
  while (struct dirent *de = readdir(d)) {
    std::string n = de->d_name;
    if (n.find(".vrk-new") != std::string::npos) found += n + " ";
  }
  closedir(d);
  return found;
}

}  // namespace e2e

#endif
