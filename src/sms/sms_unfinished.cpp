// The lists of unfinished restore files and directories, and their removal
// or completion, which only use async-signal-safe calls so that a handler of
// SIGTERM can run them.
#include "sms/sms_unfinished.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <string.h>
#include <unistd.h>

#include "sms/smsapi.h"

namespace vrksms {

namespace {

// The stand-in runs in one thread: a handler interrupts it between two
// stores, each of which is atomic, so it always sees a whole list.
std::atomic<UnfinishedFile *> gHead{nullptr};
std::atomic<UnfinishedDir *> gDirHead{nullptr};

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

void RememberUnfinished(UnfinishedDir &d) {
  if (d.listed || d.fd < 0) return;
  d.next.store(gDirHead.load());
  gDirHead.store(&d);
  d.listed = true;
}

void ForgetUnfinished(UnfinishedDir &d) {
  if (!d.listed) return;
  for (std::atomic<UnfinishedDir *> *link = &gDirHead; link->load() != nullptr; link = &link->load()->next) {
    if (link->load() == &d) {
      link->store(d.next.load());
      break;
    }
  }
  d.listed = false;
}

}  // namespace vrksms

extern "C" void vrk_sms_discard_unfinished(void) {
  for (vrksms::UnfinishedFile *f = vrksms::gHead.load(); f != nullptr; f = f->next.load())
    if (f->dirFd >= 0 && f->name[0] != '\0') unlinkat(f->dirFd, f->name, 0);
  // Then the directories, deepest first (the newest stands first): nothing
  // is removed from them after their times are set. Their notes stay, so
  // that the next restore finishes what this one left.
  const bool root = geteuid() == 0;
  for (vrksms::UnfinishedDir *d = vrksms::gDirHead.load(); d != nullptr; d = d->next.load()) {
    if (d->fd < 0) continue;
    if (root) fchown(d->fd, d->uid, d->gid);
    fchmod(d->fd, d->mode & 07777);
    futimens(d->fd, d->times);
  }
}
