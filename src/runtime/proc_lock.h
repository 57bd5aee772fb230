// The single-instance lock of a product program: a lock file in the work
// directory's "sem/" holding the holder's process id.
#ifndef VRK_RUNTIME_PROC_LOCK_H
#define VRK_RUNTIME_PROC_LOCK_H

// The caller's log handle of AVOID_MULTI_PROCESS; this runtime does not use
// it (its messages go through trace).
typedef void *str_log;

// Modes: '+' exclusive lock kept for the life of the process, '*' shared
// lock kept likewise, any other: take and release at once (an inquiry).
// 1 with a success text, 0 with an error text in cpMsg (iLength bytes).
int i_GET_LOCK_FOR_PROCESS(char cMode, const char *cpProcInfo, char *cpMsg, int iLength);
// Takes the exclusive lock for cpProcInfo or prints "STATUS=ERROR MSG=..."
// and ends the process with status 1.
void AVOID_MULTI_PROCESS(const char *cpProcInfo, str_log strLog);

#endif
