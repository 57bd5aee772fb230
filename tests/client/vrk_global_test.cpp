// Tests of the global client state: the defaults filled before parsing and
// the messages when the program cannot become root.
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include "client/vrk_global.h"
#include "vrk_test_util.h"

namespace {

TEST(GlobalDefaults, FilledIntoZeroedRecord) {
  vrktest::ResetGlobal();
  testing::internal::CaptureStderr();
  vrk_setdefaults();
  testing::internal::GetCapturedStderr();
  const _sVRKGlobal *g = spGlobal;
  EXPECT_EQ(900, g->iDataWait);
  EXPECT_EQ(900, g->iGenWait);
  EXPECT_EQ(59, g->iKillWait);
  EXPECT_EQ(HDR_VRK, g->eHdrFmt);
  EXPECT_EQ(32768, g->iDataBuf);
  EXPECT_STREQ("SHARE", g->sSMS.cpMode);
  EXPECT_STREQ("none", g->sSMS.cpInter);
  EXPECT_STREQ(".", g->sSMS.cpRemoteDir);
  EXPECT_STREQ("", g->sSMS.cpDATAFlags);
  EXPECT_EQ(32, g->sSMS.iTCPBufSize);
  EXPECT_STREQ("localhost", g->sSMS.cpHost);
  EXPECT_EQ(11001, g->sSMS.iPort);
  EXPECT_STREQ("KORVA_SECURE_AUTHENTICATION", g->sSMS.cpUser);
  EXPECT_STREQ("", g->sSMS.cpPassword);
  EXPECT_EQ(11001, g->sVRKMsgTarget.iPort);
  EXPECT_STREQ("KORVA_SECURE_AUTHENTICATION", g->sVRKMsgTarget.szUser);
  EXPECT_STREQ("", g->sVRKMsgTarget.szHostName);
  EXPECT_STREQ(".", g->sVRKMsgTarget.szLogDir);
  EXPECT_EQ(1, g->sVRKMsgTarget.iLeaveLocal);
  EXPECT_EQ(0, g->sVRKMsgTarget.iLogFile);
  EXPECT_EQ(-1, g->sLocalSaveset.iFilDes);
  EXPECT_EQ(-1, g->sVRKObject.iExcludeFile);
  EXPECT_EQ(E_TYPE_DEFAULT, g->eBackupType);
  EXPECT_EQ(0, g->iLogLevel);
  EXPECT_STREQ("/korva/log", g->sDirs.cpLog);
  EXPECT_STREQ("/korva/times", g->sDirs.cpTimes);
  EXPECT_STREQ("/korva/work", g->sDirs.cpWork);
  EXPECT_STREQ("/korva/tmp", g->sDirs.cpTmp);
  EXPECT_STREQ(".", g->sDirs.cpBin);
  EXPECT_EQ(nullptr, g->sDirs.cpIni);
  EXPECT_EQ((int)getpid(), g->sVRKObject.iVrkPid);
  EXPECT_EQ(-1, g->sVRKObject.iGenPid);
  EXPECT_EQ(1, g->sOptions.iNfs);
  EXPECT_EQ(1, g->sOptions.iXdev);
  EXPECT_EQ(1, g->sOptions.iExFile);
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
  EXPECT_STREQ(cwd, g->szVRKDir);
}

TEST(GlobalDefaults, ResetZeroesEverything) {
  spGlobal->iLogLevel = 5;
  spGlobal->sVRKObject.eOperStatus = STATUS_ERR_BEF_SAV;
  vrktest::ResetGlobal();
  EXPECT_EQ(0, spGlobal->iLogLevel);
  EXPECT_EQ(STATUS_OK, spGlobal->sVRKObject.eOperStatus);
  EXPECT_EQ(nullptr, spGlobal->sSMS.cpHost);
}

// Without root rights and without the set-user-ID bit both messages appear
// once and the defaults are still filled.
TEST(GlobalDefaultsDeathTest, WithoutRootReportsAndGoesOn) {
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        vrktest::ResetGlobal();
        vrk_setdefaults();
        _exit(spGlobal->iDataWait == 900 && spGlobal->sVRKObject.eOperStatus == STATUS_OK ? 0 : 1);
      },
      testing::ExitedWithCode(0),
      "vrk-3184: Info:     setuid\\(0\\) failed: [^\n]* \\(1\\)\n"
      "[^\n]*vrk-3185: Info:     Please check if root is owner of vrk and set user ID "
      "permission is set.\n$");
}

}  // namespace
