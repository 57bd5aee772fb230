// The scan of a target service: depth-first over the sources of a resource
// name list, with exclusions, date filters, one-level scans and resumption.
#ifndef VRK_SMS_SMS_SCAN_H
#define VRK_SMS_SMS_SCAN_H

#include <time.h>

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sms/sms_archive.h"
#include "sms/sms_changed.h"
#include "sms/sms_namelist.h"
#include "sms/sms_state.h"
#include "sms/sms_time.h"
#include "sms/sms_world.h"
#include "sms/smstypes.h"

namespace vrksms {

struct FileMeta {
  uint8_t kind = 0;  // SidfKind
  uint32_t mode = 0, uid = 0, gid = 0;
  uint64_t size = 0;
  struct timespec mtime {}, atime {}, ctime {}, btime {};
  uint64_t dev = 0, ino = 0;  // its identity: a name that now holds another is changed
};

// Reads the metadata of name in directory fd without following a link;
// false for special files or errors.
bool StatEntry(int dirfd, const char *name, FileMeta &out);

// The metadata of the open directory fd as a parent's data set carries it;
// kind stays 0 when the directory cannot be asked.
FileMeta OpenDirMeta(int fd);

// A directory the scan opened beneath its resource (every component without
// following links), shared by the frame that reads it and the items it returns.
struct DirFd {
  int fd;
  explicit DirFd(int f) : fd(f) {}
  ~DirFd();
  DirFd(const DirFd &) = delete;
  DirFd &operator=(const DirFd &) = delete;
};

struct ScanItem {
  const Resource *res = nullptr;
  std::vector<std::string> dirComps;  // a parent's own components, a child's directory
  bool isParent = false;
  std::string name;                   // a child's terminal name
  FileMeta meta;
  // The open directory of dirComps (a parent's own, a child's directory),
  // or null when the scan did not open it (a one-level scan's subdirectories)
  // or no longer holds it (deep trees, see Scan).
  std::shared_ptr<const DirFd> dir;
  // A parent whose directory could not be read (its errno): it comes without
  // children, and its open for backup fails, so that the loss is reported.
  int unreadable = 0;
};

using OrderKey = std::vector<std::pair<int, std::string>>;

// Descriptors: the scan holds the directories of the first kHeldDirsMax
// levels open for as long as it works below them. A deeper directory is held
// only while its own entries are read and returned; its subdirectories are
// then opened beneath it, or, once it has let go, by path from the nearest
// directory still held, one component at a time without following links.
// When the process runs out of descriptors (EMFILE, ENFILE) the bound is
// lowered to half of what is held and the open is tried again.
class Scan : public HandleObject {
 public:
  static constexpr size_t kHeldDirsMax = 64;

  struct Source {
    const Resource *res = nullptr;
    std::vector<std::string> comps;
    bool fileSource = false;
    std::string fileName;
  };

  const Tsa *tsa = nullptr;
  NWSM_SCAN_CONTROL ctl{};
  std::vector<NameEntry> selection;
  std::vector<uint32_t> nameSpaces;  // name-space entries of every returned name list
  std::vector<Source> sources;
  mutable PackedTimes packedTimes;  // the dates this scan reports and filters by
  ScanItem current;
  bool haveCurrent = false;
  std::string leftOut;  // the full name of the item the last step left out

  bool resume = false;
  size_t resumeSource = 0;
  OrderKey resumeKey;

  ~Scan() override;
  // Takes the date bounds of ctl as instants (once ctl is set).
  void PrepareFilter();
  // 0 with the next item in `current`, NWSMTS_NO_MORE_DATA_SETS, or an error.
  CCODE Next();
  // The current item cannot be returned (why: the code of its name list):
  // it is left out, a parent with all it holds, and named on standard error;
  // the next call of Next goes on after it.
  void LeaveOut(CCODE why);

 private:
  struct Entry {
    std::string name;
    FileMeta meta;
  };
  struct Frame {
    int fd = -1;  // held by dir
    std::shared_ptr<const DirFd> dir;
    size_t depth = 0;
    bool loaded = false, emitted = false;
    bool held = false;  // counted in held_: kept until the frame ends
    int err = 0;        // the directory could not be read (errno)
    FileMeta self;
    std::string keyPrefix;  // archive keys of its entries begin with this
    // Its entries' archive records, looked up once (in generation recordsGen).
    mutable const ArchiveDir *records = nullptr;
    mutable uint64_t recordsGen = 0;
    bool forced = false;    // it or a directory above failed: all it holds counts as changed
    std::vector<Entry> files, dirs;
    size_t fi = 0, di = 0;
    void Own(int f) {
      fd = f;
      dir = f >= 0 ? std::make_shared<const DirFd>(f) : nullptr;
    }
  };

  void Load(Frame &f);
  // The directory of f was read whole (others: its entries that the scan
  // does not return, special files and excluded directories, a directory's
  // with "/"): the records of names it no longer holds are let go.
  void ForgetGone(const Frame &f, const std::vector<std::string> &others) const;
  // Opens the subdirectory name of the deepest frame (comps_ ends in name):
  // beneath it, or by path from the nearest held directory; -1 with errno.
  int OpenSub(const std::string &name);
  // Lets go of held directories below the lowered bound; false when there
  // is nothing left to let go of.
  bool Shed();
  // Takes the new deepest frame: held while under the bound.
  void Hold(Frame &f);
  void Release(Frame &f);
  void Unreadable(Frame &f, int err) const;
  bool Archived(const Entry &e, const Frame &f) const;
  bool Selected(const Entry &e, const Frame &f) const;
  // The date windows of ctl, for a child or a subdirectory of f.
  bool DateSelected(const Entry &e, const Frame &f, bool isDir) const;
  // Whether e came under its present name, or changed in a way that its
  // modification time does not show, at or after the first-create bound.
  bool CameSince(const Entry &e, const Frame &f, bool isDir) const;
  bool RecordLater(UINT32 archived) const;
  RunStanding Standing(uint64_t run) const;
  // Sets the frame's key prefix and whether it counts as changed whole.
  void Enter(Frame &f, const Frame *parent) const;
  // Tells on standard error that a special file of the directory is left out.
  void NoticeSpecial(const Frame &f, const std::string &parent, Entry &e) const;
  bool ParentExcluded(const std::string &fullName) const;
  bool FilterActive() const;
  bool ResumeActive() const { return resume && si_ == resumeSource; }
  OrderKey KeyOf(size_t depth) const;
  void PushParent(size_t depth, const FileMeta &meta, const std::shared_ptr<const DirFd> &dir, int err = 0);
  void EmitPending();
  void Passed();  // an item after the resume point was emitted

  // The steps of Next, each taking the scan one step on.
  // Opens the next source and returns its top parent (a file source also
  // its file), or passes over a source that is skipped, excluded or gone.
  void StartSource();
  // The source's directory is gone: said so, and returned as unreadable.
  void SourceGone();
  // A source naming one file: its directory's parent and the file.
  void ScanFileSource(const Frame &f);
  // All of the source is returned: the scan moves to the next one.
  void EndSource();
  // The source is done: a resume point in it is passed.
  void FinishSource();
  // Reads the deepest directory, then takes its next child, its next
  // subdirectory, or leaves it.
  void Advance();
  void NextChild(Frame &f);
  void NextSubdir(Frame &f);
  // A one-level scan returns a subdirectory as a parent without entering it.
  void NameSubdir(const Frame &f, const Entry &d);
  // Opens and reads subdirectory d of f as the new deepest frame (already:
  // it was returned before the resume point).
  void EnterSubdir(Frame &f, const Entry &d, bool already);
  void LeaveDir();
  void QueueChild(const Frame &f, const Entry &e);
  // Whether the entry name of the directory at depth (a subdirectory when
  // isDir is 1) comes after the resume point.
  bool AfterResume(size_t depth, int isDir, const std::string &name) const;
  // A subdirectory's subtree lies wholly before the resume point, holds it
  // or is it (the directory was returned), or comes after it.
  enum class ResumePlace { kBefore, kReturned, kAfter };
  ResumePlace PlaceOfDir(const Frame &f, const Entry &d) const;

  size_t si_ = 0;
  bool started_ = false;
  std::vector<std::string> comps_;
  std::vector<std::unique_ptr<Frame>> stack_;
  std::deque<ScanItem> queue_;
  size_t held_ = 0, bound_ = kHeldDirsMax;
  // The date bounds as instants: a bound in a repeated hour is its earlier reading.
  time_t firstModified_ = 0, lastModified_ = 0, firstCreate_ = 0, lastCreate_ = 0;
  // Records of one backup share their archive date: the last answer is kept.
  mutable UINT32 lastArchived_ = 0;
  mutable bool lastArchivedLater_ = false, haveLastArchived_ = false;
  mutable uint64_t lastRun_ = 0, lastRunGen_ = 0;
  mutable RunStanding lastRunStanding_{};
  mutable bool haveLastRun_ = false;
};

// The full name of the current item's data set (a parent's name, or the
// child's directory name followed by its terminal name).
std::string ItemFullName(const Tsa &tsa, const ScanItem &item);
// The item's key in the archive state: its components below the resource
// joined by "/", a parent's with a "/" after it.
std::string ItemKey(const ScanItem &item);

}  // namespace vrksms

#endif
