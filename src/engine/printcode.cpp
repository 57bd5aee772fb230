// PrintCode: one log line for an SMS completion code, with the engine's own
// texts for the codes it knows and the SMDR's text for every other one.
#include <stdio.h>
#include <string.h>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

const char *fixed_text(CCODE ccode) {
  switch (ccode) {
    case 0xFFFDFFBAu: return "Invalid or inactive TSA specified";
    case 0xFFFDFFD7u: return "Login denied";
    case 0xFFFDFFDDu:
      return "Target Service name may be wrong: One or more of the parameters are NULL or invalid";
    case 0xFFFDFFADu: return "One of the selected options is not supported by the target service";
    case 0xFFFEFFE8u: return "The specified name does not exist or is invalid. ";
    default: return nullptr;
  }
}

}  // namespace

void PrintCode(NWBOOLEAN bError, CCODE ccode, const char *routine, UINT16 line,
               SESSION_INFORMATION *sessionInfo) {
  int iLevel = bError ? 1500 : 3500;
  if (routine == nullptr) routine = "";
  if (spGlobal->iLogLevel >= 3) vrk_log(3500, "PrintCode: code 0X%lX", (unsigned long)ccode);

  char text[NWSM_MAX_ERROR_TEXT_LEN];
  text[0] = '\0';
  const char *cpFixed = fixed_text(ccode);
  if (cpFixed != nullptr) {
    strlcpy(text, cpFixed, sizeof(text));
  } else {
    UINT32 connection = sessionInfo != nullptr ? sessionInfo->connection : 0;
    CCODE conv = NWSMConvertError(connection, ccode, text);
    text[sizeof(text) - 1] = '\0';
    // Without a text the SMDR's manual is named; any other failure of the
    // conversion keeps what it left in the text.
    if (conv == NWSMDR_NO_TEXT) {
      vrk_log(3500, "Didn't get message for code 0X%lX bcs. not yet connected to a SMDR",
              (unsigned long)ccode);
      snprintf(text, sizeof(text), "Please check code 0X%lX in sms_docs.pdf", (unsigned long)ccode);
    }
    if (conv != 0)
      vrk_log(iLevel, "NWSMConvertError returned 0X%X for ccode 0X%lX", (unsigned int)conv,
              (unsigned long)ccode);
  }

  if (line != 0)
    vrk_log(iLevel, "%s: (0X%lX in line = %u) \"%s\"", routine, (unsigned long)ccode,
            (unsigned int)line, text);
  else
    vrk_log(iLevel, "%s: (0X%lX) \"%s\"", routine, (unsigned long)ccode, text);
}
