// Creates the directories above a file path, so that the file can be made.
#include <libgen.h>
#include <string.h>
#include <sys/stat.h>

#include "client/vrk_global.h"
#include "client/vrk_makepath.h"
#include "client/vrk_util.h"
#include "runtime/vrk_log.h"

int vrk_create_all_directories(char *cpName) {
  if (cpName == nullptr) return -1;
  size_t len = strnlen(cpName, VRK_PATH_MAX);
  if (len == 0 || len >= VRK_PATH_MAX) return -1;
  char szPath[VRK_PATH_MAX];
  memcpy(szPath, cpName, len + 1);
  if (len > 1 && szPath[len - 1] == '/') szPath[len - 1] = '\0';

  char *cpDir = dirname(szPath);
  if (cpDir == nullptr || *cpDir == '\0') {
    if (spGlobal->iLogLevel > 2) trace("vrk_create_all_directories():dirname() failed");
    return -1;
  }
  struct stat st;
  if (stat(cpDir, &st) == 0) {
    trace("vrk_create_all_directories: File already exists");
    if (S_ISDIR(st.st_mode)) {
      trace("    and is a directory");
      return 0;
    }
  }
  if (strcmp(cpDir, ".") == 0) return 0;
  // Any failure is reported: the caller's file cannot be made without it.
  return vrk_makepath(cpDir, 0755, 0755, (uid_t)-1, (gid_t)-1) == VRK_MAKEPATH_OK ? 0 : -1;
}
