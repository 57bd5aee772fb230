// Tests of the client's signal handler, each in a child process in its own
// process group so that a fault that signals "the group" can hit nothing else.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "client/vrk_global.h"
#include "client/vrk_signal.h"
#include "runtime/x_run.h"
#include "xbsa/xbsa_session.h"
#include "vrk_test_util.h"

namespace {

struct ChildResult {
  int status = 0;
  std::string err;
};

// Runs body in a child (own process group, stderr captured, 10 s alarm as a
// guard against a handler that loops); its result is the exit status.
ChildResult RunChild(const std::function<int()> &body) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    signal(SIGALRM, SIG_DFL);
    alarm(10);
    vrktest::ResetGlobal();
    int rc = body();
    _exit(rc);
  }
  close(fds[1]);
  ChildResult r;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0) r.err.append(buf, (size_t)n);
  close(fds[0]);
  waitpid(pid, &r.status, 0);
  return r;
}

void Install(int iSig) {
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_sigaction = vrk_sigaction_handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART | SA_SIGINFO;
  sigaction(iSig, &sa, nullptr);
}

int Count(const std::string &s, const std::string &part) {
  int n = 0;
  for (size_t p = s.find(part); p != std::string::npos; p = s.find(part, p + 1)) ++n;
  return n;
}

bool PipeIgnored() {
  struct sigaction cur;
  sigaction(SIGPIPE, nullptr, &cur);
  return cur.sa_handler == SIG_IGN;
}

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

}  // namespace

TEST(SignalHandler, AlarmOnlySetsTheFlagAndWritesNothing) {
  ChildResult r = RunChild([] {
    Install(SIGALRM);
    alarm(0);
    raise(SIGALRM);
    return spGlobal->iAlarm == 1 && spGlobal->sVRKObject.iSigRecv == 0 && PipeIgnored() ? 0 : 1;
  });
  EXPECT_TRUE(ExitedWith(r.status, 0)) << r.status;
  EXPECT_EQ(r.err, "");
}

// With the generator fields never set (all zero, as on the "-i" road), SIGINT
// must not signal process id 0 (the whole group, the client included).
TEST(SignalHandler, InterruptWithUnsetGeneratorFieldsStopsOnlyTheClient) {
  ChildResult r = RunChild([] {
    spGlobal->sVRKObject.iVrkPid = (int)getpid();
    Install(SIGINT);
    raise(SIGINT);
    return spGlobal->sVRKObject.iSigRecv == 1 && PipeIgnored() ? 0 : 1;
  });
  EXPECT_TRUE(ExitedWith(r.status, 0)) << r.status << "\n" << r.err;
  EXPECT_EQ(Count(r.err, "vrk-1028: Error:    Termination signal received!"), 1) << r.err;
  EXPECT_EQ(Count(r.err, "Received signal [2] from pid ["), 1) << r.err;
}

TEST(SignalHandler, BrokenPipeWithUnsetGeneratorKillsNothing) {
  ChildResult r = RunChild([] {
    spGlobal->sVRKObject.iVrkPid = (int)getpid();
    Install(SIGPIPE);
    raise(SIGPIPE);
    // The first SIGPIPE switched SIGPIPE off: a second one is ignored.
    raise(SIGPIPE);
    return spGlobal->sVRKObject.iSigRecv == 1 && PipeIgnored() ? 0 : 1;
  });
  EXPECT_TRUE(ExitedWith(r.status, 0)) << r.status << "\n" << r.err;
  EXPECT_EQ(Count(r.err, "Received signal [13]"), 1) << r.err;
}

TEST(SignalHandler, InterruptStopsARunningGenerator) {
  ChildResult r = RunChild([] {
    pid_t gen = fork();
    if (gen == 0) {
      signal(SIGINT, SIG_DFL);
      for (;;) pause();
    }
    spGlobal->sVRKObject.iVrkPid = (int)getpid();
    spGlobal->sVRKObject.iGenPid = (int)gen;
    Install(SIGINT);
    raise(SIGINT);
    int st = 0;
    waitpid(gen, &st, 0);
    return WIFSIGNALED(st) && WTERMSIG(st) == SIGINT ? 0 : 1;
  });
  EXPECT_TRUE(ExitedWith(r.status, 0)) << r.status << "\n" << r.err;
}

TEST(SignalHandler, InterruptInAnotherProcessOnlyLogsTheSignal) {
  ChildResult r = RunChild([] {
    spGlobal->sVRKObject.iVrkPid = (int)getpid() + 1;  // the client is another process
    Install(SIGINT);
    raise(SIGINT);
    return spGlobal->sVRKObject.iSigRecv == 0 ? 0 : 1;
  });
  EXPECT_TRUE(ExitedWith(r.status, 0)) << r.status << "\n" << r.err;
  EXPECT_EQ(Count(r.err, "Received signal [2]"), 1) << r.err;
  EXPECT_EQ(Count(r.err, "1028"), 0) << r.err;
}

// The storage library holds two sessions with real sockets, as a running
// transfer leaves them: handle 1, and handle 71, which took the slot that
// handle 7 would have (handles 2 to 6 hold the others). SIGINT may shut only
// the sockets of the client's own open handle.
TEST(SignalHandler, InterruptWithoutAnOpenStorageHandleClosesNoSocket) {
  struct Case {
    long clientHandle;
    bool firstShut, laterShut;
  } cases[] = {{0, false, false}, {7, false, false}, {71, false, true}, {1, true, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.clientHandle);
    ChildResult r = RunChild([&c] {
      xbsa_reset_library();
      int first[2][2], later[2][2];  // [data, control][own end, peer end]
      for (auto *pair : {first[0], first[1], later[0], later[1]})
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 2;
      _sSession *one = xbsa_take_slot(1);
      for (long h = 2; h <= 6; ++h) xbsa_take_slot(h);
      _sSession *seventyOne = xbsa_take_slot(71);
      if (one == nullptr || seventyOne != &sSession[6]) return 3;
      one->SData = first[0][0];
      one->SControl = first[1][0];
      seventyOne->SData = later[0][0];
      seventyOne->SControl = later[1][0];
      spGlobal->sVRKObject.iVrkPid = (int)getpid();
      spGlobal->lBSAHandle = (int32_t)c.clientHandle;
      Install(SIGINT);
      raise(SIGINT);
      // A shut socket shows its peer the end at once; an open one has nothing.
      auto shut = [](int peer) {
        char b;
        return recv(peer, &b, 1, MSG_DONTWAIT) == 0;
      };
      bool firstShut = shut(first[0][1]) && shut(first[1][1]);
      bool firstOpen = !shut(first[0][1]) && !shut(first[1][1]);
      bool laterShut = shut(later[0][1]) && shut(later[1][1]);
      bool laterOpen = !shut(later[0][1]) && !shut(later[1][1]);
      if (spGlobal->sVRKObject.iSigRecv != 1) return 4;
      if (c.firstShut ? !firstShut : !firstOpen) return 5;
      if (c.laterShut ? !laterShut : !laterOpen) return 6;
      return 0;
    });
    EXPECT_TRUE(ExitedWith(r.status, 0)) << r.status << "\n" << r.err;
    EXPECT_EQ(Count(r.err, "Termination signal received!"), 1) << r.err;
  }
}

TEST(SignalHandler, TerminateAndHangUpEndTheProcessByTheSignal) {
  for (int iSig : {SIGTERM, SIGHUP}) {
    ChildResult r = RunChild([iSig] {
      spGlobal->sVRKObject.iVrkPid = (int)getpid();
      Install(iSig);
      raise(iSig);
      for (int i = 0; i < 100; ++i) usleep(10000);
      return 0;
    });
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == iSig) << iSig << " " << r.status;
    EXPECT_EQ(Count(r.err, "Received signal [" + std::to_string(iSig) + "]"), 1) << r.err;
  }
}

// The caller (a script, say) shares the client's process group: SIGTERM and
// SIGHUP end the client, its generator and the program it waits for, and
// leave the caller, which sees every one of them ended by the signal.
TEST(SignalHandler, TerminateAndHangUpEndWhatTheClientStartedButNotItsCaller) {
  for (int iSig : {SIGTERM, SIGHUP}) {
    ChildResult r = RunChild([iSig] {
      // The caller: orphans of the client come back to it to be waited for.
      if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return 2;
      pid_t client = fork();
      if (client == 0) {
        pid_t gen = fork();
        if (gen == 0) {
          for (;;) pause();
        }
        spGlobal->sVRKObject.iVrkPid = (int)getpid();
        spGlobal->sVRKObject.iGenPid = (int)gen;
        Install(iSig);
        // The program the client runs sends the client the signal itself.
        X_RUN_REQUEST req;
        req.argv = {"sh", "-c", "kill -" + std::to_string(iSig) + " $PPID; exec sleep 30"};
        x_RunProgram(req);
        _exit(0);
      }
      int st = 0;
      if (waitpid(client, &st, 0) != client || !WIFSIGNALED(st) || WTERMSIG(st) != iSig) return 3;
      int ended = 0;
      pid_t p;
      while ((p = waitpid(-1, &st, 0)) > 0) {
        if (!WIFSIGNALED(st) || WTERMSIG(st) != iSig) return 4;
        ++ended;
      }
      return ended == 2 ? 0 : 5;
    });
    EXPECT_TRUE(ExitedWith(r.status, 0)) << iSig << " " << r.status << "\n" << r.err;
  }
}

TEST(SignalHandler, UserSignalRaisesTheLogLevelAndWrapsAfterSix) {
  ChildResult r = RunChild([] {
    Install(SIGUSR1);
    spGlobal->iLogLevel = 5;
    raise(SIGUSR1);
    if (spGlobal->iLogLevel != 6) return 1;
    raise(SIGUSR1);
    return spGlobal->iLogLevel == 0 ? 0 : 1;
  });
  EXPECT_TRUE(ExitedWith(r.status, 0)) << r.status << "\n" << r.err;
  EXPECT_NE(r.err.find("Received signal. Set loglevel from 5 to 6"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Received signal. Set loglevel from 6 to 0"), std::string::npos) << r.err;
}
