// End-to-end tests of vrk_nlm against stand-in worlds: exit status of every
// road, the session name, browsing, connect and login tries, and signals.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "vrk_test_util.h"

extern char **environ;

namespace {

const char *const kBinary = VRK_TEST_BINARY_DIR "/src/engine/vrk_nlm";
const char *const kTsa = "srv1.Linux File System";

struct Result {
  int status = -1;
  std::string out, err;
  int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
  int signal() const { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }
};

std::vector<int> Delays(const std::string &err) {
  std::vector<int> out;
  const std::string key = "Delay  ";
  for (size_t p = err.find(key); p != std::string::npos; p = err.find(key, p + 1))
    out.push_back(atoi(err.c_str() + p + key.size()));
  return out;
}

// A run directory with the main ini file, a stand-in world and its call log.
class Job {
 public:
  explicit Job(const std::string &world = "") {
    for (const char *d : {"tmp", "times", "log", "data"}) mkdir(dir_.file(d).c_str(), 0755);
    vrktest::WriteFile(dir_.file("korva.ini"), "gv_rw_tmp=" + dir_.file("tmp") + "\n" +
                                                   "gv_rw_vrk_times=" + dir_.file("times") + "\n" +
                                                   "gv_rw_vrk_log=" + dir_.file("log") + "\n");
    std::string body = world.empty() ? "[smdr srv1]\n[tsa srv1.Linux File System]\n"
                                       "resource / = @DATA@\n"
                                     : world;
    size_t p;
    while ((p = body.find("@DATA@")) != std::string::npos) body.replace(p, 6, dir_.file("data"));
    vrktest::WriteFile(dir_.file("world"), "[world]\nlog = " + dir_.file("calls.log") + "\n" + body);
    vrktest::WriteFile(dir_.file("saveset"), "");
  }
  std::string file(const std::string &name) const { return dir_.file(name); }
  std::vector<std::string> Calls(const std::string &op) const {
    std::vector<std::string> out;
    std::istringstream in(vrktest::ReadFile(dir_.file("calls.log")));
    std::string line;
    while (std::getline(in, line))
      if (line.compare(0, op.size() + 1, op + "(") == 0) out.push_back(line);
    return out;
  }
  // Runs the client in a process group of its own; onErr sees the standard
  // error read so far and may signal the client (returns true once done).
  Result Run(const std::vector<std::string> &args, const std::string &scale = "0.001",
             const std::function<bool(pid_t, const std::string &)> &onErr = nullptr) const {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
      std::string v = *e;
      if (v.rfind("VRK_", 0) == 0 || v.rfind("KV_INI=", 0) == 0 || v.rfind("KORVA_INI=", 0) == 0)
        continue;
      env.push_back(v);
    }
    env.push_back("VRK_SMS_WORLD=" + dir_.file("world"));
    env.push_back("KV_INI=" + dir_.file("korva.ini"));
    env.push_back("KORVA_INI=" + dir_.file("none.ini"));
    env.push_back("VRK_TEST_DELAY_SCALE=" + scale);
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      if (chdir(dir_.path().c_str()) != 0) _exit(120);
      dup2(outPipe[1], STDOUT_FILENO);
      dup2(errPipe[1], STDERR_FILENO);
      int devnull = open("/dev/null", O_RDONLY);
      dup2(devnull, STDIN_FILENO);
      for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], devnull}) close(fd);
      std::vector<char *> argv{const_cast<char *>(kBinary)};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      std::vector<char *> envp;
      for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
      envp.push_back(nullptr);
      execve(kBinary, argv.data(), envp.data());
      _exit(121);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    Result r;
    bool done = onErr == nullptr;
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
      if (poll(fds, 2, 60000) <= 0) {
        kill(pid, SIGKILL);
        break;
      }
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
        char buf[4096];
        ssize_t n = read(fds[i].fd, buf, sizeof(buf));
        if (n <= 0) {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
          continue;
        }
        (i == 0 ? r.out : r.err).append(buf, (size_t)n);
        if (i == 1 && !done) done = onErr(pid, r.err);
      }
    }
    waitpid(pid, &r.status, 0);
    return r;
  }

 private:
  vrktest::TempDir dir_;
};

std::string Line(const std::string &name) {
  return "\"" + name + "\" d_ 2000.01.01 00:00:00 2000.01.01 00:00:00 4096 - ,\n";
}

std::string NOption(const std::string &user, const std::string &password,
                    const std::string &tsa = kTsa) {
  return "srv1:" + tsa + ":srv1:" + user + ":" + password + ":0";
}

}  // namespace

TEST(BrowseRoads, RootPrintsOneLineWithoutConnecting) {
  Job job;
  Result r = job.Run({"-D", "/"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_EQ(r.out, Line("/NetWare"));
  EXPECT_EQ(job.Calls("NWSMConnectToTSA").size(), 0u);
}

TEST(BrowseRoads, TsaLevelPrintsTheSortedTsasAndExits) {
  Job job(
      "[smdr srv1]\n"
      "[tsa srv1.Linux File System]\nresource / = @DATA@\n"
      "[tsa srv1.GroupWise TSA]\nresource / = @DATA@\n"
      "[tsa srv1.Apache TSA]\nresource / = @DATA@\n");
  Result r = job.Run({"-D", "//NetWare"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_EQ(r.out, Line("srv1.Apache TSA") + Line("srv1.GroupWise TSA") +
                       Line("srv1.Linux File System"));
  EXPECT_EQ(job.Calls("NWSMConnectToTSA").size(), 0u);
  EXPECT_NE(r.err.find("Requested TSA List was printed"), std::string::npos);
}

// A listing never gets its status from the counters: nothing listed is no error.
TEST(BrowseRoads, ResourceLevelConnectsAndEndsWithZero) {
  Job job;
  Result r = job.Run({"-D", std::string("/NetWare/") + kTsa});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_EQ(job.Calls("NWSMConnectToTSA").size(), 1u);
}

TEST(InteractiveRoad, OnlyArgumentConnectsAndEndsWithThree) {
  Job job;
  Result r = job.Run({"-i"});
  EXPECT_EQ(r.exitCode(), 3) << r.err;
  EXPECT_EQ(r.out.rfind("Entering interactive mode", 0), 0u) << r.out;
  EXPECT_NE(r.err.find("Backup start time ["), std::string::npos);
  EXPECT_NE(r.err.find("Starting Session \"KORVA VRK_NLM Session\" ..."), std::string::npos);
  // No option handling: no banner line.
  EXPECT_EQ(r.err.find("vrk-3036"), std::string::npos) << r.err;
  // No SMDR is given: the TSAs of the default SMDR are listed, the empty TSA
  // name takes the first of them, and the session connects and ends at once.
  std::vector<std::string> lists = job.Calls("NWSMListTSAs");
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_NE(lists[0].find("pattern=\".*\""), std::string::npos) << lists[0];
  std::vector<std::string> connects = job.Calls("NWSMConnectToTSA");
  ASSERT_EQ(connects.size(), 1u) << r.err;
  EXPECT_NE(connects[0].find(std::string("tsa=\"") + kTsa + "\""), std::string::npos) << connects[0];
  EXPECT_EQ(r.err.find("Connection denied."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Delay  "), std::string::npos) << r.err;
  EXPECT_EQ(job.Calls("NWSMTSReleaseTargetService").size(), 1u);
}

TEST(InteractiveRoad, WithOtherArgumentsItIsTheInformationOption) {
  Job job;
  Result r = job.Run({"-D", "-i", "info", "/"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_EQ(r.out, Line("/NetWare"));
}

TEST(ExitStatus, RoadsWithoutItems) {
  Job job;
  std::string ss = "@" + job.file("saveset");
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"-p", "-s", ss, "/etc/hostname"}, 3},
      {{"-g", "-s", ss, job.file("got")}, 3},
      {{"-k"}, 3},
      {{"-h"}, 0},
      {{"-b", "-h"}, 1},
      {{"-b", "-l", "FULL", "-j", "job", "-s", "@NULL", job.file("data")}, 3},
  };
  for (const Case &c : cases) {
    Result r = job.Run(c.args);
    EXPECT_EQ(r.exitCode(), c.status) << c.args[0] << "\n" << r.err;
  }
  // The backup saved nothing: no marker was committed.
  struct stat st;
  EXPECT_NE(stat(job.file("times/job.I").c_str(), &st), 0);
}

TEST(ExitStatus, PutAndGetConnectAndLogIn) {
  Job job;
  Result r = job.Run({"-p", "-s", "@" + job.file("saveset"), "/etc/hostname"});
  EXPECT_EQ(r.exitCode(), 3);
  EXPECT_NE(r.err.find("Connection established"), std::string::npos) << r.err;
  ASSERT_EQ(job.Calls("NWSMReleaseTSA").size(), 1u);
}

TEST(ExitStatus, KillEndsInTheArgumentCheckWithoutASession) {
  Job job;
  Result r = job.Run({"-k"});
  EXPECT_EQ(r.exitCode(), 3);
  EXPECT_NE(r.err.find("Error:    Error(s) in arguments - vrk_nlm exiting."), std::string::npos);
  EXPECT_EQ(r.err.find("Starting Session"), std::string::npos);
  EXPECT_EQ(job.Calls("NWSMConnectToTSA").size(), 0u);
}

TEST(SessionName, JobNameIsCutTo24Characters) {
  Job job;
  std::string ss = "@" + job.file("saveset");
  Result r = job.Run({"-p", "-j", std::string(30, 'j'), "-s", ss, "/etc/hostname"});
  EXPECT_NE(r.err.find("Starting Session \"" + std::string(24, 'j') + "\" ..."), std::string::npos)
      << r.err;
  r = job.Run({"-p", "-s", ss, "/etc/hostname"});
  EXPECT_NE(r.err.find("Starting Session \"KORVA VRK_NLM Session\" ..."), std::string::npos);
}

TEST(ConnectRoad, FiveConnectTriesWithFourBoundedPauses) {
  struct Case {
    std::vector<std::string> args;
    int hi;
  } cases[] = {{{"-p", "-s", "@saveset", "/etc/hostname"}, 10500},
               {{"-D", std::string("/NetWare/") + kTsa}, 1500}};
  for (const Case &c : cases) {
    Job job("fail_connect = 9\n[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n");
    Result r = job.Run(c.args);
    EXPECT_EQ(job.Calls("NWSMConnectToTSA").size(), 5u);
    std::vector<int> d = Delays(r.err);
    ASSERT_EQ(d.size(), 4u) << r.err;
    for (int v : d) {
      EXPECT_GE(v, 500);
      EXPECT_LE(v, c.hi);
    }
    EXPECT_NE(r.err.find("Connection denied."), std::string::npos);
    EXPECT_EQ(r.exitCode(), 3);
  }
}

TEST(ConnectRoad, LoginDenied) {
  Job job("[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\nuser ADMIN = secret\n");
  Result r = job.Run({"-p", "-N", NOption("ADMIN", "wrong"), "-s", "@saveset", "/etc/hostname"});
  EXPECT_EQ(r.exitCode(), 3);
  EXPECT_NE(r.out.find("\nLogin denied"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Connection denied."), std::string::npos);
  EXPECT_EQ(job.Calls("NWSMTSConnectToTargetServiceEx").size(), 10u);  // UTF-8 and raw, 5 times
  EXPECT_EQ(Delays(r.err).size(), 4u);
  EXPECT_EQ(job.Calls("NWSMReleaseTSA").size(), 1u);
}

TEST(ConnectRoad, GivenCredentialsLogIn) {
  Job job("[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\nuser backup = s3cret\n");
  Result r = job.Run({"-p", "-N", NOption("backup", "s3cret"), "-s", "@saveset", "/etc/hostname"});
  EXPECT_NE(r.err.find("Connection established"), std::string::npos) << r.err;
  ASSERT_EQ(job.Calls("NWSMTSConnectToTargetServiceEx").size(), 1u);
  EXPECT_NE(job.Calls("NWSMTSConnectToTargetServiceEx")[0].find("user=\"backup\""),
            std::string::npos);
}

TEST(ConnectRoad, RefusedTsaName) {
  Job job;
  Result r = job.Run({"-p", "-N", NOption("", "", "nosuch.Other TSA"), "-s", "@saveset",
                      "/etc/hostname"});
  EXPECT_EQ(r.exitCode(), 3);
  std::vector<std::string> calls = job.Calls("NWSMConnectToTSA");
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_NE(calls[0].find("= 0xFFFDFFBA"), std::string::npos) << calls[0];
  EXPECT_NE(r.err.find("\"Invalid or inactive TSA specified\""), std::string::npos);
}

// The real pauses (scale 1): the signal arrives during the first one.
TEST(Signals, TerminateAndHangUpEndTheClientByTheSignal) {
  for (int iSig : {SIGTERM, SIGHUP}) {
    Job job("fail_connect = 9\n[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n");
    Result r = job.Run({"-p", "-s", "@saveset", "/etc/hostname"}, "1",
                       [iSig](pid_t pid, const std::string &err) {
                         if (err.find("Delay  ") == std::string::npos) return false;
                         kill(pid, iSig);
                         return true;
                       });
    EXPECT_EQ(r.signal(), iSig) << r.status << "\n" << r.err;
    EXPECT_EQ(r.err.find("Exiting."), std::string::npos);
  }
}

TEST(Signals, InterruptStopsTheConnectTries) {
  Job job("fail_connect = 9\n[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n");
  Result r = job.Run({"-p", "-s", "@saveset", "/etc/hostname"}, "1",
                     [](pid_t pid, const std::string &err) {
                       if (err.find("Delay  ") == std::string::npos) return false;
                       kill(pid, SIGINT);
                       return true;
                     });
  EXPECT_EQ(r.exitCode(), 3) << r.status << "\n" << r.err;
  EXPECT_LT(job.Calls("NWSMConnectToTSA").size(), 5u);
  EXPECT_NE(r.err.find("Termination signal received!"), std::string::npos);
  EXPECT_NE(r.err.find("Connection denied."), std::string::npos);
}

// The "-i" road runs without defaults: the generator fields are 0, and an
// interrupt must stop only the connect tries, not signal the process group.
// The TSA refuses the connects so that there are tries to stop.
TEST(Signals, InterruptOnTheInteractiveRoadEndsWithThree) {
  Job job("fail_connect = 5\n[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n");
  Result r = job.Run({"-i"}, "1", [](pid_t pid, const std::string &err) {
    if (err.find("Delay  ") == std::string::npos) return false;
    kill(pid, SIGINT);
    return true;
  });
  EXPECT_EQ(r.exitCode(), 3) << r.status << "\n" << r.err;
  EXPECT_EQ(r.signal(), 0);
  EXPECT_LT(job.Calls("NWSMConnectToTSA").size(), 5u);
  EXPECT_NE(r.err.find("Exiting."), std::string::npos);
}

// An option error prints the banner, the message, the help text and the
// system description, and ends the run with 3 before any connection.
TEST(ExitStatus, OptionErrorsPrintTheHelpAndEndWith3) {
  Job job;
  struct Case {
    std::vector<std::string> args;
    std::string message;
    bool banner = true;  // the banner line precedes the message
  } cases[] = {
      {{"-b", "-Q"}, "vrk-1002: Error:    Unrecognized option: -Q."},
      // A missing last argument counts as an unknown option.
      {{"-b", "-l"}, "vrk-1002: Error:    Unrecognized option: -l."},
      {{"-b", "-l", "-x"}, "vrk-1001: Error:    Option -l requires an argument."},
      {{"-b", "-B", "0", "/x"}, "vrk-1038: Error:    Invalid argument [0] for switch -B."},
      // Restore typos that would otherwise land on the original files.
      {{"-r", "-o", "overwrite", "-R"}, "vrk-1002: Error:    Unrecognized option: -R."},
      {{"-r", "-R", "-o", "overwrite"}, "vrk-1001: Error:    Option -R requires an argument."},
      {{"-r", "-o", "overwrite", "-R", ""}, "vrk-1038: Error:    Invalid argument [] for switch -R."},
      {{"-r", "-o", "overwrite", "-R", "/restored==::=="},
       "vrk-1038: Error:    Invalid argument [/restored==::==] for switch -R."},
      {{"-r", "-o", "overwrte"}, "vrk-1038: Error:    Invalid argument [OVERWRTE] for switch -o."},
      // A word that is no level: no message of its own, the help and the rest.
      {{"-b", "-l", "inkr", "/x"}, "vrk-3000: Info:     \nusage:", false},
      {{"-b", "-j", "-b", "/x"}, "vrk-1001: Error:    Option -j requires an argument."},
      {{"-j", "job", "-b", "/x"}, "vrk-1004: Error:    Invalid function."},
      {{"-b", "-j", std::string(5000, 'j'), "/x"}, "for switch -j."},
  };
  for (const Case &c : cases) {
    Result r = job.Run(c.args);
    std::string line;
    for (const std::string &a : c.args) line += a.substr(0, 40) + " ";
    SCOPED_TRACE(line);
    EXPECT_EQ(r.exitCode(), 3) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("vrk-3036: Info:     # ") != std::string::npos, c.banner) << r.err;
    if (!c.banner) {
      EXPECT_EQ(r.err.find("vrk-10"), std::string::npos) << r.err;
    }
    EXPECT_NE(r.err.find("vrk-3019: Info:     OS info:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Error(s) in arguments - vrk_nlm exiting."), std::string::npos) << r.err;
    EXPECT_EQ(job.Calls("NWSMConnectToTSA").size(), 0u);
  }
}
