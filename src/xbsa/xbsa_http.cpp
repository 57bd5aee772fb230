// HTTP(S) transport entry points while the libcurl transport is not part of
// the library yet: every open fails with "HTTP(S) transport not available.".
#include "xbsa/xbsa_http.h"

#include "xbsa/xbsa_trace.h"

int xbsa_http_open(long bsaHandle, int iMode) {
  SysErrorTxt(0, 0, "HTTP(S) transport not available.");
  xbsalog("xbsa_open: HTTP(S) transport not available (handle %ld, mode %d).", bsaHandle, iMode);
  return -1;
}

int BSAHttpSendData(_sSession *sctpSession, BSA_DataBlock32 *dataBlockPtr) {
  (void)sctpSession;
  (void)dataBlockPtr;
  return -1;
}

int BSAHttpGetData(_sSession *sctpSession, BSA_DataBlock32 *dataBlockPtr) {
  (void)sctpSession;
  if (dataBlockPtr) dataBlockPtr->numBytes = 0;
  return -1;
}

int BSAHttpEndData(_sSession *sctpSession) {
  (void)sctpSession;
  return 1;
}
