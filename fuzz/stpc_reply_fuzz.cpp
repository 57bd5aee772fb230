// Fuzz target of the FTP-like transport's reply reader: arbitrary bytes
// from the storage node's control connection, read reply by reply.
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include "fuzz_sandbox.h"
#include "xbsa/stpc.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vrk_fuzz_sandbox();
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The socket buffer takes the whole reply text before it is read.
  if (size > 32768) return 0;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) abort();
  int buf = 262144;
  setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
  setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
  if (size > 0 && send(sv[0], data, size, MSG_NOSIGNAL) != (ssize_t)size) abort();
  shutdown(sv[0], SHUT_WR);
  sGlobal.ulTimeOut = 2;
  // The buffer size of each call: the full reply buffer, or a small one
  // as for a short first line.
  const int sizes[] = {XBSA_MSG_SIZE, 4, 1, 2};
  for (size_t i = 0; i <= size; ++i) {
    char szReply[XBSA_MSG_SIZE];
    BOOL bNegative = FALSE;
    int iLen = sizes[i % 4];
    int n = stpc_reply(sv[1], szReply, iLen, &bNegative, "fuzz");
    if (n <= 0) break;
    sms_parseinfo(szReply);
  }
  close(sv[0]);
  close(sv[1]);
  return 0;
}
