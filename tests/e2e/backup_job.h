// A backup job of the end-to-end tests: a run directory with the main ini
// file, a stand-in world over a source tree and its call log, and the client
// binary run in a process group of its own, watched by the test if it likes.
#ifndef VRK_TESTS_E2E_BACKUP_JOB_H
#define VRK_TESTS_E2E_BACKUP_JOB_H

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "test_user.h"
#include "vrk_test_util.h"

extern char **environ;

namespace e2e {

struct Result {
  int status = -1;
  std::string out, err;
  int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

// Called with the client's pid and what it wrote to standard error so far;
// true once it has done its work (it is not called again).
using Watch = std::function<bool(pid_t, const std::string &)>;

// A child set-up that limits the size of every file the client writes to
// `bytes`, as `ulimit -f` in a shell or LimitFSIZE in a unit does, and leaves
// SIGXFSZ at its default action, as they do: a client that did not see to it
// itself would be killed by its first write past the limit.
inline std::function<void()> FileSizeLimit(rlim_t bytes) {
  return [bytes] {
    signal(SIGXFSZ, SIG_DFL);
    struct rlimit rl = {bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &rl);
  };
}

class BackupJob {
 public:
  // worldExtra goes into the [world] section (faults, switches); tsaExtra
  // into the TSA section.
  explicit BackupJob(const std::string &worldExtra = "", const std::string &tsaExtra = "") {
    for (const char *d : {"tmp", "times", "log", "data"}) mkdir(dir_.file(d).c_str(), 0755);
    vrktest::WriteFile(dir_.file("korva.ini"), "gv_rw_tmp=" + dir_.file("tmp") + "\n" +
                                                   "gv_rw_vrk_times=" + dir_.file("times") + "\n" +
                                                   "gv_rw_vrk_log=" + dir_.file("log") + "\n");
    SetWorld(worldExtra, tsaExtra);
  }
  void SetWorld(const std::string &worldExtra, const std::string &tsaExtra = "") {
    vrktest::WriteFile(dir_.file("world"), "[world]\nlog = " + dir_.file("calls.log") + "\nstate = " +
                                               dir_.file("state") + "\n" + worldExtra +
                                               "[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = " +
                                               dir_.file("data") + "\n" + tsaExtra);
  }
  std::string file(const std::string &name) const { return dir_.file(name); }
  std::string path() const { return dir_.path(); }

  // Later runs of the client are made as the user, who is given the job's
  // directory (everything in it so far) to work in.
  bool RunAs(const TestUser &u) {
    runAs_ = u;
    asUser_ = true;
    return GiveTree(dir_.path(), u);
  }
  // Runs in the client's process just before the client starts (a umask,
  // standard descriptors closed).
  void SetChildSetup(const std::function<void()> &fn) { childSetup_ = fn; }
  std::string data() const { return dir_.file("data"); }
  std::string saveset() const { return dir_.file("saveset"); }

  // Lines of the call log for one operation.
  std::vector<std::string> Calls(const std::string &op) const {
    std::vector<std::string> out;
    std::istringstream in(vrktest::ReadFile(dir_.file("calls.log")));
    std::string line;
    while (std::getline(in, line))
      if (line.compare(0, op.size() + 1, op + "(") == 0) out.push_back(line);
    return out;
  }

  // The number of the open for restore of `name` (a parent's full name, a
  // child's terminal name) in the call log of the runs so far: where a later
  // run of the same restore is stopped.
  int OpenNumber(const std::string &name) const {
    std::vector<std::string> opens = Calls("NWSMTSOpenDataSetForRestore");
    for (size_t i = 0; i < opens.size(); ++i)
      if (opens[i].find("name=\"" + name + "\"") != std::string::npos) return (int)i + 1;
    return 0;
  }

  // The client run with args, stopping itself at call k of the operation op:
  // atStop runs while it stands (sends it a signal, changes the tree, lets it
  // go on). The world is worldExtra again afterwards.
  Result RunStopped(const std::vector<std::string> &args, const std::string &op, int k,
                    const std::function<void(pid_t)> &atStop, const std::string &worldExtra = "") {
    SetWorld(worldExtra + "stop " + op + " = " + std::to_string(k) + "\n");
    const std::string stopped = "stop " + op + " call " + std::to_string(k);
    Result r = Run(args, [&](pid_t pid, const std::string &) {
      if (vrktest::ReadFile(dir_.file("calls.log")).find(stopped) == std::string::npos) return false;
      atStop(pid);
      return true;
    });
    SetWorld(worldExtra);
    return r;
  }

  // vrk_nlm -b with the SMS login, the job name "job" and the arguments.
  Result Backup(const std::vector<std::string> &args) const {
    std::vector<std::string> a{"-b", "-j", "job", "-N", "srv1:srv1.Linux File System:srv1:u:p:0"};
    a.insert(a.end(), args.begin(), args.end());
    return Run(a);
  }

  // The client with the job's world and ini files, in a process group of its
  // own (a stray signal hits nothing else); a watch, when given, is asked
  // every few milliseconds until it answers true. Two minutes without a byte
  // from the client count as a hang: the group is killed.
  // stdinFd, when not -1, becomes the client's standard input and is closed
  // here once the client has it; extraEnv comes first in the client's
  // environment, so its entries win over the ones set here.
  Result Run(const std::vector<std::string> &args, const Watch &watch = Watch(), int stdinFd = -1,
             const std::vector<std::string> &extraEnv = {}) const {
    const char *binary = VRK_TEST_BINARY_DIR "/src/engine/vrk_nlm";
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return Result();
    std::vector<std::string> env(extraEnv);
    for (char **e = environ; *e; ++e) {
      std::string v = *e;
      if (v.rfind("VRK_", 0) == 0 || v.rfind("KV_INI=", 0) == 0 || v.rfind("KORVA_INI=", 0) == 0) continue;
      env.push_back(v);
    }
    env.push_back("VRK_SMS_WORLD=" + dir_.file("world"));
    env.push_back("KV_INI=" + dir_.file("korva.ini"));
    env.push_back("KORVA_INI=" + dir_.file("none.ini"));
    env.push_back("VRK_TEST_DELAY_SCALE=0.001");
    // Truncate the call log of an earlier run.
    vrktest::WriteFile(dir_.file("calls.log"), "");
    if (asUser_ && chown(dir_.file("calls.log").c_str(), runAs_.uid, runAs_.gid) != 0) return Result();
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      if (asUser_ && !BecomeUser(runAs_)) _exit(122);
      if (chdir(dir_.path().c_str()) != 0) _exit(120);
      dup2(outPipe[1], STDOUT_FILENO);
      dup2(errPipe[1], STDERR_FILENO);
      int devnull = open("/dev/null", O_RDONLY);
      dup2(stdinFd >= 0 ? stdinFd : devnull, STDIN_FILENO);
      for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], devnull}) close(fd);
      if (childSetup_) childSetup_();
      std::vector<char *> argv{const_cast<char *>(binary)};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      std::vector<char *> envp;
      for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
      envp.push_back(nullptr);
      execve(binary, argv.data(), envp.data());
      _exit(121);
    }
    // Also here, so that a signal sent at once reaches the group.
    setpgid(pid, pid);
    if (stdinFd >= 0) close(stdinFd);
    close(outPipe[1]);
    close(errPipe[1]);
    Result r;
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool watched = !watch;
    int idleMs = 0;
    while (open > 0) {
      int stepMs = watched ? 1000 : 20;
      int n = poll(fds, 2, stepMs);
      if (!watched) watched = watch(pid, r.err);
      if (n == 0) {
        idleMs += stepMs;
        if (idleMs >= 120000) {
          kill(-pid, SIGKILL);
          break;
        }
        continue;
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      idleMs = 0;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
        char buf[65536];
        ssize_t got = read(fds[i].fd, buf, sizeof(buf));
        if (got <= 0) {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
          continue;
        }
        (i == 0 ? r.out : r.err).append(buf, (size_t)got);
      }
    }
    for (struct pollfd &f : fds)
      if (f.fd >= 0) close(f.fd);
    waitpid(pid, &r.status, 0);
    return r;
  }

 private:
  vrktest::TempDir dir_;
  TestUser runAs_;
  bool asUser_ = false;
  std::function<void()> childSetup_;
};

}  // namespace e2e

#endif
