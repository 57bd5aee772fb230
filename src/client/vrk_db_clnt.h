// The client side of the database modules: the loader, the entry-point
// pointers and their forwarders, the operation set-up and DBOperation.
#ifndef VRK_CLIENT_VRK_DB_CLNT_H
#define VRK_CLIENT_VRK_DB_CLNT_H

#include "client/vrk_db_module.h"
#include "runtime/vrk_types.h"

// The data callback of DBOperation (not used by it).
typedef int (*FH_VRK_DATA_FUNC)(char *cpBlock, unsigned int uiLength);

// One pointer per module function; all NULL until a module is loaded, and
// all cleared again at the start of every load.
extern DB_GETINFO_FUNC g_fpDB_GetInfo;
extern DB_INITOPERATION_FUNC g_fpDB_InitOperation;
extern DB_CLOSEOPERATION_FUNC g_fpDB_CloseOperation;
extern DB_SETLOG_FUNC g_fpDB_SetLog;
extern DB_SETTRACE_FUNC g_fpDB_SetTrace;
extern DB_GETERROR_FUNC g_fpDB_GetError;
extern DB_READBLOCK_FUNC g_fpDB_ReadBlock;
extern DB_WRITEBLOCK_FUNC g_fpDB_WriteBlock;
extern DB_GETITEM_FUNC g_fpDB_GetItem;
extern DB_ITEMFINISHSTATUS_FUNC g_fpDB_ItemFinishStatus;
extern DB_SETITEM_FUNC g_fpDB_SetItem;
extern DB_PREPAREITEM_FUNC g_fpDB_PrepareItem;
extern DB_OPENITEM_FUNC g_fpDB_OpenItem;
extern DB_CLOSEITEM_FUNC g_fpDB_CloseItem;
extern DB_DIRITEM_FUNC g_fpDB_DirItem;

// Loads the module (a second try under the program directory when the first
// fails), resolves the entry points of its type and asks for its info.
// 1 loaded, 0 failed (message 1143; every entry point is then NULL).
BOOL LoadDBModule(char *cpDBModule);
// 1; the module stays loaded.
BOOL UnLoadDBModule(void);
// What the loaded module told about itself (zero before a load).
const TYPE_DB_Info *DB_LoadedInfo(void);

// Forwarders: each calls the module's function of the same name and returns
// its result; when that entry point is not resolved, message 1146 and
// DB_NUM_E_OPERATION, without a call.
int DB_GetInfo(TYPE_DB_Info *psInfo);
int DB_InitOperation(DB_OPERATION_TYPE eType, DB_OPERATION_LEVEL eLevel, char **cppVars,
                     sVRK_DB *psParam);
int DB_CloseOperation(char **cppVars);
int DB_SetLog(DB_MSG_FUNC fpLog);
int DB_SetTrace(DB_MSG_FUNC fpTrace);
int DB_GetError(TYPE_DB_Error *psError);
int DB_ReadBlock(char *cpBlock, unsigned int *puiLength);
int DB_WriteBlock(char *cpBlock, unsigned int uiLength);
int DB_GetItem(char *cpBackupDir, char *cpOrigDir, char *cpFile);
int DB_ItemFinishStatus(DB_ITEM_RESULT eResult);
int DB_SetItem(DB_ITEM_TYPE eType, char *cpItem);
int DB_PrepareItem(const char *cpItem, char *cpNewFile);
int DB_OpenItem(char *cpDatabase, char *cpServer);
int DB_CloseItem(char *cpDatabase, char *cpServer, int iState);
int DB_DirItem(struct sF *psEntry);

// The callbacks handed to the module: message 3103 with the text, and the
// text as a plain info line (3500). NULL is an empty text.
void DB_Log(char *cpMsg);
void DB_Trace(char *cpMsg);

// Fetches the module's error into *psError, both texts terminated (zero
// when the module tells nothing).
void DB_FetchError(TYPE_DB_Error *psError);

// Results of DB_Init: not ready is a failure (logged) or a module with
// nothing to do (iVRKReturnCode 0).
#define DB_INIT_NOT_READY 0
#define DB_INIT_READY 1

// Prepares the module's operation from the global state with the control
// variables; DB_INIT_READY or DB_INIT_NOT_READY.
int DB_Init(void);
// Ends the module's operation: 1, or 0 when the module failed (1146).
BOOL DB_Close(void);

// Loads the module of szDB_Module, prepares its operation and, for a backup,
// fetches its first item. 0 or -1.
int DBOperation(FH_VRK_DATA_FUNC fh_vrk_data_func);

#endif
