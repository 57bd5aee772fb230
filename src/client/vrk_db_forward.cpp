// Forwarders to the loaded module's entry points, which refuse an entry that
// is not resolved, and the log and trace callbacks handed to the module.
#include <string.h>

#include "client/vrk_db_internal.h"
#include "runtime/vrk_log.h"

namespace {

// The answer of a forwarder whose entry point is not resolved.
int not_loaded(const char *cpName) {
  std::string sText = std::string("Entry point ") + cpName + " is not loaded";
  vrk_log(1146, sText.c_str());
  return DB_NUM_E_OPERATION;
}

}  // namespace

#define VRK_DB_FORWARD(name, ...)                 \
  do {                                            \
    if (g_fp##name == nullptr) return not_loaded(#name); \
    return g_fp##name(__VA_ARGS__);               \
  } while (0)

int DB_GetInfo(TYPE_DB_Info *psInfo) { VRK_DB_FORWARD(DB_GetInfo, psInfo); }

int DB_InitOperation(DB_OPERATION_TYPE eType, DB_OPERATION_LEVEL eLevel, char **cppVars,
                     sVRK_DB *psParam) {
  VRK_DB_FORWARD(DB_InitOperation, eType, eLevel, cppVars, psParam);
}

int DB_CloseOperation(char **cppVars) { VRK_DB_FORWARD(DB_CloseOperation, cppVars); }
int DB_SetLog(DB_MSG_FUNC fpLog) { VRK_DB_FORWARD(DB_SetLog, fpLog); }
int DB_SetTrace(DB_MSG_FUNC fpTrace) { VRK_DB_FORWARD(DB_SetTrace, fpTrace); }
int DB_GetError(TYPE_DB_Error *psError) { VRK_DB_FORWARD(DB_GetError, psError); }

int DB_ReadBlock(char *cpBlock, unsigned int *puiLength) {
  VRK_DB_FORWARD(DB_ReadBlock, cpBlock, puiLength);
}

int DB_WriteBlock(char *cpBlock, unsigned int uiLength) {
  VRK_DB_FORWARD(DB_WriteBlock, cpBlock, uiLength);
}

int DB_GetItem(char *cpBackupDir, char *cpOrigDir, char *cpFile) {
  VRK_DB_FORWARD(DB_GetItem, cpBackupDir, cpOrigDir, cpFile);
}

int DB_ItemFinishStatus(DB_ITEM_RESULT eResult) { VRK_DB_FORWARD(DB_ItemFinishStatus, eResult); }
int DB_SetItem(DB_ITEM_TYPE eType, char *cpItem) { VRK_DB_FORWARD(DB_SetItem, eType, cpItem); }

int DB_PrepareItem(const char *cpItem, char *cpNewFile) {
  VRK_DB_FORWARD(DB_PrepareItem, cpItem, cpNewFile);
}

int DB_OpenItem(char *cpDatabase, char *cpServer) {
  VRK_DB_FORWARD(DB_OpenItem, cpDatabase, cpServer);
}

int DB_CloseItem(char *cpDatabase, char *cpServer, int iState) {
  VRK_DB_FORWARD(DB_CloseItem, cpDatabase, cpServer, iState);
}

int DB_DirItem(struct sF *psEntry) { VRK_DB_FORWARD(DB_DirItem, psEntry); }

void DB_FetchError(TYPE_DB_Error *psError) {
  memset(psError, 0, sizeof(*psError));
  if (g_fpDB_GetError == nullptr) {
    not_loaded("DB_GetError");
    return;
  }
  g_fpDB_GetError(psError);
  psError->szDBErrorType[sizeof(psError->szDBErrorType) - 1] = '\0';
  psError->szDBErrorMsg[sizeof(psError->szDBErrorMsg) - 1] = '\0';
}

void DB_Log(char *cpMsg) { vrk_log(3103, vrk_db_str(cpMsg)); }

void DB_Trace(char *cpMsg) { vrk_log(3500, "%s", vrk_db_str(cpMsg)); }

bool vrk_db_copy(char *cpDst, size_t nSize, const char *cpSrc) {
  const char *cp = vrk_db_str(cpSrc);
  size_t n = strlen(cp);
  if (n >= nSize) {
    cpDst[0] = '\0';
    return false;
  }
  memcpy(cpDst, cp, n + 1);
  return true;
}

bool vrk_db_terminated(const char *cpBuf, size_t nSize) {
  return memchr(cpBuf, '\0', nSize) != nullptr;
}
