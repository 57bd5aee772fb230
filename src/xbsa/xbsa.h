/* Public interface of the storage client: the X/Open Backup Services API
   types, return codes and calls, the trace hook and the signal-safe accessors. */
#ifndef VRK_XBSA_XBSA_H
#define VRK_XBSA_XBSA_H

#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Field sizes of the X/Open types. */
#define BSA_MAX_BSAOBJECTOWNER 64
#define BSA_MAX_APPOBJECTOWNER 64
#define BSA_MAX_OSNAME 1024
#define BSA_MAX_PATHNAME 1024
#define BSA_MAX_TOKEN_SIZE 64
#define BSA_MAX_RESOURCETYPE 31
#define BSA_MAX_DESC 100
#define BSA_MAX_OBJINFO 256
#define BSA_MAX_RSV 31

/* Return codes. */
#define BSA_RC_SUCCESS 0
#define BSA_RC_ABORT_SYSTEM_ERROR 3
#define BSA_RC_AUTHENTICATION_FAILURE 4
#define BSA_RC_INVALID_CALL_SEQUENCE 5
#define BSA_RC_INVALID_HANDLE 6
#define BSA_RC_INVALID_VOTE 11
#define BSA_RC_NO_MATCH 17
#define BSA_RC_NO_MORE_DATA 18
#define BSA_RC_OBJECT_NOT_FOUND 26
#define BSA_RC_TRANSACTION_ABORTED 32
#define BSA_RC_INVALID_DATABLOCK 52
#define BSA_RC_VERSION_NOT_SUPPORTED 75
#define BSA_RC_ACCESS_FAILURE 77
#define BSA_RC_BUFFER_TOO_SMALL 78
#define BSA_RC_INVALID_COPYID 79
#define BSA_RC_INVALID_ENV 80
#define BSA_RC_INVALID_OBJECTDESCRIPTOR 81
#define BSA_RC_INVALID_QUERYDESCRIPTOR 83
#define BSA_RC_NULL_ARGUMENT 85

typedef uint16_t BSA_UInt16;
typedef uint32_t BSA_UInt32;
typedef int32_t BSA_Int32;

typedef struct {
  BSA_UInt32 left;  /* high 32 bits */
  BSA_UInt32 right; /* low 32 bits */
} BSA_UInt64;

typedef struct {
  BSA_UInt16 issue;
  BSA_UInt16 version;
  BSA_UInt16 level;
} BSA_ApiVersion;

typedef char BSA_SecurityToken[BSA_MAX_TOKEN_SIZE];

typedef enum { BSA_CopyType_ANY = 1, BSA_CopyType_ARCHIVE = 2, BSA_CopyType_BACKUP = 3 } BSA_CopyType;
typedef enum {
  BSA_ObjectType_ANY = 1,
  BSA_ObjectType_FILE = 2,
  BSA_ObjectType_DIRECTORY = 3,
  BSA_ObjectType_OTHER = 4
} BSA_ObjectType;
typedef enum {
  BSA_ObjectStatus_ANY = 1,
  BSA_ObjectStatus_MOST_RECENT = 2,
  BSA_ObjectStatus_NOT_MOST_RECENT = 3
} BSA_ObjectStatus;
typedef enum { BSA_Vote_COMMIT = 1, BSA_Vote_ABORT = 2 } BSA_Vote;

typedef struct {
  char bsa_ObjectOwner[BSA_MAX_BSAOBJECTOWNER];
  char app_ObjectOwner[BSA_MAX_APPOBJECTOWNER];
} BSA_ObjectOwner;

typedef struct {
  char objectSpaceName[BSA_MAX_OSNAME];
  char pathName[BSA_MAX_PATHNAME];
} BSA_ObjectName;

typedef struct {
  BSA_UInt32 rsv1;
  BSA_ObjectOwner objectOwner;
  BSA_ObjectName objectName;
  struct tm createTime;
  BSA_CopyType copyType;
  BSA_UInt64 copyId;
  BSA_UInt64 restoreOrder;
  char rsv2[BSA_MAX_RSV];
  char rsv3[BSA_MAX_RSV];
  BSA_UInt64 estimatedSize;
  char resourceType[BSA_MAX_RESOURCETYPE];
  BSA_ObjectType objectType;
  BSA_ObjectStatus objectStatus;
  char rsv4[BSA_MAX_RSV];
  char objectDescription[BSA_MAX_DESC];
  char objectInfo[BSA_MAX_OBJINFO];
} BSA_ObjectDescriptor;

typedef struct {
  BSA_ObjectOwner objectOwner;
  BSA_ObjectName objectName;
  struct tm rsv1;
  struct tm rsv2;
  struct tm rsv3;
  struct tm rsv4;
  BSA_CopyType copyType;
  char rsv5[BSA_MAX_RSV];
  char rsv6[BSA_MAX_RSV];
  char rsv7[BSA_MAX_RSV];
  BSA_ObjectType objectType;
  BSA_ObjectStatus objectStatus;
  char rsv8[BSA_MAX_DESC];
} BSA_QueryDescriptor;

typedef struct {
  BSA_UInt32 bufferLen;
  BSA_UInt32 numBytes;
  BSA_UInt32 headerBytes;
  BSA_UInt32 shareId;
  BSA_UInt32 shareOffset;
  void *bufferPtr;
} BSA_DataBlock32;

/* The trace function a program installs: receives one finished line. */
typedef void (*BSA_TraceFunc)(const char *cpLine);

int BSAInit(long *bsaHandlePtr, BSA_SecurityToken *tokenPtr, BSA_ObjectOwner *objectOwnerPtr,
            char **environmentPtr);
int BSAQueryApiVersion(BSA_ApiVersion *apiVersionPtr);
int BSABeginTxn(long bsaHandle);
int BSAEndTxn(long bsaHandle, BSA_Vote vote);
int BSACreateObject(long bsaHandle, BSA_ObjectDescriptor *objectDescriptorPtr,
                    BSA_DataBlock32 *dataBlockPtr);
int BSAGetObject(long bsaHandle, BSA_ObjectDescriptor *objectDescriptorPtr,
                 BSA_DataBlock32 *dataBlockPtr);
int BSASendData(long bsaHandle, BSA_DataBlock32 *dataBlockPtr);
int BSAGetData(long bsaHandle, BSA_DataBlock32 *dataBlockPtr);
int BSAEndData(long bsaHandle);
int BSAQueryObject(long bsaHandle, BSA_QueryDescriptor *queryDescriptorPtr,
                   BSA_ObjectDescriptor *objectDescriptorPtr);
int BSAGetLastError(BSA_UInt32 *sizePtr, char *errorCodePtr);
int BSATerminate(long bsaHandle);

/* Installs the trace function, the trace file name (or "ENVIRONMENT") and
   the level: bits 0-5 verbosity, 64 trace file, 128 standard error. */
void BSASetTrace(BSA_TraceFunc fpExternalTraceFunc, const char *cpExternLogFileName,
                 unsigned char ucTraceLevel);

/* Text of a return code; never NULL. */
const char *xbsa_typeerr(int iFlag);

/* For the signal handler: shuts down (does not close) the data and control
   sockets of an open session, so that a blocked transfer fails and a later
   BSAEndData still closes each descriptor once. Async-signal-safe; 0 when
   the handle names an open session, else -1. */
int xbsa_session_shutdown(long bsaHandle);

/* For the data gate: the byte counter of an open session, or NULL when the
   handle names none. Async-signal-safe. */
double *xbsa_session_bytes(long bsaHandle);

#ifdef __cplusplus
}
#endif

#endif
