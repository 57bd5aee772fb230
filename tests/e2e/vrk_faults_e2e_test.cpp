// End-to-end tests of whole jobs under faults: storage nodes that die, fail
// or fall silent, a full device, a lost TSA connection, signals, and
// restores from damaged or random savesets.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "../xbsa/xbsa_http_peer.h"
#include "backup_job.h"
#include "e2e_files.h"
#include "de_check.h"
#include "watched_run.h"

namespace {

using e2e::BackupJob;
using e2e::Exists;
using e2e::Has;
using e2e::Leftovers;
using e2e::Names;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

using vrktest::Bytes;

void Write(const std::string &path, const std::string &data, int64_t mtime) {
  vrktest::WriteFileAt(path, data, mtime);
}

// data/src: small files around an 8 MiB one, so that a fault in the middle
// of the transfer falls inside a file.
void MakeTree(const std::string &data) {
  std::string src = data + "/src";
  mkdir(src.c_str(), 0755);
  mkdir((src + "/sub").c_str(), 0755);
  Write(src + "/a.txt", "alpha\n", 1200000000);
  Write(src + "/big.bin", Bytes(8 * 1024 * 1024 + 5, 1), 1300000000);
  Write(src + "/sub/c.bin", Bytes(300000, 2), 1400000000);
  Write(src + "/sub/d.txt", "delta\n", 1500000000);
}

// The reference-time markers a backup commits when it ends well.
bool MarkerCommitted(const BackupJob &job) {
  return Exists(job.file("times/job.I")) || Exists(job.file("times/job.D"));
}

std::string Diff(const std::map<std::string, decheck::Entry> &want, const std::map<std::string, decheck::Entry> &got) {
  std::string why;
  for (const auto &kv : want) {
    auto g = got.find(kv.first);
    if (g == got.end()) {
      why += kv.first + ": missing\n";
    } else if (g->second.kind != kv.second.kind || g->second.data != kv.second.data ||
               g->second.mode != kv.second.mode) {
      why += kv.first + ": differs\n";
    }
  }
  for (const auto &kv : got)
    if (!want.count(kv.first)) why += kv.first + ": not expected\n";
  return why;
}

std::vector<std::string> HttpBackup(const vrktest::HttpPeer &node) {
  return {"-l", "FULL", "-S", node.url(), "-O", "obj1", "/src"};
}

// A watch that acts once the storage node has logged `what`.
e2e::Watch WhenNodeLogs(const vrktest::HttpPeer &node, const std::string &what,
                        std::function<void(pid_t)> act) {
  return [&node, what, act](pid_t pid, const std::string &) {
    if (!Has(node.log(), what)) return false;
    act(pid);
    return true;
  };
}

TEST(FaultsE2E, TheStorageNodeKilledInTheMiddleOfAnUpload) {
  vrktest::HttpPeer node(R"({"stall_after": 3000000, "hold": 30})");
  ASSERT_NE(0, node.port()) << node.output();
  BackupJob job;
  MakeTree(job.data());
  vrktest::HttpPeer *pNode = &node;
  Result r = e2e::RunWatched(job, [&] {
    std::vector<std::string> a{"-b", "-j", "job", "-N", kLogin};
    for (const std::string &x : HttpBackup(node)) a.push_back(x);
    return a;
  }(), WhenNodeLogs(node, "-- stalled after", [pNode](pid_t) { pNode->Stop(); }));
  EXPECT_EQ(3, r.exitCode()) << r.status << r.err;
  // Whether the end meets a send or a receive, the message says so.
  EXPECT_TRUE(Has(r.err, "Transfer interrupted") || Has(r.err, "Failed sending data to the peer") ||
              Has(r.err, "the storage node ended the transfer"))
      << r.err;
  EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
  EXPECT_FALSE(MarkerCommitted(job));
}

TEST(FaultsE2E, StorageNodesThatFailOrFallSilent) {
  struct Case {
    const char *name;
    const char *script;
    std::vector<std::string> why;  // one of them in the job's messages
  } cases[] = {
      {"500 in the middle of the upload", R"({"fail_after": 2000000, "status": 500})", {"Server return code 500"}},
      // The reset meets either a send or a receive.
      {"connection reset in the middle", R"({"cut_after": 2000000})",
       {"Perform: Transfer interrupted", "Failed sending data to the peer"}},
      {"stops reading", R"({"stall_after": 2000000, "hold": 60})", {"no answer from the storage node within 2 seconds"}},
      {"never answers the end", R"({"hold_response": true, "hold": 60})",
       {"no answer from the storage node within 2 seconds"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    vrktest::HttpPeer node(c.script);
    ASSERT_NE(0, node.port()) << node.output();
    BackupJob job;
    // A short data wait: the silent node must end the job within it.
    vrktest::WriteFile(job.file("korva.ini"), vrktest::ReadFile(job.file("korva.ini")) + "VRK_DATA_WAIT=2\n");
    MakeTree(job.data());
    Result r = job.Backup(HttpBackup(node));
    EXPECT_EQ(3, r.exitCode()) << r.status << r.err;
    bool said = false;
    for (const std::string &w : c.why) said = said || Has(r.err, w);
    EXPECT_TRUE(said) << r.err;
    EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
    EXPECT_FALSE(MarkerCommitted(job));
  }
}

// A file system of 16 KiB mounted for a test (root only); unmounted when
// the test ends, failed or not.
class SmallFs {
 public:
  explicit SmallFs(const std::string &dir) : dir_(dir) {
    mkdir(dir.c_str(), 0755);
    ok_ = geteuid() == 0 && mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16k") == 0;
  }
  ~SmallFs() {
    if (ok_) umount(dir_.c_str());
  }
  SmallFs(const SmallFs &) = delete;
  SmallFs &operator=(const SmallFs &) = delete;
  bool ok() const { return ok_; }

 private:
  std::string dir_;
  bool ok_ = false;
};

TEST(FaultsE2E, ALocalSavesetOnAFullDevice) {
  struct Case {
    const char *name;
    bool smallFs;  // else /dev/full, which fails the first write
  } cases[] = {
      {"/dev/full", false},
      // The new saveset is gathered whole (far less than 64 KiB) and fails
      // only at its last write, when the stream is closed: the old one,
      // which fits beside it, stays.
      {"a file system that fills at the last write", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BackupJob job;
    std::string saveset = "/dev/full", before;
    if (!c.smallFs) {
      if (!Exists("/dev/full")) continue;
      MakeTree(job.data());
    }
    SmallFs fs(job.file("small"));
    if (c.smallFs) {
      if (!fs.ok()) continue;  // not root, or no mount here
      saveset = job.file("small/saveset");
      mkdir((job.data() + "/src").c_str(), 0755);
      for (int i = 0; i < 3; ++i) Write(job.data() + "/src/f" + std::to_string(i), Bytes(1500, i), 1300000000);
      Result good = job.Backup({"-l", "FULL", "-s", "@" + saveset, "/src"});
      ASSERT_EQ(0, good.exitCode()) << good.err;
      before = vrktest::ReadFile(saveset);
      for (int i = 0; i < 4; ++i) Write(job.data() + "/src/g" + std::to_string(i), Bytes(2000, i), 1300000000);
    }
    Result r = job.Backup({"-l", "FULL", "-s", "@" + saveset, "/src"});
    EXPECT_EQ(3, r.exitCode()) << r.status << r.err;
    EXPECT_TRUE(Has(r.err, "Cannot write to remote archive: [No space left on device]")) << r.err;
    if (c.smallFs) {
      EXPECT_TRUE(vrktest::ReadFile(saveset) == before) << "the saveset changed";
      EXPECT_EQ(std::set<std::string>({"saveset"}), Names(job.file("small")));
    } else {
      EXPECT_FALSE(MarkerCommitted(job));
    }
  }
}

TEST(FaultsE2E, ATsaConnectionLostInTheMiddleOfAFileLosesNothing) {
  // Reads: the parent, a.txt, then big.bin in blocks of 64 KiB.
  BackupJob job("lose NWSMTSReadDataSet = 40 0xFFFDFFAF\n");
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  EXPECT_EQ(1, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Fail Over / Fail Back...")) << r.err;
  EXPECT_TRUE(Has(r.err, "Write end of file index record for item [/src/big.bin")) << r.err;

  job.SetWorld("");
  r = job.Run({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/back"});
  // The copy of big.bin cut by the fail-over is stored too, ended by its
  // marker: it is discarded, the whole copy behind it is restored, and the
  // restore counts no loss.
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Incomplete copy of [")) << r.err;
  EXPECT_TRUE(Has(r.err, "Not processed or incorrectly processed items: [0]")) << r.err;
  EXPECT_EQ("", Diff(decheck::Tree(job.data() + "/src/"), decheck::Tree(job.data() + "/back/src/"))) << r.err;
  EXPECT_EQ(std::set<std::string>({"src", "back"}), Names(job.data()));
}

TEST(FaultsE2E, SignalsInTheMiddleOfATransfer) {
  struct Case {
    int sig;
    bool endsBySignal;
  } cases[] = {{SIGINT, false}, {SIGTERM, true}, {SIGHUP, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sig);
    vrktest::HttpPeer node(R"({"stall_after": 3000000, "hold": 30})");
    ASSERT_NE(0, node.port()) << node.output();
    BackupJob job;
    MakeTree(job.data());
    std::vector<std::string> a{"-b", "-j", "job", "-N", kLogin};
    for (const std::string &x : HttpBackup(node)) a.push_back(x);
    int sig = c.sig;
    Result r = e2e::RunWatched(job, a, WhenNodeLogs(node, "-- stalled after", [sig](pid_t pid) { kill(pid, sig); }));
    if (c.endsBySignal) {
      EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == c.sig) << r.status << r.err;
    } else {
      EXPECT_EQ(3, r.exitCode()) << r.status << r.err;
      EXPECT_TRUE(Has(r.err, "Termination signal received!")) << r.err;
    }
    EXPECT_FALSE(Has(r.err, "Operation successful")) << r.err;
    EXPECT_FALSE(MarkerCommitted(job));
  }
}

// The state letter of a process in /proc ('T' when it stands stopped), or
// '?' when it is gone.
char ProcessState(pid_t pid) {
  std::string stat = vrktest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

// A nightly script runs two jobs; the client shares the script's process
// group (the script has one of its own). The signal that ends the first job
// leaves the script, which goes on with the next one.
TEST(FaultsE2E, ASignalThatEndsOneJobLeavesTheScriptThatStartedIt) {
  for (int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    BackupJob job;
    MakeTree(job.data());
    vrktest::WriteFile(job.file("world.plain"), vrktest::ReadFile(job.file("world")));
    // The first job stands still in its first read until the test lets it go.
    job.SetWorld("stop NWSMTSReadDataSet = 1\n");
    const std::string client = VRK_TEST_BINARY_DIR "/src/engine/vrk_nlm";
    const std::string jobArgs = std::string(" -N '") + kLogin + "' -l FULL /src";
    const std::string script = "cd '" + job.path() + "' || exit 9\n" +
                               "exec 2>script.err\n"
                               "'" + client + "' -b -j first -s @first.sset" + jobArgs + " 2>first.err &\n" +
                               "echo $! > client.pid\n"
                               "wait $!\n"
                               "echo \"first $?\" > first.end\n"
                               "VRK_SMS_WORLD=world.plain '" + client + "' -b -j next -s @next.sset" + jobArgs +
                               " 2>next.err\n"
                               "echo \"next $?\" > next.end\n";
    std::vector<std::string> env{"VRK_SMS_WORLD=" + job.file("world"), "KV_INI=" + job.file("korva.ini"),
                                 "KORVA_INI=" + job.file("none.ini"), "VRK_TEST_DELAY_SCALE=0.001",
                                 "PATH=/usr/bin:/bin"};
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      std::vector<char *> envp;
      for (std::string &e : env) envp.push_back(&e[0]);
      envp.push_back(nullptr);
      execle("/bin/sh", "sh", "-c", script.c_str(), (char *)nullptr, envp.data());
      _exit(121);
    }
    ASSERT_GT(pid, 0);
    setpgid(pid, pid);
    // The client stands stopped in the stand-in; every wait has its guard.
    pid_t clientPid = 0;
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 12000 && !ended; ++i) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      if (clientPid == 0) {
        std::string text = vrktest::ReadFile(job.file("client.pid"));
        if (!text.empty() && text.back() == '\n') clientPid = (pid_t)std::stoi(text);
      }
      if (clientPid > 0 && ProcessState(clientPid) == 'T') {
        kill(clientPid, sig);
        kill(clientPid, SIGCONT);
        break;
      }
      usleep(10000);
    }
    ASSERT_FALSE(ended) << "the script ended before the signal: " << status << "\n"
                        << vrktest::ReadFile(job.file("first.err"));
    ASSERT_GT(clientPid, 0);
    for (int i = 0; i < 12000 && !ended; ++i) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) usleep(10000);
    }
    if (!ended) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ("first " + std::to_string(128 + sig) + "\n", vrktest::ReadFile(job.file("first.end")));
    EXPECT_EQ("next 0\n", vrktest::ReadFile(job.file("next.end"))) << vrktest::ReadFile(job.file("next.err"));
    EXPECT_FALSE(Exists(job.file("first.sset")));
    EXPECT_TRUE(Exists(job.file("next.sset")));
  }
}

TEST(FaultsE2E, RestoresFromDamagedOrRandomSavesets) {
  BackupJob job;
  MakeTree(job.data());
  Result r = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
  ASSERT_EQ(0, r.exitCode()) << r.err;
  std::string whole = vrktest::ReadFile(job.saveset());
  size_t bigAt = whole.find("big.bin");
  ASSERT_NE(std::string::npos, bigAt);
  struct Case {
    const char *what;
    std::string object;
  } cases[] = {
      {"truncated inside a file", whole.substr(0, bigAt + 3000000)},
      {"one bit flipped in a file", whole},
      {"random bytes", Bytes(300000, 7)},
      {"random bytes behind a valid leading marker", std::string("\0\0\xff\xff\xff\xff\0\0", 8) + Bytes(300000, 8)},
  };
  cases[1].object[bigAt + 4000000] ^= 0x10;
  std::map<std::string, decheck::Entry> source = decheck::Tree(job.data() + "/src/");
  std::set<std::string> jobFiles = Names(job.file(""));
  std::set<std::string> want{"src"};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    vrktest::WriteFile(job.saveset(), c.object);
    std::string target = "t" + std::to_string(&c - cases);
    r = job.Run({"-r", "-N", kLogin, "-s", "@" + job.saveset(), "-R", "/" + target});
    EXPECT_EQ(3, r.exitCode()) << r.status << r.err;
    // Nothing outside the target, nothing half-written inside it: every
    // file there is a whole copy of its source.
    if (Exists(job.data() + "/" + target)) want.insert(target);
    EXPECT_EQ(want, Names(job.data()));
    EXPECT_EQ(jobFiles, Names(job.file("")));
    EXPECT_EQ("", Leftovers(job.data()));
    if (!Exists(job.data() + "/" + target + "/src")) continue;
    for (const auto &kv : decheck::Tree(job.data() + "/" + target + "/src/")) {
      auto s = source.find(kv.first);
      if (kv.second.kind == 2) continue;
      EXPECT_TRUE(s != source.end() && s->second.data == kv.second.data) << kv.first;
    }
  }
  EXPECT_FALSE(Exists(job.data() + "/t1/src/big.bin")) << "the flipped copy is never put in place";
}

}  // namespace
