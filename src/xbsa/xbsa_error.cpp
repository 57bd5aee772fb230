// Error texts of the storage client: return-code texts, the error-text
// builder with its socket-error table, and the one last-error text.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "runtime/strlib.h"
#include "xbsa/xbsa_escape.h"
#include "xbsa/xbsa_session.h"

namespace {

struct ReturnCodeText {
  int iCode;
  const char *cpText;
};

const ReturnCodeText kReturnCodes[] = {
    {0, "The function succeeded."},
    {3, "System detected error, operation aborted."},
    {4, "There was an authentication failure."},
    {5, "The sequence of API calls is incorrect."},
    {6, "The handle used to associate this call with a previous BSAInit() call is invalid."},
    {11, "The value specified for vote is invalid."},
    {17, "No object matched the specified predicate."},
    {18, "No more data is available."},
    {26, "There is no copy of the requested object."},
    {32, "The transaction was aborted."},
    {52, "The BSA_DataBlock32 parameter contained an inconsistent value."},
    {75, "The Backup Service implementation does not support the specified version of the interface"},
    {77, "Access to the requested object is not possible."},
    {78, "The supplied buffer is too small to contain the data, as specified by the accompanying size "
         "parameter."},
    {79, "The copyld field contains an unrecognized value."},
    {80, "An entry in environment structure is invalid or missing."},
    {81, "The BSA_ObjectDescriptor was invalid."},
    {83, "The BSA_QueryDescriptor was invalid."},
    {85, "A NULL pointer was encountered in one of the arguments."},
};

struct SockErrText {
  unsigned long ulCode;
  const char *cpText;
};

const char kNoRoute[] =
    "No route to host. No valid routing table entry matches the destination address, host is down "
    "or blocked by its firewall.";

// Socket errors by number, looked up until the row of number 0.
const SockErrText kSockErrors[] = {
    {10004, "Interrupted function call."},
    {10009, "Bad file descriptor."},
    {10013, "Permission denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Resource temporarily unavailable."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on nonsocket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Network dropped connection on reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send after socket shutdown."},
    {10059, "Too many references."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Cannot translate name."},
    {10063, "Name too long."},
    {10064, "Host is down."},
    {113, kNoRoute},
    {10065, kNoRoute},
    {10066, "Directory not empty."},
    {10067, ""},
    {10068, ""},
    {10069, ""},
    {10070, ""},
    {10071, ""},
    {10101, ""},
    {10091, "Network subsystem is unavailable."},
    {10092, "Winsock.dll version out of range."},
    {10093, "Successful WSAStartup not yet performed."},
    {11001, "Host not found"},
    {11002, "Nonauthoritative host not found."},
    {11003, "This is a nonrecoverable error."},
    {11004, "Valid name, no data record of requested type."},
    {10001, "Unknown error."},
    {10003, "Operation cancelled."},
    {10006, "Invalid handle."},
    {10032, "Object is remote."},
    {0, NULL},
};

char gszSysErrorTxt[XBSA_MSG_SIZE];

const char *sock_err_lookup(unsigned long ulCode) {
  for (const SockErrText *p = kSockErrors; p->ulCode != 0; ++p) {
    if (p->ulCode == ulCode) return p->cpText;
  }
  return NULL;
}

void append(char *cpBuf, size_t uiSize, const char *cpText) { strlcat(cpBuf, cpText, uiSize); }

}  // namespace

extern "C" const char *xbsa_typeerr(int iFlag) {
  for (const auto &row : kReturnCodes) {
    if (row.iCode == iFlag) return row.cpText;
  }
  return "BSA: unknown error code";
}

char *xbsa_last_message() { return sSession[0].szLastMessage; }

void xbsa_set_last_message(const char *cpText) {
  // The text often quotes the storage node, and the caller prints it.
  strlcpy(sSession[0].szLastMessage, xbsa_escape_text(cpText).c_str(), sizeof sSession[0].szLastMessage);
}

int GetSockErrCode() { return errno; }

char *SysErrorTxt(unsigned long dwSysErrCode, int iErrFlag, const char *cpAddDesc, ...) {
  memset(gszSysErrorTxt, 0, sizeof gszSysErrorTxt);
  if (cpAddDesc) {
    va_list vl;
    va_start(vl, cpAddDesc);
    vsnprintf(gszSysErrorTxt, sizeof gszSysErrorTxt, cpAddDesc, vl);
    va_end(vl);
    append(gszSysErrorTxt, sizeof gszSysErrorTxt, " ");
  }
  char szNum[32];
  snprintf(szNum, sizeof szNum, "(%ld) ", (long)dwSysErrCode);
  append(gszSysErrorTxt, sizeof gszSysErrorTxt, szNum);
  if (dwSysErrCode != 0 && iErrFlag != 0) {
    int iFlag = iErrFlag;
    if (iFlag == 3) iFlag = dwSysErrCode == 113 ? 1 : 2;
    if (iFlag == 2) {
      const char *cpText = strerror((int)dwSysErrCode);
      if (cpText && *cpText) {
        append(gszSysErrorTxt, sizeof gszSysErrorTxt, cpText);
      } else {
        iFlag = 1;
      }
    }
    if (iFlag == 1) {
      const char *cpText = sock_err_lookup(dwSysErrCode);
      if (cpText) append(gszSysErrorTxt, sizeof gszSysErrorTxt, cpText);
    }
  }
  if (sSession[0].szLastMessage[0] == '\0') xbsa_set_last_message(gszSysErrorTxt);
  return gszSysErrorTxt;
}

extern "C" int BSAGetLastError(BSA_UInt32 *sizePtr, char *errorCodePtr) {
  if (!errorCodePtr || !sizePtr) return BSA_RC_NULL_ARGUMENT;
  size_t len = strlen(sSession[0].szLastMessage);
  if (len >= *sizePtr) return BSA_RC_BUFFER_TOO_SMALL;
  memcpy(errorCodePtr, sSession[0].szLastMessage, len + 1);
  *sizePtr = (BSA_UInt32)len;
  memset(sSession[0].szLastMessage, 0, sizeof sSession[0].szLastMessage);
  return BSA_RC_SUCCESS;
}
