// Scans over temporary trees: order and names, one-level scans, exclusions,
// date filters of the two incremental runs, resumption and refused names.
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>

#include "sms_test_util.h"

using namespace smstest;

namespace {

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = tmp.file("tree");
    MakeDirs(root + "/a/sub");
    MakeDirs(root + "/b");
    Touch(root + "/z.txt", "z");
    Touch(root + "/B.txt", "B");
    Touch(root + "/a/f2", "22");
    Touch(root + "/a/f1", "1");
    Touch(root + "/a/sub/deep", "deep");
    Touch(root + "/b/x.tmp", "x");
    PathWorld(tmp, root);
    conn = Login();
    ASSERT_NE(0u, conn);
  }
  void TearDown() override { Logout(conn); }
  TempDir tmp;
  std::string root;
  UINT32 conn = 0;
};

TEST_F(ScanTest, DepthFirstParentsBeforeChildrenInByteOrder) {
  NWSM_DATA_SET_NAME_LIST *src = OneName("/");
  std::vector<std::string> want = {"/", "  B.txt", "  z.txt", "/a/", "  f1", "  f2", "/a/sub/", "  deep",
                                   "/b/", "  x.tmp"};
  EXPECT_EQ(want, ScanNames(conn, src, Control()));
  free(src);
}

TEST_F(ScanTest, NameListHoldsEveryNameSpaceAndAnswersNameSpaceZero) {
  NWSM_DATA_SET_NAME_LIST *src = OneName("/a");
  NWSM_SCAN_CONTROL ctl = Control();
  ctl.returnNameSpaceType = NWSM_ALL_NAME_SPACES_UTF8;
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  ASSERT_EQ(0u, NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names));
  EXPECT_NE(0u, seq);
  EXPECT_NE(0xFFFFFFFFu, seq);
  EXPECT_TRUE(info->parentFlag);
  EXPECT_EQ(NFSNameSpace, info->creatorNameSpaceNumber);
  NWSM_DATA_SET_NAME n;
  for (UINT32 ns : {256u, 258u, 260u}) {
    ASSERT_EQ(0u, NWSMGetDataSetName(names, ns, &n)) << ns;
    EXPECT_STREQ("/a/", n.name);
    NWSMFreeDataSetName(&n);
  }
  ASSERT_EQ(0u, NWSMGetDataSetName(names, 0, &n));  // name space 0 is always answered
  EXPECT_EQ(256u, n.nameSpaceType);
  NWSMFreeDataSetName(&n);
  EXPECT_EQ(NWSMUT_NO_MORE_NAMES, NWSMGetDataSetName(names, 4, &n));
  ASSERT_EQ(0u, NWSMTSScanNextDataSet(conn, &seq, &info, &names));
  EXPECT_FALSE(info->parentFlag);
  EXPECT_EQ(1u, info->primaryDataStreamSize);
  EXPECT_EQ("f1", FirstName(names));
  EXPECT_EQ(0u, NWSMTSScanDataSetEnd(conn, &seq, &info, &names));
  EXPECT_EQ(nullptr, info);
  EXPECT_EQ(nullptr, names);
  free(src);
}

TEST_F(ScanTest, OneLevelReturnsSubdirectoriesAsParents) {
  NWSM_DATA_SET_NAME_LIST *src = OneName("/");
  NWSM_SCAN_CONTROL ctl = Control();
  ctl.scanType |= NWSM_DO_NOT_TRAVERSE;
  std::vector<std::string> want = {"/", "  B.txt", "  z.txt", "/a/", "/b/"};
  EXPECT_EQ(want, ScanNames(conn, src, ctl));
  free(src);
}

TEST_F(ScanTest, ExclusionsByTerminalNameFullNameAndParent) {
  NWSM_DATA_SET_NAME_LIST *src = OneName("/");
  NWSM_SELECTION_LIST *sel = nullptr;
  UINT32 h = 0;
  ASSERT_EQ(0u, NWSMPutFirstName(&sel, NFSNameSpace, NWSM_CHILD_TO_BE_EXCLUDED, 0, "/", "/", "*.tmp", &h));
  ASSERT_EQ(0u, NWSMPutNextName(&sel, &h, NFSNameSpace, NWSM_EXCLUDE_CHILD_BY_FULL_NAME, 0, "/", "/", "/a/f*"));
  ASSERT_EQ(0u, NWSMPutNextName(&sel, &h, NFSNameSpace, NWSM_PARENT_TO_BE_EXCLUDED, 0, "/", "/", "/*/sub/"));
  EXPECT_EQ(0u, NWSMCloseName(&h));
  std::vector<std::string> want = {"/", "  B.txt", "  z.txt", "/a/", "/b/"};
  EXPECT_EQ(want, ScanNames(conn, src, Control(), sel));
  free(sel);
  free(src);
}

TEST_F(ScanTest, FileSourceGivesItsParentThenTheFile) {
  NWSM_DATA_SET_NAME_LIST *src = OneName("/a/f2");
  std::vector<std::string> want = {"/a/", "  f2"};
  EXPECT_EQ(want, ScanNames(conn, src, Control()));
  free(src);
}

TEST_F(ScanTest, SymlinksAreChildrenAndNeverFollowedSpecialFilesLeftOut) {
  MakeDirs(tmp.file("outside"));
  Touch(tmp.file("outside/secret"), "s");
  ASSERT_EQ(0, symlink(tmp.file("outside").c_str(), (root + "/b/link").c_str()));
  ASSERT_EQ(0, mkfifo((root + "/b/fifo").c_str(), 0600));
  NWSM_DATA_SET_NAME_LIST *src = OneName("/b");
  std::vector<std::string> want = {"/b/", "  link", "  x.tmp"};
  EXPECT_EQ(want, ScanNames(conn, src, Control()));
  free(src);
  // A path through the link is refused, never followed out of the tree.
  CCODE rc = 0;
  src = OneName("/b/link/secret");
  EXPECT_TRUE(ScanNames(conn, src, Control(), nullptr, &rc).empty());
  EXPECT_EQ(NWSMTS_INVALID_PATH, rc);
  free(src);
}

// The note on a left-out special file carries the tree's name escaped as
// in the log: a line break or a terminal escape in it never reaches the
// terminal raw nor forges a line of its own.
TEST_F(ScanTest, LeftOutNoteShowsControlCharactersEscaped) {
  const std::string name = "fi\nvrk_sms: forged\x1b[31m";
  ASSERT_EQ(0, mkfifo((root + "/b/" + name).c_str(), 0600));
  NWSM_DATA_SET_NAME_LIST *src = OneName("/b");
  testing::internal::CaptureStderr();
  ScanNames(conn, src, Control());
  std::string err = testing::internal::GetCapturedStderr();
  free(src);
  EXPECT_EQ("vrk_sms: /b/fi\\x0avrk_sms: forged\\x1b[31m: left out, a FIFO is not backed up\n", err);
}

TEST_F(ScanTest, EscapingAndMalformedNamesAreRefused) {
  for (const char *bad : {"/../etc", "/a/../../x", "/a//f1", "/./a", "relative"}) {
    CCODE rc = 0;
    NWSM_DATA_SET_NAME_LIST *src = OneName(bad);
    EXPECT_TRUE(ScanNames(conn, src, Control(), nullptr, &rc).empty()) << bad;
    EXPECT_EQ(NWSMTS_INVALID_PATH, rc) << bad;
    free(src);
  }
}

TEST_F(ScanTest, IncrementalRunsSplitModifiedAndCreatedWithoutDuplicates) {
  // Reference time T; "old" files modified long before T; one file modified
  // after T. Every file here was created (birth or change time) after T = 2001.
  time_t old = 946684800;  // 2000-01-01
  Touch(root + "/a/f1", "1", old);
  Touch(root + "/a/f2", "22", old);
  Touch(root + "/a/sub/deep", "deep", old);
  Touch(root + "/B.txt", "B", old);
  Touch(root + "/z.txt", "z", old);
  Touch(root + "/b/x.tmp", "x", time(nullptr) + 10);
  UINT32 t = NWSMPackDateTime(2001, 1, 1, 0, 0, 0);
  NWSM_DATA_SET_NAME_LIST *src = OneName("/");
  NWSM_SCAN_CONTROL run1 = Control();
  run1.firstModifiedDateAndTime = t;
  // The directories were modified after T themselves: returned without children.
  std::vector<std::string> want1 = {"/", "/a/", "/a/sub/", "/b/", "  x.tmp"};
  EXPECT_EQ(want1, ScanNames(conn, src, run1));
  NWSM_SCAN_CONTROL run2 = Control();
  run2.lastModifiedDateAndTime = t;
  run2.firstCreateDateAndTime = t;
  run2.firstAccessDateAndTime = t;
  run2.firstArchivedDateAndTime = t;
  std::vector<std::string> want2 = {"/", "  B.txt", "  z.txt", "/a/", "  f1", "  f2", "/a/sub/", "  deep"};
  EXPECT_EQ(want2, ScanNames(conn, src, run2));
  // Nothing created after a future reference time: only the top parent.
  NWSM_SCAN_CONTROL none = Control();
  none.firstModifiedDateAndTime = NWSMPackDateTime(2100, 1, 1, 0, 0, 0);
  EXPECT_EQ(std::vector<std::string>{"/"}, ScanNames(conn, src, none));
  free(src);
}

TEST_F(ScanTest, ContinueResumesStrictlyAfterTheNamedDataSet) {
  ASSERT_NE(nullptr, NWSMTSScanDataSetContinue);
  NWSM_DATA_SET_NAME_LIST *src = OneName("/");
  NWSM_SCAN_CONTROL ctl = Control();
  struct Case {
    std::string resume;
    std::vector<std::string> rest;
  } cases[] = {
      {"/a/f1", {"  f2", "/a/sub/", "  deep", "/b/", "  x.tmp"}},
      {"/a/", {"  f1", "  f2", "/a/sub/", "  deep", "/b/", "  x.tmp"}},
      {"/a/sub/deep", {"/b/", "  x.tmp"}},
      {"/z.txt", {"/a/", "  f1", "  f2", "/a/sub/", "  deep", "/b/", "  x.tmp"}},
      {"/a/f0-vanished", {"  f1", "  f2", "/a/sub/", "  deep", "/b/", "  x.tmp"}},
  };
  for (const Case &c : cases) {
    NWSM_DATA_SET_NAME_LIST *resume = OneName(c.resume);
    UINT32 seq = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *names = nullptr;
    std::vector<std::string> got;
    CCODE rc = NWSMTSScanDataSetContinue(conn, src, &ctl, nullptr, resume, &seq, &info, &names);
    while (rc == 0) {
      got.push_back(info->parentFlag ? FirstName(names) : "  " + FirstName(names));
      rc = NWSMTSScanNextDataSet(conn, &seq, &info, &names);
    }
    EXPECT_EQ(c.rest, got) << c.resume;
    NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
    free(resume);
  }
  free(src);
}

TEST_F(ScanTest, MissingSourceAndUnsupportedScanType) {
  CCODE rc = 0;
  NWSM_DATA_SET_NAME_LIST *src = OneName("/nope");
  ScanNames(conn, src, Control(), nullptr, &rc);
  EXPECT_EQ(NWSMTS_INVALID_PATH, rc);
  free(src);
  src = OneName("/");
  NWSM_SCAN_CONTROL ctl = Control();
  ctl.scanType |= NWSM_OR_DATE_TIME_FILTER;
  ScanNames(conn, src, ctl, nullptr, &rc);
  EXPECT_EQ(NWSMTS_SCAN_TYPE_NOT_SUPPORTED, rc);
  char text[NWSM_MAX_STRING_LEN];
  UINT32 req, dis;
  EXPECT_EQ(0u, NWSMTSGetTargetScanTypeString(conn, 1, text, &req, &dis));
  EXPECT_EQ(NWSMTS_SCAN_TYPE_NOT_SUPPORTED, NWSMTSGetTargetScanTypeString(conn, 23, text, &req, &dis));
  EXPECT_EQ(0u, NWSMTSGetTargetScanTypeString(conn, 0, text, &req, &dis));
  free(src);
}

// Excluding archived children: a child whose modify flag was cleared is left
// out until it changes again; parents are always returned.
TEST_F(ScanTest, ExcludeArchivedChildrenLeavesOutWhatWasArchived) {
  NWSM_DATA_SET_NAME_LIST *src = OneName("/a");
  NWSM_SCAN_CONTROL ctl = Control();
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  ASSERT_EQ(0u, NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names));
  ASSERT_EQ(0u, NWSMTSScanNextDataSet(conn, &seq, &info, &names));
  ASSERT_EQ("f1", FirstName(names));
  UINT32 h = 0;
  ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_ONLY, &h));
  ASSERT_EQ(0u, NWSMTSSetArchiveStatus(conn, h, NWSM_CLEAR_MODIFY_FLAG, 0));
  NWSMTSCloseDataSet(conn, &h);
  NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  ctl.scanType |= NWSM_EXCLUDE_ARCHIVED_CHILDREN;
  std::vector<std::string> want = {"/a/", "  f2", "/a/sub/", "  deep"};
  EXPECT_EQ(want, ScanNames(conn, src, ctl));
  Touch(root + "/a/f1", "changed");
  want = {"/a/", "  f1", "  f2", "/a/sub/", "  deep"};
  EXPECT_EQ(want, ScanNames(conn, src, ctl));
  free(src);
}

// The names a scan returns (each component of 255 bytes shown as "C") and
// how many items it left out because their name lists could not be built;
// the full name of the last of those, as handed out once after its step.
std::vector<std::string> ScanGoingOn(UINT32 conn, const NWSM_DATA_SET_NAME_LIST *src, const NWSM_SCAN_CONTROL &ctl,
                                     int *leftOut, std::string *lost = nullptr) {
  const std::string comp(255, 'c');
  std::vector<std::string> out;
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  CCODE rc = NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names);
  *leftOut = 0;
  for (int guard = 0; guard < 1000 && (rc == 0 || rc == NWSMUT_LIST_TOO_LARGE); ++guard) {
    char *name = nullptr;
    const bool named = vrk_sms_left_out(conn, seq, &name);
    EXPECT_EQ(rc == NWSMUT_LIST_TOO_LARGE, named) << std::hex << rc;
    if (named && lost) *lost = name;
    free(name);
    EXPECT_EQ(0, vrk_sms_left_out(conn, seq, &name));
    if (rc == 0) {
      std::string n = FirstName(names);
      for (size_t at; (at = n.find(comp)) != std::string::npos;) n.replace(at, comp.size(), "C");
      out.push_back(info->parentFlag ? n : "  " + n);
    } else {
      ++*leftOut;
    }
    rc = NWSMTSScanNextDataSet(conn, &seq, &info, &names);
  }
  EXPECT_EQ(NWSMTS_NO_MORE_DATA_SETS, rc) << std::hex << rc;
  if (seq) NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  return out;
}

// A chain of 100 directories of 255-byte names below /a, with a file at the
// bottom: with three name spaces the deeper levels' names pass what a name
// list can hold. The scan leaves out the first such directory with all it
// holds and goes on after it, whatever the kind of scan.
TEST_F(ScanTest, AnItemWhoseNameListCannotBeBuiltIsLeftOutWithAllItHolds) {
  const std::string comp(255, 'c');
  int cur = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(cur, 0);
  for (int i = 0; i <= 100; ++i) {
    const char *name = i == 0 ? "a" : comp.c_str();
    if (i > 0) {
      ASSERT_EQ(0, mkdirat(cur, name, 0755)) << i;
    }
    int next = openat(cur, name, O_RDONLY | O_DIRECTORY);
    close(cur);
    cur = next;
    ASSERT_GE(cur, 0) << i;
  }
  int fd = openat(cur, "bottom", O_WRONLY | O_CREAT, 0644);
  close(fd);
  close(cur);
  NWSM_SCAN_CONTROL all = Control();
  all.returnNameSpaceType = NWSM_ALL_NAME_SPACES_UTF8;
  NWSM_DATA_SET_NAME_LIST *src = OneName("/");
  int leftOut = 0;
  std::string lost;
  testing::internal::CaptureStderr();
  std::vector<std::string> full = ScanGoingOn(conn, src, all, &leftOut, &lost);
  std::string err = testing::internal::GetCapturedStderr();
  free(src);
  EXPECT_EQ(1, leftOut);
  // The levels returned: /a/C/, /a/C/C/, ... up to the last that fits.
  std::vector<std::string> chain;
  for (std::string p = "/a/C/"; std::find(full.begin(), full.end(), p) != full.end(); p += "C/") chain.push_back(p);
  ASSERT_GT(chain.size(), 50u);
  ASSERT_LT(chain.size(), 100u);
  std::vector<std::string> want = {"/", "  B.txt", "  z.txt", "/a/", "  f1", "  f2"};
  want.insert(want.end(), chain.begin(), chain.end());
  for (const char *rest : {"/a/sub/", "  deep", "/b/", "  x.tmp"}) want.push_back(rest);
  EXPECT_EQ(want, full);
  EXPECT_EQ(0u, err.find("vrk_sms: /a/" + comp.substr(0, 93) + "..."));
  EXPECT_NE(std::string::npos, err.find("/ (" + std::to_string(3 + 256 * (chain.size() + 1)) +
                                        " bytes): left out with all it holds: its name makes a name list longer "
                                        "than 65525 bytes\n"))
      << err;
  std::string lostWant = "/a/";
  for (size_t i = 0; i <= chain.size(); ++i) lostWant += comp + "/";
  EXPECT_EQ(lostWant, lost);

  // Only what is newer than a reference time: the directories above the
  // new file wait to be returned with it; the one that cannot goes with them.
  // A directory whose entries changed since (all of them here) comes back
  // of its own.
  time_t old = 946684800;  // 2000-01-01
  for (const char *f : {"/a/f1", "/a/f2", "/a/sub/deep", "/B.txt", "/z.txt"}) Touch(root + f, "o", old);
  Touch(root + "/b/x.tmp", "x", time(nullptr) + 10);
  {
    std::string bottom = root + "/a";
    int d = open(bottom.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 100 && d >= 0; ++i) {
      int next = openat(d, comp.c_str(), O_RDONLY | O_DIRECTORY);
      close(d);
      d = next;
    }
    ASSERT_GE(d, 0);
    struct timespec later[2] = {{time(nullptr) + 10, 0}, {time(nullptr) + 10, 0}};
    ASSERT_EQ(0, utimensat(d, "bottom", later, 0));
    close(d);
  }
  NWSM_SCAN_CONTROL newer = all;
  newer.firstModifiedDateAndTime = NWSMPackDateTime(2001, 1, 1, 0, 0, 0);
  src = OneName("/");
  testing::internal::CaptureStderr();
  std::vector<std::string> filtered = ScanGoingOn(conn, src, newer, &leftOut);
  testing::internal::GetCapturedStderr();
  free(src);
  EXPECT_EQ(1, leftOut);
  want = {"/", "/a/"};
  want.insert(want.end(), chain.begin(), chain.end());
  for (const char *rest : {"/a/sub/", "/b/", "  x.tmp"}) want.push_back(rest);
  EXPECT_EQ(want, filtered);

  // One level from the last directory that fits: its subdirectory is left out.
  NWSM_SCAN_CONTROL one = all;
  one.scanType |= NWSM_DO_NOT_TRAVERSE;
  std::string last = "/a/";
  for (size_t i = 0; i < chain.size(); ++i) last += comp + "/";
  src = OneName(last);
  testing::internal::CaptureStderr();
  std::vector<std::string> level = ScanGoingOn(conn, src, one, &leftOut);
  testing::internal::GetCapturedStderr();
  free(src);
  EXPECT_EQ(1, leftOut);
  EXPECT_EQ(std::vector<std::string>{chain.back()}, level);
}

// The big tree goes to memory (/dev/shm) where it exists: creating 100,000
// files on a busy disk costs far more than scanning them.
struct BigTree {
  BigTree() {
    std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/vrksms.XXXXXX" : fallback.file("big.XXXXXX");
    char *p = mkdtemp(&tmpl[0]);
    path = p ? p : "";
  }
  ~BigTree() {
    if (!path.empty() && system(("rm -rf '" + path + "'").c_str()) != 0) {
    }
  }
  TempDir fallback;
  std::string path;
};

TEST(ScanLarge, HundredThousandFilesInOrder) {
  TempDir tmp;
  BigTree tree;
  ASSERT_FALSE(tree.path.empty());
  std::string root = tree.path;
  const int kDirs = 20, kFiles = 5000;
  for (int d = 0; d < kDirs; ++d) {
    std::string dir = root + "/d" + std::to_string(d);
    mkdir(dir.c_str(), 0755);
    for (int f = 0; f < kFiles; ++f) {
      int fd = open((dir + "/f" + std::to_string(f)).c_str(), O_CREAT | O_WRONLY, 0644);
      ASSERT_GE(fd, 0);
      close(fd);
    }
  }
  PathWorld(tmp, root);
  UINT32 conn = Login();
  NWSM_DATA_SET_NAME_LIST *src = OneName("/");
  NWSM_SCAN_CONTROL ctl = Control();
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  size_t children = 0, parents = 0;
  std::string last;
  bool ordered = true;
  CCODE rc = NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names);
  while (rc == 0) {
    if (info->parentFlag) {
      ++parents;
      last.clear();
    } else {
      std::string n = FirstName(names);
      ordered = ordered && last < n;
      last = n;
      ++children;
    }
    rc = NWSMTSScanNextDataSet(conn, &seq, &info, &names);
  }
  EXPECT_EQ(NWSMTS_NO_MORE_DATA_SETS, rc);
  EXPECT_EQ(static_cast<size_t>(kDirs * kFiles), children);
  EXPECT_EQ(static_cast<size_t>(kDirs + 1), parents);
  EXPECT_TRUE(ordered);
  NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  free(src);
  Logout(conn);
}

}  // namespace
