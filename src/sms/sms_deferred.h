// Directory metadata that a restore sets only once everything beneath the
// directory is in place: kept per connection, set deepest first.
#ifndef VRK_SMS_SMS_DEFERRED_H
#define VRK_SMS_SMS_DEFERRED_H

#include <sys/types.h>
#include <time.h>

#include <string>
#include <vector>

#include "sms/sms_world.h"
#include "sms/smstypes.h"

namespace vrksms {

struct DirMeta {
  uint32_t mode = 0, uid = 0, gid = 0;
  struct timespec times[2] = {{0, 0}, {0, 0}};  // access, modification
};

// Keeps the metadata of a directory whose stream has been restored, to be
// set when the restore leaves its subtree or ends. Takes over fd (the open
// directory); fullName is for messages.
void DeferDirMeta(UINT32 connection, const Resource *res, const std::vector<std::string> &comps,
                  const std::string &fullName, int fd, const DirMeta &meta);

// A data set is placed in the directory (res, comps): the kept directories
// that are neither it nor above it are left behind, and get their metadata
// now, deepest first.
void LeaveDirsFor(UINT32 connection, const Resource *res, const std::vector<std::string> &comps);

// A data set is made in the open directory dirFd: one whose metadata was
// set already (the restore left it, and a rename pair brings it back) is
// kept again, to get it once more when left; an ordinary user's read-only
// one takes the entry first.
void ReenterDir(UINT32 connection, int dirFd);
// The same for a directory whose device and inode are known already.
void ReenterDirKnown(UINT32 connection, int dirFd, dev_t dev, ino_t ino);

// The connection's restore ends: every kept directory gets its metadata.
void FinishDeferredDirs(UINT32 connection);
void FinishAllDeferredDirs();

}  // namespace vrksms

#endif
