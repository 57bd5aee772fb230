// HTTP(S) transport entry of the transport dispatch: builds the command list
// that travels as request headers and opens the session's transfer.
#include <stdlib.h>
#include <string.h>

#include "xbsa/bsa_http.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_http.h"
#include "xbsa/xbsa_trace.h"

int xbsa_http_open(long bsaHandle, int iMode) {
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) {
    SysErrorTxt(0, 0, "xbsa_open: invalid handle %ld.", bsaHandle);
    return -1;
  }
  char **cpaCommands = (char **)calloc(XBSA_COMMANDS, sizeof(char *));
  bool bOk = cpaCommands != NULL;
  for (int i = 0; bOk && i < XBSA_COMMANDS; i++) {
    cpaCommands[i] = (char *)calloc(1, XBSA_LINE_SIZE);
    if (!cpaCommands[i]) bOk = false;
  }
  int iRc = -1;
  if (!bOk) {
    SysErrorTxt(0, 0, "xbsa_open: malloc() return NULL. Not enough space.");
    xbsalog("xbsa_open: malloc() return NULL. Not enough space.");
  } else if (xbsa_prepare_commands(cpaCommands, iMode) != 0) {
    xbsalog("xbsa_open: %s", xbsa_last_message());
  } else {
    // The trace masks the password of the PASS command, for every user.
    for (int i = 0; i < 5; i++) xbsatrace("xbsa_open: command %d = %s", i, cpaCommands[i]);
    iRc = BSAHttpOpen(sp, iMode, cpaCommands);
  }
  if (cpaCommands) {
    for (int i = 0; i < XBSA_COMMANDS; i++) free(cpaCommands[i]);
    free(cpaCommands);
  }
  if (iRc != 0) sp->iOpStatus = -1;
  return iRc;
}
