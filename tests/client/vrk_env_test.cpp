// Tests of the environment settings and the main ini file: keys, chaining
// with its depth bound and cycle check, pipes, long lines, CRLF and invalid numbers.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "client/vrk_env.h"
#include "client/vrk_inifile.h"
#include "runtime/bounded_read.h"
#include "vrk_client_fixture.h"

namespace {

using vrktest::TempDir;
using vrktest::WriteFile;

// Clears the variables that vrk_getenv reads, and restores them afterwards.
class Env : public vrktest::ClientTest {
 protected:
  void SetUp() override {
    vrktest::ClientTest::SetUp();
    for (const char *v : kVars) {
      const char *old = getenv(v);
      saved_.emplace_back(v, old ? std::string(old) : std::string("\x01"));
      unsetenv(v);
    }
  }
  void TearDown() override {
    vrk_set_read_wait(900);
    for (auto &s : saved_) {
      if (s.second == "\x01")
        unsetenv(s.first.c_str());
      else
        setenv(s.first.c_str(), s.second.c_str(), 1);
    }
    vrktest::ClientTest::TearDown();
  }
  std::string Run() {
    testing::internal::CaptureStderr();
    vrk_getenv();
    return testing::internal::GetCapturedStderr();
  }
  static constexpr const char *kVars[] = {"VRK_DATA_WAIT", "VRK_GEN_WAIT", "VRK_HDR_FMT",
                                          "VRK_HOME",      "VRK_DATABUF",  "KV_INI",
                                          "COLUMNS"};
  std::vector<std::pair<std::string, std::string>> saved_;
  TempDir dir_;
};

TEST_F(Env, VariablesOverrideDefaults) {
  setenv("KV_INI", "", 1);
  setenv("VRK_DATA_WAIT", "120", 1);
  setenv("VRK_GEN_WAIT", "60", 1);
  setenv("VRK_DATABUF", "4096", 1);
  setenv("VRK_HDR_FMT", "CPIO_ASCII", 1);
  setenv("VRK_HOME", "/opt/vrk", 1);
  std::string err = Run();
  EXPECT_EQ(120, spGlobal->iDataWait);
  EXPECT_EQ(60, spGlobal->iGenWait);
  EXPECT_EQ(4096, spGlobal->iDataBuf);
  EXPECT_EQ(HDR_CPIO_ASCII, spGlobal->eHdrFmt);
  EXPECT_STREQ("/opt/vrk", spGlobal->szVRKDir);
  // An empty KV_INI reads no ini file and says nothing about it.
  EXPECT_EQ(std::string::npos, err.find("vrk-3037"));
}

TEST_F(Env, UnknownFormatAndUnsetHome) {
  setenv("KV_INI", "", 1);
  setenv("VRK_HDR_FMT", "TAR", 1);
  Run();
  EXPECT_EQ(HDR_UNKNOWN, spGlobal->eHdrFmt);
  EXPECT_STREQ(".", spGlobal->szVRKDir);
}

// The leading decimal number counts, as the C library reads it; only a value
// of 0 or less, which would break the waits, keeps the default.
TEST_F(Env, WaitsAndBufferTakeTheirDecimalValue) {
  setenv("KV_INI", "", 1);
  struct Case {
    const char *text;
    int value;
  };
  const Case cases[] = {{"30s", 30}, {"12x", 12}, {" 45", 45}, {"+7", 7}, {"99999999999", INT_MAX}};
  for (const Case &c : cases) {
    spGlobal->iDataWait = spGlobal->iGenWait = 900;
    spGlobal->iDataBuf = 32768;
    spGlobal->sVRKObject.eOperStatus = STATUS_OK;
    setenv("VRK_DATA_WAIT", c.text, 1);
    setenv("VRK_GEN_WAIT", c.text, 1);
    setenv("VRK_DATABUF", c.text, 1);
    std::string err = Run();
    EXPECT_EQ(c.value, spGlobal->iDataWait) << c.text;
    EXPECT_EQ(c.value, spGlobal->iGenWait) << c.text;
    EXPECT_EQ(c.value, spGlobal->iDataBuf) << c.text;
    EXPECT_EQ(std::string::npos, err.find("Warning:")) << c.text << err;
    EXPECT_EQ(STATUS_OK, spGlobal->sVRKObject.eOperStatus) << c.text;
  }
}

TEST_F(Env, WaitsAndBufferMustBePositive) {
  setenv("KV_INI", "", 1);
  const char *bad[] = {"0", "-5", "abc", "-0", "x30"};
  for (const char *b : bad) {
    spGlobal->iDataWait = 900;
    spGlobal->iDataBuf = 32768;
    spGlobal->sVRKObject.eOperStatus = STATUS_OK;
    setenv("VRK_DATA_WAIT", b, 1);
    setenv("VRK_DATABUF", b, 1);
    std::string err = Run();
    EXPECT_EQ(900, spGlobal->iDataWait) << b;
    EXPECT_EQ(32768, spGlobal->iDataBuf) << b;
    EXPECT_NE(std::string::npos, err.find("Warning:")) << b;
  }
}

TEST_F(Env, ColumnsRaisedBelow220) {
  setenv("KV_INI", "", 1);
  Run();
  EXPECT_STREQ("220", getenv("COLUMNS"));
  setenv("COLUMNS", "80", 1);
  Run();
  EXPECT_STREQ("220", getenv("COLUMNS"));
  setenv("COLUMNS", "300", 1);
  Run();
  EXPECT_STREQ("300", getenv("COLUMNS"));
  setenv("COLUMNS", "", 1);
  Run();
  EXPECT_STREQ("", getenv("COLUMNS"));
}

TEST_F(Env, MissingIniFileKeepsDefaults) {
  std::string path = dir_.file("none.ini");
  setenv("KV_INI", path.c_str(), 1);
  std::string err = Run();
  EXPECT_NE(std::string::npos,
            err.find("Unable to open ini file [" + path + "]:[No such file or directory]. "
                     "Using default values."));
  EXPECT_STREQ("/korva/log", spGlobal->sDirs.cpLog);
}

TEST_F(Env, IniKeysWithEveryLineForm) {
  std::string ini = dir_.file("main.ini");
  WriteFile(ini,
            "gv_rw_vrk_log /var/log/korva\n"
            "gv_rw_vrk_times=/var/times\r\n"
            "gv_rw_work = /var/work\n"
            "gv_rw_ini\t/x\n"  // a tab is an ordinary character: no pair
            "gv_rw_tmp /var/tmp///\n"
            "gv_ro_bin /opt/bin\n"
            "gv_rw_kill_timeout 30\n"
            "version 4.2R1\n"
            "package_name korva-client extra words\n"
            "VRK_GEN_WAIT 77\n"
            "VRK_DATA_WAIT 88\n"
            "DB_CLIENTS notes,sql\n"
            "unknown value\n"
            "onlykey\n");
  setenv("KV_INI", ini.c_str(), 1);
  Run();
  _sVRKGlobal *g = spGlobal;
  EXPECT_STREQ("/var/log/korva", g->sDirs.cpLog);
  EXPECT_STREQ("/var/times", g->sDirs.cpTimes);
  EXPECT_STREQ("/var/work", g->sDirs.cpWork);
  EXPECT_EQ(nullptr, g->sDirs.cpIni);
  EXPECT_STREQ("/var/tmp", g->sDirs.cpTmp);
  EXPECT_STREQ("/opt/bin", g->sDirs.cpBin);
  EXPECT_EQ(30, g->iKillWait);
  EXPECT_STREQ("4.2R1", g->cpKorvaVersion);
  EXPECT_STREQ("korva-client", g->cpPackage);
  EXPECT_EQ(77, g->iGenWait);
  EXPECT_EQ(88, g->iDataWait);
  EXPECT_STREQ("notes,sql", g->szINI_DBClients);
}

TEST_F(Env, ChainedIniIsReadBeforeTheNextLine) {
  std::string main_ini = dir_.file("main.ini");
  std::string second = dir_.file("second.ini");
  WriteFile(second, "gv_rw_vrk_log /from/second\ngv_rw_work /second/work\n");
  WriteFile(main_ini, "gv_rw_vrk_log /from/main\nKV_INI " + second + "\ngv_rw_work /main/work\n");
  setenv("KV_INI", main_ini.c_str(), 1);
  Run();
  EXPECT_STREQ("/from/second", spGlobal->sDirs.cpLog);
  EXPECT_STREQ("/main/work", spGlobal->sDirs.cpWork);
}

TEST_F(Env, IniCycleIsDetected) {
  std::string a = dir_.file("a.ini");
  std::string b = dir_.file("b.ini");
  WriteFile(a, "KV_INI " + b + "\ngv_rw_work /a/work\n");
  WriteFile(b, "KV_INI " + a + "\ngv_rw_vrk_log /b/log\n");
  setenv("KV_INI", a.c_str(), 1);
  std::string err = Run();
  EXPECT_NE(std::string::npos, err.find("vrk-3037")) << err;
  EXPECT_STREQ("/b/log", spGlobal->sDirs.cpLog);
  EXPECT_STREQ("/a/work", spGlobal->sDirs.cpWork);
}

TEST_F(Env, ChainedIniThatNeverEndsIsRefused) {
  // /dev/zero never ends, a FIFO without a writer never delivers, a
  // directory cannot be read: each is refused and the job goes on.
  std::string fifo = dir_.file("fifo.ini");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  setenv("VRK_DATA_WAIT", "1", 1);
  struct Case {
    std::string target;
    std::string reason;
  } cases[] = {{"/dev/zero", "larger than 4194304 bytes"},
               {fifo, "a FIFO with no writer"},
               {dir_.path(), strerror(EISDIR)}};
  for (const Case &c : cases) {
    std::string ini = dir_.file("main.ini");
    WriteFile(ini, "KV_INI " + c.target + "\ngv_rw_work /after/work\n");
    setenv("KV_INI", ini.c_str(), 1);
    free(spGlobal->sDirs.cpWork);
    spGlobal->sDirs.cpWork = strdup("/korva/work");
    std::string err = Run();
    EXPECT_NE(std::string::npos, err.find("[" + c.target + "]:[" + c.reason + "]")) << c.target << ": " << err;
    EXPECT_STREQ("/after/work", spGlobal->sDirs.cpWork) << c.target;
  }
}

// The main ini file is read as every other configuration file: a FIFO whose
// writer is there delivers its lines, ends, and is taken.
TEST_F(Env, IniFromAFifoIsRead) {
  std::string fifo = dir_.file("main.ini");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  // A second reader lets the writer open without waiting and keeps what it
  // writes; the writer is at its end before the client opens the FIFO.
  int holder = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::thread writer([fd] {
    const std::string text = "gv_rw_work /from/fifo\nversion 7.1\n";
    ssize_t w = write(fd, text.data(), text.size());
    (void)w;
    close(fd);
  });
  setenv("KV_INI", fifo.c_str(), 1);
  setenv("VRK_DATA_WAIT", "20", 1);
  std::string err = Run();
  writer.join();
  close(holder);
  EXPECT_EQ(std::string::npos, err.find("vrk-3037")) << err;
  EXPECT_STREQ("/from/fifo", spGlobal->sDirs.cpWork);
  EXPECT_STREQ("7.1", spGlobal->cpKorvaVersion);
}

TEST_F(Env, ChainedIniLargerThanTheBoundIsRefused) {
  // One endless line, held whole while it is read.
  std::string big = dir_.file("big.ini");
  WriteFile(big, "gv_rw_log " + std::string(VRK_CONFIG_FILE_MAX, 'x'));
  std::string ini = dir_.file("main.ini");
  WriteFile(ini, "KV_INI " + big + "\ngv_rw_work /after/work\n");
  setenv("KV_INI", ini.c_str(), 1);
  std::string err = Run();
  EXPECT_NE(std::string::npos, err.find("[" + big + "]:[larger than 4194304 bytes]")) << err;
  EXPECT_STREQ("/after/work", spGlobal->sDirs.cpWork);
}

TEST_F(Env, IniChainDepthIsBounded) {
  // Each file names the next one: longer than the bound.
  const int files = VRK_INI_DEPTH_MAX + 4;
  for (int i = 0; i < files; ++i)
    WriteFile(dir_.file(std::to_string(i) + ".ini"),
              "KV_INI " + dir_.file(std::to_string(i + 1) + ".ini") + "\nversion v" +
                  std::to_string(i) + "\n");
  setenv("KV_INI", dir_.file("0.ini").c_str(), 1);
  std::string err = Run();
  EXPECT_NE(std::string::npos, err.find("too many ini files")) << err;
  EXPECT_STREQ("v0", spGlobal->cpKorvaVersion);
}

TEST_F(Env, LongIniLineIsRefusedWhole) {
  std::string ini = dir_.file("long.ini");
  std::string value = "/" + std::string(600, 'd') + " gv_rw_work /split";
  WriteFile(ini, "gv_rw_vrk_log " + value + "\ngv_rw_tmp /ok\n");
  setenv("KV_INI", ini.c_str(), 1);
  std::string err = Run();
  EXPECT_STREQ("/korva/log", spGlobal->sDirs.cpLog);
  EXPECT_STREQ("/korva/work", spGlobal->sDirs.cpWork);
  EXPECT_STREQ("/ok", spGlobal->sDirs.cpTmp);
  EXPECT_NE(std::string::npos, err.find("longer than 511 characters")) << err;
}

TEST_F(Env, IniWaitsMustBePositive) {
  std::string ini = dir_.file("w.ini");
  WriteFile(ini, "VRK_DATA_WAIT 0\nVRK_GEN_WAIT -3\n");
  setenv("KV_INI", ini.c_str(), 1);
  std::string err = Run();
  EXPECT_EQ(900, spGlobal->iDataWait);
  EXPECT_EQ(900, spGlobal->iGenWait);
  EXPECT_NE(std::string::npos, err.find("Warning:"));

  // A unit after the number is no fault: the number counts.
  WriteFile(ini, "VRK_DATA_WAIT=30s\nVRK_GEN_WAIT 45sec\n");
  spGlobal->sVRKObject.eOperStatus = STATUS_OK;
  err = Run();
  EXPECT_EQ(30, spGlobal->iDataWait);
  EXPECT_EQ(45, spGlobal->iGenWait);
  EXPECT_EQ(std::string::npos, err.find("Warning:")) << err;
  EXPECT_EQ(STATUS_OK, spGlobal->sVRKObject.eOperStatus);
}

TEST(GetValues, SplitsAtBlanksAndEquals) {
  struct {
    const char *line;
    int rc;
    const char *key;
    const char *value;
  } cases[] = {{"key value\n", 0, "key", "value"},   {"key=value", 0, "key", "value"},
               {"  key = value tail", 0, "key", "value"}, {"key\r\n", -1, nullptr, nullptr},
               {"\n", -1, nullptr, nullptr},          {"k\tv x", 0, "k\tv", "x"}};
  for (auto &c : cases) {
    std::string line(c.line);
    char *k, *v;
    EXPECT_EQ(c.rc, vrk_get_values(&line[0], &k, &v)) << c.line;
    if (c.rc == 0) {
      EXPECT_STREQ(c.key, k);
      EXPECT_STREQ(c.value, v);
    }
  }
}

}  // namespace
