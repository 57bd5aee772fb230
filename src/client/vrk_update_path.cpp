// Restore-path construction: the first restore target in front of the item,
// only its last part with -o PLAIN, a free "~n" name with -o RENAME.
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "client/vrk_global.h"
#include "client/vrk_util.h"
#include "runtime/vrk_log.h"

namespace {

bool exists(const std::string &path, struct stat *st) { return lstat(path.c_str(), st) == 0; }

}  // namespace

int vrk_update_path(char *cpName) {
  if (cpName == nullptr) return -1;
  const _sOptions &opt = spGlobal->sOptions;
  std::string path(cpName, strnlen(cpName, VRK_PATH_MAX));

  if (opt.iPlain == 1) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) path.erase(0, slash + 1);
  }
  if (!path.empty() && path[0] == '/') path.erase(0, 1);

  const char *target = spGlobal->szTargetPath[0];
  if (opt.iPlain == 1 || opt.iPlain == 0 || strcmp(target, "/") != 0) {
    std::string prefix(target, strnlen(target, VRK_PATH_MAX));
    // "%s/%s", without doubling the slash of a target that ends in one.
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    path = prefix + path;
  }

  if (opt.iRename == 1) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string lead = slash == std::string::npos ? std::string() : dir + "/";
    struct stat st;
    if (exists(lead + name, &st)) {
      if (S_ISREG(st.st_mode)) {
        for (unsigned n = 1;; ++n) {
          std::string candidate = lead + "~" + std::to_string(n) + name;
          if (candidate.size() >= VRK_PATH_MAX) return -1;
          if (!exists(candidate, &st)) {
            path = candidate;
            break;
          }
        }
      } else {
        trace("vrk_update_path: Skip renaming of item bcs. it's not a regular file");
      }
    }
  }

  if (path.size() >= VRK_PATH_MAX) return -1;
  memcpy(cpName, path.c_str(), path.size() + 1);
  return 0;
}
