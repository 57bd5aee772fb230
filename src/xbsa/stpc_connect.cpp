// Control connection of the FTP-like transport: resolving the storage node,
// binding into the local port range, socket options and the connect.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "runtime/strlib.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_trace.h"

int xbsaCSopt(int hCSocket) {
  int iValue = sGlobal.ulTimeOut ? (int)(sGlobal.ulTimeOut * 1000) : 1800000;
  if (setsockopt(hCSocket, SOL_SOCKET, SO_KEEPALIVE, &iValue, sizeof iValue) != 0) {
    xbsalog("xbsaCSopt: %s", SysErrorTxt((unsigned long)GetSockErrCode(), 3,
                                         "setsockopt() failed for flag SO_KEEPALIVE. Value = %d", iValue));
    return -1;
  }
  return 0;
}

int xbsaDSopt(int hDSocket) {
  int iOn = 1;
  if (setsockopt(hDSocket, SOL_SOCKET, SO_REUSEADDR, &iOn, sizeof iOn) != 0) {
    xbsalog("xbsaDSopt: %s",
            SysErrorTxt((unsigned long)GetSockErrCode(), 3, "setsockopt() failed for flag SO_REUSEADDR."));
    return -1;
  }
  return 0;
}

void ShowSocketBinding(int hSocket) {
  struct sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (getsockname(hSocket, (struct sockaddr *)&sa, &len) != 0) return;
  char szAddr[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &sa.sin_addr, szAddr, sizeof szAddr);
  xbsalogtrace("ShowSocketBinding: SOCKET ADDRESS: [%s]", szAddr);
  xbsalogtrace("ShowSocketBinding: SOCKET PORT: [%d]", (int)ntohs(sa.sin_port));
}

int BindSocket2Range(int hSocket, const char *cpIPAddress, int *piPortStart, int iPortEnd) {
  int iFirst = *piPortStart;
  int iPort = iFirst;
  // A busy port that the bind moves past is no failure: when the bind then
  // succeeds, its text must not stay as the reason of a later failure.
  const bool bHadLastMessage = xbsa_last_message()[0] != '\0';
  for (;;) {
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = inet_addr(cpIPAddress);
    sa.sin_port = htons((uint16_t)iPort);
    xbsalogtrace("BindSocket2Range: Calling bind(), PORT = [%d] ...", iPort);
    int iRc = bind(hSocket, (struct sockaddr *)&sa, sizeof sa);
    xbsalogtrace("BindSocket2Range: After bind() return code = [%d]", iRc);
    if (iRc == 0) {
      if (iPort != 0) {
        *piPortStart = iPort;
        xbsalogtrace("BindSocket2Range: New PortStart = [%d]", iPort);
      }
      if (!bHadLastMessage) xbsa_set_last_message("");
      return 0;
    }
    int iErr = GetSockErrCode();
    xbsalogtrace("BindSocket2Range: %s", SysErrorTxt((unsigned long)iErr, 3, "bind() failed()"));
    if (iPort == 0) return -1;
    if (iErr != EADDRINUSE && iErr != EACCES) {
      xbsalog("BindSocket2Range: %s",
              SysErrorTxt((unsigned long)iErr, 3, "bind() failed with code: [%d].", iErr));
      return -1;
    }
    iPort += 2;
    if (iPort > iPortEnd || iPort > 65535) {
      char *cpText = SysErrorTxt(0, 0, "All ports from range [%d - %d] are used.", iFirst, iPortEnd);
      xbsalog("BindSocket2Range: %s", cpText);
      xbsa_set_last_message(cpText);
      return -1;
    }
  }
}

namespace {

// Connects under the wait time; 0, or -1 with errno set.
int connect_limited(int hSocket, const struct sockaddr_in *sa) {
  int iFlags = fcntl(hSocket, F_GETFL, 0);
  fcntl(hSocket, F_SETFL, iFlags | O_NONBLOCK);
  int iRc = connect(hSocket, (const struct sockaddr *)sa, sizeof *sa);
  if (iRc != 0 && (errno == EINPROGRESS || errno == EINTR)) {
    if (errno == EINTR) xbsalogtrace("xbsa_connect: connect() - return EINTR waiting...");
    int r = stpc_wait_until(hSocket, POLLOUT, stpc_step_deadline());
    if (r == 0) {
      errno = ETIMEDOUT;
      iRc = -1;
    } else if (r < 0) {
      iRc = -1;
    } else {
      int iErr = 0;
      socklen_t len = sizeof iErr;
      getsockopt(hSocket, SOL_SOCKET, SO_ERROR, &iErr, &len);
      if (iErr != 0) {
        errno = iErr;
        iRc = -1;
      } else {
        iRc = 0;
      }
    }
  }
  int iSave = errno;
  fcntl(hSocket, F_SETFL, iFlags);
  errno = iSave;
  return iRc;
}

}  // namespace

int xbsa_connect(int *piPortStart, int iPortEnd) {
  _sSMS &sms = sGlobal.sObject.sSMS;
  xbsatrace("xbsa_connect: Start");
  xbsalogtrace("xbsa_connect: Host name: %s", sms.szHostName);
  xbsatrace("xbsa_connect: gethostbyname() call");
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  struct hostent *hp = gethostbyname(sms.szHostName);
  if (hp && hp->h_addrtype == AF_INET && hp->h_addr_list[0]) {
    memcpy(&sa.sin_addr, hp->h_addr_list[0], sizeof sa.sin_addr);
  } else {
    xbsatrace("xbsa_connect: gethostbyname() cannot find host: Error %ld.", (long)h_errno);
    in_addr_t a = inet_addr(sms.szHostName);
    if (a == INADDR_NONE) {
      xbsalog("xbsa_connect: %s",
              SysErrorTxt((unsigned long)GetSockErrCode(), 3,
                          "gethostbyname() call failed or invalid IP for host: %s", sms.szHostName));
      return -1;
    }
    sa.sin_addr.s_addr = a;
  }
  sa.sin_port = htons((uint16_t)sms.iPort);

  int hSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (hSocket < 0) {
    xbsalog("xbsa_connect: %s",
            SysErrorTxt((unsigned long)GetSockErrCode(), 3, "Control socket creation failed."));
    return -1;
  }
  xbsalogtrace("xbsa_connect: Binding CONTROL socket to port from range [%d - %d]...", *piPortStart, iPortEnd);
  xbsaCSopt(hSocket);
  if (BindSocket2Range(hSocket, "0.0.0.0", piPortStart, iPortEnd) == -1) {
    close(hSocket);
    return -1;
  }
  xbsatrace("xbsa_connect: CONTROL SOCKET info before connect:");
  xbsatrace("xbsa_connect: -----------------------------------");
  ShowSocketBinding(hSocket);
  xbsatrace("xbsa_connect: CONNECTING, calling connect() ...");
  int iRc = connect_limited(hSocket, &sa);
  xbsatrace("xbsa_connect: CONTROL SOCKET info after connect:");
  xbsatrace("xbsa_connect: ----------------------------------");
  if (iRc != 0) {
    int iErr = GetSockErrCode();
    xbsalog("xbsa_connect: Last Error %d", iErr);
    xbsalog("xbsa_connect: %s", SysErrorTxt((unsigned long)iErr, 3, "connect() failed."));
    ShowSocketBinding(hSocket);
    close(hSocket);
    return -1;
  }
  ShowSocketBinding(hSocket);
  xbsalogtrace("xbsa_connect: connect() - connected !");
  xbsatrace("xbsa_connect: End");
  return hSocket;
}
