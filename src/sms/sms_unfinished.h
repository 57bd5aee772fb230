// Temporary files and directory metadata of restores not yet finished, kept
// in lists that a signal handler can walk before the process ends.
#ifndef VRK_SMS_SMS_UNFINISHED_H
#define VRK_SMS_SMS_UNFINISHED_H

#include <signal.h>
#include <time.h>

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

// A directory whose owner, mode and times wait for its subtree, held open:
// a signal that ends the process sets them first. Lives at one address while
// it is in the list; fd is closed only after Forget.
struct UnfinishedDir {
  int fd = -1;
  unsigned uid = 0, gid = 0, mode = 0;
  struct timespec times[2] = {{0, 0}, {0, 0}};
  std::atomic<UnfinishedDir *> next{nullptr};
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
void RememberUnfinished(UnfinishedDir &d);
void ForgetUnfinished(UnfinishedDir &d);

}  // namespace vrksms

#endif
