// The system log of the product's programs: one entry per call under the
// identity "ZEMkorva", its text taken from the system-message table.
#ifndef VRK_RUNTIME_CM_SYSLOG_H
#define VRK_RUNTIME_CM_SYSLOG_H

#include <stddef.h>

#include "runtime/exit_state.h"

typedef enum LOG_FACILITY { KV_LOG_DAEMON = 0, KV_LOG_USER = 1 } LOG_FACILITY;

#define SYSLOG_TEXT_MAX 255

extern const char *const gszListOfSystemMsgs[7];

// The entry's text: the table row of iEventTag (row 6 and the tag for any
// other tag), then a blank and cpMsg when that is not empty; at most
// SYSLOG_TEXT_MAX characters in cpText (uSize bytes).
void cm_syslog_text(int iEventTag, const char *cpMsg, char *cpText, size_t uSize);
void cm_syslog(EXIT_STATE eState, LOG_FACILITY eLog, int iEventTag, const char *cpMsg);

#endif
