// The DE record stream of one stored object: opening and closing it through
// the storage client, writing and reading records, and the session files.
#ifndef VRK_ENGINE_DE_STREAM_H
#define VRK_ENGINE_DE_STREAM_H

#include <stdio.h>

#include "engine/session.h"
#include "xbsa/xbsa.h"

// Entries of the XBSA environment array.
#define DE_BSA_ENV_ROWS 16
// The largest record a reader grows its buffer to; a restoring run with a
// larger buffer (-B) takes records up to its own buffer size.
#define DE_READ_BUFFER_CAP (64u * 1024u * 1024u)
// Bytes of one session name in the interactive session file.
#define DE_SESSION_NAME_SIZE 25
// The interactive session file.
#define DE_SESSION_FILE "de-sessn.inf"

extern BSA_ObjectDescriptor sBSAObject;
extern BSA_ObjectOwner sBSAObjectOwner;
extern BSA_SecurityToken sBSASecurityToken;
extern BSA_QueryDescriptor sBSAQueryDescriptor;
extern BSA_DataBlock32 sBSADataBlock;
extern BSA_ApiVersion sBSAVersion;
extern char *cpBSAEnv[DE_BSA_ENV_ROWS];
extern int iBSARet;
extern BOOL bErrRet;  // set by every failure of the stream
// Set when a read met a damaged object or failed: the data ended before its end.
extern BOOL bReadBroken;
extern int ungetEOFFlag;
extern FILE *sessionInfoFile;

// Opens the stream: mode 'w' (backup: creates the object, prepares the
// timestamp markers, writes the first end marker) or 'r' (restore).
// fileIndex names the interactive local files. 0, or 1 on failure (the
// stream is then closed again).
CCODE OpenDEFiles(char mode, SESSION_INFORMATION *sessionInfo, int fileIndex);

// Writes one record, or an end marker when size is DE_END_OF_RECORD (buffer
// and list NULL). 0, or 1 on failure.
CCODE WriteDEFiles(BUFFER *buffer, UINT32 size, UINT8 parent, UINT32 createDateAndTime,
                   UINT32 modifiedDateAndTime, UINT8 terminal, SESSION_INFORMATION *sessionInfo,
                   NWSM_DATA_SET_NAME_LIST *dataSetNameList);

// Reads the next record: size (DE_END_OF_RECORD for an end marker) and both
// flags from its header; for a data record *resourceName receives a malloc'd
// copy of the name list (the caller frees it). Returns the session's data
// buffer, or NULL at the end of the stream or on a malformed object (an
// error line then raises the run status).
BUFFER *ReadDEFiles(UINT32 *size, UINT8 *parentFlag, UINT8 *tnoFlag, SESSION_INFORMATION *sessionInfo,
                    NWSM_DATA_SET_NAME_LIST **resourceName);

// The next ReadDEFiles returns an end marker without reading.
void UngetEOF(void);

// Ends the storage-client session (or closes the local saveset) and the stream.
void CloseDEFiles(SESSION_INFORMATION *sessionInfo);

// Ends the data, the transaction and the session of the handle; 1, or 0
// when any step failed.
int XBSA_Close(long lBSAHandle);

// Opens the stream for a backup (interactive mode: also records the session
// name in the session file). 0, or 1 on failure.
int SaveSessionInfo(SESSION_INFORMATION *sessionInfo);

// Interactive mode: lists the recorded sessions and asks for one;
// *sessionToRestore receives its index, or -1 when the user quits (result 1).
// Outside interactive mode it receives 0.
int ObtainSessionInfo(int *sessionToRestore);

// Toggles session logging: on opens "De-<sessionNo>.log", off closes it.
void LogSessionInfo(NWBOOLEAN *toLog, SESSION_INFORMATION *sessionInfo);

#endif
