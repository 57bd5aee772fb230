// Temporary files of restores not yet finished, kept in a list that a signal
// handler can walk to remove them before the process ends.
#ifndef VRK_SMS_SMS_UNFINISHED_H
#define VRK_SMS_SMS_UNFINISHED_H

#include <signal.h>

#include <atomic>
#include <string>

namespace vrksms {

// One temporary name in a directory; lives inside the restore handle that
// made it and is never moved while it is in the list.
struct UnfinishedFile {
  int dirFd = -1;
  char name[64] = {0};
  std::atomic<UnfinishedFile *> next{nullptr};
  bool listed = false;
};

// Holds back the signals that end the process while a temporary name is
// made and put into the list, so that none is left between the two.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsHeld(const SignalsHeld &) = delete;
  SignalsHeld &operator=(const SignalsHeld &) = delete;

 private:
  sigset_t saved_;
};

// Puts the temporary name into the list (dirFd must stay open until Forget).
void RememberUnfinished(UnfinishedFile &f, int dirFd, const std::string &name);
// Takes it out again, once the name is gone or renamed into place.
void ForgetUnfinished(UnfinishedFile &f);

}  // namespace vrksms

#endif
