// Storage client internals: the session table, the global record with the
// current object and storage node, and the shared error and helper calls.
#ifndef VRK_XBSA_XBSA_SESSION_H
#define VRK_XBSA_XBSA_SESSION_H

#include <stdint.h>

#include <string>

#include "runtime/LL.h"
#include "runtime/vrk_types.h"
#include "xbsa/xbsa.h"
#include "xbsa/xbsa_com.h"

#define XBSA_VERSION "4.2A1"
#define XBSA_MAX_SESSIONS 64
#define XBSA_MSG_SIZE 1536
#define XBSA_LINE_SIZE 2048
#define XBSA_FIELD_SIZE 4096
// Wait for a control reply or the storage node's data connection when no
// "BSA_TIMEOUT" is given: the client's default data wait.
#define XBSA_DEFAULT_WAIT 900

// iLastCall bits.
#define XBSA_CALL_BEGINTXN 0x001
#define XBSA_CALL_CREATEOBJECT 0x002
#define XBSA_CALL_ENDDATA 0x008
#define XBSA_CALL_GETOBJECT 0x200
#define XBSA_CALL_INIT 0x400
#define XBSA_CALL_QUERYOBJECT 0x1000

typedef enum { eFTP = 0, eHTTP = 1, eHTTPS = 2 } eConnectionProtocol;

typedef struct _sSMS {
  char szHostName[XBSA_FIELD_SIZE];
  int iPort;
  char szUser[XBSA_FIELD_SIZE];
  char szPass[XBSA_FIELD_SIZE];
  char szName[XBSA_LINE_SIZE];
  char szPath[XBSA_FIELD_SIZE];
  char szTape[XBSA_FIELD_SIZE];
  char szMode[XBSA_FIELD_SIZE];
  char szTapeBlock[XBSA_FIELD_SIZE];
  char szInfo[XBSA_FIELD_SIZE];
  char szTapeLabel[XBSA_FIELD_SIZE];
  char szInter[XBSA_FIELD_SIZE];
  unsigned long ulTapeID;
  unsigned long ulSegmentNum;
  int iTCPBufsiz;
  double dSavesetOffset;
  double dLength;
  int iOpStatus;
} _sSMS;

typedef struct _sObject {
  BSA_ObjectDescriptor sBSA_Object;
  BSA_ObjectOwner sBSA_ObjectOwner;
  _sSMS sSMS;
} _sObject;

typedef struct _sSession {
  int32_t lBSAHandle;
  int iLastCall;
  char szLastMessage[XBSA_MSG_SIZE];
  int iOpStatus;
  double dBytes;
  int SControl;  // -1 when closed
  int SData;     // -1 when closed
  int iPortStart;
  int iPortEnd;
  eConnectionProtocol eProtocol;
  void *curl_handle;
  BOOL bInUse;   // issued by BSAInit and not yet terminated
  BOOL bDataStalled;  // the data connection moved nothing within the wait
} _sSession;

typedef struct _sGlobal {
  _sObject sObject;
  STUCT_COM_INPUT sCOM;
  BSA_QueryDescriptor sQueryDescriptor;
  t_LL LL_BSA_ObjectDescriptor;  // pending query results (BSA_ObjectDescriptor)
  unsigned long ulTimeOut;
  unsigned char ucXBSATraceLevel;
  BSA_TraceFunc vpExternalTraceFunc;
  int iReadTraceEnvironment;
  char szLogFile[XBSA_FIELD_SIZE];
  int hLogFile;
  char cpTraceBuffer[XBSA_MSG_SIZE];
  int iComSession;
  BOOL bComSessionOpened;
} _sGlobal;

extern _sSession sSession[XBSA_MAX_SESSIONS];
extern _sGlobal sGlobal;
extern long glSessionIndex;
extern unsigned int giSessionCounter;
// Ends of the object met by BSAGetData in a row; a new read transfer starts
// again from 0.
extern int giNoMoreData;
// Drops what BSASendData gathered for the slot's FTP-like data connection
// (a transfer ended without BSAEndData).
void xbsa_ftp_discard_stage(_sSession *sp);
// Marks the slot's FTP-like transfer interrupted (safe in a signal handler):
// later sends fail and nothing gathered is sent.
void xbsa_ftp_interrupt(_sSession *sp);

// Slot of an open session, or NULL for any handle that names none.
_sSession *xbsa_find_slot(long bsaHandle);
// Takes a free slot for a new handle; NULL when all are taken.
_sSession *xbsa_take_slot(long bsaHandle);
// Sets the global record to its initial presets.
void xbsa_init_global();
// Clears the global record to zeros (as BSATerminate does), freeing the
// pending query results.
void xbsa_clear_global();
// Resets the whole library (tests only): session table, counters, record.
void xbsa_reset_library();

// Error text builder: static buffer, kept as the last error when none is
// pending.
char *SysErrorTxt(unsigned long dwSysErrCode, int iErrFlag, const char *cpAddDesc, ...)
    __attribute__((format(printf, 3, 4)));
int GetSockErrCode();
// The library's one last-error text (first slot's szLastMessage).
char *xbsa_last_message();
// Replaces the last-error text.
void xbsa_set_last_message(const char *cpText);

void sms_parseinfo(const char *szMessage);
void getComParams(char **environmentPtr);
char *xbsa_getenv(const char *cpEnvVar);
void xbsa_read_environment();
const char *sib_bsacopytype(BSA_CopyType eType);
const char *sib_bsaobjecttype(BSA_ObjectType eType);
const char *sib_bsaobjectstatus(BSA_ObjectStatus eStatus);

// Environment entry "NAME=value": the value when the entry's key is exactly
// cpName, else NULL.
const char *xbsa_env_value(const char *cpEntry, const char *cpName);

// Service URL ("BSA_SERVICE_HOST" value) split into protocol, host and port
// text; 0 on success, -1 when the host or port does not fit or is empty.
int xbsa_parse_service_host(const char *cpValue, eConnectionProtocol *pProtocol, char *cpHost,
                            unsigned int uiHostLen, char *cpPort, unsigned int uiPortLen);

// Splits an owner text "USER=<user>:PASS=<password>" into szUser and szPass
// of the current object; 0, or -1 with the last error set.
int xbsa_split_owner(const char *cpOwner, unsigned int uiOwnerLen, const char *cpCaller);

// Transport dispatch: opens the transfer of a session (1 write, 2 read).
int xbsa_open(long bsaHandle, int iMode);
int xbsa_prepare_commands(char **cpaCommands, int iMode);
int xbsa_authorize(BSA_SecurityToken *tokenPtr, BSA_ObjectOwner *objectOwnerPtr);

#endif
