// The engine's per-session record SESSION_INFORMATION with its cluster
// fail-over parameters, and the session control that creates and ends it.
#ifndef VRK_ENGINE_SESSION_H
#define VRK_ENGINE_SESSION_H

#include <stdio.h>

#include "engine/de_types.h"
#include "sms/smsapi.h"

// Bytes of the name, user and password fields of a session.
#define SESSION_NAME_FIELD 300
// Characters of a session name.
#define SESSION_NAME_MAX 24
// The smallest read buffer of a session.
#define SESSION_MIN_BUFFER 65536

typedef struct CluParams {
  int reTries;      // reconnect tries
  int reTryPeriod;  // seconds: upper bound of the random pause between tries
  int waitTime;     // minutes before the first reconnect try
} ClusterParams;

typedef struct _SESSION_INFORMATION {
  int sessionNo;
  UINT32 connection;  // TSA and target-service handle, 0 when not connected
  NWSM_SELECTION_LIST *selectionList;
  NWSM_SCAN_CONTROL scanControl;
  NWSM_SCAN_INFORMATION *scanInfo;
  BUFFER *dataBuffer;  // lBufferSize bytes
  FILE *dataFile;
  FILE *indexFile;
  FILE *logFile;
  DEdataType DEdata;
  char tsaName[SESSION_NAME_FIELD];
  char svcName[SESSION_NAME_FIELD];
  char CuserName[SESSION_NAME_FIELD];
  char CpassWord[SESSION_NAME_FIELD];  // 16-bit length, the bytes, a NUL
  char UPassWord[SESSION_NAME_FIELD];  // 16-bit length, the UTF-8 bytes
  char sName[SESSION_NAME_MAX + 1];
  NWBOOLEAN IsUTF8Supp;
  ClusterParams *clusterparams;
} SESSION_INFORMATION;

// Runs one whole session; returns 0.
int StartSession(const char *sessionName);
// Releases the connection (target service, then TSA) and the record.
void EndSession(int screenHandle, SESSION_INFORMATION *sessionInfo);
// A new record with its data buffer of lBufferSize bytes, or NULL.
SESSION_INFORMATION *GetSessionInfoBuffer(void);
// Frees the selection list, data buffer, log file, cluster parameters and record.
void ReleaseSessionInfoBuffer(SESSION_INFORMATION *sessionInfo);
// Writes the default scan control.
void Init_Scan_Control(NWSM_SCAN_CONTROL *scanControl);
// Gives the session fresh cluster parameters {10, 30, 1}; NULL on no memory.
SESSION_INFORMATION *Init_Cluster_Params(SESSION_INFORMATION *sessionInfo);

#endif
