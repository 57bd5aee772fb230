// Semaphore files: a record lock on a file that, while held, names the
// holder's process id and caller text, so that an inquiry can tell a live
// holder from one that disappeared.
#ifndef VRK_RUNTIME_X_SEMAPHORE_H
#define VRK_RUNTIME_X_SEMAPHORE_H

#include "runtime/exit_state.h"

typedef struct SCT_SEMA {
  char szSema[32];     // the semaphore's name, used in messages
  char szCaller[1024]; // identifies the caller, written into the file
  char szMsg[1032];    // result text of the last operation
  int hSema;           // descriptor of the held semaphore file, 0 when none
} SCT_SEMA;

// cFunction: '+' or 'S' take (waiting), '*' take (trying once), '-' or 'R'
// release, '?' inquire. Returns an EXIT_STATE value; the text is in szMsg.
int x_Semaphore(char cFunction, const char *cpSemaFile, SCT_SEMA *pS);

#endif
