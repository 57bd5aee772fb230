// Tests of the argument checks: default levels, refused levels per
// operation, restore targets and flags, the usage checks and the job name.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "client/vrk_checkargs.h"
#include "runtime/strlib.h"
#include "vrk_client_fixture.h"

namespace {

class CheckArgs : public vrktest::ClientTest {
 protected:
  void SetUp() override {
    vrktest::ClientTest::SetUp();
    free(spGlobal->sSMS.cpSaveset);
    spGlobal->sSMS.cpSaveset = strdup("dummy");
  }
  int Run() {
    testing::internal::CaptureStderr();
    int rc = vrk_checkargs();
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }
  std::string err_;
};

TEST_F(CheckArgs, DefaultLevelsPerOperation) {
  spGlobal->eOPERATION = BACKUP;
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_EQ(COPY, spGlobal->eBackupType);

  vrktest::FreshGlobal();
  SetUp();
  spGlobal->eOPERATION = RESTORE;
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_EQ(FULL, spGlobal->eBackupType);
  EXPECT_STREQ("ft", spGlobal->sSMS.cpDATAFlags);
}

TEST_F(CheckArgs, InvalidOperation) {
  spGlobal->eOPERATION = OPERATION_NOT_INITIALIZED;
  EXPECT_EQ(-1, Run());
  EXPECT_NE(std::string::npos, err_.find("vrk-1004: Error:    Invalid function."));
}

TEST_F(CheckArgs, RefusedLevels) {
  struct {
    E_OPERATION op;
    _eBackupType level;
  } cases[] = {{RESTORE, DIFFERENTIAL}, {RESTORE, SINCE}, {RESTORE, COPY},
               {BACKUP, SELECTIVE},     {BACKUP, E_LIST}};
  for (auto &c : cases) {
    SetUp();
    spGlobal->eOPERATION = c.op;
    spGlobal->eBackupType = c.level;
    EXPECT_EQ(-1, Run());
    EXPECT_NE(std::string::npos, err_.find("Invalid usage. Try \"vrk -h\" for help screen."));
  }
}

TEST_F(CheckArgs, FullBackupNeedsAJobName) {
  spGlobal->eOPERATION = BACKUP;
  spGlobal->eBackupType = FULL;
  EXPECT_EQ(-1, Run());
  EXPECT_NE(std::string::npos, err_.find("Option -j requires an argument."));
  strlcpy(spGlobal->szJobName, "job1", sizeof(spGlobal->szJobName));
  EXPECT_EQ(0, Run()) << err_;
}

TEST_F(CheckArgs, RestoreTargetsGetASlashPipeStays) {
  spGlobal->eOPERATION = RESTORE;
  strlcpy(spGlobal->szTargetPath[0], "/restore", VRK_PATH_MAX);
  strlcpy(spGlobal->szTargetPath[1], "/other/", VRK_PATH_MAX);
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_STREQ("/restore/", spGlobal->szTargetPath[0]);
  EXPECT_STREQ("/other/", spGlobal->szTargetPath[1]);

  SetUp();
  spGlobal->eOPERATION = RESTORE;
  strlcpy(spGlobal->szTargetPath[0], "pipe", VRK_PATH_MAX);
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_STREQ("pipe", spGlobal->szTargetPath[0]);
  EXPECT_EQ(HDR_RAW, spGlobal->eHdrFmt);
}

TEST_F(CheckArgs, FullTargetRowIsRefusedNotOverrun) {
  spGlobal->eOPERATION = RESTORE;
  memset(spGlobal->szTargetPath[3], 'a', VRK_PATH_MAX - 1);
  spGlobal->szTargetPath[3][VRK_PATH_MAX - 1] = '\0';
  EXPECT_EQ(-1, Run());
  EXPECT_NE(std::string::npos, err_.find("vrk-1038"));
}

TEST_F(CheckArgs, RestoreFlags) {
  spGlobal->eOPERATION = RESTORE;
  spGlobal->eBackupType = SELECTIVE;
  spGlobal->sOptions.iPlain = 1;
  spGlobal->sOptions.iNext = 1;
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_STREQ("spn", spGlobal->sSMS.cpDATAFlags);

  SetUp();
  spGlobal->eOPERATION = RESTORE;
  spGlobal->sOptions.iSdi = 1;
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_EQ(1, spGlobal->sOptions.iPlain);
  EXPECT_STREQ("fp", spGlobal->sSMS.cpDATAFlags);
}

TEST_F(CheckArgs, StdinListWithoutPipeFormatIsRefused) {
  spGlobal->eOPERATION = RESTORE;
  spGlobal->sVRKObject.cpIncludeList = strdup("@-");
  EXPECT_EQ(-1, Run());
  EXPECT_NE(std::string::npos, err_.find("vrk-1121"));
}

TEST_F(CheckArgs, PipeBackupIsCopyWithRawHeaders) {
  spGlobal->eOPERATION = BACKUP;
  spGlobal->eBackupType = FULL;
  spGlobal->sVRKObject.cpItem[0] = strdup("pipe");
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_EQ(COPY, spGlobal->eBackupType);
  EXPECT_EQ(HDR_RAW, spGlobal->eHdrFmt);
}

// Every usage check runs and prints the usage text; the result is -1.
TEST_F(CheckArgs, UsageChecksAllRun) {
  spGlobal->eOPERATION = BACKUP;
  spGlobal->eBackupType = SINCE;
  spGlobal->sSMS.cpHost[0] = '\0';
  free(spGlobal->sSMS.cpRemoteDir);
  spGlobal->sSMS.cpRemoteDir = strdup("SMS");
  spGlobal->sSMS.cpSaveset[0] = '\0';
  EXPECT_EQ(-1, Run());
  size_t count = 0;
  for (size_t p = 0; (p = err_.find("vrk -b|r|g|p|k|h", p)) != std::string::npos; ++p) ++count;
  EXPECT_EQ(4u, count) << err_;
}

TEST_F(CheckArgs, ControlHostFollowsTheStorageNode) {
  spGlobal->eOPERATION = BACKUP;
  free(spGlobal->sSMS.cpHost);
  spGlobal->sSMS.cpHost = strdup("ftp://node");
  spGlobal->sSMS.iPort = 12000;
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_STREQ("ftp://node", spGlobal->sVRKMsgTarget.szHostName);
  EXPECT_EQ(12000, spGlobal->sVRKMsgTarget.iPort);
  EXPECT_STREQ("KORVA_SECURE_AUTHENTICATION", spGlobal->sVRKMsgTarget.szUser);
}

TEST_F(CheckArgs, PlainPasswordStaysEncipheredOneIsRefusedWhenBroken) {
  spGlobal->eOPERATION = BACKUP;
  strlcpy(spGlobal->szDB_Pass, "plain", sizeof(spGlobal->szDB_Pass));
  EXPECT_EQ(0, Run()) << err_;
  EXPECT_STREQ("plain", spGlobal->szDB_Pass);
  strlcpy(spGlobal->szDB_Pass, "{0011}", sizeof(spGlobal->szDB_Pass));
  EXPECT_EQ(-1, Run());
}

}  // namespace
