// Tests of the XBSA environment array: the slots in order, the storage node
// entry for host names and URIs, the tape road's device entry and the limits.
#include "client/vrk_genargs.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "vrk_test_util.h"

namespace {

class GenArgs : public ::testing::Test {
 protected:
  void SetUp() override {
    // The storage node fields as the defaults leave them (literals, so that
    // nothing is lost when the record is zeroed again).
    vrktest::ResetGlobal();
    _sSMSLocal &s = spGlobal->sSMS;
    s.cpHost = const_cast<char *>("localhost");
    s.iPort = 11001;
    s.cpUser = const_cast<char *>("KORVA_SECURE_AUTHENTICATION");
    s.cpPassword = const_cast<char *>("");
    s.cpRemoteDir = const_cast<char *>(".");
    s.cpDevice = const_cast<char *>("");
    s.cpMode = const_cast<char *>("SHARE");
    s.cpInter = const_cast<char *>("none");
    for (char *&p : args_) p = reinterpret_cast<char *>(&args_);  // not NULL
  }
  void TearDown() override {
    FreeArgs();
    vrktest::ResetGlobal();
  }
  void FreeArgs() {
    for (char *&p : args_) {
      if (p != reinterpret_cast<char *>(&args_)) free(p);
      p = nullptr;
    }
  }
  int Gen(int rows = 16) {
    testing::internal::CaptureStderr();
    int rc = vrk_genargs(args_, rows);
    log_ = testing::internal::GetCapturedStderr();
    return rc;
  }
  std::string Host(const char *host, int port, BOOL expect = TRUE) {
    char out[VRK_GENARGS_LINE];
    strcpy(out, "junk");
    testing::internal::CaptureStderr();
    BOOL ok = GenServiceHostStr(host, port, out);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(expect, ok) << host;
    return out;
  }

  char *args_[16];
  std::string log_;
};

TEST_F(GenArgs, SlotsInOrderForThePlainHost) {
  strcpy(spGlobal->szDATAarg, "dummy");
  strcpy(spGlobal->szJobName, "job1");
  strcpy(spGlobal->sVRKMsgTarget.szHostName, "ctrl");
  spGlobal->sSMS.iLPortStart = 20000;
  spGlobal->sSMS.iLPortEnd = 20100;
  spGlobal->sSMS.cpPassword = const_cast<char *>("pw");
  ASSERT_EQ(0, Gen());
  const std::vector<std::string> expected = {
      "BSA_SERVICE_HOST=localhost:11001",
      "USER=KORVA_SECURE_AUTHENTICATION",
      "PASS=pw",
      ".",
      "dummy",
      "BSA_LOCAL_PORTRANGE=20000-20100",
      "KORVA_SERVER=ctrl",
      "KORVA_JOB=job1",
      "KORVA_POOL=",
      "KORVA_INTERPRETER=none",
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_NE(nullptr, args_[i]) << i;
    EXPECT_EQ(expected[i], args_[i]) << i;
  }
  for (int i = 10; i < 16; ++i) EXPECT_EQ(nullptr, args_[i]) << i;
}

TEST_F(GenArgs, ServiceHostEntries) {
  struct Case {
    const char *host;
    int port;
    const char *entry;
  } cases[] = {
      {"node1", 11001, "BSA_SERVICE_HOST=node1:11001"},
      {"https://node.example:8443/xbsa", 11001, "BSA_SERVICE_HOST=https://node.example:11001/xbsa"},
      {"http://node.example/xbsa/put", 8080, "BSA_SERVICE_HOST=http://node.example:8080/xbsa/put"},
      {"http://user@node:1/a?b=c", 443, "BSA_SERVICE_HOST=http://user@node:443/a?b=c"},
  };
  for (const Case &c : cases) EXPECT_EQ(c.entry, Host(c.host, c.port)) << c.host;
}

TEST_F(GenArgs, UriThatDoesNotParseOrFitFails) {
  EXPECT_EQ("", Host("http://[bad/x", 1, FALSE));
  EXPECT_EQ("", Host("http://node:port/x", 1, FALSE));
  // A relative reference has no host to put the port behind.
  EXPECT_EQ("", Host("node1/xbsa", 11001, FALSE));
  // The whole entry takes at most 256 bytes with its zero.
  const std::string head = "http://";
  const std::string tail = ":11001/";
  const size_t room = VRK_SERVICE_HOST_ENTRY - 1 - strlen("BSA_SERVICE_HOST=");
  const std::string fits = head + std::string(room - head.size() - tail.size(), 'h') + "/";
  EXPECT_EQ("BSA_SERVICE_HOST=" + head + std::string(room - head.size() - tail.size(), 'h') + tail,
            Host(fits.c_str(), 11001));
  const std::string tooLong = head + std::string(room - head.size() - tail.size() + 1, 'h') + "/";
  EXPECT_EQ("", Host(tooLong.c_str(), 11001, FALSE));

  // The session is not opened with an empty or cut address.
  spGlobal->sSMS.cpHost = const_cast<char *>(tooLong.c_str());
  EXPECT_EQ(-1, Gen());
  EXPECT_EQ(nullptr, args_[0]);
  EXPECT_NE(std::string::npos, log_.find("Error:")) << log_;
  FreeArgs();
  spGlobal->sSMS.cpHost = const_cast<char *>("http://[bad/x");
  EXPECT_EQ(-1, Gen());
  EXPECT_EQ(nullptr, args_[0]);
}

TEST_F(GenArgs, TapeRoadDeviceEntry) {
  spGlobal->sSMS.cpRemoteDir = const_cast<char *>("SMS");
  spGlobal->sSMS.cpDevice = const_cast<char *>("/dev/nst0");
  ASSERT_EQ(0, Gen());
  EXPECT_STREQ("SMS:/dev/nst0:SHARE:0", args_[3]);
  FreeArgs();
  spGlobal->sSMS.cpRemoteDir = const_cast<char *>("SMSX");
  ASSERT_EQ(0, Gen());
  EXPECT_STREQ("SMSX", args_[3]);
}

TEST_F(GenArgs, FewerThanFiveRowsFail) {
  EXPECT_EQ(-1, Gen(4));
  for (int i = 0; i < 4; ++i) EXPECT_NE(nullptr, args_[i]) << i;
  FreeArgs();
  EXPECT_EQ(0, Gen(5));
  EXPECT_STREQ(spGlobal->szDATAarg, args_[4]);
}

TEST_F(GenArgs, EntryThatDoesNotFitFails) {
  std::string user(VRK_GENARGS_LINE, 'u');
  spGlobal->sSMS.cpUser = &user[0];
  EXPECT_EQ(-1, Gen());
  EXPECT_NE(nullptr, args_[0]);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(nullptr, args_[i]) << i;
  EXPECT_NE(std::string::npos, log_.find("Error:")) << log_;
}

}  // namespace
