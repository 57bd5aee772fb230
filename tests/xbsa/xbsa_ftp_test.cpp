// The FTP-like transport against the scripted storage node: storing and
// reading back objects, the secure login, and every fault road of a peer.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include <gtest/gtest.h>

#include "xbsa_client.h"
#include "xbsa_peers.h"

using namespace vrktest;

namespace {

class XbsaFtpTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetXbsa(3); }
  void TearDown() override { xbsa_reset_library(); }
};

std::string LoginName() {
  struct passwd *pw = getpwuid(getuid());
  return pw ? pw->pw_name : "";
}

// Stores data as name in the peer's root, returns the codes of the road.
struct StoreCodes {
  OpenResult open;
  int send = -1, end = -1, endTxn = -1, term = -1;
};

StoreCodes Store(const std::vector<std::string> &env, const std::string &name, const std::string &data,
                 const std::string &path = ".") {
  StoreCodes c;
  c.open = OpenObject(true, env, name, path);
  if (c.open.init != 0) return c;
  if (c.open.open == 0) c.send = SendAll(c.open.handle, data);
  c.end = BSAEndData(c.open.handle);
  c.endTxn = BSAEndTxn(c.open.handle, BSA_Vote_COMMIT);
  c.term = BSATerminate(c.open.handle);
  return c;
}

TEST_F(XbsaFtpTest, StoresAndReadsBackByteForByte) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0) << peer.output();
  const std::string data = TestData(300000);
  for (const std::string range : {"0-0", "0"}) {
    SCOPED_TRACE(range);
    ResetXbsa(3);
    StoreCodes c = Store(FtpEnv(peer.port(), range), "obj" + range, data);
    EXPECT_EQ(c.open.init, 0);
    EXPECT_EQ(c.open.open, 0) << LastError();
    EXPECT_EQ(c.send, 0);
    EXPECT_EQ(c.end, 0) << LastError();
    EXPECT_EQ(c.term, 0);
    EXPECT_EQ(ReadFile(peer.root() + "/obj" + range), data);

    ResetXbsa(3);
    OpenResult r = OpenObject(false, FtpEnv(peer.port(), range), "obj" + range, ".");
    ASSERT_EQ(r.open, 0) << LastError();
    std::string back;
    EXPECT_EQ(ReadAll(r.handle, &back, 40000), 18);
    EXPECT_EQ(BSAEndData(r.handle), 0) << LastError();
    EXPECT_EQ(BSATerminate(r.handle), 0);
    EXPECT_TRUE(back == data) << "read back " << back.size() << " bytes of " << data.size();
  }
  // The secure login: fixed user word and "<login>@<host>" as password.
  std::string cmds = peer.commands();
  EXPECT_NE(cmds.find("USER ftp\n"), std::string::npos) << cmds;
  EXPECT_NE(cmds.find("PASS " + LoginName() + "@localhost\n"), std::string::npos) << cmds;
  EXPECT_NE(cmds.find("TYPE I\nCWD .\nPORT 127,0,0,1,"), std::string::npos) << cmds;
  EXPECT_NE(cmds.find("STOR obj0-0\n"), std::string::npos);
  EXPECT_NE(cmds.find("RETR obj0-0\n"), std::string::npos);
  // The password is never traced.
  EXPECT_FALSE(TraceHas("PASS " + LoginName()));
  EXPECT_TRUE(TraceHas("xbsa_open: Send command: PASS ********"));
}

TEST_F(XbsaFtpTest, FixedLocalPortRangeBindsControlAndListenerInside) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  int start = RangeStart();
  std::string range = std::to_string(start) + "-" + std::to_string(start + 20);
  StoreCodes c = Store(FtpEnv(peer.port(), range), "ranged", "payload");
  ASSERT_EQ(c.open.open, 0) << LastError();
  EXPECT_EQ(c.end, 0);
  EXPECT_EQ(ReadFile(peer.root() + "/ranged"), "payload");
  // The listener was announced on a port one above a control port of the range.
  std::string cmds = peer.commands();
  size_t p = cmds.find("PORT 127,0,0,1,");
  ASSERT_NE(p, std::string::npos);
  int hi = 0, lo = 0;
  ASSERT_EQ(sscanf(cmds.c_str() + p, "PORT 127,0,0,1,%d,%d", &hi, &lo), 2);
  int port = hi * 256 + lo;
  EXPECT_GE(port, start + 1);
  EXPECT_LE(port, start + 21);
  EXPECT_EQ((port - start) % 2, 1);
}

// The first control port of the range is busy: the bind moves on and
// succeeds, so the refused STOR behind it is the reason of the failure.
TEST_F(XbsaFtpTest, AFailureAfterABusyFirstPortReportsItsOwnReason) {
  FtpPeer peer(R"({"replies": {"STOR": ["553 Could not create file."]}})");
  ASSERT_GT(peer.port(), 0);
  int start = 0, held = -1;
  for (int attempt = 0; attempt < 20 && held < 0; attempt++) {
    start = RangeStart();
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)start);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, (struct sockaddr *)&sa, sizeof sa) == 0) held = s;
    else close(s);
  }
  ASSERT_GE(held, 0) << "no free port found";
  std::string range = std::to_string(start) + "-" + std::to_string(start + 20);
  StoreCodes c = Store(FtpEnv(peer.port(), range), "obj", "x");
  close(held);
  EXPECT_EQ(c.open.open, 77);
  EXPECT_TRUE(TraceHas("BindSocket2Range: New PortStart = [" + std::to_string(start + 2) + "]"));
  std::string err = LastError();
  EXPECT_NE(err.find("STOR failed. NEGATIVE reply: 553"), std::string::npos) << err;
  EXPECT_EQ(err.find("Address already in use"), std::string::npos) << err;
}

TEST_F(XbsaFtpTest, WorksWhenControlSocketIsDescriptorZero) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  int saved = dup(0);
  close(0);
  StoreCodes c = Store(FtpEnv(peer.port()), "fd0", "zero is a socket");
  dup2(saved, 0);
  close(saved);
  EXPECT_EQ(c.open.open, 0) << LastError();
  EXPECT_EQ(c.send, 0);
  EXPECT_EQ(c.end, 0) << LastError();
  EXPECT_EQ(ReadFile(peer.root() + "/fd0"), "zero is a socket");
  EXPECT_NE(peer.commands().find("QUIT"), std::string::npos);
}

TEST_F(XbsaFtpTest, MissingDirectoryQuitsInsteadOfStoring) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  OpenResult r = OpenObject(true, FtpEnv(peer.port()), "obj", "no/such/dir");
  EXPECT_EQ(r.open, 77);
  EXPECT_EQ(BSAEndData(r.handle), 3);
  EXPECT_EQ(BSATerminate(r.handle), 0);
  std::string cmds = peer.commands();
  EXPECT_NE(cmds.find("CWD no/such/dir\nQUIT\n"), std::string::npos) << cmds;
  EXPECT_EQ(cmds.find("STOR"), std::string::npos);
  EXPECT_EQ(cmds.find("PORT"), std::string::npos);
  // BSAEndData ends the open control connection with QUIT of its own and
  // reads one line: the node's answer to the first QUIT, after which it
  // closed (so only one QUIT reached it).
  EXPECT_EQ(cmds.find("QUIT"), cmds.rfind("QUIT"));
  EXPECT_TRUE(TraceHas("BSAEndData: Received message: 221 Goodbye. "));
  EXPECT_NE(LastError().find("TRANSIENT or PERMANENT NEGATIVE reply: 550"), std::string::npos);
}

// A refused greeting is the last error as the node sent it.
TEST_F(XbsaFtpTest, RefusedGreetingIsTheLastErrorAsSent) {
  for (const char *greeting : {"421 Too many users", "530 Not allowed"}) {
    SCOPED_TRACE(greeting);
    ResetXbsa(3);
    FtpPeer peer(std::string(R"({"greeting": [")") + greeting + "\"]}");
    ASSERT_GT(peer.port(), 0);
    StoreCodes c = Store(FtpEnv(peer.port()), "obj", "x");
    EXPECT_EQ(c.open.open, 77);
    std::string err = LastError();
    EXPECT_EQ(err.compare(0, strlen(greeting) + 1, std::string(greeting) + " "), 0) << err;
    EXPECT_EQ(err.find("NEGATIVE"), std::string::npos) << err;
    EXPECT_TRUE(TraceHas(std::string("xbsa_open: ") + greeting));
  }
}

struct FaultCase {
  const char *name;
  const char *script;
  std::vector<std::string> extraEnv;
  int openRc;       // BSACreateObject
  int endRc;        // BSAEndData
  const char *error;  // part of the last error text ("" for none)
  const char *mustNotSend;  // command that must not reach the peer ("" for none)
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

class XbsaFtpFaultTest : public XbsaFtpTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(XbsaFtpFaultTest, EndsWithReturnCodeAndText) {
  const FaultCase &fc = GetParam();
  FtpPeer peer(fc.script);
  ASSERT_GT(peer.port(), 0) << peer.output();
  StoreCodes c = Store(FtpEnv(peer.port(), "0-0", fc.extraEnv), "obj", "some bytes");
  EXPECT_EQ(c.open.open, fc.openRc);
  EXPECT_EQ(c.end, fc.endRc);
  EXPECT_EQ(c.term, 0);
  std::string err = LastError();
  if (*fc.error) {
    EXPECT_NE(err.find(fc.error), std::string::npos) << err;
  }
  if (*fc.mustNotSend) {
    EXPECT_EQ(peer.commands().find(fc.mustNotSend), std::string::npos) << peer.commands();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, XbsaFtpFaultTest,
    ::testing::Values(
        FaultCase{"MultiLineGreeting", R"({"greeting": ["220-Welcome", "220-to the node", "220 ready"]})", {}, 0,
                  0, "", ""},
        FaultCase{"NegativeGreeting4xx", R"({"greeting": ["421 Too many users"]})", {}, 77, 3, "421 Too many users",
                  "USER"},
        FaultCase{"NegativeGreeting5xx", R"({"greeting": ["530 Not allowed"]})", {}, 77, 3, "530 Not allowed",
                  "USER"},
        FaultCase{"ClosesBeforeGreeting", R"({"close_before_greeting": true})", {}, 77, 3, "before its greeting",
                  ""},
        FaultCase{"NeverAnswers", R"({"silent": true})", {"BSA_TIMEOUT=1"}, 77, 3, "No reply from the storage node",
                  ""},
        FaultCase{"SlowAnswers", R"({"delay": 0.05})", {}, 0, 0, "", ""},
        FaultCase{"RefusedLogin", R"({"replies": {"PASS": ["530 Login incorrect."], "STOR": ["530 Please login."]}})",
                  {}, 77, 3, "530 Login incorrect.", ""},
        FaultCase{"MultiLineUserReply", R"({"replies": {"USER": ["331-first", "231 not the end", "331 done"]}})", {},
                  0, 0, "", ""},
        FaultCase{"OverLongReplyLine", R"({"long_reply": {"USER": 5000}})", {}, 0, 0, "", ""},
        FaultCase{"PortRefused", R"({"replies": {"PORT": ["500 Illegal PORT command."]}})", {}, 77, 3,
                  "NEGATIVE reply: 500 Illegal PORT", "STOR"},
        FaultCase{"StorRefused", R"({"replies": {"STOR": ["553 Could not create file."]}})", {}, 77, 3,
                  "STOR failed. NEGATIVE reply: 553", ""},
        FaultCase{"NoDataConnection", R"({"no_data_connect": true})", {"BSA_TIMEOUT=1"}, 77, 3,
                  "no data connection within 1 seconds", ""},
        FaultCase{"Final250", R"({"final": ["250 Requested file action okay."]})", {}, 0, 3,
                  "Unexpected FTP code for last message: 250", ""},
        FaultCase{"Final520", R"({"final": ["520 Saveset could not be written."]})", {}, 0, 3,
                  "TRANSIENT or PERMANENT NEGATIVE reply: 520 Saveset could not be written.", ""},
        FaultCase{"MultiLineFinal", R"({"final": ["226-Transfer complete.", "226 Saveset 42 written."]})", {}, 0, 0,
                  "", ""},
        // A reply that never ends holds its wait from its first byte, not
        // from its last line.
        FaultCase{"EndlessContinuationLines", R"({"endless_reply": {"USER": 0.3}})", {"BSA_TIMEOUT=1"}, 77, 3,
                  "No complete reply from the storage node within 1 seconds", "PASS"},
        FaultCase{"FloodOfContinuationLines", R"({"endless_reply": {"TYPE": 0}})", {}, 77, 3,
                  "reply exceeds 65536 bytes or 512 lines", "CWD"},
        FaultCase{"EndlessFinalReply", R"({"endless_reply": {"FINAL": 0}})", {}, 0, 3,
                  "reply exceeds 65536 bytes or 512 lines", ""},
        FaultCase{"OnlyAForeignDataConnection", R"({"foreign_data": "only", "hold": 10})", {"BSA_TIMEOUT=1"}, 77,
                  3, "no data connection within 1 seconds", ""}),
    [](const ::testing::TestParamInfo<FaultCase> &i) { return std::string(i.param.name); });

TEST_F(XbsaFtpTest, OverLongReplyRestIsNotTakenAsNextReply) {
  FtpPeer peer(R"({"long_reply": {"USER": 5000}})");
  ASSERT_GT(peer.port(), 0);
  StoreCodes c = Store(FtpEnv(peer.port()), "obj", "x");
  EXPECT_EQ(c.open.open, 0) << LastError();
  EXPECT_EQ(c.end, 0);
  // Each command was sent after the reply to the one before it.
  EXPECT_NE(peer.commands().find("USER ftp\nPASS "), std::string::npos);
}

TEST_F(XbsaFtpTest, DataConnectionFromAnotherAddressIsClosedAndTheNodesIsTaken) {
  for (bool bWrite : {true, false}) {
    SCOPED_TRACE(bWrite);
    ResetXbsa(3);
    FtpPeer peer(R"({"foreign_data": "first"})");
    ASSERT_GT(peer.port(), 0);
    std::string data = TestData(200000);
    std::string back;
    if (bWrite) {
      StoreCodes c = Store(FtpEnv(peer.port()), "obj", data);
      EXPECT_EQ(c.open.open, 0) << LastError();
      EXPECT_EQ(c.end, 0) << LastError();
      EXPECT_EQ(ReadFile(peer.root() + "/obj"), data);
    } else {
      WriteFile(peer.root() + "/obj", data);
      OpenResult r = OpenObject(false, FtpEnv(peer.port()), "obj", ".");
      ASSERT_EQ(r.open, 0) << LastError();
      EXPECT_EQ(ReadAll(r.handle, &back), 18);
      EXPECT_EQ(BSAEndData(r.handle), 0) << LastError();
      BSATerminate(r.handle);
      EXPECT_TRUE(back == data) << "read " << back.size() << " bytes";
    }
    EXPECT_TRUE(TraceHas(std::string(bWrite ? "stpc_stor" : "stpc_retr") +
                         ": data connection from 127.0.0.2:"));
    EXPECT_TRUE(TraceHas("closed: the storage node is 127.0.0.1"));
    // The foreign side got none of the object.
    std::string cmds = peer.commands();
    EXPECT_TRUE(cmds.find("-- foreign data connection read 0\n") != std::string::npos ||
                cmds.find("-- foreign data connection read -1\n") != std::string::npos)
        << cmds;
  }
}

// A node that stops moving data, or that moves a little just before each
// wait would end, fails the transfer step within one wait (1 second here);
// the peer itself holds the connection for 20 seconds. A node that takes
// a block steadily but too slowly fails it too: every wait of the step ends
// soon, the step as a whole does not.
struct StallCase {
  const char *name;
  bool bWrite;
  const char *script;
  size_t block = 1 << 20;  // the bytes of one send
};

void PrintTo(const StallCase &c, std::ostream *os) { *os << c.name; }

class XbsaFtpStallTest : public XbsaFtpTest, public ::testing::WithParamInterface<StallCase> {};

TEST_P(XbsaFtpStallTest, FailsWithinOneWait) {
  const StallCase &sc = GetParam();
  FtpPeer peer(sc.script);
  ASSERT_GT(peer.port(), 0);
  if (!sc.bWrite) WriteFile(peer.root() + "/obj", TestData(5000));
  OpenResult r = OpenObject(sc.bWrite, FtpEnv(peer.port(), "0-0", {"BSA_TIMEOUT=1"}), "obj", ".");
  ASSERT_EQ(r.open, 0) << LastError();
  auto t0 = std::chrono::steady_clock::now();
  if (sc.bWrite) {
    // Far more than the socket buffers hold: the send must wait and give up.
    EXPECT_EQ(SendAll(r.handle, TestData(std::max<size_t>(32 << 20, sc.block)), sc.block), 3);
    EXPECT_NE(LastError().find("the storage node took no data within 1 seconds"), std::string::npos)
        << LastError();
    EXPECT_FALSE(TraceHas("Resending [1] times"));
  } else {
    std::string back;
    EXPECT_EQ(ReadAll(r.handle, &back, 4096), 3);
    EXPECT_NE(LastError().find("no data from the storage node within 1 seconds"), std::string::npos)
        << LastError();
    EXPECT_FALSE(TraceHas("Reget [1] times"));
  }
  double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // One wait of 1 second, with a wide margin for a loaded machine; the
  // 20 seconds the peer holds on are far beyond it.
  EXPECT_LT(dSeconds, 5.0);
  // The stalled node is not asked for its final reply.
  EXPECT_EQ(BSAEndData(r.handle), 3);
  EXPECT_TRUE(TraceHas("BSAEndData: the data connection stalled, no final reply is awaited."));
  BSATerminate(r.handle);
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, XbsaFtpStallTest,
    ::testing::Values(StallCase{"SilentRead", false, R"({"stall_data_after": 1000, "hold": 20})"},
                      StallCase{"SilentWrite", true, R"({"stall_data_after": 1000, "hold": 20})"},
                      StallCase{"TricklingRead", false,
                                R"({"stall_data_after": 1000, "trickle": 0.4, "hold": 20})"},
                      StallCase{"TricklingWrite", true,
                                R"({"stall_data_after": 1000, "trickle": 0.2, "hold": 20})"},
                      // About 10 MiB a second taken in small steps: one send
                      // of 64 MiB outlasts its wait many times over.
                      StallCase{"SteadySlowWriteOfOneLargeBlock", true,
                                R"({"stall_data_after": 1000, "trickle": 0.05,
                                    "trickle_bytes": 524288, "hold": 20})",
                                64 << 20}),
    [](const ::testing::TestParamInfo<StallCase> &i) { return std::string(i.param.name); });

TEST_F(XbsaFtpTest, StorReplyCarriesTapeAndSegment) {
  FtpPeer peer(R"({"replies": {"STOR": ["150 Ok TAPE:17 SEGMENT 3"]}})");
  ASSERT_GT(peer.port(), 0);
  BSA_ObjectDescriptor d;
  OpenResult r = OpenObject(true, FtpEnv(peer.port()), "1234", ".", kSecureOwner(), &d);
  ASSERT_EQ(r.open, 0) << LastError();
  EXPECT_EQ(sGlobal.sObject.sSMS.ulTapeID, 17u);
  EXPECT_EQ(sGlobal.sObject.sSMS.ulSegmentNum, 3u);
  EXPECT_STREQ(d.objectInfo, "SEGMENT=3");
  EXPECT_EQ(d.copyId.right, 1234u);
  EXPECT_EQ(BSAEndData(r.handle), 0);
  BSATerminate(r.handle);
}

TEST_F(XbsaFtpTest, LineBreaksInNamesAreRefusedBeforeConnecting) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  struct Case {
    std::string name, path, owner;
  } cases[] = {
      {"obj\r\nDELE x", ".", kSecureOwner()},
      {"obj", "dir\nDELE x", kSecureOwner()},
      {"obj", ".", "USER=a\r\nDELE x:PASS=b"},
  };
  for (const auto &cs : cases) {
    ResetXbsa(3);
    OpenResult r = OpenObject(true, FtpEnv(peer.port()), cs.name, cs.path, cs.owner);
    EXPECT_EQ(r.open, 77);
    EXPECT_NE(LastError().find("line break"), std::string::npos);
    EXPECT_EQ(BSAEndData(r.handle), 3);
    BSATerminate(r.handle);
  }
  EXPECT_EQ(peer.commands(), "");
}

TEST_F(XbsaFtpTest, OwnLoginIsSentWhenNotSecure) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  ResetXbsa(3);
  OpenResult r = OpenObject(true, FtpEnv(peer.port()), "o", ".", "USER=sms:PASS=secret");
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(BSAEndData(r.handle), 0);
  BSATerminate(r.handle);
  EXPECT_NE(peer.commands().find("USER sms\nPASS secret\n"), std::string::npos);
  // The password is sent, but for the user "sms" too it is traced masked.
  EXPECT_TRUE(TraceHas("xbsa_open: Send command: PASS ********"));
  EXPECT_FALSE(TraceHas("secret"));
}

TEST_F(XbsaFtpTest, CutDataConnectionOnRead) {
  FtpPeer peer(R"({"cut_after": 1000})");
  ASSERT_GT(peer.port(), 0);
  WriteFile(peer.root() + "/big", TestData(5000));
  OpenResult r = OpenObject(false, FtpEnv(peer.port()), "big", ".");
  ASSERT_EQ(r.open, 0) << LastError();
  std::string back;
  EXPECT_EQ(ReadAll(r.handle, &back, 4096), 18);
  EXPECT_EQ(back, TestData(5000).substr(0, 1000));
  EXPECT_EQ(BSAEndData(r.handle), 3);
  EXPECT_NE(LastError().find("426"), std::string::npos);
  BSATerminate(r.handle);
}

TEST_F(XbsaFtpTest, CutDataConnectionOnWriteFailsWithoutSigpipe) {
  FtpPeer peer(R"({"cut_after": 1})");
  ASSERT_GT(peer.port(), 0);
  OpenResult r = OpenObject(true, FtpEnv(peer.port()), "cut", ".");
  ASSERT_EQ(r.open, 0) << LastError();
  // Far more than the socket buffers hold: the peer's close must show.
  EXPECT_EQ(SendAll(r.handle, TestData(32 << 20), 1 << 20), 3);
  EXPECT_NE(LastError().find("Data sending failed."), std::string::npos);
  EXPECT_EQ(BSAEndData(r.handle), 3);
  BSATerminate(r.handle);
}

TEST_F(XbsaFtpTest, ReadPastTheEndGivesNoMoreDataTwiceThenError) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  WriteFile(peer.root() + "/small", "abc");
  OpenResult r = OpenObject(false, FtpEnv(peer.port()), "small", ".");
  ASSERT_EQ(r.open, 0);
  char buf[16];
  BSA_DataBlock32 b = {};
  b.bufferLen = sizeof buf;
  b.bufferPtr = buf;
  EXPECT_EQ(BSAGetData(r.handle, &b), 18);
  EXPECT_EQ(b.numBytes, 3u);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_EQ(BSAGetData(r.handle, &b), 18);
  EXPECT_EQ(b.numBytes, 0u);
  EXPECT_EQ(BSAGetData(r.handle, &b), 3);
  // A zero-length request is answered at once.
  b.bufferLen = 0;
  b.numBytes = 99;
  EXPECT_EQ(BSAGetData(r.handle, &b), 0);
  EXPECT_EQ(b.numBytes, 99u);
  EXPECT_EQ(BSAEndData(r.handle), 0);
  BSATerminate(r.handle);

  // The next restore in the same process starts from a fresh end count.
  BSASetTrace(CollectTrace, nullptr, 3);
  OpenResult again = OpenObject(false, FtpEnv(peer.port()), "small", ".");
  ASSERT_EQ(again.open, 0);
  b.bufferLen = sizeof buf;
  EXPECT_EQ(BSAGetData(again.handle, &b), 18);
  EXPECT_EQ(b.numBytes, 3u);
  EXPECT_EQ(BSAEndData(again.handle), 0);
  BSATerminate(again.handle);
}

TEST_F(XbsaFtpTest, ByteCounterFollowsTheTransfer) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  OpenResult r = OpenObject(true, FtpEnv(peer.port()), "count", ".");
  ASSERT_EQ(r.open, 0);
  double *pd = xbsa_session_bytes(r.handle);
  ASSERT_NE(pd, nullptr);
  EXPECT_EQ(SendAll(r.handle, TestData(1000), 300), 0);
  EXPECT_EQ(*pd, 1000.0);
  EXPECT_EQ(BSAEndData(r.handle), 0);
  EXPECT_EQ(*pd, 0.0);
  BSATerminate(r.handle);
  EXPECT_EQ(xbsa_session_bytes(r.handle), nullptr);
}

TEST_F(XbsaFtpTest, ShutdownFromSignalHandlerFailsTheTransferAndEndClosesOnce) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  OpenResult r = OpenObject(true, FtpEnv(peer.port()), "intr", ".");
  ASSERT_EQ(r.open, 0);
  _sSession *sp = xbsa_find_slot(r.handle);
  ASSERT_NE(sp, nullptr);
  int fdData = sp->SData, fdControl = sp->SControl;
  EXPECT_EQ(xbsa_session_shutdown(r.handle), 0);
  // The descriptors are still open; only their connections are down.
  EXPECT_NE(fcntl(fdData, F_GETFD), -1);
  EXPECT_NE(fcntl(fdControl, F_GETFD), -1);
  EXPECT_EQ(SendAll(r.handle, "after the signal"), 3);
  EXPECT_EQ(BSAEndData(r.handle), 3);
  EXPECT_EQ(sp->SData, -1);
  EXPECT_EQ(sp->SControl, -1);
  EXPECT_EQ(fcntl(fdData, F_GETFD), -1);
  EXPECT_EQ(fcntl(fdControl, F_GETFD), -1);
  BSATerminate(r.handle);
  EXPECT_EQ(xbsa_session_shutdown(r.handle), -1);
  EXPECT_EQ(xbsa_session_shutdown(0), -1);
}

TEST_F(XbsaFtpTest, ConnectionRefusedEndsWithAccessFailure) {
  int port = RangeStart() + 101;  // nothing listens there
  StoreCodes c = Store(FtpEnv(port), "obj", "x");
  EXPECT_EQ(c.open.open, 77);
  EXPECT_EQ(c.end, 3);
  EXPECT_NE(LastError().find("connect() failed. (111) Connection refused"), std::string::npos);
}

}  // namespace

namespace {

int OpenDescriptors() {
  int n = 0;
  for (int fd = 0; fd < 4096; fd++) {
    if (fcntl(fd, F_GETFD) != -1) n++;
  }
  return n;
}

TEST_F(XbsaFtpTest, FailedBindsAndConnectsLeaveNoDescriptors) {
  // Occupy a whole small range: control ports and the ports in between.
  int start = 0;
  std::vector<int> held;
  for (int attempt = 0; attempt < 20 && held.size() < 3; attempt++) {
    for (int h : held) close(h);
    held.clear();
    start = RangeStart();
    for (int p = start; p <= start + 2; p++) {
      int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      struct sockaddr_in sa = {};
      sa.sin_family = AF_INET;
      sa.sin_port = htons((uint16_t)p);
      sa.sin_addr.s_addr = htonl(INADDR_ANY);
      if (bind(s, (struct sockaddr *)&sa, sizeof sa) != 0) {
        close(s);
        break;
      }
      held.push_back(s);
    }
  }
  ASSERT_EQ(held.size(), 3u) << "no free range of three ports found";
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0);
  int before = OpenDescriptors();
  std::string range = std::to_string(start) + "-" + std::to_string(start + 2);
  StoreCodes c = Store(FtpEnv(peer.port(), range), "obj", "x");
  EXPECT_EQ(c.open.open, 77);
  EXPECT_NE(LastError().find("All ports from range ["), std::string::npos);
  EXPECT_EQ(OpenDescriptors(), before);
  for (int h : held) close(h);

  // Refused connects from a range of ports: every attempt's socket is closed.
  ResetXbsa(3);
  int dead = start + 101;  // below the ephemeral ports: nothing listens there
  before = OpenDescriptors();
  c = Store(FtpEnv(dead, std::to_string(start) + "-" + std::to_string(start + 6)), "obj", "x");
  EXPECT_EQ(c.open.open, 77);
  EXPECT_TRUE(TraceHas("xbsa_open: Retry with iPortStart = [" + std::to_string(start + 1) + "]")) << LastError();
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
