// The scan-and-read loop of a backup (and the scan-only pass of a listing),
// the open mode for backup and the archive-status support of the TSA.
#ifndef VRK_ENGINE_SCAN_LOOP_H
#define VRK_ENGINE_SCAN_LOOP_H

#include <time.h>

#include "engine/session.h"

// Name space of the long names that the stored records carry.
#define SCAN_LONG_NAME_SPACE 260u
// Archive-status flags set after a data set was read completely.
#define SCAN_ARCHIVE_FLAGS 3u

// TRUE while NWSMTSSetArchiveStatus is to be called after each data set;
// set in run 1, cleared for the rest of the job by a TSA that refuses it.
extern NWBOOLEAN bTSAsupportsSAS;
// Name space in which every data set's name is fetched (set in run 1).
extern UINT32 DnameSpaceType;
// Seconds of the job start; set by the backup driver.
extern time_t tStart;
// Bytes transferred when the last progress message was written.
extern double uTransfered;

// One TSA scan over resourceName with the session's scan control and
// selection list. backup non-zero reads and stores every data set, 0 only
// scans (listing lines). The bytes read are added to *putotal. iRun is 1
// or 2. 0 after a scan that ran to its end; NWSMTS_NO_MORE_DATA_SETS when the
// scan start found nothing; the failing code of a name lookup or rewrite;
// 0xFFFBFFFF for every other failure.
CCODE ScanAndReadDataSets(SESSION_INFORMATION *sessionInfo, int backup,
                          NWSM_DATA_SET_NAME_LIST *resourceName, UINT32 openModeForBackup,
                          double *putotal, int iRun);

// Writes the open mode for NWSMTSOpenDataSetForBackup.
void SetOpenModeForBackup(SESSION_INFORMATION *sessionInfo, UINT32 *openModeForBackup);

// TRUE when the TSA can set the archive status of a data set.
NWBOOLEAN check_archive_bit_support(SESSION_INFORMATION *sessionInfo);

#endif
