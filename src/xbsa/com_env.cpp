// Command-interface settings of an "INFORMIX" owner from the process
// environment: backup server and job (required) and the optional ones.
#include <stdlib.h>
#include <string.h>

#include "runtime/strlib.h"
#include "xbsa/com.h"
#include "xbsa/xbsa_trace.h"

namespace {

// 1 when the variable was taken into the field.
int take(const char *cpName, char *cpField, size_t uiSize) {
  const char *cpValue = getenv(cpName);
  if (!cpValue) {
    xbsalog("get_COM_environment: Environment variable: [%s] not found.", cpName);
    return 0;
  }
  xbsalogtrace("get_COM_environment: Environment variable: [%s = %s].", cpName, cpValue);
  if (strlen(cpValue) >= uiSize) {
    xbsalog("get_COM_environment: Environment variable to long.");
    return 0;
  }
  strlcpy(cpField, cpValue, uiSize);
  return 1;
}

}  // namespace

int get_COM_environment(STUCT_COM_INPUT *I_spCOMInput) {
  if (!I_spCOMInput) return 0;
  STUCT_COM_INPUT &in = *I_spCOMInput;
  if (!take("KORVA_SERVER", in.szKORVAServer, sizeof in.szKORVAServer)) return 0;
  if (!take("KORVA_JOB", in.szJobName, sizeof in.szJobName)) return 0;
  take("KORVA_TAPE_SERVER", in.szKORVATapeServer, sizeof in.szKORVATapeServer);
  take("KORVA_DRIVE", in.szDrive, sizeof in.szDrive);
  take("KORVA_POOL", in.szPool, sizeof in.szPool);
  take("KORVA_COM_TIMEOUT", in.szCOMTimeOut, sizeof in.szCOMTimeOut);
  return 1;
}
