// The global client state instance behind spGlobal and vrk_setdefaults, which
// fills the defaults that the environment, ini file and options then override.
#include "client/vrk_global.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "runtime/vrk_log.h"

// Zero at load, so logging works before main's set-up and in unit tests.
_sVRKGlobal sVRKGlobal;
_sVRKGlobal *const spGlobal = &sVRKGlobal;

void vrk_reset_global(void) { memset(&sVRKGlobal, 0, sizeof(sVRKGlobal)); }

static char *dup_or_die(const char *s) {
  char *p = strdup(s);
  if (p == nullptr) {
    vrk_log(1094);
    exit(1);
  }
  return p;
}

void vrk_setdefaults(void) {
  _sVRKGlobal *g = spGlobal;

  if (setuid(0) != 0) {
    int err = errno;
    vrk_log(3184, strerror(err), err);
    if (err == EPERM) vrk_log(3185);
  }
  (void)!setgid(0);

  g->iDataWait = 900;
  g->iGenWait = 900;
  g->iKillWait = 59;

  if (getcwd(g->szVRKDir, sizeof(g->szVRKDir)) == nullptr) g->szVRKDir[0] = '\0';

  g->eHdrFmt = HDR_VRK;
  g->iDataBuf = 32768;
  g->sVRKObject.cpItem[0] = nullptr;
  g->sVRKObject.szEnDecrPassword[0] = '\0';

  g->sSMS.cpMode = dup_or_die("SHARE");
  g->sSMS.iTapeBlockSize = 0;
  g->sSMS.cpInter = dup_or_die("none");
  g->sSMS.cpRemoteDir = dup_or_die(".");
  g->sSMS.cpInfo = dup_or_die("");
  g->sSMS.cpDevice = dup_or_die("");
  g->sSMS.cpTapeLabel = dup_or_die("");
  g->sSMS.cpDATAFlags = dup_or_die("");
  g->sSMS.iTCPBufSize = 32;
  g->sSMS.ulSegmentNumber = 0;

  g->iLogLevel = 0;
  g->tBackupFrom = 0;
  g->sLocalSaveset.iFilDes = -1;
  g->sVRKMsgTarget.iLeaveLocal = 1;
  g->sVRKObject.iExcludeFile = -1;
  g->eBackupType = E_TYPE_DEFAULT;

  g->sSMS.cpHost = dup_or_die("localhost");
  g->sSMS.iPort = 11001;
  g->sSMS.cpUser = dup_or_die("KORVA_SECURE_AUTHENTICATION");
  g->sSMS.cpPassword = dup_or_die("");

  g->sVRKMsgTarget.iPort = 11001;
  snprintf(g->sVRKMsgTarget.szUser, 80, "%s", "KORVA_SECURE_AUTHENTICATION");
  snprintf(g->sVRKMsgTarget.szPassword, 80, "%s", "");
  snprintf(g->sVRKMsgTarget.szLogDir, sizeof(g->sVRKMsgTarget.szLogDir), "%s", ".");

  g->sDirs.cpLog = dup_or_die("/korva/log");
  g->sDirs.cpTimes = dup_or_die("/korva/times");
  g->sDirs.cpWork = dup_or_die("/korva/work");
  g->sDirs.cpTmp = dup_or_die("/korva/tmp");
  g->sDirs.cpBin = dup_or_die(".");

  g->sVRKObject.ulSaved = 0;
  g->sVRKObject.ulNotSaved = 0;
  g->sVRKMsgTarget.iLogFile = 0;

  g->sVRKObject.iVrkPid = (int)getpid();
  g->sVRKObject.iGenPid = -1;
  g->sVRKObject.iSigRecv = 0;

  g->sOptions.iNfs = 1;
  g->sOptions.iXdev = 1;
  g->sOptions.iExFile = 1;
}
