// System-log entries: facility and level from the caller's state, the text
// from the system-message table, identity "ZEMkorva".
#include "runtime/cm_syslog.h"

#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include <string>

const char *const gszListOfSystemMsgs[7] = {
    "The ZEM korva KV_MAIN Service has been started successfully.",
    "The ZEM korva KV_MAIN Service was stopped.",
    "ZEM korva kv_startup failed.",
    "Opening SMS log file failed.",
    "KV_STPD Message: ",
    "Korva disaster information: ",
    "Unknown ZEM korva system message code: ",
};

void cm_syslog_text(int iEventTag, const char *cpMsg, char *cpText, size_t uSize) {
  if (cpText == nullptr || uSize == 0) return;
  std::string text;
  if (iEventTag >= 0 && iEventTag <= 6) {
    text = gszListOfSystemMsgs[iEventTag];
  } else {
    text = std::string(gszListOfSystemMsgs[6]) + std::to_string(iEventTag);
  }
  if (cpMsg != nullptr && *cpMsg != '\0') {
    text += " ";
    text += cpMsg;
  }
  if (text.size() > SYSLOG_TEXT_MAX) text.resize(SYSLOG_TEXT_MAX);
  snprintf(cpText, uSize, "%s", text.c_str());
}

void cm_syslog(EXIT_STATE eState, LOG_FACILITY eLog, int iEventTag, const char *cpMsg) {
  int facility = eLog != KV_LOG_DAEMON ? LOG_USER : LOG_DAEMON;
  int level;
  switch (eState) {
    case KV_SUCCESS: level = LOG_INFO; break;
    case KV_WARNING: level = LOG_WARNING; break;
    case KV_ERROR: level = LOG_ERR; break;
    case KV_FATAL: level = LOG_CRIT; break;
    default:
      fprintf(stderr, "FATAL: unexpected state: %d\n", static_cast<int>(eState));
      level = LOG_EMERG;
      break;
  }
  char text[SYSLOG_TEXT_MAX + 1];
  cm_syslog_text(iEventTag, cpMsg, text, sizeof(text));
  openlog("ZEMkorva", LOG_CONS | LOG_PID, facility);
  syslog(level | facility, "%s", text);
  closelog();
}
