// Helpers of the storage client: storage-node reply settings, command-
// interface settings, environment reads and the names of descriptor values.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "xbsa/xbsa_session.h"
#include "xbsa/xbsa_trace.h"

void sms_parseinfo(const char *szMessage) {
  xbsatrace("sms_parseinfo: Start - Input: %s", szMessage ? szMessage : "");
  _sSMS &sms = sGlobal.sObject.sSMS;
  sms.ulTapeID = 0;
  sms.ulSegmentNum = 0;
  if (szMessage) {
    char szCopy[XBSA_LINE_SIZE];
    strlcpy(szCopy, szMessage, sizeof szCopy);
    char *cpSave = NULL;
    unsigned long *pulNext = NULL;
    for (char *cpTok = strtok_r(szCopy, " :", &cpSave); cpTok; cpTok = strtok_r(NULL, " :", &cpSave)) {
      if (pulNext) {
        *pulNext = (unsigned long)atol(cpTok);
        pulNext = NULL;
      } else if (strncmp(cpTok, "TAPE", 4) == 0) {
        pulNext = &sms.ulTapeID;
      } else if (strncmp(cpTok, "SEGMENT", 7) == 0) {
        pulNext = &sms.ulSegmentNum;
      }
    }
  }
  xbsatrace("sms_parseinfo: End");
}

void getComParams(char **environmentPtr) {
  if (!environmentPtr) return;
  STUCT_COM_INPUT &com = sGlobal.sCOM;
  struct Key {
    const char *cpName;
    char *cpField;
    size_t uiSize;
  };
  const Key keys[] = {
      {"KORVA_SERVER", com.szKORVAServer, sizeof com.szKORVAServer},
      {"KORVA_JOB", com.szJobName, sizeof com.szJobName},
      {"KORVA_POOL", com.szPool, sizeof com.szPool},
      {"KORVA_TAPE_SERVER", com.szKORVATapeServer, sizeof com.szKORVATapeServer},
      {"KORVA_DRIVE", com.szDrive, sizeof com.szDrive},
  };
  for (char **pp = environmentPtr; *pp; ++pp) {
    for (const Key &k : keys) {
      const char *cpValue = xbsa_env_value(*pp, k.cpName);
      if (!cpValue) continue;
      if (strlen(cpValue) >= k.uiSize) {
        xbsalog("getComParams: value of %s is longer than %u characters, not taken.", k.cpName,
                (unsigned)(k.uiSize - 1));
      } else {
        strlcpy(k.cpField, cpValue, k.uiSize);
        xbsatrace("getComParams: got %s", vrk_mask_secrets(*pp).c_str());
      }
      break;
    }
  }
}

char *xbsa_getenv(const char *cpEnvVar) { return getenv(cpEnvVar); }

void xbsa_read_environment() {
  const char *cpNames[] = {"XBSA_TRACE", "XBSA_LOGFILE", "KORVA_SERVER"};
  for (int i = 0; i < 3; i++) {
    const char *cpValue = xbsa_getenv(cpNames[i]);
    if (!cpValue) {
      xbsatrace("xbsa_read_environment: Environment variable: [%s] not found.", cpNames[i]);
      return;
    }
    xbsatrace("xbsa_read_environment: Environment variable: [%s = %s].", cpNames[i], cpValue);
    if (i == 0) sGlobal.ucXBSATraceLevel = (unsigned char)(atoi(cpValue) | 0x40);
    if (i == 1) strlcpy(sGlobal.szLogFile, cpValue, sizeof sGlobal.szLogFile);
  }
}

namespace {

const char *name_of(const char *cpFunc, int iValue, const char *const *cpNames, int iCount) {
  xbsatrace("%s()", cpFunc);
  const char *cpName = (iValue >= 1 && iValue <= iCount) ? cpNames[iValue - 1] : NULL;
  xbsatrace("%s", cpName ? cpName : "(null)");
  xbsatrace("%s() leave.", cpFunc);
  return cpName;
}

}  // namespace

const char *sib_bsacopytype(BSA_CopyType eType) {
  static const char *const kNames[] = {"ANY", "ARCHIVE", "BACKUP"};
  return name_of("sib_bsacopytype", (int)eType, kNames, 3);
}

const char *sib_bsaobjecttype(BSA_ObjectType eType) {
  static const char *const kNames[] = {"ANY", "FILE", "DIRECTORY", "OTHER"};
  return name_of("sib_bsaobjecttype", (int)eType, kNames, 4);
}

const char *sib_bsaobjectstatus(BSA_ObjectStatus eStatus) {
  static const char *const kNames[] = {"ANY", "MOST_RECENT", "NOT_MOST_RECENT"};
  return name_of("sib_bsaobjectstatus", (int)eStatus, kNames, 3);
}

int xbsa_split_owner(const char *cpOwner, unsigned int uiOwnerLen, const char *cpCaller) {
  _sSMS &sms = sGlobal.sObject.sSMS;
  std::string owner(cpOwner, strnlen(cpOwner, uiOwnerLen));
  size_t colon = owner.find(':');
  std::string first = owner.substr(0, colon);
  std::string second;
  if (colon != std::string::npos) {
    second = owner.substr(colon + 1);
    size_t colon2 = second.find(':');
    if (colon2 != std::string::npos) second.resize(colon2);
  }
  if (colon == std::string::npos || first.size() < 5 || second.size() < 5) {
    SysErrorTxt(0, 0, "%s: object owner is not of the form USER=<user>:PASS=<password>.", cpCaller);
    xbsalog("%s: object owner is not of the form USER=<user>:PASS=<password>.", cpCaller);
    return -1;
  }
  strlcpy(sms.szUser, first.c_str() + 5, sizeof sms.szUser);
  strlcpy(sms.szPass, second.c_str() + 5, sizeof sms.szPass);
  return 0;
}

