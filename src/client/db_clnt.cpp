// DBOperation: loads the database module named in the global state, prepares
// its operation and, for a backup, fetches the first item it offers.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "client/vrk_db_internal.h"
#include "client/vrk_global.h"
#include "client/vrk_patterns.h"
#include "runtime/vrk_log.h"

namespace {

// Remembers the working directory and returns to it when asked or at the
// latest when it goes out of scope.
class WorkingDir {
 public:
  WorkingDir() : fd_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    char *cp = getcwd(nullptr, 0);
    if (cp != nullptr) path_ = cp;
    free(cp);
  }
  ~WorkingDir() { restore(); }
  WorkingDir(const WorkingDir &) = delete;
  WorkingDir &operator=(const WorkingDir &) = delete;
  bool ok() const { return fd_ >= 0 && !path_.empty(); }
  const char *path() const { return path_.c_str(); }
  // Back to the remembered directory: true, or false with a message.
  bool restore() {
    if (fd_ < 0) return true;
    bool bOk = fchdir(fd_) == 0;
    if (!bOk)
      vrk_log(1500, "DBOperation: cannot return to the working directory [%s]: %s", path_.c_str(),
              strerror(errno));
    close(fd_);
    fd_ = -1;
    return bOk;
  }

 private:
  int fd_;
  std::string path_;
};

// Copies into a field of the global state; a text too long for it fails the
// operation with a message.
bool put_global(char *cpField, size_t nSize, const std::string &sValue) {
  if (vrk_db_copy(cpField, nSize, sValue.c_str())) return true;
  vrk_log(1146, ("Item name too long: " + sValue).c_str());
  return false;
}

// A text buffer the module filled must be terminated inside its size.
bool module_texts_ok(const char *cpCall, std::initializer_list<const char *> bufs) {
  for (const char *cp : bufs) {
    if (!vrk_db_terminated(cp, DB_ITEM_BUFSIZE)) {
      vrk_log(1146, (std::string(cpCall) + "() returned a text longer than " +
                     std::to_string(DB_ITEM_BUFSIZE - 1) + " characters")
                        .c_str());
      return false;
    }
  }
  return true;
}

// Handles a warning (2000), item failure (1001) or operation failure (1000)
// of the named call for the item: 0 to go on, -1 to end the operation.
int item_result(const char *cpCall, int iResult, const char *cpItem) {
  TYPE_DB_Error sErr;
  switch (iResult) {
    case DB_NUM_W_ITEM:
      DB_FetchError(&sErr);
      trace("Backup(vrk): %s() returned warning for item: [%s]", cpCall, cpItem);
      trace("Backup(vrk): %s() warning with system error code: [%d], Severity: [%s]", cpCall,
            (int)sErr.ulDBErrorCode, sErr.szDBErrorType);
      trace("%s", sErr.szDBErrorMsg);
      vrk_log(2076, cpItem);
      return 0;
    case DB_NUM_E_ITEM:
      DB_FetchError(&sErr);
      trace("Backup(vrk): %s() failed for item: [%s]", cpCall, cpItem);
      trace("Backup(vrk): %s() failed with system error code: [%d], Severity: [%s]", cpCall,
            (int)sErr.ulDBErrorCode, sErr.szDBErrorType);
      vrk_log(3008, cpItem);
      vrk_log(2012, cpItem, sErr.szDBErrorMsg);
      spGlobal->sVRKObject.ulNotSaved++;
      return 0;
    case DB_NUM_E_OPERATION:
      DB_FetchError(&sErr);
      trace("Backup: %s() failed. System error code: [%d], Severity: [%s]", cpCall,
            (int)sErr.ulDBErrorCode, sErr.szDBErrorType);
      vrk_log(1146, sErr.szDBErrorMsg);
      return -1;
    default:
      vrk_log(1146, (std::string("Unexpected result ") + std::to_string(iResult) + " of " +
                     cpCall + "()")
                        .c_str());
      return -1;
  }
}

bool excluded(const char *cpFile) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  if (o->iExcludeFile < 0 && o->cpExclude[0] == nullptr) return false;
  return vrk_match_exclude(cpFile) == 1;
}

// First item of a module that names files it first prepares.
int first_prepared_item() {
  _sVRKObject *o = &spGlobal->sVRKObject;
  char szPath[DB_ITEM_BUFSIZE] = "", szOrig[DB_ITEM_BUFSIZE] = "", szFile[DB_ITEM_BUFSIZE] = "";
  trace("Backup(vrk): ATTENTION DB_FILE_PREPARE");
  int iResult = DB_GetItem(szPath, szOrig, szFile);
  if (!module_texts_ok("DB_GetItem", {szPath, szOrig, szFile})) return -1;
  trace("Backup(vrk): DB_GetItem() returned item: [%s] state %d", szFile, iResult);
  if (iResult == DB_NUM_I_COMPLETE) {
    vrk_log(1500, "*** First run of DB_GetItem returned DB_NUM_I_COMPLETE");
    return 0;
  }
  const char *cpCall = "DB_GetItem";
  if (iResult == DB_NUM_I_ITEM) {
    if (!put_global(o->szItem, sizeof(o->szItem), szFile)) return -1;
    if (excluded(szFile)) {
      if (spGlobal->iLogLevel > 0) vrk_log(3014, szFile);
      o->ulNotSaved++;
      spGlobal->bItemFinishedOK = FALSE;
      vrk_log(2500, "*** First item [%s] excluded!", szFile);
      return 0;
    }
    szPath[0] = '\0';
    iResult = DB_PrepareItem(szFile, szPath);
    if (!module_texts_ok("DB_PrepareItem", {szPath})) return -1;
    trace("Got item szDBFile [%s], located in szDBPath [%s]", szFile, szPath);
    if (!put_global(o->szDBItem, sizeof(o->szDBItem), szFile)) return -1;
    cpCall = "DB_PrepareItem";
    if (iResult == DB_NUM_I_COMPLETE) {
      trace("Backup: No more files for DATABASE backup.");
      return 0;
    }
  }
  if (!put_global(o->szItem, sizeof(o->szItem), szPath)) return -1;
  int iRc = iResult == DB_NUM_I_ITEM ? 0 : item_result(cpCall, iResult, o->szItem);
  trace("Backup(vrk): %s() item: [%s]", cpCall, o->szItem);
  return iRc;
}

// First item of a module that names files to save.
int first_file_item() {
  _sVRKGlobal *g = spGlobal;
  _sVRKObject *o = &g->sVRKObject;
  char szPath[DB_ITEM_BUFSIZE] = "", szOrig[DB_ITEM_BUFSIZE] = "", szFile[DB_ITEM_BUFSIZE] = "";
  int iResult = DB_GetItem(szPath, szOrig, szFile);
  if (!module_texts_ok("DB_GetItem", {szPath, szOrig, szFile})) return -1;
  if (!put_global(g->szDB_OrigPath, sizeof(g->szDB_OrigPath), szOrig)) return -1;
  trace("Got item szDBPath [%s], spGlobal->szDB_OrigPath [%s], szDBFile [%s]", szPath,
        g->szDB_OrigPath, szFile);
  if (!put_global(o->szDBItem, sizeof(o->szDBItem), std::string(szOrig) + "/" + szFile))
    return -1;
  if (iResult == DB_NUM_I_COMPLETE) {
    trace("Backup: No more files for DATABASE backup.");
    return 0;
  }
  if (!put_global(o->szItem, sizeof(o->szItem), std::string(szPath) + "/" + szFile)) return -1;
  int iRc = iResult == DB_NUM_I_ITEM ? 0 : item_result("DB_GetItem", iResult, o->szItem);
  trace("Backup(vrk): DB_GetItem() item: [%s]", o->szItem);
  return iRc;
}

int first_item() {
  _sVRKGlobal *g = spGlobal;
  trace("Fetch 1st Item call DB_GetItem()");
  g->sVRKObject.szItem[0] = '\0';
  g->sVRKObject.szDBItem[0] = '\0';
  g->szDB_OrigPath[0] = '\0';
  int iType = (int)DB_LoadedInfo()->eDBType;
  if (iType == DB_FILE_PREPARE) return first_prepared_item();
  if (iType == DB_FILE || g->bDB_VMDKoperation) return first_file_item();
  vrk_log(1146, "Unsupported DB module type");
  return -1;
}

}  // namespace

int DBOperation(FH_VRK_DATA_FUNC fh_vrk_data_func) {
  (void)fh_vrk_data_func;
  _sVRKGlobal *g = spGlobal;
  bool bNotes = strcmp(g->szDB_Module, VRK_DB_NOTES_MODULE) == 0;
  DBNotesSetup sNotes;
  if (bNotes && !vrk_db_notes_prepare(&sNotes)) return -1;

  vrk_log(3064);
  WorkingDir wd;
  if (bNotes) {
    if (!wd.ok()) {
      vrk_log(1500, "DBOperation: cannot remember the working directory: %s", strerror(errno));
      return -1;
    }
    vrk_db_give_dirs(sNotes.iUid, sNotes.iGid);
    if (!vrk_db_notes_switch(sNotes)) return -1;
    if (chdir(sNotes.sProgramDir.c_str()) != 0) {
      vrk_log(1500, "DBOperation: cannot change to the Notes program directory [%s]: %s",
              sNotes.sProgramDir.c_str(), strerror(errno));
      return -1;
    }
  }

  if (!vrk_db_load(g->szDB_Module, wd.path())) {
    vrk_log(3500, "LoadDBModule ( %s ) failed", g->szDB_Module);
    UnLoadDBModule();
    return -1;
  }
  if (!wd.restore()) return -1;

  trace("DBOperation: Calling DB_GetInfo()...");
  const TYPE_DB_Info *psInfo = DB_LoadedInfo();
  std::string sBanner = std::string("DATABASE SUPPORT: ") + vrk_db_str(psInfo->cpDBClient) +
                        ", VERSION: " + vrk_db_str(psInfo->cpDBVersion) +
                        ", Released: " + vrk_db_str(psInfo->cpDBRelDate);
  vrk_log(3036, sBanner.c_str());
  switch (psInfo->eDBType) {
    case DB_STREAM:
      g->bDB_StrmMethod = TRUE;
      break;
    case DB_FILE:
      g->bDB_FileMethod = TRUE;
      break;
    case DB_FILE_PREPARE:
      g->bDB_FilePrepareMethod = TRUE;
      break;
    default:
      break;
  }

  trace("DBOperation: Trace level: [%d], calling DB_SetLog()...", g->iLogLevel);
  DB_SetLog(DB_Log);
  if (g->iLogLevel > 2) {
    trace("DBOperation: Trace level: [%d], calling DB_SetTrace()...", g->iLogLevel);
    DB_SetTrace(DB_Trace);
  }

  trace("DBOperation: call DB_Init()");
  if (DB_Init() != DB_INIT_READY) return -1;
  g->eBackupType = FULL;
  if (g->eOPERATION != BACKUP) return 0;
  return first_item();
}
