// The client's signal handler. It only sets flags, shuts down the storage
// client's sockets, stops generator children and ends the client and what it
// started on SIGTERM and SIGHUP; its log lines go through the signal-safe logger.
#include "client/vrk_signal.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "client/vrk_global.h"
#include "client/vrk_saveset_file.h"
#include "runtime/vrk_log.h"
#include "runtime/x_run.h"
#include "xbsa/xbsa.h"

namespace {

// Async-signal-safe text building: fixed pieces and decimal numbers.
struct SigText {
  char buf[160];
  size_t len = 0;
  void put(const char *s) {
    while (*s && len + 1 < sizeof(buf)) buf[len++] = *s++;
    buf[len] = '\0';
  }
  void num(long v) {
    char d[24];
    int n = 0;
    bool neg = v < 0;
    unsigned long u = neg ? 0UL - (unsigned long)v : (unsigned long)v;
    do {
      d[n++] = (char)('0' + u % 10);
      u /= 10;
    } while (u != 0 && n < 22);
    if (neg) put("-");
    char out[24];
    for (int i = 0; i < n; ++i) out[i] = d[n - 1 - i];
    out[n] = '\0';
    put(out);
  }
};

// Generator children and streams, each only when it is really set: a zero
// process id would name the whole process group.
void stop_generator(_sVRKObject *obj, int iKillSignal, bool bKillFirst) {
  if (bKillFirst && obj->iGenPid > 0) kill((pid_t)obj->iGenPid, iKillSignal);
  if (obj->fdGen != nullptr) {
    pclose(obj->fdGen);
    obj->fdGen = nullptr;
  }
  if (obj->iGen > 0) {
    close(obj->iGen);
    obj->iGen = -1;
  }
  if (!bKillFirst && obj->iGenPid > 0) kill((pid_t)obj->iGenPid, iKillSignal);
}

// The generator and the program the client waits for get the signal that
// ends the client; only async-signal-safe calls.
void end_started(_sVRKObject *obj, int iSig) {
  if (obj->iGenPid > 0) kill((pid_t)obj->iGenPid, iSig);
  pid_t child = x_RunningChild();
  if (child > 0) kill(child, iSig);
}

void (*volatile gpCleanup)(void) = nullptr;

}  // namespace

void vrk_set_signal_cleanup(void (*fn)(void)) { gpCleanup = fn; }

void vrk_sigaction_handler(int iSig, siginfo_t *pSigInfo, void *pContext) {
  (void)pContext;
  int iSavedErrno = errno;
  _sVRKObject *obj = &spGlobal->sVRKObject;

  struct sigaction sIgnore;
  memset(&sIgnore, 0, sizeof(sIgnore));
  sIgnore.sa_handler = SIG_IGN;
  sigemptyset(&sIgnore.sa_mask);
  sIgnore.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &sIgnore, nullptr);

  if (iSig != SIGALRM) {
    SigText t;
    t.put("Received signal [");
    t.num(iSig);
    t.put("] from pid [");
    t.num(pSigInfo != nullptr ? (long)pSigInfo->si_pid : 0L);
    t.put("] with real user id [");
    t.num(pSigInfo != nullptr ? (long)pSigInfo->si_uid : 0L);
    t.put("]");
    vrk_log_signal_safe(3500, t.buf);
  }

  switch (iSig) {
    case SIGINT:
      if (getpid() == (pid_t)obj->iVrkPid) {
        vrk_log_signal_safe(1028, nullptr);
        obj->iSigRecv = 1;
        // Only an open handle has sockets: the storage client shuts nothing
        // for a handle that names no open session (0 before the first one).
        // They are shut down, not closed, so it still closes each descriptor
        // once.
        xbsa_session_shutdown((long)spGlobal->lBSAHandle);
        stop_generator(obj, SIGINT, false);
      }
      break;
    case SIGPIPE:
      if (getpid() == (pid_t)obj->iVrkPid) {
        obj->iSigRecv = 1;
        stop_generator(obj, SIGKILL, true);
      }
      break;
    case SIGTERM:
    case SIGHUP:
      // The process ends by this signal: an unfinished saveset and any
      // half-restored temporary go first.
      if (getpid() == (pid_t)obj->iVrkPid) {
        vrk_saveset_discard_signal_safe();
        if (gpCleanup != nullptr) gpCleanup();
      }
      signal(iSig, SIG_DFL);
      obj->iSigRecv = 1;
      // The client and what it started end by the signal; the process group
      // is left alone, for the caller (a nightly script) may be in it.
      end_started(obj, iSig);
      kill(getpid(), iSig);
      break;
    case SIGALRM:
      spGlobal->iAlarm = 1;
      break;
    case SIGUSR1: {
      SigText t;
      t.put("Received signal. Set loglevel from ");
      t.num(spGlobal->iLogLevel);
      t.put(" to ");
      if (spGlobal->iLogLevel != 6) {
        spGlobal->iLogLevel += 1;
        t.num(spGlobal->iLogLevel);
      } else {
        spGlobal->iLogLevel = 0;
        t.num(0);
      }
      vrk_log_signal_safe(3500, t.buf);
      break;
    }
    default:
      break;
  }
  errno = iSavedErrno;
}
