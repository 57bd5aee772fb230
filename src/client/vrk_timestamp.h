// Timestamp marker files of a job: prepared in the tmp directory when the
// stored object is opened, committed into the times directory after a good backup.
#ifndef VRK_CLIENT_VRK_TIMESTAMP_H
#define VRK_CLIENT_VRK_TIMESTAMP_H

#include <time.h>

#include "client/vrk_global.h"

// iCallNo 2 commits (renames the markers this process prepared into the
// times directory), any other value prepares them under names of this
// process's own ("<job>.I.<pid>"), so that two runs of one job at once never
// commit each other's; COPY does nothing. 0 or -1. Prepared markers that are
// not committed are removed when the process exits.
int vrk_settimestamp(_eBackupType eBackupType, int iCallNo);

// Reference time of a backup: 0 for FULL and COPY, tBackupFrom for SINCE, the
// modification time of the ".I" (INCREMENTAL) or ".D" (DIFFERENTIAL) marker;
// without one, or with one dated more than a few seconds later than now
// (message 2022 names it), the global level becomes FULL (message 2059) and
// 0 is returned.
time_t vrk_gettimestamp(_eBackupType eBackupType);

#endif
