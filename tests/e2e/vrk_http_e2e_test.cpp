// End-to-end tests of vrk_nlm against the HTTP(S) test storage node: a whole
// tree backed up with -S http:// and https:// and restored from there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "../xbsa/xbsa_http_peer.h"
#include "backup_job.h"
#include "de_check.h"

namespace {

using e2e::BackupJob;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

using vrktest::Bytes;

void Write(const std::string &path, const std::string &data, int64_t mtime) {
  vrktest::WriteFileAt(path, data, mtime);
}

// Files below, at and above one read buffer, a link, nested directories.
void MakeTree(const std::string &src) {
  mkdir(src.c_str(), 0755);
  mkdir((src + "/sub").c_str(), 0750);
  mkdir((src + "/sub/deep").c_str(), 0755);
  Write(src + "/empty", "", 1100000000);
  Write(src + "/a.txt", "alpha\n", 1200000000);
  Write(src + "/exact", Bytes(65536, 1), 1300000000);
  Write(src + "/sub/big.bin", Bytes(5 * 1024 * 1024 + 333, 2), 1400000000);
  Write(src + "/sub/deep/c.bin", Bytes(200000, 3), 1500000000);
  if (symlink("../a.txt", (src + "/sub/link").c_str()) != 0) ADD_FAILURE() << "symlink";
}

std::string Diff(const std::map<std::string, decheck::Entry> &want, const std::map<std::string, decheck::Entry> &got) {
  std::string why;
  for (const auto &kv : want) {
    auto g = got.find(kv.first);
    if (g == got.end()) {
      why += kv.first + ": missing\n";
      continue;
    }
    if (g->second.kind != kv.second.kind) why += kv.first + ": kind differs\n";
    if (g->second.mode != kv.second.mode) why += kv.first + ": mode differs\n";
    if (g->second.data != kv.second.data) why += kv.first + ": data differs\n";
    if (kv.second.kind != 2 && g->second.mtime != kv.second.mtime) why += kv.first + ": time differs\n";
  }
  for (const auto &kv : got)
    if (!want.count(kv.first)) why += kv.first + ": not expected\n";
  return why;
}

class HttpRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(HttpRoundTrip, ATreeGoesToTheNodeAndComesBackByteForByte) {
  bool bTls = GetParam();
  if (bTls && !vrktest::TestCertificate::Get().ok()) GTEST_SKIP() << "no openssl command for the certificate";
  vrktest::HttpPeer node("{}", bTls);
  ASSERT_NE(0, node.port()) << node.output();
  BackupJob job;
  MakeTree(job.data() + "/src");

  Result r = job.Backup({"-l", "FULL", "-S", node.url(), "-O", "obj1", "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err << node.log() << node.output();
  EXPECT_NE(std::string::npos, node.log().find("-- stored ")) << node.log();
  EXPECT_NE(std::string::npos, node.log().find("XBSA-STOR: obj1")) << node.log();

  // The stored object holds the whole tree.
  std::string stored;
  for (const char *name : {"obj1", "obj1:"}) {
    stored = vrktest::ReadFile(node.root() + "/" + name);
    if (!stored.empty()) break;
  }
  ASSERT_FALSE(stored.empty()) << node.log();
  std::vector<decheck::Record> recs;
  std::vector<decheck::Occurrence> occ;
  std::string why;
  ASSERT_TRUE(decheck::ParseObject(stored, recs, why)) << why;
  ASSERT_TRUE(decheck::Occurrences(recs, occ, why)) << why;
  EXPECT_EQ("", decheck::CheckStored(occ, decheck::Tree(job.data()), false));

  struct stat st;
  EXPECT_EQ(0, stat(job.file("times/job.I").c_str(), &st)) << "a successful backup commits its marker";

  r = job.Run({"-r", "-N", kLogin, "-S", node.url(), "-O", "obj1", "-R", "/back"});
  EXPECT_EQ(0, r.exitCode()) << r.err << node.log();
  EXPECT_NE(std::string::npos, node.log().find("XBSA-RETR: obj1")) << node.log();
  EXPECT_EQ("", Diff(decheck::Tree(job.data() + "/src/"), decheck::Tree(job.data() + "/back/src/")));
}

INSTANTIATE_TEST_SUITE_P(Transport, HttpRoundTrip, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &p) { return p.param ? "Https" : "Http"; });

}  // namespace
