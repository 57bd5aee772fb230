// File-system items of the host layer: status, directory creation along a
// branch, and removal of single items and whole directory trees.
#ifndef VRK_RUNTIME_X_FS_H
#define VRK_RUNTIME_X_FS_H

typedef enum ENUM_STAT { X_STAT_ERROR = 0, X_STAT_FILE = 1, X_STAT_DIR = 2, X_STAT_DRIVE = 3 } ENUM_STAT;

typedef struct STRU_STAT_INFO {
  char szItemFullPath[260];
  unsigned long ulSize;
  unsigned long ulAttributes;
} STRU_STAT_INFO;

// lstat of the item: a directory or a symbolic link is X_STAT_DIR, a regular
// file X_STAT_FILE, anything else or a failure X_STAT_ERROR. The record is
// accepted and not filled.
ENUM_STAT x_Stat(char *I_cpFSItem, STRU_STAT_INFO *O_spStatInfo);
// mkdir with mode 0775, whatever the umask; 0, or -1 when mkdir fails.
int x_CreateDir(char *I_cpDir);
// Creates every missing directory along the path; 0, or -1.
int x_MakeDirBranch(char *I_cpDir);
int x_Delete(char *I_cpFSItem);
// Removes a directory tree without following symbolic links; 0 (also when
// the directory does not exist), or -1.
int x_DeleteDir(char *source);

#endif
