// The two file-name resolvers: a "[Pathes]" key of the main ini before a
// colon, or a named value before a colon, replaced by its value.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/glbv.h"
#include "runtime/ini_lookup.h"
#include "runtime/vrk_log.h"

namespace {

const size_t kMaxPath = 1023;
const size_t kMaxFile = 511;

}  // namespace

int resolve_path(char *cpOrigPath, size_t uSize) {
  if (cpOrigPath == nullptr) return 1;
  std::string path = cpOrigPath;
  if (path.size() > kMaxPath) {
    trace("%l1 resolve_path: path longer than %zu characters left alone", kMaxPath);
    return 1;
  }
  // From the third character on, so that a drive letter's colon stays.
  size_t colon = path.size() > 2 ? path.find(':', 2) : std::string::npos;
  if (colon == std::string::npos) return 1;
  std::string key = path.substr(0, colon);
  std::string file = path.substr(colon + 1);
  if (file.size() > kMaxFile) {
    trace("%l1 resolve_path: file name longer than %zu characters left alone", kMaxFile);
    return 1;
  }
  if (key.find('/') != std::string::npos || key.find('\\') != std::string::npos) return 1;
  char value[1024];
  char msg[512];
  if (!i_READ_INI("KV_INI", "[Pathes]", key.c_str(), value, sizeof(value), msg, sizeof(msg)))
    return 1;
  std::string result = std::string(value) + file;
  if (result.size() >= uSize) {
    trace("%l1 resolve_path: %s%s does not fit into %zu bytes, path left alone", value, file.c_str(),
          uSize);
    return 1;
  }
  memcpy(cpOrigPath, result.c_str(), result.size() + 1);
  return 1;
}

int resolve_glbv(char *file, size_t uSize) {
  if (file == nullptr) return 0;
  std::string text = file;
  size_t colon = text.find(':');
  std::string name = text.substr(0, colon);
  char *value = static_cast<char *>(malloc(GLBV_VALUE_SIZE));
  if (value == nullptr) {
    trace("%l0 resolve_glbv: malloc(%lu) failed with: (%d) %s",
          static_cast<unsigned long>(GLBV_VALUE_SIZE), errno, strerror(errno));
    return 0;
  }
  value[0] = '\0';
  glbv('r', &name[0], value);
  int result = 0;
  if (value[0] != '?') {
    std::string out = value;
    if (colon != std::string::npos) out += text.substr(colon + 1);
    if (out.size() < uSize) {
      memcpy(file, out.c_str(), out.size() + 1);
      result = 1;
    } else {
      trace("%l1 resolve_glbv: %s does not fit into %zu bytes, name left alone", out.c_str(), uSize);
    }
  }
  free(value);
  return result;
}
