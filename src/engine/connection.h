// The session's connection to the SMS world: SMDR and TSA discovery, TSA name
// resolution, connect and login with bounded retries, fail-over and code texts.
#ifndef VRK_ENGINE_CONNECTION_H
#define VRK_ENGINE_CONNECTION_H

#include "engine/session.h"
#include <string>

#include "runtime/LL.h"

// The engine's own general failure.
#define ENGINE_GENERAL_FAILURE 0xFFFBFFFFu
// Result of OpenTarget when the TSA could not be reached.
#define OPEN_TARGET_FAILED 0xFFFFFFFFu
// Tries to connect to the TSA and to log in to the target service.
#define CONNECT_TRIES 5
#define LOGIN_TRIES 5

// Connects and logs in; 0 or the failing completion code. Clears the flag
// behind pbGotClusterTSA first; the TSA name resolution sets it.
CCODE EstablishConnection(SESSION_INFORMATION *sessionInfo, NWBOOLEAN *pbGotClusterTSA);
// One login to the target service svcName on the open connection.
CCODE OpenService(SESSION_INFORMATION *sessionInfo);
// Cluster fail-over: 0 when connected and logged in again, -1 when all tries failed.
int Reconnect(SESSION_INFORMATION *sessionInfo);
// 1 for the completion codes of a lost connection, else 0.
int IsRecoveryError(CCODE ccode);
// Logs the code with its text, as an error when bError is set, else as info.
// sessionInfo may be NULL (no connection yet).
void PrintCode(NWBOOLEAN bError, CCODE ccode, const char *routine, UINT16 line,
               SESSION_INFORMATION *sessionInfo);
// NWSMConnectToTSA on tsaName: the handle, or OPEN_TARGET_FAILED.
UINT32 OpenTarget(SESSION_INFORMATION *sessionInfo, UINT16 numRetry);
// Releases the target service when connected.
void CloseService(SESSION_INFORMATION *sessionInfo);
// Releases the target service and the TSA; the connection is then 0.
void CloseTarget(SESSION_INFORMATION *sessionInfo);
// Lists the SMDRs and defaults szSMDR to the first one.
void ListSMDRs(SESSION_INFORMATION *sessionInfo);
// Lists the TSAs of targetSMDR, resolves tsaName against them and, when
// LL_DirList is given, adds one listing line per TSA to it.
void ListTSAs(const char *targetSMDR, SESSION_INFORMATION *sessionInfo, NWBOOLEAN *pbGotClusterTSA,
              t_LL LL_DirList);
// Resolves szGivenTsaName (a buffer of iSize bytes) against the list.
CCODE SetTSAName(NWSM_NAME_LIST *list, char *szGivenTsaName, int iSize, NWBOOLEAN *pbOESNetWare,
                 NWBOOLEAN *pbClusterTSA);
// Appends the listing line of every name to LL_List; always 0.
CCODE CopyListToLL(NWSM_NAME_LIST *list, t_LL LL_List);
// Shows the names (console in interactive mode, else the log).
void DisplayList(NWSM_NAME_LIST *list);
// Logs the requester, responder and SMS module versions.
void GetSMDRVersionInfo(SESSION_INFORMATION *sessionInfo);
// Lists the target services and defaults szTS to the first one.
void ListTSs(SESSION_INFORMATION *sessionInfo);

// The listing line of one TSA name (a directory entry of the browse format).
std::string TSAListingLine(const char *name);

#endif
