// The one global client state _sVRKGlobal, reached through spGlobal, with
// its enumerations and sub-records, and the defaults filled before parsing.
#ifndef VRK_CLIENT_VRK_GLOBAL_H
#define VRK_CLIENT_VRK_GLOBAL_H

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "runtime/vrk_types.h"

#define VRK_MAX_ITEMS 256
#define VRK_PATH_MAX 4096

typedef enum E_OPERATION {
  OPERATION_NOT_INITIALIZED = 0,
  BACKUP = 1,
  RESTORE = 2,
  PUT = 3,
  GET = 4,
  KILL = 5,
  LIST_RESOURCES = 6,
  DIRLIST = 7
} E_OPERATION;

typedef enum _eBackupType {
  FULL = 0,
  INCREMENTAL = 1,
  DIFFERENTIAL = 2,
  SINCE = 3,
  COPY = 4,
  SELECTIVE = 5,
  RENAME = 6,
  PLAIN = 7,
  E_LIST = 8,
  E_TYPE_DEFAULT = 9,
  E_TYPE_UNKNOWN = 10
} _eBackupType;

typedef enum _eOperStatus {
  STATUS_OK = 0,
  STATUS_WARNING = 1,
  STATUS_ERR_BROK_STR = 2,
  STATUS_ERR_BEF_SAV = 3
} _eOperStatus;

typedef enum _eHdrFmt {
  HDR_UNKNOWN = 0,
  HDR_VRK = 1,
  HDR_CPIO_ASCII = 2,
  HDR_CPIO_NEW = 3,
  HDR_RAW = 4,
  HDR_MTF = 5
} _eHdrFmt;

typedef enum E_VERIFY_OPTION {
  VERIFY_NONE = 0,
  VERIFY_TIME = 1,
  VERIFY_CONTENT = 2,
  VERIFY_LIST = 3
} E_VERIFY_OPTION;

typedef enum _eListOption {
  LIST_NONE = 0,
  LIST_TO_STDERR = 1,
  LIST_TO_STDOUT = 2,
  LIST_TO_SAVESET = 3,
  LIST_ADD = 4
} _eListOption;

typedef enum _eSnapshotType { SNAPSHOT_NONE = 0, SNAPSHOT_TM_LOCAL = 1 } _eSnapshotType;

#ifndef VRK_O_NEWER_COMPARE_POLICY_DEFINED
#define VRK_O_NEWER_COMPARE_POLICY_DEFINED
typedef enum O_NEWER_COMPARE_POLICY {
  COMPARE_POLICY_GT = 0,
  COMPARE_POLICY_EQ = 1,
  COMPARE_POLICY_EXACT_TIME = 2
} O_NEWER_COMPARE_POLICY;
#endif

// Types owned by other units; only pointers to them live in the record.
struct _dictionary_;
typedef struct _dictionary_ dictionary;
struct PathRelocContext;
struct _sGlobal;
struct _sLinkList;

typedef struct _sVRKObject {
  char *cpItem[VRK_MAX_ITEMS];
  char *cpExclude[VRK_MAX_ITEMS];
  char *cpIncludeList;
  int iExcludeFile;
  char szName[80];
  int iGen;
  FILE *fdGen;
  _eOperStatus eOperStatus;
  uint64_t ulSaved;
  uint64_t ulNotSaved;
  uint64_t ulSkipped;
  char szItem[VRK_PATH_MAX];
  char szDBItem[VRK_PATH_MAX];
  int iGenPid;
  int iVrkPid;
  volatile sig_atomic_t iSigRecv;
  char *cpAdditionalFindArg;
  void *psRegEx[VRK_MAX_ITEMS];  // compiled exclude patterns (POSIX regex_t)
  char szEnDecrPassword[628];
  char *cpIgnore[VRK_MAX_ITEMS];
  void *psRegIgnEx[VRK_MAX_ITEMS];  // compiled ignore patterns (POSIX regex_t)
} _sVRKObject;

typedef struct _sVRKMsgTarget {
  char szHostName[VRK_PATH_MAX];
  int iPort;
  char szUser[VRK_PATH_MAX];
  char szPassword[VRK_PATH_MAX];
  char szLogFile[VRK_PATH_MAX];
  FILE *fpLogFileDes;
  int iLeaveLocal;
  int iLogFile;
  char szLogDir[VRK_PATH_MAX];
} _sVRKMsgTarget;

typedef struct _sLocalSaveset {
  char szName[VRK_PATH_MAX];
  int iFilDes;
} _sLocalSaveset;

typedef struct _sDirs {
  char *cpLog;
  char *cpTimes;
  char *cpWork;
  char *cpTmp;
  char *cpBin;
  char *cpIni;
} _sDirs;

typedef struct _sSMSLocal {
  char *cpHost;
  int iPort;
  int iLPortStart;
  int iLPortEnd;
  char *cpUser;
  char *cpPassword;
  char *cpRemoteDir;
  char *cpDevice;
  char *cpMode;
  int iTapeBlockSize;
  char *cpSaveset;
  char *cpInfo;
  char *cpInter;
  uint64_t ulSegmentNumber;
  char *cpTapeLabel;
  uint64_t ulTapeID;
  double dOffset;
  char *cpDATAFlags;
  double dLen;
  int iTCPBufSize;
} _sSMSLocal;

typedef struct _sOptions {
  int iRename;
  int iOverwrite;
  int iPlain;
  int iNext;
  int iNfs;
  int iExFile;
  int iEncrypt;
  int iEncryptPlain;
  int iEncryptMethodNID;
  int iVerify;
  int iNoTrailer;
  int iIgnoreFindErr;
  int iPreserveAccessTime;
  int iIncludeMigratedData;
  int iProcessACL;
  int iSdi;
  int iSkipData;
  int iXdev;
  int iPrint0Flag;
  char cHardLink;
  unsigned int openMode;
  _eListOption eListOption;
  BOOL bNewer;
  BOOL bEANoEA;
  BOOL bEAMerge;
  BOOL bEAExclude;
  _eSnapshotType eSnapshotOption;
  time_t NewerTimeRef;
  O_NEWER_COMPARE_POLICY NewerComparePolicy;
} _sOptions;

typedef struct _sVRKNlm {
  char szSMDR[VRK_PATH_MAX];
  char szTSA[VRK_PATH_MAX];
  char szTS[VRK_PATH_MAX];
  char szUser[VRK_PATH_MAX];
  char szPassword[VRK_PATH_MAX];
  int iRSFlag;
} _sVRKNlm;

typedef struct _sVRKGlobal {
  E_OPERATION eOPERATION;
  _eBackupType eBackupType;
  BOOL bFlatBackup;
  BOOL bRecoveryOverwrite;
  BOOL bRecoveryDuplicate;
  BOOL bRecoveryMerge;
  BOOL bRecoveryFlat;
  BOOL bRecoveryRename;
  BOOL bRecoveryNext;
  BOOL bReplaceVmDisk;
  char *cpVRKProcessName;
  char *cpVRK_CL;
  char szClientHostName[80];
  int iLogLevel;
  char szTraceModule[32];
  char szDTRHost[80];
  time_t tBackupFrom;
  char szTargetPath[VRK_MAX_ITEMS][VRK_PATH_MAX];
  char szPath[VRK_MAX_ITEMS][VRK_PATH_MAX];
  char szTargetArg[VRK_MAX_ITEMS][VRK_PATH_MAX];
  char szVRKDir[VRK_PATH_MAX];
  char szJobName[VRK_PATH_MAX];
  char szDATAarg[VRK_PATH_MAX];
  int iDataWait;
  int iGenWait;
  int iNetWait;
  int iDataBuf;
  _eHdrFmt eHdrFmt;
  int32_t lBSAHandle;
  _sVRKObject sVRKObject;
  struct _sGlobal *spXBSAGlobal;
  int argc;
  char **argv;
  _sVRKMsgTarget sVRKMsgTarget;
  _sLocalSaveset sLocalSaveset;
  _sDirs sDirs;
  _sSMSLocal sSMS;
  _sOptions sOptions;
  _sVRKNlm sVRKNlm;
  int iErrorSet;
  int iKillWait;
  struct _sLinkList *spDeferouts;
  struct PathRelocContext *RelocationContext;
  char szRelocDelimiter[7];
  BOOL bRelocationRequired;
  BOOL bCompress;
  char szCompressMethod[128];
  char szCompressAlgorithms[512];
  BOOL bEncrypt;
  BOOL bEncryptPlain;
  char szEncryptMethod[128];
  char szRawEncryptMethod[128];
  char szEncryptPwd[133];
  char szEncryptAlgorithms[512];
  uint32_t lChkSum;  // running Adler-32 of the stored stream
  E_VERIFY_OPTION eVerifyOption;
  char *cpExcludeMatchType;
  char *cpKorvaVersion;
  char *cpPackage;
  volatile sig_atomic_t iAlarm;
  int iAlarmIntervall;
  int iVerbose;
  int32_t lBufferSize;
  int iVRKReturnCode;
  int iVRKWarningFlag;
  BOOL bSkipDefaultExclude;
  BOOL bSkipIgnore;
  BOOL bXBSACloseMessageIgnore;
  BOOL bDB_Operation;
  BOOL bItemFinishedOK;
  BOOL bDB_StrmMethod;
  BOOL bDB_FileMethod;
  BOOL bDB_FilePrepareMethod;
  BOOL bDB_VMDKoperation;
  char szDB_Keyword[16];
  char szDB_Module[1028];
  BOOL bDB_Recovery;
  BOOL bDB_NewID;
  BOOL bDB_Activate;
  BOOL bDB_Online;
  char szDB_UndoFile[1028];
  char szDB_User[128];
  char szDB_Pass[260];
  char szDB_OrigPath[1028];
  char szDB_Notesini[1028];
  char szINI_DBClients[1028];
  void *g_hDBModule;
  char szPool[VRK_PATH_MAX];
  char szInitiator[VRK_PATH_MAX];
  dictionary *dictAddArg;
  char *cpServer;
  char *cpVCenter;
  char *cpDatacenter;
  char *cpVMX;
  char *cpDB_VMMORef;
  char *cpDB_VMSSMORef;
  char *cpDB_VMTransport;
  BOOL bDB_ConfigOnly;
} _sVRKGlobal;

extern _sVRKGlobal sVRKGlobal;
extern _sVRKGlobal *const spGlobal;

// Fills the defaults into the zeroed record; main calls it once.
void vrk_setdefaults(void);

// Zeroes the whole record again, as main does before the defaults; tests use
// it to start from a clean state.
void vrk_reset_global(void);

#endif
