// Moving an object's bytes: BSASendData, BSAGetData with the end-of-object
// counter, and BSAEndData with the storage node's final reply.
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "xbsa/stpc.h"
#include "xbsa/xbsa_com.h"
#include "xbsa/xbsa_http.h"
#include "xbsa/xbsa_trace.h"

// Data connection closed by the storage node, counted over the library.
int giNoMoreData = 0;

namespace {

void db_transfer_failed(double dBytes) {
  if (sGlobal.iComSession == 0) return;
  _sSMS &sms = sGlobal.sObject.sSMS;
  if (dBytes > 0) {
    if (sms.iOpStatus <= 2) sms.iOpStatus = 2;
  } else {
    sms.iOpStatus = 3;
  }
}

}  // namespace

namespace {

// Blocks for the FTP-like data connection smaller than this are gathered.
constexpr size_t kFtpStageSize = 65536;
std::vector<char> gFtpStage[XBSA_MAX_SESSIONS];
// Set from a signal handler by xbsa_session_shutdown: what waits is not sent.
volatile sig_atomic_t gFtpInterrupted[XBSA_MAX_SESSIONS];

// Sends all n bytes on the data connection, retrying a failed send five
// times a second apart; 0, or -1 with *pulSent the bytes that went. Every
// wait of the step ends at llDeadline, however many bytes go in between.
int ftp_send(_sSession *sp, const char *cpData, unsigned long ulLeft, unsigned long *pulSent,
             long long llDeadline) {
  unsigned long ulSent = 0;
  ssize_t n = 1;
  while (n > 0 && ulLeft > 0) {
    xbsadetailtrace("BSASendData: send( SData %d, cpData %p + ulSent %lu, uiWriteBufSize %u)", sp->SData,
                    (const void *)cpData, ulSent, (unsigned)ulLeft);
    n = stpc_data_send(sp->SData, cpData + ulSent, ulLeft, llDeadline);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The step's deadline: the node did not take the block within the
      // wait, and trying again would only wait again.
      sp->bDataStalled = TRUE;
      xbsalog("BSASendData: %s",
              SysErrorTxt(0, 0, "Data sending failed: the storage node took no data within %lu seconds.",
                          xbsa_wait_seconds()));
      break;
    }
    if (n < 0) {
      int iErr = errno;
      xbsalog("BSASendData: ERROR: (%d) %s", iErr, SysErrorTxt((unsigned long)iErr, 3, "Data sending failed."));
      for (int iTry = 1; iTry <= 5 && n < 0; iTry++) {
        xbsalog("BSASendData: Data sending failed. Resending [%d] times", iTry);
        sleep(1);
        n = stpc_data_send(sp->SData, cpData + ulSent, ulLeft, llDeadline);
      }
      if (n < 0) {
        xbsalog("BSASendData: %s", SysErrorTxt((unsigned long)errno, 3, "Data sending failed."));
        break;
      }
    }
    ulSent += (unsigned long)n;
    ulLeft -= (unsigned long)n;
  }
  xbsadetailtrace("BSASendData: send() return: %d, written: %d, total: %.0f", (int)n, (int)ulSent,
                  sp->dBytes + (double)ulSent);
  *pulSent = ulSent;
  return n < 0 ? -1 : 0;
}

// Sends what the slot gathered; 0 or -1. The gathered bytes are gone either way.
int ftp_flush(_sSession *sp, long long llDeadline) {
  std::vector<char> &stage = gFtpStage[sp - sSession];
  if (stage.empty()) return 0;
  unsigned long ulSent = 0;
  int iRc = sp->SData >= 0 && !gFtpInterrupted[sp - sSession] ? ftp_send(sp, stage.data(), stage.size(), &ulSent, llDeadline)
                                                                         : -1;
  stage.clear();
  return iRc;
}

}  // namespace

void xbsa_ftp_discard_stage(_sSession *sp) {
  gFtpStage[sp - sSession].clear();
  gFtpInterrupted[sp - sSession] = 0;
}

void xbsa_ftp_interrupt(_sSession *sp) { gFtpInterrupted[sp - sSession] = 1; }

extern "C" int BSASendData(long bsaHandle, BSA_DataBlock32 *dataBlockPtr) {
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) return BSA_RC_INVALID_HANDLE;
  if (!dataBlockPtr || (dataBlockPtr->bufferLen > 0 && !dataBlockPtr->bufferPtr)) {
    xbsalog("BSASendData: dataBlockPtr or its buffer is NULL");
    return BSA_RC_NULL_ARGUMENT;
  }
  xbsadetailtrace("BSASendData: bufferLen=%u, numBytes=%u", (unsigned)dataBlockPtr->bufferLen,
                  (unsigned)dataBlockPtr->numBytes);
  double dCount = 0;
  int iRc = BSA_RC_SUCCESS;
  if (sp->eProtocol != eFTP) {
    if (BSAHttpSendData(sp, dataBlockPtr) == -1) {
      xbsalog("BSASendData: %s", SysErrorTxt((unsigned long)GetSockErrCode(), 3, "Data sending failed over http."));
      iRc = BSA_RC_ABORT_SYSTEM_ERROR;
    } else {
      dCount = dataBlockPtr->bufferLen;
    }
  } else if (sp->SData < 0) {
    xbsalog("BSASendData: %s", SysErrorTxt(0, 0, "Data sending failed. No data connection is open."));
    iRc = BSA_RC_ABORT_SYSTEM_ERROR;
  } else if (gFtpInterrupted[sp - sSession]) {
    xbsalog("BSASendData: %s", SysErrorTxt(0, 0, "Data sending failed. Transfer interrupted by a signal."));
    iRc = BSA_RC_ABORT_SYSTEM_ERROR;
  } else {
    // A record header, a name block, a small file's data and an end marker
    // are gathered into one send of 64 KiB or more; larger blocks go as they are.
    std::vector<char> &stage = gFtpStage[sp - sSession];
    const long long llDeadline = stpc_step_deadline();
    const char *cpData = (const char *)dataBlockPtr->bufferPtr;
    size_t n = dataBlockPtr->bufferLen;
    if (n < kFtpStageSize) {
      if (stage.capacity() < 2 * kFtpStageSize) stage.reserve(2 * kFtpStageSize);
      stage.insert(stage.end(), cpData, cpData + n);
      dCount = (double)n;
      if (stage.size() >= kFtpStageSize && ftp_flush(sp, llDeadline) != 0) iRc = BSA_RC_ABORT_SYSTEM_ERROR;
    } else if (ftp_flush(sp, llDeadline) != 0) {
      iRc = BSA_RC_ABORT_SYSTEM_ERROR;
    } else {
      unsigned long ulSent = 0;
      if (ftp_send(sp, cpData, n, &ulSent, llDeadline) != 0) iRc = BSA_RC_ABORT_SYSTEM_ERROR;
      dCount = (double)ulSent;
    }
  }
  sp->dBytes += dCount;
  if (iRc == BSA_RC_ABORT_SYSTEM_ERROR) db_transfer_failed(dCount);
  return iRc;
}

extern "C" int BSAGetData(long bsaHandle, BSA_DataBlock32 *dataBlockPtr) {
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) {
    if (sGlobal.iComSession != 0) sGlobal.sObject.sSMS.iOpStatus = 3;
    return BSA_RC_INVALID_HANDLE;
  }
  if (!dataBlockPtr || (dataBlockPtr->bufferLen > 0 && !dataBlockPtr->bufferPtr)) {
    xbsalog("BSAGetData: dataBlockPtr or its buffer is NULL");
    return BSA_RC_NULL_ARGUMENT;
  }
  xbsadetailtrace("BSAGetData: Start");
  xbsatrace("BSAGetData: bufferLen=%u, numBytes=%u", (unsigned)dataBlockPtr->bufferLen,
            (unsigned)dataBlockPtr->numBytes);
  if (dataBlockPtr->bufferLen == 0) {
    xbsatrace("BSAGetData: bufferLen == 0 >> return BSA_RC_SUCCESS");
    return BSA_RC_SUCCESS;
  }
  int iRc;
  double dRead = 0;
  if (sp->eProtocol != eFTP) {
    if (BSAHttpGetData(sp, dataBlockPtr) == 0) {
      dRead = dataBlockPtr->numBytes;
      sp->dBytes += dRead;
      xbsatrace("BSAGetData: Data read: %d, total: %.0f", (int)dataBlockPtr->numBytes, sp->dBytes);
      iRc = BSA_RC_SUCCESS;
    } else {
      xbsalog("BSAGetData: %s", SysErrorTxt((unsigned long)GetSockErrCode(), 3, "Data receiving failed."));
      iRc = BSA_RC_ABORT_SYSTEM_ERROR;
    }
  } else if (sp->SData < 0) {
    xbsalog("BSAGetData: %s", SysErrorTxt(0, 0, "Data receiving failed. No data connection is open."));
    dataBlockPtr->numBytes = 0;
    iRc = BSA_RC_ABORT_SYSTEM_ERROR;
  } else {
    char *cpBuf = (char *)dataBlockPtr->bufferPtr;
    unsigned long ulGot = 0;
    ssize_t n = 1;
    // The whole block waits under one deadline: a node that sends a byte
    // now and then does not stretch the wait.
    const long long llDeadline = stpc_step_deadline();
    while (ulGot < dataBlockPtr->bufferLen) {
      errno = 0;
      n = stpc_data_recv(sp->SData, cpBuf + ulGot, dataBlockPtr->bufferLen - ulGot, llDeadline);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        sp->bDataStalled = TRUE;
        xbsalog("BSAGetData: %s",
                SysErrorTxt(0, 0, "Data receiving failed: no data from the storage node within %lu seconds.",
                            xbsa_wait_seconds()));
        break;
      }
      if (n < 0) {
        int iErr = errno;
        xbsalog("BSAGetData: ERROR: (%d) %s", iErr, SysErrorTxt((unsigned long)iErr, 3, "Data receiving failed."));
        for (int iTry = 1; iTry <= 5 && n < 0; iTry++) {
          xbsalog("BSAGetData: Data receiving failed. Reget [%d] times", iTry);
          xbsalog("Sleeping for a while");
          sleep(1);
          n = stpc_data_recv(sp->SData, cpBuf + ulGot, dataBlockPtr->bufferLen - ulGot, llDeadline);
        }
      }
      if (n <= 0) break;
      ulGot += (unsigned long)n;
    }
    dRead = (double)ulGot;
    sp->dBytes += dRead;
    dataBlockPtr->numBytes = (BSA_UInt32)ulGot;
    xbsatrace("BSAGetData: Data read: %d, total: %.0f", (int)ulGot, sp->dBytes);
    if (n < 0) {
      xbsalogtrace("BSAGetData: socket error > return BSA_RC_ABORT_SYSTEM_ERROR");
      iRc = BSA_RC_ABORT_SYSTEM_ERROR;
    } else if (n > 0) {
      giNoMoreData = 0;
      iRc = BSA_RC_SUCCESS;
    } else if (++giNoMoreData <= 2) {
      xbsalogtrace("BSAGetData: return BSA_NO_MORE_DATA");
      iRc = BSA_RC_NO_MORE_DATA;
    } else {
      xbsalogtrace("BSAGetData: third NO_MORE_DATA >> return BSA_ABORT_SYSTEM_ERROR");
      SysErrorTxt(0, 0, "BSAGetData: read past the end of the object.");
      iRc = BSA_RC_ABORT_SYSTEM_ERROR;
    }
  }
  if (iRc == BSA_RC_ABORT_SYSTEM_ERROR) db_transfer_failed(dRead);
  return iRc;
}

extern "C" int BSAEndData(long bsaHandle) {
  xbsalogtrace("BSAEndData: Start - bsaHandle = %lx", (unsigned long)bsaHandle);
  _sSession *sp = xbsa_find_slot(bsaHandle);
  int iRc = BSA_RC_SUCCESS;
  if (!sp) {
    iRc = BSA_RC_INVALID_HANDLE;
  } else if (sp->iLastCall & XBSA_CALL_ENDDATA) {
    iRc = BSA_RC_INVALID_CALL_SEQUENCE;
  } else {
    sp->iLastCall |= XBSA_CALL_ENDDATA;
    if (sp->eProtocol == eFTP) {
      // False once the node let a whole wait pass without a word.
      bool bNodeAnswers = true;
      if (sp->SData < 0) {
        // No transfer was opened: nothing to end on the control connection.
        SysErrorTxt(0, 0, "BSAEndData: no data connection is open.");
        iRc = BSA_RC_ABORT_SYSTEM_ERROR;
      } else if (sp->bDataStalled) {
        // A node that stopped moving data would let the final reply take
        // another whole wait: the transfer has failed already.
        xbsa_ftp_discard_stage(sp);
        close(sp->SData);
        sp->SData = -1;
        xbsalogtrace("BSAEndData: the data connection stalled, no final reply is awaited.");
        SysErrorTxt(0, 0, "BSAEndData: the data connection stalled.");
        iRc = BSA_RC_ABORT_SYSTEM_ERROR;
      } else {
        if (ftp_flush(sp, stpc_step_deadline()) != 0) {
          xbsalog("BSAEndData: %s", SysErrorTxt(0, 0, "Data sending failed."));
          iRc = BSA_RC_ABORT_SYSTEM_ERROR;
        }
        xbsa_ftp_discard_stage(sp);
        close(sp->SData);
        sp->SData = -1;
        char szReply[XBSA_LINE_SIZE] = "";
        BOOL bNegative = FALSE;
        // A last send that stalled has failed the transfer already: no final
        // reply is awaited for another whole wait.
        int n = sp->SControl >= 0 && !sp->bDataStalled
                    ? stpc_reply(sp->SControl, szReply, (int)sizeof szReply, &bNegative, "BSAEndData")
                    : -1;
        if (n <= 0) {
          if (n < 0) bNodeAnswers = false;
          if (n == 0) SysErrorTxt(0, 0, "BSAEndData: the storage node closed the connection without a final reply.");
          iRc = BSA_RC_ABORT_SYSTEM_ERROR;
        } else {
          if (bNegative) {
            xbsalogtrace("BSAEndData: %s", xbsa_last_message());
            iRc = BSA_RC_ABORT_SYSTEM_ERROR;
          }
          xbsatrace("BSAEndData: Received message: %s", szReply);
          if (strncmp(szReply, "226", 3) != 0) {
            xbsatrace("BSAEndData: Unexpected FTP code for last message");
            if (!bNegative) SysErrorTxt(0, 0, "BSAEndData: Unexpected FTP code for last message: %s", szReply);
            iRc = BSA_RC_ABORT_SYSTEM_ERROR;
          }
        }
      }
      // Whatever the result, an open control connection is ended with QUIT
      // and its one answer line; after a stalled data connection or a final
      // reply that never came that line is not awaited (another whole wait
      // on a node that stopped).
      if (sp->bDataStalled) bNodeAnswers = false;
      if (sp->SControl >= 0) {
        char szReply[XBSA_LINE_SIZE] = "";
        stpc_send(sp->SControl, "QUIT\r\n", 6, 0);
        if (bNodeAnswers && stpc_recv(sp->SControl, szReply, (int)sizeof szReply, 0) > 0) {
          xbsatrace("BSAEndData: Received message: %s ", szReply);
        }
      }
      if (sp->SControl >= 0) close(sp->SControl);
      sp->SControl = -1;
    } else {
      iRc = BSAHttpEndData(sp);
    }
    if (sGlobal.iComSession != 0) sGlobal.sObject.sSMS.iOpStatus = iRc != 0 ? 3 : 0;
    if (sp->iLastCall & XBSA_CALL_CREATEOBJECT) {
      sp->iOpStatus = iRc;
      if (sGlobal.iComSession != 0) {
        sGlobal.sCOM.iJobResult = sGlobal.sObject.sSMS.iOpStatus;
        sGlobal.sCOM.iSessionResult = sGlobal.sObject.sSMS.iOpStatus;
        xbsatrace("BSAEndData: Call com_intf( COM_CLOSE_WRITE, ... )");
        if (com_intf(COM_CLOSE_WRITE, &sGlobal.sCOM) != 1) iRc = -1;
      }
    } else if (!(sp->iLastCall & XBSA_CALL_GETOBJECT)) {
      xbsatrace("BSAEndData: Invalid sKorva.iLastOp, Korva Server not contacted properly.");
    } else if (sGlobal.iComSession != 0) {
      sGlobal.sCOM.iJobResult = sGlobal.sObject.sSMS.iOpStatus;
      sGlobal.sCOM.iSessionResult = sGlobal.sObject.sSMS.iOpStatus;
      xbsatrace("BSAEndData: Call com_intf( COM_CLOSE_READ, ... )");
      if (com_intf(COM_CLOSE_READ, &sGlobal.sCOM) != 1) iRc = -1;
    }
  }
  xbsatrace("BSAEndData: Return CODE: [%d] ", iRc);
  if (sp) sp->dBytes = 0;
  return iRc != 0 ? BSA_RC_ABORT_SYSTEM_ERROR : BSA_RC_SUCCESS;
}
