// The directory part of a path, as the directory that holds the item the
// path names.
#include "runtime/path_dir.h"

std::string dir_of(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}
