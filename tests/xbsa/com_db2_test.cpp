// A "DB2" owner's backup and restore through the XBSA calls: the stand-in
// command-interface program names the storage node, the FTP-like test peer.
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "com_standin.h"
#include "xbsa/com.h"
#include "xbsa_client.h"
#include "xbsa_peers.h"

using namespace vrktest;

namespace {

class ComDb2Test : public ::testing::Test {
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
  std::vector<std::string> Env() {
    return {"KORVA_SERVER=backupsrv", "KORVA_JOB=job1", "KORVA_POOL=pool1", "BSA_LOCAL_PORTRANGE=0-0"};
  }
  std::string Node(int port) { return "tape_server=127.0.0.1:" + std::to_string(port) + ":dbuser:dbpass\n"; }
  long Init() {
    EnvArray e(Env());
    BSA_ObjectOwner o = Owner("DB2");
    long h = 0;
    EXPECT_EQ(BSAInit(&h, nullptr, &o, e.get()), 0) << LastError();
    EXPECT_EQ(BSABeginTxn(h), 0);
    return h;
  }
  ComStandIn standin_;
};

TEST_F(ComDb2Test, BackupAndRestoreThroughTheCommandInterface) {
  FtpPeer peer("{\"long_forms\": true}");
  ASSERT_GT(peer.port(), 0) << peer.output();
  standin_.Answer("open_session", "reply=OK\nsessionID=S100\n");
  standin_.Answer("open_write", "reply=OK\nsavesetname=777\n" + Node(peer.port()) +
                                    "drive=.\ntape=TAPE01:17:131072\nmedia=LTO\n");
  standin_.Answer("close_write", "reply=OK\n");
  standin_.Answer("info",
                  "reply=OK\n"
                  "savesetname=777\nsessionID=S100\nstart_tim=2026-12-01 22:15:00\nbackupsrc=db2inst@/NODE0000/full\n"
                  "savesetname=778\nsessionID=S101\nbackupsrc=db2inst@/NODE0000/full\n");
  standin_.Answer("open_read", "reply=OK\n" + Node(peer.port()) + "drive=.\ntape=TAPE01:17\nsegment=3\n"
                                   "savesetname=777@R9\n");
  standin_.Answer("close_read", "reply=OK\n");
  const std::string data = TestData(200000, 11);

  // Backup.
  long h = Init();
  BSA_ObjectDescriptor d = Descriptor("db2inst", "\\NODE0000\\full");
  BSA_DataBlock32 b = {};
  ASSERT_EQ(BSACreateObject(h, &d, &b), 0) << LastError();
  EXPECT_EQ(d.copyId.left, 0u);
  EXPECT_EQ(d.copyId.right, 777u);
  EXPECT_EQ(SendAll(h, data), 0);
  EXPECT_EQ(BSAEndData(h), 0) << LastError();
  EXPECT_EQ(BSAEndTxn(h, BSA_Vote_COMMIT), 0);
  EXPECT_EQ(BSATerminate(h), 0);
  EXPECT_EQ(ReadFile(peer.root() + "/777"), data);

  // Restore: one query, its results one by one until no more data.
  h = Init();
  BSA_QueryDescriptor q = {};
  strcpy(q.objectName.objectSpaceName, "db2inst");
  strcpy(q.objectName.pathName, "/NODE0000/full");
  std::vector<BSA_ObjectDescriptor> found;
  int rc = 0;
  for (int i = 0; i < 5 && rc == 0; i++) {
    BSA_ObjectDescriptor r = {};
    rc = BSAQueryObject(h, &q, &r);
    if (rc == 0 || rc == 18) found.push_back(r);
  }
  EXPECT_EQ(rc, 18);
  ASSERT_EQ(found.size(), 2u);
  BSA_ObjectDescriptor extra = {};
  EXPECT_EQ(BSAQueryObject(h, &q, &extra), 18) << "a further call of the same query";
  EXPECT_EQ(found[0].copyId.right, 777u);
  EXPECT_EQ(found[1].copyId.right, 778u);
  EXPECT_STREQ(found[0].rsv2, "S100");
  EXPECT_EQ(found[0].createTime.tm_hour, 22);
  ASSERT_EQ(BSAGetObject(h, &found[0], &b), 0) << LastError();
  std::string back;
  EXPECT_EQ(ReadAll(h, &back, 50000), 18);
  EXPECT_EQ(BSAEndData(h), 0) << LastError();
  EXPECT_EQ(BSAEndTxn(h, BSA_Vote_COMMIT), 0);
  EXPECT_EQ(BSATerminate(h), 0);
  EXPECT_TRUE(back == data) << back.size() << " of " << data.size() << " bytes";

  const std::string job = "[-C][backupsrv][-j][job1]";
  std::vector<std::string> calls = standin_.Calls();
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[0], "[-b][open]" + job + "[-I][DB2_UDB]");
  // The write's saveset id is made of the time and the process id.
  EXPECT_EQ(calls[1].rfind("[-b][openjob:S100]" + job + "[-s][", 0), 0u) << calls[1];
  EXPECT_NE(calls[1].find(std::to_string(getpid()) + "][-I][DB2_UDB][-m][pool1][--][db2inst@/NODE0000/full]"),
            std::string::npos)
      << calls[1];
  EXPECT_EQ(calls[2], "[-b][closejob:S100]" + job + "[-s][777][-I][DB2_UDB][-i][0]");
  EXPECT_EQ(calls[3], "[-b][open]" + job + "[-I][DB2_UDB]");
  EXPECT_EQ(calls[4], "[-q]" + job + "[-s][NULL][-I][DB2_UDB][--][db2inst@/NODE0000/full]");
  EXPECT_EQ(calls[5], "[-r][openjob:S100]" + job + "[-s][777][-I][DB2_UDB][-m][pool1][--][db2inst@/NODE0000/full]");
  EXPECT_EQ(calls[6], "[-r][closejob:S100]" + job + "[-s][777@R9][-I][DB2_UDB][-i][0]");

  std::string cmds = peer.commands();
  EXPECT_NE(cmds.find("USER dbuser\nPASS dbpass\nTYPE I\nCWD .\nPORT 127,0,0,1,"), std::string::npos) << cmds;
  EXPECT_NE(cmds.find("STOR 777:DB2:none:17:TAPE01:128\n"), std::string::npos) << cmds;
  EXPECT_NE(cmds.find("RETR 777:0:0:17:3:none\n"), std::string::npos) << cmds;
  EXPECT_FALSE(TraceHas("dbpass"));
}

TEST_F(ComDb2Test, RefusedStoreClosesTheJobAsFailed) {
  FtpPeer peer("{\"long_forms\": true, \"replies\": {\"STOR\": [\"552 storage full\"]}}");
  ASSERT_GT(peer.port(), 0) << peer.output();
  standin_.Answer("open_session", "reply=OK\nsessionID=S7\n");
  standin_.Answer("open_write", "reply=OK\nsavesetname=900\n" + Node(peer.port()) + "drive=.\ntape=T:1\n");
  standin_.Answer("close_write", "reply=OK\n");
  standin_.Answer("close_session", "reply=OK\n");
  long h = Init();
  BSA_ObjectDescriptor d = Descriptor("db2inst", "/p");
  BSA_DataBlock32 b = {};
  EXPECT_EQ(BSACreateObject(h, &d, &b), 77);
  EXPECT_EQ(sGlobal.sObject.sSMS.iOpStatus, 3);
  std::vector<std::string> calls = standin_.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2], "[-b][closejob:S7][-C][backupsrv][-j][job1][-s][900][-I][DB2_UDB][-i][3]");
  EXPECT_EQ(calls[3], "[-b][close:S7][-C][backupsrv][-I][DB2_UDB][-i][3]");
  BSATerminate(h);
}

TEST_F(ComDb2Test, RefusedSessionOrQueryGivesTheirCodes) {
  standin_.Answer("open_session", "reply=ERROR\nmessage=unknown job\n");
  EnvArray e(Env());
  BSA_ObjectOwner o = Owner("DB2");
  long h = 0;
  EXPECT_EQ(BSAInit(&h, nullptr, &o, e.get()), 4);
  EXPECT_TRUE(TraceHas("parse_com_answer: ERROR MESSAGE: [unknown job]"));
  BSATerminate(h);

  ResetXbsa(3);
  standin_.Answer("open_session", "reply=OK\nsessionID=S1\n");
  standin_.Answer("info", "reply=OK\n");
  h = Init();
  BSA_QueryDescriptor q = {};
  strcpy(q.objectName.objectSpaceName, "db2inst");
  BSA_ObjectDescriptor r = {};
  EXPECT_EQ(BSAQueryObject(h, &q, &r), 17) << "no object";
  standin_.Answer("info", "reply=ERROR\n");
  strcpy(q.objectName.pathName, "/other");
  EXPECT_EQ(BSAQueryObject(h, &q, &r), 77) << "a new query asks again";
  BSATerminate(h);
}

}  // namespace
