// PENDING: placeholders of the backup and restore drivers; each unit that
// builds one of them replaces it here.
#include "engine/drivers_pending.h"

// PENDING (backup driver): saves nothing, so a backup ends with status 3.
void Backup(SESSION_INFORMATION *sessionInfo) { (void)sessionInfo; }

// PENDING (restore driver): restores nothing.
void Restore(SESSION_INFORMATION *sessionInfo) { (void)sessionInfo; }
