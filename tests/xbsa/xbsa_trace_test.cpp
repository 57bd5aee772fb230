// Trace of the storage client: verbosity per entry point, line form, trace
// file, and the settings from BSASetTrace, BSAInit and the environment.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>

#include "runtime/password_mask.h"
#include "xbsa/xbsa_trace.h"
#include "vrk_test_util.h"
#include "xbsa_client.h"

using namespace vrktest;

namespace {

class XbsaTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xbsa_reset_library();
    TraceLines().clear();
    unsetenv("XBSA_TRACE");
    unsetenv("XBSA_LOGFILE");
    unsetenv("INFORMIXDIR");
  }
  void TearDown() override {
    if (sGlobal.hLogFile > 0) close(sGlobal.hLogFile);
    xbsa_reset_library();
    unsetenv("XBSA_TRACE");
    unsetenv("XBSA_LOGFILE");
    unsetenv("INFORMIXDIR");
  }
  TempDir dir_;
};

// Captures what is written to descriptor 2 while it lives.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string &path) : path_(path) {
    fflush(stderr);
    saved_ = dup(2);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
  }
  ~StderrCapture() { Restore(); }
  std::string Restore() {
    if (saved_ >= 0) {
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
    return ReadFile(path_);
  }

 private:
  std::string path_;
  int saved_ = -1;
};

void EmitAll() {
  xbsalog("log line");
  xbsalogtrace("logtrace line");
  xbsatrace("trace line");
  xbsadetailtrace("detail line");
}

TEST_F(XbsaTraceTest, VerbosityPerEntryPoint) {
  struct Case {
    unsigned char level;
    std::vector<std::string> expected;
  } cases[] = {
      {0, {"log line"}},
      {1, {"log line", "logtrace line"}},
      {2, {"log line", "logtrace line", "trace line"}},
      {3, {"log line", "logtrace line", "trace line", "detail line"}},
      {63, {"log line", "logtrace line", "trace line", "detail line"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE((int)c.level);
    TraceLines().clear();
    StderrCapture cap(dir_.file("stderr"));
    BSASetTrace(CollectTrace, nullptr, c.level);
    i_open_trace();
    EmitAll();
    EXPECT_EQ(TraceLines(), c.expected);
    EXPECT_EQ(cap.Restore(), "") << "no output switch: nothing on standard error";
    EXPECT_EQ(sGlobal.hLogFile, 0) << "and no trace file";
  }
}

TEST_F(XbsaTraceTest, FileLineFormAndTrailingLineEnds) {
  std::string path = dir_.file("t.log");
  BSASetTrace(CollectTrace, path.c_str(), 64 | 1);
  i_open_trace();
  ASSERT_GT(sGlobal.hLogFile, 0);
  xbsalog("first\r\n");
  xbsalog("second\n\r\n\n");
  xbsalogtrace("third %d", 3);
  xbsatrace("not at verbosity 1");
  std::string text = ReadFile(path);
  std::regex line(R"( \d{4}-\d\d-\d\d \d\d:\d\d:\d\d: \(XBSA\) (first|second|third 3)\n)");
  std::vector<std::string> got;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) got.push_back((*it)[1]);
  EXPECT_EQ(got, (std::vector<std::string>{"first", "second", "third 3"})) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  // The function gets the text alone, without its line ends.
  EXPECT_EQ(TraceLines()[0], "first");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  i_close_trace();
  EXPECT_EQ(sGlobal.hLogFile, 0);
}

TEST_F(XbsaTraceTest, ControlCharactersOfTheNodeAreEscapedEverywhere) {
  std::string path = dir_.file("t.log");
  BSASetTrace(CollectTrace, path.c_str(), 64 | 128 | 1);
  i_open_trace();
  StderrCapture cap(dir_.file("stderr"));
  xbsalog("LOGIN REPLY: %s", "421 \x1b[2J\x1b]0;owned\agone\r\n250 next\r\n");
  std::string err = cap.Restore();
  const std::string want = "LOGIN REPLY: 421 \\x1b[2J\\x1b]0;owned\\x07gone\\x0d\\x0a250 next";
  ASSERT_EQ(TraceLines().size(), 1u);
  EXPECT_EQ(TraceLines()[0], want);
  EXPECT_NE(err.find(want + "\n"), std::string::npos) << err;
  EXPECT_NE(ReadFile(path).find(want + "\n"), std::string::npos);
  i_close_trace();
}

// Whoever traces a credential, the library's trace (the installed
// function, standard error and the trace file) shows it masked.
TEST_F(XbsaTraceTest, NoCredentialFormPassesAnyTraceEntryPoint) {
  std::string path = dir_.file("t.log");
  BSASetTrace(CollectTrace, path.c_str(), 64 | 128 | 3);
  i_open_trace();
  StderrCapture cap(dir_.file("stderr"));
  const char *const kForms[] = {"owner USER=u:PASS=Osecret22", "url http://u:Usecret22@h:1/x",
                                "Send command: PASS Fsecret22", "Authorization: Basic Hsecret22",
                                "XBSA-PASS: Xsecret22"};
  for (const char *f : kForms) {
    xbsalog("%s", f);
    xbsalogtrace("%s", f);
    xbsatrace("%s", f);
    xbsadetailtrace("%s", f);
    xbsa_tracef("MOD", "%s", f);
  }
  std::string err = cap.Restore();
  i_close_trace();
  std::string all = err + ReadFile(path);
  for (const std::string &l : TraceLines()) all += l + "\n";
  EXPECT_EQ(all.find("secret22"), std::string::npos) << all;
  EXPECT_EQ(TraceLines().size(), 25u);
  for (const std::string &l : TraceLines()) EXPECT_NE(l.find("****"), std::string::npos) << l;
}

TEST_F(XbsaTraceTest, ExistingFileIsAppendedTo) {
  std::string path = dir_.file("old.log");
  WriteFile(path, "kept\n");
  chmod(path.c_str(), 0640);
  BSASetTrace(nullptr, path.c_str(), 64);
  i_open_trace();
  xbsalog("new");
  std::string text = ReadFile(path);
  EXPECT_EQ(text.rfind("kept\n", 0), 0u);
  EXPECT_NE(text.find("(XBSA) new\n"), std::string::npos);
}

TEST_F(XbsaTraceTest, ALinkAtTheTraceFileNameIsNotFollowed) {
  std::string victim = dir_.file("victim"), path = dir_.file("xbsa.log");
  WriteFile(victim, "kept\n");
  ASSERT_EQ(0, symlink(victim.c_str(), path.c_str()));
  BSASetTrace(nullptr, path.c_str(), 64);
  StderrCapture err(dir_.file("stderr"));
  i_open_trace();
  xbsalog("new");
  std::string text = err.Restore();
  EXPECT_EQ(sGlobal.hLogFile, -1);
  EXPECT_EQ("kept\n", ReadFile(victim));
  EXPECT_NE(text.find("XBSA trace file [" + path + "] not opened"), std::string::npos) << text;
}

TEST_F(XbsaTraceTest, LongTextIsCutAtTheEntryLimit) {
  BSASetTrace(CollectTrace, nullptr, 0);
  std::string big(5000, 'q');
  xbsalog("%s", big.c_str());
  ASSERT_EQ(TraceLines().size(), 1u);
  EXPECT_EQ(TraceLines()[0].size(), 1022u);
  // The scratch buffer is cleared after every line handed on.
  strcpy(sGlobal.cpTraceBuffer, "scratch");
  xbsalog("x");
  EXPECT_EQ(sGlobal.cpTraceBuffer[0], '\0');
}

TEST_F(XbsaTraceTest, EnvironmentNameReadsProcessEnvironment) {
  std::string path = dir_.file("env.log");
  setenv("XBSA_TRACE", "3", 1);
  setenv("XBSA_LOGFILE", path.c_str(), 1);
  BSASetTrace(CollectTrace, "ENVIRONMENT", 0);
  i_open_trace();
  EXPECT_EQ(sGlobal.ucXBSATraceLevel, 3 | 64);
  ASSERT_GT(sGlobal.hLogFile, 0);
  xbsadetailtrace("detail %s", "here");
  EXPECT_NE(ReadFile(path).find("(XBSA) detail here\n"), std::string::npos);
}

TEST_F(XbsaTraceTest, DefaultFileInCurrentDirectory) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  setenv("XBSA_TRACE", "1", 1);
  BSASetTrace(nullptr, "ENVIRONMENT", 0);
  i_open_trace();
  xbsalog("default");
  std::string text = ReadFile(dir_.file("xbsa.log"));
  EXPECT_EQ(chdir(cwd), 0);
  EXPECT_STREQ(sGlobal.szLogFile, "xbsa.log");
  EXPECT_NE(text.find("(XBSA) default\n"), std::string::npos);
}

TEST_F(XbsaTraceTest, InformixDefaultFileUnderInformixDir) {
  sGlobal.iComSession = 1;
  setenv("INFORMIXDIR", "/opt/informix", 1);
  i_SetDefaultLogFileName();
  EXPECT_STREQ(sGlobal.szLogFile, "/opt/informix/xbsa.log");
  setenv("INFORMIXDIR", "/opt/ifx/", 1);
  i_SetDefaultLogFileName();
  EXPECT_STREQ(sGlobal.szLogFile, "/opt/ifx/xbsa.log");
  unsetenv("INFORMIXDIR");
  i_SetDefaultLogFileName();
  EXPECT_STREQ(sGlobal.szLogFile, "/opt/ifx/xbsa.log") << "left unchanged";
}

TEST_F(XbsaTraceTest, ClientInstallationIgnoresProcessEnvironment) {
  setenv("XBSA_TRACE", "3", 1);
  setenv("XBSA_LOGFILE", dir_.file("never.log").c_str(), 1);
  BSASetTrace(CollectTrace, nullptr, 2);
  EXPECT_EQ(sGlobal.iReadTraceEnvironment, 0);
  i_open_trace();
  EXPECT_EQ(sGlobal.ucXBSATraceLevel, 2);
  EXPECT_EQ(access(dir_.file("never.log").c_str(), F_OK), -1);
}

TEST_F(XbsaTraceTest, InitArraySwitchesOnFileAndStandardError) {
  std::string path = dir_.file("init.log");
  BSASetTrace(CollectTrace, nullptr, 0);
  EnvArray e({"XBSA_TRACE=2", "XBSA_LOGFILE=" + path, "XBSA_TRACEX=9", "BSA_SERVICE_HOST=node:1"});
  BSA_ObjectOwner o = Owner(kSecureOwner());
  long h = 0;
  std::string err;
  {
    StderrCapture cap(dir_.file("stderr"));
    ASSERT_EQ(BSAInit(&h, nullptr, &o, e.get()), 0);
    err = cap.Restore();
  }
  EXPECT_EQ(sGlobal.ucXBSATraceLevel, 2 | 64 | 128);
  EXPECT_NE(err.find("(XBSA) BSAInit: Start.\n"), std::string::npos) << err;
  EXPECT_NE(err.find("(XBSA) BSAInit: End\n"), std::string::npos);
  std::string text = ReadFile(path);
  EXPECT_NE(text.find("(XBSA) BSAInit: End\n"), std::string::npos) << text;
  EXPECT_NE(text.find("(XBSA) BSAInit: check BSA_SERVICE_HOST=node:1\n"), std::string::npos) << "verbosity 2";
  EXPECT_TRUE(TraceHas("BSAInit: check XBSA_TRACE=2"));
  StderrCapture cap(dir_.file("stderr2"));
  EXPECT_EQ(BSATerminate(h), 0);
  cap.Restore();
  EXPECT_EQ(sGlobal.hLogFile, 0) << "BSATerminate closed the file";
}

TEST_F(XbsaTraceTest, TraceLevelsOfTheCalls) {
  // At verbosity 1 a session's banner and handle lines come, the checks of
  // the environment (verbosity 2) do not.
  BSASetTrace(CollectTrace, nullptr, 1);
  EnvArray e({"BSA_SERVICE_HOST=node:1"});
  BSA_ObjectOwner o = Owner(kSecureOwner());
  long h = 0;
  ASSERT_EQ(BSAInit(&h, nullptr, &o, e.get()), 0);
  EXPECT_TRUE(TraceHas("BSAInit: ZEM XBSA Version 4.2A1  "));
  EXPECT_TRUE(TraceHas("BSAInit: BSA Handle (session index) = 1, counter 1"));
  EXPECT_TRUE(TraceHas("BSAInit: Transfer protocol 'ftp' host 'node' port '1'"));
  EXPECT_FALSE(TraceHas("BSAInit: check"));
  EXPECT_FALSE(TraceHas("BSAInit: End"));
  EXPECT_EQ(BSABeginTxn(h), 0);
  EXPECT_TRUE(TraceHas("BSABeginTxn: Start, Input: bsaHandle = 1 "));
  EXPECT_FALSE(TraceHas("BSABeginTxn: End"));
  BSATerminate(h);
}

}  // namespace

namespace {

TEST(XbsaTracePasswordTest, PasswordsNeverReachTheTrace) {
  xbsa_reset_library();
  TraceLines().clear();
  BSASetTrace(CollectTrace, nullptr, 3);
  EnvArray e({"BSA_SERVICE_HOST=node:1", "USER=alice", "PASS=topsecret"});
  BSA_ObjectOwner o = Owner("USER=alice:PASS=topsecret");
  long h = 0;
  ASSERT_EQ(BSAInit(&h, nullptr, &o, e.get()), 0);
  EXPECT_FALSE(TraceHas("topsecret"));
  EXPECT_TRUE(TraceHas("BSAInit: check PASS=****"));
  EXPECT_TRUE(TraceHas("bsa_ObjectOwner = USER=alice:PASS=****"));
  EXPECT_EQ(vrk_mask_secrets("USER=a:PASS=b:c PASS=d"), "USER=a:PASS=****:c PASS=****");
  BSATerminate(h);
  xbsa_reset_library();
}

}  // namespace
