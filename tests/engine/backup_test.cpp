// In-process tests of the backup driver and its scan loop on a connected
// session: the name-space set-up retry, the groupware exclusions, the table
// bounds, a failed or empty first run, the listing pass and progress.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include "../client/vrk_client_fixture.h"
#include "../e2e/de_check.h"
#include "engine/backup.h"
#include "engine/connection.h"
#include "engine/de_stream_internal.h"
#include "engine/engine_globals.h"
#include "engine/scan_loop.h"
#include "engine/scan_loop_internal.h"
#include "engine/session.h"
#include "engine_test_util.h"
#include "runtime/LL.h"
#include "runtime/strlib.h"

using enginetest::Capture;
using enginetest::Count;
using enginetest::World;

namespace {

std::string OneTsa(const std::string &extra = "", const std::string &tsaExtra = "") {
  return extra + "[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n" + tsaExtra;
}

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vrktest::FreshGlobal();
    spGlobal->sLocalSaveset.iFilDes = -1;
    spGlobal->lBufferSize = 65536;
    spGlobal->bCompress = 1;
    spGlobal->eOPERATION = BACKUP;
    spGlobal->eBackupType = FULL;
    spGlobal->iLogLevel = 1;
    vrk_nlm_interactive = 0;
    gbGW2012 = FALSE;
    giAddSlashToResource = 0;
    setenv("VRK_TEST_DELAY_SCALE", "0", 1);
    strcpy(spGlobal->sVRKNlm.szSMDR, "srv1");
    strcpy(spGlobal->sVRKNlm.szTSA, "srv1.Linux File System");
    // Markers go to a directory of the test.
    free(spGlobal->sDirs.cpTmp);
    free(spGlobal->sDirs.cpTimes);
    spGlobal->sDirs.cpTmp = strdup(dir_.path().c_str());
    spGlobal->sDirs.cpTimes = strdup(dir_.path().c_str());
    strcpy(spGlobal->szJobName, "job");
  }
  void TearDown() override {
    if (session_ != nullptr) EndSession(0, session_);
    gbGW2012 = FALSE;
    spGlobal->iAlarm = 0;
    vrktest::FreeGlobalHeap();
    vrk_reset_global();
  }
  // Connects a session to the world and opens the local saveset.
  void Connect(World &w) {
    ASSERT_TRUE(w.loaded());
    session_ = GetSessionInfoBuffer();
    ASSERT_NE(nullptr, session_);
    NWBOOLEAN cluster = 0;
    Capture cap;
    CCODE cc = EstablishConnection(session_, &cluster);
    NWSMTSGetSupportedNameTypes(session_->connection, &types_);
    session_->IsUTF8Supp = (types_ & 2) != 0;
    if (session_->IsUTF8Supp) session_->scanControl.returnNameSpaceType = 0xFFFFFFFAu;
    cap.Stop();
    ASSERT_EQ(0u, cc) << cap.err();
    ASSERT_NE(nullptr, Init_Cluster_Params(session_));
    int fd = open(dir_.file("saveset").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    spGlobal->sLocalSaveset.iFilDes = fd;
    strlcpy(spGlobal->sLocalSaveset.szName, dir_.file("saveset").c_str(), sizeof(spGlobal->sLocalSaveset.szName));
  }
  void Source(const std::string &item) {
    int n = 0;
    while (spGlobal->sVRKObject.cpItem[n] != nullptr) ++n;
    spGlobal->sVRKObject.cpItem[n] = strdup(item.c_str());
  }
  std::string RunBackup() {
    Capture cap;
    Backup(session_);
    return cap.err();
  }
  std::vector<decheck::Occurrence> Stored() {
    std::vector<decheck::Record> recs;
    std::vector<decheck::Occurrence> occ;
    std::string why;
    EXPECT_TRUE(decheck::ParseObject(vrktest::ReadFile(dir_.file("saveset")), recs, why)) << why;
    EXPECT_TRUE(decheck::Occurrences(recs, occ, why)) << why;
    return occ;
  }
  int ExcludeCount() {
    int n = 0;
    while (n < VRK_MAX_ITEMS && spGlobal->sVRKObject.cpExclude[n] != nullptr) ++n;
    return n;
  }
  vrktest::TempDir dir_;
  SESSION_INFORMATION *session_ = nullptr;
  UINT32 types_ = 0;
};

// Two files, modified long ago, and a directory.
void Tree(const std::string &data) {
  vrktest::WriteFile(data + "/a", "alpha\n");
  mkdir((data + "/d").c_str(), 0755);
  vrktest::WriteFile(data + "/d/b", "beta\n");
  struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};
  utimes((data + "/a").c_str(), tv);
  utimes((data + "/d/b").c_str(), tv);
}

TEST_F(BackupTest, AFailedNameSpaceLookupIsRetriedOnceWithTheGroupwareExclusionsAddedOnce) {
  World w(OneTsa("[faults]\nfault NWSMTSScanTargetServiceResource = 1 0xFFFDFFC9\n"));
  Tree(w.dir() + "/data");
  Connect(w);
  gbGW2012 = TRUE;
  Source("/");
  std::string err = RunBackup();
  EXPECT_EQ(2, Count(err, "Backup ()")) << err;
  EXPECT_EQ(6, ExcludeCount());
  EXPECT_STREQ("/*/wpcsin/", spGlobal->sVRKObject.cpExclude[0]);
  EXPECT_STREQ("/*/oftemp/", spGlobal->sVRKObject.cpExclude[5]);
  EXPECT_EQ(4u, Stored().size()) << err;  // /, /a, /d/ and /d/b
}

TEST_F(BackupTest, ANameSpaceLookupThatKeepsFailingEndsTheBackupAfterOneRetry) {
  World w(OneTsa("[faults]\nfault NWSMTSScanTargetServiceResource = 1-1000 0xFFFDFFC9\n"));
  Tree(w.dir() + "/data");
  Connect(w);
  Source("/");
  std::string err = RunBackup();
  EXPECT_EQ(2, Count(err, "Backup ()")) << err;
  EXPECT_NE(std::string::npos, err.find("No name space of the backup sources could be found")) << err;
  EXPECT_TRUE(w.Calls("NWSMTSScanDataSetBegin").empty());
  EXPECT_EQ(STATUS_ERR_BEF_SAV, spGlobal->sVRKObject.eOperStatus);
}

TEST_F(BackupTest, TheGroupwareExclusionsNeverOverrunTheExcludeTable) {
  World w(OneTsa());
  Tree(w.dir() + "/data");
  Connect(w);
  for (int i = 0; i < VRK_MAX_ITEMS - 3; ++i)
    spGlobal->sVRKObject.cpExclude[i] = strdup(("/none" + std::to_string(i)).c_str());
  gbGW2012 = TRUE;
  Source("/");
  std::string err = RunBackup();
  EXPECT_EQ(VRK_MAX_ITEMS - 1, ExcludeCount());
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpExclude[VRK_MAX_ITEMS - 1]);
  EXPECT_NE(std::string::npos, err.find("not every GroupWise exclusion could be added")) << err;
}

// The first run's result is not used: the second run starts, and the error
// of the first run leaves the job failed.
TEST_F(BackupTest, AFailedFirstRunStillStartsTheSecondRunAndTheJobFails) {
  World w(OneTsa("[faults]\nfault NWSMTSScanDataSetBegin = 1 0xFFFDFFDC\n", "scan_types = 0x806003\n"));
  Tree(w.dir() + "/data");
  Connect(w);
  spGlobal->eBackupType = SINCE;
  spGlobal->tBackupFrom = time(nullptr) - 86400;
  Source("/");
  std::string err = RunBackup();
  EXPECT_EQ(2u, w.Calls("NWSMTSScanDataSetBegin").size()) << err;
  EXPECT_NE(std::string::npos, err.find("Call ScanAndReadDataSets() Second Run (created items)")) << err;
  EXPECT_EQ(std::string::npos, err.find("First run failed")) << err;
  EXPECT_EQ(STATUS_ERR_BEF_SAV, spGlobal->sVRKObject.eOperStatus);
}

TEST_F(BackupTest, WhenTheFirstRunFindsNothingTheSecondRunOpensTheObject) {
  World w(OneTsa("[faults]\nfault NWSMTSScanDataSetBegin = 1 0xFFFDFFD1\n", "scan_types = 0x806003\n"));
  Tree(w.dir() + "/data");
  Connect(w);
  spGlobal->eBackupType = SINCE;
  spGlobal->tBackupFrom = time(nullptr) - 86400;  // every file was created since
  Source("/");
  std::string err = RunBackup();
  EXPECT_EQ(2u, w.Calls("NWSMTSScanDataSetBegin").size()) << err;
  std::vector<decheck::Occurrence> occ = Stored();
  ASSERT_EQ(4u, occ.size()) << err;
  for (const decheck::Occurrence &o : occ) EXPECT_TRUE(o.stream.complete) << o.path;
  EXPECT_EQ(4u, spGlobal->sVRKObject.ulSaved);
}

TEST_F(BackupTest, ProgressWithinTheFirstSecondDividesByOneSecond) {
  ScanRun run;
  double total = 3 * 1024 * 1024;
  run.putotal = &total;
  run.tIntervalStart = time(nullptr) + 5;  // a clock that went back: no negative interval either
  tStart = run.tIntervalStart;
  spGlobal->iAlarmIntervall = 0;
  spGlobal->iVerbose = 1;
  uTransfered = 0;
  for (time_t start : {time(nullptr), run.tIntervalStart}) {
    run.tIntervalStart = start;
    spGlobal->iAlarm = 1;
    Capture cap;
    ScanProgress(run);
    std::string err = cap.err();
    EXPECT_EQ(0, spGlobal->iAlarm);
    size_t p = err.find("Transferred: 3 MB. Throughput: ");
    ASSERT_NE(std::string::npos, p) << err;
    std::string line = err.substr(p, err.find('\n', p) - p);
    EXPECT_EQ(std::string::npos, line.find("inf")) << line;
    EXPECT_EQ(std::string::npos, line.find("nan")) << line;
    EXPECT_EQ(std::string::npos, line.find("-")) << line;
    EXPECT_NE(std::string::npos, err.find("Saveset size: 3145728 bytes.")) << err;
    uTransfered = 0;
  }
}

// Every pass ends with the progress step, also a pass whose data set failed
// to open and every pass of a listing. The stored object counts as open, so
// no record is written and only the loop can take the due message.
TEST_F(BackupTest, EveryPassTakesADueProgressMessage) {
  struct Case {
    const char *what;
    E_OPERATION op;
    int backup;
  } cases[] = {{"opens refused", BACKUP, 1}, {"listing", LIST_RESOURCES, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    World w(OneTsa("[faults]\nfault NWSMTSOpenDataSetForBackup = 1-100 0xFFFDFFBD\n"));
    Tree(w.dir() + "/data");
    Connect(w);
    spGlobal->eOPERATION = c.op;
    gLL_ResourceList = ConsLL();
    gLL_DirList = ConsLL();
    gLL_FileList = ConsLL();
    session_->dataFile = DE_OPEN_MARKER;
    session_->indexFile = DE_OPEN_MARKER;
    NWSM_DATA_SET_NAME_LIST *res = nullptr;
    ASSERT_EQ(0u, NWSMPutOneName(&res, NWSM_TSA_DEFINED_RESOURCE_TYPE, 0, 0, nullptr, nullptr, "/"));
    spGlobal->iAlarmIntervall = 0;
    spGlobal->iAlarm = 1;
    double total = 0;
    Capture cap;
    CCODE cc = ScanAndReadDataSets(session_, c.backup, res, 0, &total, 1);
    std::string err = cap.err();
    EXPECT_EQ(0u, cc) << err;
    EXPECT_EQ(c.backup ? 2u : 0u, w.Calls("NWSMTSOpenDataSetForBackup").size()) << err;
    EXPECT_EQ(1, Count(err, "Transferred: 0 MB.")) << err;
    EXPECT_EQ(0, spGlobal->iAlarm);
    EXPECT_STRNE("", spGlobal->sVRKObject.szItem);
    free(res);
    session_->dataFile = nullptr;
    session_->indexFile = nullptr;
    gLL_ResourceList = DestLL(gLL_ResourceList);
    gLL_DirList = DestLL(gLL_DirList);
    gLL_FileList = DestLL(gLL_FileList);
    EndSession(0, session_);
    session_ = nullptr;
    spGlobal->sVRKObject.szItem[0] = '\0';
  }
}

// A character-type locale in ISO-8859-1, built into a directory of the test,
// so that the backup sources are converted to UTF-8 for the TSA.
class Latin1Locale {
 public:
  explicit Latin1Locale(const std::string &dir) {
    std::string cmd = "localedef --no-archive -c -i POSIX -f ISO-8859-1 '" + dir + "/lat1' >/dev/null 2>&1";
    if (system(cmd.c_str()) != 0) {
    }
    setenv("LOCPATH", dir.c_str(), 1);
    ok_ = setlocale(LC_CTYPE, "lat1") != nullptr;
  }
  ~Latin1Locale() {
    setlocale(LC_CTYPE, "C");
    unsetenv("LOCPATH");
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// The login converts the password first (call 1); the source's length query
// is call 2 and its conversion call 3. Only a failed conversion ends the
// backup; a failed length query is logged and the conversion still runs.
TEST_F(BackupTest, OnlyAFailedSourceConversionEndsTheBackup) {
  struct Case {
    int failingCall;
    size_t stored;
  } cases[] = {{2, 4}, {3, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.failingCall);
    World w(OneTsa("[faults]\nfault SMloc2utf8 = " + std::to_string(c.failingCall) + " 0xFFFBFFF0\n"));
    Tree(w.dir() + "/data");
    Connect(w);
    ASSERT_TRUE(session_->IsUTF8Supp);
    Latin1Locale latin1(dir_.path());
    ASSERT_TRUE(latin1.ok()) << "localedef and the locales package are needed";
    Source("/");
    std::string err = RunBackup();
    EXPECT_EQ(3u, w.Calls("SMloc2utf8").size()) << err;
    EXPECT_EQ(1, Count(err, "SMloc2utf8 error code:0XFFFBFFF0")) << err;
    EXPECT_EQ(c.stored, w.Calls("NWSMTSOpenDataSetForBackup").size()) << err;
    EXPECT_EQ(c.stored, (size_t)spGlobal->sVRKObject.ulSaved);
    EndSession(0, session_);
    session_ = nullptr;
    spGlobal->sVRKObject.ulSaved = 0;
    free(spGlobal->sVRKObject.cpItem[0]);
    spGlobal->sVRKObject.cpItem[0] = nullptr;
  }
}

TEST_F(BackupTest, AListingScansOneLevelWithoutReadingAndMakesLines) {
  World w(OneTsa());
  Tree(w.dir() + "/data");
  mkdir((w.dir() + "/data/d/e").c_str(), 0755);
  vrktest::WriteFile(w.dir() + "/data/d/e/deeper", "x");
  Connect(w);
  spGlobal->eOPERATION = LIST_RESOURCES;
  gLL_ResourceList = ConsLL();
  gLL_DirList = ConsLL();
  gLL_FileList = ConsLL();
  Source("/d/");
  std::string err = RunBackup();
  EXPECT_TRUE(w.Calls("NWSMTSOpenDataSetForBackup").empty());
  EXPECT_EQ(std::string::npos, err.find("Total read:")) << err;
  std::string dirs, files;
  for (void *el = FirstElmLL(gLL_DirList); IsElmLL(el); el = NextElmLL(el)) dirs += (const char *)el;
  for (void *el = FirstElmLL(gLL_FileList); IsElmLL(el); el = NextElmLL(el)) files += (const char *)el;
  EXPECT_EQ(0u, dirs.find("\"/d/e\" d_ ")) << dirs;
  EXPECT_EQ(0u, files.find("\"/d/b\" f_ ")) << files;
  EXPECT_EQ(std::string::npos, files.find("deeper")) << "one level only";
  EXPECT_NE(std::string::npos, files.find(" 5 - ,\n")) << files;
  gLL_ResourceList = DestLL(gLL_ResourceList);
  gLL_DirList = DestLL(gLL_DirList);
  gLL_FileList = DestLL(gLL_FileList);
}

}  // namespace
