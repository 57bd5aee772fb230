// Loading a database module: dlopen with a second try under the program
// directory, the entry points of its type, and what it tells about itself.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "client/vrk_db_internal.h"
#include "client/vrk_global.h"
#include "runtime/vrk_log.h"

DB_GETINFO_FUNC g_fpDB_GetInfo = nullptr;
DB_INITOPERATION_FUNC g_fpDB_InitOperation = nullptr;
DB_CLOSEOPERATION_FUNC g_fpDB_CloseOperation = nullptr;
DB_SETLOG_FUNC g_fpDB_SetLog = nullptr;
DB_SETTRACE_FUNC g_fpDB_SetTrace = nullptr;
DB_GETERROR_FUNC g_fpDB_GetError = nullptr;
DB_READBLOCK_FUNC g_fpDB_ReadBlock = nullptr;
DB_WRITEBLOCK_FUNC g_fpDB_WriteBlock = nullptr;
DB_GETITEM_FUNC g_fpDB_GetItem = nullptr;
DB_ITEMFINISHSTATUS_FUNC g_fpDB_ItemFinishStatus = nullptr;
DB_SETITEM_FUNC g_fpDB_SetItem = nullptr;
DB_PREPAREITEM_FUNC g_fpDB_PrepareItem = nullptr;
DB_OPENITEM_FUNC g_fpDB_OpenItem = nullptr;
DB_CLOSEITEM_FUNC g_fpDB_CloseItem = nullptr;
DB_DIRITEM_FUNC g_fpDB_DirItem = nullptr;

namespace {

TYPE_DB_Info g_sDBInfo;

void reset_entry_points() {
  g_fpDB_GetInfo = nullptr;
  g_fpDB_InitOperation = nullptr;
  g_fpDB_CloseOperation = nullptr;
  g_fpDB_SetLog = nullptr;
  g_fpDB_SetTrace = nullptr;
  g_fpDB_GetError = nullptr;
  g_fpDB_ReadBlock = nullptr;
  g_fpDB_WriteBlock = nullptr;
  g_fpDB_GetItem = nullptr;
  g_fpDB_ItemFinishStatus = nullptr;
  g_fpDB_SetItem = nullptr;
  g_fpDB_PrepareItem = nullptr;
  g_fpDB_OpenItem = nullptr;
  g_fpDB_CloseItem = nullptr;
  g_fpDB_DirItem = nullptr;
  memset(&g_sDBInfo, 0, sizeof(g_sDBInfo));
}

// Resolves one symbol into *ppv; on failure the loader's reason (or a
// fallback) goes to sReason.
bool resolve(void *hModule, const char *cpName, void **ppv, std::string &sReason) {
  dlerror();
  void *pv = dlsym(hModule, cpName);
  const char *cpErr = dlerror();
  if (cpErr != nullptr || pv == nullptr) {
    sReason = cpErr != nullptr ? cpErr : std::string(cpName) + ": symbol has no address";
    return false;
  }
  *ppv = pv;
  return true;
}

template <typename F>
bool resolve_fn(void *hModule, const char *cpName, F *pfp, std::string &sReason) {
  void *pv = nullptr;
  if (!resolve(hModule, cpName, &pv, sReason)) return false;
  *pfp = reinterpret_cast<F>(pv);
  return true;
}

// Message 1143 with "<what> returned: <reason>" and errno set to
// iDefaultErrno when it was 0.
void load_failed(const char *cpWhat, const std::string &sReason, int iDefaultErrno) {
  if (errno == 0) errno = iDefaultErrno;
  std::string sText = std::string(cpWhat) + " returned: " + sReason;
  vrk_log(1143, sText.c_str());
}

const char *type_word(int iType) {
  switch (iType) {
    case DB_STREAM:
      return "DB_STREAM";
    case DB_FILE:
      return "DB_FILE";
    case DB_FILE_STREAM:
      return "DB_FILE_STREAM";
    default:
      return "DB_FILE_PREPARE";
  }
}

void *open_module(const char *cpDBModule, const char *cpBaseDir) {
  void *hModule = dlopen(cpDBModule, RTLD_LAZY);
  if (hModule != nullptr) return hModule;
  trace("DLOPEN: %s", vrk_db_str(dlerror()));

  // The program directory, made absolute against the base directory.
  std::string sBin = vrk_db_str(spGlobal->sDirs.cpBin);
  if (sBin.empty()) sBin = ".";
  if (sBin[0] != '/' && cpBaseDir != nullptr && *cpBaseDir != '\0')
    sBin = std::string(cpBaseDir) + "/" + sBin;
  std::string sPath = sBin + "/" + cpDBModule;
  vrk_log(3500, "Library not found. Try to load from Korva bin directory [%s]", sPath.c_str());
  errno = 0;
  hModule = dlopen(sPath.c_str(), RTLD_LAZY);
  if (hModule == nullptr) load_failed("dlopen()", vrk_db_str(dlerror()), ENOENT);
  return hModule;
}

// The entry points of the module type; false with the reason.
bool resolve_type_specific(void *hModule, int iType, std::string &sReason) {
  bool bStream = iType == DB_STREAM || iType == DB_FILE_STREAM;
  bool bFile = iType != DB_STREAM;
  if (bStream && (!resolve_fn(hModule, "DB_ReadBlock", &g_fpDB_ReadBlock, sReason) ||
                  !resolve_fn(hModule, "DB_WriteBlock", &g_fpDB_WriteBlock, sReason)))
    return false;
  if (bFile && (!resolve_fn(hModule, "DB_GetItem", &g_fpDB_GetItem, sReason) ||
                !resolve_fn(hModule, "DB_ItemFinishStatus", &g_fpDB_ItemFinishStatus, sReason) ||
                !resolve_fn(hModule, "DB_SetItem", &g_fpDB_SetItem, sReason)))
    return false;
  if (iType == DB_FILE_PREPARE &&
      !resolve_fn(hModule, "DB_PrepareItem", &g_fpDB_PrepareItem, sReason))
    return false;
  return true;
}

}  // namespace

const TYPE_DB_Info *DB_LoadedInfo(void) { return &g_sDBInfo; }

BOOL vrk_db_load(const char *cpDBModule, const char *cpBaseDir) {
  reset_entry_points();
  trace("LoadDBModule: Loading DATABASE LIB: [%s]", vrk_db_str(cpDBModule));
  if (cpDBModule == nullptr || *cpDBModule == '\0') {
    errno = 0;
    load_failed("dlopen()", "no module name given", ENOENT);
    return FALSE;
  }
  void *hModule = open_module(cpDBModule, cpBaseDir);
  if (hModule == nullptr) return FALSE;

  std::string sReason;
  errno = 0;
  if (!resolve_fn(hModule, "DB_GetInfo", &g_fpDB_GetInfo, sReason) ||
      !resolve_fn(hModule, "DB_InitOperation", &g_fpDB_InitOperation, sReason) ||
      !resolve_fn(hModule, "DB_CloseOperation", &g_fpDB_CloseOperation, sReason) ||
      !resolve_fn(hModule, "DB_SetLog", &g_fpDB_SetLog, sReason) ||
      !resolve_fn(hModule, "DB_SetTrace", &g_fpDB_SetTrace, sReason) ||
      !resolve_fn(hModule, "DB_GetError", &g_fpDB_GetError, sReason)) {
    trace("DLSYM: %s", sReason.c_str());
    load_failed("dlsym()", sReason, EADDRNOTAVAIL);
    reset_entry_points();
    dlclose(hModule);
    return FALSE;
  }

  trace("LoadDBModule: Calling DB_GetInfo()...");
  TYPE_DB_Info sInfo;
  memset(&sInfo, 0, sizeof(sInfo));
  g_fpDB_GetInfo(&sInfo);
  // The module may answer any number: read it as one, not as the enumeration.
  int iType = 0;
  static_assert(sizeof(iType) == sizeof(sInfo.eDBType), "DB_TYPE is an int");
  memcpy(&iType, &sInfo.eDBType, sizeof(iType));
  trace("DB module: [%s], version [%s], released [%s], type [%s]", vrk_db_str(sInfo.cpDBClient),
        vrk_db_str(sInfo.cpDBVersion), vrk_db_str(sInfo.cpDBRelDate), type_word(iType));

  if (iType < DB_FILE_PREPARE || iType > DB_FILE_STREAM) {
    errno = 0;
    load_failed("DB_GetInfo()", "unknown module type " + std::to_string(iType), EINVAL);
    reset_entry_points();
    dlclose(hModule);
    return FALSE;
  }
  errno = 0;
  if (!resolve_type_specific(hModule, iType, sReason)) {
    if (iType == DB_FILE) {
      trace("DLSYM file specific: %s", sReason.c_str());
      load_failed("dlsym(FILE)", sReason, EADDRNOTAVAIL);
    } else {
      trace("DLSYM stream specific: %s", sReason.c_str());
      load_failed("dlsym(STREAM)", sReason, EADDRNOTAVAIL);
    }
    reset_entry_points();
    dlclose(hModule);
    return FALSE;
  }
  g_sDBInfo = sInfo;
  return TRUE;
}

BOOL LoadDBModule(char *cpDBModule) {
  char *cpCwd = getcwd(nullptr, 0);
  BOOL bOk = vrk_db_load(cpDBModule, cpCwd);
  free(cpCwd);
  return bOk;
}

BOOL UnLoadDBModule(void) { return TRUE; }
