// Bytes on the data connection of the FTP-like transport: each send and
// receive of one transfer step waits under the step's one deadline.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include "xbsa/stpc.h"

namespace {

long long mono_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Waits for the socket to be ready for events until the deadline: 1 when
// ready (or in error, which the next call reports), 0 when the deadline
// has passed, -1 on a failing poll.
int wait_until(int fd, short events, long long llDeadline) {
  for (;;) {
    long long llLeft = llDeadline - mono_ms();
    if (llLeft <= 0) return 0;
    struct pollfd pfd = {fd, events, 0};
    int r = poll(&pfd, 1, llLeft > 0x7FFFFFFF ? 0x7FFFFFFF : (int)llLeft);
    if (r > 0) return 1;
    if (r < 0 && errno != EINTR) return -1;
  }
}

}  // namespace

long long stpc_step_deadline() {
  unsigned long ulWait = xbsa_wait_seconds();
  return mono_ms() + (long long)(ulWait > 2000000 ? 2000000 : ulWait) * 1000;
}

// A socket that can take or give bytes does so even past the deadline;
// only a wait beyond it fails, with errno EAGAIN.
ssize_t stpc_data_send(int fd, const char *cpData, size_t uiLen, long long llDeadline) {
  for (;;) {
    ssize_t n = send(fd, cpData, uiLen, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    int w = wait_until(fd, POLLOUT, llDeadline);
    if (w < 0) return -1;
    if (w == 0) {
      errno = EAGAIN;
      return -1;
    }
  }
}

ssize_t stpc_data_recv(int fd, char *cpBuf, size_t uiLen, long long llDeadline) {
  for (;;) {
    ssize_t n = recv(fd, cpBuf, uiLen, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    int w = wait_until(fd, POLLIN, llDeadline);
    if (w < 0) return -1;
    if (w == 0) {
      errno = EAGAIN;
      return -1;
    }
  }
}
