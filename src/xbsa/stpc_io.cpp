// Control-connection I/O of the FTP-like transport: reply lines under a time
// limit with signals blocked, whole replies, and sends without SIGPIPE.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "runtime/mono_clock.h"
#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_trace.h"

unsigned long xbsa_wait_seconds() { return sGlobal.ulTimeOut ? sGlobal.ulTimeOut : XBSA_DEFAULT_WAIT; }

namespace {

// One byte: 1, 0 (end of input), -1 (error; errno set, ETIMEDOUT on time-out).
int recv_byte(int fd, char *pc, int iRecvOpt, long long llDeadline) {
  int iRetry = 0;
  for (;;) {
    int w = stpc_wait_until(fd, POLLIN, llDeadline);
    if (w == 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    if (w < 0) return -1;
    ssize_t n = recv(fd, pc, 1, iRecvOpt);
    if (n >= 0) return (int)n;
    int iErr = errno;
    xbsatrace("recv() failed with error %ld", (long)iErr);
    if ((iErr == EAGAIN || iErr == EINTR) && iRetry < 5) {
      iRetry++;
      xbsatrace("recv() failed with error EAGAIN/EINTR (%d) retry: %d / 5", iErr, iRetry);
      usleep((useconds_t)iRetry);
      continue;
    }
    errno = iErr;
    return -1;
  }
}

}  // namespace

namespace {

// What one reply of the storage node may still take: its deadline (the wait
// from the reply's first byte; before that byte, from the start of the
// read) and the bytes and lines it has used.
struct ReplyBudget {
  long long llDeadline;
  bool bStarted;
  size_t uiBytes;
  size_t uiLines;
};

ReplyBudget new_budget() {
  ReplyBudget b;
  b.llDeadline = mono_now_ms() + (long long)xbsa_wait_seconds() * 1000;
  b.bStarted = false;
  b.uiBytes = 0;
  b.uiLines = 0;
  return b;
}

// One byte of a reply under its budget: as recv_byte, and -1 with errno
// EMSGSIZE when the reply grows beyond its bounds.
int reply_byte(int fd, char *pc, int iRecvOpt, ReplyBudget *pb) {
  if (pb->uiBytes >= XBSA_REPLY_MAX_BYTES) {
    errno = EMSGSIZE;
    return -1;
  }
  int r = recv_byte(fd, pc, iRecvOpt, pb->llDeadline);
  if (r == 1) {
    if (!pb->bStarted) {
      pb->bStarted = true;
      pb->llDeadline = mono_now_ms() + (long long)xbsa_wait_seconds() * 1000;
    }
    pb->uiBytes++;
  }
  return r;
}

int recv_line(int SControl, char *szMessage, int iMsgLen, int iRecvOpt, ReplyBudget *pb) {
  sigset_t sFull, sOld;
  sigfillset(&sFull);
  sigprocmask(SIG_SETMASK, &sFull, &sOld);
  xbsatrace("stpc_recv: sigprocmask() done, all signals masked.");
  xbsatrace("stpc_recv: Receiving message ...");
  xbsadetailtrace("stpc_recv: Calling recv(SOCKET=%u, Buffer=%p, Length=%u, Flags=%u)", (unsigned)SControl,
                  (void *)szMessage, (unsigned)iMsgLen, (unsigned)iRecvOpt);
  int iStored = 0;
  int iResult = 0;
  bool bLF = false;
  if (iMsgLen < 2) {
    errno = EINVAL;
    iResult = -1;
  } else if (pb->uiLines >= XBSA_REPLY_MAX_LINES) {
    errno = EMSGSIZE;
    iResult = -1;
  } else {
    while (iStored < iMsgLen - 1) {
      char c;
      iResult = reply_byte(SControl, &c, iRecvOpt, pb);
      if (iResult <= 0) break;
      szMessage[iStored++] = (c == '\r') ? '\0' : c;
      if (c == '\n') {
        bLF = true;
        break;
      }
    }
    szMessage[iStored] = '\0';
  }
  // The rest of an over-long line belongs to it and is not a reply of its own.
  if (iResult > 0 && !bLF) {
    xbsadetailtrace("stpc_recv: recv() string len reached %d", iMsgLen);
    char c;
    int r;
    while ((r = reply_byte(SControl, &c, iRecvOpt, pb)) > 0 && c != '\n') {
    }
    if (r < 0) iResult = -1;
  }
  if (iStored > 0) pb->uiLines++;
  if (iStored > 0) {
    xbsadetailtrace("stpc_recv: recv() returned %u bytes", (unsigned)iStored);
  } else {
    xbsadetailtrace("stpc_recv: recv() returned: %u", (unsigned)iResult);
  }
  int iRet;
  if (iResult < 0) {
    int iErr = errno;
    if (iErr == ETIMEDOUT && pb->bStarted) {
      xbsatrace("stpc_recv: %s", SysErrorTxt((unsigned long)iErr, 3,
                                             "No complete reply from the storage node within %lu seconds.",
                                             xbsa_wait_seconds()));
    } else if (iErr == ETIMEDOUT) {
      xbsatrace("stpc_recv: %s",
                SysErrorTxt((unsigned long)iErr, 3, "No reply from the storage node within %lu seconds.",
                            xbsa_wait_seconds()));
    } else if (iErr == EMSGSIZE) {
      xbsatrace("stpc_recv: %s", SysErrorTxt(0, 0, "The storage node's reply exceeds %d bytes or %d lines.",
                                             XBSA_REPLY_MAX_BYTES, XBSA_REPLY_MAX_LINES));
    } else {
      xbsatrace("stpc_recv: %s", SysErrorTxt((unsigned long)iErr, 3, "recv() failed."));
    }
    iRet = -1;
  } else if (iResult == 0 && iStored == 0) {
    xbsadetailtrace("stpc_recv: recv() returned: %u end of input", 0u);
    iRet = 0;
  } else {
    iRet = iStored > 0 ? iStored : 1;
  }
  sigprocmask(SIG_SETMASK, &sOld, NULL);
  xbsatrace("stpc_recv: sigprocmask(), back to old handlers.");
  return iRet;
}

}  // namespace

int stpc_recv(int SControl, char *szMessage, int iMsgLen, int iRecvOpt) {
  ReplyBudget b = new_budget();
  return recv_line(SControl, szMessage, iMsgLen, iRecvOpt, &b);
}

int stpc_send(int SControl, const char *szMessage, int iMsgLen, int iSendOpt) {
  int iLeft = iMsgLen;
  const char *cp = szMessage;
  for (;;) {
    // The password of a PASS line is never traced, not even the rest of it
    // after a short send.
    bool bPass = strncmp(szMessage, "PASS ", 5) == 0;
    static const char kPassShown[] = "PASS " VRK_PASSWORD_MASK "\r\n";
    xbsadetailtrace("stpc_send: Calling send(SOCKET=%u, Buffer=%.*s, Len=%u, Flags=%u)", (unsigned)SControl,
                    bPass ? (int)sizeof kPassShown - 1 : iLeft, bPass ? kPassShown : cp, (unsigned)iLeft,
                    (unsigned)iSendOpt);
    ssize_t n = send(SControl, cp, (size_t)iLeft, iSendOpt | MSG_NOSIGNAL);
    xbsadetailtrace("stpc_send: send() return: %i", (int)n);
    if (n < 0) {
      xbsatrace("stpc_send: %s", SysErrorTxt((unsigned long)GetSockErrCode(), 3, "send() failed."));
      return -1;
    }
    if (n >= iLeft) return (int)n;
    xbsadetailtrace("stpc_send: done send()...");
    cp += n;
    iLeft -= (int)n;
  }
}

int stpc_reply(int SControl, char *szMessage, int iMsgLen, BOOL *pbNegative, const char *cpCaller, bool bGreeting) {
  char szLine[XBSA_LINE_SIZE];
  char szPending[4] = "";
  bool bFirst = true;
  *pbNegative = FALSE;
  // The whole reply, however many lines, shares one wait and one size bound.
  ReplyBudget b = new_budget();
  for (;;) {
    int n = recv_line(SControl, szLine, (int)sizeof szLine, 0, &b);
    if (n <= 0) return n;
    xbsalogtrace("LOGIN REPLY: %s", szLine);
    xbsatrace("%s: Received message: %s", cpCaller, szLine);
    if (bFirst) {
      strlcpy(szMessage, szLine, (size_t)iMsgLen);
      if (szLine[0] == '4' || szLine[0] == '5') {
        *pbNegative = TRUE;
        // A refused greeting is recorded as the node sent it.
        if (bGreeting)
          xbsalogtrace("%s: %s", cpCaller, SysErrorTxt(0, 0, "%s ", szLine));
        else
          xbsalogtrace("%s: %s", cpCaller, SysErrorTxt(0, 0, "TRANSIENT or PERMANENT NEGATIVE reply: %s ", szLine));
      }
      bFirst = false;
      // Only the reply's first line opens a multi-line reply.
      if (strlen(szLine) >= 4 && szLine[3] == '-') {
        memcpy(szPending, szLine, 3);
        szPending[3] = '\0';
        continue;
      }
      return n;
    }
    if (strncmp(szLine, szPending, 3) == 0 && szLine[3] != '-') return n;
  }
}
