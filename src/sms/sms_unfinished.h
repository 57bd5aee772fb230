// Temporary files of restores not yet finished, kept in a list that a signal
// handler can walk to remove them before the process ends.
#ifndef VRK_SMS_SMS_UNFINISHED_H
#define VRK_SMS_SMS_UNFINISHED_H

#include <atomic>
#include <string>

namespace vrksms {

// One temporary name in a directory; lives inside the restore handle that
// made it and is never moved while it is in the list.
struct UnfinishedFile {
  int dirFd = -1;
  char name[32] = {0};
  std::atomic<UnfinishedFile *> next{nullptr};
  bool listed = false;
};

// Puts the temporary name into the list (dirFd must stay open until Forget).
void RememberUnfinished(UnfinishedFile &f, int dirFd, const std::string &name);
// Takes it out again, once the name is gone or renamed into place.
void ForgetUnfinished(UnfinishedFile &f);

}  // namespace vrksms

#endif
