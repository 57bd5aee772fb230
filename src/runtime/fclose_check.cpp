// A file close that raises the file-system alarm and stops the product when
// the close fails because the file system is exhausted.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/cm_kernel.h"
#include "runtime/vrk_log.h"

int iCM_FCLOSE(FILE *fHandle) {
  int rc = fclose(fHandle);
  if (rc != 0) i_check_fclose_errno(errno);
  return rc;
}

int i_check_fclose_errno(int iErrno) {
  char text[128];
  snprintf(text, sizeof(text), "%s", strerror(iErrno));
  if (iErrno == 0) {
    trace("check_fclose_errno: %s (%d)", text, 0);
    return 0;
  }
  trace("%l0 check_fclose_errno (%d): %s", iErrno, text);
  if (iErrno != ENFILE && iErrno != ENOSPC && iErrno != EDEADLK) return 0;
  trace("%l0 Shutdown Korva - problems with file system: %s (%d)", text, iErrno);
  char cmd[512];
  snprintf(cmd, sizeof(cmd), "kv_alarm FILE_SYSTEM \"%s\"", text);
  // The programs' exit status is theirs to report.
  if (system(cmd) == -1) trace("%l1 check_fclose_errno: could not start [%s]", cmd);
  snprintf(cmd, sizeof(cmd), "kv_os_startup STOP");
  if (system(cmd) == -1) trace("%l1 check_fclose_errno: could not start [%s]", cmd);
  fprintf(stderr, "\n\nShutdown Korva - problems with file system: %s (%d)\n\n", text, iErrno);
  return 1;
}
