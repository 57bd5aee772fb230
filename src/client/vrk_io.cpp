// The one gate of every byte of the stored object: blocks to and from the
// storage client or the local saveset, the running Adler-32 and the progress report.
#include "client/vrk_io.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "client/vrk_global.h"
#include "client/vrk_saveset_gather.h"
#include "runtime/vrk_adler32.h"
#include "runtime/vrk_log.h"
#include "runtime/x_mem_timer.h"
#include "xbsa/xbsa.h"

namespace {

// Byte count of the local road when no storage-client session is open.
double gdLocalBytes = 0;

// The storage client's count of the open session, or the local one.
double *transfer_bytes() {
  double *dp = spGlobal->lBSAHandle > 0 ? xbsa_session_bytes((long)spGlobal->lBSAHandle) : nullptr;
  return dp != nullptr ? dp : &gdLocalBytes;
}

// Folds a block into the running checksum (Adler-32, as zlib computes it).
void fold_checksum(const void *cpBuf, size_t size) {
  if (size == 0) return;
  spGlobal->lChkSum = vrk_adler32((uint32_t)spGlobal->lChkSum, static_cast<const uint8_t *>(cpBuf), size);
}

}  // namespace

double vrk_throughput(double dMegabytes, unsigned long ulNowMs, unsigned long ulBeforeMs) {
  // Whole seconds, truncated; within the first second the figure would not
  // be finite, and 0 is shown instead.
  unsigned long ulSeconds = (ulNowMs - ulBeforeMs) / 1000;
  return ulSeconds > 0 ? dMegabytes / (double)ulSeconds * 3600 : 0.0;
}

namespace {

// State of one direction's progress report; lives for the whole run.
struct Progress {
  void *vpTimerHnd = nullptr;
  double uTransfered = 0;
  unsigned long lSeconds = 0;
  double dTotalSize = -1.0;  // read side: expected megabytes, -1 until looked up

  void Start() {
    if (vpTimerHnd == nullptr) x_TimerStart(&vpTimerHnd);
  }

  void Report(bool bReadSide) {
    unsigned long t = 0;
    x_TimerStop(vpTimerHnd, FALSE, &t);
    double dBytes = *transfer_bytes();
    if (bReadSide) {
      if (dTotalSize == -1.0) {
        const char *cpInfo = spGlobal->sSMS.cpInfo;
        const char *cpSize = cpInfo != nullptr ? strstr(cpInfo, "size=") : nullptr;
        dTotalSize = cpSize != nullptr ? (double)atol(cpSize + 5) : 0.0;
      }
      if (dTotalSize != 0.0) vrk_log(3259, (dBytes / 1024 / 1024) / dTotalSize * 100);
    }
    vrk_log(3250, dBytes / 1024 / 1024, vrk_throughput((dBytes - uTransfered) / 1024 / 1024, t, lSeconds));
    lSeconds = t;
    if (spGlobal->iLogLevel == 0 && spGlobal->sVRKObject.szItem[0] != '\0')
      vrk_log(3254, spGlobal->sVRKObject.szItem);
    uTransfered = dBytes;
    spGlobal->iAlarm = 0;
    alarm((unsigned)(spGlobal->iAlarmIntervall > 0 ? spGlobal->iAlarmIntervall : 0));
  }
};

Progress gWriteProgress;
Progress gReadProgress;

void log_bsa_failure(int iRc) {
  char szErrorTxt[VRK_BSA_ERRTXT_SIZE];
  vrk_bsa_errortext(iRc, szErrorTxt, sizeof(szErrorTxt));
  vrk_log(1007, szErrorTxt);
}

}  // namespace

ssize_t vrk_bsa_write(const void *cpBuf, size_t sizeNbyte, int iTimeout) {
  gWriteProgress.Start();

  ssize_t result;
  if (spGlobal->sLocalSaveset.iFilDes == -1) {
    fold_checksum(cpBuf, sizeNbyte);
    result = (ssize_t)sizeNbyte;
    // An empty block would read as the end of an upload to the transport.
    if (sizeNbyte > 0) {
      if (sizeNbyte > 0xFFFFFFFFu) {
        vrk_log(1007, "block larger than 4 GiB");
        return -1;
      }
      BSA_DataBlock32 block;
      memset(&block, 0, sizeof(block));
      block.bufferLen = (BSA_UInt32)sizeNbyte;
      block.numBytes = 0;
      block.bufferPtr = const_cast<void *>(cpBuf);
      int iRc = BSASendData((long)spGlobal->lBSAHandle, &block);
      if (iRc != BSA_RC_SUCCESS) {
        log_bsa_failure(iRc);
        return -1;
      }
    }
  } else if (spGlobal->sVRKObject.iSigRecv != 0) {
    // Interrupted: no socket to shut on this road, so the write fails here,
    // as a shut data socket fails the remote one, and the job ends at once.
    vrk_log(1031, strerror(EINTR));
    errno = EINTR;
    result = -1;
  } else {
    // The saveset's writer folds the block, in one pass with its copy.
    result = vrk_saveset_write(spGlobal->sLocalSaveset.iFilDes, cpBuf, sizeNbyte, iTimeout, &spGlobal->lChkSum);
    if (result < 0)
      vrk_log(1031, strerror(errno));
    else
      *transfer_bytes() += (double)result;
  }
  if (spGlobal->iAlarm == 1) gWriteProgress.Report(false);
  return result;
}

int vrk_bsa_flush(int iTimeout) {
  if (vrk_saveset_flush(iTimeout) == 0) return 0;
  vrk_log(1031, strerror(errno));
  return -1;
}

ssize_t vrk_bsa_read(void *cpBuf, size_t sizeNbyte, int iTimeout) {
  gReadProgress.Start();
  if (sizeNbyte == 0) return 0;

  ssize_t result;
  int iRc = BSA_RC_SUCCESS;
  if (spGlobal->sLocalSaveset.iFilDes == -1) {
    BSA_DataBlock32 block;
    memset(&block, 0, sizeof(block));
    block.bufferLen = sizeNbyte > 0xFFFFFFFFu ? 0xFFFFFFFFu : (BSA_UInt32)sizeNbyte;
    block.numBytes = 0;
    block.bufferPtr = cpBuf;
    iRc = BSAGetData((long)spGlobal->lBSAHandle, &block);
    result = (ssize_t)block.numBytes;
    trace("BSAGetData returned size %ld", (long)result);
    // 14: more data, in the numbering of the Backup Services API.
    if (iRc != BSA_RC_SUCCESS && iRc != BSA_RC_NO_MORE_DATA && iRc != 14) {
      log_bsa_failure(iRc);
      result = -1;
    }
  } else {
    ssize_t n = vrk_saveset_read(spGlobal->sLocalSaveset.iFilDes, cpBuf, sizeNbyte, iTimeout);
    if (n == 0) {
      iRc = BSA_RC_NO_MORE_DATA;
      result = 0;
    } else if (n < 0) {
      vrk_log(3017, strerror(errno));
      result = -1;
    } else {
      *transfer_bytes() += (double)n;
      result = n;
    }
  }
  if (spGlobal->iAlarm == 1) gReadProgress.Report(true);
  if (iRc == BSA_RC_NO_MORE_DATA && spGlobal->iLogLevel > 3) vrk_log(3016);
  if (result > 0) fold_checksum(cpBuf, (size_t)result);
  trace("return size %ld", (long)result);
  return result;
}
