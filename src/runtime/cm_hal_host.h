// Host and process queries of the host layer: environment, pipes, system
// description, local addresses, the parent process, descriptors, daemon start.
#ifndef VRK_RUNTIME_CM_HAL_HOST_H
#define VRK_RUNTIME_CM_HAL_HOST_H

typedef enum ENUM_OS_ID { OS_ID_UNKNOWN = 0, OS_ID_UNIX = 1 } ENUM_OS_ID;

typedef struct STRU_OS_INFO {
  ENUM_OS_ID eOSID;
  char szOSInfoText[256];
  char szArchitecture[9];
} STRU_OS_INFO;

// Size of the buffer that i_GET_LOCAL_TCPIP_ADRESS fills.
#define LOCAL_TCPIP_ADRESS_SIZE 1024

char *x_getenv(char *cpEnvVar);
// popen of the command for reading (a FILE*).
void *x_winpopen(char *cpCommand);
// Sets szOSInfoText to "UNIX, Build: 00 00"; returns 1.
int x_GetOSInfo(STRU_OS_INFO *O_spOSInfo);
// The host's IPv4 addresses in dotted form, separated by blanks, into
// cpAdress (LOCAL_TCPIP_ADRESS_SIZE bytes); 1, or 0 with cpAdress empty.
int i_GET_LOCAL_TCPIP_ADRESS(char *cpAdress);
int get_parent_pid(void);
// "command (PPID=n)" of the parent process into cpInfo (iLength bytes); 1, or
// 0 when the process list cannot be read.
int get_parent_info(char *cpInfo, int iLength);
// Closes every descriptor from fd up to the process's limit.
void closeall(int fd);

// The runtime's own daemon start, kept apart from the C library's daemon().
namespace vrk {
// Detaches the process (two forks and setsid): 0 in the detached process, -1
// when a fork or setsid fails; the parents end with status 0.
int daemon(int nochdir, int noclose);
}  // namespace vrk

#endif
