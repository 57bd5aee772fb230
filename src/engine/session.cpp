// Session control: the session record with its data buffer and cluster
// parameters, the scan control defaults, and StartSession's steps from the
// connection to the dispatch on the operation and the end of the session.
#include "engine/session.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/drivers_pending.h"
#include "engine/engine_globals.h"
#include "engine/listing_lines.h"
#include "engine/namespace.h"
#include "runtime/dictionary.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

// Announces a step of the session at log level 3 and above.
#define SESSION_STEP(name)                                                   \
  do {                                                                       \
    if (spGlobal->iLogLevel >= 3) vrk_log(4000, "%s:%d %s", "session.cpp", __LINE__, name); \
  } while (0)

void Init_Scan_Control(NWSM_SCAN_CONTROL *scanControl) {
  memset(scanControl, 0, sizeof(*scanControl));
  scanControl->bufferSize = 64;
  scanControl->scanControlSize = 61;
  scanControl->scanType = spGlobal->bCompress ? 0u : NWSM_EXPAND_COMPRESSED_DATA;
  scanControl->returnChildTerminalNodeNameOnly = 1;
  scanControl->parentsOnly = 0;
  scanControl->childrenOnly = 0;
  scanControl->createSkippedDataSetsFile = 1;
  scanControl->generateCRC = 0;
  scanControl->returnNFSHardLinksInDataSetName = 0;
  scanControl->scanChildNameSpaceType = 0xFFFFFFFFu;
  scanControl->returnNameSpaceType = 0xFFFFFFFFu;
  scanControl->callScanFilter = 0;
  scanControl->otherInformationSize = 0;
  if (scanControl->scanType & NWSM_EXPAND_COMPRESSED_DATA)
    vrk_log(3500, "scanControl->scanType set to EXPAND_COMPRESSED_DATA (0X%X)",
            (unsigned int)NWSM_EXPAND_COMPRESSED_DATA);
}

SESSION_INFORMATION *GetSessionInfoBuffer(void) {
  if (spGlobal->lBufferSize <= 0) return nullptr;
  SESSION_INFORMATION *sessionInfo =
      static_cast<SESSION_INFORMATION *>(calloc(1, sizeof(SESSION_INFORMATION)));
  if (sessionInfo == nullptr) return nullptr;
  sessionInfo->dataBuffer = static_cast<BUFFER *>(malloc((size_t)spGlobal->lBufferSize));
  if (sessionInfo->dataBuffer == nullptr) {
    free(sessionInfo);
    return nullptr;
  }
  sessionInfo->connection = 0;
  sessionInfo->selectionList = nullptr;
  sessionInfo->dataFile = nullptr;
  sessionInfo->indexFile = nullptr;
  sessionInfo->logFile = nullptr;
  sessionInfo->IsUTF8Supp = FALSE;
  sessionInfo->clusterparams = nullptr;
  Init_Scan_Control(&sessionInfo->scanControl);
  return sessionInfo;
}

void ReleaseSessionInfoBuffer(SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo == nullptr) return;
  FreeSelectionList(sessionInfo);
  free(sessionInfo->dataBuffer);
  sessionInfo->dataBuffer = nullptr;
  if (sessionInfo->logFile != nullptr) {
    fclose(sessionInfo->logFile);
    sessionInfo->logFile = nullptr;
  }
  free(sessionInfo->clusterparams);
  free(sessionInfo);
}

SESSION_INFORMATION *Init_Cluster_Params(SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo == nullptr) return nullptr;
  ClusterParams *cp = static_cast<ClusterParams *>(malloc(sizeof(ClusterParams)));
  if (cp == nullptr) return nullptr;
  cp->reTries = 10;
  cp->reTryPeriod = 30;
  cp->waitTime = 1;
  // The fresh parameters replace the earlier ones, which are freed.
  free(sessionInfo->clusterparams);
  sessionInfo->clusterparams = cp;
  if (spGlobal->iLogLevel >= 2) {
    vrk_log(3500, "Cluster Parameters");
    vrk_log(3500, "No of Retries     : %d", cp->reTries);
    vrk_log(3500, "Retry Period      : %d secs", cp->reTryPeriod);
    vrk_log(3500, "Initial Wait Time : %d minute", cp->waitTime);
  }
  return sessionInfo;
}

void EndSession(int screenHandle, SESSION_INFORMATION *sessionInfo) {
  (void)screenHandle;
  if (sessionInfo == nullptr) return;
  if (sessionInfo->connection != 0) {
    // Copies: a release may clear the handle it is given.
    UINT32 service = sessionInfo->connection;
    NWSMTSReleaseTargetService(&service);
    UINT32 tsa = sessionInfo->connection;
    NWSMReleaseTSA(&tsa);
    sessionInfo->connection = 0;
  }
  ReleaseSessionInfoBuffer(sessionInfo);
}

namespace {

void print_listing() {
  SESSION_STEP("list_resources");
  if (gdcGWHAconf != nullptr) {
    dictionary_del(gdcGWHAconf);
    gdcGWHAconf = nullptr;
  }
  if (gdcGWZEMconf != nullptr) {
    dictionary_del(gdcGWZEMconf);
    gdcGWZEMconf = nullptr;
  }
  fflush(stderr);
  WriteListLines(gLL_DirList, stdout);
  WriteListLines(gLL_FileList, stdout);
  fflush(stdout);
  if (gLL_ResourceList != nullptr) gLL_ResourceList = DestLL(gLL_ResourceList);
  if (gLL_DirList != nullptr) gLL_DirList = DestLL(gLL_DirList);
  if (gLL_FileList != nullptr) gLL_FileList = DestLL(gLL_FileList);
  gLL_ResourceList = gLL_DirList = gLL_FileList = nullptr;
}

void run_listing(SESSION_INFORMATION *sessionInfo, NWBOOLEAN bGotClusterTSA) {
  char **cpItem = spGlobal->sVRKObject.cpItem;
  vrk_log(3500, "Function: LIST_RESOURCES");
  list_resources(sessionInfo, cpItem[0], bGotClusterTSA);
  if (cpItem[0] != nullptr && cpItem[0][0] != '\0') {
    vrk_log(3500, "check cpItem[1] %s, cpItem[0] %s", cpItem[1] != nullptr ? cpItem[1] : "",
            cpItem[0]);
    if (cpItem[1] == nullptr || strcmp(cpItem[1], "GroupWise System 2012") != 0) {
      Backup(sessionInfo);
      if (gLL_DirList != nullptr) SysSortLL(gLL_DirList, i_COMPARE_LINE);
    }
    if (gLL_FileList != nullptr) SysSortLL(gLL_FileList, i_COMPARE_LINE);
  }
  print_listing();
}

}  // namespace

int StartSession(const char *sessionName) {
  SESSION_STEP("read buffer size");
  if (spGlobal->lBufferSize < SESSION_MIN_BUFFER) spGlobal->lBufferSize = SESSION_MIN_BUFFER;
  vrk_log(3500, "Use read buffer size [%ld]", (long)spGlobal->lBufferSize);

  SESSION_STEP("GetSessionInfoBuffer");
  SESSION_INFORMATION *sessionInfo = GetSessionInfoBuffer();
  if (sessionInfo == nullptr) {
    vrk_log(1094);
    return 0;
  }
  strlcpy(sessionInfo->sName, sessionName != nullptr ? sessionName : "", sizeof(sessionInfo->sName));
  sessionInfo->sessionNo = NoOfActiveSessions++;

  if (spGlobal->iLogLevel >= 3) vrk_log(4000, "First call of Init_Cluster_Params");
  if (Init_Cluster_Params(sessionInfo) == nullptr) {
    vrk_log(1094);
    ReleaseSessionInfoBuffer(sessionInfo);
    return 0;
  }

  SESSION_STEP("retry period");
  if (spGlobal->eOPERATION == LIST_RESOURCES) {
    sessionInfo->clusterparams->reTryPeriod = 1;
    if (spGlobal->iLogLevel >= 2)
      vrk_log(3500, "set reTryPeriod to 1 to avoid waiting situation during browsing");
  } else {
    sessionInfo->clusterparams->reTryPeriod = 10;
    if (spGlobal->iLogLevel >= 2) vrk_log(3500, "set reTryPeriod to 10");
  }

  SESSION_STEP("EstablishConnection");
  NWBOOLEAN bGotClusterTSA = FALSE;
  CCODE ccode = EstablishConnection(sessionInfo, &bGotClusterTSA);
  if (ccode != 0) {
    vrk_log(1500, "Connection denied.");
    EndSession(0, sessionInfo);
    return 0;
  }
  vrk_log(3500, "Connection established");

  SESSION_STEP("API version and name types");
  UINT16 major = 0, minor = 0;
  if (NWSMTSGetTargetServiceAPIVersion(sessionInfo->connection, &major, &minor) == 0 && major > 2) {
    UINT32 types = 0;
    if (NWSMTSGetSupportedNameTypes(sessionInfo->connection, &types) == 0 &&
        (types & NWSM_NAME_TYPE_UTF8) != 0) {
      sessionInfo->scanControl.returnNameSpaceType = NWSM_ALL_NAME_SPACES_UTF8;
      sessionInfo->IsUTF8Supp = TRUE;
      vrk_log(3500, "StartSession: set isUTF8Supp = TRUE");
    }
  }

  E_OPERATION eOp = spGlobal->eOPERATION;
  if (eOp == BACKUP || eOp == RESTORE) {
    if (spGlobal->iLogLevel >= 3) vrk_log(4000, "Before Init_Cluster_Params");
    if (Init_Cluster_Params(sessionInfo) == nullptr) {
      vrk_log(1094);
      EndSession(0, sessionInfo);
      return 0;
    }
    vrk_log(3500, "Init_Cluster_Params OK");
  }

  SESSION_STEP("dispatch");
  switch (eOp) {
    case BACKUP:
      vrk_log(3064);
      vrk_log(3500, "Function: BACKUP");
      Backup(sessionInfo);
      break;
    case RESTORE:
      vrk_log(3500, "Function: RESTORE");
      Restore(sessionInfo);
      break;
    case LIST_RESOURCES:
      run_listing(sessionInfo, bGotClusterTSA);
      break;
    default:
      break;
  }

  SESSION_STEP("EndSession");
  EndSession(0, sessionInfo);
  return 0;
}
