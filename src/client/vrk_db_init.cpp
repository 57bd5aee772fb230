// Preparing and ending the module's operation: the parameter record and the
// control variables built from the global state, DB_Init and DB_Close.
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <string>
#include <vector>

#include "client/vrk_db_internal.h"
#include "client/vrk_global.h"
#include "runtime/vrk_log.h"

namespace {

// Most control variables handed over, the NULL end not counted.
constexpr size_t kMaxVars = 511;
// Longest value of a "DATABASE" variable.
constexpr size_t kMaxDatabase = 511;

std::string var(const char *cpName, const char *cpValue) {
  return std::string(cpName) + "=" + vrk_db_str(cpValue);
}

const char *yes_no(BOOL b) { return b ? "YES" : "NO"; }

// Copies a value into a field of the parameter record; a value too long for
// it is refused with a message rather than cut.
bool put_field(char *cpField, size_t nSize, const char *cpName, const char *cpValue) {
  if (vrk_db_copy(cpField, nSize, cpValue)) return true;
  vrk_log(1500, "DB_Init: %s is longer than %d characters: [%s]", cpName, (int)nSize - 1,
          vrk_db_str(cpValue));
  return false;
}

bool fill_params(sVRK_DB *psDB) {
  _sVRKGlobal *g = spGlobal;
  memset(psDB, 0, sizeof(*psDB));
  const char *cpAddArg = g->sVRKObject.cpAdditionalFindArg;
  if (cpAddArg != nullptr && *cpAddArg != '\0') {
    if (!put_field(psDB->szAddArg, sizeof(psDB->szAddArg), "the additional argument", cpAddArg))
      return false;
    psDB->dictAddArg = g->dictAddArg;
  }
  if (!put_field(psDB->szUser, sizeof(psDB->szUser), "the database user", g->szDB_User) ||
      !put_field(psDB->szPass, sizeof(psDB->szPass), "the database password", g->szDB_Pass))
    return false;
  psDB->iLogLevel = g->iLogLevel;
  if (!put_field(psDB->szInterpreter, sizeof(psDB->szInterpreter), "the interpreter",
                 g->sSMS.cpInter) ||
      !put_field(psDB->szTargetArg, sizeof(psDB->szTargetArg), "the relocation argument",
                 g->szTargetArg[0]))
    return false;
  if (g->bDB_VMDKoperation) {
    bool bOk = put_field(psDB->szServer, sizeof(psDB->szServer), "the server", g->cpServer);
    free(g->cpServer);
    g->cpServer = nullptr;
    if (!bOk) return false;
  }
  const char *cpSaveset = g->sSMS.cpSaveset;
  if (cpSaveset == nullptr || *cpSaveset == '\0') cpSaveset = g->sLocalSaveset.szName;
  if (!put_field(psDB->szTmpDir, sizeof(psDB->szTmpDir), "the tmp directory", g->sDirs.cpTmp) ||
      !put_field(psDB->szWorkDir, sizeof(psDB->szWorkDir), "the work directory",
                 g->sDirs.cpWork) ||
      !put_field(psDB->szSaveset, sizeof(psDB->szSaveset), "the saveset", cpSaveset))
    return false;
  psDB->relocCtx = g->RelocationContext;
  return true;
}

// One "DATABASE" variable per item, in order, until the first empty slot.
bool add_databases(std::vector<std::string> &vVars) {
  trace("DB_Init: Retrieving DATABASE source list ...");
  char **cppItem = spGlobal->sVRKObject.cpItem;
  for (int i = 0; i < VRK_MAX_ITEMS && cppItem[i] != nullptr && *cppItem[i] != '\0'; ++i) {
    trace("DB_Init: got source: %s", cppItem[i]);
    const char *cp = cppItem[i];
    if (strncmp(cp, "VRKLN:", 6) == 0) cp += 6;
    std::string sValue = strcasecmp(cp, "all") == 0 ? std::string("ALL") : std::string(cp);
    if (sValue.size() > kMaxDatabase) {
      vrk_log(1500, "DB_Init: database name is longer than %d characters: [%s]",
              (int)kMaxDatabase, sValue.c_str());
      return false;
    }
    trace("DB_Init: set szDATABASEVar: [%s]", sValue.c_str());
    vVars.push_back(var("DATABASE", sValue.c_str()));
    trace("DB_Init: DATABASE variable created: [%s]", vVars.back().c_str());
  }
  trace("DB_Init: No more DATABASE variables.");
  return true;
}

bool build_vars(std::vector<std::string> &vVars) {
  _sVRKGlobal *g = spGlobal;
  if (g->szDB_User[0] != '\0') vVars.push_back(var("DB_USER", g->szDB_User));
  if (g->szDB_Pass[0] != '\0') vVars.push_back(var("DB_PWD", g->szDB_Pass));
  vVars.push_back("VERBOSE=" + std::to_string(g->iLogLevel));
  vVars.push_back(var("RAW_FORMAT", g->eHdrFmt == HDR_RAW ? "YES" : "NO"));
  if (g->bDB_VMDKoperation)
    vVars.push_back(g->bDB_ConfigOnly ? "CONFIG_ONLY=YES" : "CONFIG_ONLY=NO");
  if (!add_databases(vVars)) return false;
  const char *dirs[][2] = {{"INI_DIR", g->sDirs.cpIni},
                           {"TMP_DIR", g->sDirs.cpTmp},
                           {"WORK_DIR", g->sDirs.cpWork}};
  for (auto &d : dirs) {
    vVars.push_back(var(d[0], d[1]));
    trace("DB_Init: array variable created: [%s]", vVars.back().c_str());
  }
  if (g->tBackupFrom > 0) {
    struct tm tmLocal;
    char szTime[32] = "";
    time_t t = g->tBackupFrom;
    if (localtime_r(&t, &tmLocal) != nullptr)
      strftime(szTime, sizeof(szTime), "%Y%m%d%H%M%S", &tmLocal);
    vVars.push_back(var("SNC_TIME", szTime));
  }
  const char *cpSaveset = g->sSMS.cpSaveset;
  if (cpSaveset == nullptr || *cpSaveset == '\0') cpSaveset = g->sLocalSaveset.szName;
  vVars.push_back(var("SAVESET", cpSaveset));
  if (g->eOPERATION == RESTORE) {
    const char *cpRecovery = "NO";
    if (g->bDB_Recovery) cpRecovery = g->sLocalSaveset.szName[0] != '\0' ? "AFTER" : "YES";
    vVars.push_back(var("RECOVERY", cpRecovery));
    if (g->szDB_UndoFile[0] != '\0') vVars.push_back(var("STANDBY", g->szDB_UndoFile));
    vVars.push_back(var("REPLACE", yes_no(g->bRecoveryOverwrite)));
    vVars.push_back(var("DUPLICATE", yes_no(g->bRecoveryDuplicate)));
    vVars.push_back(var("MERGE", yes_no(g->bRecoveryMerge)));
    vVars.push_back(var("NEWDBIID", yes_no(g->bDB_NewID)));
    vVars.push_back(var("ACTIVATE", yes_no(g->bDB_Activate)));
  }
  if (g->szDB_Notesini[0] != '\0') vVars.push_back(var("NOTESINI", g->szDB_Notesini));
  vVars.push_back(var("INFO", g->cpVRK_CL));
  if (vVars.size() > kMaxVars) {
    vrk_log(1500, "DB_Init: more than %d control variables", (int)kMaxVars);
    return false;
  }
  return true;
}

bool operation_type(DB_OPERATION_TYPE *peType) {
  switch (spGlobal->eOPERATION) {
    case BACKUP:
      *peType = DB_TYPE_BCK;
      return true;
    case RESTORE:
      *peType = DB_TYPE_RST;
      return true;
    case LIST_RESOURCES:
    case DIRLIST:
      *peType = DB_TYPE_DIR;
      return true;
    default:
      vrk_log(1500, "DB_Init: operation %d is not supported by database modules",
              (int)spGlobal->eOPERATION);
      return false;
  }
}

DB_OPERATION_LEVEL operation_level() {
  switch (spGlobal->eBackupType) {
    case FULL:
      return DB_LEVEL_FULL;
    case DIFFERENTIAL:
      return DB_LEVEL_DIFF;
    case INCREMENTAL:
      return DB_LEVEL_INCR;
    default:
      return DB_LEVEL_COPY;
  }
}

}  // namespace

int DB_Init(void) {
  DB_OPERATION_TYPE eType = DB_TYPE_BCK;
  if (!operation_type(&eType)) return DB_INIT_NOT_READY;
  DB_OPERATION_LEVEL eLevel = operation_level();

  sVRK_DB sDB;
  std::vector<std::string> vVars;
  if (!fill_params(&sDB) || !build_vars(vVars)) return DB_INIT_NOT_READY;
  std::vector<char *> vArgv;
  for (std::string &s : vVars) vArgv.push_back(&s[0]);
  vArgv.push_back(nullptr);

  trace("DB_Init: Calling DB_InitOperation() ...");
  int iResult = DB_InitOperation(eType, eLevel, vArgv.data(), &sDB);
  for (const std::string &s : vVars)
    if (s.compare(0, 9, "DATABASE=") == 0) trace("DB_Init: Free database variable: [%s]", s.c_str());
  memset(sDB.szPass, 0, sizeof(sDB.szPass));

  if (iResult == DB_NUM_I_COMPLETE) {
    trace("DB_Init: the database module has nothing to do.");
    spGlobal->iVRKReturnCode = 0;
    return DB_INIT_NOT_READY;
  }
  if (iResult == DB_NUM_E_OPERATION) {
    TYPE_DB_Error sErr;
    DB_FetchError(&sErr);
    trace("DB_Init: DB_InitOperation() failed. System error code: [%d], Severity: [%s]",
          (int)sErr.ulDBErrorCode, sErr.szDBErrorType);
    vrk_log(1146, sErr.szDBErrorMsg);
    return DB_INIT_NOT_READY;
  }
  return DB_INIT_READY;
}

BOOL DB_Close(void) {
  char *cppVars[1] = {nullptr};
  if (DB_CloseOperation(cppVars) == DB_NUM_E_OPERATION) {
    TYPE_DB_Error sErr;
    DB_FetchError(&sErr);
    trace("Backup: DB_CloseOperation() failed. System error code: [%d], Severity: [%s]",
          (int)sErr.ulDBErrorCode, sErr.szDBErrorType);
    vrk_log(1146, sErr.szDBErrorMsg);
    return FALSE;
  }
  return TRUE;
}
