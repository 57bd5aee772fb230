// Backup reads: the data-set stream format, reads that fill the buffer,
// open modes, preserved access times and archive status in the state directory.
#include <dirent.h>
#include <sys/file.h>

#include <functional>

#include "sms/sms_sidf.h"
#include "sms_test_util.h"

using namespace smstest;

namespace {

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = tmp.file("tree");
    MakeDirs(root + "/d");
    PathWorld(tmp, root);
    conn = Login();
    ASSERT_NE(0u, conn);
  }
  void TearDown() override { Logout(conn); }

  // Scans `source` and returns the sequence positioned on data set `index`.
  UINT32 ScanTo(const std::string &source, int index) {
    src = OneName(source);
    NWSM_SCAN_CONTROL ctl = Control();
    EXPECT_EQ(0u, NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names));
    for (int i = 0; i < index; ++i) EXPECT_EQ(0u, NWSMTSScanNextDataSet(conn, &seq, &info, &names));
    return seq;
  }
  void EndScan() {
    NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
    free(src);
    src = nullptr;
  }

  TempDir tmp;
  std::string root;
  UINT32 conn = 0, seq = 0;
  NWSM_DATA_SET_NAME_LIST *src = nullptr, *names = nullptr;
  NWSM_SCAN_INFORMATION *info = nullptr;
};

TEST_F(BackupTest, FileStreamCarriesMetadataDataAndTrailer) {
  Touch(root + "/d/f", "hello", 1600000000);
  chmod((root + "/d/f").c_str(), 0640);
  ScanTo("/d", 1);
  std::string s = ReadStream(conn, seq);
  EndScan();
  ASSERT_EQ(vrksms::kSidfFixedHeader + 1 + 5 + vrksms::kSidfTrailer, s.size());
  EXPECT_EQ("VSDF", s.substr(0, 4));
  EXPECT_EQ(1, s[4]);
  EXPECT_EQ(0, s[5]);
  vrksms::SidfHeader h;
  size_t hl = 0;
  ASSERT_EQ(vrksms::SidfParse::kOk,
            vrksms::DecodeSidfHeader(reinterpret_cast<const uint8_t *>(s.data()), s.size(), h, hl));
  EXPECT_EQ(vrksms::kSidfFile, h.kind);
  EXPECT_EQ(0, h.flags);  // a child carries its terminal name
  EXPECT_EQ("f", h.name);
  EXPECT_EQ(0640u, h.mode);
  EXPECT_EQ(getuid(), h.uid);
  EXPECT_EQ(1600000000, h.mtimeSec);
  EXPECT_EQ(5u, h.dataSize);
  EXPECT_EQ("hello", s.substr(hl, 5));
  uint64_t total;
  uint32_t sum;
  ASSERT_TRUE(vrksms::DecodeSidfTrailer(reinterpret_cast<const uint8_t *>(s.data()) + hl + 5, total, sum));
  EXPECT_EQ(hl + 5, total);
  EXPECT_EQ(vrksms::Adler32(vrksms::kAdlerStart, reinterpret_cast<const uint8_t *>(s.data()), hl + 5), sum);
}

TEST_F(BackupTest, DirectoryAndLinkStreams) {
  ASSERT_EQ(0, symlink("../elsewhere", (root + "/d/ln").c_str()));
  ScanTo("/d", 0);
  std::string dir = ReadStream(conn, seq);
  ASSERT_EQ(0u, NWSMTSScanNextDataSet(conn, &seq, &info, &names));
  EXPECT_EQ(12u, info->primaryDataStreamSize);
  EXPECT_EQ(info->totalStreamsDataSize, 0u + vrksms::kSidfFixedHeader + 2 + 12 + vrksms::kSidfTrailer);
  std::string ln = ReadStream(conn, seq);
  EndScan();
  vrksms::SidfHeader h;
  size_t hl;
  ASSERT_EQ(vrksms::SidfParse::kOk,
            vrksms::DecodeSidfHeader(reinterpret_cast<const uint8_t *>(dir.data()), dir.size(), h, hl));
  EXPECT_EQ(vrksms::kSidfDirectory, h.kind);
  EXPECT_EQ(vrksms::kSidfFullName, h.flags);
  EXPECT_EQ("/d/", h.name);
  EXPECT_EQ(hl + vrksms::kSidfTrailer, dir.size());
  ASSERT_EQ(vrksms::SidfParse::kOk,
            vrksms::DecodeSidfHeader(reinterpret_cast<const uint8_t *>(ln.data()), ln.size(), h, hl));
  EXPECT_EQ(vrksms::kSidfSymlink, h.kind);
  EXPECT_EQ("../elsewhere", ln.substr(hl, 12));
}

TEST_F(BackupTest, ReadsFillTheBufferAndAStreamOfWholeBlocksEndsWithAnEmptyRead) {
  const UINT32 block = 4096;
  // Stream = header (58 + 1) + data + trailer (16) = 2 blocks exactly.
  Touch(root + "/d/f", std::string(2 * block - 75, 'x'));
  ScanTo("/d", 1);
  std::vector<UINT32> sizes;
  std::string s = ReadStream(conn, seq, block, &sizes);
  EXPECT_EQ((std::vector<UINT32>{block, block, 0}), sizes);
  EXPECT_EQ(2 * block, s.size());
  EndScan();
  Touch(root + "/d/f", std::string(3 * block, 'y'));
  ScanTo("/d", 1);
  sizes.clear();
  ReadStream(conn, seq, block, &sizes);
  EXPECT_EQ((std::vector<UINT32>{block, block, block, 75}), sizes);
  EndScan();
}

// A file changed between its open and its last read: a shrunk one cannot
// complete its stream; every change is answered at the close.
TEST_F(BackupTest, FileThatChangesWhileReadIsToldAtTheClose) {
  struct Case {
    const char *what;
    std::function<void(const std::string &)> change;
    CCODE read, close;
  };
  const std::vector<Case> cases = {
      {"unchanged", [](const std::string &) {}, 0, 0},
      {"shrinks", [](const std::string &f) { ASSERT_EQ(0, truncate(f.c_str(), 10)); }, NWSMTS_READ_ERROR,
       NWSMTS_DATA_SET_CHANGED},
      {"grows", [](const std::string &f) { ASSERT_EQ(0, truncate(f.c_str(), 200000)); }, 0,
       NWSMTS_DATA_SET_CHANGED},
      {"rewritten in place",
       [](const std::string &f) {
         int fd = open(f.c_str(), O_WRONLY);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(5, pwrite(fd, "yyyyy", 5, 90000));
         close(fd);
       },
       0, NWSMTS_DATA_SET_CHANGED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Touch(root + "/d/f", std::string(100000, 'x'), 1500000000);
    ScanTo("/d", 1);
    UINT32 h = 0;
    ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_ONLY, &h));
    c.change(root + "/d/f");
    std::vector<BUFFER> buf(65536);
    CCODE rc = 0;
    for (;;) {
      UINT32 got = 0;
      rc = NWSMTSReadDataSet(conn, h, 65536, &got, buf.data());
      if (rc != 0 || got < 65536) break;
    }
    EXPECT_EQ(c.read, rc);
    EXPECT_EQ(c.close, NWSMTSCloseDataSet(conn, &h));
    EndScan();
  }
}

TEST_F(BackupTest, DenyWriteAnswersInUseWhileAWriterHoldsALock) {
  Touch(root + "/d/f", "data");
  int wfd = open((root + "/d/f").c_str(), O_RDWR);
  struct flock fl;
  memset(&fl, 0, sizeof(fl));
  fl.l_type = F_WRLCK;
  ASSERT_EQ(0, fcntl(wfd, F_OFD_SETLK, &fl));
  ScanTo("/d", 1);
  UINT32 h = 0;
  EXPECT_EQ(NWSMTS_DATA_SET_IN_USE, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_DENY_WRITE, &h));
  ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_USE_LOCK_MODE_IF_DW_FAILS, &h));
  NWSMTSCloseDataSet(conn, &h);
  ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_NO_LOCK_NO_PROTECTION, &h));
  NWSMTSCloseDataSet(conn, &h);
  EXPECT_EQ(NWSMTS_OPTION_NOT_SUPPORTED, NWSMTSOpenDataSetForBackup(conn, seq, 7, &h));
  EndScan();
  close(wfd);
}

TEST_F(BackupTest, PreserveAccessTimeKeepsTheAccessTime) {
  Touch(root + "/d/f", std::string(1000, 'a'), 1500000000);
  ScanTo("/d", 1);
  ReadStream(conn, seq, 65536, nullptr, NWSM_OPEN_READ_ONLY | NWSM_PRESERVE_ACCESS_TIME);
  EndScan();
  struct stat st;
  ASSERT_EQ(0, stat((root + "/d/f").c_str(), &st));
  EXPECT_EQ(1500000000, st.st_atim.tv_sec);
}

TEST_F(BackupTest, ArchiveStatusLivesInTheStateDirectoryNotOnTheFile) {
  Touch(root + "/d/f", "data");
  struct stat before;
  ASSERT_EQ(0, stat((root + "/d/f").c_str(), &before));
  ScanTo("/d", 1);
  EXPECT_TRUE(info->attributes & NWSM_ATTR_MODIFIED);
  EXPECT_EQ(0u, info->archivedDateAndTime);
  UINT32 h = 0;
  ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_ONLY, &h));
  UINT32 when = NWSMPackDateTime(2025, 5, 6, 7, 8, 10);
  ASSERT_EQ(0u, NWSMTSSetArchiveStatus(conn, h, NWSM_CLEAR_MODIFY_FLAG | NWSM_SET_ARCHIVE_DATE_AND_TIME, when));
  NWSMTSCloseDataSet(conn, &h);
  EndScan();
  struct stat after;
  ASSERT_EQ(0, stat((root + "/d/f").c_str(), &after));
  EXPECT_EQ(before.st_ctim.tv_sec, after.st_ctim.tv_sec);
  EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec);
  // A fresh world load reads the state back from the state directory.
  PathWorld(tmp, root);
  Logout(conn);
  conn = Login();
  ScanTo("/d", 1);
  EXPECT_FALSE(info->attributes & NWSM_ATTR_MODIFIED);
  EXPECT_EQ(when, info->archivedDateAndTime);
  EndScan();
  Touch(root + "/d/f", "changed");
  ScanTo("/d", 1);
  EXPECT_TRUE(info->attributes & NWSM_ATTR_MODIFIED);
  EndScan();
  char want[64];
  snprintf(want, sizeof(want), "flags=0x3, date=0x%08X) = 0x00000000", when);
  EXPECT_NE(std::string::npos, LogLines(tmp, "NWSMTSSetArchiveStatus").at(0).find(want));
}

// Between the scan and the open the tree changes under the backup: a
// directory of the path becomes a link out of the tree, or the file itself
// does. What is stored never comes from outside the tree.
TEST_F(BackupTest, ALinkPutInPlaceAfterTheScanIsNeverFollowed) {
  MakeDirs(tmp.file("outside/d"));
  Touch(tmp.file("outside/d/f"), "outside secret");
  Touch(tmp.file("outside/secret"), "outside secret");
  struct Case {
    const char *what;
    bool swapDirectory;
  } cases[] = {{"the directory", true}, {"the file", false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MakeDirs(root + "/d");
    Touch(root + "/d/f", "inside");
    ScanTo("/d", 1);
    ASSERT_FALSE(info->parentFlag);
    if (c.swapDirectory) {
      ASSERT_EQ(0, rename((root + "/d").c_str(), (root + "/d.old").c_str()));
      ASSERT_EQ(0, symlink(tmp.file("outside/d").c_str(), (root + "/d").c_str()));
    } else {
      ASSERT_EQ(0, unlink((root + "/d/f").c_str()));
      ASSERT_EQ(0, symlink(tmp.file("outside/secret").c_str(), (root + "/d/f").c_str()));
    }
    UINT32 h = 0;
    CCODE rc = NWSMTSOpenDataSetForBackup(conn, seq, NWSM_NO_LOCK_NO_PROTECTION, &h);
    std::string stream;
    if (rc == 0) {
      std::vector<char> buf(65536);
      UINT32 got = 0;
      EXPECT_EQ(0u, NWSMTSReadDataSet(conn, h, 65536, &got, reinterpret_cast<BUFFERPTR>(buf.data())));
      stream.assign(buf.data(), got);
      NWSMTSCloseDataSet(conn, &h);
    }
    EndScan();
    EXPECT_EQ(std::string::npos, stream.find("outside secret"));
    if (rc == 0) {
      vrksms::SidfHeader hd;
      size_t hl = 0;
      ASSERT_EQ(vrksms::SidfParse::kOk,
                vrksms::DecodeSidfHeader(reinterpret_cast<const uint8_t *>(stream.data()), stream.size(), hd, hl));
      if (c.swapDirectory) {
        // The directory the scan holds: the file as it was scanned.
        EXPECT_EQ(vrksms::kSidfFile, hd.kind);
        EXPECT_EQ("inside", stream.substr(hl, hd.dataSize));
      } else {
        // The file is a link now and is stored as one.
        EXPECT_EQ(vrksms::kSidfSymlink, hd.kind);
        EXPECT_EQ(tmp.file("outside/secret"), stream.substr(hl, hd.dataSize));
      }
    }
    unlink((root + "/d").c_str());
    EXPECT_EQ(0, system(("rm -rf '" + root + "/d' '" + root + "/d.old'").c_str()));
  }
}

// Archive records of a scan reach the state file when the scan has no more
// data sets, before any release.
TEST_F(BackupTest, ArchiveRecordsAreWrittenWhenTheScanEnds) {
  for (int i = 0; i < 3; ++i) Touch(root + "/d/f" + std::to_string(i), "data");
  ScanTo("/d", 0);
  CCODE rc = 0;
  int stored = 0;
  while (rc == 0) {
    UINT32 h = 0;
    ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_ONLY, &h));
    EXPECT_EQ(0u, NWSMTSSetArchiveStatus(conn, h, NWSM_CLEAR_MODIFY_FLAG, 0));
    NWSMTSCloseDataSet(conn, &h);
    ++stored;
    rc = NWSMTSScanNextDataSet(conn, &seq, &info, &names);
  }
  EXPECT_EQ(NWSMTS_NO_MORE_DATA_SETS, rc);
  EXPECT_EQ(4, stored);
  std::string state;
  if (DIR *d = opendir(tmp.file("state").c_str())) {
    while (struct dirent *e = readdir(d))
      if (e->d_name[0] != '.') state += ReadFile(tmp.file("state/") + e->d_name);
    closedir(d);
  }
  for (const char *key : {":d/\n", ":d/f0\n", ":d/f1\n", ":d/f2\n"}) EXPECT_NE(std::string::npos, state.find(key)) << key;
  EndScan();
}

}  // namespace
