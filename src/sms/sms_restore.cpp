// Restore writes: opening a data set for restore, consuming its stream into
// an unnamed file (a new file) or a temporary name beside the target, and
// putting it into place only when the whole stream with a valid trailer has
// arrived.
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "runtime/printable.h"
#include "runtime/x_file_owner.h"
#include "sms/sms_datahandle.h"
#include "sms/sms_deferred.h"
#include "sms/sms_leftovers.h"
#include "sms/sms_newfile.h"
#include "sms/sms_owner_guard.h"
#include "sms/sms_path.h"
#include "sms/sms_scan.h"
#include "sms/sms_sidf.h"
#include "sms/sms_unfinished.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

const UINT32 kRestoreOptionBits = NWSM_NO_DATA_STREAMS | NWSM_NO_PARENT_TRUSTEES | NWSM_NO_CHILD_TRUSTEES |
                                  NWSM_NO_VOLUME_RESTRICTIONS | NWSM_NO_DISK_SPACE_RESTRICTIONS |
                                  NWSM_INCLUDE_MIGRATED_DATA;

// Why the first n components of a name give no directory to restore into:
// the first of them that is a symbolic link, no directory, or cannot be
// made or opened.
std::string WhyNoDirectory(const Tsa &tsa, const Resource &res, const std::vector<std::string> &comps, size_t n,
                           int err) {
  int fd = open(res.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return "the resource's directory " + res.dir + ": " + strerror(errno);
  std::string why = strerror(err);
  for (size_t i = 0; i < n; ++i) {
    std::string at = ParentName(tsa, res, comps, i + 1);
    if (at.size() > 1) at.pop_back();
    struct stat st;
    if (fstatat(fd, comps[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      why = at + ": " + strerror(errno == ENOENT ? err : errno);
      break;
    }
    if (S_ISLNK(st.st_mode)) {
      why = at + " is a symbolic link, which a restore never follows";
      break;
    }
    if (!S_ISDIR(st.st_mode)) {
      why = at + " is not a directory";
      break;
    }
    int next = openat(fd, comps[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      why = at + ": " + strerror(errno);
      break;
    }
    close(fd);
    fd = next;
  }
  close(fd);
  return why;
}

struct RestoreHandle : DataHandle {
  enum Phase { kHeader, kData, kTrailer, kDone, kDeclined, kBad };
  const Tsa *tsa = nullptr;
  Connection *conn = nullptr;  // set while the data set is decided
  UINT32 parentHandle = 0;
  bool haveListName = false;
  std::string listName;
  UINT32 mode = 0;
  Phase phase = kHeader;
  CCODE declined = 0;

  std::vector<uint8_t> hdr;
  SidfHeader h;
  size_t headerLen = 0;

  // Resolved target.
  const Resource *res = nullptr;
  std::vector<std::string> comps;
  std::string fullName;
  int selfFd = -1;  // a directory: the directory itself (its children are made beneath it)
  int dirFd = -1;   // a file or link: the directory that holds it
  RestoreHandle *lender = nullptr;         // dirFd is this open directory's selfFd, not ours to close
  std::vector<RestoreHandle *> borrowers;  // a directory: the open children whose dirFd is selfFd
  std::string name; // a file or link: its name in dirFd
  bool applyDirMeta = false;
  UnfinishedDir dirOnSignal;  // selfFd and the stream's metadata, for a signal handler
  std::string note;           // the note of an unfinished restore in selfFd
  bool metadataOnly = false;  // no data streams over an existing file
  int tmpFd = -1;
  bool unnamed = false;       // tmpFd is an unnamed file, linked in once whole
  bool checkAtLink = false;   // a small new file: its name is first looked at by the link
  bool placed = false;        // linked in at its last write; the close only closes it
  bool metaSet = false;       // its size, owner, mode and times are set
  CCODE placeRc = 0;          // what putting it in place met, reported at the close
  CreateDefaults defaults;    // of dirFd: what a new file in it gets
  CreateDefaults childDefaults;  // a directory: of selfFd, for its children
  bool holeSkipped = false;  // zero blocks left as a hole: the size is set at close
  std::string tmpName;
  bool tmpLinked = false;
  UnfinishedFile unfinished;  // tmpName, for a signal handler

  uint64_t dataDone = 0;
  uint32_t adler = kAdlerStart;
  uint8_t trailer[kSidfTrailer];
  size_t trailerDone = 0;
  std::string linkTarget;

  ~RestoreHandle() override { Discard(); }

  void Discard() {
    ForgetUnfinished(dirOnSignal);
    if (tmpFd >= 0) {
      close(tmpFd);
      tmpFd = -1;
    }
    if ((tmpLinked || !tmpName.empty()) && dirFd >= 0 && !tmpName.empty()) unlinkat(dirFd, tmpName.c_str(), 0);
    ForgetUnfinished(unfinished);
    tmpName.clear();
    tmpLinked = false;
    unnamed = false;
    if (dirFd >= 0 && !lender) close(dirFd);
    dirFd = -1;
    if (lender) {
      auto &b = lender->borrowers;
      b.erase(std::remove(b.begin(), b.end(), this), b.end());
      lender = nullptr;
    }
    LendNoLonger();
    if (selfFd >= 0) {
      close(selfFd);
      selfFd = -1;
    }
  }

  // The directory a file or link is made in. Beneath a directory handle
  // still open: that directory's own descriptor, used without a copy of
  // its own (a file a restore makes costs no descriptor of its own).
  int BorrowParent(RestoreHandle *parent) {
    if (!parent) return OpenParent(nullptr);
    lender = parent;
    parent->borrowers.push_back(this);
    return parent->selfFd;
  }
  // selfFd is about to be closed or given away: every child still open
  // beneath it gets a descriptor of its own for the same directory, and a
  // temporary name it has in the signal handler's list moves along.
  void LendNoLonger() {
    for (RestoreHandle *b : borrowers) {
      SignalsHeld held;
      const bool listed = b->unfinished.listed;
      if (listed) ForgetUnfinished(b->unfinished);
      b->dirFd = selfFd >= 0 ? WithDescriptors([&] { return fcntl(selfFd, F_DUPFD_CLOEXEC, 0); }) : -1;
      if (listed && b->dirFd >= 0) RememberUnfinished(b->unfinished, b->dirFd, b->tmpName);
      b->lender = nullptr;
    }
    borrowers.clear();
  }

  bool Overwrite() const { return (mode & NWSM_OPEN_MODE_MASK) == NWSM_OVERWRITE_DATA_SET; }
  bool IsDir() const { return h.kind == kSidfDirectory; }

  CCODE Decline(CCODE code) {
    phase = kDeclined;
    declined = code;
    return code;
  }
  CCODE Bad(CCODE code) {
    phase = kBad;
    declined = code;
    return code;
  }
  // The data set cannot be created here: said on standard error with the
  // reason, as the completion code carries none.
  CCODE CannotCreate(const std::string &why) {
    NotRestored(why);
    return Bad(NWSMTS_CREATE_ERROR);
  }
  void NotRestored(const std::string &why) const {
    // The name is the stored object's: a line break or an escape in it must
    // not reach the terminal or forge a line of its own.
    std::string note = "vrk_sms: " + (fullName.empty() ? listName : fullName) + ": not restored: " + why;
    fprintf(stderr, "%s\n", vrk_printable(note).c_str());
  }
  // The file's bytes could not be written (a full disk, the file-size
  // limit): said with the reason, as the write error carries none.
  void CannotWrite(int err) const { NotRestored(std::string("cannot write its data: ") + strerror(err)); }
  // The owner and mode of the stream are not given to the existing entry st.
  CCODE NotGiven(const struct stat &st) {
    std::string why = WhyNotGivenInPlace(st, h);
    return why.empty() ? 0 : CannotCreate(why);
  }
  // The existing directory st of another user is refused, and so is all
  // the stream holds beneath it.
  CCODE RefuseDir(const struct stat &st) {
    conn->refusedDirs.push_back({res, comps, fullName});
    Discard();
    return CannotCreate("the directory belongs to " + x_owner_text(st.st_uid) +
                        ", who is neither the caller, root nor its owner in the backup, " + x_owner_text(h.uid) +
                        ": nothing is restored into it or beneath it");
  }
  CCODE NoDirectory(size_t n) {
    return CannotCreate(WhyNoDirectory(*tsa, *res, comps, n, errno));
  }

  // The directory a data set is made in: its parent's, or found by name.
  int OpenParent(const RestoreHandle *parent) {
    return WithDescriptors([&] {
      return parent ? fcntl(parent->selfFd, F_DUPFD_CLOEXEC, 0) : OpenDirBeneath(*res, comps, comps.size() - 1, true);
    });
  }
  DirMeta Meta() const;

  const CreateDefaults &ChildDefaults() {
    if (!childDefaults.known && selfFd >= 0) childDefaults = CreateDefaultsOf(selfFd);
    return childDefaults;
  }

  // The steps of Decide, each deciding one thing about the data set.
  CCODE Decide(Connection &conn);
  // The target's resource and components: beneath the parent handle's
  // directory (parent set to it), or from the name given at the open.
  CCODE FindTarget(RestoreHandle *&parent);
  CCODE TargetBeneath(RestoreHandle *&parent);
  CCODE TargetByName();
  // The full name set; declined where the selection excludes the data set
  // or it is in use.
  CCODE Admit(Connection &conn);
  void LeaveEarlierDirs();
  // A directory: the resource's top opened, or one made or entered beneath
  // its parent and taken for its stream's metadata.
  CCODE DecideDirectory(RestoreHandle *parent);
  CCODE OpenTop();
  // What stands in the directory's place, if anything, may be entered;
  // pfd is closed where it may not.
  CCODE JudgeExistingDir(int pfd, const char *last, bool &exists);
  // Makes the directory where none is there and opens it; pfd is closed.
  CCODE MakeOrEnterDir(int pfd, const char *last, bool exists, bool &made);
  // The opened directory: declined, refused, or watched until its metadata
  // is set.
  CCODE TakeDir(bool made);
  // A file or link: its directory entered, what stands in its place judged,
  // and a file's road chosen (metadata only, an unnamed file or a temporary
  // name).
  CCODE DecideFile(RestoreHandle *parent);
  CCODE EnterFileDir(RestoreHandle *parent);
  CCODE JudgeExistingFile(struct stat &st, bool &exists);
  CCODE ChooseFileRoad(const struct stat &st, bool exists);
  bool MayCheckAtLink() const;
  bool OpenUnnamed();
  CCODE WriteFailed();
  CCODE Place();
  void Unplace();
  CCODE OpenNamedTemp();
  CCODE Write(Connection &conn, const uint8_t *p, size_t n);
  void SetFileMeta(const struct timespec ts[2], CCODE &rc);
  CCODE LinkInPlace();
  CCODE Close() override;
};

bool ChildExcluded(const std::vector<NameEntry> &sel, const std::string &terminal, const std::string &full) {
  for (const NameEntry &s : sel) {
    if (s.selectionType == NWSM_CHILD_TO_BE_EXCLUDED && fnmatch(s.name.c_str(), terminal.c_str(), 0) == 0)
      return true;
    if (s.selectionType == NWSM_EXCLUDE_CHILD_BY_FULL_NAME && fnmatch(s.name.c_str(), full.c_str(), 0) == 0)
      return true;
  }
  return false;
}

bool ParentExcluded(const std::vector<NameEntry> &sel, const std::string &full) {
  std::string bare = full;
  if (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  for (const NameEntry &s : sel)
    if (s.selectionType == NWSM_PARENT_TO_BE_EXCLUDED &&
        (fnmatch(s.name.c_str(), full.c_str(), 0) == 0 || fnmatch(s.name.c_str(), bare.c_str(), 0) == 0))
      return true;
  return false;
}

CCODE RestoreHandle::Decide(Connection &c) {
  conn = &c;
  RestoreHandle *parent = nullptr;
  if (CCODE rc = FindTarget(parent)) return rc;
  if (CCODE rc = Admit(c)) return rc;
  LeaveEarlierDirs();
  return IsDir() ? DecideDirectory(parent) : DecideFile(parent);
}

CCODE RestoreHandle::FindTarget(RestoreHandle *&parent) {
  // The place is the name given at the open, and only that: the name inside
  // the stream is never used for it (a stored object may carry any).
  if (!haveListName) {
    listName = "(a data set opened without a name)";
    return CannotCreate("no name was given to place it");
  }
  if (parentHandle) return TargetBeneath(parent);
  return TargetByName();
}

CCODE RestoreHandle::TargetBeneath(RestoreHandle *&parent) {
  parent = FindHandle<RestoreHandle>(parentHandle, connection);
  if (!parent || !parent->IsDir() || parent->selfFd < 0) {
    if (parent && !parent->fullName.empty()) listName = parent->fullName + listName;
    return CannotCreate("its directory was not restored");
  }
  if (!ValidComponent(listName)) return CannotCreate("a terminal name must be one component");
  res = parent->res;
  comps = parent->comps;
  comps.push_back(listName);
  return 0;
}

CCODE RestoreHandle::TargetByName() {
  Target t;
  if (CCODE rc = ResolveName(*tsa, listName, t))
    return CannotCreate(rc == NWSMTS_INVALID_PATH ? "no resource of the TSA holds the name"
                                                  : "an empty, \".\" or \"..\" component");
  if (!IsDir() && (t.parentForm || t.comps.empty())) return CannotCreate("a file named like a directory");
  res = t.res;
  comps = t.comps;
  return 0;
}

CCODE RestoreHandle::Admit(Connection &conn) {
  fullName = IsDir() ? ParentName(*tsa, *res, comps) : ParentName(*tsa, *res, comps, comps.size() - 1) + comps.back();
  if (IsDir() ? ParentExcluded(conn.restoreSelection, fullName)
              : ChildExcluded(conn.restoreSelection, comps.back(), fullName))
    return Decline(NWSMTS_DATA_SET_EXCLUDED);
  if (G().world.inUse.count(fullName)) return Decline(NWSMTS_DATA_SET_IN_USE);
  // Beneath a directory of another user that was refused: never placed
  // into it, whichever way the data set was opened.
  for (const Connection::RefusedDir &r : conn.refusedDirs)
    if (r.res == res && r.comps.size() < comps.size() && std::equal(r.comps.begin(), r.comps.end(), comps.begin()))
      return CannotCreate("it lies beneath " + r.fullName + ", which was not restored");
  return 0;
}

void RestoreHandle::LeaveEarlierDirs() {
  // Directories restored before whose subtree this data set leaves get
  // their metadata now.
  if (IsDir()) LeaveDirsFor(connection, res, comps);
  else LeaveDirsFor(connection, res, std::vector<std::string>(comps.begin(), comps.end() - 1));
}

CCODE RestoreHandle::DecideDirectory(RestoreHandle *parent) {
  if (comps.empty()) return OpenTop();
  int pfd = OpenParent(parent);
  if (pfd < 0) return NoDirectory(comps.size() - 1);
  ReenterDir(connection, pfd);
  const char *last = comps.back().c_str();
  bool exists = false;
  if (CCODE rc = JudgeExistingDir(pfd, last, exists)) return rc;
  bool made = false;
  if (CCODE rc = MakeOrEnterDir(pfd, last, exists, made)) return rc;
  return TakeDir(made);
}

CCODE RestoreHandle::OpenTop() {
  // The resource's top keeps its mode, owner and times whatever the
  // mode: the handle is good for its children only.
  selfFd = OpenDirBeneath(*res, comps, 0, false);
  if (selfFd < 0) return NoDirectory(0);
  RemoveLeftTemps(selfFd);
  return Decline(NWSMTS_VALID_PARENT_HANDLE);
}

CCODE RestoreHandle::JudgeExistingDir(int pfd, const char *last, bool &exists) {
  FileMeta m;
  exists = StatEntry(pfd, last, m);
  struct stat st;
  if (!exists && fstatat(pfd, last, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    close(pfd);
    return CannotCreate("a FIFO, device or socket stands in its place");
  }
  if (exists && m.kind != kSidfDirectory) {
    close(pfd);
    return CannotCreate(m.kind == kSidfSymlink ? "a symbolic link stands in its place, which a restore never follows"
                                               : "a file stands in its place");
  }
  return 0;
}

CCODE RestoreHandle::MakeOrEnterDir(int pfd, const char *last, bool exists, bool &made) {
  // Made and marked as unfinished with no signal in between.
  std::optional<SignalsHeld> held;
  if (!exists) held.emplace();
  if (!exists) {
    if (mkdirat(pfd, last, 0700) != 0) {
      int err = errno;
      close(pfd);
      return CannotCreate(std::string("cannot make the directory: ") + strerror(err));
    }
    made = true;
  }
  selfFd = WithDescriptors([&] { return openat(pfd, last, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
  int err = errno;
  close(pfd);
  if (selfFd < 0) return CannotCreate(std::string("cannot open the directory: ") + strerror(err));
  if (made && NoteUnfinished(selfFd, fullName)) note = UnfinishedNote();
  return 0;
}

CCODE RestoreHandle::TakeDir(bool made) {
  struct stat st;
  // A directory that was there takes the stream's children only when it is
  // the caller's, root's or the owner's the stream records for it: one of
  // another user would hand them whatever the backup kept from that user.
  if (!made) {
    if (fstat(selfFd, &st) != 0) return CannotCreate(std::string("cannot look at the directory: ") + strerror(errno));
    if (!x_owner_trusted(st.st_uid) && st.st_uid != h.uid) return RefuseDir(st);
  }
  // A directory that was there may hold what a killed restore left: one
  // it made and did not finish is finished now, as one made now.
  if (!made) RemoveLeftTemps(selfFd, &note);
  // A note counts only in the directory and for the data set it was made
  // for (a directory moved to another name takes its note along), and only
  // where the directory may take the stream's owner and mode.
  if (!made && !note.empty() && !NoteMadeFor(selfFd, note, fullName)) note.clear();
  if (!note.empty() && (fstat(selfFd, &st) != 0 || !WhyNotGivenInPlace(st, h).empty())) note.clear();
  if (!made && note.empty() && !Overwrite()) return Decline(NWSMTS_VALID_PARENT_HANDLE);
  // Overwritten in place: never another user's directory given away. Its
  // children are still restored into it.
  if (!made && note.empty() && fstat(selfFd, &st) == 0 && NotGiven(st)) return declined;
  // A directory of the user's that is there read-only (an earlier restore
  // of the same tree) takes its children first: its own owner, mode and
  // times are set once they are in place.
  if (!made && geteuid() != 0 && fstat(selfFd, &st) == 0 && st.st_uid == geteuid() &&
      (st.st_mode & S_IRWXU) != S_IRWXU)
    fchmod(selfFd, (st.st_mode & 07777) | S_IRWXU);
  applyDirMeta = true;
  WatchDir(dirOnSignal, selfFd, Meta());
  RememberUnfinished(dirOnSignal);
  return 0;
}

CCODE RestoreHandle::DecideFile(RestoreHandle *parent) {
  if (CCODE rc = EnterFileDir(parent)) return rc;
  name = comps.back();
  // A small file is written unnamed before anything looks at its name:
  // linking it in is the look, and what stands there is judged then as it
  // would have been now (Place). Most restored files are new, and a look
  // that finds nothing costs about as much as making the file.
  if (MayCheckAtLink() && OpenUnnamed()) {
    checkAtLink = true;
    return 0;
  }
  struct stat st;
  bool exists = false;
  if (CCODE rc = JudgeExistingFile(st, exists)) return rc;
  if (h.kind == kSidfFile) return ChooseFileRoad(st, exists);
  return 0;
}

CCODE RestoreHandle::EnterFileDir(RestoreHandle *parent) {
  dirFd = BorrowParent(parent);
  if (dirFd < 0) return NoDirectory(comps.size() - 1);
  defaults = parent ? parent->ChildDefaults() : CreateDefaultsOf(dirFd);
  if (defaults.known) ReenterDirKnown(connection, dirFd, defaults.dev, defaults.ino);
  else ReenterDir(connection, dirFd);
  // Without a parent handle no directory restore has looked at this one.
  if (!parent) RemoveLeftTemps(dirFd);
  return 0;
}

CCODE RestoreHandle::JudgeExistingFile(struct stat &st, bool &exists) {
  name = comps.back();
  exists = fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists && S_ISDIR(st.st_mode)) return CannotCreate("a directory stands in its place");
  if (exists && !Overwrite()) return Decline(NWSMTS_DATA_SET_ALREADY_EXISTS);
  if (exists && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
    return CannotCreate("a FIFO, device or socket stands in its place");
  return 0;
}

CCODE RestoreHandle::ChooseFileRoad(const struct stat &st, bool exists) {
  if ((mode & NWSM_NO_DATA_STREAMS) && exists && S_ISREG(st.st_mode)) {
    // Mode and owner would be set on the file's inode in place: one with
    // other links is also a file elsewhere, perhaps outside the target.
    if (st.st_nlink != 1) return CannotCreate("the file has other links, whose metadata would change too");
    if (NotGiven(st)) return declined;
    metadataOnly = true;
    return 0;
  }
  if (!exists && OpenUnnamed()) return 0;
  return OpenNamedTemp();
}

// Files up to this size are written before their name is looked at: one
// that is refused there (it exists, without overwrite) has cost a write of
// at most this much.
constexpr uint64_t kCheckAtLinkMax = 16 * 1024;

bool RestoreHandle::MayCheckAtLink() const {
  return h.kind == kSidfFile && !(mode & NWSM_NO_DATA_STREAMS) && h.dataSize <= kCheckAtLinkMax;
}

// A new file is written unnamed: no name stands for it until it is whole,
// and a killed restore leaves nothing behind. False where the file system
// (or the world's switch) allows no unnamed files.
bool RestoreHandle::OpenUnnamed() {
  if (!G().world.unnamedNewFiles) return false;
  tmpFd = WithDescriptors([&] { return OpenUnnamedFile(dirFd, h.mode); });
  unnamed = tmpFd >= 0;
  return unnamed;
}

// A file that replaces another, or where unnamed files are not to be had:
// a temporary name beside the target, locked while it is written and in the
// list that a signal handler clears.
CCODE RestoreHandle::OpenNamedTemp() {
  SignalsHeld held;
  for (int tries = 0; tries < 100 && tmpFd < 0; ++tries) {
    tmpName = TempName();
    tmpFd = WithDescriptors(
        [&] { return openat(dirFd, tmpName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600); });
    if (tmpFd < 0 && errno != EEXIST) break;
  }
  if (tmpFd >= 0) {
    RememberUnfinished(unfinished, dirFd, tmpName);
    HoldTemp(tmpFd);
  }
  if (tmpFd < 0) {
    int err = errno;
    tmpName.clear();
    return CannotCreate(std::string("cannot make its temporary file: ") + strerror(err));
  }
  return 0;
}

void Times(const SidfHeader &h, struct timespec ts[2]) {
  ts[0].tv_sec = static_cast<time_t>(h.atimeSec);
  ts[0].tv_nsec = h.atimeNsec;
  ts[1].tv_sec = static_cast<time_t>(h.mtimeSec);
  ts[1].tv_nsec = h.mtimeNsec;
}

// Writes n bytes that belong at offset `at` of a new file; zeros are skipped
// over block by block (a new file reads zeros there, and the size is set at
// close), so that the hole of a sparse file stays a hole.
bool WriteKeepingHoles(int fd, const uint8_t *p, size_t n, uint64_t at, bool &skipped) {
  const size_t kBlock = 4096;
  static const uint8_t kZeros[kBlock] = {};
  size_t done = 0;
  while (done < n) {
    size_t k = std::min(n - done, kBlock - static_cast<size_t>((at + done) % kBlock));
    if (memcmp(p + done, kZeros, k) == 0) {
      if (lseek(fd, static_cast<off_t>(k), SEEK_CUR) < 0) return false;
      skipped = true;
      done += k;
      continue;
    }
    while (k > 0) {
      ssize_t w = write(fd, p + done, k);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += static_cast<size_t>(w);
      k -= static_cast<size_t>(w);
    }
  }
  return true;
}

// Closes a new file of a restore: -1 where its bytes may not all have
// reached it (or the world's switch says so).
int CloseNewFile(int fd) {
  int r = close(fd);
  if (G().world.failNewFile == World::NewFileFault::kClose) {
    errno = EIO;
    return -1;
  }
  return r;
}

// Removes the name in dirFd only while it still leads to the file `mine`:
// whatever came to stand there meanwhile stays.
void UnlinkIfStill(int dirFd, const std::string &name, const struct stat &mine) {
  struct stat there;
  if (fstatat(dirFd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && mine.st_dev == there.st_dev &&
      mine.st_ino == there.st_ino)
    unlinkat(dirFd, name.c_str(), 0);
}

CCODE RestoreHandle::Write(Connection &conn, const uint8_t *p, size_t n) {
  if (phase == kDeclined || phase == kBad) return declined;
  size_t pos = 0;
  while (pos < n) {
    switch (phase) {
      case kHeader: {
        size_t want = hdr.size() < kSidfFixedHeader ? kSidfFixedHeader - hdr.size() : 0;
        if (!want) {
          size_t size = hdr[6] | (static_cast<size_t>(hdr[7]) << 8);
          want = size > hdr.size() ? size - hdr.size() : 1;
        }
        size_t k = std::min(want, n - pos);
        hdr.insert(hdr.end(), p + pos, p + pos + k);
        pos += k;
        SidfParse r = DecodeSidfHeader(hdr.data(), hdr.size(), h, headerLen);
        if (r == SidfParse::kBad) return Bad(NWSMTS_INVALID_DATA);
        if (r == SidfParse::kNeedMore) break;
        adler = Adler32(adler, hdr.data(), hdr.size());
        if (CCODE rc = Decide(conn)) return rc;
        phase = h.dataSize ? kData : kTrailer;
        break;
      }
      case kData: {
        size_t k = static_cast<size_t>(std::min<uint64_t>(n - pos, h.dataSize - dataDone));
        adler = Adler32(adler, p + pos, k);
        if (h.kind == kSidfSymlink) {
          linkTarget.append(reinterpret_cast<const char *>(p + pos), k);
        } else if (!(mode & NWSM_NO_DATA_STREAMS) && tmpFd >= 0) {
          if (G().world.failNewFile == World::NewFileFault::kData ||
              !WriteKeepingHoles(tmpFd, p + pos, k, dataDone, holeSkipped))
            return WriteFailed();
        }
        pos += k;
        dataDone += k;
        if (dataDone == h.dataSize) phase = kTrailer;
        break;
      }
      case kTrailer: {
        size_t k = std::min(kSidfTrailer - trailerDone, n - pos);
        memcpy(trailer + trailerDone, p + pos, k);
        trailerDone += k;
        pos += k;
        if (trailerDone == kSidfTrailer) {
          uint64_t total;
          uint32_t sum;
          if (!DecodeSidfTrailer(trailer, total, sum) || total != headerLen + h.dataSize || sum != adler)
            return Bad(NWSMTS_INVALID_DATA);
          phase = kDone;
        }
        break;
      }
      default:
        Unplace();
        return Bad(NWSMTS_INVALID_DATA);  // bytes after the trailer
    }
  }
  if (phase == kDone && checkAtLink) return Place();
  return 0;
}

// A write into a file whose name was not looked at yet failed (a full
// disk): what stands at the name answers as it would have before the data.
CCODE RestoreHandle::WriteFailed() {
  const int err = errno;
  if (checkAtLink) {
    struct stat st;
    bool exists = false;
    if (CCODE rc = JudgeExistingFile(st, exists)) return rc;
  }
  CannotWrite(err);
  return Bad(NWSMTS_WRITE_ERROR);
}

// The whole small file gets its metadata and its name at its last write.
// Where the name is taken, it is judged as the look before the data would
// have judged it: a directory, FIFO, device or socket refuses the data set,
// and an existing file or link without overwrite declines it (never
// followed); with overwrite the close puts the file in its place through a
// temporary name. Other failures are reported at the close, as there.
CCODE RestoreHandle::Place() {
  checkAtLink = false;
  struct timespec ts[2];
  Times(h, ts);
  SetFileMeta(ts, placeRc);
  metaSet = true;
  if (placeRc) return 0;
  for (int tries = 0; tries < 2; ++tries) {
    if (LinkUnnamedFile(tmpFd, dirFd, name.c_str()) == 0) {
      placed = true;
      return 0;
    }
    if (errno != EEXIST) {
      placeRc = NWSMTS_WRITE_ERROR;
      return 0;
    }
    struct stat st;
    bool exists = false;
    if (CCODE rc = JudgeExistingFile(st, exists)) return rc;
    if (exists) return 0;  // replaced at the close
  }
  return 0;
}

// Bytes after the trailer of a file already linked in: the name it took is
// given up again, if it still leads to that file.
void RestoreHandle::Unplace() {
  if (!placed) return;
  placed = false;
  struct stat mine;
  if (fstat(tmpFd, &mine) == 0) UnlinkIfStill(dirFd, name, mine);
}

DirMeta RestoreHandle::Meta() const {
  DirMeta meta;
  meta.mode = h.mode;
  meta.uid = h.uid;
  meta.gid = h.gid;
  Times(h, meta.times);
  return meta;
}

CCODE RestoreHandle::Close() {
  if (phase == kDeclined) {
    Discard();
    return 0;
  }
  if (phase == kBad) {
    CCODE rc = declined == NWSMTS_INVALID_DATA ? NWSMTS_INVALID_DATA : 0;
    Discard();
    return rc;
  }
  if (phase != kDone) {
    // Cut off, or no stream at all: nothing takes the target's place, and
    // the data set is not restored.
    Discard();
    return NWSMTS_INVALID_DATA;
  }
  struct timespec ts[2];
  Times(h, ts);
  const bool root = ProcessEuid() == 0;
  CCODE rc = 0;
  if (IsDir()) {
    if (applyDirMeta && selfFd >= 0) {
      // Owner, mode and times once its subtree is in place: a read-only
      // directory still takes its children, and they do not move its time.
      LendNoLonger();
      DeferDirMeta(connection, res, comps, fullName, selfFd, Meta(), note, dirOnSignal);
      selfFd = -1;
    }
    Discard();
    return rc;
  }
  if (h.kind == kSidfSymlink) {
    SignalsHeld held;
    tmpName = TempName();
    if (symlinkat(linkTarget.c_str(), dirFd, tmpName.c_str()) != 0) {
      int err = errno;
      tmpName.clear();
      Discard();
      CannotCreate(std::string("cannot make the symbolic link: ") + strerror(err));
      return NWSMTS_CREATE_ERROR;
    }
    tmpLinked = true;
    RememberUnfinished(unfinished, dirFd, tmpName);
    if (root) fchownat(dirFd, tmpName.c_str(), h.uid, h.gid, AT_SYMLINK_NOFOLLOW);
    utimensat(dirFd, tmpName.c_str(), ts, AT_SYMLINK_NOFOLLOW);
  } else if (metadataOnly) {
    int fd = WithDescriptors(
        [&] { return openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
    struct stat st;
    // Still the one-link regular file seen at the first write, of an owner
    // it may be given to.
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) {
      close(fd);
      fd = -1;
    }
    if (fd >= 0 && NotGiven(st)) {
      close(fd);
      Discard();
      return NWSMTS_CREATE_ERROR;
    }
    if (fd < 0) rc = NWSMTS_WRITE_ERROR;
    else {
      if (root && fchown(fd, h.uid, h.gid) != 0) rc = NWSMTS_WRITE_ERROR;
      if (fchmod(fd, h.mode & 07777) != 0 || futimens(fd, ts) != 0) rc = NWSMTS_WRITE_ERROR;
      close(fd);
    }
    Discard();
    return rc;
  } else if (unnamed) {
    if (placeRc) rc = placeRc;
    else if (!metaSet) SetFileMeta(ts, rc);
    if (rc) {
      Discard();
      return rc;
    }
    rc = LinkInPlace();
    Discard();
    return rc;
  } else {
    SetFileMeta(ts, rc);
    if (CloseNewFile(tmpFd) != 0) rc = NWSMTS_WRITE_ERROR;
    tmpFd = -1;
    if (rc) {
      Discard();
      return rc;
    }
  }
  int r = Overwrite() ? renameat(dirFd, tmpName.c_str(), dirFd, name.c_str())
                      : renameat2(dirFd, tmpName.c_str(), dirFd, name.c_str(), RENAME_NOREPLACE);
  if (r != 0) {
    rc = errno == EEXIST ? NWSMTS_DATA_SET_ALREADY_EXISTS : NWSMTS_WRITE_ERROR;
    Discard();
    return rc;
  }
  ForgetUnfinished(unfinished);
  tmpName.clear();
  tmpLinked = false;
  Discard();
  return 0;
}

// Size, owner, mode and times of the file being written, on its descriptor;
// owner and mode only where the creation did not give them already.
void RestoreHandle::SetFileMeta(const struct timespec ts[2], CCODE &rc) {
  const bool root = ProcessEuid() == 0;
  if (holeSkipped && ftruncate(tmpFd, static_cast<off_t>(h.dataSize)) != 0) {
    CannotWrite(errno);
    rc = NWSMTS_WRITE_ERROR;
  }
  const bool ownerGiven = unnamed && defaults.known && defaults.steady && h.uid == ProcessEuid() && h.gid == defaults.gid;
  if (root && !ownerGiven && fchown(tmpFd, h.uid, h.gid) != 0) rc = NWSMTS_WRITE_ERROR;
  // A change of owner clears the set-id bits: the mode comes after it.
  const bool modeGiven = unnamed && CreateGivesMode(defaults, h.mode);
  if (!modeGiven && fchmod(tmpFd, h.mode & 07777) != 0) rc = NWSMTS_WRITE_ERROR;
  if (futimens(tmpFd, ts) != 0) rc = NWSMTS_WRITE_ERROR;
}

// The whole unnamed file gets its name. Something that came to stand there
// since the first write is never followed: without overwrite the data set
// is not restored; with it the file takes a temporary name, is closed, and
// only then replaces what stands there. A close that fails (the bytes may
// not all have reached the file) leaves no name to the new file, and an old
// file it was to replace stays.
CCODE RestoreHandle::LinkInPlace() {
  if (placed || LinkUnnamedFile(tmpFd, dirFd, name.c_str()) == 0) {
    placed = true;
    struct stat mine;
    const bool known = fstat(tmpFd, &mine) == 0;
    int fd = tmpFd;
    tmpFd = -1;
    if (CloseNewFile(fd) == 0) return 0;
    if (known) UnlinkIfStill(dirFd, name, mine);
    return NWSMTS_WRITE_ERROR;
  }
  if (errno != EEXIST) return NWSMTS_WRITE_ERROR;
  if (!Overwrite()) return NWSMTS_DATA_SET_ALREADY_EXISTS;
  {
    SignalsHeld held;
    int r = -1;
    for (int tries = 0; tries < 100 && r != 0; ++tries) {
      tmpName = TempName();
      r = LinkUnnamedFile(tmpFd, dirFd, tmpName.c_str());
      if (r != 0 && errno != EEXIST) break;
    }
    if (r != 0) {
      tmpName.clear();
      return NWSMTS_WRITE_ERROR;
    }
    tmpLinked = true;
    RememberUnfinished(unfinished, dirFd, tmpName);
  }
  int fd = tmpFd;
  tmpFd = -1;
  // On failure the temporary name goes with the handle.
  if (CloseNewFile(fd) != 0) return NWSMTS_WRITE_ERROR;
  if (renameat(dirFd, tmpName.c_str(), dirFd, name.c_str()) != 0) return NWSMTS_WRITE_ERROR;
  ForgetUnfinished(unfinished);
  tmpName.clear();
  tmpLinked = false;
  return 0;
}

const char *S(const char *s) { return s ? s : "(null)"; }

}  // namespace

extern "C" CCODE NWSMTSSetRestoreOptions(UINT32 connection, NWBOOLEAN checkCRC, NWBOOLEAN dontCheckSelectionList,
                                         const NWSM_SELECTION_LIST *selectionList) {
  Call c("NWSMTSSetRestoreOptions");
  c.Args("connection=0x%X, crc=%d, noSelection=%d, list=%s", connection, checkCRC, dontCheckSelectionList,
         selectionList ? "yes" : "no");
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!conn->loggedIn) return c.End(NWSMTS_NOT_LOGGED_IN);
  std::vector<NameEntry> sel;
  if (selectionList && !dontCheckSelectionList) {
    CCODE rc = ParseNameList(selectionList, 0, sel);
    if (rc) return c.End(rc);
    for (const NameEntry &e : sel)
      if (e.selectionType != NWSM_PARENT_TO_BE_EXCLUDED && e.selectionType != NWSM_CHILD_TO_BE_EXCLUDED &&
          e.selectionType != NWSM_EXCLUDE_CHILD_BY_FULL_NAME)
        return c.End(NWSMTS_INVALID_SELECTION_TYPE);
  }
  conn->restoreSelection = sel;
  return c.End(0);
}

extern "C" CCODE NWSMTSOpenDataSetForRestore(UINT32 connection, UINT32 parentHandle,
                                             const NWSM_DATA_SET_NAME_LIST *newDataSetName, UINT32 mode,
                                             UINT32 *dataSetHandle) {
  Call c("NWSMTSOpenDataSetForRestore");
  c.Args("connection=0x%X, parent=0x%X, names=%s, mode=0x%X", connection, parentHandle,
         newDataSetName ? "yes" : "no", mode);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!conn->loggedIn) return c.End(NWSMTS_NOT_LOGGED_IN);
  if (!dataSetHandle) return c.End(NWSMTS_INVALID_PARAMETER);
  UINT32 low = mode & NWSM_OPEN_MODE_MASK;
  if (low < NWSM_OVERWRITE_DATA_SET || low > NWSM_DO_NOT_OVERWRITE_PARENT ||
      (mode & ~(NWSM_OPEN_MODE_MASK | kRestoreOptionBits)))
    return c.End(NWSMTS_OPTION_NOT_SUPPORTED);
  auto h = std::make_unique<RestoreHandle>();
  h->connection = connection;
  h->tsa = conn->tsa;
  h->mode = mode;
  if (parentHandle) {
    RestoreHandle *p = FindHandle<RestoreHandle>(parentHandle, connection);
    if (!p) return c.End(NWSMTS_INVALID_DATA_SET_HANDLE);
    h->parentHandle = parentHandle;
  }
  // The name list names the place: a full name, or with a parent handle a
  // terminal name beneath that parent. Without one nothing is written.
  if (newDataSetName) {
    std::vector<NameEntry> names;
    CCODE rc = ParseNameList(newDataSetName, 0, names);
    if (rc) return c.End(rc);
    if (names.empty()) return c.End(NWSMUT_LIST_EMPTY);
    h->haveListName = true;
    h->listName = names[0].name;
    if (c.Logging())
      c.Args("connection=0x%X, parent=0x%X, name=\"%s\", mode=0x%X", connection, parentHandle,
             h->listName.c_str(), mode);
  }
  *dataSetHandle = AddHandle(std::move(h));
  return c.End(0);
}

extern "C" CCODE NWSMTSWriteDataSet(UINT32 connection, UINT32 dataSetHandle, UINT32 bytesToWrite,
                                    const BUFFER *buffer) {
  Call c("NWSMTSWriteDataSet");
  c.Args("connection=0x%X, handle=0x%X, size=%u", connection, dataSetHandle, bytesToWrite);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!buffer && bytesToWrite) return c.End(NWSMTS_INVALID_PARAMETER);
  RestoreHandle *h = FindHandle<RestoreHandle>(dataSetHandle, connection);
  if (!h) return c.End(NWSMTS_INVALID_DATA_SET_HANDLE);
  CCODE rc = h->Write(*conn, buffer, bytesToWrite);
  if (c.Logging() && !h->fullName.empty())
    c.Args("connection=0x%X, handle=0x%X, size=%u, name=\"%s\"", connection, dataSetHandle, bytesToWrite,
           h->fullName.c_str());
  return c.End(rc);
}

extern "C" CCODE NWSMTSDeleteDataSet(UINT32 connection, UINT32 sequence) {
  Call c("NWSMTSDeleteDataSet");
  c.Args("connection=0x%X, sequence=0x%X", connection, sequence);
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  Scan *s = FindHandle<Scan>(sequence, connection);
  if (!s || !s->haveCurrent) return c.End(NWSMTS_INVALID_SEQUENCE_NUMBER);
  const ScanItem &it = s->current;
  std::string full = ItemFullName(*s->tsa, it);
  c.Args("connection=0x%X, sequence=0x%X, name=\"%s\"", connection, sequence, full.c_str());
  if (it.isParent && it.dirComps.empty()) return c.End(NWSMTS_DELETE_ERROR);  // a resource's top
  size_t n = it.isParent ? it.dirComps.size() - 1 : it.dirComps.size();
  int fd = OpenDirBeneath(*it.res, it.dirComps, n, false);
  if (fd < 0) return c.End(NWSMTS_DELETE_ERROR);
  const std::string &last = it.isParent ? it.dirComps.back() : it.name;
  int r = unlinkat(fd, last.c_str(), it.isParent ? AT_REMOVEDIR : 0);
  close(fd);
  if (r != 0) return c.End(NWSMTS_DELETE_ERROR);
  G().world.inUse.erase(full);
  s->haveCurrent = false;
  return c.End(0);
}

extern "C" CCODE NWSMTSRenameDataSet(UINT32 connection, UINT32 sequence, UINT32 nameSpaceType,
                                     const char *newDataSetName) {
  Call c("NWSMTSRenameDataSet");
  c.Args("connection=0x%X, sequence=0x%X, ns=0x%X, name=\"%s\"", connection, sequence, nameSpaceType,
         S(newDataSetName));
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  if (!newDataSetName) return c.End(NWSMTS_INVALID_PARAMETER);
  Scan *s = FindHandle<Scan>(sequence, connection);
  if (!s || !s->haveCurrent) return c.End(NWSMTS_INVALID_SEQUENCE_NUMBER);
  const ScanItem &it = s->current;
  if (it.isParent && it.dirComps.empty()) return c.End(NWSMTS_RENAME_ERROR);
  std::vector<std::string> from = it.dirComps;
  if (!it.isParent) from.push_back(it.name);
  // A terminal name renames within the parent; a full name moves within the resource.
  std::vector<std::string> to;
  std::string given = newDataSetName;
  if (given.find('/') == std::string::npos && given.find(':') == std::string::npos) {
    if (!ValidComponent(given)) return c.End(NWSMTS_INVALID_NAME);
    to = from;
    to.back() = given;
  } else {
    Target t;
    if (ResolveName(*s->tsa, given, t) || t.res != it.res || t.comps.empty()) return c.End(NWSMTS_INVALID_NAME);
    to = t.comps;
  }
  int fromFd = OpenDirBeneath(*it.res, from, from.size() - 1, false);
  int toFd = OpenDirBeneath(*it.res, to, to.size() - 1, false);
  int r = -1;
  if (fromFd >= 0 && toFd >= 0)
    r = renameat2(fromFd, from.back().c_str(), toFd, to.back().c_str(), RENAME_NOREPLACE);
  int saved = errno;
  if (fromFd >= 0) close(fromFd);
  if (toFd >= 0) close(toFd);
  if (r != 0) return c.End(saved == EEXIST ? NWSMTS_DATA_SET_ALREADY_EXISTS : NWSMTS_RENAME_ERROR);
  s->haveCurrent = false;
  return c.End(0);
}
