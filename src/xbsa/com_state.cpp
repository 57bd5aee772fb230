// Process-wide state of the command interface: the step of the command
// session, the tasks run and steps answered OK, and the program path.
#include <string.h>

#include "xbsa/com.h"

STUCT_COM_GLOBAL sCOMGlobal;
unsigned int uiCOMCurrentStep = COM_STEP_INIT;
char szCOM_EXE[1024];

void com_reset_state() {
  memset(&sCOMGlobal, 0, sizeof sCOMGlobal);
  uiCOMCurrentStep = COM_STEP_INIT;
  memset(szCOM_EXE, 0, sizeof szCOM_EXE);
}
