// Trace of the storage client: entry points by verbosity, the hand-over to
// the installed trace function, standard error and the trace file.
#include "xbsa/xbsa_trace.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "runtime/x_file_owner.h"
#include "runtime/x_open_nofollow.h"
#include "xbsa/xbsa_escape.h"
#include "xbsa/xbsa_session.h"

namespace {

const char kModule[] = "XBSA";

void entry(int iThreshold, const char *cpFmt, va_list vl) {
  if ((sGlobal.ucXBSATraceLevel & XBSA_TRACE_VERBOSITY) < iThreshold) return;
  char szText[1024];
  vsnprintf(szText, 1023, cpFmt, vl);
  ie_trace(kModule, szText);
}

}  // namespace

void xbsalog(const char *cpFmt, ...) {
  va_list vl;
  va_start(vl, cpFmt);
  entry(0, cpFmt, vl);
  va_end(vl);
}

void xbsalogtrace(const char *cpFmt, ...) {
  va_list vl;
  va_start(vl, cpFmt);
  entry(1, cpFmt, vl);
  va_end(vl);
}

void xbsatrace(const char *cpFmt, ...) {
  va_list vl;
  va_start(vl, cpFmt);
  entry(2, cpFmt, vl);
  va_end(vl);
}

void xbsadetailtrace(const char *cpFmt, ...) {
  va_list vl;
  va_start(vl, cpFmt);
  entry(3, cpFmt, vl);
  va_end(vl);
}

void xbsa_tracef(const char *cpModule, const char *cpFmt, ...) {
  char szText[1024];
  va_list vl;
  va_start(vl, cpFmt);
  vsnprintf(szText, sizeof szText, cpFmt, vl);
  va_end(vl);
  ie_trace(cpModule ? cpModule : kModule, szText);
}

void ie_trace(const char *cpModule, const char *cpMessage) {
  // Lines carry the storage node's text: no control character of it reaches
  // a terminal or a log raw. The line's own trailing CR and LF go first.
  // No credential leaves the library's trace unmasked, whoever traced it.
  const std::string masked = vrk_mask_secrets(cpMessage);
  size_t len = masked.size();
  while (len > 0 && (masked[len - 1] == '\r' || masked[len - 1] == '\n')) len--;
  std::string text = xbsa_escape_text(masked.c_str(), len);
  if (sGlobal.vpExternalTraceFunc) sGlobal.vpExternalTraceFunc(text.c_str());
  if (sGlobal.ucXBSATraceLevel & (XBSA_TRACE_FILE | XBSA_TRACE_STDERR)) i_trace(cpModule, text.c_str());
  memset(sGlobal.cpTraceBuffer, 0, sizeof sGlobal.cpTraceBuffer);
}

void i_trace(const char *cpModule, const char *cpTraceMessage) {
  char szLine[XBSA_MSG_SIZE];
  char szStamp[32];
  time_t t = time(NULL);
  struct tm tmLocal;
  localtime_r(&t, &tmLocal);
  strftime(szStamp, sizeof szStamp, "%Y-%m-%d %H:%M:%S: ", &tmLocal);
  // Leave room for the one LF behind the text.
  int n = snprintf(szLine, sizeof szLine - 1, " %s(%s) %s", szStamp, cpModule,
                   vrk_mask_secrets(cpTraceMessage).c_str());
  size_t len = n < 0 ? 0 : (size_t)n;
  if (len > sizeof szLine - 2) len = sizeof szLine - 2;
  while (len > 0 && (szLine[len - 1] == '\r' || szLine[len - 1] == '\n')) len--;
  szLine[len++] = '\n';
  szLine[len] = '\0';
  if (sGlobal.ucXBSATraceLevel & XBSA_TRACE_STDERR) {
    if (write(2, szLine, len) < 0) {
    }
  }
  if (sGlobal.hLogFile != 0 && sGlobal.hLogFile != -1 && (sGlobal.ucXBSATraceLevel & XBSA_TRACE_FILE)) {
    if (write(sGlobal.hLogFile, szLine, len) < 0) {
    }
  }
}

void BSASetTrace(BSA_TraceFunc fpExternalTraceFunc, const char *cpExternLogFileName,
                 unsigned char ucTraceLevel) {
  sGlobal.vpExternalTraceFunc = fpExternalTraceFunc;
  sGlobal.ucXBSATraceLevel = ucTraceLevel;
  if (cpExternLogFileName) {
    if (strcmp(cpExternLogFileName, "ENVIRONMENT") != 0) {
      sGlobal.iReadTraceEnvironment = 0;
      strlcpy(sGlobal.szLogFile, cpExternLogFileName, sizeof sGlobal.szLogFile);
    }
  } else if (ucTraceLevel & (XBSA_TRACE_FILE | XBSA_TRACE_STDERR)) {
    i_SetDefaultLogFileName();
  } else {
    sGlobal.iReadTraceEnvironment = 0;
  }
}

void getLogParams(char **environmentPtr) {
  if (!environmentPtr) return;
  for (char **pp = environmentPtr; *pp; ++pp) {
    xbsatrace("getLogParams: got %s", vrk_mask_secrets(*pp).c_str());
    const char *cpValue;
    if ((cpValue = xbsa_env_value(*pp, "XBSA_LOGFILE")) != NULL) {
      strlcpy(sGlobal.szLogFile, cpValue, sizeof sGlobal.szLogFile);
    } else if ((cpValue = xbsa_env_value(*pp, "XBSA_TRACE")) != NULL) {
      sGlobal.ucXBSATraceLevel =
          (unsigned char)(atoi(cpValue) | XBSA_TRACE_FILE | XBSA_TRACE_STDERR);
      sGlobal.iReadTraceEnvironment = 0;
    }
  }
}

int i_ReadTraceEnvironment() {
  const char *cpLevel = getenv("XBSA_TRACE");
  if (!cpLevel) return 0;
  sGlobal.ucXBSATraceLevel = (unsigned char)(atoi(cpLevel) | XBSA_TRACE_FILE);
  const char *cpFile = getenv("XBSA_LOGFILE");
  if (!cpFile) return 0;
  strlcpy(sGlobal.szLogFile, cpFile, sizeof sGlobal.szLogFile);
  return 1;
}

void i_SetDefaultLogFileName() {
  if (sGlobal.iComSession == 1) {
    const char *cpDir = getenv("INFORMIXDIR");
    if (!cpDir) return;
    size_t len = strlen(cpDir);
    snprintf(sGlobal.szLogFile, sizeof sGlobal.szLogFile, "%s%sxbsa.log", cpDir,
             (len > 0 && cpDir[len - 1] == '/') ? "" : "/");
    return;
  }
  strlcpy(sGlobal.szLogFile, "xbsa.log", sizeof sGlobal.szLogFile);
}

void i_open_trace() {
  if (sGlobal.hLogFile != 0) return;
  if (sGlobal.iReadTraceEnvironment) {
    if (i_ReadTraceEnvironment() == 0) i_SetDefaultLogFileName();
  }
  if (!(sGlobal.ucXBSATraceLevel & XBSA_TRACE_FILE)) {
    sGlobal.szLogFile[0] = '\0';
    return;
  }
  if (sGlobal.szLogFile[0] == '\0') return;
  // A link or special file planted at the name is never written through.
  int fd = x_open_nofollow(sGlobal.szLogFile, O_WRONLY | O_APPEND | O_CREAT, 0600);
  int err = errno;
  if (fd < 0 && (err == ELOOP || err == EINVAL || err == EPERM)) {
    struct stat st;
    std::string why = err == EPERM && lstat(sGlobal.szLogFile, &st) == 0 && !x_owner_trusted(st.st_uid)
                          ? "it belongs to " + x_owner_text(st.st_uid)
                          : std::string(strerror(err));
    fprintf(stderr, "Warning: XBSA trace file [%s] not opened: %s\n", sGlobal.szLogFile, why.c_str());
  }
  // Descriptor 0 is a valid descriptor but the trace file record uses 0 for
  // "not opened yet": move such a descriptor out of the way.
  if (fd == 0) {
    int fd2 = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    fd = fd2;
  }
  sGlobal.hLogFile = fd < 0 ? -1 : fd;
}

void i_close_trace() {
  if ((sGlobal.ucXBSATraceLevel & XBSA_TRACE_FILE) && sGlobal.szLogFile[0] != '\0') {
    if (sGlobal.hLogFile > 0) close(sGlobal.hLogFile);
    sGlobal.hLogFile = 0;
  }
}

int debug_f(const char *cpFile, int iLine, const char *cpFmt, ...) {
  FILE *fpMarker = fopen("/tmp/debug.xbsa", "r");
  if (!fpMarker) return -1;
  fclose(fpMarker);
  char szLine[XBSA_MSG_SIZE];
  time_t t = time(NULL);
  if (t == (time_t)-1) {
    printf("time() returned  (%d) %s\n", errno, strerror(errno));
    t = 1000000;
  }
  struct tm tmLocal;
  localtime_r(&t, &tmLocal);
  int n = snprintf(szLine, sizeof szLine, "(%d) %04d%02d%02d %02d:%02d:%02d ", (int)getpid(),
                   tmLocal.tm_year + 1900, tmLocal.tm_mon + 1, tmLocal.tm_mday, tmLocal.tm_hour,
                   tmLocal.tm_min, tmLocal.tm_sec);
  size_t len = n < 0 ? 0 : (size_t)n;
  if (cpFile && iLine && len < sizeof szLine) {
    const char *cpBase = strrchr(cpFile, '/');
    n = snprintf(szLine + len, sizeof szLine - len, "%s:%d ", cpBase ? cpBase + 1 : cpFile, iLine);
    if (n > 0) len += (size_t)n;
  }
  if (cpFmt && len < sizeof szLine) {
    va_list vl;
    va_start(vl, cpFmt);
    n = vsnprintf(szLine + len, sizeof szLine - len, cpFmt, vl);
    va_end(vl);
    if (n > 0) len += (size_t)n;
  }
  if (len > sizeof szLine - 2) len = sizeof szLine - 2;
  szLine[len] = '\0';
  if (len >= 2 && szLine[len - 2] == '\r' && szLine[len - 1] == '\n') {
    len -= 2;
  } else if (len >= 1 && szLine[len - 1] == '\n') {
    len -= 1;
  }
  szLine[len++] = '\n';
  int fd = x_open_nofollow("/tmp/xbsa.log", O_WRONLY | O_APPEND | O_CREAT, 0600);
  if (fd < 0) return -1;
  if (write(fd, szLine, len) < 0) {
  }
  close(fd);
  return 0;
}
