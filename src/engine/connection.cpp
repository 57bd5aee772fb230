// EstablishConnection: the browse-path split of the listing road, SMDR and
// TSA choice, connect and login tries with random pauses, and the defaults.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/delay.h"
#include "engine/engine_globals.h"
#include "engine/listing_lines.h"
#include "runtime/strlib.h"
#include "runtime/password_mask.h"
#include "runtime/vrk_log.h"

namespace {

// Kinds of TSA that a browse path may name; cpItem[1] points at one of them.
char szKindEmpty[] = "";
char szKindLinuxFS[] = "Linux File System";
char szKindLinuxClusterFS[] = "Linux Cluster File System";
char szKindGW2012[] = "GroupWise System 2012";

bool contains(const char *s, const char *part) { return s != nullptr && strstr(s, part) != nullptr; }

// The parts of a browse path between its slashes (a leading '/' gives an
// empty first part); no path is one empty part.
std::vector<std::string> browse_parts(char *cpPath) {
  char szSlash[] = "/";
  char **list = nullptr;
  int n = cpPath != nullptr ? cm_split(cpPath, szSlash, &list) : -1;
  if (n < 0) return {std::string(cpPath != nullptr ? cpPath : "")};
  std::vector<std::string> parts(list, list + n);
  FreeSplitList(list);
  return parts;
}

// Copies a name into a session field, refusing one that does not fit.
bool copy_field(char *field, const char *value, const char *what) {
  size_t len = strlen(value);
  if (len >= SESSION_NAME_FIELD) {
    vrk_log(1500, "%s too long: %d characters, at most %d", what, (int)len, SESSION_NAME_FIELD - 1);
    return false;
  }
  memcpy(field, value, len + 1);
  return true;
}

// The NetWare switch of a Linux file-system TSA for a volume-style item.
void netware_switch(SESSION_INFORMATION *sessionInfo, const char *cpItem) {
  char *tsaName = sessionInfo->tsaName;
  if (spGlobal->iLogLevel >= 3)
    trace("%l4 Check NetWare target [%s] > for [%s]", tsaName, cpItem != nullptr ? cpItem : "");
  if (cpItem == nullptr || cpItem[0] == '/' || strchr(cpItem, ':') == nullptr) return;
  std::string before = tsaName;
  std::string name = tsaName;
  size_t dot = name.find('.');
  name = dot == std::string::npos ? std::string() : name.substr(0, dot + 1);
  name += "NetWare File System";
  if (name.size() >= SESSION_NAME_FIELD) return;
  memcpy(tsaName, name.c_str(), name.size() + 1);
  vrk_log(3500, "NetWare target [%s] > switch to [%s]", before.c_str(), tsaName);
}

// The browse path of the listing road (step 2); n is its part count. Exits
// the process for the root level.
void split_browse_path(int *pn, std::vector<std::string> &parts) {
  char **cpItem = spGlobal->sVRKObject.cpItem;
  if (cpItem[0] != nullptr) squeeze(cpItem[0], '/');
  parts = browse_parts(cpItem[0]);
  int n = (int)parts.size();
  *pn = n;
  std::string root = n > 1 ? parts[1] : std::string();

  if (gLL_ResourceList == nullptr) gLL_ResourceList = ConsLL();
  if (gLL_DirList == nullptr) gLL_DirList = ConsLL();
  if (gLL_FileList == nullptr) gLL_FileList = ConsLL();

  if (root.empty()) {
    vrk_log(3500, "EstablishConnection");
    std::string line = TSAListingLine("/NetWare");
    fflush(stderr);
    fputs(line.c_str(), stdout);
    fflush(stdout);
    exit(0);
  }

  cpItem[1] = szKindEmpty;
  if (n < 4) {
    cpItem[0][0] = '\0';
    if (n > 2) {
      const std::string &tsa = parts[2];
      char *kind = nullptr;
      if (tsa.find(szKindLinuxFS) != std::string::npos) kind = szKindLinuxFS;
      else if (tsa.find(szKindLinuxClusterFS) != std::string::npos) kind = szKindLinuxClusterFS;
      else if (tsa.find(szKindGW2012) != std::string::npos) kind = szKindGW2012;
      if (kind != nullptr) {
        cpItem[1] = kind;
        strcpy(cpItem[0], "/");
      }
    }
  }
  trace("%l4 cpItem[1] [%s]", cpItem[1]);

  if (n >= 4) {
    const std::string &top = parts[3];
    trace("%l4 EstablishConnection: Source with top item [%s]", top.c_str());
    // The path below the TSA: from the third '/' on.
    const char *cp = cpItem[0];
    for (int i = 0; i < 3 && cp != nullptr; ++i) {
      cp = strchr(cp, '/');
      if (cp != nullptr && i < 2) ++cp;
    }
    std::string path = cp != nullptr ? cp : "";
    bool bResource = top.find(':') != std::string::npos ||
                     strncasecmp(top.c_str(), "GroupWise Mail Server", 21) == 0 ||
                     strcasecmp(top.c_str(), "Server Specific Info") == 0 ||
                     strcasecmp(top.c_str(), "NetWare server") == 0;
    if (bResource) {
      vrk_log(3500, "Given target [%s] is a resource", vrk_log_name(top).c_str());
      giAddSlashToResource = 1;
      if (!path.empty() && path[0] == '/') {
        path.erase(0, 1);
        vrk_log(3500, "Leading '/' removed from path [%s]", vrk_log_name(path).c_str());
      }
    }
    // The path is never longer than the item it comes from.
    memmove(cpItem[0], path.c_str(), path.size() + 1);
    const std::string &tsa = parts[2];
    if (tsa.find(szKindLinuxClusterFS) != std::string::npos) cpItem[1] = szKindLinuxClusterFS;
    else if (tsa.find(szKindLinuxFS) != std::string::npos) cpItem[1] = szKindLinuxFS;
    else if (tsa.find(szKindGW2012) != std::string::npos) cpItem[1] = szKindGW2012;
  }
}

void release_tsa(SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo->connection != 0) {
    UINT32 connection = sessionInfo->connection;
    NWSMReleaseTSA(&connection);
  }
  // Marked released, so the end of the session does not release it again.
  sessionInfo->connection = 0;
}

void put_len16(char *cp, size_t len) {
  cp[0] = (char)(len & 0xFF);
  cp[1] = (char)((len >> 8) & 0xFF);
}

}  // namespace

CCODE EstablishConnection(SESSION_INFORMATION *sessionInfo, NWBOOLEAN *pbGotClusterTSA) {
  _sVRKNlm *nlm = &spGlobal->sVRKNlm;
  char **cpItem = spGlobal->sVRKObject.cpItem;
  int iLevel = spGlobal->iLogLevel;
  E_OPERATION eOp = spGlobal->eOPERATION;
  bool bListing = eOp == LIST_RESOURCES;
  if (pbGotClusterTSA != nullptr) *pbGotClusterTSA = FALSE;

  trace("%l4 EstablishConnection: for %s",
        eOp == BACKUP ? "BACKUP" : (bListing ? "LIST_RESOURCES" : "RESTORE"));

  int n = 0;
  std::vector<std::string> parts;
  if (bListing) split_browse_path(&n, parts);

  ListSMDRs(sessionInfo);

  std::string targetSMDR = nlm->szSMDR;
  if (iLevel >= 3) vrk_log(3500, "Got SMDR from spGlobal->sVRKNlm.szSMDR: %s", nlm->szSMDR);
  vrk_log(3500, "Got TSA from spGlobal->sVRKNlm.szTSA: %s", nlm->szTSA);
  if (!copy_field(sessionInfo->tsaName, nlm->szTSA, "TSA name")) return NWSMTS_INVALID_PARAMETER;

  bool bListed = false;
  if (!(bListing && n > 2)) {
    if (bListing) {
      sessionInfo->tsaName[0] = '\0';
    } else if (eOp == BACKUP && contains(sessionInfo->tsaName, "Linux File System")) {
      netware_switch(sessionInfo, cpItem[0]);
    } else if (eOp == RESTORE && contains(sessionInfo->tsaName, "Linux File System")) {
      netware_switch(sessionInfo, spGlobal->szTargetPath[0]);
    }
    ListTSAs(targetSMDR.c_str(), sessionInfo, pbGotClusterTSA, bListing ? gLL_DirList : nullptr);
    bListed = true;
  }

  if (bListing) {
    if (n < 3) {
      fflush(stderr);
      WriteListLines(gLL_DirList, stdout);
      fflush(stdout);
      vrk_log(3500, "Requested TSA List was printed");
      exit(0);
    }
    trace("%l4 Use TSA from source [%s]", parts[2].c_str());
    if (!copy_field(sessionInfo->tsaName, parts[2].c_str(), "TSA name"))
      return NWSMTS_INVALID_PARAMETER;
    ListTSAs(targetSMDR.c_str(), sessionInfo, pbGotClusterTSA, nullptr);
  }

  if (contains(sessionInfo->tsaName, "GroupWise System")) {
    if (!bListed) ListTSAs(targetSMDR.c_str(), sessionInfo, pbGotClusterTSA, nullptr);
    trace("%l4 gbGW2012 %d, bGotClusterTSA %d", (int)gbGW2012,
          pbGotClusterTSA != nullptr ? (int)*pbGotClusterTSA : 0);
    if (gbGW2012 && bListing) {
      if (cpItem[0] != nullptr && cpItem[0][0] == '\0') strcpy(cpItem[0], "/");
      cpItem[1] = szKindGW2012;
      trace("%l4 set cpItem[0] [%s], cpItem[1] [%s]", cpItem[0] != nullptr ? cpItem[0] : "",
            cpItem[1]);
    }
  }

  // Connect. A signal before the first try leaves the general failure.
  int iPeriod = sessionInfo->clusterparams != nullptr ? sessionInfo->clusterparams->reTryPeriod : 10;
  CCODE ccode = ENGINE_GENERAL_FAILURE;
  for (int iRetry = CONNECT_TRIES - 1; iRetry >= 0; --iRetry) {
    if (spGlobal->sVRKObject.iSigRecv) break;
    if (iLevel >= 2)
      vrk_log(3500, "Call NWSMConnectToTSA( [%s], ...): retry %d", sessionInfo->tsaName, iRetry);
    ccode = NWSMConnectToTSA(sessionInfo->tsaName, &sessionInfo->connection);
    if (ccode == 0) break;
    vrk_log(3500, "Error NWSMConnectToTSA 0X%lX", (unsigned long)ccode);
    vrk_log(3500, "Failure to connect to Target Service Agent.");
    PrintCode(0, ccode, "EstablishConnection", 0, sessionInfo);
    sessionInfo->connection = 0;
    if (iRetry > 0) vrk_random_pause(500, iPeriod * 1000);
  }
  if (ccode != 0) {
    sessionInfo->connection = 0;
    if (ccode == NWSMTS_LOGIN_DENIED) {
      printf("\nLogin denied");
      fflush(stdout);
    }
    PrintCode(1, ccode, "EstablishConnection: NWSMConnectToTSA", 0, sessionInfo);
    vrk_log(1500, "Error NWSMConnectToTSA 0X%lX", (unsigned long)ccode);
    vrk_log(1500, "Failure to connect to Target Service Agent.");
    return ccode;
  }

  // Target services.
  const char *cpPattern = "*";
  if (contains(sessionInfo->tsaName, "NetWare Cluster File System") ||
      contains(sessionInfo->tsaName, "NetWare File System")) {
    cpPattern = targetSMDR.c_str();
    if (iLevel >= 3) vrk_log(3500, "call NWSMTSListTargetServices(%s)", cpPattern);
  } else if (iLevel >= 3) {
    vrk_log(3500, "call NWSMTSListTargServices(*)");
  }
  NWSM_NAME_LIST *services = nullptr;
  ccode = NWSMTSListTargetServices(sessionInfo->connection, cpPattern, &services);
  if (ccode != 0) {
    NWSMFreeNameList(&services);
    release_tsa(sessionInfo);
    return ccode;
  }
  if (iLevel >= 3) {
    vrk_log(3500, "Target Service(s): ");
    for (NWSM_NAME_LIST *p = services; p != nullptr; p = p->next)
      vrk_log(3500, "%s", p->name != nullptr ? p->name : "");
  }

  if (nlm->szTS[0] == '\0') {
    if (services != nullptr && services->name != nullptr) {
      strlcpy(nlm->szTS, services->name, sizeof(nlm->szTS));
      if (iLevel >= 3)
        vrk_log(3500, "spGlobal->sVRKNlm.szTS set to default (1'st from list) [%s]", nlm->szTS);
    } else {
      strlcpy(nlm->szTS, nlm->szSMDR, sizeof(nlm->szTS));
      if (iLevel >= 3)
        vrk_log(3500, "Didn't get Target Services List: spGlobal->sVRKNlm.szTS set to SMDR [%s]",
                nlm->szTS);
    }
  }
  NWSMFreeNameList(&services);

  // Names and credentials; a value too long for its field is refused.
  bool bFits = copy_field(sessionInfo->svcName, nlm->szTS, "Target service name");
  if (bFits && iLevel >= 3) vrk_log(3500, "Got target service from structure - %s", sessionInfo->svcName);
  if (bFits) {
    if (nlm->szUser[0] == '\0') {
      if (iLevel >= 3) vrk_log(3500, "Taking default value ADMIN for username");
      strcpy(sessionInfo->CuserName, "ADMIN");
    } else {
      bFits = copy_field(sessionInfo->CuserName, nlm->szUser, "User name");
    }
  }
  if (bFits && iLevel >= 3) vrk_log(3500, "User name copied: %s", sessionInfo->CuserName);
  if (bFits) {
    if (nlm->szPassword[0] == '\0') {
      if (iLevel >= 3) vrk_log(3500, "Taking default value qopex for password");
      strlcpy(nlm->szPassword, "qopex", sizeof(nlm->szPassword));
    }
    size_t iLen = strlen(nlm->szPassword);
    // 16-bit length, the bytes and a terminating NUL.
    if (iLen > SESSION_NAME_FIELD - 3) {
      vrk_log(1500, "Password too long: %d characters, at most %d", (int)iLen, SESSION_NAME_FIELD - 3);
      bFits = false;
    } else {
      memset(sessionInfo->CpassWord, 0, sizeof(sessionInfo->CpassWord));
      put_len16(sessionInfo->CpassWord, iLen);
      memcpy(sessionInfo->CpassWord + 2, nlm->szPassword, iLen);
      if (iLevel >= 3) vrk_log(3500, "Password copied");
    }
  }
  if (!bFits) {
    release_tsa(sessionInfo);
    return NWSMTS_INVALID_PARAMETER;
  }

  // Log in.
  for (int iTry = 1; iTry <= LOGIN_TRIES; ++iTry) {
    if (iLevel >= 3)
      vrk_log(3500, "Call OpenService( [%s], ...): retry %d", sessionInfo->svcName,
              LOGIN_TRIES + 1 - iTry);
    ccode = OpenService(sessionInfo);
    if (iTry >= 2) vrk_random_pause(500, iPeriod * 1000);
    if (ccode == 0 || spGlobal->sVRKObject.iSigRecv) break;
  }
  if (ccode != 0) {
    if (ccode == NWSMTS_LOGIN_DENIED) {
      printf("\nLogin denied");
      fflush(stdout);
    }
    trace("%l4 Before NWSMReleaseTSA");
    release_tsa(sessionInfo);
    trace("%l4 Before goto Return");
  } else {
    GetSMDRVersionInfo(sessionInfo);
  }
  if (iLevel >= 3) trace("%l4 Returning ccode = 0X%lX", (unsigned long)ccode);
  return ccode;
}
