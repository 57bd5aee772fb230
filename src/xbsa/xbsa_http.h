// HTTP(S) transport of the storage client: the open called by the transport
// dispatch and the data, end and clean-up calls of a running transfer.
#ifndef VRK_XBSA_XBSA_HTTP_H
#define VRK_XBSA_XBSA_HTTP_H

#include "xbsa/xbsa.h"
#include "xbsa/xbsa_session.h"

// Opens the HTTP(S) transfer of the session; 0 or -1.
int xbsa_http_open(long bsaHandle, int iMode);
// One block out; 0 or -1.
int BSAHttpSendData(_sSession *sctpSession, BSA_DataBlock32 *dataBlockPtr);
// One block in (numBytes 0 at the end of the object); 0 or -1.
int BSAHttpGetData(_sSession *sctpSession, BSA_DataBlock32 *dataBlockPtr);
// Ends the transfer: 0 when it ended cleanly with reply "OK", else 1.
int BSAHttpEndData(_sSession *sctpSession);
// For the signal handler: makes the session's HTTP(S) transfer fail at its
// next step. Async-signal-safe.
void BSAHttpInterrupt(_sSession *sctpSession);

#endif
