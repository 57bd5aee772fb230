// The one signal handler of the client: stop flags, socket cut, generator
// stop, the end of the client and its children on SIGTERM and SIGHUP, and the
// progress alarm.
#ifndef VRK_CLIENT_VRK_SIGNAL_H
#define VRK_CLIENT_VRK_SIGNAL_H

#include <signal.h>

// The SA_SIGINFO handler for SIGPIPE, SIGINT, SIGTERM, SIGHUP and SIGALRM
// (and SIGUSR1, which main does not install).
void vrk_sigaction_handler(int iSig, siginfo_t *pSigInfo, void *pContext);

// A function the handler calls before SIGTERM or SIGHUP ends the process, to
// remove what unfinished writes left (temporary files); it must use only
// async-signal-safe calls. NULL: none.
void vrk_set_signal_cleanup(void (*fn)(void));

#endif
