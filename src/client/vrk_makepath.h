// Directory-path builder with owner and mode control, and the start of the
// disk-information recovery program.
#ifndef VRK_CLIENT_VRK_MAKEPATH_H
#define VRK_CLIENT_VRK_MAKEPATH_H

#include <sys/types.h>

// Results of vrk_makepath.
#define VRK_MAKEPATH_OK 0
#define VRK_MAKEPATH_FAILED 1
#define VRK_MAKEPATH_NOSPACE 2

// Owner and group value that means "take them from the parent directory".
#define VRK_MAKEPATH_FROM_PARENT ((uid_t)-2)

// Creates cpArg_path with iMode and its missing parents with iParent_mode
// (0700 while they are built when that mode would not let the owner in, or
// when owner bits would be lost to the chown; iParent_mode at the end).
// owner/group: both valid = chown every created directory (and an existing
// path) to them; -2/-2 = each created directory takes the owner and group of
// its parent; -1 = unchanged. Modes and owners are set on the directories
// themselves, never through a symbolic link: an existing path that is a
// symbolic link is refused. 0 success, 1 failure, 2 no space left.
int vrk_makepath(char *cpArg_path, int iMode, int iParent_mode, uid_t owner, gid_t group);

// Names the disk-information restore command and, when the -a argument holds
// "RECOVER", runs "<program directory>/vrk_disk_info_restore <target> AUTO"
// without a shell. 0, or -1 when the program was due and could not run (the
// program directory is not absolute, the start failed or it ended badly).
int vrk_disk_info_recover(void);

#endif
