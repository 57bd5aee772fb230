// Whose files the client may write into, follow or take as its own: the user
// running the job, root, and for links the owner of the directory that holds them.
#ifndef VRK_RUNTIME_X_FILE_OWNER_H
#define VRK_RUNTIME_X_FILE_OWNER_H

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

// True for the user the job runs as (the effective one) and for root.
bool x_owner_trusted(uid_t uid);

// "name (uid N)", or "uid N" for a number without a user.
std::string x_owner_text(uid_t uid);

// A symbolic link, device or FIFO at `cpPath` (described by `st`, from
// lstat) may be followed or written into only when it belongs to the user
// running the job, or to the owner of its directory where that directory is
// not world-writable. False with the reason in *psWhy otherwise.
bool x_entry_trusted(const char *cpPath, const struct stat &st, std::string *psWhy);

// A regular file at `cpPath` that the job would replace: refused (false,
// reason in *psWhy) only in a world-writable directory when it belongs to
// neither the user running the job nor the directory's owner, since any
// user may have put it there.
bool x_replace_trusted(const char *cpPath, const struct stat &st, std::string *psWhy);

#endif
