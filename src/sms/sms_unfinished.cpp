// The list of unfinished restore files and their removal, which only uses
// async-signal-safe calls so that a handler of SIGTERM can run it.
#include "sms/sms_unfinished.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "sms/smsapi.h"

namespace vrksms {

namespace {

// The stand-in runs in one thread: a handler interrupts it between two
// stores, each of which is atomic, so it always sees a whole list.
std::atomic<UnfinishedFile *> gHead{nullptr};

}  // namespace

void RememberUnfinished(UnfinishedFile &f, int dirFd, const std::string &name) {
  if (f.listed) ForgetUnfinished(f);
  f.dirFd = dirFd;
  size_t n = name.size() < sizeof(f.name) - 1 ? name.size() : sizeof(f.name) - 1;
  memcpy(f.name, name.data(), n);
  f.name[n] = '\0';
  f.next.store(gHead.load());
  gHead.store(&f);
  f.listed = true;
}

void ForgetUnfinished(UnfinishedFile &f) {
  if (!f.listed) return;
  for (std::atomic<UnfinishedFile *> *link = &gHead; link->load() != nullptr; link = &link->load()->next) {
    if (link->load() == &f) {
      link->store(f.next.load());
      break;
    }
  }
  f.listed = false;
  f.dirFd = -1;
}

}  // namespace vrksms

extern "C" void vrk_sms_discard_unfinished(void) {
  for (vrksms::UnfinishedFile *f = vrksms::gHead.load(); f != nullptr; f = f->next.load())
    if (f->dirFd >= 0 && f->name[0] != '\0') unlinkat(f->dirFd, f->name, 0);
}
