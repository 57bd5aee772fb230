// End-to-end table of storage nodes that try to hold, flood or steer a job:
// foreign data connections, replies that never end, oversized replies and
// escape sequences, each run through the binary against the scripted nodes.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "../xbsa/xbsa_http_peer.h"
#include "../xbsa/xbsa_peers.h"
#include "backup_job.h"
#include "e2e_files.h"

namespace {

using e2e::BackupJob;
using e2e::Has;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

void MakeTree(const std::string &data) {
  std::string src = data + "/src";
  mkdir(src.c_str(), 0755);
  vrktest::WriteFile(src + "/a.txt", "alpha\n");
  vrktest::WriteFile(src + "/b.bin", std::string(300000, 'b'));
}

// Everything the job wrote into its log directory.
std::string JobLogs(const BackupJob &job) { return e2e::FilesText(job.file("log")); }

bool HasControlBytes(const std::string &text) {
  for (unsigned char c : text) {
    if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
  }
  return false;
}

double Seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Case {
  const char *name;
  bool http;          // else the FTP-like node
  bool restore;       // else a backup
  std::string script;
  std::string why;    // in the job's messages
  bool traced;        // run with the storage client's trace (-v 5)
  std::string traceLine;  // then also in the messages ("" for none)
  int maxTraceLines = 0;  // when not 0: the trace line shows at most that often
};

TEST(HostileNodeE2E, EndsTheJobInTimeWithTheReason) {
  const std::string kEscapes = "\\u001b[2J\\u001b]0;owned\\u0007\\u001b[31m";
  const Case cases[] = {
      {"data connection from another address", false, false, R"({"foreign_data": "only", "hold": 30})",
       "no data connection within 2 seconds", true, "data connection from 127.0.0.2:"},
      {"data connections from another address as fast as they go", false, false, R"({"foreign_data": "flood"})",
       "no data connection within 2 seconds", true, "data connection from 127.0.0.2:", 8},
      {"continuation lines for ever", false, false, R"({"endless_reply": {"USER": 0.3}})",
       "No complete reply from the storage node within 2 seconds", false, ""},
      {"continuation lines as fast as they go", false, false, R"({"endless_reply": {"PASS": 0}})",
       "reply exceeds 65536 bytes or 512 lines", false, ""},
      {"escape sequences in the greeting", false, false, R"({"greeting": ["421 )" + kEscapes + R"(gone"]})",
       "421 \\x1b[2J\\x1b]0;owned\\x07\\x1b[31mgone", true, "LOGIN REPLY: 421 \\x1b[2J"},
      {"stalled RETR", false, true, R"({"stall_data_after": 1000, "hold": 30})",
       "no data from the storage node within 2 seconds", false, ""},
      {"one header line a second", true, false, R"({"header_trickle": 0.5})",
       "response headers did not end within 2 seconds", false, ""},
      {"one header line a second on a download", true, true, R"({"header_trickle": 0.5})",
       "response headers did not end within 2 seconds", false, ""},
      {"100 Continue for ever", true, false, R"({"endless_continue": 0.2})",
       "response headers did not end within 2 seconds", false, ""},
      // 64 bytes every 0.1 s reach the size bound only after 100 seconds.
      {"an upload's answer body trickles for ever", true, false, R"({"body_trickle": 0.1})",
       "response did not end within 2 seconds", false, ""},
      {"an upload's answer body flows for ever", true, false, R"({"body_trickle": 0})",
       "response body exceeds 65536 bytes", false, ""},
      {"escape sequences in the Reply", true, false, R"({"reply": "520 )" + kEscapes + R"(full"})",
       "520 \\x1b[2J\\x1b]0;owned\\x07\\x1b[31mfull", true, "BSAHTTPHeaderCallback: Reply: 520 \\x1b[2J"},
      {"a Reply of 100 KB", true, false, R"({"reply": ")" + std::string(100000, 'y') + R"("})",
       "response headers exceed 65536 bytes", false, ""},
      // The value is kept up to the reply buffer's 1,536 bytes (the message
      // that shows it has its own bound).
      {"a Reply of 5 KB", true, false, R"({"reply": "520 )" + std::string(5000, 'y') + R"("})",
       "520 " + std::string(1400, 'y'), false, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    // A short data wait: every node below must end the job within a few.
    vrktest::WriteFile(job.file("korva.ini"), vrktest::ReadFile(job.file("korva.ini")) + "VRK_DATA_WAIT=2\n");
    MakeTree(job.data());
    std::unique_ptr<vrktest::FtpPeer> ftp;
    std::unique_ptr<vrktest::HttpPeer> http;
    std::string server;
    if (c.http) {
      http.reset(new vrktest::HttpPeer(c.script));
      ASSERT_NE(0, http->port()) << http->output();
      server = http->url();
    } else {
      ftp.reset(new vrktest::FtpPeer(c.script));
      ASSERT_NE(0, ftp->port()) << ftp->output();
      server = "127.0.0.1:" + std::to_string(ftp->port());
    }
    if (c.restore) {
      // The object the hostile node serves: stored by a well-behaved one.
      Result stored = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
      ASSERT_EQ(0, stored.exitCode()) << stored.err;
      std::string object = vrktest::ReadFile(job.saveset());
      if (c.http) {
        http->Put(".", "obj1:", object);
      } else {
        vrktest::WriteFile(ftp->root() + "/obj1:", object);
      }
    }
    std::vector<std::string> args;
    if (c.restore) {
      args = {"-r", "-N", kLogin, "-S", server, "-d", ".", "-O", "obj1", "-R", "/back"};
    } else {
      args = {"-b", "-j", "job", "-N", kLogin, "-l", "FULL", "-S", server, "-d", ".", "-O", "obj1", "/src"};
    }
    // The job log too must show no raw control character.
    args.insert(args.begin() + 1, {"-L", "LOCAL"});
    if (c.traced) args.insert(args.begin() + 1, {"-v", "5"});
    double t0 = Seconds();
    Result r = job.Run(args);
    double took = Seconds() - t0;
    EXPECT_EQ(3, r.exitCode()) << r.status << r.err;
    EXPECT_TRUE(Has(r.err, c.why)) << r.err;
    if (!c.traceLine.empty()) {
      EXPECT_TRUE(Has(r.err, c.traceLine)) << r.err;
    }
    if (c.maxTraceLines > 0) {
      int lines = 0;
      for (size_t p = r.err.find(c.traceLine); p != std::string::npos; p = r.err.find(c.traceLine, p + 1)) ++lines;
      EXPECT_LE(lines, c.maxTraceLines) << r.err;
    }
    // Far more than the few data waits it may take: only a hang passes it.
    EXPECT_LT(took, 60.0) << r.err;
    EXPECT_FALSE(HasControlBytes(r.err)) << r.err;
    std::string logs = JobLogs(job);
    EXPECT_TRUE(Has(logs, c.why)) << logs;
    EXPECT_FALSE(HasControlBytes(logs));
    EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
  }
}

}  // namespace
