// The backup driver: sources and exclusions into name lists, scan types and
// date filters of the level, one or two scan runs, and the byte statistics.
#ifndef VRK_ENGINE_BACKUP_H
#define VRK_ENGINE_BACKUP_H

#include "engine/session.h"

// Characters of one source item.
#define BACKUP_ITEM_MAX 499
// The groupware directories that a groupware backup leaves out.
#define BACKUP_GW2012_EXCLUDE "/*/wpcsin/,/*/wpcsout/,/*/mslocal/,/*/wptools/,/*/ofwork/,/*/oftemp/"

// Backs up the session's sources (and runs the scan-only pass of a listing).
void Backup(SESSION_INFORMATION *sessionInfo);

// Adds the exclude items (and the exclude file's lines) to the session's
// selection list; false after a failure that ends the backup.
bool BuildExcludeList(SESSION_INFORMATION *sessionInfo);

#endif
