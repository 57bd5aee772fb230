// Transport dispatch of the storage client: checks the texts that go on the
// wire, builds the command list and opens the session's transport.
#include <stdio.h>
#include <string.h>

#include "xbsa/stpc.h"
#include "xbsa/xbsa_http.h"
#include "xbsa/xbsa_trace.h"

namespace {

bool has_line_break(const char *cp) { return strpbrk(cp, "\r\n") != NULL; }

const char *owner_word(int iComSession) {
  switch (iComSession) {
    case 1: return "SIB";
    case 2: return "DB2";
    case 3: return "BSR";
  }
  return "unknown";
}

}  // namespace

int xbsa_prepare_commands(char **cpaCommands, int iMode) {
  const _sSMS &sms = sGlobal.sObject.sSMS;
  const char *cpTexts[] = {sms.szUser, sms.szPass, sms.szPath, sms.szName, sms.szTape};
  for (const char *cp : cpTexts) {
    if (has_line_break(cp)) {
      SysErrorTxt(0, 0, "xbsa_open: a user, password, path or object name holds a line break.");
      return -1;
    }
  }
  int n[6];
  n[0] = snprintf(cpaCommands[0], XBSA_LINE_SIZE, "USER %s", sms.szUser);
  n[1] = snprintf(cpaCommands[1], XBSA_LINE_SIZE, "PASS %s", sms.szPass);
  n[2] = snprintf(cpaCommands[2], XBSA_LINE_SIZE, "TYPE I");
  n[3] = snprintf(cpaCommands[3], XBSA_LINE_SIZE, "CWD %s", sms.szPath);
  if (iMode == 1) {
    if (sGlobal.iComSession == 0) {
      n[4] = snprintf(cpaCommands[4], XBSA_LINE_SIZE, "STOR %s", sms.szName);
    } else {
      int iKiB = sms.iTCPBufsiz / 1024;
      if (iKiB <= 0) iKiB = 64;
      n[4] = snprintf(cpaCommands[4], XBSA_LINE_SIZE, "STOR %s:%s:%s:%u:%s:%u", sms.szName,
                      owner_word(sGlobal.iComSession), "none", (unsigned)sms.ulTapeID, sms.szTape,
                      (unsigned)iKiB);
    }
  } else if (sGlobal.iComSession == 0) {
    n[4] = snprintf(cpaCommands[4], XBSA_LINE_SIZE, "RETR %s", sms.szName);
  } else {
    n[4] = snprintf(cpaCommands[4], XBSA_LINE_SIZE, "RETR %s:%u:%u:%u:%u:%s", sms.szName, 0u, 0u,
                    (unsigned)sms.ulTapeID, (unsigned)sms.ulSegmentNum, "none");
  }
  n[5] = snprintf(cpaCommands[5], XBSA_LINE_SIZE, "QUIT");
  for (int i = 0; i < 6; i++) {
    // Room is also needed for the CR LF that ends the line on the wire.
    if (n[i] < 0 || n[i] > XBSA_LINE_SIZE - 3) {
      SysErrorTxt(0, 0, "xbsa_open: command %d is longer than %d characters.", i, XBSA_LINE_SIZE - 3);
      return -1;
    }
  }
  return 0;
}

int xbsa_open(long bsaHandle, int iMode) {
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) {
    SysErrorTxt(0, 0, "xbsa_open: invalid handle %ld.", bsaHandle);
    return -1;
  }
  switch (sp->eProtocol) {
    case eFTP:
      return xbsa_ftp_open(bsaHandle, iMode);
    case eHTTP:
    case eHTTPS:
      return xbsa_http_open(bsaHandle, iMode);
  }
  return -1;
}
