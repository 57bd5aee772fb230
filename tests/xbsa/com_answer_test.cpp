// Answers of the command-interface program and the storage node's host
// entry, as tables; query results, trace masking and the environment road.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <gtest/gtest.h>

#include "xbsa/com.h"
#include "xbsa_client.h"

using namespace vrktest;

namespace {

class ComAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetXbsa(3); }
  void TearDown() override { xbsa_reset_library(); }
  int Parse(const std::string &text) {
    std::string copy = text;
    return parse_com_answer(&copy[0], (unsigned)copy.size(), &sGlobal.sCOM);
  }
};

TEST_F(ComAnswerTest, ResultOfAnswers) {
  struct Case {
    const char *name;
    std::string text;
    int rc;
  } cases[] = {
      {"reply OK alone", "reply=OK\n", 1},
      {"reply ok any case, blanks, CR LF", "reply =  ok \r\n\r\n", 1},
      {"reply ERROR alone", "reply=ERROR\n", 0},
      {"reply ERROR with message", "reply=error\nmessage=no such job\n", 0},
      {"keyword before reply", "jobname=j\nreply=OK\n", 0},
      {"media before reply is not counted", "media=LTO\nreply=OK\n", 1},
      {"second reply", "reply=OK\nreply=OK\n", 0},
      {"unknown reply value", "reply=MAYBE\n", 0},
      {"no reply at all", "jobname=a\nsessionID=b\n", 0},
      {"only media", "media=x\n", 0},
      {"unknown keyword", "reply=OK\ncolour=red\n", 0},
      {"keyword with more letters", "reply=OK\njobnames=x\n", 0},
      {"keyword without '='", "reply=OK\nsegment 3\n", 0},
      {"tape without ':'", "reply=OK\ntape=LABEL\n", 0},
      {"bad host entry", "reply=OK\ntape_server=:21\n", 0},
      {"port not a number", "reply=OK\ntape_server=h:abc:u:p\n", 0},
      {"value at 511", "reply=OK\nmessage=" + std::string(511, 'm') + "\n", 1},
      {"value over 511", "reply=OK\nmessage=" + std::string(512, 'm') + "\n", 0},
      {"saveset part over 255", "reply=OK\nsavesetname=" + std::string(256, 's') + "@r\n", 0},
      {"empty answer", "", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ResetXbsa(3);
    EXPECT_EQ(Parse(c.text), c.rc);
  }
}

TEST_F(ComAnswerTest, KeywordsSetTheirFields) {
  sGlobal.sObject.sSMS.iTCPBufsiz = 77;
  strcpy(sGlobal.sCOM.szRestoreID, "old");
  ASSERT_EQ(Parse("reply=OK\n"
                  "jobname= nightly \n"
                  "tape_server=node1:2100:dbuser:secret\n"
                  "drive=/pool/dir\n"
                  "tape=TAPE07:19\n"
                  "savesetname=5551\n"
                  "format=cpio\n"
                  "initiator=DB2_UDB\n"
                  "segment=4\n"
                  "logfile=/tmp/xbsa-trace.log\n"
                  "verbose=2\n"
                  "lifetime=30\n"
                  "message=all fine\n"
                  "sessionID=SESS9\n"),
            1);
  const _sSMS &sms = sGlobal.sObject.sSMS;
  EXPECT_STREQ(sGlobal.sCOM.szJobName, "nightly");
  EXPECT_STREQ(sms.szHostName, "node1");
  EXPECT_EQ(sms.iPort, 2100);
  EXPECT_STREQ(sms.szUser, "dbuser");
  EXPECT_STREQ(sms.szPass, "secret");
  EXPECT_STREQ(sms.szPath, "/pool/dir");
  EXPECT_STREQ(sms.szTape, "TAPE07");
  EXPECT_EQ(sms.ulTapeID, 19u);
  EXPECT_EQ(sms.iTCPBufsiz, 77) << "a tape without a third field keeps the buffer size";
  EXPECT_STREQ(sms.szName, "5551");
  EXPECT_STREQ(sGlobal.sCOM.szSavesetID, "5551");
  EXPECT_STREQ(sGlobal.sCOM.szRestoreID, "");
  EXPECT_STREQ(sms.szInter, "cpio");
  EXPECT_EQ(sms.ulSegmentNum, 4u);
  EXPECT_STREQ(sGlobal.szLogFile, "/tmp/xbsa-trace.log");
  EXPECT_EQ(sGlobal.ucXBSATraceLevel, 2);
  EXPECT_STREQ(sGlobal.sCOM.szSessionID, "SESS9");
  EXPECT_TRUE(TraceHas("parse_com_answer: MESSAGE: [all fine]"));

  ASSERT_EQ(Parse("reply=OK\ntape=T2:3:131072:extra\nsavesetname=77@R5\ntape_server=node2\n"), 1);
  EXPECT_EQ(sms.iTCPBufsiz, 131072);
  EXPECT_STREQ(sGlobal.sCOM.szSavesetID, "77");
  EXPECT_STREQ(sGlobal.sCOM.szRestoreID, "R5");
  EXPECT_STREQ(sms.szHostName, "node2");
  EXPECT_EQ(sms.iPort, 11001);
  EXPECT_STREQ(sms.szUser, COM_SECURE_USER);
}

TEST_F(ComAnswerTest, StorageNodePasswordNeverReachesTheTrace) {
  ASSERT_EQ(Parse("reply=OK\ntape_server=node1:2100:dbuser:s3cr:et\n"), 0) << "five fields";
  ASSERT_EQ(Parse("reply=OK\ntape_server=node1:2100:dbuser:s3cret\n"), 1);
  for (const auto &l : TraceLines()) EXPECT_EQ(l.find("s3cr"), std::string::npos) << l;
  EXPECT_TRUE(TraceHas("[tape_server=node1:2100:dbuser:****]."));
  EXPECT_EQ(com_mask_answer("reply=OK\r\ntape_server=h:1:u:pw\nmedia=x"),
            "reply=OK\r\ntape_server=h:1:u:****\nmedia=x");
}

TEST_F(ComAnswerTest, QueryAnswerListsOneResultPerObject) {
  ASSERT_EQ(Parse("reply=OK\n"
                  "savesetname=4294967301\n"
                  "sessionID=S-ONE\n"
                  "start_tim=2026-03-04 05:06:07\n"
                  "backupsrc=db2inst@/NODE0000/full\n"
                  "savesetname=12@R1\n"
                  "sessionID=" + std::string(40, 'z') + "\n"
                  "start_tim=2026-03-05\n"
                  "backupsrc=no-at-sign\n"),
            1);
  t_LL list = sGlobal.LL_BSA_ObjectDescriptor;
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(SizeLL(list), 2u);
  const BSA_ObjectDescriptor *a = (const BSA_ObjectDescriptor *)FirstElmLL(list);
  const BSA_ObjectDescriptor *b = (const BSA_ObjectDescriptor *)NextElmLL((void *)a);
  EXPECT_EQ(a->copyId.left, 1u);
  EXPECT_EQ(a->copyId.right, 5u);
  EXPECT_STREQ(a->objectName.objectSpaceName, "db2inst");
  EXPECT_STREQ(a->objectName.pathName, "/NODE0000/full");
  EXPECT_EQ(a->copyType, BSA_CopyType_BACKUP);
  EXPECT_EQ(a->objectType, BSA_ObjectType_FILE);
  EXPECT_STREQ(a->rsv2, "S-ONE");
  EXPECT_EQ(a->createTime.tm_year, 126);
  EXPECT_EQ(a->createTime.tm_mon, 2);
  EXPECT_EQ(a->createTime.tm_mday, 4);
  EXPECT_EQ(a->createTime.tm_hour, 5);
  EXPECT_EQ(a->createTime.tm_min, 6);
  EXPECT_EQ(a->createTime.tm_sec, 7);
  // A time of three parts: the missing ones are midnight, not left over
  // from anything before.
  EXPECT_EQ(b->copyId.left, 0u);
  EXPECT_EQ(b->copyId.right, 12u);
  EXPECT_EQ(b->createTime.tm_mday, 5);
  EXPECT_EQ(b->createTime.tm_hour, 0);
  EXPECT_EQ(b->createTime.tm_min, 0);
  EXPECT_EQ(b->createTime.tm_sec, 0);
  EXPECT_TRUE(TraceHas("parse_com_answer: sscanf got only 3 from 6 items"));
  EXPECT_STREQ(b->objectName.objectSpaceName, "");
  EXPECT_STREQ(b->objectName.pathName, "");
  EXPECT_TRUE(TraceHas("parse_com_answer: ERROR: '@' not found in [no-at-sign]!"));
  EXPECT_EQ(std::string(b->rsv2), std::string(30, 'z'));
  EXPECT_STREQ(sGlobal.sCOM.szSrcSpec, "no-at-sign");
}

TEST(ComHostSpecTest, FieldsDefaultsAndBounds) {
  struct Case {
    const char *text;
    BOOL rc;
    const char *host, *port, *user, *pass;
  } cases[] = {
      {"node1", TRUE, "node1", "11001", COM_SECURE_USER, ""},
      {"node1:2100", TRUE, "node1", "2100", COM_SECURE_USER, ""},
      {"node1:2100:dbuser:pw", TRUE, "node1", "2100", "dbuser", "pw"},
      {"node1::dbuser:pw", TRUE, "node1", "11001", "dbuser", "pw"},
      {"node1:2100:sms:", TRUE, "node1", "2100", COM_SECURE_USER, ""},
      {"node1:2100:sms:pw", TRUE, "node1", "2100", "sms", "pw"},
      {"node1:2100:::", FALSE, "", "", "", ""},
      {"node1:2100:sms", TRUE, "node1", "2100", COM_SECURE_USER, ""},
      {"node1:2100:", TRUE, "node1", "2100", COM_SECURE_USER, ""},
      {"node1:2100:dbuser", FALSE, "", "", "", ""},
      {"", FALSE, "", "", "", ""},
      {":2100", FALSE, "", "", "", ""},
      {"node1:2100:u:p:extra", FALSE, "", "", "", ""},
      {"node1:12345678", FALSE, "", "", "", ""},
      {"averyveryverylonghostname:1", FALSE, "", "", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    char host[16] = "x", port[8] = "x", user[32] = "x", pass[16] = "x";
    EXPECT_EQ(ParseCLIHostSpec(c.text, host, sizeof host, port, sizeof port, user, sizeof user, pass, sizeof pass),
              c.rc);
    if (c.rc) {
      EXPECT_STREQ(host, c.host);
      EXPECT_STREQ(port, c.port);
      EXPECT_STREQ(user, c.user);
      EXPECT_STREQ(pass, c.pass);
    }
  }
}

TEST(ComNamesTest, TaskAndStepNames) {
  EXPECT_STREQ(com_task_keyword(COM_OPEN_SESSION), "COM_OPEN_SESSION");
  EXPECT_STREQ(com_task_keyword(COM_REMOVE), "COM_REMOVE");
  EXPECT_STREQ(com_task_keyword((ENUM_COM_TASK)3), "UNKNOWN");
  EXPECT_STREQ(com_step_keyword(COM_STEP_CLOSE_JOB), "COM_STEP_CLOSE_JOB");
  EXPECT_STREQ(com_step_keyword(3), "UNKNOWN");
}

TEST_F(ComAnswerTest, InformixSettingsFromTheProcessEnvironment) {
  const char *names[] = {"KORVA_SERVER", "KORVA_JOB", "KORVA_TAPE_SERVER", "KORVA_DRIVE", "KORVA_POOL",
                         "KORVA_COM_TIMEOUT"};
  for (const char *n : names) unsetenv(n);
  STUCT_COM_INPUT in;
  memset(&in, 0, sizeof in);
  setenv("KORVA_JOB", "job", 1);
  EXPECT_EQ(get_COM_environment(&in), 0) << "server missing";
  EXPECT_TRUE(TraceHas("get_COM_environment: Environment variable: [KORVA_SERVER] not found."));
  setenv("KORVA_SERVER", std::string(128, 's').c_str(), 1);
  EXPECT_EQ(get_COM_environment(&in), 0) << "server too long";
  EXPECT_STREQ(in.szKORVAServer, "");
  setenv("KORVA_SERVER", "srv", 1);
  setenv("KORVA_DRIVE", "12345678", 1);
  setenv("KORVA_COM_TIMEOUT", "600", 1);
  EXPECT_EQ(get_COM_environment(&in), 1);
  EXPECT_STREQ(in.szKORVAServer, "srv");
  EXPECT_STREQ(in.szJobName, "job");
  EXPECT_STREQ(in.szDrive, "") << "too long: not taken";
  EXPECT_STREQ(in.szCOMTimeOut, "600");
  EXPECT_TRUE(TraceHas("get_COM_environment: Environment variable to long."));
  for (const char *n : names) unsetenv(n);
}

}  // namespace
