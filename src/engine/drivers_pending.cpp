// PENDING: placeholders of the listing driver and of the
// GroupWise 2012 check; each unit that builds one of them replaces it here.
#include "engine/drivers_pending.h"

#include <string.h>

dictionary *gdcGWHAconf = nullptr;
dictionary *gdcGWZEMconf = nullptr;

// PENDING (resource listing): lists nothing.
void list_resources(SESSION_INFORMATION *sessionInfo, char *szRoot, NWBOOLEAN bGotClusterTSA) {
  (void)sessionInfo;
  (void)szRoot;
  (void)bGotClusterTSA;
}

// PENDING (GroupWise 2012): never finds GroupWise 2012.
NWBOOLEAN bCheck_GW2012(SESSION_INFORMATION *sessionInfo, NWSM_NAME_LIST **plist) {
  (void)sessionInfo;
  (void)plist;
  return 0;
}

// PENDING (GroupWise 2012): no component is known, so no source is mapped.
char *szMapGWComponent2Path(dictionary *dcGW, dictionary *dcGWZEM, char *cpComponent) {
  (void)dcGW;
  (void)dcGWZEM;
  (void)cpComponent;
  return nullptr;
}

// Moves to the resource listing unit with it.
int i_COMPARE_LINE(const void *cpFirst, const void *cpSecond) {
  return strcmp(static_cast<const char *>(cpFirst), static_cast<const char *>(cpSecond));
}
