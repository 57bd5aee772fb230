/* A database module for the loader's tests: its type comes from the build,
 * its answers from VRKDB_* variables, and it records each call it gets. */
#include <grp.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "client/vrk_db_module.h"

/* VRKDB_TYPE is the number of the module type: 0 FILE_PREPARE, 1 STREAM,
 * 2 FILE, 3 FILE_STREAM (the preprocessor does not know the enumerators). */

static DB_MSG_FUNC g_fpLog = NULL;
static DB_MSG_FUNC g_fpTrace = NULL;

/* Appends one line to the file named by VRKDB_RECORD. */
static void record(const char *cpFormat, ...) __attribute__((format(printf, 1, 2)));

static void record(const char *cpFormat, ...) {
  const char *cpFile = getenv("VRKDB_RECORD");
  if (cpFile == NULL || *cpFile == '\0') return;
  FILE *fp = fopen(cpFile, "a");
  if (fp == NULL) return;
  va_list vl;
  va_start(vl, cpFormat);
  vfprintf(fp, cpFormat, vl);
  va_end(vl);
  fputc('\n', fp);
  fclose(fp);
}

/* Where and as whom the module was loaded (once per process). */
__attribute__((constructor)) static void loaded(void) {
  char szCwd[1024] = "";
  if (getcwd(szCwd, sizeof(szCwd)) == NULL) strcpy(szCwd, "?");
  record("load uid=%d cwd=%s", (int)geteuid(), szCwd);
}

static const char *env_text(const char *cpName, const char *cpDefault) {
  const char *cp = getenv(cpName);
  return cp != NULL ? cp : cpDefault;
}

static int env_int(const char *cpName, int iDefault) {
  const char *cp = getenv(cpName);
  return cp != NULL && *cp != '\0' ? atoi(cp) : iDefault;
}

/* Fills a client buffer of DB_ITEM_BUFSIZE bytes; VRKDB_UNTERMINATED leaves
 * the named buffer without its NUL. */
#if VRKDB_TYPE != 1
static void fill(char *cpBuf, const char *cpVar, const char *cpDefault) {
  const char *cpBad = getenv("VRKDB_UNTERMINATED");
  if (cpBad != NULL && strcmp(cpBad, cpVar) == 0) {
    memset(cpBuf, 'x', DB_ITEM_BUFSIZE);
    return;
  }
  snprintf(cpBuf, DB_ITEM_BUFSIZE, "%s", env_text(cpVar, cpDefault));
}
#endif

int DB_GetInfo(TYPE_DB_Info *psInfo) {
  record("GetInfo");
  if (getenv("VRKDB_NULL_INFO") != NULL) {
    psInfo->cpDBClient = psInfo->cpDBVersion = psInfo->cpDBRelDate = NULL;
  } else {
    psInfo->cpDBClient = (char *)"TESTDB";
    psInfo->cpDBVersion = (char *)"1.2";
    psInfo->cpDBRelDate = (char *)"2026-01-02";
  }
  psInfo->eDBType = (DB_TYPE)env_int("VRKDB_REPORTED_TYPE", VRKDB_TYPE);
  psInfo->bProvideUnicode = 0;
  return DB_NUM_I_ITEM;
}

int DB_InitOperation(DB_OPERATION_TYPE eType, DB_OPERATION_LEVEL eLevel, char **cppVars,
                     sVRK_DB *psParam) {
  record("InitOperation type=%d level=%d", (int)eType, (int)eLevel);
  for (char **cpp = cppVars; cpp != NULL && *cpp != NULL; ++cpp) record("var %s", *cpp);
  record("param loglevel=%d user=%s pass=%s saveset=%s server=%s tmp=%s work=%s target=%s "
         "interp=%s addarg=%s dict=%d reloc=%d",
         psParam->iLogLevel, psParam->szUser, psParam->szPass, psParam->szSaveset,
         psParam->szServer, psParam->szTmpDir, psParam->szWorkDir, psParam->szTargetArg,
         psParam->szInterpreter, psParam->szAddArg, psParam->dictAddArg != NULL,
         psParam->relocCtx != NULL);
  char szCwd[1024] = "";
  if (getcwd(szCwd, sizeof(szCwd)) == NULL) strcpy(szCwd, "?");
  gid_t groups[64];
  int nGroups = getgroups(64, groups);
  char szGroups[512] = "";
  for (int i = 0; i < nGroups; ++i) {
    size_t n = strlen(szGroups);
    snprintf(szGroups + n, sizeof(szGroups) - n, "%s%d", i ? "," : "", (int)groups[i]);
  }
  record("ids uid=%d euid=%d gid=%d egid=%d groups=%s cwd=%s", (int)getuid(), (int)geteuid(),
         (int)getgid(), (int)getegid(), szGroups, szCwd);
  record("env PATH=%s", env_text("PATH", ""));
  const char *cpLog = getenv("VRKDB_LOG");
  if (cpLog != NULL) {
    if (g_fpLog != NULL) g_fpLog((char *)cpLog);
    if (g_fpTrace != NULL) g_fpTrace((char *)cpLog);
    if (g_fpLog != NULL) g_fpLog(NULL);
  }
  return env_int("VRKDB_INIT", 0);
}

int DB_CloseOperation(char **cppVars) {
  record("CloseOperation vars=%s", cppVars != NULL && cppVars[0] == NULL ? "empty" : "some");
  return env_int("VRKDB_CLOSE", 0);
}

int DB_SetLog(DB_MSG_FUNC fpLog) {
  record("SetLog");
  g_fpLog = fpLog;
  g_fpTrace = NULL; /* the client hands the trace over afterwards, if at all */
  return 0;
}

int DB_SetTrace(DB_MSG_FUNC fpTrace) {
  record("SetTrace");
  g_fpTrace = fpTrace;
  return 0;
}

#ifndef VRKDB_NO_GETERROR
int DB_GetError(TYPE_DB_Error *psError) {
  record("GetError");
  psError->ulDBErrorCode = 42;
  snprintf(psError->szDBErrorType, sizeof(psError->szDBErrorType), "%s", "SEVERE");
  if (getenv("VRKDB_ERR_UNTERMINATED") != NULL)
    memset(psError->szDBErrorMsg, 'e', sizeof(psError->szDBErrorMsg));
  else
    snprintf(psError->szDBErrorMsg, sizeof(psError->szDBErrorMsg), "%s",
             env_text("VRKDB_ERRMSG", "module error"));
  return 0;
}
#endif

#if VRKDB_TYPE == 1 || VRKDB_TYPE == 3
int DB_ReadBlock(char *cpBlock, unsigned int *puiLength) {
  const char *cpData = env_text("VRKDB_BLOCK", "block");
  unsigned int n = (unsigned int)strlen(cpData);
  if (n > *puiLength) n = *puiLength;
  memcpy(cpBlock, cpData, n);
  *puiLength = n;
  record("ReadBlock %u", n);
  return DB_NUM_I_ITEM;
}

int DB_WriteBlock(char *cpBlock, unsigned int uiLength) {
  record("WriteBlock %.*s", (int)uiLength, cpBlock);
  return DB_NUM_I_ITEM;
}
#endif

#if VRKDB_TYPE != 1
int DB_GetItem(char *cpBackupDir, char *cpOrigDir, char *cpFile) {
  record("GetItem path=[%s] orig=[%s] file=[%s]", cpBackupDir, cpOrigDir, cpFile);
  fill(cpFile, "VRKDB_FILE", "names.nsf");
  if (VRKDB_TYPE != DB_FILE_PREPARE) {
    fill(cpBackupDir, "VRKDB_PATH", "/backup/dir");
    fill(cpOrigDir, "VRKDB_ORIG", "/orig/dir");
  }
  return env_int("VRKDB_ITEM", DB_NUM_I_ITEM);
}

int DB_ItemFinishStatus(DB_ITEM_RESULT eResult) {
  record("ItemFinishStatus %d", (int)eResult);
  return 0;
}

int DB_SetItem(DB_ITEM_TYPE eType, char *cpItem) {
  record("SetItem %d %s", (int)eType, cpItem);
  return 0;
}
#endif

#if VRKDB_TYPE == 0 && !defined(VRKDB_NO_PREPARE)
int DB_PrepareItem(const char *cpItem, char *cpNewFile) {
  record("PrepareItem item=[%s]", cpItem);
  fill(cpNewFile, "VRKDB_PREPARED", "/work/prepared/names.nsf");
  return env_int("VRKDB_PREPARE", DB_NUM_I_ITEM);
}
#endif
