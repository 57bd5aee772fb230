// Tests of session control and the end of the run: record defaults, cluster
// parameters, the read buffer size, the session name and the exit status rules.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "client/vrk_timestamp.h"
#include "engine/main_run.h"
#include "engine/session.h"
#include "engine_test_util.h"

using enginetest::Capture;
using enginetest::World;

TEST(SessionRecord, DefaultsOfTheScanControl) {
  enginetest::FreshState();
  for (BOOL bCompress : {1, 0}) {
    spGlobal->bCompress = bCompress;
    Capture cap;
    SESSION_INFORMATION *s = GetSessionInfoBuffer();
    cap.Stop();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->scanControl.bufferSize, 64);
    EXPECT_EQ(s->scanControl.scanControlSize, 61);
    EXPECT_EQ(s->scanControl.scanType, bCompress ? 0u : 0x4000u);
    EXPECT_EQ(s->scanControl.returnChildTerminalNodeNameOnly, 1);
    EXPECT_EQ(s->scanControl.createSkippedDataSetsFile, 1);
    EXPECT_EQ(s->scanControl.returnNameSpaceType, 0xFFFFFFFFu);
    EXPECT_EQ(s->scanControl.scanChildNameSpaceType, 0xFFFFFFFFu);
    EXPECT_EQ(s->connection, 0u);
    EXPECT_EQ(s->clusterparams, nullptr);
    EXPECT_EQ(cap.err().find("EXPAND_COMPRESSED_DATA (0X4000)") != std::string::npos, !bCompress);
    ReleaseSessionInfoBuffer(s);
  }
  ReleaseSessionInfoBuffer(nullptr);
}

// The second call (backup and restore) replaces the parameters; the first
// record is freed (the leak check of the sanitizer build watches this).
TEST(SessionRecord, FreshClusterParametersReplaceTheOldOnes) {
  enginetest::FreshState();
  SESSION_INFORMATION *s = GetSessionInfoBuffer();
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(Init_Cluster_Params(s), s);
  s->clusterparams->reTryPeriod = 10;
  ASSERT_EQ(Init_Cluster_Params(s), s);
  EXPECT_EQ(s->clusterparams->reTries, 10);
  EXPECT_EQ(s->clusterparams->reTryPeriod, 30);
  EXPECT_EQ(s->clusterparams->waitTime, 1);
  ReleaseSessionInfoBuffer(s);
}

TEST(SessionRecord, ClusterParametersAreLoggedFromLevelTwo) {
  enginetest::FreshState();
  SESSION_INFORMATION *s = GetSessionInfoBuffer();
  for (int level : {1, 2}) {
    spGlobal->iLogLevel = level;
    Capture cap;
    Init_Cluster_Params(s);
    EXPECT_EQ(cap.err().find("Retry Period      : 30 secs") != std::string::npos, level >= 2);
  }
  ReleaseSessionInfoBuffer(s);
}

TEST(SessionName, JobNameCutOrDefault) {
  struct Case {
    std::string job, name;
  } cases[] = {{"", "KORVA VRK_NLM Session"},
               {"nightly", "nightly"},
               {std::string(30, 'j'), std::string(24, 'j')},
               {std::string(24, 'k'), std::string(24, 'k')}};
  for (const Case &c : cases) {
    char sName[SESSION_NAME_MAX + 1];
    vrk_session_name(c.job.c_str(), sName);
    EXPECT_EQ(sName, c.name);
  }
}

TEST(StartSessionTest, SmallReadBufferIsRaisedAndTheSessionConnects) {
  World w("[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n");
  for (int size : {32768, 131072}) {
    enginetest::FreshState();
    spGlobal->eOPERATION = PUT;
    spGlobal->lBufferSize = size;
    strcpy(spGlobal->sVRKNlm.szTSA, "srv1.Linux File System");
    Capture cap;
    EXPECT_EQ(StartSession("job"), 0);
    cap.Stop();
    EXPECT_EQ(spGlobal->lBufferSize, size < 65536 ? 65536 : size);
    EXPECT_NE(cap.err().find("Use read buffer size [" + std::to_string(spGlobal->lBufferSize) + "]"),
              std::string::npos);
    EXPECT_NE(cap.err().find("Connection established"), std::string::npos) << cap.err();
    EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK) << cap.err();
  }
  // Two sessions connected and both were released.
  EXPECT_EQ(w.Calls("NWSMReleaseTSA").size(), 2u);
}

TEST(StartSessionTest, FailedConnectionIsDenied) {
  World w("fail_connect = 5\n[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n");
  enginetest::FreshState();
  spGlobal->eOPERATION = GET;
  Capture cap;
  EXPECT_EQ(StartSession("job"), 0);
  EXPECT_NE(cap.err().find("Error:    Connection denied."), std::string::npos);
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_ERR_BEF_SAV);
}

// The exit status from the logged levels and the counters.
TEST(EndOfRun, StatusTableAndMarkerCommit) {
  struct Case {
    E_OPERATION op;
    _eBackupType level;
    _eOperStatus logged;
    uint64_t saved, notSaved;
    int status;
    bool marker;
  } cases[] = {
      {BACKUP, FULL, STATUS_OK, 3, 0, 0, true},
      {BACKUP, INCREMENTAL, STATUS_OK, 3, 1, 1, true},
      {BACKUP, FULL, STATUS_OK, 0, 0, 3, false},
      {BACKUP, COPY, STATUS_OK, 3, 0, 0, false},
      {BACKUP, FULL, STATUS_WARNING, 3, 0, 1, true},
      {BACKUP, FULL, STATUS_ERR_BEF_SAV, 3, 0, 3, false},
      {LIST_RESOURCES, E_TYPE_DEFAULT, STATUS_OK, 0, 0, 0, false},
      {LIST_RESOURCES, E_TYPE_DEFAULT, STATUS_OK, 0, 5, 0, false},
      {RESTORE, FULL, STATUS_OK, 2, 0, 0, false},
      {PUT, E_TYPE_UNKNOWN, STATUS_OK, 0, 0, 3, false},
      {GET, E_TYPE_UNKNOWN, STATUS_ERR_BROK_STR, 0, 0, 2, false},
  };
  for (const Case &c : cases) {
    vrktest::TempDir dir;
    std::string tmp = dir.file("tmp"), times = dir.file("times");
    mkdir(tmp.c_str(), 0755);
    mkdir(times.c_str(), 0755);
    enginetest::FreshState();
    spGlobal->sDirs.cpTmp = const_cast<char *>(tmp.c_str());
    spGlobal->sDirs.cpTimes = const_cast<char *>(times.c_str());
    strcpy(spGlobal->szJobName, "job");
    // Prepared markers, as the opening of the stored object leaves them.
    spGlobal->iLogLevel = 1;
    ASSERT_EQ(0, vrk_settimestamp(FULL, 1));
    spGlobal->eOPERATION = c.op;
    spGlobal->eBackupType = c.level;
    spGlobal->sVRKObject.eOperStatus = c.logged;
    spGlobal->sVRKObject.ulSaved = c.saved;
    spGlobal->sVRKObject.ulNotSaved = c.notSaved;
    Capture cap;
    int status = vrk_end_of_run();
    cap.Stop();
    EXPECT_EQ(status, c.status) << c.op << " " << c.level << " " << c.saved << cap.err();
    struct stat st;
    EXPECT_EQ(stat((times + "/job.I").c_str(), &st) == 0, c.marker) << c.op << " " << c.level;
    EXPECT_NE(cap.err().find("vrk-3001: Info:     Exiting."), std::string::npos);
  }
}

TEST(EndOfRun, CountersAreLogged) {
  enginetest::FreshState();
  spGlobal->eOPERATION = RESTORE;
  spGlobal->sVRKObject.ulSaved = 7;
  spGlobal->sVRKObject.ulSkipped = 2;
  spGlobal->sVRKObject.ulNotSaved = 1;
  Capture cap;
  EXPECT_EQ(vrk_end_of_run(), 1);
  EXPECT_NE(cap.err().find("Skipped items: [2]."), std::string::npos);
  EXPECT_NE(cap.err().find("Items processed correctly: [5]. Not processed or incorrectly processed "
                           "items: [1]."),
            std::string::npos);
  EXPECT_NE(cap.err().find("Operation successful with warnings."), std::string::npos);
}

// More skipped than saved never prints a wrapped-around count.
TEST(EndOfRun, SkippedBeyondSavedCountsNone) {
  enginetest::FreshState();
  spGlobal->eOPERATION = RESTORE;
  spGlobal->sVRKObject.ulSaved = 1;
  spGlobal->sVRKObject.ulSkipped = 3;
  Capture cap;
  vrk_end_of_run();
  EXPECT_NE(cap.err().find("Items processed correctly: [0]."), std::string::npos) << cap.err();
}
