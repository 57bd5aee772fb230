// Host queries: addresses through the name service, the parent process from
// the process list (read without a shell), descriptor closing, daemon start.
#include "runtime/cm_hal_host.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "runtime/cm_exec_internal.h"
#include "runtime/vrk_log.h"
#include "runtime/x_run.h"

char *x_getenv(char *cpEnvVar) { return cpEnvVar != NULL ? getenv(cpEnvVar) : NULL; }

void *x_winpopen(char *cpCommand) { return cpCommand != NULL ? (void *)popen(cpCommand, "r") : NULL; }

int x_GetOSInfo(STRU_OS_INFO *O_spOSInfo) {
  if (O_spOSInfo == NULL) return 0;
  snprintf(O_spOSInfo->szOSInfoText, sizeof(O_spOSInfo->szOSInfoText), "UNIX, Build: 00 00");
  return 1;
}

int i_GET_LOCAL_TCPIP_ADRESS(char *cpAdress) {
  if (cpAdress == NULL) return 0;
  cpAdress[0] = '\0';
  char host[161];
  if (gethostname(host, sizeof(host)) != 0) return 0;
  host[sizeof(host) - 1] = '\0';
  struct hostent *he = gethostbyname(host);
  if (he == NULL || he->h_addrtype != AF_INET || he->h_addr_list == NULL) return 0;
  std::string all;
  for (char **a = he->h_addr_list; *a != NULL; a++) {
    char dotted[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, *a, dotted, sizeof(dotted)) == NULL) continue;
    std::string next = all.empty() ? dotted : all + " " + dotted;
    if (next.size() >= LOCAL_TCPIP_ADRESS_SIZE) break;  // whole addresses only
    all = next;
  }
  if (all.empty()) return 0;
  memcpy(cpAdress, all.c_str(), all.size() + 1);
  return 1;
}

int get_parent_pid(void) { return (int)getppid(); }

int get_parent_info(char *cpInfo, int iLength) {
  if (cpInfo == NULL || iLength <= 0) return 0;
  cpInfo[0] = '\0';
  const int ppid = get_parent_pid();
  X_RUN_REQUEST req;
  req.argv = {"ps", "-e", "-A", "-o", "pid,command"};
  std::string output;
  req.output = &output;
  const std::string command = x_RunCommandText(req.argv);
  int rc = x_RunProgram(req);
  if (rc == X_RUN_NOT_STARTED) {
    int err = errno;
    fprintf(stderr, "popen failed for %s\n", command.c_str());
    exec_report(command, strerror(err));
    return 0;
  }
  // The line whose first column is the parent's id; its command with runs of
  // blanks squeezed.
  std::string found;
  size_t pos = 0;
  while (pos < output.size() && found.empty()) {
    size_t nl = output.find('\n', pos);
    std::string line = output.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? output.size() : nl + 1;
    size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    size_t end = line.find(' ', start);
    if (end == std::string::npos) continue;
    if (line.substr(start, end - start) != std::to_string(ppid)) continue;
    size_t cmd = line.find_first_not_of(' ', end);
    if (cmd == std::string::npos) continue;
    for (size_t i = cmd; i < line.size(); i++) {
      if (line[i] == ' ' && !found.empty() && found.back() == ' ') continue;
      found += line[i];
    }
  }
  snprintf(cpInfo, (size_t)iLength, "%s (PPID=%d)", found.c_str(), ppid);
  return 1;
}

void closeall(int fd) {
  if (fd < 0) fd = 0;
  long limit = sysconf(_SC_OPEN_MAX);
  if (limit <= 0) limit = 1024;
  if (fd >= limit) return;
  if (close_range((unsigned)fd, (unsigned)(limit - 1), 0) == 0) return;
  for (long i = fd; i < limit; i++) close((int)i);
}

namespace vrk {

int daemon(int nochdir, int noclose) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid > 0) _exit(0);
  if (setsid() < 0) return -1;
  pid = fork();
  if (pid < 0) return -1;
  if (pid > 0) _exit(0);
  if (!nochdir && chdir("/") != 0) {
  }
  if (!noclose) {
    closeall(0);
    int fd = open("/dev/null", O_RDWR);
    if (fd == 0) {
      if (dup(0) < 0 || dup(0) < 0) {
      }
    }
  }
  return 0;
}

}  // namespace vrk
