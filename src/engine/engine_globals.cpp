// Definitions of the engine's process-wide state: module identification,
// interactive flag, start time, session count, listing lists and flags.
#include "engine/engine_globals.h"

const char *moduleName = nullptr;
const char *moduleVersion = nullptr;
const char *buildDateAndTime = nullptr;

int vrk_nlm_interactive = 0;
UINT32 gui32DosPackedStartTime = 0;
int NoOfActiveSessions = 0;

t_LL gLL_ResourceList = nullptr;
t_LL gLL_DirList = nullptr;
t_LL gLL_FileList = nullptr;

int giAddSlashToResource = 0;
BOOL gbGW2012 = FALSE;
