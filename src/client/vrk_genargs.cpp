// The XBSA environment array handed to BSAInit: its slots in the order the
// DE record stream reads them, and the storage node's address entry.
#include "client/vrk_genargs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <uriparser/Uri.h>

#include "client/vrk_global.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

const char *or_empty(const char *cp) { return cp != nullptr ? cp : ""; }

// Formats one slot's entry into szLine; FALSE when it does not fit.
BOOL format_slot(int i, char *szLine) {
  const _sSMSLocal &sms = spGlobal->sSMS;
  int n = 0;
  switch (i) {
    case 0:
      return GenServiceHostStr(or_empty(sms.cpHost), sms.iPort, szLine);
    case 1:
      n = snprintf(szLine, VRK_GENARGS_LINE, "USER=%s", or_empty(sms.cpUser));
      break;
    case 2:
      n = snprintf(szLine, VRK_GENARGS_LINE, "PASS=%s", or_empty(sms.cpPassword));
      break;
    case 3:
      if (sms.cpRemoteDir != nullptr && strcmp(sms.cpRemoteDir, "SMS") == 0)
        n = snprintf(szLine, VRK_GENARGS_LINE, "%s:%s:%s:%d", sms.cpRemoteDir,
                     or_empty(sms.cpDevice), or_empty(sms.cpMode), sms.iTapeBlockSize);
      else
        n = snprintf(szLine, VRK_GENARGS_LINE, "%s", or_empty(sms.cpRemoteDir));
      break;
    case 4:
      n = snprintf(szLine, VRK_GENARGS_LINE, "%s", spGlobal->szDATAarg);
      break;
    case 5:
      n = snprintf(szLine, VRK_GENARGS_LINE, "BSA_LOCAL_PORTRANGE=%d-%d", sms.iLPortStart,
                   sms.iLPortEnd);
      break;
    case 6:
      n = snprintf(szLine, VRK_GENARGS_LINE, "KORVA_SERVER=%s", spGlobal->sVRKMsgTarget.szHostName);
      break;
    case 7:
      n = snprintf(szLine, VRK_GENARGS_LINE, "KORVA_JOB=%s", spGlobal->szJobName);
      break;
    case 8:
      n = snprintf(szLine, VRK_GENARGS_LINE, "KORVA_POOL=%s", spGlobal->szPool);
      break;
    case 9:
      n = snprintf(szLine, VRK_GENARGS_LINE, "KORVA_INTERPRETER=%s", or_empty(sms.cpInter));
      break;
    default:
      return FALSE;
  }
  if (n < 0 || n >= VRK_GENARGS_LINE) {
    szLine[0] = '\0';
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOL GenServiceHostStr(const char *cpHost, int iPort, char *cpBackupHostVar) {
  if (cpBackupHostVar == nullptr) return FALSE;
  cpBackupHostVar[0] = '\0';
  if (cpHost == nullptr) return FALSE;

  if (strchr(cpHost, '/') == nullptr) {
    int n = snprintf(cpBackupHostVar, VRK_GENARGS_LINE, "BSA_SERVICE_HOST=%s:%d", cpHost, iPort);
    if (n < 0 || n >= VRK_GENARGS_LINE) {
      cpBackupHostVar[0] = '\0';
      return FALSE;
    }
    trace("%s", cpBackupHostVar);
    return TRUE;
  }

  UriUriA uri;
  UriParserStateA state;
  state.uri = &uri;
  if (uriParseUriA(&state, cpHost) != URI_SUCCESS) {
    trace("GenServiceHostStr: uriParseUriA() failed");
    uriFreeUriMembersA(&uri);
    return FALSE;
  }

  // Without a host the port could not be placed, and the storage client would
  // take the text for a host name on its default port.
  if (uri.hostText.first == nullptr) {
    trace("GenServiceHostStr: no host in [%s]", cpHost);
    uriFreeUriMembersA(&uri);
    return FALSE;
  }

  // The configured port replaces any port of the URI.
  char szPort[16];
  snprintf(szPort, sizeof(szPort), "%d", iPort);
  uri.portText.first = szPort;
  uri.portText.afterLast = szPort + strlen(szPort);

  static const char kKey[] = "BSA_SERVICE_HOST=";
  const int iKeyLen = static_cast<int>(sizeof(kKey) - 1);
  // The URI text and its zero take what the key leaves of the entry.
  char szUri[VRK_SERVICE_HOST_ENTRY];
  int iWritten = 0;
  BOOL bResult = TRUE;
  if (uriToStringA(szUri, &uri, VRK_SERVICE_HOST_ENTRY - iKeyLen, &iWritten) != URI_SUCCESS) {
    trace("GenServiceHostStr: uriToStringA() failed");
    bResult = FALSE;
  } else {
    memcpy(cpBackupHostVar, kKey, static_cast<size_t>(iKeyLen));
    strlcpy(cpBackupHostVar + iKeyLen, szUri,
            static_cast<size_t>(VRK_SERVICE_HOST_ENTRY - iKeyLen));
    trace("%s", cpBackupHostVar);
  }
  // The port text is ours, not the parser's: take it back before the free.
  uri.portText.first = uri.portText.afterLast = nullptr;
  uriFreeUriMembersA(&uri);
  return bResult;
}

int vrk_genargs(char **cpArgs, int iRows) {
  if (cpArgs == nullptr) return -1;
  int iResult = 0;
  int i = 0;
  for (; i < iRows; ++i) {
    char szLine[VRK_GENARGS_LINE];
    szLine[0] = '\0';
    if (i > 9) {
      cpArgs[i] = nullptr;
      continue;
    }
    if (!format_slot(i, szLine)) {
      if (i == 0)
        trace("%l0 ERROR: Can't build the storage node entry from [%s] and port %d",
              or_empty(spGlobal->sSMS.cpHost), spGlobal->sSMS.iPort);
      else
        trace("%l0 ERROR: XBSA environment entry %d does not fit in %d bytes", i, VRK_GENARGS_LINE);
      iResult = -1;
      break;
    }
    cpArgs[i] = strdup(szLine);
    if (cpArgs[i] == nullptr) {
      trace("vrk_genargs(), failed to generate all variables, strdup() failed");
      iResult = -1;
      break;
    }
  }
  // The slots not filled end the array.
  for (int j = i; j < iRows; ++j) cpArgs[j] = nullptr;
  if (i <= 4) {
    trace("vrk_genargs(), failed to generate all variables. i < 5");
    return -1;
  }
  return iResult;
}
