// Transaction and session end: BSABeginTxn, BSAEndTxn and BSATerminate with
// their calling-sequence checks and the clearing of the global record.
#include <unistd.h>

#include "xbsa/xbsa_com.h"
#include "xbsa/xbsa_session.h"
#include "xbsa/xbsa_trace.h"

extern "C" int BSABeginTxn(long bsaHandle) {
  xbsalogtrace("BSABeginTxn: Start, Input: bsaHandle = %ld ", bsaHandle);
  int iRc = BSA_RC_SUCCESS;
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) {
    iRc = BSA_RC_INVALID_HANDLE;
  } else if (sp->iLastCall & XBSA_CALL_BEGINTXN) {
    iRc = BSA_RC_INVALID_CALL_SEQUENCE;
  } else {
    sp->iLastCall |= XBSA_CALL_BEGINTXN;
  }
  xbsatrace("BSABeginTxn: Return: %d - %s", iRc, xbsa_typeerr(iRc));
  xbsatrace("BSABeginTxn: End");
  if (sGlobal.iComSession != 0) sGlobal.sObject.sSMS.iOpStatus = 0;
  return iRc;
}

extern "C" int BSAEndTxn(long bsaHandle, BSA_Vote vote) {
  (void)vote;
  xbsalogtrace("BSAEndTxn: Start, Input: bsaHandle = [%ld] ", bsaHandle);
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) {
    xbsatrace("BSAEndTxn: Invalid Handle. Exiting.");
    return BSA_RC_INVALID_HANDLE;
  }
  int iRc = BSA_RC_SUCCESS;
  if (!(sp->iLastCall & XBSA_CALL_BEGINTXN)) {
    xbsatrace("BSAEndTxn: There is no coresponding BsaBeginTxn() call. Exiting.");
    iRc = BSA_RC_INVALID_CALL_SEQUENCE;
  }
  xbsatrace("BSAEndTxn: End");
  sp->iLastCall = 0;
  return iRc;
}

extern "C" int BSATerminate(long bsaHandle) {
  xbsatrace("BSATerminate: Start");
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) {
    xbsatrace("BSATerminate: Invalid Handle. Exiting.");
    return BSA_RC_INVALID_HANDLE;
  }
  // A transfer that was never ended still holds its descriptors.
  xbsa_ftp_discard_stage(sp);
  if (sp->SData >= 0) close(sp->SData);
  if (sp->SControl >= 0) close(sp->SControl);
  sp->SData = -1;
  sp->SControl = -1;
  if (giSessionCounter > 0) giSessionCounter--;
  xbsatrace("BSATerminate: BSA Handle (session index) = %ld, counter %d", bsaHandle, giSessionCounter);
  if (sGlobal.iComSession == 0) {
    xbsatrace("BSATerminate: Closing trace and clearing the sGlobal structure.");
    i_close_trace();
    xbsa_clear_global();
  } else if (giSessionCounter > 0) {
    xbsatrace("BSATerminate: According to bsa_ObjectOwner closing trace and clearing the sGlobal "
              "structure is skipped.");
    xbsatrace("BSATerminate: Calling com_intf(COM_CLOSE_SESSION)");
    com_intf(COM_CLOSE_SESSION, &sGlobal.sCOM);
  } else {
    xbsatrace("BSATerminate: Session counter = %d => Closing trace and clearing the sGlobal structure.",
              giSessionCounter);
    glSessionIndex = 1;
    i_close_trace();
    xbsa_clear_global();
  }
  sp->iLastCall = 0;
  sp->bInUse = FALSE;
  return BSA_RC_SUCCESS;
}
