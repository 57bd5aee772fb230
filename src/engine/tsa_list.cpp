// SMDR and TSA discovery: listing the SMDRs, TSAs and target services,
// resolving a given TSA name against the list, and the TSA listing lines.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/console.h"
#include "engine/drivers_pending.h"
#include "engine/engine_globals.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

bool contains(const std::string &s, const char *part) { return s.find(part) != std::string::npos; }
bool contains(const char *s, const char *part) { return s != nullptr && strstr(s, part) != nullptr; }

// Copies entry into the name buffer when it fits; else the size error.
CCODE copy_name(char *szName, int iSize, const char *cpEntry, const char *cpInfo) {
  size_t iLen = strlen(cpEntry);
  if (iSize <= 0 || iLen >= (size_t)iSize) {
    vrk_log(1500, "Size of TSA Name to short %d <= %d", iSize, (int)iLen);
    return NWSMTS_INVALID_PARAMETER;
  }
  memcpy(szName, cpEntry, iLen + 1);
  vrk_log(3500, cpInfo, szName);
  return 0;
}

}  // namespace

std::string TSAListingLine(const char *name) {
  std::string line = "\"";
  line += name != nullptr ? name : "";
  line += "\" d_ 2000.01.01 00:00:00 2000.01.01 00:00:00 4096 - ,\n";
  return line;
}

void DisplayList(NWSM_NAME_LIST *list) {
  int iCount = 0;
  for (NWSM_NAME_LIST *p = list; p != nullptr; p = p->next) {
    const char *name = p->name != nullptr ? p->name : "";
    if (vrk_nlm_interactive) {
      fprintf(stderr, "\n\r%s", name);
      if (++iCount % 20 == 0) DEPause();
    } else {
      vrk_log(3500, "%-16s", name);
      if (spGlobal->eOPERATION == LIST_RESOURCES) {
        std::string line = TSAListingLine(name);
        fputs(line.c_str(), stdout);
      }
    }
  }
  if (vrk_nlm_interactive) fprintf(stderr, "\n\r");
}

CCODE CopyListToLL(NWSM_NAME_LIST *list, t_LL LL_List) {
  for (NWSM_NAME_LIST *p = list; p != nullptr; p = p->next) {
    const char *name = p->name != nullptr ? p->name : "";
    vrk_log(3500, "%-16s", name);
    std::string line = TSAListingLine(name);
    trace("%l4 push dir [%s]", line.c_str());
    if (LL_List != nullptr) InsLastLLf(LL_List, line.size() + 1, line.c_str());
  }
  return 0;
}

void ListSMDRs(SESSION_INFORMATION *sessionInfo) {
  _sVRKNlm *nlm = &spGlobal->sVRKNlm;
  if (!vrk_nlm_interactive && nlm->szSMDR[0] != '\0') return;
  if (spGlobal->iLogLevel >= 3) vrk_log(3500, "Visible Storage Management Data Requestors:");
  NWSM_NAME_LIST *list = nullptr;
  CCODE ccode = NWSMListSMDRs("*", &list);
  if (ccode != 0) {
    printf("Error code for NWSMListSMDRs 0X%lX", (unsigned long)ccode);
    fflush(stdout);
    PrintCode(1, ccode, "ListSMDRs", 2295, sessionInfo);
  }
  if (list != nullptr) {
    if (spGlobal->iLogLevel >= 3) DisplayList(list);
    if (!vrk_nlm_interactive && nlm->szSMDR[0] == '\0' && list->name != nullptr) {
      strlcpy(nlm->szSMDR, list->name, sizeof(nlm->szSMDR));
      if (spGlobal->iLogLevel >= 3)
        vrk_log(3500, "SMDR set to 1'st from list (default) %s", nlm->szSMDR);
    }
    NWSMFreeNameList(&list);
  }
}

void ListTSs(SESSION_INFORMATION *sessionInfo) {
  _sVRKNlm *nlm = &spGlobal->sVRKNlm;
  NWSM_NAME_LIST *list = nullptr;
  CCODE ccode = NWSMTSListTargetServices(sessionInfo->connection, "*", &list);
  if (ccode != 0) {
    printf("Error code for NWSMTSListTargetServices 0X%lX", (unsigned long)ccode);
    fflush(stdout);
    PrintCode(1, ccode, "ListTSs", 0, sessionInfo);
  }
  if (list != nullptr) {
    if (spGlobal->iLogLevel >= 3) {
      vrk_log(3500, "Target Services:");
      DisplayList(list);
    }
    if (!vrk_nlm_interactive && nlm->szTS[0] == '\0' && list->name != nullptr) {
      strlcpy(nlm->szTS, list->name, sizeof(nlm->szTS));
      if (spGlobal->iLogLevel >= 3) vrk_log(3500, "TS set to 1'st from list (default) %s", nlm->szTS);
    }
    NWSMFreeNameList(&list);
  }
}

CCODE SetTSAName(NWSM_NAME_LIST *list, char *szGivenTsaName, int iSize, NWBOOLEAN *pbOESNetWare,
                 NWBOOLEAN *pbClusterTSA) {
  CCODE ccode = NWSMTS_INVALID_TSA;
  vrk_log(3500, "SetTSAName [%s]", szGivenTsaName);
  if (list == nullptr) return ccode;

  std::string given(szGivenTsaName);
  lowercase(&given[0]);
  bool bFileSystem = contains(given, "file system");
  bool bLinuxFS = bFileSystem && contains(given, "linux");
  bool bDirectory = contains(given, "novell directory");
  if (bDirectory) {
    vrk_log(3500, "check against [%s] or [%s]", "novell directory", "netiq directory");
  } else {
    size_t blank = given.find(' ');
    if (blank != std::string::npos) given.resize(blank);
  }

  // First pass: the first entry that contains the given text.
  bool bTaken = false, bNetWare = false, bCluster = false;
  for (NWSM_NAME_LIST *p = list; p != nullptr; p = p->next) {
    const char *name = p->name != nullptr ? p->name : "";
    vrk_log(3500, "%-16s", name);
    if (!bNetWare && contains(name, "NetWare")) {
      bNetWare = true;
      if (pbOESNetWare != nullptr) *pbOESNetWare = TRUE;
      vrk_log(3500, "SetTSAName: Got OES NetWare TSA [%s]", name);
    }
    if (!bCluster && contains(name, "Cluster")) {
      bCluster = true;
      if (pbClusterTSA != nullptr) *pbClusterTSA = TRUE;
      vrk_log(3500, "SetTSAName: Got cluster TSA [%s]", name);
    }
    std::string entry(name);
    lowercase(&entry[0]);
    trace("%l4 check [%s] against [%s]", entry.c_str(), given.c_str());
    bool bTake = !bTaken && contains(entry, given.c_str()) &&
                 !contains(name, "GroupWise Cluster System");
    if (bDirectory && (contains(entry, "netiq directory") || contains(entry, "novell directory")))
      bTake = true;
    if (!bTake) continue;
    bTaken = true;
    ccode = 0;
    if (spGlobal->iLogLevel >= 3)
      vrk_log(3500, "found given TSA name [%s] <=> [%s]", szGivenTsaName, name);
    if (strcmp(name, szGivenTsaName) != 0)
      ccode = copy_name(szGivenTsaName, iSize, name, "Set TSA to full name [%s]");
  }
  if (bTaken) return ccode;

  bool bCopied = false;
  if (!bFileSystem) {
    trace("%l4 TSA name [%s] not found in list", szGivenTsaName);
    const char *dot = strchr(szGivenTsaName, '.');
    if (dot == nullptr) return ccode;
    std::string fs(dot + 1);
    lowercase(&fs[0]);
    if (spGlobal->iLogLevel >= 3)
      vrk_log(3500, "Search for file system TSA name [%s] in list", fs.c_str());
    for (NWSM_NAME_LIST *p = list; p != nullptr; p = p->next) {
      const char *name = p->name != nullptr ? p->name : "";
      std::string entry(name);
      lowercase(&entry[0]);
      if (!contains(entry, fs.c_str())) continue;
      ccode = 0;
      vrk_log(3500, "found given file system TSA name [%s] <=> [%s]", szGivenTsaName, name);
      if (strcmp(name, szGivenTsaName) != 0) {
        ccode = copy_name(szGivenTsaName, iSize, name, "Set file system TSA to full name [%s]");
        bCopied = ccode == 0;
      }
      break;
    }
  } else {
    const char *cpLast = nullptr;
    for (NWSM_NAME_LIST *p = list; p != nullptr; p = p->next) {
      const char *name = p->name != nullptr ? p->name : "";
      std::string entry(name);
      lowercase(&entry[0]);
      if (!contains(entry, "file system")) continue;
      ccode = 0;
      cpLast = name;
      if (spGlobal->iLogLevel >= 3)
        vrk_log(3500, "found file system TSA name [%s] <=> [%s]", szGivenTsaName, name);
      if (strcmp(name, szGivenTsaName) != 0 && (iSize <= 0 || strlen(name) >= (size_t)iSize)) {
        vrk_log(1500, "Size of TSA Name to short %d <= %d", iSize, (int)strlen(name));
        ccode = NWSMTS_INVALID_PARAMETER;
      }
      if (bLinuxFS && contains(entry, "linux")) {
        vrk_log(3500, "use Linux file system TSA name [%s] <=> [%s]", szGivenTsaName, name);
        break;
      }
      if (!bLinuxFS && contains(entry, "netware")) {
        vrk_log(3500, "use NetWare file system TSA name [%s] <=> [%s]", szGivenTsaName, name);
        break;
      }
    }
    if (ccode == 0 && cpLast != nullptr) {
      ccode = copy_name(szGivenTsaName, iSize, cpLast, "Set file system TSA to full name [%s]");
      bCopied = ccode == 0;
    }
  }
  if (!bCopied) vrk_log(3500, "ATTENTION: TSA name [%s] not found in list!", szGivenTsaName);
  return ccode;
}

void ListTSAs(const char *targetSMDR, SESSION_INFORMATION *sessionInfo, NWBOOLEAN *pbGotClusterTSA,
              t_LL LL_DirList) {
  char *tsaName = sessionInfo->tsaName;
  if (spGlobal->iLogLevel >= 2) vrk_log(3500, "ListTSAs: tsaName [%s]", tsaName);
  BOOL bCheckGroupWise = tsaName[0] == '\0' || contains(tsaName, "GroupWise System");
  trace("%l4 bCheckGroupWise %d", (int)bCheckGroupWise);
  if (pbGotClusterTSA != nullptr) *pbGotClusterTSA = FALSE;

  std::string smdr = targetSMDR != nullptr ? targetSMDR : "";
  if (smdr.size() < 2 || smdr.compare(smdr.size() - 2, 2, ".*") != 0) smdr += ".*";
  vrk_log(3500, "Visible Target Service Agents: SMDR [%s]", smdr.c_str());
  NWSM_NAME_LIST *list = nullptr;
  CCODE ccode = NWSMListTSAs(smdr.c_str(), &list);
  if (ccode != 0) {
    printf("Error code for NWSMListTSAs 0X%lX", (unsigned long)ccode);
    fflush(stdout);
    PrintCode(1, ccode, "ListTSAs", 2219, sessionInfo);
  }

  if (contains(tsaName, "GroupWise System 2012"))
    strlcpy(tsaName, "Linux File System", SESSION_NAME_FIELD);

  if (list != nullptr) {
    NWBOOLEAN bOESNetWare = FALSE;
    CCODE result = SetTSAName(list, tsaName, SESSION_NAME_FIELD, &bOESNetWare, pbGotClusterTSA);
    if (bCheckGroupWise && !bOESNetWare && bCheck_GW2012(sessionInfo, &list)) {
      gbGW2012 = TRUE;
      vrk_log(3500, "GroupWise 2012 detected");
      if (result == NWSMTS_INVALID_TSA && contains(tsaName, "GroupWise System")) {
        strlcpy(tsaName, "Linux File System", SESSION_NAME_FIELD);
        SetTSAName(list, tsaName, SESSION_NAME_FIELD, &bOESNetWare, pbGotClusterTSA);
      }
    }
    if (LL_DirList != nullptr) {
      CopyListToLL(list, LL_DirList);
      SysSortLL(LL_DirList, i_COMPARE_LINE);
    }
    NWSMFreeNameList(&list);
  }
}
