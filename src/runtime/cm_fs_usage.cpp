// i_GetDiskUsage through statvfs and i_GetDirectoryUsage through "du -s",
// run without a shell so that no path is ever read as shell text.
#include "runtime/cm_fs_usage.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/statvfs.h>

#include <string>

#include "runtime/strlib.h"
#include "runtime/vrk_log.h"
#include "runtime/x_run.h"

namespace {

// Reads "kilobytes path" from a du line into *kb.
bool read_total(const std::string &line, long long *kb) {
  long long value = 0;
  char path[2];
  // The path may hold blanks: only its presence is checked.
  if (sscanf(line.c_str(), "%lld %1s", &value, path) != 2) return false;
  *kb = value;
  return true;
}

void report_size(long long kb, char *cpMsg, size_t iMsgLength) {
  char human[30];
  szHumanReadable((double)kb * 1024.0, human, (int)sizeof(human));
  if (cpMsg != NULL && iMsgLength > 0) snprintf(cpMsg, iMsgLength, "%lld (%s)", kb, human);
}

}  // namespace

int i_GetDiskUsage(char *cpPath, long long *llFreeBytes, long long *llUsedBytes) {
  if (cpPath == NULL) return -EINVAL;
  struct statvfs vfs;
  if (statvfs(cpPath, &vfs) != 0) return -errno;
  long long all = (long long)vfs.f_frsize * (long long)vfs.f_blocks;
  long long freeBytes = (long long)vfs.f_bsize * (long long)vfs.f_bavail;
  long long used = all - freeBytes;
  if (llFreeBytes) *llFreeBytes = freeBytes;
  if (llUsedBytes) *llUsedBytes = used;
  if (all < 100) return -1;
  return (int)(used / (all / 100));
}

int i_GetDirectoryUsage(char *cpPath, long long *pllUsedKBytes, char *cpMsg, size_t iMsgLength) {
  if (cpMsg != NULL && iMsgLength > 0) cpMsg[0] = '\0';
  if (cpPath == NULL || pllUsedKBytes == NULL) return 2;
  X_RUN_REQUEST req;
  req.argv = {"du", "-s", "--", cpPath};
  std::string output;
  req.output = &output;
  req.mergeStderr = true;
  const std::string command = x_RunCommandText(req.argv);
  int rc = x_RunProgram(req);
  if (rc == X_RUN_NOT_STARTED) {
    int err = errno;
    trace("Error: popen failed for [%s] (%d): %s", command.c_str(), err, strerror(err));
    if (cpMsg != NULL && iMsgLength > 0)
      snprintf(cpMsg, iMsgLength, "Error: popen failed for [%s] (%d): %s", command.c_str(), err, strerror(err));
    return 2;
  }

  std::string last;
  size_t pos = 0;
  while (pos < output.size()) {
    size_t nl = output.find('\n', pos);
    std::string line = output.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    trace("got [%s]", line.c_str());
    last = line;
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }

  long long kb = 0;
  if (rc == 0 && read_total(last, &kb)) {
    *pllUsedKBytes = kb;
    report_size(kb, cpMsg, iMsgLength);
    return 0;
  }
  trace("%l0 Error: pclose failed for [%s] (%d): %s", command.c_str(), rc, x_RunResultText(rc).c_str());
  // du that could not read a part of the tree still ends with its total; a
  // du ended by a signal has no total to trust.
  if (rc > 0 && rc < X_RUN_SIGNAL_BASE && last.find(':') == std::string::npos && read_total(last, &kb)) {
    *pllUsedKBytes = kb;
    report_size(kb, cpMsg, iMsgLength);
    return 0;
  }
  if (cpMsg != NULL && iMsgLength > 0) snprintf(cpMsg, iMsgLength, "%s", last.c_str());
  return 2;
}
