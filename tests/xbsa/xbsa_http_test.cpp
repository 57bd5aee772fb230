// The HTTP(S) transport against the scripted storage node: objects stored and
// read back over HTTP and HTTPS, the request headers, and every fault road.
#include <signal.h>
#include <string.h>
#include <sys/time.h>

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "xbsa_client.h"
#include "xbsa_http_peer.h"

using namespace vrktest;

namespace {

class XbsaHttpTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetXbsa(3); }
  void TearDown() override { xbsa_reset_library(); }
};

const char kPath[] = "backups/host1";

// Codes of a whole store road; err is the last-error text after the first
// failing call, endErr the one after BSAEndData.
struct Road {
  OpenResult open;
  int data = -1, end = -1;
  std::string err, endErr;
  std::string got;  // read roads: the bytes handed out
};

void Finish(Road *r) {
  if (r->err.empty()) r->err = LastError();
  r->end = BSAEndData(r->open.handle);
  if (r->end != 0) r->endErr = LastError();
  BSAEndTxn(r->open.handle, BSA_Vote_COMMIT);
  BSATerminate(r->open.handle);
}

Road Store(const std::vector<std::string> &env, const std::string &name, const std::string &data,
           size_t block = 65536) {
  Road r;
  r.open = OpenObject(true, env, name, kPath);
  if (r.open.init != 0) return r;
  if (r.open.open == 0) r.data = SendAll(r.open.handle, data, block);
  Finish(&r);
  return r;
}

// Reads until a block comes back empty (the end of the object) or a call fails.
int ReadToEnd(long h, std::string *out, size_t block, std::vector<BSA_UInt32> *sizes = nullptr) {
  std::vector<char> buf(block);
  for (int i = 0; i < 100000; i++) {
    BSA_DataBlock32 b;
    memset(&b, 0, sizeof b);
    b.bufferLen = (BSA_UInt32)block;
    b.bufferPtr = buf.data();
    int rc = BSAGetData(h, &b);
    if (rc != 0) return rc;
    if (sizes) sizes->push_back(b.numBytes);
    out->append(buf.data(), b.numBytes);
    if (b.numBytes == 0) return 0;
  }
  return -1;
}

Road Retrieve(const std::vector<std::string> &env, const std::string &name, size_t block = 65536,
              std::vector<BSA_UInt32> *sizes = nullptr) {
  Road r;
  r.open = OpenObject(false, env, name, kPath);
  if (r.open.init != 0) return r;
  if (r.open.open == 0) r.data = ReadToEnd(r.open.handle, &r.got, block, sizes);
  Finish(&r);
  return r;
}

// --- whole objects over HTTP and HTTPS ---------------------------------

struct RoundTrip {
  bool tls;
  size_t block;
};

void PrintTo(const RoundTrip &p, std::ostream *os) { *os << (p.tls ? "https " : "http ") << p.block; }

class XbsaHttpRoundTrip : public XbsaHttpTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(XbsaHttpRoundTrip, StoresAndReadsBackTheObject) {
  const RoundTrip p = GetParam();
  HttpPeer peer("{}", p.tls);
  ASSERT_NE(peer.port(), 0) << peer.output();
  std::string data = TestData(700001, (unsigned)p.block);
  Road s = Store(HttpEnv(peer.url()), "4711", data, p.block);
  EXPECT_EQ(s.open.open, 0) << s.err;
  EXPECT_EQ(s.data, 0) << s.err;
  EXPECT_EQ(s.end, 0) << s.endErr;
  std::string stored = ReadFile(peer.root() + "/" + kPath + "/4711");
  EXPECT_EQ(stored.size(), data.size());
  EXPECT_TRUE(stored == data);

  Road g = Retrieve(HttpEnv(peer.url()), "4711", p.block);
  EXPECT_EQ(g.open.open, 0) << g.err;
  EXPECT_EQ(g.data, 0) << g.err;
  EXPECT_EQ(g.end, 0) << g.endErr;
  EXPECT_EQ(g.got.size(), data.size());
  EXPECT_TRUE(g.got == data);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, XbsaHttpRoundTrip,
                         ::testing::Values(RoundTrip{false, 13}, RoundTrip{false, 1000}, RoundTrip{false, 65535}, RoundTrip{false, 65536},
                                           RoundTrip{false, 65537}, RoundTrip{false, 262144},
                                           RoundTrip{false, 1048576}, RoundTrip{true, 4096},
                                           RoundTrip{true, 65536}, RoundTrip{true, 300000}),
                         [](const ::testing::TestParamInfo<RoundTrip> &i) {
                           return std::string(i.param.tls ? "https_" : "http_") + std::to_string(i.param.block);
                         });

TEST_F(XbsaHttpTest, CommandsTravelAsXbsaHeaders) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  Road s = Store(HttpEnv(peer.url()), "42", "payload", 65536);
  ASSERT_EQ(s.end, 0) << s.endErr;
  Road g = Retrieve(HttpEnv(peer.url()), "42");
  ASSERT_EQ(g.end, 0) << g.endErr;
  EXPECT_EQ(g.got, "payload");
  EXPECT_EQ(peer.log(),
            "-- request PUT /\n"
            "Transfer-Encoding: chunked\n"
            "Expect: 100-continue\n"
            "XBSA-USER: KORVA_SECURE_AUTHENTICATION\n"
            "XBSA-PASS: unused\n"
            "XBSA-TYPE: I\n"
            "XBSA-CWD: backups/host1\n"
            "XBSA-STOR: 42\n"
            "-- stored backups/host1/42 7\n"
            "-- request GET /\n"
            "XBSA-USER: KORVA_SECURE_AUTHENTICATION\n"
            "XBSA-PASS: unused\n"
            "XBSA-TYPE: I\n"
            "XBSA-CWD: backups/host1\n"
            "XBSA-RETR: 42\n"
            "-- served backups/host1/42 7\n");
  EXPECT_TRUE(TraceHas("xbsa_open: URL '" + peer.url() + "'"));
  EXPECT_TRUE(TraceHas("xbsa_open: command 1 = PASS ****"));
}

TEST_F(XbsaHttpTest, DownloadOf100000BytesComesAs65536Then34464ThenNothing) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  std::string data = TestData(100000);
  peer.Put(kPath, "7", data);
  std::vector<BSA_UInt32> sizes;
  Road g = Retrieve(HttpEnv(peer.url()), "7", 65536, &sizes);
  EXPECT_EQ(g.data, 0) << g.err;
  EXPECT_EQ(g.end, 0) << g.endErr;
  EXPECT_EQ(sizes, (std::vector<BSA_UInt32>{65536, 34464, 0}));
  EXPECT_TRUE(g.got == data);
}

TEST_F(XbsaHttpTest, EmptyObjectReadsAsEndOfData) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  peer.Put(kPath, "0", "");
  std::vector<BSA_UInt32> sizes;
  Road g = Retrieve(HttpEnv(peer.url()), "0", 65536, &sizes);
  EXPECT_EQ(g.open.open, 0) << g.err;
  EXPECT_EQ(g.end, 0) << g.endErr;
  EXPECT_EQ(sizes, (std::vector<BSA_UInt32>{0}));
}

// --- status codes and replies --------------------------------------------

struct Fault {
  const char *name;
  const char *script;
  bool upload;
  bool ok;              // the road succeeds
  const char *errPart;  // part of the last error after the first failure ("" when ok)
};

void PrintTo(const Fault &f, std::ostream *os) { *os << f.name; }

class XbsaHttpFault : public XbsaHttpTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(XbsaHttpFault, EndsWithTheRightCodeAndText) {
  const Fault f = GetParam();
  HttpPeer peer(f.script);
  ASSERT_NE(peer.port(), 0) << peer.output();
  std::string data = TestData(300000);
  peer.Put(kPath, "9", data);
  // A short wait only where the storage node falls silent.
  bool bSilent = std::string(f.errPart).find("no answer") != std::string::npos;
  std::vector<std::string> env = HttpEnv(peer.url(), bSilent ? std::vector<std::string>{"BSA_TIMEOUT=2"}
                                                             : std::vector<std::string>{});
  Road r = f.upload ? Store(env, "9", data) : Retrieve(env, "9");
  if (f.ok) {
    EXPECT_EQ(r.open.open, 0) << r.err;
    EXPECT_EQ(r.data, 0) << r.err;
    EXPECT_EQ(r.end, 0) << r.endErr;
    return;
  }
  // Whichever call meets the fault, the road never ends in success.
  bool bOpenFailed = r.open.open == BSA_RC_ACCESS_FAILURE;
  EXPECT_TRUE(bOpenFailed || r.data == BSA_RC_ABORT_SYSTEM_ERROR || r.end == BSA_RC_ABORT_SYSTEM_ERROR)
      << r.open.open << " " << r.data << " " << r.end;
  if (!bOpenFailed) {
    EXPECT_EQ(r.open.open, 0);
  }
  EXPECT_EQ(r.end, BSA_RC_ABORT_SYSTEM_ERROR);
  std::string both = r.err + " | " + r.endErr;
  EXPECT_NE(both.find(f.errPart), std::string::npos) << both;
  // Nothing of a failed download is handed out as object data; a bad reply
  // shows only at the end.
  if (!f.upload && std::string(f.errPart).find("520") == std::string::npos &&
      std::string(f.errPart).find("Reply") == std::string::npos) {
    EXPECT_LT(r.got.size(), data.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, XbsaHttpFault,
    ::testing::Values(
        Fault{"upload_201_accepted", R"({"status": 201})", true, true, ""},
        Fault{"upload_200_accepted", R"({"status": 200})", true, true, ""},
        Fault{"upload_reply_lower_case", R"({"reply_name": "reply"})", true, true, ""},
        Fault{"upload_reply_upper_case", R"({"reply_name": "REPLY"})", true, true, ""},
        Fault{"upload_response_body", R"({"body": "stored, thank you"})", true, true, ""},
        Fault{"upload_403_before_body", R"({"early_status": 403})", true, false, "Server return code 403"},
        Fault{"upload_500_after_body", R"({"status": 500})", true, false, "Server return code 500"},
        Fault{"upload_403_after_body", R"({"status": 403})", true, false, "Server return code 403"},
        Fault{"upload_reply_520", R"({"reply": "520 Server signal: disk full"})", true, false,
              "520 Server signal: disk full"},
        Fault{"upload_reply_not_ok", R"({"reply": "OK but not quite"})", true, false, "OK but not quite"},
        Fault{"upload_no_reply", R"({"no_reply": true})", true, false, "sent no Reply header"},
        Fault{"upload_cut", R"({"cut_after": 100000})", true, false, "Perform: "},
        Fault{"upload_stall", R"({"stall_after": 100000, "hold": 30})", true, false,
              "no answer from the storage node within 2 seconds"},
        Fault{"upload_no_answer", R"({"hold_response": true, "hold": 30})", true, false,
              "no answer from the storage node within 2 seconds"},
        Fault{"upload_silent", R"({"silent": true, "hold": 30})", true, false,
              "no answer from the storage node within 2 seconds"},
        Fault{"upload_ended_early_with_201", R"({"early_status": 201})", true, false,
              "the storage node ended the transfer"},
        Fault{"download_reply_lower_case", R"({"reply_name": "reply"})", false, true, ""},
        Fault{"download_403", R"({"status": 403})", false, false, "Server return code 403"},
        Fault{"download_500", R"({"status": 500})", false, false, "Server return code 500"},
        Fault{"download_reply_520", R"({"reply": "520 Server signal: tape error"})", false, false,
              "520 Server signal: tape error"},
        Fault{"download_no_reply", R"({"no_reply": true})", false, false, "sent no Reply header"},
        Fault{"download_cut", R"({"cut_after": 100000})", false, false, "Perform: Transfer interrupted"},
        Fault{"download_stall", R"({"stall_after": 100000, "hold": 30})", false, false,
              "no answer from the storage node within 2 seconds"},
        Fault{"download_silent", R"({"silent": true, "hold": 30})", false, false,
              "no answer from the storage node within 2 seconds"}),
    [](const ::testing::TestParamInfo<Fault> &i) { return std::string(i.param.name); });

TEST_F(XbsaHttpTest, MissingObjectFailsWithTheStatusThenTheReply) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  Road g = Retrieve(HttpEnv(peer.url()), "nothing");
  EXPECT_TRUE(g.open.open == BSA_RC_ACCESS_FAILURE || g.data == BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_NE(g.err.find("Server return code 404"), std::string::npos) << g.err;
  EXPECT_EQ(g.end, BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_EQ(g.got, "");
}

TEST_F(XbsaHttpTest, RefusedConnectionFailsTheOpen) {
  int port = FreePort();
  Road s = Store(HttpEnv("http://127.0.0.1:" + std::to_string(port)), "1", "x");
  EXPECT_EQ(s.open.open, BSA_RC_ACCESS_FAILURE);
  EXPECT_NE(s.err.find("xbsa_open: Connection error: "), std::string::npos) << s.err;
  // The released handle is never touched again.
  EXPECT_EQ(s.end, BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_NE(s.endErr.find("no transfer is open"), std::string::npos) << s.endErr;
}

TEST_F(XbsaHttpTest, HttpsSchemeInCapitalsUsesTheTransport) {
  HttpPeer peer("{}", true);
  ASSERT_NE(peer.port(), 0) << peer.output();
  std::string url = "HTTPS://127.0.0.1:" + std::to_string(peer.port());
  Road s = Store(HttpEnv(url), "5", "over tls");
  EXPECT_EQ(s.end, 0) << s.err << s.endErr;
  EXPECT_EQ(ReadFile(peer.root() + "/" + kPath + "/5"), "over tls");
}

// --- sound ends of a transfer --------------------------------------------

TEST_F(XbsaHttpTest, EmptySendIsNotTheEndOfTheUpload) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  OpenResult o = OpenObject(true, HttpEnv(peer.url()), "3", kPath);
  ASSERT_EQ(o.open, 0) << LastError();
  EXPECT_EQ(SendAll(o.handle, "first part, "), 0);
  BSA_DataBlock32 empty;
  memset(&empty, 0, sizeof empty);
  empty.bufferPtr = (void *)"";
  EXPECT_EQ(BSASendData(o.handle, &empty), 0);
  EXPECT_EQ(SendAll(o.handle, "second part"), 0);
  EXPECT_EQ(BSAEndData(o.handle), 0) << LastError();
  EXPECT_EQ(ReadFile(peer.root() + "/" + kPath + "/3"), "first part, second part");
  // A send after the end is an error, never a silent drop.
  EXPECT_EQ(SendAll(o.handle, "too late"), BSA_RC_ABORT_SYSTEM_ERROR);
  BSATerminate(o.handle);
}

TEST_F(XbsaHttpTest, EndOfADownloadWithLittleLeftTakesTheRest) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  peer.Put(kPath, "8", TestData(100000));
  OpenResult o = OpenObject(false, HttpEnv(peer.url()), "8", kPath);
  ASSERT_EQ(o.open, 0) << LastError();
  std::vector<char> buf(65536);
  BSA_DataBlock32 b;
  memset(&b, 0, sizeof b);
  b.bufferLen = 65536;
  b.bufferPtr = buf.data();
  EXPECT_EQ(BSAGetData(o.handle, &b), 0);
  EXPECT_EQ(b.numBytes, 65536u);
  EXPECT_EQ(BSAEndData(o.handle), 0) << LastError();
  BSATerminate(o.handle);
}

TEST_F(XbsaHttpTest, EndOfADownloadWithMuchLeftEndsItUnread) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  peer.Put(kPath, "8", TestData(3000000));
  OpenResult o = OpenObject(false, HttpEnv(peer.url()), "8", kPath);
  ASSERT_EQ(o.open, 0) << LastError();
  std::vector<char> buf(65536);
  BSA_DataBlock32 b;
  memset(&b, 0, sizeof b);
  b.bufferLen = 65536;
  b.bufferPtr = buf.data();
  EXPECT_EQ(BSAGetData(o.handle, &b), 0);
  EXPECT_EQ(BSAEndData(o.handle), BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_NE(LastError().find("the object was not read to its end"), std::string::npos);
  BSATerminate(o.handle);
}

TEST_F(XbsaHttpTest, ReplyOfAnEarlierTransferDoesNotCount) {
  HttpPeer good;
  HttpPeer mute(R"({"no_reply": true})");
  ASSERT_NE(good.port(), 0) << good.output();
  ASSERT_NE(mute.port(), 0) << mute.output();
  EXPECT_EQ(Store(HttpEnv(good.url()), "1", "a").end, 0);
  Road r = Store(HttpEnv(mute.url()), "1", "b");
  EXPECT_EQ(r.end, BSA_RC_ABORT_SYSTEM_ERROR);
  // A good end leaves no pending error behind.
  EXPECT_EQ(LastError(), "");
}

TEST_F(XbsaHttpTest, FailedSendFailsEveryLaterSend) {
  HttpPeer peer(R"({"early_status": 500})");
  ASSERT_NE(peer.port(), 0) << peer.output();
  OpenResult o = OpenObject(true, HttpEnv(peer.url()), "2", kPath);
  if (o.open == 0) {
    std::string data = TestData(70000);
    EXPECT_EQ(SendAll(o.handle, data), BSA_RC_ABORT_SYSTEM_ERROR);
    EXPECT_EQ(SendAll(o.handle, data), BSA_RC_ABORT_SYSTEM_ERROR);
    EXPECT_EQ(BSAEndData(o.handle), BSA_RC_ABORT_SYSTEM_ERROR);
  } else {
    EXPECT_EQ(o.open, BSA_RC_ACCESS_FAILURE);
  }
  EXPECT_NE(LastError().find("Server return code 500"), std::string::npos);
  BSATerminate(o.handle);
}

// --- trace -------------------------------------------------------------

TEST_F(XbsaHttpTest, OnlyTraceLevelThreeTurnsOnTheLibcurlTrace) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  for (unsigned char level : {2, 3, 4, 3 | 0x40 | 0x80}) {
    ResetXbsa(level & 0x3F);
    if (level & 0xC0) BSASetTrace(CollectTrace, "/dev/null", level & 0x7F);
    Road s = Store(HttpEnv(peer.url()), "t", "traced");
    EXPECT_EQ(s.end, 0);
    EXPECT_EQ(TraceHas("cUrl trace: => Send header"), (level & 0x3F) == 3) << (int)level;
  }
}

// --- the signal handler's accessor ----------------------------------------

long gSignalHandle = 0;
void OnAlarm(int) { xbsa_session_shutdown(gSignalHandle); }

TEST_F(XbsaHttpTest, ShutdownAccessorFailsAnUpload) {
  HttpPeer peer;
  ASSERT_NE(peer.port(), 0) << peer.output();
  OpenResult o = OpenObject(true, HttpEnv(peer.url()), "s", kPath);
  ASSERT_EQ(o.open, 0) << LastError();
  EXPECT_EQ(SendAll(o.handle, TestData(100000)), 0);
  EXPECT_EQ(xbsa_session_shutdown(o.handle), 0);
  EXPECT_EQ(SendAll(o.handle, TestData(1000)), BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_NE(LastError().find("Transfer interrupted by a signal"), std::string::npos);
  EXPECT_EQ(BSAEndData(o.handle), BSA_RC_ABORT_SYSTEM_ERROR);
  BSATerminate(o.handle);
  EXPECT_EQ(ReadFile(peer.root() + "/" + kPath + "/s"), "");
}

TEST_F(XbsaHttpTest, SignalDuringAStalledDownloadFailsIt) {
  HttpPeer peer(R"({"stall_after": 70000, "hold": 60})");
  ASSERT_NE(peer.port(), 0) << peer.output();
  peer.Put(kPath, "d", TestData(300000));
  OpenResult o = OpenObject(false, HttpEnv(peer.url(), {"BSA_TIMEOUT=100"}), "d", kPath);
  ASSERT_EQ(o.open, 0) << LastError();
  gSignalHandle = o.handle;
  struct sigaction sa, old;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnAlarm;
  sigaction(SIGALRM, &sa, &old);
  struct itimerval it;
  memset(&it, 0, sizeof it);
  it.it_value.tv_usec = 300000;
  setitimer(ITIMER_REAL, &it, nullptr);
  std::string got;
  int rc = ReadToEnd(o.handle, &got, 65536);
  memset(&it, 0, sizeof it);
  setitimer(ITIMER_REAL, &it, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(rc, BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_NE(LastError().find("Transfer interrupted by a signal"), std::string::npos);
  EXPECT_EQ(BSAEndData(o.handle), BSA_RC_ABORT_SYSTEM_ERROR);
  BSATerminate(o.handle);
}

}  // namespace
