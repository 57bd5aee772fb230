// cm_chmod, cm_chtime and sort_file: chmod, touch and sort run with an
// argument vector, never through a shell, so any file name is safe.
#include "runtime/cm_fs_cmds.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/vrk_log.h"
#include "runtime/x_run.h"

namespace {

// The product's read-write temporary directory ("gv_rw_tmp"); the named-value
// store is not part of this client, so the environment's TMPDIR or /tmp serve.
std::string rw_tmp_dir() {
  const char *tmp = getenv("TMPDIR");
  return tmp != NULL && *tmp != '\0' ? tmp : "/tmp";
}

}  // namespace

int cm_chmod(char *szMode, char *szFile) {
  if (szMode == NULL || szFile == NULL) return X_RUN_NOT_STARTED;
  X_RUN_REQUEST req;
  req.argv = {"chmod", szMode, "--", szFile};
  return x_RunProgram(req);
}

int cm_chtime(char *cpTimeStamp, char *cpFile) {
  if (cpTimeStamp == NULL || cpFile == NULL) return X_RUN_NOT_STARTED;
  std::string stamp(cpTimeStamp, strnlen(cpTimeStamp, 12));
  size_t len = strlen(cpTimeStamp);
  if (len > 12) stamp += "." + std::string(cpTimeStamp + 12, len >= 14 ? 2 : 1);
  X_RUN_REQUEST req;
  req.argv = {"touch", "-t", stamp, "--", cpFile};
  trace("cm_chtime: %s", x_RunCommandText(req.argv).c_str());
  return x_RunProgram(req);
}

int sort_file(char *inFile, char *outFile) {
  if (inFile == NULL || outFile == NULL) return X_RUN_NOT_STARTED;
  X_RUN_REQUEST req;
  req.argv = {"sort", "--", inFile};
  req.stdoutFile = outFile;
  req.umaskValue = 0022;
  req.environment = {"TMPDIR=" + rw_tmp_dir(), "LC_ALL=POSIX"};
  return x_RunProgram(req);
}
