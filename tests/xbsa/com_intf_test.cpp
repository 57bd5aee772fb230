// The command-interface runner against the stand-in program: the argument
// vector of every task, the step machine, program lookup and answer limits.
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "com_standin.h"
#include "xbsa/com.h"
#include "xbsa_client.h"

using namespace vrktest;

namespace {

class ComIntfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetXbsa(3);
    com_reset_state();
    com_set_ini_file(standin_.WriteIni().c_str());
  }
  void TearDown() override {
    com_set_ini_file(nullptr);
    com_reset_state();
    xbsa_reset_library();
  }
  STUCT_COM_INPUT &In() { return sGlobal.sCOM; }
  void Fill() {
    strcpy(In().szKORVAServer, "backupsrv");
    strcpy(In().szJobName, "job1");
    strcpy(In().szInitiator, "DB2_UDB");
    strcpy(In().szKORVATapeServer, "ts1");
    strcpy(In().szDrive, "d0");
    strcpy(In().szPool, "pool1");
    strcpy(In().szCOMTimeOut, "30");
    strcpy(In().szSrcSpec, "db@/path");
  }
  int CountTrace(const std::string &part) {
    int n = 0;
    for (const auto &l : TraceLines()) n += l.find(part) != std::string::npos;
    return n;
  }
  ComStandIn standin_;
};

TEST_F(ComIntfTest, EveryTaskSendsItsArguments) {
  Fill();
  standin_.Answer("open_session", "reply=OK\nsessionID=S100\n");
  for (const char *t : {"open_write", "close_write", "close_read", "info", "close_session", "other"})
    standin_.Answer(t, "reply=OK\n");
  standin_.Answer("open_read", "reply=OK\nsavesetname=42@R7\n");

  ASSERT_EQ(com_intf(COM_OPEN_SESSION, &In()), 1);
  EXPECT_STREQ(In().szMySessionID, "S100");
  strcpy(In().szSavesetID, "1234");
  EXPECT_EQ(com_intf(COM_OPEN_WRITE, &In()), 1);
  In().iJobResult = 2;
  EXPECT_EQ(com_intf(COM_CLOSE_WRITE, &In()), 1);
  sGlobal.sObject.sBSA_Object.copyId.left = 1;
  sGlobal.sObject.sBSA_Object.copyId.right = 5;
  EXPECT_EQ(com_intf(COM_OPEN_READ, &In()), 1);
  In().iJobResult = 0;
  EXPECT_EQ(com_intf(COM_CLOSE_READ, &In()), 1);
  EXPECT_EQ(com_intf(COM_INFO, &In()), 1);
  In().iSessionResult = 3;
  EXPECT_EQ(com_intf(COM_CLOSE_SESSION, &In()), 1);
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 1);
  // The optional parts only when their fields are set.
  In().szKORVATapeServer[0] = In().szDrive[0] = In().szPool[0] = In().szCOMTimeOut[0] = In().szSrcSpec[0] = '\0';
  EXPECT_EQ(com_intf(COM_OPEN_WRITE, &In()), 1);
  EXPECT_EQ(com_intf(COM_INFO, &In()), 1);

  std::vector<std::string> expected = {
      "[-b][open][-C][backupsrv][-j][job1][-I][DB2_UDB]",
      "[-b][openjob:S100][-C][backupsrv][-j][job1][-s][1234][-I][DB2_UDB][-S][ts1][-d][d0][-m][pool1][-W][30]"
      "[--][db@/path]",
      "[-b][closejob:S100][-C][backupsrv][-j][job1][-s][1234][-I][DB2_UDB][-i][2]",
      "[-r][openjob:S100][-C][backupsrv][-j][job1][-s][4294967301][-I][DB2_UDB][-S][ts1][-d][d0][-m][pool1]"
      "[-W][30][--][db@/path]",
      "[-r][closejob:S100][-C][backupsrv][-j][job1][-s][42@R7][-I][DB2_UDB][-i][0]",
      "[-q][-C][backupsrv][-j][job1][-s][NULL][-I][DB2_UDB][--][db@/path]",
      "[-b][close:S100][-C][backupsrv][-I][DB2_UDB][-i][3]",
      "",
      "[-b][openjob:S100][-C][backupsrv][-j][job1][-s][42][-I][DB2_UDB]",
      "[-q][-C][backupsrv][-j][job1][-s][NULL][-I][DB2_UDB]",
  };
  EXPECT_EQ(standin_.Calls(), expected);
  EXPECT_TRUE(TraceHas("com_intf: COM COMMAND: [" + standin_.program() +
                       " -b open -C backupsrv -j job1 -I DB2_UDB 2>/dev/null]"));
  EXPECT_TRUE(TraceHas(" -I DB2_UDB -S ts1 -d d0 -m pool1 -W 30  -- db@/path 2>/dev/null]"));
  EXPECT_EQ(sCOMGlobal.iCOMTasksCompleted, 255);
  EXPECT_EQ(sCOMGlobal.iCOMStepCompleted, COM_STEP_OPEN_SESSION | COM_STEP_OPEN_JOB | COM_STEP_CLOSE_JOB);
}

TEST_F(ComIntfTest, TextsReachTheProgramAsSingleArgumentsWithoutAShell) {
  std::string marker = standin_.dir() + "/pwned";
  strcpy(In().szKORVAServer, "$(touch x)");
  snprintf(In().szJobName, sizeof In().szJobName, "job 1; touch %s", marker.c_str());
  strcpy(In().szInitiator, "DB2_UDB");
  standin_.Answer("open_session", "reply=OK\nsessionID=S1\n");
  sigset_t before, after;
  sigprocmask(SIG_SETMASK, nullptr, &before);
  ASSERT_EQ(com_intf(COM_OPEN_SESSION, &In()), 1) << "standard error is not part of the answer";
  sigprocmask(SIG_SETMASK, nullptr, &after);
  ASSERT_EQ(standin_.Calls().size(), 1u);
  EXPECT_EQ(standin_.Calls()[0], "[-b][open][-C][$(touch x)][-j][job 1; touch " + marker + "][-I][DB2_UDB]");
  EXPECT_NE(access(marker.c_str(), F_OK), 0);
  EXPECT_EQ(standin_.Lines("stderr.log"), std::vector<std::string>{"/dev/null"});
  // The program starts with every signal blocked; the caller's mask returns.
  ASSERT_EQ(standin_.Lines("sigblk.log").size(), 1u);
  EXPECT_EQ(standin_.Lines("sigblk.log")[0].find("SigBlk:\t0000000000000000"), std::string::npos);
  for (int s = 1; s < 32; s++) EXPECT_EQ(sigismember(&before, s), sigismember(&after, s)) << s;
}

TEST_F(ComIntfTest, StepMachineRunsJobTasksOnlyInTheirSteps) {
  Fill();
  EXPECT_EQ(com_intf(COM_OPEN_WRITE, &In()), 0);
  EXPECT_EQ(com_intf(COM_OPEN_READ, &In()), 0);
  EXPECT_TRUE(TraceHas("com_intf: ERROR: VRK_COM Session not yet opened"));
  EXPECT_EQ(com_intf(COM_CLOSE_WRITE, &In()), 1);
  EXPECT_EQ(com_intf(COM_CLOSE_READ, &In()), 1);
  EXPECT_EQ(CountTrace("com_intf: ERROR: No JOB opened - nothing to do"), 2);
  EXPECT_TRUE(standin_.Calls().empty());
  EXPECT_EQ(sCOMGlobal.iCOMTasksCompleted, COM_OPEN_WRITE | COM_OPEN_READ | COM_CLOSE_WRITE | COM_CLOSE_READ);

  // A refused job open leaves nothing to close.
  standin_.Answer("open_session", "reply=OK\nsessionID=S2\n");
  standin_.Answer("open_write", "reply=ERROR\nmessage=pool full\n");
  ASSERT_EQ(com_intf(COM_OPEN_SESSION, &In()), 1);
  EXPECT_EQ(com_intf(COM_OPEN_WRITE, &In()), 0);
  EXPECT_TRUE(TraceHas("parse_com_answer: ERROR MESSAGE: [pool full]"));
  EXPECT_EQ(com_intf(COM_CLOSE_WRITE, &In()), 1);
  EXPECT_EQ(standin_.Tasks(), (std::vector<std::string>{"open_session", "open_write"}));
  EXPECT_EQ(uiCOMCurrentStep, (unsigned)COM_STEP_CLOSE_JOB);

  // A new session starts over; closing a session that was never opened
  // still asks the program.
  com_reset_state();
  com_set_ini_file(standin_.WriteIni().c_str());
  standin_.Answer("close_session", "reply=OK\n");
  EXPECT_EQ(com_intf(COM_CLOSE_SESSION, &In()), 1);
  EXPECT_TRUE(TraceHas("com_intf: ERROR: Session already closed, recent step was [COM_STEP_INIT]"));
  EXPECT_EQ(standin_.Tasks().back(), "close_session");
  EXPECT_EQ(com_intf((ENUM_COM_TASK)3, &In()), 0);
  EXPECT_TRUE(TraceHas("com_intf: Invalid input mode: [3]."));
}

TEST_F(ComIntfTest, ProgramFromTheIniIsSearchedOnce) {
  standin_.Answer("other", "reply=OK\n");
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 1);
  EXPECT_STREQ(szCOM_EXE, standin_.program().c_str());
  EXPECT_TRUE(TraceHas("com_intf: COM utility executable: [" + standin_.program() + "]"));
  // Another ini no longer matters: the path is kept for the process.
  TempDir other;
  WriteFile(other.file("korva2000.ini"), "KV_BIN_KORVA=/nonexistent\n");
  com_set_ini_file(other.file("korva2000.ini").c_str());
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 1);
  EXPECT_EQ(standin_.Calls().size(), 2u);
  EXPECT_EQ(CountTrace("find_com_intf: Searching COM utility in INI file"), 1);
}

TEST_F(ComIntfTest, WithoutIniLineTheBareNameIsTakenFromPath) {
  WriteFile(standin_.dir() + "/korva2000.ini", "OTHER=1\n");
  ScopedPath path(standin_.dir());
  standin_.Answer("other", "reply=OK\n");
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 1);
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 1);
  EXPECT_STREQ(szCOM_EXE, COM_PROGRAM);
  EXPECT_TRUE(TraceHas("com_intf: Path not found for COM utility executable: [vrk_com_interface]"));
  EXPECT_EQ(CountTrace("find_com_intf: Searching COM utility in INI file"), 1);
  EXPECT_EQ(standin_.Calls().size(), 2u);
}

TEST_F(ComIntfTest, MissingProgramOrAnswerFailsTheTask) {
  com_set_ini_file("/nonexistent/korva2000.ini");
  {
    ScopedPath path("/nonexistent");
    setenv("PATH", "/nonexistent", 1);
    EXPECT_EQ(com_intf(COM_REMOVE, &In()), 0);
    EXPECT_TRUE(TraceHas("com_intf: COM Interface command could not be executed."));
    EXPECT_NE(LastError().find("vrk_com_interface could not be started"), std::string::npos);
  }
  com_reset_state();
  com_set_ini_file(standin_.WriteIni().c_str());
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 0) << "no answer file: nothing on standard output";
  EXPECT_TRUE(TraceHas("com_intf: COM answer not received. uiAnswerLen = 0"));
  EXPECT_EQ(sCOMGlobal.iCOMTasksCompleted, COM_REMOVE);
}

std::string AnswerOfSize(size_t n) {
  std::string s = "reply=OK\n";
  while (n - s.size() > 400) s += "media=" + std::string(293, 'x') + "\n";
  s += "media=" + std::string(n - s.size() - 7, 'y') + "\n";
  return s;
}

TEST_F(ComIntfTest, AnswerAtTheLimitIsReadAndLongerOnesAreRefusedWithoutHanging) {
  std::string exact = AnswerOfSize(COM_ANSWER_MAX);
  ASSERT_EQ(exact.size(), (size_t)COM_ANSWER_MAX);
  standin_.Answer("other", exact);
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 1);
  EXPECT_TRUE(TraceHas("com_intf: Got 131071 bytes"));

  // Far more than the pipe holds: the program is ended, not waited for
  // while it blocks on a full pipe.
  standin_.Answer("other", AnswerOfSize(1 << 20));
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 0);
  EXPECT_TRUE(TraceHas("com_intf: Answer longer than 131071 bytes, refused."));
  standin_.Answer("other", exact + "m");
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 0) << "one byte over the limit";

  standin_.Answer("other", "reply=OK\n");
  EXPECT_EQ(com_intf(COM_REMOVE, &In()), 1);
}

TEST(ComFindTest, IniLineDecidesThePath) {
  struct Case {
    const char *name;
    std::string ini;
    unsigned size;
    int rc;
    const char *path;
    unsigned len;
  } cases[] = {
      {"plain", "KV_BIN_KORVA=/opt/kv/bin\n", 1024, 1, "/opt/kv/bin/vrk_com_interface", 11},
      {"blanks and slash", "# note\n\nOTHER=1\n  KV_BIN_KORVA  =  /opt/kv/  \r\n", 1024, 1,
       "/opt/kv/vrk_com_interface", 8},
      {"first line wins", "KV_BIN_KORVA=/first\nKV_BIN_KORVA=/second\n", 1024, 1, "/first/vrk_com_interface", 6},
      {"no such key", "KV_BIN_KORVAX=/x\nno equals here\n", 1024, 0, "", 1024},
      {"buffer just too small", "KV_BIN_KORVA=/opt/kv/bin\n", 30, 0, "", 11},
      {"buffer just large enough", "KV_BIN_KORVA=/opt/kv/bin\n", 31, 1, "/opt/kv/bin/vrk_com_interface", 11},
      {"empty value", "KV_BIN_KORVA=\n", 1024, 0, "", 0},
      {"over-long line skipped", "KV_BIN_KORVA=/" + std::string(600, 'a') + "\nKV_BIN_KORVA=/ok\n", 1024, 1,
       "/ok/vrk_com_interface", 3},
  };
  TempDir dir;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.file("k.ini"), c.ini);
    com_set_ini_file(dir.file("k.ini").c_str());
    char buf[1024] = "";
    unsigned len = c.size;
    EXPECT_EQ(find_com_intf(buf, &len), c.rc);
    EXPECT_STREQ(buf, c.path);
    EXPECT_EQ(len, c.len);
  }
  // No line, but a path already held: kept.
  WriteFile(dir.file("k.ini"), "OTHER=1\n");
  char held[1024] = "/held/vrk_com_interface";
  unsigned len = sizeof held;
  EXPECT_EQ(find_com_intf(held, &len), 1);
  EXPECT_STREQ(held, "/held/vrk_com_interface");
  com_set_ini_file(dir.file("missing.ini").c_str());
  EXPECT_EQ(find_com_intf(held, &len), 0);
  com_set_ini_file(nullptr);
}

}  // namespace
