// The Notes module's set-up: its user, ini file and directories, the hand-over
// of the work and times directories, and the switch to the Notes user.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "client/vrk_db_internal.h"
#include "client/vrk_global.h"
#include "client/vrk_util.h"
#include "runtime/ini_lookup.h"
#include "runtime/vrk_log.h"

namespace {

constexpr int kNotesValueMax = 1024;

// Reads a key of "[Notes]" from the Notes ini, or takes the default.
std::string notes_dir(const std::string &sIni, const char *cpKey, const char *cpDefault,
                      const char *cpDefaultLog, int iFoundCode) {
  char szValue[kNotesValueMax] = "";
  char szMsg[512] = "";
  if (i_GetPrivateProfileString(sIni.c_str(), "[Notes]", cpKey, szValue, sizeof(szValue), szMsg,
                                sizeof(szMsg)) &&
      szValue[0] != '\0') {
    vrk_log(iFoundCode, szValue);
    return szValue;
  }
  vrk_log(3500, "Couldn't get %s from notes.ini section [Notes]: %s", cpKey, szMsg);
  vrk_log(3500, cpDefaultLog, cpDefault);
  return cpDefault;
}

// Hands one file system object to uid/gid without following a link; a
// missing marker is no failure.
void give(const std::string &sPath, bool bDir, int iUid, int iGid) {
  int iFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (bDir ? O_DIRECTORY : 0);
  int fd = open(sPath.c_str(), iFlags);
  if (fd < 0) {
    if (!bDir && errno == ENOENT) return;
    vrk_log(2500, "Cannot hand [%s] to the module user: %s", sPath.c_str(), strerror(errno));
    return;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || (!bDir && !S_ISREG(st.st_mode))) {
    vrk_log(2500, "Cannot hand [%s] to the module user: not a regular file", sPath.c_str());
  } else if (fchown(fd, (uid_t)iUid, (gid_t)iGid) != 0) {
    vrk_log(2500, "Cannot hand [%s] to the module user: %s", sPath.c_str(), strerror(errno));
  }
  close(fd);
}

}  // namespace

bool vrk_db_notes_prepare(DBNotesSetup *psSetup) {
  _sVRKGlobal *g = spGlobal;
  if (g->szDB_User[0] == '\0') {
    vrk_db_copy(g->szDB_User, sizeof(g->szDB_User), "notes");
    vrk_log(3500, "DBOperation: Set Default VRKLN user '%s'", g->szDB_User);
  }
  psSetup->sUser = g->szDB_User;

  std::string sIni;
  const char *cpDataDir = getenv("NOTES_DATA_DIR");
  if (g->szDB_Notesini[0] != '\0') {
    sIni = g->szDB_Notesini;
    vrk_log(3500, "DBOperation: notes.ini [%s]", sIni.c_str());
  } else if (cpDataDir != nullptr && *cpDataDir != '\0') {
    sIni = std::string(cpDataDir) + "/notes.ini";
    vrk_log(3500, "Set [%s] with NOTES_DATA_DIR", sIni.c_str());
  } else {
    sIni = "/local/notesdata/notes.ini";
    vrk_log(3500, "DBOperation: Set Default notes.ini [%s]", sIni.c_str());
  }
  if (!vrk_db_copy(g->szDB_Notesini, sizeof(g->szDB_Notesini), sIni.c_str())) {
    vrk_log(1500, "DBOperation: the notes.ini path is longer than %d characters: [%s]",
            (int)sizeof(g->szDB_Notesini) - 1, sIni.c_str());
    return false;
  }
  psSetup->sIni = sIni;
  vrk_log(3136, sIni.c_str());

  psSetup->iUid = iGetUserId(g->szDB_User);
  psSetup->iGid = iGetGroupId(g->szDB_User);
  if (psSetup->iUid < 0 || psSetup->iGid < 0) {
    vrk_log(1500, "DBOperation: Notes user [%s] is not a local account", g->szDB_User);
    return false;
  }
  vrk_log(3139, g->szDB_User, psSetup->iUid);
  trace("User [%s] with group id [%d]", g->szDB_User, psSetup->iGid);

  psSetup->sProgramDir = notes_dir(sIni, "NotesProgram", "/opt/lotus/notes/latest/linux",
                                   "Set Notes Bin Directory to [%s]", 3137);
  psSetup->sDataDir =
      notes_dir(sIni, "Directory", "/local/notesdata", "Set Notes Data Directory to [%s]", 3138);
  return true;
}

void vrk_db_give_dirs(int iUid, int iGid) {
  _sVRKGlobal *g = spGlobal;
  std::string sWork = vrk_db_str(g->sDirs.cpWork);
  trace("chown %d:%d %s [%s]", iUid, iGid, "gv_rw_work", sWork.c_str());
  if (!sWork.empty()) give(sWork, true, iUid, iGid);
  if (g->eOPERATION != BACKUP || g->eBackupType == COPY) return;
  std::string sTimes = vrk_db_str(g->sDirs.cpTimes);
  if (sTimes.empty()) return;
  vrk_log(3500, "chown %d:%d [%s]", iUid, iGid, sTimes.c_str());
  give(sTimes, true, iUid, iGid);
  for (const char *cpExt : {".I", ".D"}) {
    std::string sMarker = sTimes + "/" + g->szJobName + cpExt;
    vrk_log(3500, "chown %d:%d [%s]", iUid, iGid, sMarker.c_str());
    give(sMarker, false, iUid, iGid);
  }
}

bool vrk_db_notes_switch(const DBNotesSetup &sSetup) {
  const char *cpUser = sSetup.sUser.c_str();
  vrk_log(3135, cpUser);
  if (initgroups(cpUser, (gid_t)sSetup.iGid) != 0) {
    vrk_log(1500, "DBOperation: initgroups() for user [%s] failed: %s", cpUser, strerror(errno));
    return false;
  }
  if (setgid((gid_t)sSetup.iGid) != 0) {
    vrk_log(1500, "DBOperation: setgid(%d) failed: %s", sSetup.iGid, strerror(errno));
    return false;
  }
  if (setuid((uid_t)sSetup.iUid) != 0) {
    vrk_log(1500, "DBOperation: setuid(%d) failed: %s", sSetup.iUid, strerror(errno));
    return false;
  }
  vrk_log(3140, cpUser);
  std::string sPath = std::string(vrk_db_str(getenv("PATH"))) + ":" + sSetup.sProgramDir + ":" +
                      sSetup.sDataDir;
  if (setenv("PATH", sPath.c_str(), 1) != 0) {
    vrk_log(1500, "DBOperation: cannot set PATH: %s", strerror(errno));
    return false;
  }
  vrk_log(3500, "Set %s", ("PATH=" + sPath).c_str());
  vrk_log(3141);
  return true;
}
