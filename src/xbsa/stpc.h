// FTP-like transport of the storage client: control connection, replies,
// the active data connection, the secure login and the open sequence.
#ifndef VRK_XBSA_STPC_H
#define VRK_XBSA_STPC_H

#include <sys/types.h>

#include "xbsa/xbsa_session.h"

#define XBSA_COMMANDS 16
// The fixed user word of the secure login: a standard FTP server treats
// it, with the password "<login>@<host>", as an anonymous login.
#define XBSA_SECURE_USER "ftp"
#define XBSA_SECURE_MARKER "KORVA_SECURE_AUTHENTICATION"

// The whole FTP-like open of a session; 0 with a data socket, else -1.
int xbsa_ftp_open(long bsaHandle, int iMode);

int xbsa_connect(int *piPortStart, int iPortEnd);
int xbsaCSopt(int hCSocket);
int xbsaDSopt(int hDSocket);
int BindSocket2Range(int hSocket, const char *cpIPAddress, int *piPortStart, int iPortEnd);
void ShowSocketBinding(int hSocket);

// One reply line: > 0 when read (or cut at the buffer), 0 when the peer
// closed, -1 on error or when no line arrived within the wait.
int stpc_recv(int SControl, char *szMessage, int iMsgLen, int iRecvOpt);
// All bytes; the count of the last send, or -1.
int stpc_send(int SControl, const char *szMessage, int iMsgLen, int iSendOpt);
// A complete (possibly multi-line) reply; its first line is left in
// szMessage. > 0, 0 (closed) or -1; *pbNegative tells a 4xx/5xx reply, which
// becomes the last error: a greeting as it came, any other reply named as a
// negative reply.
int stpc_reply(int SControl, char *szMessage, int iMsgLen, BOOL *pbNegative, const char *cpCaller,
               bool bGreeting = false);

int stpc_port(int SControl);
int stpc_stor(const char *cpRemoteTarget, int SControl);
int stpc_retr(const char *cpRemoteSource, int SControl);
int stpc_list(const char *cpRemoteSource, int SControl);

int make_KORVA_authentication(int hSocket, char *cpUser, unsigned int *uipUserLen, char *cpPassword,
                              unsigned int *uipPasswordLen, char *cpMsg);

// Seconds to wait for a control reply or the data connection.
unsigned long xbsa_wait_seconds();
// The deadline of one wait from now (a transfer step on the data
// connection, its accept, the control connection's connect), on the
// monotonic clock in milliseconds (mono_now_ms).
long long stpc_step_deadline();
// Waits until the socket is ready for events (POLLIN, POLLOUT) or the
// deadline passes, whatever signals come between: 1 ready (or in error,
// which the next call reports), 0 the deadline has passed, -1 a failing poll.
// Every wait of the transport on its sockets goes through here.
int stpc_wait_until(int fd, short events, long long llDeadline);
// One send or receive on the data connection under the step's deadline:
// the count, or -1 with errno (EAGAIN: nothing moved before the deadline).
ssize_t stpc_data_send(int fd, const char *cpData, size_t uiLen, long long llDeadline);
ssize_t stpc_data_recv(int fd, char *cpBuf, size_t uiLen, long long llDeadline);
// Bounds of one reply of the storage node (a multi-line control reply, or
// the response headers of an HTTP transfer): a node that never ends its
// reply must not hold the job.
#define XBSA_REPLY_MAX_BYTES 65536
#define XBSA_REPLY_MAX_LINES 512
// The session whose transfer the transport is opening (its port range
// serves the data listener).
extern _sSession *gspStpcSession;

#endif
