// A restored file that has nothing at its name: written unnamed in its
// directory and linked into place whole, and what its creation gives it.
#ifndef VRK_SMS_SMS_NEWFILE_H
#define VRK_SMS_SMS_NEWFILE_H

#include <sys/types.h>

namespace vrksms {

// The effective user and group and the process id, asked once (and again in
// a child after fork).
uid_t ProcessEuid();
gid_t ProcessEgid();
pid_t ProcessPid();

// An unnamed regular file in dirFd, open for writing, with the permission
// bits of mode (the umask applies); -1 when the file system or the system
// has no unnamed files (or they are switched off), errno telling why.
int OpenUnnamedFile(int dirFd, mode_t mode);

// Gives the unnamed file fd the name in dirFd; never replaces what stands
// there (EEXIST) and never follows a link there.
int LinkUnnamedFile(int fd, int dirFd, const char *name);

// What a file made in a directory gets without being asked: its group (the
// directory's when it hands its group down) and whether its mode is the one
// asked less the umask (no default ACL that decides it instead).
struct CreateDefaults {
  bool known = false;
  dev_t dev = 0;  // the directory itself
  ino_t ino = 0;
  gid_t gid = 0;
  bool plainMode = false;
  // The directory is the restoring user's or root's: no one else may change
  // its group, set-group ID or default ACL while files are made in it, so
  // what was read once holds for all of them.
  bool steady = false;
};
CreateDefaults CreateDefaultsOf(int dirFd);

// True when a file created with the permission bits of `mode` in such a
// directory already has mode & 07777.
bool CreateGivesMode(const CreateDefaults &d, mode_t mode);

}  // namespace vrksms

#endif
