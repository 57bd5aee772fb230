// Call sites of the backup, restore and listing drivers, the GroupWise 2012
// check and the listing line comparator, which their own units provide.
#ifndef VRK_ENGINE_DRIVERS_PENDING_H
#define VRK_ENGINE_DRIVERS_PENDING_H

#include "engine/session.h"
#include "runtime/dictionary.h"

// Backup of one session (and the scan-only pass of a listing).
void Backup(SESSION_INFORMATION *sessionInfo);
// Restore of one session.
void Restore(SESSION_INFORMATION *sessionInfo);
// Lists the resources of a TSA below szRoot.
void list_resources(SESSION_INFORMATION *sessionInfo, char *szRoot, NWBOOLEAN bGotClusterTSA);
// TRUE when the GroupWise 2012 pseudo TSA was appended to the list.
NWBOOLEAN bCheck_GW2012(SESSION_INFORMATION *sessionInfo, NWSM_NAME_LIST **plist);
// The home directory of a GroupWise component (owned by the dictionary), or NULL.
char *szMapGWComponent2Path(dictionary *dcGW, dictionary *dcGWZEM, char *cpComponent);
// Byte order of two listing lines.
int i_COMPARE_LINE(const void *cpFirst, const void *cpSecond);

// The GroupWise configuration dictionaries, freed by the session when set.
extern dictionary *gdcGWHAconf;
extern dictionary *gdcGWZEMconf;

#endif
