// Starting the product's programs: their environment from the main ini, the
// splitting of a command line, and running a program directly or through
// the shell with a report of how it ended.
#ifndef VRK_RUNTIME_CM_EXEC_H
#define VRK_RUNTIME_CM_EXEC_H

#include "runtime/LL.h"

// Static buffers of the environment entries handed to putenv.
#define SETENV_PATH_SIZE 2048
#define SETENV_LD_LIBRARY_PATH_SIZE 1024
#define SETENV_PGPORT_SIZE 512

// Most arguments i_parse_cmd forms; the caller's array holds one more.
#define PARSE_CMD_MAX_ARGS 32

// Result of i_cm_execvp when the environment cannot be prepared.
#define CM_EXEC_ENV_FAILED 999

// PATH, LD_LIBRARY_PATH and PGPORT for the program of the command line; 1 on
// success, 0 on failure.
int i_setenv_korva(const char *cpSystemCall);
// Splits cpExe in place; szArgv (PARSE_CMD_MAX_ARGS + 1 entries) gets the
// arguments and a NULL. Returns the argument count less one.
int i_parse_cmd(char *cpExe, char **szArgv);
// Runs cpExe with its argument array and waits: its exit status, 128 + the
// signal when a signal ended it, 128 + errno when it could not be started.
int i_cm_execvp(const char *cpExe, char **pszArgs);
// With a list: runs cpExe with the arguments cpExe, then the list's strings
// (the list is not changed). Without: splits cpExe and runs its first word.
int i_cm_exec_LL(const char *cpExe, t_LL LL_ArgList);
int i_cm_exec(const char *cpExe);
// Runs cpExe through "/bin/sh -c": its exit status, 128 + the signal when a
// signal ended the shell, 160 + errno when the shell could not be started,
// -1 when no process could be started or waited for, 1 for NULL.
int i_cm_system(const char *cpExe);
// Shows the system's message log ("/var/log/messages").
void event_log_lib_interface(int argc, char **argv);

#endif
