// The steps of main around its session: signal handler installation, the
// start time, the session name and the end-of-run status rules.
#include "engine/main_run.h"

#include <signal.h>
#include <string.h>
#include <time.h>

#include "client/vrk_global.h"
#include "client/vrk_saveset_file.h"
#include "client/vrk_signal.h"
#include "client/vrk_timestamp.h"
#include "engine/console.h"
#include "engine/engine_globals.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"
#include "sms/smsapi.h"

void vrk_install_signal_handler(void) {
  struct sigaction sAction;
  memset(&sAction, 0, sizeof(sAction));
  sAction.sa_sigaction = vrk_sigaction_handler;
  sigemptyset(&sAction.sa_mask);
  sAction.sa_flags = SA_RESTART | SA_SIGINFO;
  const int signals[] = {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGALRM};
  for (int iSig : signals) sigaction(iSig, &sAction, nullptr);
  // A restore ended by SIGTERM or SIGHUP leaves no temporary file behind,
  // and the directories it is in get their owner, mode and times.
  vrk_set_signal_cleanup(vrk_sms_discard_unfinished);
}

void vrk_log_start_time(void) {
  time_t now = time(nullptr);
  struct tm tmNow;
  localtime_r(&now, &tmNow);
  char szStart[32];
  snprintf(szStart, sizeof(szStart), "%04d%02d%02d%02d%02d%02d", tmNow.tm_year + 1900,
           tmNow.tm_mon + 1, tmNow.tm_mday, tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec);
  vrk_log(3074, szStart);
  gui32DosPackedStartTime =
      NWSMPackDateTime((UINT16)(tmNow.tm_year + 1900), (UINT16)(tmNow.tm_mon + 1),
                       (UINT16)tmNow.tm_mday, (UINT16)tmNow.tm_hour, (UINT16)tmNow.tm_min,
                       (UINT16)tmNow.tm_sec);
}

void vrk_session_name(const char *szJobName, char *sName) {
  if (szJobName == nullptr || szJobName[0] == '\0')
    strlcpy(sName, DEFAULT_SESSION_NAME, SESSION_NAME_MAX + 1);
  else
    strlcpy(sName, szJobName, SESSION_NAME_MAX + 1);
}

int vrk_end_of_run(void) {
  _sVRKObject *obj = &spGlobal->sVRKObject;
  if (obj->ulSkipped != 0) vrk_log(3051, (unsigned long)obj->ulSkipped);
  // Skipped items are part of the saved count; never less than none.
  unsigned long ulCorrect =
      obj->ulSaved >= obj->ulSkipped ? (unsigned long)(obj->ulSaved - obj->ulSkipped) : 0UL;
  vrk_log(3052, ulCorrect, (unsigned long)obj->ulNotSaved);

  if (obj->eOperStatus == STATUS_OK && spGlobal->eOPERATION != LIST_RESOURCES) {
    if (obj->ulNotSaved > 0)
      obj->eOperStatus = STATUS_WARNING;
    else if (obj->ulSaved == 0)
      obj->eOperStatus = STATUS_ERR_BEF_SAV;
  }

  // A local saveset file replaces the old one only after a good end of a
  // stream that was closed; otherwise the old one stays as it was.
  bool bGood = obj->eOperStatus == STATUS_OK || obj->eOperStatus == STATUS_WARNING;
  vrk_saveset_finish(bGood && spGlobal->sLocalSaveset.iFilDes == -1);

  switch (obj->eOperStatus) {
    case STATUS_OK:
      vrk_log(3007);
      break;
    case STATUS_WARNING:
      vrk_log(2032);
      break;
    case STATUS_ERR_BROK_STR:
      vrk_log(4000, "Got STATUS_ERR_BROK_STR");
      vrk_log(3053);
      break;
    case STATUS_ERR_BEF_SAV:
      vrk_log(4000, "Got STATUS_ERR_BEF_SAV");
      vrk_log(3053);
      break;
  }

  if ((obj->eOperStatus == STATUS_OK || obj->eOperStatus == STATUS_WARNING) &&
      spGlobal->eOPERATION == BACKUP && spGlobal->eBackupType != COPY &&
      vrk_settimestamp(spGlobal->eBackupType, 2) == 0)
    vrk_sms_archive_commit();

  vrk_log(3001);
  vrk_console_end();
  return (int)obj->eOperStatus;
}
