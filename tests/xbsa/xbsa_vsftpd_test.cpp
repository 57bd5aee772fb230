// The FTP-like transport against vsftpd as a real storage node: objects read
// back byte for byte through the client and through a plain FTP download.
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "xbsa_client.h"
#include "xbsa_peers.h"

using namespace vrktest;

namespace {

class XbsaVsftpdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!VsftpdPeer::Available()) GTEST_SKIP() << "vsftpd needs /usr/sbin/vsftpd, root and the ftp user";
    ResetXbsa(3);
  }
  void TearDown() override { xbsa_reset_library(); }
};

// A plain active-mode FTP download of incoming/<name>.
std::string PlainDownload(int port, const std::string &name, const TempDir &dir) {
  std::string out = dir.file("download");
  std::string script =
      "import ftplib,sys\n"
      "f=ftplib.FTP()\n"
      "f.connect('127.0.0.1'," + std::to_string(port) + ",timeout=30)\n"
      "f.login('anonymous','test@localhost')\n"
      "f.set_pasv(False)\n"
      "f.cwd('incoming')\n"
      "o=open(sys.argv[1],'wb')\n"
      "f.retrbinary('RETR " + name + "',o.write)\n"
      "o.close()\n"
      "f.quit()\n";
  WriteFile(dir.file("get.py"), script);
  std::string cmd = std::string(Python3()) + " " + dir.file("get.py") + " " + out + " >" + dir.file("get.out") + " 2>&1";
  if (system(cmd.c_str()) != 0) return "download failed: " + ReadFile(dir.file("get.out"));
  return ReadFile(out);
}

TEST_F(XbsaVsftpdTest, StoreAndReadBack) {
  VsftpdPeer node;
  ASSERT_TRUE(node.ready()) << node.log();
  const std::string data = TestData(1 << 20, 11);
  int start = RangeStart();
  struct Case {
    std::string name, range, host;
  } cases[] = {
      {"anyport", "0-0", "127.0.0.1:" + std::to_string(node.port())},
      {"ranged", std::to_string(start) + "-" + std::to_string(start + 40), "127.0.0.1:" + std::to_string(node.port())},
      {"byurl", "0-0", "ftp://127.0.0.1:" + std::to_string(node.port())},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ResetXbsa(3);
    std::vector<std::string> env = {"BSA_SERVICE_HOST=" + c.host, "USER=x", "PASS=y", "BSA_LOCAL_PORTRANGE=" + c.range};
    OpenResult w = OpenObject(true, env, c.name, "incoming");
    ASSERT_EQ(w.open, 0) << LastError() << node.log();
    EXPECT_EQ(SendAll(w.handle, data, 65536), 0);
    EXPECT_EQ(BSAEndData(w.handle), 0) << LastError();
    EXPECT_EQ(BSAEndTxn(w.handle, BSA_Vote_COMMIT), 0);
    EXPECT_EQ(BSATerminate(w.handle), 0);
    EXPECT_TRUE(ReadFile(node.incoming() + "/" + c.name) == data) << "stored file differs";

    ResetXbsa(3);
    OpenResult r = OpenObject(false, env, c.name, "incoming");
    ASSERT_EQ(r.open, 0) << LastError();
    std::string back;
    EXPECT_EQ(ReadAll(r.handle, &back, 65536), 18);
    EXPECT_EQ(BSAEndData(r.handle), 0) << LastError();
    EXPECT_EQ(BSATerminate(r.handle), 0);
    EXPECT_TRUE(back == data) << "read back " << back.size() << " of " << data.size();

    TempDir dl;
    EXPECT_TRUE(PlainDownload(node.port(), c.name, dl) == data);
  }
  // vsftpd took the secure login as an anonymous one.
  std::string log = node.log();
  EXPECT_NE(log.find("OK LOGIN"), std::string::npos) << log;
  EXPECT_NE(log.find("anon password \"" + std::string(getpwuid(getuid())->pw_name) + "@localhost\""),
            std::string::npos)
      << log;
}

TEST_F(XbsaVsftpdTest, MissingDirectoryEndsWithQuit) {
  VsftpdPeer node;
  ASSERT_TRUE(node.ready()) << node.log();
  OpenResult r = OpenObject(true, FtpEnv(node.port()), "obj", "no-such-dir");
  EXPECT_EQ(r.open, 77);
  EXPECT_NE(LastError().find("550"), std::string::npos);
  EXPECT_EQ(BSAEndData(r.handle), 3);
  EXPECT_EQ(BSATerminate(r.handle), 0);
  std::string log = node.log();
  EXPECT_NE(log.find("CWD no-such-dir"), std::string::npos) << log;
  EXPECT_EQ(log.find("STOR"), std::string::npos) << log;
}

TEST_F(XbsaVsftpdTest, MissingObjectCannotBeRead) {
  VsftpdPeer node;
  ASSERT_TRUE(node.ready()) << node.log();
  OpenResult r = OpenObject(false, FtpEnv(node.port()), "never-stored", "incoming");
  EXPECT_EQ(r.open, 77);
  EXPECT_NE(LastError().find("RETR failed. NEGATIVE reply: 550"), std::string::npos);
  EXPECT_EQ(BSAEndData(r.handle), 3);
  EXPECT_EQ(BSATerminate(r.handle), 0);
}

}  // namespace
