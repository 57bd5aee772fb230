// cm_chmod, cm_chtime and sort_file: chmod, touch and sort run with an
// argument vector, never through a shell, so any file name is safe.
#include "runtime/cm_fs_cmds.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/glbv.h"
#include "runtime/vrk_log.h"
#include "runtime/x_run.h"

namespace {

// The product's read-write temporary directory, the named value "gv_rw_tmp";
// empty when it is not defined (sort then keeps its own default).
std::string rw_tmp_dir() {
  char name[] = "gv_rw_tmp";
  char value[GLBV_VALUE_SIZE];
  glbv('r', name, value);
  return value[0] == '?' ? std::string() : std::string(value);
}

}  // namespace

int cm_chmod(char *szMode, char *szFile) {
  if (szMode == NULL || szFile == NULL) return -1;
  X_RUN_REQUEST req;
  req.argv = {"chmod", szMode, "--", szFile};
  return x_RunProgramStatus(req);
}

int cm_chtime(char *cpTimeStamp, char *cpFile) {
  if (cpTimeStamp == NULL || cpFile == NULL) return -1;
  std::string stamp(cpTimeStamp, strnlen(cpTimeStamp, 12));
  size_t len = strlen(cpTimeStamp);
  if (len > 12) stamp += "." + std::string(cpTimeStamp + 12, len >= 14 ? 2 : 1);
  X_RUN_REQUEST req;
  req.argv = {"touch", "-t", stamp, "--", cpFile};
  trace("cm_chtime: %s", x_RunCommandText(req.argv).c_str());
  return x_RunProgramStatus(req);
}

int sort_file(char *inFile, char *outFile) {
  if (inFile == NULL || outFile == NULL) return -1;
  X_RUN_REQUEST req;
  req.argv = {"sort", "--", inFile};
  req.stdoutFile = outFile;
  req.umaskValue = 0022;
  req.environment = {"LC_ALL=POSIX"};
  std::string tmp = rw_tmp_dir();
  if (!tmp.empty()) req.environment.push_back("TMPDIR=" + tmp);
  return x_RunProgramStatus(req);
}
