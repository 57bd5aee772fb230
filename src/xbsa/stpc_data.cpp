// Data connection of the FTP-like transport: the listener announced with
// PORT, and the STOR, RETR and LIST commands that the storage node accepts.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "runtime/strlib.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_trace.h"

_sSession *gspStpcSession = NULL;

int stpc_port(int SControl) {
  xbsatrace("stpc_port: Start");
  xbsatrace("stpc_port: Calling socket()");
  int hListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (hListen < 0) {
    xbsatrace("stpc_port: %s",
              SysErrorTxt((unsigned long)GetSockErrCode(), 3, "Listener socket creation failed."));
    return -1;
  }
  xbsaDSopt(hListen);
  struct sockaddr_in saCtrl;
  socklen_t len = sizeof saCtrl;
  if (getsockname(SControl, (struct sockaddr *)&saCtrl, &len) != 0) {
    xbsatrace("stpc_port: %s",
              SysErrorTxt((unsigned long)GetSockErrCode(), 3, "getsockname() failed for CONTROL SOCKET."));
    close(hListen);
    return -1;
  }
  // The listener takes the ports between those of the control socket.
  const _sSession *sp = gspStpcSession ? gspStpcSession : &sSession[0];
  int iStart = sp->iPortStart ? sp->iPortStart + 1 : 0;
  int iEnd = sp->iPortEnd ? sp->iPortEnd + 1 : 0;
  xbsatrace("stpc_port: Binding LISTENER (DATA) socket to port from range [%d - %d]...", iStart, iEnd);
  char szAddr[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &saCtrl.sin_addr, szAddr, sizeof szAddr);
  if (BindSocket2Range(hListen, szAddr, &iStart, iEnd) == -1) {
    close(hListen);
    return -1;
  }
  xbsatrace("stpc_port: Calling getsockname() for listener");
  struct sockaddr_in saListen;
  len = sizeof saListen;
  if (getsockname(hListen, (struct sockaddr *)&saListen, &len) != 0) {
    xbsatrace("stpc_port: %s",
              SysErrorTxt((unsigned long)GetSockErrCode(), 3, "getsockname() failed for LISTENER SOCKET."));
    close(hListen);
    return -1;
  }
  xbsatrace("stpc_port: Calling listen()");
  if (listen(hListen, 1) != 0) {
    xbsatrace("stpc_port: %s", SysErrorTxt((unsigned long)GetSockErrCode(), 3, "listen() failed."));
    close(hListen);
    return -1;
  }
  char szLine[XBSA_LINE_SIZE];
  inet_ntop(AF_INET, &saListen.sin_addr, szAddr, sizeof szAddr);
  for (char *p = szAddr; *p; ++p) {
    if (*p == '.') *p = ',';
  }
  int iPort = ntohs(saListen.sin_port);
  snprintf(szLine, sizeof szLine, "PORT %s,%d,%d\r\n", szAddr, iPort / 256, iPort % 256);
  xbsatrace("stpc_port: Send message: %s", szLine);
  if (send(SControl, szLine, strlen(szLine), MSG_NOSIGNAL) != (ssize_t)strlen(szLine)) {
    xbsatrace("stpc_port: %s", SysErrorTxt((unsigned long)GetSockErrCode(), 3,
                                           "Fail to send port command: %s, send() failed.", szLine));
    close(hListen);
    return -1;
  }
  int n = stpc_recv(SControl, szLine, (int)sizeof szLine, 0);
  if (n <= 0) {
    if (n == 0) SysErrorTxt(0, 0, "Connection closed by the storage node.");
    xbsatrace("stpc_port: %s", SysErrorTxt((unsigned long)GetSockErrCode(), 3, "stpc_recv() failed."));
    close(hListen);
    return -1;
  }
  xbsalogtrace("LOGIN REPLY: %s", szLine);
  xbsatrace("stpc_port: Received message: %s", szLine);
  if (strncmp(szLine, "200", 3) != 0) {
    xbsatrace("stpc_port: %s", SysErrorTxt(0, 0, "NEGATIVE reply: %s", szLine));
    close(hListen);
    return -1;
  }
  xbsatrace("stpc_port: End");
  return hListen;
}

namespace {

struct DataCommand {
  const char *cpKeyword;
  const char *cpPrefix;  // "stpc_stor" ...
  bool bSocketTraces;
  bool bReplyTrace;
  bool bReadFailText;
  bool bParseInfo;
};

void trace_binding(const DataCommand &dc, const char *cpWhat, int hSocket) {
  if (!dc.bSocketTraces) return;
  xbsatrace("%s: %s SOCKET info :", dc.cpPrefix, cpWhat);
  xbsatrace("%s: -----------------------------------", dc.cpPrefix);
  ShowSocketBinding(hSocket);
}

// Accepts the storage node's data connection under the wait time. Only the
// address the control connection goes to may connect: whoever else reaches
// the announced port first would receive the backup or feed the restore.
// Such a connection is closed and the wait goes on.
int accept_limited(int hListen, int SControl, const char *cpPrefix) {
  struct sockaddr_in saNode;
  socklen_t len = sizeof saNode;
  if (getpeername(SControl, (struct sockaddr *)&saNode, &len) != 0) return -1;
  if (saNode.sin_family != AF_INET) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  char szNode[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &saNode.sin_addr, szNode, sizeof szNode);
  long long llDeadline = stpc_step_deadline();
  const int kForeignTraced = 8;
  int iForeign = 0;
  for (;;) {
    int w = stpc_wait_until(hListen, POLLIN, llDeadline);
    if (w == 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    if (w < 0) return -1;
    struct sockaddr_in saPeer;
    len = sizeof saPeer;
    int hData = accept4(hListen, (struct sockaddr *)&saPeer, &len, SOCK_CLOEXEC);
    if (hData < 0) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
      return -1;
    }
    if (saPeer.sin_family == AF_INET && saPeer.sin_addr.s_addr == saNode.sin_addr.s_addr) return hData;
    char szPeer[INET_ADDRSTRLEN] = "?";
    if (saPeer.sin_family == AF_INET) inet_ntop(AF_INET, &saPeer.sin_addr, szPeer, sizeof szPeer);
    // A stream of such connections must not flood the job log.
    if (++iForeign <= kForeignTraced) {
      xbsalog("%s: data connection from %s:%d closed: the storage node is %s", cpPrefix, szPeer,
              saPeer.sin_family == AF_INET ? (int)ntohs(saPeer.sin_port) : 0, szNode);
    } else if (iForeign == kForeignTraced + 1) {
      xbsalog("%s: further data connections from other addresses are closed without a trace line", cpPrefix);
    }
    close(hData);
  }
}

int data_command(const DataCommand &dc, const char *cpArgument, int SControl) {
  int hListen = stpc_port(SControl);
  if (hListen == -1) {
    xbsatrace("%s: %s", dc.cpPrefix, SysErrorTxt(0, 0, "Port negotiation failed."));
    return -1;
  }
  trace_binding(dc, "LISTENER", hListen);
  char szLine[XBSA_LINE_SIZE];
  int iLen = snprintf(szLine, sizeof szLine, "%s %s\r\n", dc.cpKeyword, cpArgument);
  if (iLen < 0 || iLen >= (int)sizeof szLine ||
      send(SControl, szLine, (size_t)iLen, MSG_NOSIGNAL) != (ssize_t)iLen) {
    xbsatrace("%s: %s", dc.cpPrefix, SysErrorTxt((unsigned long)GetSockErrCode(), 3, "send() failed."));
    close(hListen);
    return -1;
  }
  int n = stpc_recv(SControl, szLine, (int)sizeof szLine, 0);
  if (n <= 0) {
    if (n == 0) SysErrorTxt(0, 0, "%s: connection closed by the storage node.", dc.cpKeyword);
    if (dc.bReadFailText) {
      xbsatrace("%s: %s", dc.cpPrefix, SysErrorTxt((unsigned long)GetSockErrCode(), 3, "stpc_recv() failed."));
    }
    close(hListen);
    return -1;
  }
  if (dc.bReplyTrace) xbsalogtrace("LOGIN REPLY: %s", szLine);
  if (strncmp(szLine, "150", 3) != 0) {
    xbsatrace("%s: %s", dc.cpPrefix, SysErrorTxt(0, 0, "%s failed. NEGATIVE reply: %s", dc.cpKeyword, szLine));
    close(hListen);
    return -1;
  }
  if (dc.bParseInfo) sms_parseinfo(szLine);
  int hData = accept_limited(hListen, SControl, dc.cpPrefix);
  if (hData < 0) {
    int iErr = GetSockErrCode();
    if (iErr == ETIMEDOUT) {
      xbsatrace("%s: %s", dc.cpPrefix,
                SysErrorTxt((unsigned long)iErr, 3, "accept() failed: no data connection within %lu seconds.",
                            xbsa_wait_seconds()));
    } else {
      xbsatrace("%s: %s", dc.cpPrefix, SysErrorTxt((unsigned long)iErr, 3, "accept() failed."));
    }
    close(hListen);
    return -1;
  }
  if (close(hListen) != 0) xbsatrace("%s: Listening socket close failed.", dc.cpPrefix);
  // A storage node that stops moving data fails the transfer step after
  // one wait: BSASendData and BSAGetData wait under one deadline per step.
  trace_binding(dc, "DATA", hData);
  return hData;
}

}  // namespace

int stpc_stor(const char *cpRemoteTarget, int SControl) {
  static const DataCommand dc = {"STOR", "stpc_stor", true, true, true, true};
  return data_command(dc, cpRemoteTarget, SControl);
}

int stpc_retr(const char *cpRemoteSource, int SControl) {
  static const DataCommand dc = {"RETR", "stpc_retr", true, true, false, false};
  return data_command(dc, cpRemoteSource, SControl);
}

int stpc_list(const char *cpRemoteSource, int SControl) {
  static const DataCommand dc = {"LIST", "stpc_list", false, false, true, false};
  return data_command(dc, cpRemoteSource, SControl);
}
