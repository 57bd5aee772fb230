// The XBSA environment array handed to BSAInit: its slots in the order the
// DE record stream reads them, and the storage node's address entry.
#ifndef VRK_CLIENT_VRK_GENARGS_H
#define VRK_CLIENT_VRK_GENARGS_H

#include "runtime/vrk_types.h"

// Size of the line buffer in which every entry is formatted.
#define VRK_GENARGS_LINE 4096

// Largest size of a URI's slot-0 entry with its terminating zero.
#define VRK_SERVICE_HOST_ENTRY 256

// Fills cpArgs[0..iRows) with heap copies of the entries (slots past the
// tenth are NULL). 0 on success; -1 when an entry could not be made or does
// not fit, or when fewer than five slots were filled. The slots filled stay
// the caller's to free in every case; the others are set to NULL.
int vrk_genargs(char **cpArgs, int iRows);

// Writes the whole "BSA_SERVICE_HOST=" entry for cpHost (a host name, or a
// URI when it holds a '/', whose port is replaced by iPort) into
// cpBackupHostVar, which has room for VRK_GENARGS_LINE bytes. FALSE, with an
// empty output, when the URI does not parse or the entry does not fit.
BOOL GenServiceHostStr(const char *cpHost, int iPort, char *cpBackupHostVar);

#endif
