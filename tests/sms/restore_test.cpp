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

  CCODE WriteAll(UINT32 h, const std::string &s) {
    return NWSMTSWriteDataSet(conn, h, static_cast<UINT32>(s.size()), reinterpret_cast<const BUFFER *>(s.data()));
  }
  // A stream built by hand, for names a backup never produces.
  static std::string Stream(uint8_t kind, const std::string &name, const std::string &data, bool full) {
    vrksms::SidfHeader h;
    h.kind = kind;
    h.flags = full ? vrksms::kSidfFullName : 0;
    h.mode = 0644;
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
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, 0, nullptr, NWSM_OVERWRITE_DATA_SET, &parent));
  ASSERT_EQ(0u, WriteAll(parent, sets[0].stream));
  // Cut: everything but the trailer.
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nullptr, NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(0u, WriteAll(h, full.substr(0, full.size() - vrksms::kSidfTrailer)));
  EXPECT_EQ(NWSMTS_INVALID_DATA, NWSMTSCloseDataSet(conn, &h));
  EXPECT_EQ("previous", ReadFile(root + "/src/sub/b.bin"));
  // Corrupt: one data byte changed; the checksum of the trailer disagrees.
  std::string bad = full;
  bad[100] ^= 1;
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nullptr, NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(NWSMTS_INVALID_DATA, WriteAll(h, bad));
  EXPECT_EQ(NWSMTS_INVALID_DATA, NWSMTSCloseDataSet(conn, &h));
  EXPECT_EQ("previous", ReadFile(root + "/src/sub/b.bin"));
  // Bytes behind the trailer.
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nullptr, NWSM_OVERWRITE_DATA_SET, &h));
  EXPECT_EQ(NWSMTS_INVALID_DATA, WriteAll(h, full + "x"));
  NWSMTSCloseDataSet(conn, &h);
  // The whole stream in small writes lands.
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nullptr, NWSM_OVERWRITE_DATA_SET, &h));
  for (size_t pos = 0; pos < full.size(); pos += 7) ASSERT_EQ(0u, WriteAll(h, full.substr(pos, 7)));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  NWSMTSCloseDataSet(conn, &parent);
  EXPECT_EQ(std::string(200000, 'b'), ReadFile(root + "/src/sub/b.bin"));
  // No temporary file is left behind.
  std::vector<DataSet> after = BackupAll(conn, "/src/sub");
  EXPECT_EQ(2u, after.size());
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
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, 0, nullptr, NWSM_OVERWRITE_DATA_SET, &parent));
  ASSERT_EQ(0u, WriteAll(parent, sets[0].stream));
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nullptr, NWSM_OVERWRITE_DATA_SET, &h));
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
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nullptr, NWSM_OVERWRITE_DATA_SET, &h));
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
    std::string stream;
  } cases[] = {
      {"dot-dot parent", false, Stream(vrksms::kSidfDirectory, "/../x/", "", true)},
      {"empty component", false, Stream(vrksms::kSidfDirectory, "/a//b/", "", true)},
      {"through a symlink", false, Stream(vrksms::kSidfFile, "/escape/f", "data", true)},
      {"symlinked parent", false, Stream(vrksms::kSidfDirectory, "/escape/sub/", "", true)},
      {"dot-dot child", true, Stream(vrksms::kSidfFile, "..", "data", false)},
      {"child with a slash", true, Stream(vrksms::kSidfFile, "x/y", "data", false)},
      {"terminal name without a parent", false, Stream(vrksms::kSidfFile, "lonely", "data", false)},
  };
  for (const Case &c : cases) {
    UINT32 parent = 0, h = 0;
    if (c.parentFirst) {
      ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, 0, nullptr, NWSM_OVERWRITE_DATA_SET, &parent));
      ASSERT_EQ(0u, WriteAll(parent, Stream(vrksms::kSidfDirectory, "/src/", "", true)));
    }
    ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nullptr, NWSM_OVERWRITE_DATA_SET, &h));
    EXPECT_EQ(NWSMTS_CREATE_ERROR, WriteAll(h, c.stream)) << c.what;
    NWSMTSCloseDataSet(conn, &h);
    if (parent) NWSMTSCloseDataSet(conn, &parent);
  }
  EXPECT_NE(0, access(tmp.file("outside/f").c_str(), F_OK));
  EXPECT_NE(0, access(tmp.file("outside/sub").c_str(), F_OK));
  EXPECT_NE(0, access(tmp.file("x").c_str(), F_OK));
}

TEST_F(RestoreTest, FullChildNameWithoutAParentHandleAndItsMissingDirectories) {
  UINT32 h = 0;
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, 0, nullptr, NWSM_DO_NOT_OVERWRITE_CHILD, &h));
  EXPECT_EQ(0u, WriteAll(h, Stream(vrksms::kSidfFile, "/made/on/the/way.txt", "w", true)));
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  EXPECT_EQ("w", ReadFile(root + "/made/on/the/way.txt"));
}

TEST_F(RestoreTest, NoDataStreamsSetsMetadataButKeepsExistingData) {
  std::vector<DataSet> sets = BackupAll(conn, "/src");
  Touch(root + "/src/a.txt", "kept");
  chmod((root + "/src/a.txt").c_str(), 0600);
  UINT32 parent = 0, h = 0;
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, 0, nullptr, NWSM_OVERWRITE_DATA_SET, &parent));
  ASSERT_EQ(0u, WriteAll(parent, sets[0].stream));
  ASSERT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nullptr, NWSM_OVERWRITE_DATA_SET | NWSM_NO_DATA_STREAMS,
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

TEST_F(RestoreTest, DirectoryTimesAreSetWhenItsHandleCloses) {
  std::vector<DataSet> sets = BackupAll(conn, "/src/sub");
  struct stat orig;
  ASSERT_EQ(0, stat((root + "/src/sub").c_str(), &orig));
  RestoreAll(conn, sets, NWSM_OVERWRITE_DATA_SET, NWSM_OVERWRITE_DATA_SET, "/copy/");
  struct stat st;
  ASSERT_EQ(0, stat((root + "/copy/src/sub").c_str(), &st));
  EXPECT_EQ(orig.st_mtim.tv_sec, st.st_mtim.tv_sec);
  EXPECT_EQ(orig.st_mtim.tv_nsec, st.st_mtim.tv_nsec);
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
