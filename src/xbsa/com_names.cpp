// Names of the command-interface tasks and steps for traces, and the dump
// line callback that sends a hex dump of an answer to the detail trace.
#include "runtime/strlib.h"
#include "xbsa/com.h"
#include "xbsa/xbsa_trace.h"

const char *com_task_keyword(ENUM_COM_TASK eTask) {
  static char szName[64];
  const char *cp = "UNKNOWN";
  switch (eTask) {
    case COM_OPEN_SESSION: cp = "COM_OPEN_SESSION"; break;
    case COM_OPEN_WRITE: cp = "COM_OPEN_WRITE"; break;
    case COM_OPEN_READ: cp = "COM_OPEN_READ"; break;
    case COM_CLOSE_SESSION: cp = "COM_CLOSE_SESSION"; break;
    case COM_CLOSE_WRITE: cp = "COM_CLOSE_WRITE"; break;
    case COM_CLOSE_READ: cp = "COM_CLOSE_READ"; break;
    case COM_INFO: cp = "COM_INFO"; break;
    case COM_REMOVE: cp = "COM_REMOVE"; break;
  }
  strlcpy(szName, cp, sizeof szName);
  return szName;
}

const char *com_step_keyword(int iStep) {
  static char szName[64];
  const char *cp = "UNKNOWN";
  switch (iStep) {
    case COM_STEP_INIT: cp = "COM_STEP_INIT"; break;
    case COM_STEP_OPEN_SESSION: cp = "COM_STEP_OPEN_SESSION"; break;
    case COM_STEP_OPEN_JOB: cp = "COM_STEP_OPEN_JOB"; break;
    case COM_STEP_CLOSE_JOB: cp = "COM_STEP_CLOSE_JOB"; break;
    case COM_STEP_CLOSE_SESSION: cp = "COM_STEP_CLOSE_SESSION"; break;
  }
  strlcpy(szName, cp, sizeof szName);
  return szName;
}

void DumpTraceAdapter(char *cpDumpLine) { xbsadetailtrace("Dumping memory: [%s]", cpDumpLine ? cpDumpLine : ""); }
