// Restore writes: round trips, cut and corrupt streams that must not land,
// the restore modes and write answers, exclusions, in-use data sets and
// names that would leave the resource.
#include "sms/sms_sidf.h"
#include "sms_test_util.h"

using namespace smstest;

namespace {

class RestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = tmp.file("tree");
    MakeDirs(root + "/src/sub");
    Touch(root + "/src/a.txt", "alpha", 1500000000);
    chmod((root + "/src/a.txt").c_str(), 0604);
    Touch(root + "/src/sub/b.bin", std::string(200000, 'b'), 1400000000);
    ASSERT_EQ(0, symlink("a.txt", (root + "/src/ln").c_str()));
    Load();
  }
  void Load(const std::string &extra = "") {
    if (conn) Logout(conn);
    PathWorld(tmp, root, extra);
    conn = Login();
    ASSERT_NE(0u, conn);
  }
  void TearDown() override { Logout(conn); }

  // Opens a data set for restore by the name that places it: a full name,
  // or with a parent handle a terminal name beneath it.
  CCODE Open(UINT32 parent, const std::string &name, UINT32 mode, UINT32 *h) {
    NWSM_DATA_SET_NAME_LIST *list = OneName(name);
    CCODE rc = NWSMTSOpenDataSetForRestore(conn, parent, list, mode, h);
    free(list);
    return rc;
  }
  CCODE WriteAll(UINT32 h, const std::string &s) {
    return NWSMTSWriteDataSet(conn, h, static_cast<UINT32>(s.size()), reinterpret_cast<const BUFFER *>(s.data()));
  }
  // A stream built by hand, for names a backup never produces.
  static std::string Stream(uint8_t kind, const std::string &name, const std::string &data, bool full,
                            uint32_t mode = 0644, uint32_t uid = 0) {
    vrksms::SidfHeader h;
    h.kind = kind;
    h.flags = full ? vrksms::kSidfFullName : 0;
    h.mode = mode;
    h.uid = uid;
    h.name = name;
    h.dataSize = data.size();
    std::vector<uint8_t> v = vrksms::EncodeSidfHeader(h);
    v.insert(v.end(), data.begin(), data.end());
    uint8_t t[vrksms::kSidfTrailer];
    vrksms::EncodeSidfTrailer(v.size(), vrksms::Adler32(vrksms::kAdlerStart, v.data(), v.size()), t);
    v.insert(v.end(), t, t + sizeof(t));
    return std::string(v.begin(), v.end());
  }

  TempDir tmp;
  std::string root;
  UINT32 conn = 0;
};

TEST_F(RestoreTest, RoundTripToANewPlaceKeepsDataModeTimesAndLinks) {
  std::vector<DataSet> sets = BackupAll(conn, "/src");
  ASSERT_EQ(5u, sets.size());  // /src/, a.txt, ln, /src/sub/, b.bin
  std::vector<CCODE> answers = RestoreAll(conn, sets, NWSM_DO_NOT_OVERWRITE_PARENT, NWSM_DO_NOT_OVERWRITE_CHILD,
                                          "/dst/");
  EXPECT_EQ(std::vector<CCODE>(5, 0u), answers);
  EXPECT_EQ("alpha", ReadFile(root + "/dst/src/a.txt"));
  EXPECT_EQ(std::string(200000, 'b'), ReadFile(root + "/dst/src/sub/b.bin"));
  struct stat st;
  ASSERT_EQ(0, stat((root + "/dst/src/a.txt").c_str(), &st));
  EXPECT_EQ(0604u, st.st_mode & 07777);
  EXPECT_EQ(1500000000, st.st_mtim.tv_sec);
  char target[64] = {0};
  ASSERT_EQ(5, readlink((root + "/dst/src/ln").c_str(), target, sizeof(target)));
  EXPECT_STREQ("a.txt", target);
  // Restoring again without overwriting: parents exist (handle still good),
  // children exist.
  answers = RestoreAll(conn, sets, NWSM_DO_NOT_OVERWRITE_PARENT, NWSM_DO_NOT_OVERWRITE_CHILD, "/dst/");
  EXPECT_EQ((std::vector<CCODE>{NWSMTS_VALID_PARENT_HANDLE, NWSMTS_DATA_SET_ALREADY_EXISTS,
                                NWSMTS_DATA_SET_ALREADY_EXISTS, NWSMTS_VALID_PARENT_HANDLE,
                                NWSMTS_DATA_SET_ALREADY_EXISTS}),
            answers);
}

TEST_F(RestoreTest, KeepExistingParentStillRestoresMissingChildren) {
  std::vector<DataSet> sets = BackupAll(conn, "/src");
  ASSERT_EQ(0, unlink((root + "/src/a.txt").c_str()));
  Touch(root + "/src/sub/b.bin", "local change");
  std::vector<CCODE> answers = RestoreAll(conn, sets, NWSM_DO_NOT_OVERWRITE_PARENT, NWSM_DO_NOT_OVERWRITE_CHILD);
  EXPECT_EQ((std::vector<CCODE>{NWSMTS_VALID_PARENT_HANDLE, 0, NWSMTS_DATA_SET_ALREADY_EXISTS,
                                NWSMTS_VALID_PARENT_HANDLE, NWSMTS_DATA_SET_ALREADY_EXISTS}),
            answers);
  EXPECT_EQ("alpha", ReadFile(root + "/src/a.txt"));
  EXPECT_EQ("local change", ReadFile(root + "/src/sub/b.bin"));
  answers = RestoreAll(conn, sets, NWSM_OVERWRITE_DATA_SET, NWSM_OVERWRITE_DATA_SET);
  EXPECT_EQ(std::vector<CCODE>(5, 0u), answers);
  EXPECT_EQ(std::string(200000, 'b'), ReadFile(root + "/src/sub/b.bin"));
}

TEST_F(RestoreTest, CutOrCorruptStreamNeverReplacesTheTarget) {
  std::vector<DataSet> sets = BackupAll(conn, "/src/sub");
  ASSERT_EQ(2u, sets.size());
  Touch(root + "/src/sub/b.bin", "previous");
  const std::string &full = sets[1].stream;
  UINT32 parent = 0, h = 0;
  ASSERT_EQ(0u, Open(0, "/src/sub/", NWSM_OVERWRITE_DATA_SET, &parent));
  ASSERT_EQ(0u, WriteAll(parent, sets[0].stream));
  // Cut: everything but the trailer.
  ASSERT_EQ(0u, Open(parent, "b.bin", NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(0u, WriteAll(h, full.substr(0, full.size() - vrksms::kSidfTrailer)));
  EXPECT_EQ(NWSMTS_INVALID_DATA, NWSMTSCloseDataSet(conn, &h));
  EXPECT_EQ("previous", ReadFile(root + "/src/sub/b.bin"));
  // Corrupt: one data byte changed; the checksum of the trailer disagrees.
  std::string bad = full;
  bad[100] ^= 1;
  ASSERT_EQ(0u, Open(parent, "b.bin", NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(NWSMTS_INVALID_DATA, WriteAll(h, bad));
  EXPECT_EQ(NWSMTS_INVALID_DATA, NWSMTSCloseDataSet(conn, &h));
  EXPECT_EQ("previous", ReadFile(root + "/src/sub/b.bin"));
  // Bytes behind the trailer.
  ASSERT_EQ(0u, Open(parent, "b.bin", NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(NWSMTS_INVALID_DATA, WriteAll(h, full + "x"));
  NWSMTSCloseDataSet(conn, &h);
  // The whole stream in small writes lands.
  ASSERT_EQ(0u, Open(parent, "b.bin", NWSM_OVERWRITE_DATA_SET, &h));
  for (size_t pos = 0; pos < full.size(); pos += 7) ASSERT_EQ(0u, WriteAll(h, full.substr(pos, 7)));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  NWSMTSCloseDataSet(conn, &parent);
  EXPECT_EQ(std::string(200000, 'b'), ReadFile(root + "/src/sub/b.bin"));
  // No temporary file is left behind.
  std::vector<DataSet> after = BackupAll(conn, "/src/sub");
  EXPECT_EQ(2u, after.size());
}

// A file goes on being written after the handle of its directory was
// closed, and the descriptors that closing freed are taken by another
// directory meanwhile: the file still lands in its own directory, whole,
// on the unnamed road (a new file), the named one (a new file where the
// world allows no unnamed files) and as an overwrite, and no temporary
// name is left.
TEST_F(RestoreTest, AFileWhoseDirectoryHandleClosedFirstStillLandsInItsDirectory) {
  struct Row {
    const char *what;
    const char *world;
    bool existing;
    const char *elsewhere;
  } rows[] = {{"unnamed new file", "", false, "e1"},
              {"named new file", "unnamed_new_files = no\n", false, "e2"},
              {"overwrite", "", true, "e3"}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    Load(r.world);
    std::vector<DataSet> sets = BackupAll(conn, "/src/sub");
    ASSERT_EQ(2u, sets.size());
    if (r.existing) Touch(root + "/src/sub/b.bin", "previous");
    else unlink((root + "/src/sub/b.bin").c_str());
    const std::string &full = sets[1].stream;
    UINT32 parent = 0, h = 0, other = 0;
    ASSERT_EQ(0u, Open(0, "/src/sub/", NWSM_OVERWRITE_DATA_SET, &parent));
    ASSERT_EQ(0u, WriteAll(parent, sets[0].stream));
    ASSERT_EQ(0u, Open(parent, "b.bin", NWSM_OVERWRITE_DATA_SET, &h));
    ASSERT_EQ(0u, WriteAll(h, full.substr(0, full.size() / 2)));
    EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &parent));
    // Another directory outside: the closed one's metadata is set and its
    // descriptor closed; the freed numbers go to other directories.
    const std::string elsewhere = root + "/" + r.elsewhere;
    ASSERT_EQ(0u, Open(0, std::string("/") + r.elsewhere + "/", NWSM_OVERWRITE_DATA_SET, &other));
    EXPECT_EQ(0u, WriteAll(other, sets[0].stream));
    std::vector<int> taken;
    for (int i = 0; i < 8; ++i) taken.push_back(open(elsewhere.c_str(), O_RDONLY | O_DIRECTORY));
    EXPECT_EQ(0u, WriteAll(h, full.substr(full.size() / 2)));
    EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
    for (int fd : taken) close(fd);
    NWSMTSCloseDataSet(conn, &other);
    EXPECT_EQ(std::string(200000, 'b'), ReadFile(root + "/src/sub/b.bin"));
    struct stat st;
    EXPECT_NE(0, lstat((elsewhere + "/b.bin").c_str(), &st));
    EXPECT_EQ(2u, BackupAll(conn, "/src/sub").size());  // no temporary name beside it
  }
}

TEST_F(RestoreTest, ExcludedChildrenAndParents) {
  std::vector<DataSet> sets = BackupAll(conn, "/src");
  NWSM_SELECTION_LIST *sel = nullptr;
  UINT32 nh = 0;
  ASSERT_EQ(0u, NWSMPutFirstName(&sel, 2, NWSM_CHILD_TO_BE_EXCLUDED, 0, "/", "/", "*.txt", &nh));
  ASSERT_EQ(0u, NWSMPutNextName(&sel, &nh, 2, NWSM_PARENT_TO_BE_EXCLUDED, 0, "/", "/", "/dst/src/sub/"));
  NWSMCloseName(&nh);
  ASSERT_EQ(0u, NWSMTSSetRestoreOptions(conn, 0, 0, sel));
  free(sel);
  std::vector<CCODE> answers = RestoreAll(conn, sets, NWSM_OVERWRITE_DATA_SET, NWSM_OVERWRITE_DATA_SET, "/dst/");
  EXPECT_EQ((std::vector<CCODE>{0, NWSMTS_DATA_SET_EXCLUDED, 0, NWSMTS_DATA_SET_EXCLUDED, NWSMTS_CREATE_ERROR}),
            answers);
  EXPECT_NE(0, access((root + "/dst/src/a.txt").c_str(), F_OK));
  struct stat st;
  EXPECT_EQ(0, lstat((root + "/dst/src/ln").c_str(), &st));
}

TEST_F(RestoreTest, InUseUntilDeletedThroughTheScan) {
  std::vector<DataSet> sets = BackupAll(conn, "/src");
  Load("in_use = /src/a.txt\n");
  UINT32 parent = 0, h = 0;
  ASSERT_EQ(0u, Open(0, "/src/", NWSM_OVERWRITE_DATA_SET, &parent));
  ASSERT_EQ(0u, WriteAll(parent, sets[0].stream));
  ASSERT_EQ(0u, Open(parent, "a.txt", NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(NWSMTS_DATA_SET_IN_USE, WriteAll(h, sets[1].stream));
  NWSMTSCloseDataSet(conn, &h);
  // Erase as the restore does: scan the file, step to it, delete it.
  NWSM_DATA_SET_NAME_LIST *one = OneName("/src/a.txt");
  NWSM_SCAN_CONTROL ctl = Control();
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  ASSERT_EQ(0u, NWSMTSScanDataSetBegin(conn, one, &ctl, nullptr, &seq, &info, &names));
  ASSERT_EQ(0u, NWSMTSScanNextDataSet(conn, &seq, &info, &names));
  EXPECT_EQ("a.txt", FirstName(names));
  EXPECT_EQ(0u, NWSMTSDeleteDataSet(conn, seq));
  NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  free(one);
  EXPECT_NE(0, access((root + "/src/a.txt").c_str(), F_OK));
  ASSERT_EQ(0u, Open(parent, "a.txt", NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(0u, WriteAll(h, sets[1].stream));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  NWSMTSCloseDataSet(conn, &parent);
  EXPECT_EQ("alpha", ReadFile(root + "/src/a.txt"));
}

TEST_F(RestoreTest, NamesThatWouldLeaveTheResourceAreCreateErrors) {
  MakeDirs(tmp.file("outside"));
  ASSERT_EQ(0, symlink(tmp.file("outside").c_str(), (root + "/escape").c_str()));
  struct Case {
    const char *what;
    bool parentFirst;
    std::string name;  // handed at the open
    std::string stream;
  } cases[] = {
      {"dot-dot parent", false, "/../x/", Stream(vrksms::kSidfDirectory, "/../x/", "", true)},
      {"empty component", false, "/a//b/", Stream(vrksms::kSidfDirectory, "/a//b/", "", true)},
      {"through a symlink", false, "/escape/f", Stream(vrksms::kSidfFile, "/escape/f", "data", true)},
      {"symlinked parent", false, "/escape/sub/", Stream(vrksms::kSidfDirectory, "/escape/sub/", "", true)},
      {"dot-dot child", true, "..", Stream(vrksms::kSidfFile, "..", "data", false)},
      {"child with a slash", true, "x/y", Stream(vrksms::kSidfFile, "x/y", "data", false)},
      {"a full name beneath a parent handle", true, "/x", Stream(vrksms::kSidfFile, "x", "data", false)},
      {"terminal name without a parent", false, "lonely", Stream(vrksms::kSidfFile, "lonely", "data", false)},
      {"a parent's name for a file", false, "/src/", Stream(vrksms::kSidfFile, "/src/", "data", true)},
  };
  for (const Case &c : cases) {
    UINT32 parent = 0, h = 0;
    if (c.parentFirst) {
      ASSERT_EQ(0u, Open(0, "/src/", NWSM_OVERWRITE_DATA_SET, &parent));
      ASSERT_EQ(0u, WriteAll(parent, Stream(vrksms::kSidfDirectory, "/src/", "", true)));
    }
    ASSERT_EQ(0u, Open(parent, c.name, NWSM_OVERWRITE_DATA_SET, &h));
    EXPECT_EQ(NWSMTS_CREATE_ERROR, WriteAll(h, c.stream)) << c.what;
    NWSMTSCloseDataSet(conn, &h);
    if (parent) NWSMTSCloseDataSet(conn, &parent);
  }
  EXPECT_NE(0, access(tmp.file("outside/f").c_str(), F_OK));
  EXPECT_NE(0, access(tmp.file("outside/sub").c_str(), F_OK));
  EXPECT_NE(0, access(tmp.file("x").c_str(), F_OK));
}

// The name inside a stream never places it: only the name given at the open
// does, and an open without a name writes nothing.
TEST_F(RestoreTest, TheStreamsOwnNameIsNeverThePlace) {
  Touch(root + "/outside.txt", "kept");
  UINT32 parent = 0, h = 0;
  ASSERT_EQ(0u, Open(0, "/dst/", NWSM_OVERWRITE_DATA_SET, &parent));
  ASSERT_EQ(0u, WriteAll(parent, Stream(vrksms::kSidfDirectory, "/elsewhere/", "", true)));
  // A child whose stream carries a full name elsewhere.
  ASSERT_EQ(0u, Open(parent, "ok.txt", NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(0u, WriteAll(h, Stream(vrksms::kSidfFile, "/outside.txt", "new", true)));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  // A child whose stream carries another terminal name.
  ASSERT_EQ(0u, Open(parent, "two.txt", NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(0u, WriteAll(h, Stream(vrksms::kSidfFile, "other.txt", "2", false)));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  // No name at all, with and without a parent handle.
  for (UINT32 p : {parent, 0u}) {
    ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, p, nullptr, NWSM_OVERWRITE_DATA_SET, &h));
    EXPECT_EQ(NWSMTS_CREATE_ERROR, WriteAll(h, Stream(vrksms::kSidfFile, "/outside.txt", "new", true)));
    NWSMTSCloseDataSet(conn, &h);
  }
  NWSMTSCloseDataSet(conn, &parent);
  EXPECT_EQ("kept", ReadFile(root + "/outside.txt"));
  EXPECT_EQ("new", ReadFile(root + "/dst/ok.txt"));
  EXPECT_EQ("2", ReadFile(root + "/dst/two.txt"));
  EXPECT_NE(0, access((root + "/elsewhere").c_str(), F_OK));
  EXPECT_NE(0, access((root + "/dst/other.txt").c_str(), F_OK));
}

// The top of a resource keeps its mode, owner and times, also when it is
// restored with overwriting; its handle still takes children.
TEST_F(RestoreTest, TheResourceTopIsNeverChanged) {
  chmod(root.c_str(), 0751);
  struct stat before;
  ASSERT_EQ(0, stat(root.c_str(), &before));
  UINT32 parent = 0, h = 0;
  ASSERT_EQ(0u, Open(0, "/", NWSM_OVERWRITE_DATA_SET, &parent));
  EXPECT_EQ(NWSMTS_VALID_PARENT_HANDLE, WriteAll(parent, Stream(vrksms::kSidfDirectory, "/", "", true, 0777, 4321)));
  ASSERT_EQ(0u, Open(parent, "child.txt", NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(0u, WriteAll(h, Stream(vrksms::kSidfFile, "child.txt", "c", false)));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  NWSMTSCloseDataSet(conn, &parent);
  struct stat after;
  ASSERT_EQ(0, stat(root.c_str(), &after));
  EXPECT_EQ(before.st_mode, after.st_mode);
  EXPECT_EQ(before.st_uid, after.st_uid);
  EXPECT_EQ("c", ReadFile(root + "/child.txt"));
}

TEST_F(RestoreTest, FullChildNameWithoutAParentHandleAndItsMissingDirectories) {
  UINT32 h = 0;
  ASSERT_EQ(0u, Open(0, "/made/on/the/way.txt", NWSM_DO_NOT_OVERWRITE_CHILD, &h));
  EXPECT_EQ(0u, WriteAll(h, Stream(vrksms::kSidfFile, "/made/on/the/way.txt", "w", true)));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  EXPECT_EQ("w", ReadFile(root + "/made/on/the/way.txt"));
}

TEST_F(RestoreTest, NoDataStreamsSetsMetadataButKeepsExistingData) {
  std::vector<DataSet> sets = BackupAll(conn, "/src");
  Touch(root + "/src/a.txt", "kept");
  chmod((root + "/src/a.txt").c_str(), 0600);
  UINT32 parent = 0, h = 0;
  ASSERT_EQ(0u, Open(0, "/src/", NWSM_OVERWRITE_DATA_SET, &parent));
  ASSERT_EQ(0u, WriteAll(parent, sets[0].stream));
  ASSERT_EQ(0u, Open(parent, "a.txt", NWSM_OVERWRITE_DATA_SET | NWSM_NO_DATA_STREAMS,
                                            &h));
  ASSERT_EQ(0u, WriteAll(h, sets[1].stream));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  NWSMTSCloseDataSet(conn, &parent);
  EXPECT_EQ("kept", ReadFile(root + "/src/a.txt"));
  struct stat st;
  ASSERT_EQ(0, stat((root + "/src/a.txt").c_str(), &st));
  EXPECT_EQ(0604u, st.st_mode & 07777);
  EXPECT_EQ(1500000000, st.st_mtim.tv_sec);
}

// A directory's mode and times are set once the restore has left its
// subtree (or ends), deepest first: a read-only directory still takes its
// subdirectories, and entries made in it later do not move its time.
TEST_F(RestoreTest, DirectoryMetadataIsSetOnceItsSubtreeIsLeft) {
  MakeDirs(root + "/ro/sub/deeper");
  Touch(root + "/ro/sub/deeper/f.txt", "f", 1300000000);
  MakeDirs(root + "/sibling");
  const struct {
    const char *dir;
    mode_t mode;
    time_t mtime;
  } dirs[] = {{"/ro/sub/deeper", 0500, 1100000000}, {"/ro/sub", 0555, 1110000000}, {"/ro", 0555, 1120000000},
              {"/sibling", 0750, 1130000000}};
  for (const auto &d : dirs) {
    struct timespec ts[2] = {{d.mtime, 0}, {d.mtime, 5}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, (root + d.dir).c_str(), ts, 0));
    ASSERT_EQ(0, chmod((root + d.dir).c_str(), d.mode));
  }
  std::vector<DataSet> sets = BackupAll(conn, "/ro");
  std::vector<DataSet> sibling = BackupAll(conn, "/sibling");
  sets.insert(sets.end(), sibling.begin(), sibling.end());
  ASSERT_EQ(5u, sets.size());  // /ro/, /ro/sub/, /ro/sub/deeper/, f.txt, /sibling/
  EXPECT_EQ(std::vector<CCODE>(4, 0u),
            RestoreAll(conn, std::vector<DataSet>(sets.begin(), sets.begin() + 4), NWSM_DO_NOT_OVERWRITE_PARENT,
                       NWSM_DO_NOT_OVERWRITE_CHILD, "/copy/"));
  struct stat st;
  // Still within the tree: nothing of it set yet.
  ASSERT_EQ(0, stat((root + "/copy/ro").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 07777);
  // The sibling leaves the tree behind: all of it is set, the sibling not yet.
  EXPECT_EQ(std::vector<CCODE>(1, 0u), RestoreAll(conn, std::vector<DataSet>(sets.begin() + 4, sets.end()),
                                                  NWSM_DO_NOT_OVERWRITE_PARENT, NWSM_DO_NOT_OVERWRITE_CHILD,
                                                  "/copy/"));
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(0, stat((root + "/copy" + dirs[i].dir).c_str(), &st)) << dirs[i].dir;
    EXPECT_EQ(dirs[i].mode, st.st_mode & 07777) << dirs[i].dir;
    EXPECT_EQ(dirs[i].mtime, st.st_mtim.tv_sec) << dirs[i].dir;
    EXPECT_EQ(5, st.st_mtim.tv_nsec) << dirs[i].dir;
  }
  EXPECT_EQ("f", ReadFile(root + "/copy/ro/sub/deeper/f.txt"));
  ASSERT_EQ(0, stat((root + "/copy/sibling").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 07777);
  // The end of the login sets the rest.
  Logout(conn);
  ASSERT_EQ(0, stat((root + "/copy/sibling").c_str(), &st));
  EXPECT_EQ(0750u, st.st_mode & 07777);
  EXPECT_EQ(1130000000, st.st_mtim.tv_sec);
  for (const auto &d : dirs) chmod((root + d.dir).c_str(), 0755);
  for (const auto &d : dirs) chmod((root + "/copy" + d.dir).c_str(), 0755);
}

TEST_F(RestoreTest, RenameActsOnTheScansCurrentDataSet) {
  NWSM_DATA_SET_NAME_LIST *one = OneName("/src/a.txt");
  NWSM_SCAN_CONTROL ctl = Control();
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  ASSERT_EQ(0u, NWSMTSScanDataSetBegin(conn, one, &ctl, nullptr, &seq, &info, &names));
  ASSERT_EQ(0u, NWSMTSScanNextDataSet(conn, &seq, &info, &names));
  EXPECT_EQ(NWSMTS_INVALID_NAME, NWSMTSRenameDataSet(conn, seq, 2, ".."));
  EXPECT_EQ(NWSMTS_DATA_SET_ALREADY_EXISTS, NWSMTSRenameDataSet(conn, seq, 2, "ln"));
  EXPECT_EQ(0u, NWSMTSRenameDataSet(conn, seq, 2, "renamed.txt"));
  NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  free(one);
  EXPECT_EQ("alpha", ReadFile(root + "/src/renamed.txt"));
}

}  // namespace
