// Session bookkeeping around the DE record stream: opening it for a backup,
// and the interactive session file "de-sessn.inf" and session log files.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "client/vrk_global.h"
#include "engine/console.h"
#include "engine/de_stream_internal.h"
#include "engine/engine_globals.h"
#include "runtime/vrk_log.h"
#include "runtime/x_file_owner.h"
#include "runtime/x_open_nofollow.h"

FILE *sessionInfoFile = nullptr;

namespace {

// Records the session name at its slot of the session file; 0 or 1.
int record_session_name(const SESSION_INFORMATION *sessionInfo) {
  if (sessionInfoFile != nullptr) {
    fputs("Session File Open Error\n", stderr);
    return 1;
  }
  sessionInfoFile = x_fopen_nofollow(DE_SESSION_FILE, "r+", 0600);
  if (sessionInfoFile == nullptr) sessionInfoFile = x_fopen_nofollow(DE_SESSION_FILE, "w+", 0600);
  if (sessionInfoFile == nullptr) {
    int err = errno;
    fputs("Session File Open Error\n", stderr);
    // A link or special file at the name is never written through.
    struct stat st;
    if (err == ELOOP || err == EINVAL || err == EPERM)
      vrk_log(2500, "Session file [%s] not opened: %s", DE_SESSION_FILE,
              err == EPERM && lstat(DE_SESSION_FILE, &st) == 0 && !x_owner_trusted(st.st_uid) ? ("it belongs to " + x_owner_text(st.st_uid)).c_str()
                                                               : strerror(err));
    return 1;
  }
  char name[DE_SESSION_NAME_SIZE];
  memset(name, 0, sizeof(name));
  memcpy(name, sessionInfo->sName, sizeof(name) < sizeof(sessionInfo->sName) ? sizeof(name) : sizeof(sessionInfo->sName));
  name[DE_SESSION_NAME_SIZE - 1] = '\0';
  int result = 0;
  if (sessionInfo->sessionNo < 0 ||
      fseek(sessionInfoFile, (long)sessionInfo->sessionNo * DE_SESSION_NAME_SIZE, SEEK_SET) != 0 ||
      fwrite(name, 1, sizeof(name), sessionInfoFile) != sizeof(name)) {
    fputs("Session File Write Error\n", stderr);
    result = 1;
  }
  if (fclose(sessionInfoFile) != 0 && result == 0) {
    fputs("Session File Write Error\n", stderr);
    result = 1;
  }
  sessionInfoFile = nullptr;
  return result;
}

}  // namespace

int SaveSessionInfo(SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo == nullptr) return 1;
  if (vrk_nlm_interactive && record_session_name(sessionInfo) != 0) return 1;
  CCODE rc = OpenDEFiles('w', sessionInfo, sessionInfo->sessionNo);
  if (rc != 0) {
    vrk_log(1500, "SaveSessionInfo: returning %d", (int)rc);
    return 1;
  }
  return 0;
}

int ObtainSessionInfo(int *sessionToRestore) {
  if (!vrk_nlm_interactive) {
    if (sessionToRestore != nullptr) *sessionToRestore = 0;
    return 0;
  }
  // Read like it is written: a link or a special file at the name (a
  // FIFO that blocks, /dev/zero that lists sessions for ever) is refused.
  if (sessionInfoFile != nullptr || (sessionInfoFile = x_fopen_nofollow(DE_SESSION_FILE, "r", 0)) == nullptr) {
    int err = errno;
    fputs("Session File Open Error\n", stderr);
    if (err == ELOOP || err == EINVAL) vrk_log(2500, "Session file [%s] not opened: %s", DE_SESSION_FILE, strerror(err));
    return 1;
  }
  console_write("\n\nList of Available Sessions :\n");
  char name[DE_SESSION_NAME_SIZE];
  int count = 0;
  while (fread(name, 1, sizeof(name), sessionInfoFile) == sizeof(name)) {
    ++count;
    std::string entry = std::to_string(count) + ". " + std::string(name, strnlen(name, sizeof(name))) + "\n";
    console_write(entry.c_str());
  }
  fclose(sessionInfoFile);
  sessionInfoFile = nullptr;

  int result = 1;
  int choice = -1;
  char line[128];
  for (;;) {
    console_write("\nEnter the Choice of Session to be Restored ('q' to Escape):");
    fflush(stdout);
    // The end of the input quits like 'q'.
    if (fgets(line, sizeof(line), stdin) == nullptr) break;
    line[strcspn(line, "\r\n")] = '\0';
    if (strcmp(line, "q") == 0) break;
    char *end = nullptr;
    long v = strtol(line, &end, 10);
    if (end != line && *end == '\0' && v >= 1 && v <= count) {
      choice = (int)v - 1;
      result = 0;
      break;
    }
  }
  if (sessionToRestore != nullptr) *sessionToRestore = choice;
  return result;
}

void LogSessionInfo(NWBOOLEAN *toLog, SESSION_INFORMATION *sessionInfo) {
  if (toLog == nullptr || sessionInfo == nullptr) return;
  *toLog = *toLog ? 0 : 1;
  if (*toLog) {
    if (sessionInfo->logFile == nullptr) {
      std::string name = "De-" + std::to_string(sessionInfo->sessionNo) + ".log";
      sessionInfo->logFile = x_fopen_nofollow(name.c_str(), "w", 0600);
      if (sessionInfo->logFile == nullptr) {
        console_write("\nCould Not Open Log File!");
        DEPause();
        *toLog = 0;
      }
    }
  } else if (sessionInfo->logFile != nullptr) {
    fclose(sessionInfo->logFile);
    sessionInfo->logFile = nullptr;
  }
}
