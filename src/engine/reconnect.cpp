// Cluster fail-over: Reconnect re-establishes a lost TSA connection, and
// IsRecoveryError names the completion codes that call for it.
#include <stdio.h>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/delay.h"
#include "runtime/vrk_log.h"

int Reconnect(SESSION_INFORMATION *sessionInfo) {
  ClusterParams *cp = sessionInfo->clusterparams;
  int iTries = (cp != nullptr && cp->reTries > 0) ? cp->reTries : 5;
  int iPeriod = cp != nullptr ? cp->reTryPeriod : 30;
  int iWait = cp != nullptr ? cp->waitTime : 1;

  vrk_log(2500, "Fail Over / Fail Back...");
  CloseTarget(sessionInfo);
  vrk_log(3500, "Reconnecting...");
  vrk_pause_ms((long)iWait * 60L * 1000L);

  // Without any login the last failure is that of the connect.
  CCODE lastCode = ENGINE_GENERAL_FAILURE;
  for (int iRemaining = iTries - 1; iRemaining >= 0; --iRemaining) {
    if (spGlobal->iLogLevel >= 2)
      vrk_log(3500, "Call NWSMConnectToTSA( [%s], ...): retry %d", sessionInfo->tsaName, iRemaining);
    UINT32 handle = OpenTarget(sessionInfo, (UINT16)iRemaining);
    if (handle != OPEN_TARGET_FAILED) {
      sessionInfo->connection = handle;
      lastCode = OpenService(sessionInfo);
      if (lastCode == 0) {
        GetSMDRVersionInfo(sessionInfo);
        return 0;
      }
      CloseTarget(sessionInfo);
    }
    if (iRemaining >= 1 && iRemaining <= 4 && !spGlobal->sVRKObject.iSigRecv)
      vrk_random_pause(1000, iPeriod * 1000);
  }

  if (lastCode == NWSMTS_LOGIN_DENIED) {
    printf("\nLogin denied");
    fflush(stdout);
  }
  PrintCode(1, lastCode, "Reconnect", 0, sessionInfo);
  vrk_log(1500, "RECONNECT_FAIL - reconnection time out");
  return -1;
}

int IsRecoveryError(CCODE ccode) {
  bool bListing = spGlobal->eOPERATION == LIST_RESOURCES;
  switch (ccode) {
    case 0xFFFEFFCCu:
    case 0xFFFEFFCDu:
    case 0xFFFEFFCEu:
    case 0xFFFEFFFCu:
    case 0xFFFEFFB1u:
    case 0xFFFDFFAFu:
    case 0xFFFDFFC4u:
      if (!bListing) vrk_log(3500, "IsRecoveryError: ccode 0X%lX > TRUE", (unsigned long)ccode);
      return 1;
    default:
      if (ccode != 0 && !bListing)
        vrk_log(3500, "IsRecoveryError: ccode 0X%lX > FALSE", (unsigned long)ccode);
      return 0;
  }
}
