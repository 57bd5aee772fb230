// Opening a session: BSAInit with its owner types and environment entries
// (service URL, local port range, time-out, API version), BSAQueryApiVersion.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "xbsa/xbsa_com.h"
#include "xbsa/xbsa_session.h"
#include "xbsa/xbsa_trace.h"

namespace {

const char *protocol_word(eConnectionProtocol e) {
  switch (e) {
    case eFTP: return "ftp";
    case eHTTP: return "http";
    case eHTTPS: return "https";
  }
  return "unknown";
}

// A local port number as atoi reads it ("12x" is 12); a value above 65535
// would bind another port than the one named.
bool parse_local_port(const std::string &s, int *piOut) {
  int v = atoi(s.c_str());
  if (v < 0 || v > 65535) return false;
  *piOut = v;
  return true;
}

int apply_service_host(_sSession *sp, const char *cpValue) {
  char szHost[XBSA_FIELD_SIZE];
  char szPort[16];
  eConnectionProtocol eProt = eFTP;
  int iRc = xbsa_parse_service_host(cpValue, &eProt, szHost, sizeof szHost, szPort, sizeof szPort);
  std::string shownHost = vrk_mask_secrets(szHost), shownValue = vrk_mask_secrets(cpValue);
  xbsalogtrace("BSAInit: Transfer protocol '%s' host '%s' port '%s'", protocol_word(eProt),
               shownHost.c_str(), szPort);
  if (iRc != 0) {
    SysErrorTxt(0, 0, "BSAInit: invalid service host entry: BSA_SERVICE_HOST=%s", shownValue.c_str());
    xbsalog("BSAInit: invalid service host entry: BSA_SERVICE_HOST=%s", shownValue.c_str());
    return BSA_RC_INVALID_ENV;
  }
  sp->eProtocol = eProt;
  _sSMS &sms = sGlobal.sObject.sSMS;
  strlcpy(sms.szHostName, szHost, sizeof sms.szHostName);
  if (eProt == eFTP) sms.iPort = szPort[0] ? atoi(szPort) : 21;
  return BSA_RC_SUCCESS;
}

int apply_port_range(_sSession *sp, const char *cpValue) {
  std::string v(cpValue);
  size_t dash = v.find('-');
  std::string first = v.substr(0, dash);
  std::string second = dash == std::string::npos ? std::string() : v.substr(dash + 1);
  int iStart = sp->iPortStart, iEnd = sp->iPortEnd;
  bool ok = (first.empty() || parse_local_port(first, &iStart)) &&
            (second.empty() || parse_local_port(second, &iEnd));
  if (!ok) {
    SysErrorTxt(0, 0, "BSAInit: invalid local port range: BSA_LOCAL_PORTRANGE=%s", cpValue);
    xbsalog("BSAInit: invalid local port range: BSA_LOCAL_PORTRANGE=%s", cpValue);
    return BSA_RC_INVALID_ENV;
  }
  sp->iPortStart = iStart;
  sp->iPortEnd = iEnd;
  return BSA_RC_SUCCESS;
}

void apply_timeout(const char *cpValue) {
  // The number as atoi reads it; 0 or less leaves the transport's own wait.
  int iTimeOut = atoi(cpValue);
  sGlobal.ulTimeOut = iTimeOut > 0 ? (unsigned long)iTimeOut : 0;
}

int walk_environment(_sSession *sp, char **environmentPtr) {
  if (!environmentPtr) return BSA_RC_SUCCESS;
  for (char **pp = environmentPtr; *pp; ++pp) {
    const char *cpEntry = *pp;
    xbsatrace("BSAInit: check %s", vrk_mask_secrets(cpEntry).c_str());
    const char *cpValue;
    int iRc = BSA_RC_SUCCESS;
    if ((cpValue = xbsa_env_value(cpEntry, "BSA_API_VERSION")) != NULL) {
      if (cpValue[0] != '1') {
        xbsatrace("BSAInit: XBSA API Version: %s", cpValue);
        SysErrorTxt(0, 0, "BSAInit: XBSA API Version %s is not supported.", cpValue);
        return BSA_RC_VERSION_NOT_SUPPORTED;
      }
    }
    if ((cpValue = xbsa_env_value(cpEntry, "BSA_SERVICE_HOST")) != NULL) {
      xbsatrace("BSAInit: got %s", vrk_mask_secrets(cpEntry).c_str());
      iRc = apply_service_host(sp, cpValue);
    }
    if (iRc == 0 && (cpValue = xbsa_env_value(cpEntry, "BSA_LOCAL_PORTRANGE")) != NULL) {
      xbsatrace("BSAInit: got '%s'", cpEntry);
      iRc = apply_port_range(sp, cpValue);
    }
    if (iRc == 0 && (cpValue = xbsa_env_value(cpEntry, "BSA_TIMEOUT")) != NULL) {
      xbsatrace("BSAInit: got %s", cpEntry);
      apply_timeout(cpValue);
    }
    if (iRc != 0) return iRc;
  }
  return BSA_RC_SUCCESS;
}

int finish(int iRc) {
  xbsatrace("BSAInit: Return: %d - %s", iRc, xbsa_typeerr(iRc));
  xbsatrace("BSAInit: End");
  return iRc;
}

}  // namespace

extern "C" int BSAInit(long *bsaHandlePtr, BSA_SecurityToken *tokenPtr, BSA_ObjectOwner *objectOwnerPtr,
                       char **environmentPtr) {
  getLogParams(environmentPtr);
  i_open_trace();
  xbsalogtrace("BSAInit: Start.");
  xbsalogtrace("BSAInit: ZEM XBSA Version %s %s %s", XBSA_VERSION, "", "");

  if (!bsaHandlePtr) {
    xbsalog("BSAInit: bsaHandlePtr == NULL");
    return finish(BSA_RC_NULL_ARGUMENT);
  }
  if (giSessionCounter >= XBSA_MAX_SESSIONS) {
    xbsatrace("BSAInit: No more free connection resource, maximal connection reached %d",
              XBSA_MAX_SESSIONS);
    SysErrorTxt(0, 0, "BSAInit: No more free connection resource, maximal connection reached %d",
                XBSA_MAX_SESSIONS);
    return finish(BSA_RC_INVALID_HANDLE);
  }
  long lHandle = glSessionIndex;
  _sSession *sp = xbsa_take_slot(lHandle);
  if (!sp) {
    xbsatrace("BSAInit: No more free connection resource, maximal connection reached %d",
              XBSA_MAX_SESSIONS);
    return finish(BSA_RC_INVALID_HANDLE);
  }
  *bsaHandlePtr = lHandle;
  glSessionIndex++;
  giSessionCounter++;
  xbsalogtrace("BSAInit: BSA Handle (session index) = %ld, counter %d", lHandle, giSessionCounter);

  if (!objectOwnerPtr) {
    xbsalog("BSAInit: objectOwnerPtr == NULL");
    return finish(BSA_RC_NULL_ARGUMENT);
  }

  // The owner text carries the login of the client's own objects.
  sGlobal.sObject.sBSA_ObjectOwner = *objectOwnerPtr;
  std::string owner(objectOwnerPtr->bsa_ObjectOwner,
                    strnlen(objectOwnerPtr->bsa_ObjectOwner, sizeof objectOwnerPtr->bsa_ObjectOwner));
  const char *cpInitiator = NULL;
  const char *cpComWord = NULL;
  if (owner == "INFORMIX") {
    sGlobal.iComSession = 1;
    xbsalogtrace("BSAInit: INFORMIX session");
    get_COM_environment(&sGlobal.sCOM);
    cpInitiator = "INFORMIX";
    cpComWord = "SIB";
  } else if (owner == "DB2") {
    sGlobal.iComSession = 2;
    xbsalogtrace("BSAInit: DB2 session");
    getComParams(environmentPtr);
    cpInitiator = "DB2_UDB";
    cpComWord = "DB2";
  } else if (owner == "CBMR") {
    sGlobal.iComSession = 3;
    xbsalogtrace("BSAInit: BSR (CBMR) session");
    getComParams(environmentPtr);
    cpInitiator = "BSR_Windows";
    cpComWord = "BSR";
  }
  if (cpInitiator) {
    strlcpy(sGlobal.sCOM.szInitiator, cpInitiator, sizeof sGlobal.sCOM.szInitiator);
    xbsatrace("BSAInit: establish VRK_COM SESSION for %s", cpComWord);
    if (com_intf(COM_OPEN_SESSION, &sGlobal.sCOM) != 1) {
      xbsalog("ERROR: COM_OPEN_SESSION failed");
      return finish(BSA_RC_AUTHENTICATION_FAILURE);
    }
    xbsalog("Successfully called COM_OPEN_SESSION");
  }

  int iRc = walk_environment(sp, environmentPtr);
  if (iRc == BSA_RC_SUCCESS) {
    const char *cpToken = tokenPtr ? *tokenPtr : NULL;
    xbsatrace("BSAInit: Input: BSA_SecurityToken = %.*s", cpToken ? (int)strnlen(cpToken, BSA_MAX_TOKEN_SIZE) : 6,
              cpToken ? cpToken : "(null)");
    xbsatrace("BSAInit: Input: BSA_ObjectOwner.bsa_ObjectOwner = %s", vrk_mask_secrets(owner).c_str());
    xbsatrace("BSAInit: Input: BSA_ObjectOwner.app_ObjectOwner = %.*s",
              (int)strnlen(objectOwnerPtr->app_ObjectOwner, sizeof objectOwnerPtr->app_ObjectOwner),
              objectOwnerPtr->app_ObjectOwner);
    if (xbsa_authorize(tokenPtr, objectOwnerPtr) == -1) iRc = BSA_RC_AUTHENTICATION_FAILURE;
  }
  return finish(iRc);
}

extern "C" int BSAQueryApiVersion(BSA_ApiVersion *apiVersionPtr) {
  i_open_trace();
  if (!apiVersionPtr) {
    xbsalog("BSAQueryApiVersion: Returning BSA_RC_NULL_ARGUMENT.");
    return BSA_RC_NULL_ARGUMENT;
  }
  apiVersionPtr->issue = 1;
  apiVersionPtr->version = 1;
  apiVersionPtr->level = 1;
  xbsalogtrace("BSAQueryApiVersion: XBSA BSA_API_VERSION (Version.Issue.Level): %d.%d.%d",
               apiVersionPtr->version, apiVersionPtr->issue, apiVersionPtr->level);
  xbsalogtrace("BSAQueryApiVersion: ZEM XBSA Version %s %s %s", XBSA_VERSION, "", "");
  xbsatrace("BSAQueryApiVersion: Returning BSA_RC_SUCCESS.");
  return BSA_RC_SUCCESS;
}
