// Bytes on the data connection of the FTP-like transport: each send and
// receive of one transfer step waits under the step's one deadline.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include "runtime/mono_clock.h"
#include "xbsa/stpc.h"

namespace {

// One send (bSend) or receive under the deadline: a socket that can take
// or give bytes does so even past the deadline; only a wait beyond it
// fails, with errno EAGAIN.
ssize_t move_bytes(int fd, bool bSend, char *cpBuf, size_t uiLen, long long llDeadline) {
  for (;;) {
    ssize_t n = bSend ? send(fd, cpBuf, uiLen, MSG_NOSIGNAL | MSG_DONTWAIT) : recv(fd, cpBuf, uiLen, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    int w = stpc_wait_until(fd, bSend ? POLLOUT : POLLIN, llDeadline);
    if (w < 0) return -1;
    if (w == 0) {
      errno = EAGAIN;
      return -1;
    }
  }
}

}  // namespace

int stpc_wait_until(int fd, short events, long long llDeadline) {
  for (;;) {
    long long llLeft = llDeadline - mono_now_ms();
    if (llLeft <= 0) return 0;
    struct pollfd pfd = {fd, events, 0};
    int r = poll(&pfd, 1, llLeft > 0x7FFFFFFF ? 0x7FFFFFFF : (int)llLeft);
    if (r > 0) return 1;
    if (r < 0 && errno != EINTR) return -1;
  }
}

long long stpc_step_deadline() {
  unsigned long ulWait = xbsa_wait_seconds();
  return mono_now_ms() + (long long)(ulWait > 2000000 ? 2000000 : ulWait) * 1000;
}

ssize_t stpc_data_send(int fd, const char *cpData, size_t uiLen, long long llDeadline) {
  return move_bytes(fd, true, const_cast<char *>(cpData), uiLen, llDeadline);
}

ssize_t stpc_data_recv(int fd, char *cpBuf, size_t uiLen, long long llDeadline) {
  return move_bytes(fd, false, cpBuf, uiLen, llDeadline);
}
