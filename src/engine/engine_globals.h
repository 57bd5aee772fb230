// Process-wide state of the engine: module identification, the interactive
// flag, the packed start time, the session count and the listing line lists.
#ifndef VRK_ENGINE_ENGINE_GLOBALS_H
#define VRK_ENGINE_ENGINE_GLOBALS_H

#include "runtime/LL.h"
#include "runtime/vrk_types.h"

extern const char *moduleName;        // "DE", set first thing in main
extern const char *moduleVersion;     // "v4.10"
extern const char *buildDateAndTime;  // build date and time as text

// 1 only on the "-i" road of main.
extern int vrk_nlm_interactive;
// Start time of the run as a packed DOS date and time (archive date of saved items).
extern UINT32 gui32DosPackedStartTime;
// Sessions started so far: the next session's number.
extern int NoOfActiveSessions;

// Lines of a resource listing; created by the connection set-up on the
// listing road, printed and destroyed by the session.
extern t_LL gLL_ResourceList;
extern t_LL gLL_DirList;
extern t_LL gLL_FileList;

// 1 when a browse path names a resource (volume-style name).
extern int giAddSlashToResource;
// TRUE when GroupWise 2012 was found on the TSA list.
extern BOOL gbGW2012;

#endif
