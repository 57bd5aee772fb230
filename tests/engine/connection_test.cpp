// Tests of the TSA connection against stand-in worlds: connect and login tries
// with their pauses, login fall-backs, defaults, refusals and releases.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/connection.h"
#include "engine/delay.h"
#include "engine/session.h"
#include "engine_test_util.h"

using enginetest::Capture;
using enginetest::Count;
using enginetest::Delays;
using enginetest::World;

namespace {

const char *const kTsa = "srv1.Linux File System";

std::string OneTsa(const std::string &extra = "", const std::string &tsaExtra = "") {
  return extra + "[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n" + tsaExtra;
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    enginetest::FreshState();
    spGlobal->eOPERATION = BACKUP;
    strcpy(spGlobal->sVRKNlm.szSMDR, "srv1");
    strcpy(spGlobal->sVRKNlm.szTSA, kTsa);
    session_ = GetSessionInfoBuffer();
    ASSERT_NE(session_, nullptr);
    ASSERT_NE(Init_Cluster_Params(session_), nullptr);
    session_->clusterparams->reTryPeriod = 10;
  }
  void TearDown() override { EndSession(0, session_); }
  CCODE Connect(Capture &cap) {
    NWBOOLEAN cluster = 0;
    CCODE cc = EstablishConnection(session_, &cluster);
    cap.Stop();
    return cc;
  }
  SESSION_INFORMATION *session_ = nullptr;
};

void ExpectDelaysWithin(const std::string &err, size_t count, int lo, int hi) {
  std::vector<int> d = Delays(err);
  ASSERT_EQ(d.size(), count) << err;
  for (int v : d) {
    EXPECT_GE(v, lo);
    EXPECT_LE(v, hi);
  }
}

}  // namespace

TEST_F(ConnectionTest, ConnectsAndLogsInWithTheDefaultCredentials) {
  World w(OneTsa("", "user ADMIN = qopex\n"));
  ASSERT_TRUE(w.loaded());
  Capture cap;
  EXPECT_EQ(Connect(cap), 0u) << cap.err();
  EXPECT_NE(session_->connection, 0u);
  EXPECT_STREQ(session_->CuserName, "ADMIN");
  EXPECT_STREQ(spGlobal->sVRKNlm.szPassword, "qopex");
  EXPECT_STREQ(spGlobal->sVRKNlm.szTS, "srv1");  // the first target service
  ASSERT_EQ(w.Calls("NWSMTSConnectToTargetServiceEx").size(), 1u);
  EXPECT_NE(w.Calls("NWSMTSConnectToTargetServiceEx")[0].find("user=\"ADMIN\", auth=4) = 0x00000000"),
            std::string::npos);
  EXPECT_NE(cap.err().find("Requestor vrk_sms"), std::string::npos) << cap.err();
}

TEST_F(ConnectionTest, FiveFailedConnectsMakeFourBoundedPauses) {
  World w(OneTsa("fail_connect = 5\n"));
  Capture cap;
  EXPECT_EQ(Connect(cap), 0xFFFDFFBAu);
  EXPECT_EQ(w.Calls("NWSMConnectToTSA").size(), 5u);
  EXPECT_EQ(w.Calls("NWSMTSConnectToTargetServiceEx").size(), 0u);
  EXPECT_EQ(session_->connection, 0u);
  ExpectDelaysWithin(cap.err(), 4, 500, 10500);
  EXPECT_EQ(Count(cap.err(), "Error:    Failure to connect to Target Service Agent."), 1);
}

TEST_F(ConnectionTest, ListingPeriodBoundsThePauses) {
  World w(OneTsa("fail_connect = 5\n"));
  session_->clusterparams->reTryPeriod = 1;
  Capture cap;
  EXPECT_NE(Connect(cap), 0u);
  ExpectDelaysWithin(cap.err(), 4, 500, 1500);
}

TEST_F(ConnectionTest, ConnectAfterFailuresSucceeds) {
  World w(OneTsa("fail_connect = 2\n"));
  Capture cap;
  EXPECT_EQ(Connect(cap), 0u) << cap.err();
  EXPECT_EQ(w.Calls("NWSMConnectToTSA").size(), 3u);
  EXPECT_EQ(Delays(cap.err()).size(), 2u + 0u);  // two connect pauses, one login try
}

TEST_F(ConnectionTest, SignalBeforeTheFirstTryIsAFailure) {
  World w(OneTsa());
  spGlobal->sVRKObject.iSigRecv = 1;
  Capture cap;
  CCODE cc = Connect(cap);
  EXPECT_NE(cc, 0u);
  EXPECT_EQ(session_->connection, 0u);
  EXPECT_EQ(w.Calls("NWSMConnectToTSA").size(), 0u);
}

namespace {

void SetSigRecv(int) { spGlobal->sVRKObject.iSigRecv = 1; }

// Pauses for half a minute, unscaled, and returns the seconds it took;
// with signalAfterMs >= 0 a real signal reaches this thread that many
// milliseconds into the pause, its handler setting the flag as the
// client's does.
double TimedPause(long signalAfterMs) {
  const char *scale = getenv(VRK_TEST_DELAY_SCALE_ENV);
  std::string saved = scale ? scale : "";
  setenv(VRK_TEST_DELAY_SCALE_ENV, "1", 1);
  struct sigaction sa = {}, old = {};
  sa.sa_handler = SetSigRecv;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR1, &sa, &old);
  pthread_t self = pthread_self();
  std::thread sender;
  if (signalAfterMs >= 0) {
    sender = std::thread([self, signalAfterMs] {
      std::this_thread::sleep_for(std::chrono::milliseconds(signalAfterMs));
      pthread_kill(self, SIGUSR1);
    });
  }
  auto t0 = std::chrono::steady_clock::now();
  vrk_pause_ms(30L * 1000L);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (sender.joinable()) sender.join();
  sigaction(SIGUSR1, &old, nullptr);
  if (scale) setenv(VRK_TEST_DELAY_SCALE_ENV, saved.c_str(), 1);
  else unsetenv(VRK_TEST_DELAY_SCALE_ENV);
  return seconds;
}

}  // namespace

// A stopping signal that comes just before a pause (the fail-over waits a
// minute) ends it as one in the pause does: the call returns at once.
TEST_F(ConnectionTest, ASignalBeforeAPauseEndsIt) {
  spGlobal->sVRKObject.iSigRecv = 1;
  EXPECT_LT(TimedPause(-1), 2.0);
}

TEST_F(ConnectionTest, ASignalInAPauseEndsIt) {
  spGlobal->sVRKObject.iSigRecv = 0;
  double seconds = TimedPause(300);
  EXPECT_EQ(spGlobal->sVRKObject.iSigRecv, 1);
  EXPECT_GE(seconds, 0.25);
  EXPECT_LT(seconds, 5.0);
}

// Each failing login answers twice (UTF-8, then raw); two failed tries then a
// good one pause after the second and the third try.
TEST_F(ConnectionTest, LoginFailingTwiceThenSucceedingPausesTwice) {
  World w(OneTsa("fail_login = 4\n"));
  Capture cap;
  EXPECT_EQ(Connect(cap), 0u) << cap.err();
  EXPECT_EQ(w.Calls("NWSMTSConnectToTargetServiceEx").size(), 5u);
  ExpectDelaysWithin(cap.err(), 2, 500, 10500);
}

TEST_F(ConnectionTest, LoginDeniedAfterFiveTriesReleasesTheTsaOnce) {
  World w(OneTsa("", "user ADMIN = secret\n"));
  Capture cap;
  EXPECT_EQ(Connect(cap), 0xFFFDFFD7u);
  EXPECT_NE(cap.out().find("\nLogin denied"), std::string::npos) << cap.out();
  EXPECT_EQ(w.Calls("NWSMTSConnectToTargetServiceEx").size(), 10u);
  ExpectDelaysWithin(cap.err(), 4, 500, 10500);
  EXPECT_EQ(session_->connection, 0u);
  EXPECT_EQ(w.Calls("NWSMReleaseTSA").size(), 1u);
  EndSession(0, session_);
  session_ = nullptr;
  EXPECT_EQ(w.Calls("NWSMReleaseTSA").size(), 1u);  // not released a second time
  EXPECT_EQ(w.Calls("NWSMTSReleaseTargetService").size(), 0u);
}

TEST_F(ConnectionTest, FailedUtf8LoginFallsBackToTheRawOne) {
  World w(OneTsa("fail_login = 1\n"));
  Capture cap;
  EXPECT_EQ(Connect(cap), 0u) << cap.err();
  std::vector<std::string> ex = w.Calls("NWSMTSConnectToTargetServiceEx");
  ASSERT_EQ(ex.size(), 2u);
  EXPECT_NE(ex[0].find("auth=4) = 0xFFFDFFD7"), std::string::npos) << ex[0];
  EXPECT_NE(ex[1].find("auth=1) = 0x00000000"), std::string::npos) << ex[1];
}

TEST_F(ConnectionTest, MissingExtendedLoginUsesThePlainOne) {
  for (const char *world : {"optional_calls = no\n",
                            "fault NWSMTSConnectToTargetServiceEx = 1 0xFFFEFFFB\n",
                            "fault NWSMTSConnectToTargetServiceEx = 1 0xFFFDFFB9\n"}) {
    World w(OneTsa(world));
    ASSERT_TRUE(w.loaded());
    session_->connection = 0;
    Capture cap;
    EXPECT_EQ(Connect(cap), 0u) << world << cap.err();
    EXPECT_EQ(w.Calls("NWSMTSConnectToTargetService").size(), 1u) << world;
    EXPECT_LE(w.Calls("NWSMTSConnectToTargetServiceEx").size(), 1u) << world;
    CloseTarget(session_);
  }
}

TEST_F(ConnectionTest, OverLongCredentialsAreRefusedNotCut) {
  World w(OneTsa("", "user ADMIN = qopex\n"));
  struct Case {
    std::string user, password;
  } cases[] = {{std::string(300, 'u'), ""}, {"", std::string(298, 'p')}};
  for (const Case &c : cases) {
    strcpy(spGlobal->sVRKNlm.szUser, c.user.c_str());
    strcpy(spGlobal->sVRKNlm.szPassword, c.password.c_str());
    Capture cap;
    EXPECT_EQ(Connect(cap), 0xFFFDFFDDu);
    EXPECT_NE(cap.err().find("too long"), std::string::npos) << cap.err();
    EXPECT_EQ(session_->connection, 0u);
  }
  EXPECT_EQ(w.Calls("NWSMTSConnectToTargetServiceEx").size(), 0u);
  // The longest password that fits is used whole.
  strcpy(spGlobal->sVRKNlm.szUser, "ADMIN");
  std::string longest(297, 'p');
  strcpy(spGlobal->sVRKNlm.szPassword, longest.c_str());
  Capture cap;
  EXPECT_EQ(Connect(cap), 0xFFFDFFD7u);  // denied, but tried with the whole password
}

TEST_F(ConnectionTest, FailedServiceListingReleasesAndMarksTheConnection) {
  World w(OneTsa("fault NWSMTSListTargetServices = 1 0xFFFDFFE7\n"));
  Capture cap;
  EXPECT_EQ(Connect(cap), 0xFFFDFFE7u);
  EXPECT_EQ(session_->connection, 0u);
  EndSession(0, session_);
  session_ = nullptr;
  EXPECT_EQ(w.Calls("NWSMReleaseTSA").size(), 1u);
}

TEST_F(ConnectionTest, UnknownTsaIsRefusedAfterFiveTries) {
  World w(OneTsa());
  strcpy(spGlobal->sVRKNlm.szTSA, "nosuch.Other TSA");
  Capture cap;
  EXPECT_EQ(Connect(cap), 0xFFFDFFBAu);
  EXPECT_EQ(w.Calls("NWSMConnectToTSA").size(), 5u);
  EXPECT_NE(cap.err().find("\"Invalid or inactive TSA specified\""), std::string::npos);
}

TEST_F(ConnectionTest, EndSessionReleasesServiceBeforeTsa) {
  World w(OneTsa());
  Capture cap;
  ASSERT_EQ(Connect(cap), 0u);
  EndSession(0, session_);
  session_ = nullptr;
  std::vector<std::string> calls = w.Calls();
  int service = -1, tsa = -1;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].rfind("NWSMTSReleaseTargetService(", 0) == 0) service = (int)i;
    if (calls[i].rfind("NWSMReleaseTSA(", 0) == 0) tsa = (int)i;
  }
  ASSERT_GE(service, 0);
  EXPECT_GT(tsa, service);
  EXPECT_NE(calls[(size_t)tsa].find("= 0x00000000"), std::string::npos) << calls[(size_t)tsa];
}

TEST_F(ConnectionTest, ReconnectTriesAndPauses) {
  struct Case {
    int reTries;
    size_t tries;
    size_t pauses;
  } cases[] = {{0, 5, 4}, {10, 10, 4}};
  for (const Case &c : cases) {
    World w(OneTsa("fail_connect = 20\n"));
    session_->clusterparams->reTries = c.reTries;
    session_->clusterparams->reTryPeriod = 30;
    Capture cap;
    EXPECT_EQ(Reconnect(session_), -1);
    cap.Stop();
    EXPECT_EQ(w.Calls("NWSMConnectToTSA").size(), c.tries) << c.reTries;
    ExpectDelaysWithin(cap.err(), c.pauses, 1000, 31000);
    EXPECT_NE(cap.err().find("RECONNECT_FAIL - reconnection time out"), std::string::npos);
    EXPECT_NE(cap.err().find("Warning:  Fail Over / Fail Back..."), std::string::npos);
    EXPECT_EQ(session_->connection, 0u);
  }
}

TEST_F(ConnectionTest, ReconnectLogsInAgainAfterAFailOver) {
  World w(OneTsa());
  {
    Capture cap;
    ASSERT_EQ(Connect(cap), 0u);
  }
  UINT32 old = session_->connection;
  Capture cap;
  EXPECT_EQ(Reconnect(session_), 0) << cap.err();
  cap.Stop();
  EXPECT_NE(session_->connection, 0u);
  EXPECT_NE(session_->connection, old);
  EXPECT_EQ(w.Calls("NWSMConnectToTSA").size(), 2u);
}

TEST_F(ConnectionTest, SignalRemovesOnlyTheReconnectPauses) {
  World w(OneTsa("fail_connect = 20\n"));
  session_->clusterparams->reTries = 5;
  spGlobal->sVRKObject.iSigRecv = 1;
  Capture cap;
  EXPECT_EQ(Reconnect(session_), -1);
  cap.Stop();
  EXPECT_EQ(w.Calls("NWSMConnectToTSA").size(), 5u);
  EXPECT_EQ(Delays(cap.err()).size(), 0u);
}

TEST(IsRecoveryErrorTest, OnlyTheLostConnectionCodes) {
  enginetest::FreshState();
  for (CCODE c : {0xFFFEFFCCu, 0xFFFEFFCDu, 0xFFFEFFCEu, 0xFFFEFFFCu, 0xFFFEFFB1u, 0xFFFDFFAFu,
                  0xFFFDFFC4u})
    EXPECT_EQ(IsRecoveryError(c), 1) << std::hex << c;
  for (CCODE c : {0u, 0xFFFDFFD7u, 0xFFFDFFD1u, 0xFFFDFFCEu, 0xFFFEFFFFu})
    EXPECT_EQ(IsRecoveryError(c), 0) << std::hex << c;
}

TEST(PrintCodeTest, TextsAndAMissingSession) {
  enginetest::FreshState();
  vrk_sms_load_world(nullptr);
  struct Case {
    NWBOOLEAN bError;
    CCODE code;
    UINT16 line;
    std::vector<std::string> expect;  // in this order
    const char *absent;
  } cases[] = {
      {1, 0xFFFDFFD7u, 0, {"Error:    R: (0XFFFDFFD7) \"Login denied\""}, "NWSMConvertError"},
      {0, 0xFFFDFFBAu, 12, {"Info:     R: (0XFFFDFFBA in line = 12) \"Invalid or inactive TSA specified\""},
       "NWSMConvertError"},
      // The SMDR's own text.
      {1, NWSMUT_LIST_EMPTY, 0, {"Error:    R: (0XFFFBFFFD) \"The name list is empty\""}, "NWSMConvertError"},
      // No text: both lines, then the manual is named.
      {0, 0x12345678u, 0,
       {"Info:     Didn't get message for code 0X12345678 bcs. not yet connected to a SMDR",
        "Info:     NWSMConvertError returned 0XFFFEFFFF for ccode 0X12345678",
        "Info:     R: (0X12345678) \"Please check code 0X12345678 in sms_docs.pdf\""},
       nullptr},
      {1, 0x12345678u, 7,
       {"Error:    NWSMConvertError returned 0XFFFEFFFF for ccode 0X12345678",
        "Error:    R: (0X12345678 in line = 7) \"Please check code 0X12345678 in sms_docs.pdf\""},
       nullptr},
  };
  for (const Case &c : cases) {
    Capture cap;
    PrintCode(c.bError, c.code, "R", c.line, nullptr);
    std::string err = cap.err();
    size_t at = 0;
    for (const std::string &e : c.expect) {
      at = err.find(e, at);
      EXPECT_NE(at, std::string::npos) << e << "\n" << err;
    }
    if (c.absent) {
      EXPECT_EQ(err.find(c.absent), std::string::npos) << err;
    }
  }
}

// A conversion that fails for another reason is logged at the line's level,
// and the text is what the conversion left: no manual is named.
TEST(PrintCodeTest, FailedConversionKeepsItsText) {
  enginetest::FreshState();
  World w(OneTsa("[faults]\nfault NWSMConvertError = 1 0xFFFDFFE1\n"));
  ASSERT_TRUE(w.loaded());
  Capture cap;
  PrintCode(1, 0x12345678u, "R", 0, nullptr);
  std::string err = cap.err();
  EXPECT_NE(err.find("Error:    NWSMConvertError returned 0XFFFDFFE1 for ccode 0X12345678"), std::string::npos)
      << err;
  EXPECT_NE(err.find("Error:    R: (0X12345678) \"\""), std::string::npos) << err;
  EXPECT_EQ(err.find("Please check code"), std::string::npos) << err;
  EXPECT_EQ(err.find("Didn't get message"), std::string::npos) << err;
}

TEST(RandomDelayTest, StaysWithinItsBounds) {
  for (int i = 0; i < 20; ++i) {
    int d = random_delay(500, 10000);
    EXPECT_GE(d, 500);
    EXPECT_LE(d, 10500);
  }
}

TEST_F(ConnectionTest, OverLongTsaNameIsRefusedNotCut) {
  World w(OneTsa());
  std::string longName = std::string(kTsa) + std::string(300, 'x');
  strcpy(spGlobal->sVRKNlm.szTSA, longName.c_str());
  Capture cap;
  EXPECT_EQ(Connect(cap), 0xFFFDFFDDu);
  EXPECT_NE(cap.err().find("TSA name too long"), std::string::npos) << cap.err();
  EXPECT_EQ(w.Calls("NWSMConnectToTSA").size(), 0u);
}
