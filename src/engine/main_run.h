// The steps of the program's entry point around its one session: signal set-up,
// start time, session name and the end of the run with its exit status.
#ifndef VRK_ENGINE_MAIN_RUN_H
#define VRK_ENGINE_MAIN_RUN_H

#include <stddef.h>

#include "engine/session.h"

#define DEFAULT_SESSION_NAME "KORVA VRK_NLM Session"

// Installs vrk_sigaction_handler for SIGPIPE, SIGINT, SIGTERM, SIGHUP and
// SIGALRM, in that order.
void vrk_install_signal_handler(void);
// Logs the start time (3074) and stores it as the packed DOS start time.
void vrk_log_start_time(void);
// The session name: the job name cut to 24 characters, or the default name.
// sName holds SESSION_NAME_MAX + 1 bytes.
void vrk_session_name(const char *szJobName, char *sName);
// Logs the counters, settles the status, commits the markers of a good
// backup, releases the console; returns the exit status.
int vrk_end_of_run(void);

#endif
