// XBSA calls without a storage node: calling sequences, handle checks, NULL
// arguments, the session table limit, environment entries and error texts.
#include <errno.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "xbsa/com.h"
#include "xbsa_client.h"
#include "xbsa_peers.h"

using namespace vrktest;

namespace {

class XbsaCallsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetXbsa(3); }
  void TearDown() override { xbsa_reset_library(); }

  // A session on a storage node that refuses every connection.
  long Init(std::vector<std::string> env = {}) {
    if (env.empty()) env = FtpEnv(deadPort_);
    // As the client does before every session: BSATerminate removes it.
    BSASetTrace(CollectTrace, nullptr, 3);
    EnvArray e(env);
    BSA_ObjectOwner o = Owner(kSecureOwner());
    long h = 0;
    EXPECT_EQ(BSAInit(&h, nullptr, &o, e.get()), 0);
    return h;
  }
  int deadPort_ = RangeStart() + 101;  // nothing listens below the ephemeral ports
};

TEST_F(XbsaCallsTest, CallingSequenceTable) {
  BSA_ObjectDescriptor d = Descriptor("obj", ".");
  BSA_QueryDescriptor q = {};
  BSA_DataBlock32 b = {};
  long h = Init();
  EXPECT_EQ(BSAEndTxn(h, BSA_Vote_COMMIT), 5) << "BSAEndTxn without BSABeginTxn";
  EXPECT_EQ(BSABeginTxn(h), 0);
  EXPECT_EQ(BSABeginTxn(h), 5) << "BSABeginTxn twice";
  EXPECT_EQ(BSAQueryObject(h, &q, &d), 0);
  EXPECT_EQ(BSAQueryObject(h, &q, &d), 5) << "BSAQueryObject twice";
  EXPECT_EQ(BSACreateObject(h, &d, &b), 77) << "nothing listens on the node";
  EXPECT_EQ(BSACreateObject(h, &d, &b), 5) << "BSACreateObject twice";
  EXPECT_EQ(BSAGetObject(h, &d, &b), 77);
  EXPECT_EQ(BSAGetObject(h, &d, &b), 5) << "BSAGetObject twice";
  EXPECT_EQ(BSAEndData(h), 3) << "no transfer is open";
  EXPECT_EQ(BSAEndData(h), 3) << "BSAEndData twice (5, returned as 3)";
  EXPECT_EQ(BSAEndTxn(h, BSA_Vote_COMMIT), 0);
  // BSAEndTxn cleared the call record: a new transaction may start.
  EXPECT_EQ(BSABeginTxn(h), 0);
  EXPECT_EQ(BSATerminate(h), 0);
  EXPECT_EQ(BSATerminate(h), 6) << "BSATerminate twice";
}

TEST_F(XbsaCallsTest, EveryCallRefusesHandlesOfNoOpenSession) {
  long h = Init();
  ASSERT_EQ(BSATerminate(h), 0);
  BSA_ObjectDescriptor d = Descriptor("obj", ".");
  BSA_QueryDescriptor q = {};
  char buf[8];
  BSA_DataBlock32 b = {};
  b.bufferLen = sizeof buf;
  b.bufferPtr = buf;
  for (long bad : {0L, -1L, 65L, 1000L, h, 0x7FFFFFFFL + 2}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(BSABeginTxn(bad), 6);
    EXPECT_EQ(BSAEndTxn(bad, BSA_Vote_COMMIT), 6);
    EXPECT_EQ(BSACreateObject(bad, &d, &b), 6);
    EXPECT_EQ(BSAGetObject(bad, &d, &b), 6);
    EXPECT_EQ(BSAQueryObject(bad, &q, &d), 6);
    EXPECT_EQ(BSASendData(bad, &b), 6);
    EXPECT_EQ(BSAGetData(bad, &b), 6);
    EXPECT_EQ(BSAEndData(bad), 3);
    EXPECT_EQ(BSATerminate(bad), 6);
  }
}

TEST_F(XbsaCallsTest, NullArguments) {
  BSA_ObjectOwner o = Owner(kSecureOwner());
  EnvArray e(FtpEnv(deadPort_));
  EXPECT_EQ(BSAInit(nullptr, nullptr, &o, e.get()), 85);
  EXPECT_EQ(giSessionCounter, 0u) << "no session is taken";
  long h = 0;
  EXPECT_EQ(BSAInit(&h, nullptr, nullptr, e.get()), 85);
  EXPECT_EQ(h, 1) << "the session stays issued";
  EXPECT_EQ(BSATerminate(h), 0);
  EXPECT_EQ(BSAQueryApiVersion(nullptr), 85);

  h = Init();
  BSA_ObjectDescriptor d = Descriptor("obj", ".");
  BSA_QueryDescriptor q = {};
  EXPECT_EQ(BSAQueryObject(h, nullptr, &d), 85);
  EXPECT_EQ(BSATerminate(h), 0);
  h = Init();
  EXPECT_EQ(BSAQueryObject(h, &q, nullptr), 85);
  EXPECT_EQ(BSASendData(h, nullptr), 85);
  EXPECT_EQ(BSAGetData(h, nullptr), 85);
  BSA_DataBlock32 b = {};
  b.bufferLen = 10;
  EXPECT_EQ(BSASendData(h, &b), 85) << "buffer NULL";
  EXPECT_EQ(BSAGetData(h, &b), 85) << "buffer NULL";
  EXPECT_EQ(BSACreateObject(h, nullptr, &b), 85);
  EXPECT_EQ(BSAGetObject(h, nullptr, &b), 85);
  BSA_UInt32 size = 10;
  char text[10];
  EXPECT_EQ(BSAGetLastError(&size, nullptr), 85);
  EXPECT_EQ(BSAGetLastError(nullptr, text), 85);
  EXPECT_EQ(BSATerminate(h), 0);
}

TEST_F(XbsaCallsTest, CreateObjectNeedsNameAndCopyType) {
  BSA_DataBlock32 b = {};
  struct Case {
    const char *name;
    BSA_CopyType type;
  } cases[] = {{"", BSA_CopyType_BACKUP}, {"obj", BSA_CopyType_ANY}, {"", BSA_CopyType_ANY}};
  for (const auto &c : cases) {
    long h = Init();
    BSA_ObjectDescriptor d = Descriptor(c.name, ".");
    d.copyType = c.type;
    EXPECT_EQ(BSACreateObject(h, &d, &b), 85);
    BSATerminate(h);
  }
  EXPECT_TRUE(TraceHas("BSACreateObject: ObjectName.objectSpaceName is empty"));
  EXPECT_TRUE(TraceHas("BSACreateObject: copyType == BSA_CopyType_ANY"));
}

TEST_F(XbsaCallsTest, AtMost64SessionsAndHandlesStayUnique) {
  std::vector<long> handles;
  for (int i = 0; i < 64; i++) handles.push_back(Init());
  for (int i = 0; i < 64; i++) EXPECT_EQ(handles[i], i + 1);
  BSA_ObjectOwner o = Owner(kSecureOwner());
  EnvArray e(FtpEnv(deadPort_));
  long h65 = 0;
  EXPECT_EQ(BSAInit(&h65, nullptr, &o, e.get()), 6);
  EXPECT_EQ(giSessionCounter, 64u);
  // After one BSATerminate a new BSAInit succeeds with the next number.
  EXPECT_EQ(BSATerminate(handles[4]), 0);
  long h = 0;
  EXPECT_EQ(BSAInit(&h, nullptr, &o, e.get()), 0);
  EXPECT_EQ(h, 65);
  EXPECT_EQ(BSABeginTxn(h), 0);
  EXPECT_EQ(BSABeginTxn(handles[4]), 6) << "the terminated handle stays invalid";
  EXPECT_EQ(BSABeginTxn(handles[5]), 0) << "a neighbour is untouched";
  EXPECT_EQ(BSATerminate(h), 0);
  for (long x : handles) BSATerminate(x);
  EXPECT_EQ(giSessionCounter, 0u);
  // Many sessions in one process: numbers keep rising, each is its own.
  long a = Init(), b2 = Init();
  EXPECT_GT(b2, a);
  EXPECT_GT(a, 65);
  EXPECT_EQ(BSABeginTxn(a), 0);
  EXPECT_EQ(BSABeginTxn(b2), 0);
  EXPECT_EQ(BSABeginTxn(a), 5);
  EXPECT_EQ(BSATerminate(a), 0);
  EXPECT_EQ(BSABeginTxn(a), 6);
  EXPECT_EQ(BSAEndTxn(b2, BSA_Vote_COMMIT), 0);
  EXPECT_EQ(BSATerminate(b2), 0);
}

TEST_F(XbsaCallsTest, EnvironmentEntries) {
  struct Case {
    std::vector<std::string> env;
    int rc;
    unsigned long timeout;
    int portStart, portEnd;
  } cases[] = {
      {{"BSA_SERVICE_HOST=node:11001", "BSA_TIMEOUT=7", "BSA_LOCAL_PORTRANGE=40000-40010"}, 0, 7, 40000, 40010},
      // Keys match only as "NAME=".
      {{"BSA_SERVICE_HOST=node:11001", "BSA_TIMEOUTX=5", "BSA_LOCAL_PORTRANGEX=1-2"}, 0, 0, 0, 0},
      {{"BSA_SERVICE_HOST=node:11001", "BSA_LOCAL_PORTRANGE=41000"}, 0, 0, 41000, 0},
      {{"BSA_SERVICE_HOST=node:11001", "BSA_LOCAL_PORTRANGE=-41010"}, 0, 0, 0, 41010},
      // A version other than 1 stops the walk: the time-out behind it is not read.
      {{"BSA_SERVICE_HOST=node:11001", "BSA_API_VERSION=2.0", "BSA_TIMEOUT=9"}, 75, 0, 0, 0},
      {{"BSA_API_VERSION=1.1.1", "BSA_TIMEOUT=9"}, 0, 9, 0, 0},
      {{"BSA_SERVICE_HOST="}, 80, 0, 0, 0},
      // Numbers are read as atoi reads them.
      {{"BSA_LOCAL_PORTRANGE=abc-1"}, 0, 0, 0, 1},
      {{"BSA_LOCAL_PORTRANGE=40000x-40010y"}, 0, 0, 40000, 40010},
      {{"BSA_TIMEOUT=30s"}, 0, 30, 0, 0},
      {{"BSA_TIMEOUT=ten"}, 0, 0, 0, 0},
      // A time-out of 0 or less leaves the transport's own wait.
      {{"BSA_TIMEOUT=-1"}, 0, 0, 0, 0},
      // The client connects to the node's port and binds the local ones: a
      // number that names no port is refused.
      {{"BSA_SERVICE_HOST=node:port"}, 80, 0, 0, 0},
      {{"BSA_SERVICE_HOST=node:70000"}, 80, 0, 0, 0},
      {{"BSA_LOCAL_PORTRANGE=1-70000"}, 80, 0, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.env.back());
    ResetXbsa(3);
    EnvArray e(c.env);
    BSA_ObjectOwner o = Owner(kSecureOwner());
    long h = 0;
    EXPECT_EQ(BSAInit(&h, nullptr, &o, e.get()), c.rc);
    EXPECT_EQ(sGlobal.ulTimeOut, c.timeout);
    _sSession *sp = xbsa_find_slot(h);
    ASSERT_NE(sp, nullptr);
    EXPECT_EQ(sp->iPortStart, c.portStart);
    EXPECT_EQ(sp->iPortEnd, c.portEnd);
    if (c.rc != 0) {
      EXPECT_NE(LastError(), "");
    }
    BSATerminate(h);
  }
}

TEST_F(XbsaCallsTest, ServiceHostThroughInit) {
  struct Case {
    const char *value;
    eConnectionProtocol protocol;
    const char *host;
    int port;
  } cases[] = {
      {"ftp://node", eFTP, "node", 21},
      {"ftp://node:2121/dir", eFTP, "node", 2121},
      {"node:11001", eFTP, "node", 11001},
      {"node:11001x", eFTP, "node", 11001},
      {"node:2121:extra", eFTP, "node", 2121},
      {"node", eFTP, "node", 21},
      {"HTTPS://node:8443/xbsa", eHTTP, "HTTPS://node:8443/xbsa", 0},
      {"http://node/xbsa", eHTTP, "http://node/xbsa", 0},
      {"gopher://node:70", eFTP, "node", 70},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.value);
    ResetXbsa(3);
    EnvArray e({std::string("BSA_SERVICE_HOST=") + c.value});
    BSA_ObjectOwner o = Owner(kSecureOwner());
    long h = 0;
    ASSERT_EQ(BSAInit(&h, nullptr, &o, e.get()), 0);
    EXPECT_EQ(xbsa_find_slot(h)->eProtocol, c.protocol);
    EXPECT_STREQ(sGlobal.sObject.sSMS.szHostName, c.host);
    if (c.protocol == eFTP) {
      EXPECT_EQ(sGlobal.sObject.sSMS.iPort, c.port);
    }
    BSATerminate(h);
  }
}

TEST_F(XbsaCallsTest, HttpSessionOpenFailsWhenTheStorageNodeRefuses) {
  long h = Init({"BSA_SERVICE_HOST=http://127.0.0.1:1/xbsa"});
  BSA_ObjectDescriptor d = Descriptor("obj", ".");
  BSA_DataBlock32 b = {};
  EXPECT_EQ(BSACreateObject(h, &d, &b), 77);
  EXPECT_NE(LastError().find("xbsa_open: Connection error: "), std::string::npos);
  EXPECT_EQ(BSATerminate(h), 0);
}

TEST_F(XbsaCallsTest, DatabaseOwnersFailWhileCommandInterfaceIsMissing) {
  std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", "/nonexistent", 1);
  com_set_ini_file("/nonexistent/korva2000.ini");
  for (const char *owner : {"INFORMIX", "DB2", "CBMR"}) {
    ResetXbsa(3);
    com_reset_state();
    EnvArray e({"KORVA_SERVER=backupserver", "KORVA_JOB=job1"});
    BSA_ObjectOwner o = Owner(owner);
    long h = 0;
    EXPECT_EQ(BSAInit(&h, nullptr, &o, e.get()), 4) << owner;
    EXPECT_TRUE(TraceHas("ERROR: COM_OPEN_SESSION failed"));
    EXPECT_NE(LastError().find("vrk_com_interface could not be started"), std::string::npos);
  }
  setenv("PATH", savedPath.c_str(), 1);
  com_set_ini_file(nullptr);
  com_reset_state();
  EXPECT_STREQ(sGlobal.sCOM.szKORVAServer, "backupserver");
  EXPECT_STREQ(sGlobal.sCOM.szJobName, "job1");
  EXPECT_STREQ(sGlobal.sCOM.szInitiator, "BSR_Windows");
}

TEST_F(XbsaCallsTest, CommandInterfaceSettingsFromTheArray) {
  ResetXbsa(3);
  std::string longDrive = "KORVA_DRIVE=" + std::string(20, 'd');
  EnvArray e({"KORVA_SERVERX=no", "KORVA_SERVER=srv", "KORVA_TAPE_SERVER=tape", "KORVA_POOL=pool",
              longDrive, "KORVA_JOB=j"});
  getComParams(e.get());
  EXPECT_STREQ(sGlobal.sCOM.szKORVAServer, "srv");
  EXPECT_STREQ(sGlobal.sCOM.szKORVATapeServer, "tape");
  EXPECT_STREQ(sGlobal.sCOM.szPool, "pool");
  EXPECT_STREQ(sGlobal.sCOM.szJobName, "j");
  EXPECT_STREQ(sGlobal.sCOM.szDrive, "") << "an over-long value is not cut, it is refused";
}

TEST_F(XbsaCallsTest, OwnerText) {
  struct Case {
    std::string owner;
    int rc;
    const char *user, *pass;
  } cases[] = {
      {"USER=alice:PASS=secret", 0, "alice", "secret"},
      {"USER=alice:PASS=sec:ret", 0, "alice", "sec"},
      {"USER=:PASS=", 0, "", ""},
      {"USER=alice", -1, "", ""},
      {"USER:PASS=x", -1, "", ""},
      {"USER=alice:PASS", -1, "", ""},
      {"", -1, "", ""},
      {std::string(64, 'U'), -1, "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.owner);
    ResetXbsa(3);
    BSA_ObjectOwner o;
    memset(&o, 'Z', sizeof o);  // no terminator anywhere
    memcpy(o.bsa_ObjectOwner, c.owner.data(), std::min(c.owner.size(), sizeof o.bsa_ObjectOwner));
    if (c.owner.size() < sizeof o.bsa_ObjectOwner) o.bsa_ObjectOwner[c.owner.size()] = '\0';
    EXPECT_EQ(xbsa_split_owner(o.bsa_ObjectOwner, sizeof o.bsa_ObjectOwner, "test"), c.rc);
    if (c.rc == 0) {
      EXPECT_STREQ(sGlobal.sObject.sSMS.szUser, c.user);
      EXPECT_STREQ(sGlobal.sObject.sSMS.szPass, c.pass);
    }
  }
}

TEST_F(XbsaCallsTest, BadOwnerTextFailsTheOpenBeforeConnecting) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  OpenResult r = OpenObject(true, FtpEnv(peer.port()), "obj", ".", "alice");
  EXPECT_EQ(r.init, 0);
  EXPECT_EQ(r.open, 77);
  EXPECT_NE(LastError().find("USER=<user>:PASS=<password>"), std::string::npos);
  BSATerminate(r.handle);
  EXPECT_EQ(peer.commands(), "");
}

TEST_F(XbsaCallsTest, LastErrorSizeBoundary) {
  xbsa_set_last_message("");
  SysErrorTxt(0, 0, "twelve chars");
  std::string expected = "twelve chars (0) ";
  char buf[64];
  BSA_UInt32 size = (BSA_UInt32)expected.size();
  EXPECT_EQ(BSAGetLastError(&size, buf), 78);
  EXPECT_EQ(size, expected.size()) << "nothing copied";
  size = (BSA_UInt32)expected.size() + 1;
  EXPECT_EQ(BSAGetLastError(&size, buf), 0);
  EXPECT_EQ(std::string(buf), expected);
  EXPECT_EQ(size, expected.size());
  size = sizeof buf;
  EXPECT_EQ(BSAGetLastError(&size, buf), 0);
  EXPECT_EQ(std::string(buf), "") << "fetched and cleared";
  EXPECT_EQ(size, 0u);
}

TEST_F(XbsaCallsTest, ErrorTextBuilder) {
  xbsa_set_last_message("");
  std::string t = SysErrorTxt(ECONNREFUSED, 3, "connect() failed.");
  EXPECT_EQ(t, std::string("connect() failed. (111) ") + strerror(ECONNREFUSED));
  // The first unfetched text stays the last error.
  SysErrorTxt(0, 0, "second");
  EXPECT_EQ(LastError(), t);
  EXPECT_EQ(std::string(SysErrorTxt(113, 3, "x")),
            "x (113) No route to host. No valid routing table entry matches the destination address, host is "
            "down or blocked by its firewall.");
  EXPECT_EQ(std::string(SysErrorTxt(10061, 1, "x")), "x (10061) Connection refused.");
  EXPECT_EQ(std::string(SysErrorTxt(10067, 1, "x")), "x (10067) ");
  EXPECT_EQ(std::string(SysErrorTxt(4711, 1, "x")), "x (4711) ");
  EXPECT_EQ(std::string(SysErrorTxt(ECONNREFUSED, 0, "x")), "x (111) ");
  // Over-long texts are cut to the buffer.
  std::string big(3000, 'b');
  EXPECT_EQ(strlen(SysErrorTxt(0, 0, "%s", big.c_str())), 1535u);
  LastError();
}

TEST_F(XbsaCallsTest, ReturnCodeTexts) {
  EXPECT_STREQ(xbsa_typeerr(0), "The function succeeded.");
  EXPECT_STREQ(xbsa_typeerr(75),
               "The Backup Service implementation does not support the specified version of the interface");
  EXPECT_STREQ(xbsa_typeerr(32), "The transaction was aborted.");
  EXPECT_STREQ(xbsa_typeerr(-1), "BSA: unknown error code");
  EXPECT_STREQ(xbsa_typeerr(1), "BSA: unknown error code");
}

TEST_F(XbsaCallsTest, ApiVersionAndQuery) {
  BSA_ApiVersion v = {};
  EXPECT_EQ(BSAQueryApiVersion(&v), 0);
  EXPECT_EQ(v.issue, 1);
  EXPECT_EQ(v.version, 1);
  EXPECT_EQ(v.level, 1);
  EXPECT_TRUE(TraceHas("BSAQueryApiVersion: ZEM XBSA Version 4.2A1  "));
  long h = Init();
  BSA_ObjectDescriptor d = Descriptor("mine", "dir");
  BSA_QueryDescriptor q = {};
  EXPECT_EQ(BSAQueryObject(h, &q, &d), 0);
  EXPECT_STREQ(d.objectName.objectSpaceName, "mine") << "the caller's descriptor stays";
  BSATerminate(h);
}

TEST_F(XbsaCallsTest, TerminateClearsTheGlobalRecordToZeros) {
  long h = Init({"BSA_SERVICE_HOST=node:11001", "BSA_TIMEOUT=5"});
  EXPECT_EQ(sGlobal.iReadTraceEnvironment, 0);
  EXPECT_EQ(BSATerminate(h), 0);
  EXPECT_EQ(sGlobal.ulTimeOut, 0u);
  EXPECT_EQ(sGlobal.vpExternalTraceFunc, nullptr);
  EXPECT_EQ(sGlobal.sObject.sBSA_Object.copyType, 0) << "presets are not restored";
  EXPECT_STREQ(sGlobal.sObject.sSMS.szHostName, "");
}

TEST_F(XbsaCallsTest, StorageNodeReplySettings) {
  sms_parseinfo("150 Opening TAPE 17:SEGMENT:3 now");
  EXPECT_EQ(sGlobal.sObject.sSMS.ulTapeID, 17u);
  EXPECT_EQ(sGlobal.sObject.sSMS.ulSegmentNum, 3u);
  sms_parseinfo("150 Ok to send data.");
  EXPECT_EQ(sGlobal.sObject.sSMS.ulTapeID, 0u);
  EXPECT_EQ(sGlobal.sObject.sSMS.ulSegmentNum, 0u);
  sms_parseinfo("150 TAPE");
  EXPECT_EQ(sGlobal.sObject.sSMS.ulTapeID, 0u);
}

TEST_F(XbsaCallsTest, DescriptorValueNames) {
  EXPECT_STREQ(sib_bsacopytype(BSA_CopyType_BACKUP), "BACKUP");
  EXPECT_STREQ(sib_bsaobjecttype(BSA_ObjectType_OTHER), "OTHER");
  EXPECT_STREQ(sib_bsaobjectstatus(BSA_ObjectStatus_NOT_MOST_RECENT), "NOT_MOST_RECENT");
  EXPECT_EQ(sib_bsacopytype((BSA_CopyType)0), nullptr);
  EXPECT_EQ(sib_bsaobjecttype((BSA_ObjectType)5), nullptr);
}

}  // namespace

namespace {

TEST(XbsaDatabaseOwnerTest, QueryAndEndFailCleanlyWithoutCommandInterface) {
  ResetXbsa(3);
  EnvArray e({"BSA_SERVICE_HOST=127.0.0.1:1"});
  BSA_ObjectOwner o = Owner("DB2");
  long h = 0;
  ASSERT_EQ(BSAInit(&h, nullptr, &o, e.get()), 4);
  BSA_QueryDescriptor q = {};
  strcpy(q.objectName.objectSpaceName, "db");
  strcpy(q.objectName.pathName, "path");
  BSA_ObjectDescriptor d = Descriptor("db", "path");
  EXPECT_EQ(BSAQueryObject(h, &q, &d), 77);
  EXPECT_EQ(BSAQueryObject(h, &q, &d), 77) << "database owners may query again";
  EXPECT_TRUE(TraceHas("BSAQueryObject: Subsequent call."));
  EXPECT_STREQ(sGlobal.sCOM.szSrcSpec, "db@path");
  BSA_DataBlock32 b = {};
  EXPECT_EQ(BSACreateObject(h, &d, &b), 3) << "COM_OPEN_WRITE fails";
  EXPECT_EQ(sGlobal.sObject.sSMS.iOpStatus, 3);
  EXPECT_EQ(BSAGetObject(h, &d, &b), 77) << "COM_OPEN_READ fails";
  EXPECT_EQ(BSAEndData(h), 3);
  // The last database-owner session restarts the numbering.
  EXPECT_EQ(BSATerminate(h), 0);
  EXPECT_EQ(glSessionIndex, 1);
  EXPECT_EQ(sGlobal.LL_BSA_ObjectDescriptor, nullptr);
  xbsa_reset_library();
}

}  // namespace

namespace {

TEST(XbsaCommandListTest, CommandFormsByOwnerAndMode) {
  struct Case {
    int owner, mode, tcpBuf;
    const char *data;
  } cases[] = {
      {0, 1, 0, "STOR saveset1"},
      {0, 2, 0, "RETR saveset1"},
      {2, 1, 512, "STOR saveset1:DB2:none:17:TAPE01:64"},
      {3, 1, 131072, "STOR saveset1:BSR:none:17:TAPE01:128"},
      {1, 1, -5, "STOR saveset1:SIB:none:17:TAPE01:64"},
      {7, 1, 2048, "STOR saveset1:unknown:none:17:TAPE01:2"},
      {2, 2, 0, "RETR saveset1:0:0:17:3:none"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.data);
    xbsa_reset_library();
    _sSMS &sms = sGlobal.sObject.sSMS;
    strcpy(sms.szUser, "u");
    strcpy(sms.szPass, "p");
    strcpy(sms.szPath, "/dir");
    strcpy(sms.szName, "saveset1");
    strcpy(sms.szTape, "TAPE01");
    sms.ulTapeID = 17;
    sms.ulSegmentNum = 3;
    sms.iTCPBufsiz = c.tcpBuf;
    sGlobal.iComSession = c.owner;
    std::vector<std::vector<char>> store(16, std::vector<char>(2048));
    char *cmds[16];
    for (int i = 0; i < 16; i++) cmds[i] = store[i].data();
    ASSERT_EQ(xbsa_prepare_commands(cmds, c.mode), 0);
    EXPECT_STREQ(cmds[0], "USER u");
    EXPECT_STREQ(cmds[1], "PASS p");
    EXPECT_STREQ(cmds[2], "TYPE I");
    EXPECT_STREQ(cmds[3], "CWD /dir");
    EXPECT_STREQ(cmds[4], c.data);
    EXPECT_STREQ(cmds[5], "QUIT");
    EXPECT_STREQ(cmds[6], "");
  }
  // A name that would not fit its command line is refused, not cut.
  xbsa_reset_library();
  memset(sGlobal.sObject.sSMS.szName, 'n', 2047);
  std::vector<std::vector<char>> store(16, std::vector<char>(2048));
  char *cmds[16];
  for (int i = 0; i < 16; i++) cmds[i] = store[i].data();
  EXPECT_EQ(xbsa_prepare_commands(cmds, 1), -1);
  xbsa_reset_library();
}

}  // namespace
