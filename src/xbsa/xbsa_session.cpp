// Session table and global record of the storage client: slots by handle,
// initial presets, and the signal-safe accessors of a session.
#include <string.h>
#include <sys/socket.h>

#include "xbsa/xbsa_session.h"
#include "xbsa/xbsa_http.h"

_sSession sSession[XBSA_MAX_SESSIONS];
_sGlobal sGlobal;
long glSessionIndex = 1;
unsigned int giSessionCounter = 0;

namespace {

struct GlobalPresets {
  GlobalPresets() { xbsa_reset_library(); }
};
GlobalPresets gPresets;

}  // namespace

void xbsa_init_global() {
  xbsa_clear_global();
  sGlobal.sObject.sBSA_Object.copyType = BSA_CopyType_ANY;
  sGlobal.sObject.sBSA_Object.objectType = BSA_ObjectType_ANY;
  sGlobal.sObject.sBSA_Object.objectStatus = BSA_ObjectStatus_ANY;
  sGlobal.sQueryDescriptor.copyType = BSA_CopyType_ANY;
  sGlobal.sQueryDescriptor.objectType = BSA_ObjectType_ANY;
  sGlobal.sQueryDescriptor.objectStatus = BSA_ObjectStatus_ANY;
  sGlobal.iReadTraceEnvironment = 1;
}

void xbsa_clear_global() {
  if (sGlobal.LL_BSA_ObjectDescriptor) DestLL(sGlobal.LL_BSA_ObjectDescriptor);
  memset(&sGlobal, 0, sizeof sGlobal);
}

void xbsa_reset_library() {
  memset(sSession, 0, sizeof sSession);
  for (auto &s : sSession) {
    s.SControl = -1;
    s.SData = -1;
  }
  glSessionIndex = 1;
  giSessionCounter = 0;
  giNoMoreData = 0;
  xbsa_init_global();
}

_sSession *xbsa_find_slot(long bsaHandle) {
  if (bsaHandle < 1) return NULL;
  // A handle up to 64 lives in the slot of its number; a later handle in
  // the free slot it was given.
  if (bsaHandle <= XBSA_MAX_SESSIONS) {
    _sSession *sp = &sSession[bsaHandle - 1];
    if (sp->bInUse && sp->lBSAHandle == bsaHandle) return sp;
  }
  for (int i = 0; i < XBSA_MAX_SESSIONS; i++) {
    if (sSession[i].bInUse && sSession[i].lBSAHandle == bsaHandle) return &sSession[i];
  }
  return NULL;
}

_sSession *xbsa_take_slot(long bsaHandle) {
  _sSession *sp = NULL;
  if (bsaHandle >= 1 && bsaHandle <= XBSA_MAX_SESSIONS && !sSession[bsaHandle - 1].bInUse) {
    sp = &sSession[bsaHandle - 1];
  } else {
    for (int i = 0; i < XBSA_MAX_SESSIONS && !sp; i++) {
      if (!sSession[i].bInUse) sp = &sSession[i];
    }
  }
  if (!sp) return NULL;
  // The last-error text lives in the first slot and survives a new session.
  sp->lBSAHandle = (int32_t)bsaHandle;
  sp->iLastCall = XBSA_CALL_INIT;
  sp->iOpStatus = 0;
  sp->dBytes = 0;
  sp->SControl = -1;
  sp->SData = -1;
  sp->iPortStart = 0;
  sp->iPortEnd = 0;
  sp->eProtocol = eFTP;
  sp->curl_handle = NULL;
  sp->bDataStalled = FALSE;
  sp->bInUse = TRUE;
  return sp;
}

const char *xbsa_env_value(const char *cpEntry, const char *cpName) {
  if (!cpEntry || !cpName) return NULL;
  size_t len = strlen(cpName);
  if (strncmp(cpEntry, cpName, len) != 0 || cpEntry[len] != '=') return NULL;
  return cpEntry + len + 1;
}

extern "C" int xbsa_session_shutdown(long bsaHandle) {
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) return -1;
  int iData = sp->SData;
  int iControl = sp->SControl;
  if (iData >= 0) shutdown(iData, SHUT_RDWR);
  if (iControl >= 0) shutdown(iControl, SHUT_RDWR);
  xbsa_ftp_interrupt(sp);
  BSAHttpInterrupt(sp);
  return 0;
}

extern "C" double *xbsa_session_bytes(long bsaHandle) {
  _sSession *sp = xbsa_find_slot(bsaHandle);
  return sp ? &sp->dBytes : NULL;
}
