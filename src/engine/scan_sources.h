// The sources of a scan that could not be started, each named as the user
// gave it.
#ifndef VRK_ENGINE_SCAN_SOURCES_H
#define VRK_ENGINE_SCAN_SOURCES_H

#include "engine/session.h"

// After the scan of resourceName failed with cc: the TSA's answer and
// message 1120 for each source it cannot find (when the list holds several
// and the answer is an invalid path, each is asked on its own), or for all of
// them together when no single one is to blame.
void ReportUnfoundSources(SESSION_INFORMATION *si, const NWSM_DATA_SET_NAME_LIST *resourceName, CCODE cc);

#endif
