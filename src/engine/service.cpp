// Login to the target service (UTF-8, raw and plain), opening and closing of
// the TSA connection, and the SMS component version report.
#include <string.h>

#include <string>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "runtime/vrk_log.h"

namespace {

UINT16 get_len16(const char *cp) {
  return (UINT16)((unsigned char)cp[0] | ((unsigned char)cp[1] << 8));
}

void put_len16(char *cp, size_t len) {
  cp[0] = (char)(len & 0xFF);
  cp[1] = (char)((len >> 8) & 0xFF);
}

bool extended_login_missing(CCODE ccode) {
  return ccode == NWSMDR_UNSUPPORTED_FUNCTION || ccode == NWSMTS_UNSUPPORTED_FUNCTION;
}

}  // namespace

CCODE OpenService(SESSION_INFORMATION *sessionInfo) {
  CCODE ccode = 0;
  bool bPlain = NWSMTSConnectToTargetServiceEx == nullptr;
  if (!bPlain) {
    // The password in CpassWord: 16-bit length, then its bytes.
    size_t iLen = get_len16(sessionInfo->CpassWord);
    if (iLen > SESSION_NAME_FIELD - 3) iLen = SESSION_NAME_FIELD - 3;
    sessionInfo->CpassWord[2 + iLen] = '\0';
    char szUtf8[2400];
    UINT32 uiOut = sizeof(szUtf8);
    ccode = SMloc2utf8(szUtf8, &uiOut, sessionInfo->CpassWord + 2, (UINT32)(iLen + 1), 0);
    if (ccode != 0) {
      vrk_log(1500, "Error converting password to UTF-8 0X%lX", (unsigned long)ccode);
      return ccode;
    }
    szUtf8[sizeof(szUtf8) - 1] = '\0';
    size_t iUtf8 = strnlen(szUtf8, uiOut < sizeof(szUtf8) ? uiOut : sizeof(szUtf8) - 1);
    // 16-bit length, the bytes and a NUL must fit the field.
    if (iUtf8 > SESSION_NAME_FIELD - 3) {
      vrk_log(1500, "Password too long for the login: %d UTF-8 bytes, at most %d", (int)iUtf8,
              SESSION_NAME_FIELD - 3);
      return NWSMTS_INVALID_PARAMETER;
    }
    memset(sessionInfo->UPassWord, 0, sizeof(sessionInfo->UPassWord));
    put_len16(sessionInfo->UPassWord, iUtf8);
    memcpy(sessionInfo->UPassWord + 2, szUtf8, iUtf8);
    vrk_log(3500, "NWSMTSConnectToTargetServiceEx %s (NWSM_AUTH_UTF8_DATA - encoded)",
            sessionInfo->svcName);
    ccode = NWSMTSConnectToTargetServiceEx(&sessionInfo->connection, sessionInfo->svcName,
                                           sessionInfo->CuserName, sessionInfo->UPassWord,
                                           NWSM_AUTH_UTF8_DATA);
    if (extended_login_missing(ccode)) {
      bPlain = true;
    } else if (ccode != 0) {
      PrintCode(0, ccode, "NWSMTSConnectToTargetServiceEx", 0, sessionInfo);
      vrk_log(3500, "NWSMTSConnectToTargetServiceEx %s (NWSM_AUTH_RAW_DATA)", sessionInfo->svcName);
      ccode = NWSMTSConnectToTargetServiceEx(&sessionInfo->connection, sessionInfo->svcName,
                                             sessionInfo->CuserName, sessionInfo->CpassWord,
                                             NWSM_AUTH_RAW_DATA);
      if (ccode != 0) PrintCode(0, ccode, "NWSMTSConnectToTargetServiceEx", 0, sessionInfo);
    }
  }
  if (bPlain) {
    vrk_log(3500, "NWSMTSConnectToTargetService");
    ccode = NWSMTSConnectToTargetService(&sessionInfo->connection, sessionInfo->svcName,
                                         sessionInfo->CuserName, sessionInfo->CpassWord);
    if (ccode != 0) PrintCode(0, ccode, "NWSMTSConnectToTargetService", 0, sessionInfo);
  }
  trace("%l4 OpenService return 0X%lX", (unsigned long)ccode);
  return ccode;
}

UINT32 OpenTarget(SESSION_INFORMATION *sessionInfo, UINT16 numRetry) {
  UINT32 connection = 0;
  CCODE ccode = NWSMConnectToTSA(sessionInfo->tsaName, &connection);
  if (ccode == 0) return connection;
  if (numRetry == 1) {
    vrk_log(1500, "Error code for NWSMConnectToTSA 0X%lX", (unsigned long)ccode);
    sessionInfo->connection = 0;
  } else {
    vrk_log(3500, "Open Target failed retrying...");
  }
  PrintCode(0, ccode, "OpenTarget: NWSMConnectToTSA", 0, sessionInfo);
  return OPEN_TARGET_FAILED;
}

void CloseService(SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo == nullptr || sessionInfo->connection == 0) return;
  // A copy: the release may clear the handle it is given, and the TSA
  // release after it still needs it.
  UINT32 connection = sessionInfo->connection;
  NWSMTSReleaseTargetService(&connection);
}

void CloseTarget(SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo == nullptr) return;
  CloseService(sessionInfo);
  if (sessionInfo->connection != 0) {
    UINT32 connection = sessionInfo->connection;
    NWSMReleaseTSA(&connection);
  }
  sessionInfo->connection = 0;
}

namespace {

// Asks one SMS module for its version; FALSE (after the error lines) when
// the query fails.
bool QueryVersion(SESSION_INFORMATION *sessionInfo, CCODE (*query)(UINT32, NWSM_MODULE_VERSION_INFO *),
                  const char *name, NWSM_MODULE_VERSION_INFO *info) {
  memset(info, 0, sizeof(*info));
  CCODE ccode = query(sessionInfo->connection, info);
  if (ccode != 0) {
    std::string routine = std::string("GetSMDRVersionInfo: ") + name;
    PrintCode(1, ccode, routine.c_str(), 0, sessionInfo);
    vrk_log(1500, "Error %s 0X%lX", name, (unsigned long)ccode);
    return false;
  }
  info->moduleFileName[sizeof(info->moduleFileName) - 1] = '\0';
  info->OSName[sizeof(info->OSName) - 1] = '\0';
  return true;
}

}  // namespace

void GetSMDRVersionInfo(SESSION_INFORMATION *sessionInfo) {
  NWSM_MODULE_VERSION_INFO info;
  if (!QueryVersion(sessionInfo, NWSMGetRequestorVersionInfo, "NWSMGetRequestorVersionInfo", &info)) return;
  vrk_log(3500, "Requestor %s version %u.%u.%u (%s %u.%u.%u)", info.moduleFileName,
          info.moduleMajorVersion, info.moduleMinorVersion, info.moduleRevisionLevel, info.OSName,
          info.OSMajorVersion, info.OSMinorVersion, info.OSRevisionLevel);

  if (!QueryVersion(sessionInfo, NWSMGetResponderVersionInfo, "NWSMGetResponderVersionInfo", &info)) return;
  vrk_log(3500, "Responder %s version %u.%u.%u (%s %u.%u.%u)", info.moduleFileName,
          info.moduleMajorVersion, info.moduleMinorVersion, info.moduleRevisionLevel, info.OSName,
          info.OSMajorVersion, info.OSMinorVersion, info.OSRevisionLevel);

  if (!QueryVersion(sessionInfo, NWSMGetSMSModuleVersionInfo, "NWSMGetSMSModuleVersionInfo", &info)) return;
  vrk_log(3500, "SMS module %s version %u.%u.%u", info.moduleFileName, info.moduleMajorVersion,
          info.moduleMinorVersion, info.moduleRevisionLevel);
  trace("%l4 OS version info: %s %u.%u.%u", info.OSName, info.OSMajorVersion, info.OSMinorVersion,
        info.OSRevisionLevel);
}
