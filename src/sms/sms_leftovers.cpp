// Temporary names of restore writes, the removal of those a killed restore
// of the same user left behind in a directory it writes into again, and the
// note of a directory whose restore is not finished.
#include "sms/sms_leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "runtime/x_leftover.h"
#include "sms/sms_newfile.h"
#include "sms/sms_state.h"

namespace vrksms {

namespace {

const char kPrefix[] = ".vrk-restore-";
const char kNotePrefix[] = ".vrk-unfinished-";

// The last directory read, by device and inode, and the note found there.
std::pair<dev_t, ino_t> gLastDir{0, 0};
bool gHaveLastDir = false;
std::string gLastNote;

// True when the process pid of this user's name has ended.
bool Ended(unsigned uid, int pid) { return uid == static_cast<unsigned>(geteuid()) && x_process_ended(pid); }

// True when the name is the note of an ended restore of this user.
bool NoteOfAnEndedRestore(const char *name) {
  unsigned uid = 0;
  int pid = 0, used = 0;
  if (sscanf(name, ".vrk-unfinished-%u-%d%n", &uid, &pid, &used) != 2 || name[used] != '\0') return false;
  if (Format(".vrk-unfinished-%u-%d", uid, pid) != name) return false;
  return Ended(uid, pid);
}

// The note's name is this user's, the file is too: a regular file of one
// link, so that another user can put none there.
bool IsOwnNote(int dirFd, const std::string &name) { return x_own_single_file(dirFd, name.c_str()); }

// True when the name is one that this user's process pid made and that
// process has ended.
bool LeftByAnEndedRestore(const char *name) {
  unsigned uid = 0, hex = 0;
  int pid = 0, used = 0;
  if (sscanf(name, ".vrk-restore-%u-%d-%8x%n", &uid, &pid, &hex, &used) != 3 || name[used] != '\0') return false;
  // Exactly the form TempName writes, nothing that merely parses like it.
  if (Format(".vrk-restore-%u-%d-%08x", uid, pid, hex) != name) return false;
  return Ended(uid, pid);
}

}  // namespace

std::string TempName() {
  static unsigned counter = 0;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  unsigned x = static_cast<unsigned>(ts.tv_nsec) ^ (++counter * 2654435761u);
  return Format(".vrk-restore-%u-%d-%08x", static_cast<unsigned>(ProcessEuid()), static_cast<int>(ProcessPid()),
                x);
}

void HoldTemp(int fd) { flock(fd, LOCK_EX | LOCK_NB); }

std::string UnfinishedNote() {
  return Format("%s%u-%d", kNotePrefix, static_cast<unsigned>(geteuid()), static_cast<int>(getpid()));
}

namespace {

// What a note in the directory says it belongs to; "" when it cannot be said.
std::string NoteText(int dirFd, const std::string &dataSet) {
  struct stat st;
  if (fstat(dirFd, &st) != 0) return "";
  return Format("%llu %llu\n", static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)) +
         dataSet;
}

}  // namespace

bool NoteUnfinished(int dirFd, const std::string &dataSet) {
  std::string text = NoteText(dirFd, dataSet);
  if (text.empty()) return false;
  int fd = openat(dirFd, UnfinishedNote().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (close(fd) != 0) ok = false;
  if (!ok) unlinkat(dirFd, UnfinishedNote().c_str(), 0);
  return ok;
}

bool NoteMadeFor(int dirFd, const std::string &note, const std::string &dataSet) {
  std::string want = NoteText(dirFd, dataSet);
  if (want.empty()) return false;
  int fd = openat(dirFd, note.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  std::string got(want.size() + 1, '\0');
  ssize_t n = -1;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1)
    n = pread(fd, &got[0], got.size(), 0);
  close(fd);
  return n == static_cast<ssize_t>(want.size()) && got.compare(0, want.size(), want) == 0;
}

void RemoveLeftTemps(int dirFd, std::string *ended) {
  if (ended) ended->clear();
  struct stat dst;
  if (fstat(dirFd, &dst) != 0) return;
  if (gHaveLastDir && gLastDir == std::make_pair(dst.st_dev, dst.st_ino)) {
    if (ended && !gLastNote.empty() && IsOwnNote(dirFd, gLastNote)) *ended = gLastNote;
    return;
  }
  gLastDir = {dst.st_dev, dst.st_ino};
  gHaveLastDir = true;
  gLastNote.clear();
  int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR *d = fdopendir(fd);
  if (d == nullptr) {
    close(fd);
    return;
  }
  std::vector<std::string> names;
  while (struct dirent *de = readdir(d)) {
    if (strncmp(de->d_name, kPrefix, sizeof(kPrefix) - 1) == 0 && LeftByAnEndedRestore(de->d_name))
      names.push_back(de->d_name);
    else if (strncmp(de->d_name, kNotePrefix, sizeof(kNotePrefix) - 1) == 0 && NoteOfAnEndedRestore(de->d_name))
      gLastNote = de->d_name;
  }
  closedir(d);
  if (!gLastNote.empty() && !IsOwnNote(dirFd, gLastNote)) gLastNote.clear();
  if (ended) *ended = gLastNote;
  const uid_t me = geteuid();
  for (const std::string &n : names) {
    struct stat st;
    if (fstatat(dirFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != me) continue;
    if (S_ISLNK(st.st_mode)) {
      unlinkat(dirFd, n.c_str(), 0);
      continue;
    }
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) continue;
    int f = openat(dirFd, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (f < 0) continue;
    struct stat fst;
    // Still the file looked at, and no writer holds it.
    if (fstat(f, &fst) == 0 && fst.st_dev == st.st_dev && fst.st_ino == st.st_ino &&
        flock(f, LOCK_EX | LOCK_NB) == 0)
      unlinkat(dirFd, n.c_str(), 0);
    close(f);
  }
}

}  // namespace vrksms
