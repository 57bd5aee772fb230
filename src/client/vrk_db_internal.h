// Helpers shared by the database-module loader's files: loading against a
// given base directory, checked copies into fixed buffers and the Notes set-up.
#ifndef VRK_CLIENT_VRK_DB_INTERNAL_H
#define VRK_CLIENT_VRK_DB_INTERNAL_H

#include <stddef.h>

#include <string>

#include "client/vrk_db_clnt.h"

// LoadDBModule with a relative program directory taken against cpBaseDir
// (the working directory before DBOperation changed it).
BOOL vrk_db_load(const char *cpDBModule, const char *cpBaseDir);

// The text, or "" for NULL.
inline const char *vrk_db_str(const char *cp) { return cp != nullptr ? cp : ""; }

// Copies cpSrc into cpDst of nSize bytes; false (nothing copied but an empty
// text) when it does not fit.
bool vrk_db_copy(char *cpDst, size_t nSize, const char *cpSrc);

// True when the module terminated cpBuf within nSize bytes.
bool vrk_db_terminated(const char *cpBuf, size_t nSize);

// The Notes module's set-up before loading: directories, user and
// environment. Filled by vrk_db_notes_prepare, used by DBOperation.
struct DBNotesSetup {
  std::string sUser;
  std::string sIni;
  std::string sProgramDir;
  std::string sDataDir;
  int iUid = -1;
  int iGid = -1;
};

// The module file name of the Notes module.
#define VRK_DB_NOTES_MODULE "libvrkln.so"

// Finds the Notes user, its ids and the Notes directories: true, or false
// with the reason logged.
bool vrk_db_notes_prepare(DBNotesSetup *psSetup);
// Gives the work directory (and for a backup other than COPY the times
// directory and the job's marker files) to uid/gid; failures are warnings.
void vrk_db_give_dirs(int iUid, int iGid);
// Switches the process to the Notes user (initgroups, setgid, setuid) and
// sets its PATH: true, or false with the failing step logged.
bool vrk_db_notes_switch(const DBNotesSetup &sSetup);

#endif
