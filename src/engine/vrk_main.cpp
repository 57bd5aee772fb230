// The entry point of vrk_nlm: set-up of the global client state, one session
// under the job name, and the operation status as the exit status.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "client/vrk_env.h"
#include "client/vrk_global.h"
#include "client/vrk_options.h"
#include "engine/engine_globals.h"
#include "engine/main_run.h"
#include "engine/raise_nofile.h"
#include "runtime/vrk_log.h"
#include "runtime/x_std_fds.h"
#include "xbsa/xbsa_session.h"

int main(int argc, char **argv) {
  // A write past the file-size limit (ulimit -f, LimitFSIZE) fails with
  // EFBIG, which names the saveset, the restored file or the job log it
  // failed on, instead of killing the job without a word: from here on,
  // before anything is written.
  signal(SIGXFSZ, SIG_IGN);
  // A closed standard descriptor would be taken by the next file opened (a
  // log, the saveset) and then written into as standard output or error.
  if (!x_std_fds_guard()) {
    vrk_log(1008, "/dev/null cannot stand in for a closed standard descriptor");
    return STATUS_ERR_BEF_SAV;
  }
  moduleName = "DE";
  buildDateAndTime = __DATE__ " " __TIME__;
  moduleVersion = "v4.10";

  RaiseOpenFileLimit();
  vrk_install_signal_handler();
  spGlobal->sVRKObject.iVrkPid = (int)getpid();

  bool bArgsOk = true;
  if (argc == 2 && strcmp(argv[1], "-i") == 0) {
    vrk_nlm_interactive = 1;
    spGlobal->iLogLevel = 2;
    printf("Entering interactive mode\n");
    fflush(stdout);
  } else {
    vrk_nlm_interactive = 0;
    vrk_reset_global();
    spGlobal->spXBSAGlobal = reinterpret_cast<struct _sGlobal *>(&sGlobal);
    vrk_setdefaults();
    // The record owns its strings: the default label is replaced, not leaked.
    char *cpInter = strdup("sidf");
    if (cpInter != nullptr) {
      free(spGlobal->sSMS.cpInter);
      spGlobal->sSMS.cpInter = cpInter;
    }
    vrk_getenv();
    spGlobal->argc = argc;
    spGlobal->argv = argv;
    if (vrk_analyze_opt(argc, argv) == -1) {
      vrk_log(1500, "Error(s) in arguments - vrk_nlm exiting.");
      bArgsOk = false;
    }
  }

  if (bArgsOk) {
    vrk_log_start_time();
    char sName[SESSION_NAME_MAX + 1];
    vrk_session_name(spGlobal->szJobName, sName);
    vrk_log(3500, "Starting Session \"%s\" ...", sName);
    StartSession(sName);
    if (spGlobal->iLogLevel >= 3) vrk_log(3500, "Started Session \"%s\" ...\n", sName);
  }
  return vrk_end_of_run();
}
