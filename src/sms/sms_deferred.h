// Directory metadata that a restore sets only once everything beneath the
// directory is in place: kept per connection, set deepest first.
#ifndef VRK_SMS_SMS_DEFERRED_H
#define VRK_SMS_SMS_DEFERRED_H

#include <errno.h>
#include <sys/types.h>
#include <time.h>

#include <string>
#include <vector>

#include "sms/sms_unfinished.h"
#include "sms/sms_world.h"
#include "sms/smstypes.h"

namespace vrksms {

struct DirMeta {
  uint32_t mode = 0, uid = 0, gid = 0;
  struct timespec times[2] = {{0, 0}, {0, 0}};  // access, modification
};

// Fills the node that a signal handler uses to set the metadata on fd.
void WatchDir(UnfinishedDir &node, int fd, const DirMeta &meta);

// Keeps the metadata of a directory whose stream has been restored, to be
// set when the restore leaves its subtree or ends. Takes over fd (the open
// directory) and the place of handleNode (the handle's node of it,
// forgotten here); note is the name of the note of an unfinished restore in it, to be
// removed first; fullName is for messages.
void DeferDirMeta(UINT32 connection, const Resource *res, const std::vector<std::string> &comps,
                  const std::string &fullName, int fd, const DirMeta &meta, const std::string &note,
                  UnfinishedDir &handleNode);

// The process has run out of descriptors (EMFILE, ENFILE): the kept
// directories give theirs back (they are opened again by name when their
// metadata is set) and fewer are kept from now on. False when none was held.
bool ShedKeptDirs();

// Calls open (a function that returns a descriptor or -1 with errno) again
// as long as it runs out of descriptors and kept ones can be given back.
template <class Open>
int WithDescriptors(Open open) {
  int fd;
  while ((fd = open()) < 0 && (errno == EMFILE || errno == ENFILE) && ShedKeptDirs()) {
  }
  return fd;
}

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
// What failed and was not taken (below) is said on standard error.
void FinishDeferredDirs(UINT32 connection);
void FinishAllDeferredDirs();

// Sets the metadata of every kept directory of the connection, keeping
// what failed to be taken. keepNotes: the restore was stopped, and the
// notes of the directories it made stay for the next one to finish them.
void ApplyDeferredDirs(UINT32 connection, bool keepNotes = false);
// A directory of the connection whose metadata could not be set: true with
// its name and the reason, which are then forgotten.
bool TakeFailedDir(UINT32 connection, std::string &fullName, std::string &why);

}  // namespace vrksms

#endif
