// The restore driver: a stored object read back as DE records and written to
// the TSA, and the single-data-set erase and rename used around it.
#ifndef VRK_ENGINE_RESTORE_H
#define VRK_ENGINE_RESTORE_H

#include "engine/session.h"

// Characters of a data-set name EraseFile and RenameFile take; longer ones are refused.
#define RESTORE_NAME_MAX 499

// Restore of one session.
void Restore(SESSION_INFORMATION *sessionInfo);
// Deletes one data set on the TSA; cpFile NULL asks for it in the console.
void EraseFile(SESSION_INFORMATION *sessionInfo, char *cpFile);
// Renames one data set on the TSA; NULL names are asked for in the console.
void RenameFile(SESSION_INFORMATION *sessionInfo, char *cpSource, char *cpTarget);

#endif
