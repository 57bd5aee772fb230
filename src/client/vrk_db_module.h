/* The C interface between the client and a database module: the shared
 * library's "DB_" entry points, their argument records and result numbers. */
#ifndef VRK_CLIENT_VRK_DB_MODULE_H
#define VRK_CLIENT_VRK_DB_MODULE_H

#include "runtime/vrk_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Types owned by other units; the module receives pointers to them only. */
struct _dictionary_;
struct PathRelocContext;
struct sF;

/* What kind of work the module does. */
typedef enum DB_TYPE {
  DB_FILE_PREPARE = 0, /* names files that it first prepares */
  DB_STREAM = 1,       /* produces or consumes a byte stream */
  DB_FILE = 2,         /* names files to save */
  DB_FILE_STREAM = 3   /* both */
} DB_TYPE;

/* Filled by DB_GetInfo; the strings belong to the module and may be NULL. */
typedef struct TYPE_DB_Info {
  char *cpDBClient;
  char *cpDBVersion;
  char *cpDBRelDate;
  DB_TYPE eDBType;
  BOOL bProvideUnicode;
} TYPE_DB_Info;

#define DB_ERROR_TYPE_SIZE 64
#define DB_ERROR_MSG_SIZE 1024

/* Filled by DB_GetError; the client terminates both texts itself. */
typedef struct TYPE_DB_Error {
  uint32_t ulDBErrorCode;
  char szDBErrorType[DB_ERROR_TYPE_SIZE]; /* the severity word */
  char szDBErrorMsg[DB_ERROR_MSG_SIZE];
} TYPE_DB_Error;

typedef enum DB_OPERATION_TYPE {
  DB_TYPE_BCK = 1,
  DB_TYPE_RST = 2,
  DB_TYPE_DIR = 3
} DB_OPERATION_TYPE;

typedef enum DB_OPERATION_LEVEL {
  DB_LEVEL_COPY = 0,
  DB_LEVEL_FULL = 1,
  DB_LEVEL_DIFF = 2,
  DB_LEVEL_INCR = 3,
  DB_LEVEL_SLCT = 4
} DB_OPERATION_LEVEL;

typedef enum DB_ITEM_TYPE {
  DB_ITEM_TYPE_DIRECTORY = 1,
  DB_ITEM_TYPE_FILE = 2,
  DB_ITEM_TYPE_SITE = 3
} DB_ITEM_TYPE;

typedef enum DB_ITEM_RESULT {
  DB_ITEM_SUCCESS = 1,
  DB_ITEM_WARNING = 2,
  DB_ITEM_FAIL = 3
} DB_ITEM_RESULT;

/* Results of the module's functions. */
#define DB_NUM_I_ITEM 3000     /* item delivered */
#define DB_NUM_I_COMPLETE 3001 /* no more items: nothing (more) to do */
#define DB_NUM_W_ITEM 2000     /* warning for the item */
#define DB_NUM_E_ITEM 1001     /* failure of the item */
#define DB_NUM_E_OPERATION 1000 /* failure of the operation */

#define DB_PARAM_SHORT 512
#define DB_PARAM_LONG 1024

/* The parameter record handed to the module with DB_InitOperation. Every text
 * is terminated; a value the client does not have is an empty text. */
typedef struct sVRK_DB {
  char *cpDummyParameter; /* not set */
  int iLogLevel;
  char szAddArg[DB_PARAM_LONG];
  struct _dictionary_ *dictAddArg;
  char szUser[DB_PARAM_SHORT];
  char szPass[DB_PARAM_SHORT];
  char szSaveset[DB_PARAM_SHORT];
  char szServer[DB_PARAM_SHORT];
  char szTmpDir[DB_PARAM_SHORT];
  char szWorkDir[DB_PARAM_SHORT];
  char szTargetArg[DB_PARAM_LONG];
  char szInterpreter[DB_PARAM_LONG];
  struct PathRelocContext *relocCtx;
} sVRK_DB;

/* Size of every text buffer that the module fills (DB_GetItem's three and
 * DB_PrepareItem's new file name), terminating NUL included. A text that is
 * not terminated within it is refused by the client. */
#define DB_ITEM_BUFSIZE 1024

/* The log and trace callbacks that the client hands to the module. */
typedef void (*DB_MSG_FUNC)(char *cpMsg);

/* Entry points, exported by the module under the names in the comments. */
typedef int (*DB_GETINFO_FUNC)(TYPE_DB_Info *psInfo);                 /* DB_GetInfo */
typedef int (*DB_INITOPERATION_FUNC)(DB_OPERATION_TYPE eType, DB_OPERATION_LEVEL eLevel,
                                     char **cppVars, sVRK_DB *psParam); /* DB_InitOperation */
typedef int (*DB_CLOSEOPERATION_FUNC)(char **cppVars);               /* DB_CloseOperation */
typedef int (*DB_SETLOG_FUNC)(DB_MSG_FUNC fpLog);                    /* DB_SetLog */
typedef int (*DB_SETTRACE_FUNC)(DB_MSG_FUNC fpTrace);                /* DB_SetTrace */
typedef int (*DB_GETERROR_FUNC)(TYPE_DB_Error *psError);             /* DB_GetError */
typedef int (*DB_READBLOCK_FUNC)(char *cpBlock, unsigned int *puiLength); /* DB_ReadBlock */
typedef int (*DB_WRITEBLOCK_FUNC)(char *cpBlock, unsigned int uiLength);  /* DB_WriteBlock */
typedef int (*DB_GETITEM_FUNC)(char *cpBackupDir, char *cpOrigDir, char *cpFile); /* DB_GetItem */
typedef int (*DB_ITEMFINISHSTATUS_FUNC)(DB_ITEM_RESULT eResult); /* DB_ItemFinishStatus */
typedef int (*DB_SETITEM_FUNC)(DB_ITEM_TYPE eType, char *cpItem); /* DB_SetItem */
typedef int (*DB_PREPAREITEM_FUNC)(const char *cpItem, char *cpNewFile); /* DB_PrepareItem */
typedef int (*DB_OPENITEM_FUNC)(char *cpDatabase, char *cpServer);       /* DB_OpenItem */
typedef int (*DB_CLOSEITEM_FUNC)(char *cpDatabase, char *cpServer, int iState); /* DB_CloseItem */
typedef int (*DB_DIRITEM_FUNC)(struct sF *psEntry);                      /* DB_DirItem */

#ifdef __cplusplus
}
#endif

#endif
