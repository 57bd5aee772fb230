// Command-interface entry points while the program runner is not part of the
// library yet: every task fails with a clear reason, nothing is started.
#include "xbsa/xbsa_com.h"

#include "xbsa/xbsa_session.h"
#include "xbsa/xbsa_trace.h"

int com_intf(ENUM_COM_TASK I_enumCOMTask, STUCT_COM_INPUT *I_spCOMInput) {
  (void)I_spCOMInput;
  SysErrorTxt(0, 0, "Command interface not available (task %d).", (int)I_enumCOMTask);
  xbsalog("com_intf: command interface not available, task [%d] not run.", (int)I_enumCOMTask);
  return 0;
}

int get_COM_environment(STUCT_COM_INPUT *I_spCOMInput) {
  (void)I_spCOMInput;
  return 0;
}
