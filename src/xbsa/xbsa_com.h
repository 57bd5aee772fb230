// Command interface of the storage client for database owners: its tasks,
// its input record and the one entry point every caller goes through.
#ifndef VRK_XBSA_XBSA_COM_H
#define VRK_XBSA_XBSA_COM_H

typedef enum {
  COM_OPEN_SESSION = 1,
  COM_OPEN_WRITE = 2,
  COM_OPEN_READ = 4,
  COM_CLOSE_SESSION = 8,
  COM_CLOSE_WRITE = 16,
  COM_CLOSE_READ = 32,
  COM_INFO = 64,
  COM_REMOVE = 128
} ENUM_COM_TASK;

typedef struct {
  char szKORVAServer[128];
  char szJobName[256];
  char szKORVATapeServer[128];
  char szDrive[8];
  char szPool[256];
  char szCOMTimeOut[8];
  char szInitiator[256];
  char szMySessionID[256];
  char szSessionID[256];
  char szSavesetID[256];
  char szRestoreID[256];
  char szSrcSpec[256];
  int iJobResult;
  int iSessionResult;
} STUCT_COM_INPUT;

// Runs one task of the command-interface program: 1 success, 0 failure.
// Every database-owner call site of the storage client goes through here.
int com_intf(ENUM_COM_TASK I_enumCOMTask, STUCT_COM_INPUT *I_spCOMInput);

// Fills the record from the process environment (owner "INFORMIX"): 1 or 0.
int get_COM_environment(STUCT_COM_INPUT *I_spCOMInput);

#endif
