// Backup levels, operation and level names for messages, and the header
// format names that the option parser uses.
#ifndef VRK_CLIENT_VRK_LEVELS_H
#define VRK_CLIENT_VRK_LEVELS_H

#include <time.h>

#include "client/vrk_global.h"

// Level keyword (upper-cased in place) to level; E_TYPE_UNKNOWN when none
// matches. SINCE counts only for BACKUP, SELECTIVE only for RESTORE.
_eBackupType vrk_level(char *cpLevel);

// Upper-cases in place (toupper per byte) and returns the text.
char *vrk_strupr(char *cpText);

// Names in a static buffer of each function, overwritten by the next call.
const char *vrk_getopstr(E_OPERATION eOperation);
const char *vrk_getlevelstr(_eBackupType eLevel);

// Format name to header format; NULL or an unknown name gives HDR_UNKNOWN.
_eHdrFmt vrk_strtofmt(const char *cpFormat);

// Time text to local calendar time: "%Y-%m-%d %H:%M:%S" when cMode is non-zero,
// "%Y%m%d%H%M%S" when it is 0. A text that does not parse completely gives -1.
time_t vrk_get_time(const char *cpTime, char cMode);

#endif
