// Opening a transfer over the FTP-like transport: connect from the local
// port range, secure login, the command sequence and the data command.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/strlib.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_com.h"
#include "xbsa/xbsa_trace.h"

namespace {

// Sends one ordinary command and reads its whole reply: 1 sent and
// answered (*pbNegative tells 4xx/5xx), 0 failed.
int command(int SControl, const char *cpLine, BOOL *pbNegative) {
  if (strncmp(cpLine, "PASS", 4) == 0) {  // for every user, "sms" too
    xbsalogtrace("xbsa_open: Send command: PASS ********");
  } else {
    xbsalogtrace("xbsa_open: Send command: %s", cpLine);
  }
  std::string line = std::string(cpLine) + "\r\n";
  if (stpc_send(SControl, line.c_str(), (int)line.size(), 0) < 1) {
    xbsalog("xbsa_open: send() function failed to remote host. Exiting!");
    return 0;
  }
  char szReply[XBSA_LINE_SIZE];
  if (stpc_reply(SControl, szReply, (int)sizeof szReply, pbNegative, "xbsa_open") <= 0) {
    SysErrorTxt(0, 0, "xbsa_open: no complete reply to %.4s.", cpLine);
    xbsalog("xbsa_open: Failed to recieve message from remote server, exiting.");
    return 0;
  }
  return 1;
}

}  // namespace

int xbsa_ftp_open(long bsaHandle, int iMode) {
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) return -1;
  _sSMS &sms = sGlobal.sObject.sSMS;

  std::vector<std::vector<char>> commandStore(XBSA_COMMANDS, std::vector<char>(XBSA_LINE_SIZE, '\0'));
  char *cpaCommands[XBSA_COMMANDS];
  for (int i = 0; i < XBSA_COMMANDS; i++) cpaCommands[i] = commandStore[i].data();
  xbsatrace("xbsa_open: Start");
  if (xbsa_prepare_commands(cpaCommands, iMode) != 0) {
    xbsalog("xbsa_open: %s", xbsa_last_message());
    sp->iOpStatus = -1;
    return -1;
  }

  xbsatrace("xbsa_open: Calling xbsa_connect()");
  int iStart = sp->iPortStart;
  int iEnd = sp->iPortEnd;
  int SControl;
  for (;;) {
    int iTry = iStart;
    SControl = xbsa_connect(&iTry, iEnd);
    if (SControl >= 0) {
      iStart = iTry;
      break;
    }
    if (iTry != 0 && iTry < iEnd) {
      iStart = iTry + 1;
      xbsalog("xbsa_open: Retry with iPortStart = [%d]", iStart);
      continue;
    }
    if (sGlobal.iComSession != 0) sms.iOpStatus = 3;
    xbsalog("xbsa_open: Exiting, xbsa_connect() failed");
    sp->iOpStatus = -1;
    return -1;
  }
  sp->SControl = SControl;
  sp->iPortStart = iStart;

  int SData = -1;
  sp->bDataStalled = FALSE;
  gspStpcSession = sp;
  xbsalogtrace("xbsa_open: Calling make_KORVA_authentication() function.");
  bool bOk = true;
  if (strcmp(sms.szUser, XBSA_SECURE_MARKER) == 0) {
    xbsatrace("xbsa_open: Calling make_KORVA_authentication() function on demand.");
    unsigned int uiUserLen = sizeof sms.szUser;
    unsigned int uiPassLen = sizeof sms.szPass;
    char szMsg[XBSA_MSG_SIZE] = "";
    if (make_KORVA_authentication(SControl, sms.szUser, &uiUserLen, sms.szPass, &uiPassLen, szMsg) == -1) {
      SysErrorTxt(0, 0, "Problem while retrieving data for KORVA SECURE AUTHENTICATION: %s", szMsg);
      xbsalog("xbsa_open: make_KORVA_authentication() failed.");
      bOk = false;
    } else if (xbsa_prepare_commands(cpaCommands, iMode) != 0) {
      bOk = false;
    }
  }
  if (bOk) {
    // The trace masks the password of the PASS command, for every user.
    for (int i = 0; i < 5; i++) xbsatrace("xbsa_open: command %d = %s", i, cpaCommands[i]);
    xbsatrace("xbsa_open: Calling stpc_recv()");
    char szGreeting[XBSA_LINE_SIZE];
    BOOL bNegative = FALSE;
    int n = stpc_reply(SControl, szGreeting, (int)sizeof szGreeting, &bNegative, "xbsa_open", true);
    if (n <= 0) {
      if (n == 0) SysErrorTxt(0, 0, "xbsa_open: the storage node closed the connection before its greeting.");
      xbsalog("xbsa_open: stpc_recv() failed.");
      bOk = false;
    } else if (szGreeting[0] == '\0') {
      SysErrorTxt(0, 0, "xbsa_open: the storage node sent an empty greeting.");
      xbsalog("xbsa_open: Reply String empty. Exiting.");
      bOk = false;
    } else if (bNegative) {
      bOk = false;
    }
  }
  for (int i = 0; bOk && i < XBSA_COMMANDS && cpaCommands[i][0] != '\0';) {
    const char *cpCmd = cpaCommands[i];
    std::string up(cpCmd);
    uppercase(&up[0]);
    i++;
    if (up.compare(0, 4, "RETR") == 0) {
      const char *cpBlank = strchr(cpCmd, ' ');
      SData = stpc_retr(cpBlank ? cpBlank + 1 : "", SControl);
      if (SData >= 0) break;
    } else if (up.compare(0, 4, "STOR") == 0) {
      SData = stpc_stor(strlen(cpCmd) > 5 ? cpCmd + 5 : "", SControl);
      if (SData >= 0) break;
    } else if (up.compare(0, 4, "LIST") == 0) {
      std::string arg = ".";
      const char *cpBlank = strchr(cpCmd, ' ');
      if (cpBlank) {
        std::string rest(cpBlank + 1);
        size_t e = rest.find(' ');
        if (e != std::string::npos) rest.resize(e);
        if (!rest.empty()) arg = rest;
      }
      SData = stpc_list(arg.c_str(), SControl);
      if (SData >= 0) break;
    } else if (up.compare(0, 4, "QUIT") == 0) {
      stpc_send(SControl, "QUIT\r\n", 6, 0);
      break;
    } else {
      BOOL bNegative = FALSE;
      if (!command(SControl, cpCmd, &bNegative)) break;
      // A refused directory must not receive the object: quit instead.
      if (bNegative && up.compare(0, 3, "CWD") == 0 && i < XBSA_COMMANDS) {
        strlcpy(cpaCommands[i], "QUIT", XBSA_LINE_SIZE);
      }
    }
  }
  gspStpcSession = NULL;

  if (SData < 0) {
    xbsatrace("SDATA == INVALID_SOCKET");
    xbsatrace("SDATA == ERR");
    sp->iOpStatus = -1;
    if (sGlobal.iComSession != 0) {
      // No data moved: the job failed, and the program is told so.
      sms.iOpStatus = 3;
      sGlobal.sCOM.iJobResult = sms.iOpStatus;
      sGlobal.sCOM.iSessionResult = sms.iOpStatus;
      if (iMode == 2) {
        xbsalog("xbsa_open: Calling com_intf(COM_CLOSE_READ ...) to terminate after error");
        if (com_intf(COM_CLOSE_READ, &sGlobal.sCOM) != 1) xbsalog("xbsa_open: com_intf(COM_CLOSE_READ...) failed");
      } else {
        xbsalog("xbsa_open: Calling com_intf(COM_CLOSE_WRITE ...) to terminate after error");
        if (com_intf(COM_CLOSE_WRITE, &sGlobal.sCOM) != 1) xbsalog("xbsa_open: com_intf(COM_CLOSE_WRITE...) failed");
      }
      com_intf(COM_CLOSE_SESSION, &sGlobal.sCOM);
    }
  }
  sp->SData = SData;
  xbsatrace("xbsa_open: return state fetched from SData");
  return SData >= 0 ? 0 : -1;
}
