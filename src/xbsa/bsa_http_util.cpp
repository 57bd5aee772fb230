// HTTP(S) transport helpers: one wait-and-perform step, the response-code
// check, the error lines, the interrupt flags and the silence watch.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>

#include "runtime/mono_clock.h"
#include "xbsa/bsa_http.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_http.h"
#include "xbsa/xbsa_trace.h"

char g_szReply[XBSA_MSG_SIZE];
size_t writeOffset = 0;
HttpHeaderPhase g_sHeaderPhase;

namespace {

// One flag per session slot; the signal handler sets it through
// BSAHttpInterrupt, every step of the slot's transfer looks at it.
volatile sig_atomic_t gaHttpInterrupted[XBSA_MAX_SESSIONS];

bool interrupted_transfer(CURL *easy) {
  HttpCtx *ctx = NULL;
  if (curl_easy_getinfo(easy, CURLINFO_PRIVATE, (char **)&ctx) != CURLE_OK || !ctx) return false;
  return ctx->pInterrupted && *ctx->pInterrupted;
}

}  // namespace

void http_error(const char *cpFunc, int iLine, const char *cpFmt, ...) {
  char szText[XBSA_MSG_SIZE];
  va_list vl;
  va_start(vl, cpFmt);
  vsnprintf(szText, sizeof szText, cpFmt, vl);
  va_end(vl);
  xbsalog("%s(%d): XBSA HTTP error \"%s\"", cpFunc, iLine, szText);
  if (xbsa_last_message()[0] == '\0') xbsa_set_last_message(szText);
}

volatile sig_atomic_t *http_interrupt_flag(const _sSession *sctpSession) {
  if (!sctpSession || sctpSession < sSession || sctpSession >= sSession + XBSA_MAX_SESSIONS) return NULL;
  return &gaHttpInterrupted[sctpSession - sSession];
}

void BSAHttpInterrupt(_sSession *sctpSession) {
  volatile sig_atomic_t *pFlag = http_interrupt_flag(sctpSession);
  if (pFlag) *pFlag = 1;
}

void http_header_phase_reset(int iMode) {
  memset(&g_sHeaderPhase, 0, sizeof g_sHeaderPhase);
  g_sHeaderPhase.bBodyOpen = iMode == 1;
}

int http_header_phase_line(const char *cpLine, size_t uiLen) {
  HttpHeaderPhase &p = g_sHeaderPhase;
  if (p.bFailed) return 0;
  long long llNow = mono_now_ms();
  if (p.llResponseStart == 0) p.llResponseStart = llNow;
  // The series of interim answers counts once the final response is due.
  if (p.llPhaseStart == 0 && !p.bDone && !p.bBodyOpen) p.llPhaseStart = llNow;
  p.uiBytes += uiLen;
  p.uiLines++;
  if (p.uiBytes > XBSA_REPLY_MAX_BYTES) {
    http_error("BSAHTTPHeaderCallback", __LINE__, "the storage node's response headers exceed %d bytes",
               XBSA_REPLY_MAX_BYTES);
    p.bFailed = TRUE;
    return 0;
  }
  if (p.uiLines > XBSA_REPLY_MAX_LINES) {
    http_error("BSAHTTPHeaderCallback", __LINE__, "the storage node's response headers exceed %d lines",
               XBSA_REPLY_MAX_LINES);
    p.bFailed = TRUE;
    return 0;
  }
  if (!http_header_phase_ok("BSAHTTPHeaderCallback")) return 0;
  if (uiLen >= 5 && strncmp(cpLine, "HTTP/", 5) == 0) {
    // The line is not terminated: the code is read within its length.
    const char *cpBlank = (const char *)memchr(cpLine, ' ', uiLen);
    p.lCode = 0;
    for (const char *cp = cpBlank ? cpBlank + 1 : cpLine + uiLen; cp < cpLine + uiLen && p.lCode < 1000; ++cp) {
      if (*cp < '0' || *cp > '9') break;
      p.lCode = p.lCode * 10 + (*cp - '0');
    }
  } else if ((uiLen == 2 && cpLine[0] == '\r' && cpLine[1] == '\n') || (uiLen == 1 && cpLine[0] == '\n')) {
    // The end of one response's headers; an interim answer leaves the
    // final response due.
    p.llResponseStart = 0;
    if (p.lCode < 100 || p.lCode >= 200) {
      p.bDone = TRUE;
      p.llDoneAt = llNow;
      p.llPhaseStart = 0;
    }
  }
  return 1;
}

int http_header_phase_ok(const char *cpFunc) {
  HttpHeaderPhase &p = g_sHeaderPhase;
  if (p.bFailed) return 0;
  long long llStart = p.llResponseStart;
  if (p.llPhaseStart != 0 && (llStart == 0 || p.llPhaseStart < llStart)) llStart = p.llPhaseStart;
  if (llStart == 0) return 1;
  unsigned long ulWait = xbsa_wait_seconds();
  if (mono_now_ms() - llStart <= (long long)ulWait * 1000) return 1;
  http_error(cpFunc, __LINE__, "%s: the storage node's response headers did not end within %lu seconds", cpFunc,
             ulWait);
  p.bFailed = TRUE;
  return 0;
}

int http_check_progress(CURL *curl_handle, HttpCtx *ctx, const char *cpFunc) {
  if (!http_header_phase_ok(cpFunc)) return 0;
  curl_off_t up = 0, down = 0;
  long lHeader = 0;
  curl_easy_getinfo(curl_handle, CURLINFO_SIZE_UPLOAD_T, &up);
  curl_easy_getinfo(curl_handle, CURLINFO_SIZE_DOWNLOAD_T, &down);
  curl_easy_getinfo(curl_handle, CURLINFO_HEADER_SIZE, &lHeader);
  long long llBytes = (long long)up + (long long)down + lHeader;
  long long llNow = mono_now_ms();
  if (llBytes != ctx->llBytesSeen) {
    ctx->llBytesSeen = llBytes;
    ctx->llLastProgress = llNow;
    return 1;
  }
  unsigned long ulWait = xbsa_wait_seconds();
  if (llNow - ctx->llLastProgress > (long long)ulWait * 1000) {
    http_error(cpFunc, __LINE__, "%s: no answer from the storage node within %lu seconds", cpFunc, ulWait);
    return 0;
  }
  return 1;
}

int Perform(CURLM *multi_handle, int *still_running) {
  struct timeval tv = {1, 0};
  long lTimeout = -1;
  CURLMcode mc = curl_multi_timeout(multi_handle, &lTimeout);
  if (mc != CURLM_OK) {
    HTTP_ERROR("%s", curl_multi_strerror(mc));
    return -1;
  }
  if (lTimeout >= 0) {
    tv.tv_sec = lTimeout / 1000;
    if (tv.tv_sec > 1) {
      tv.tv_sec = 1;
    } else {
      tv.tv_usec = (lTimeout % 1000) * 1000;
    }
  }
  fd_set fdRead, fdWrite, fdExcept;
  FD_ZERO(&fdRead);
  FD_ZERO(&fdWrite);
  FD_ZERO(&fdExcept);
  int iMaxFd = -1;
  mc = curl_multi_fdset(multi_handle, &fdRead, &fdWrite, &fdExcept, &iMaxFd);
  if (mc != CURLM_OK) {
    HTTP_ERROR("%s", curl_multi_strerror(mc));
    return -1;
  }
  int iRc;
  if (iMaxFd == -1) {
    struct timeval wait = {0, 200};
    iRc = select(0, NULL, NULL, NULL, &wait);
  } else {
    iRc = select(iMaxFd + 1, &fdRead, &fdWrite, &fdExcept, &tv);
  }
  if (iRc == -1 && errno != EINTR && errno != EAGAIN) {
    HTTP_ERROR("select: %s", strerror(errno));
    return -1;
  }
  mc = curl_multi_perform(multi_handle, still_running);
  if (mc != CURLM_OK) {
    HTTP_ERROR("%s", curl_multi_strerror(mc));
    return -1;
  }
  int iLeft = 0;
  CURLMsg *msg;
  while ((msg = curl_multi_info_read(multi_handle, &iLeft)) != NULL) {
    if (msg->msg != CURLMSG_DONE) continue;
    CURLcode res = msg->data.result;
    if (res == CURLE_OK) continue;
    if (interrupted_transfer(msg->easy_handle)) {
      HTTP_ERROR("Perform: Transfer interrupted by a signal ");
    } else if (res == CURLE_COULDNT_RESOLVE_HOST || res == CURLE_COULDNT_CONNECT ||
               res == CURLE_OPERATION_TIMEDOUT) {
      HTTP_ERROR("Perform: Connection error: %s ", curl_easy_strerror(res));
    } else if (res == CURLE_PARTIAL_FILE || res == CURLE_RECV_ERROR) {
      HTTP_ERROR("Perform: Transfer interrupted: %s ", curl_easy_strerror(res));
    } else {
      HTTP_ERROR("Perform: curl error %d: %s ", (int)res, curl_easy_strerror(res));
      printf("Perform: curl error %d: %s \n", (int)res, curl_easy_strerror(res));
      fflush(stdout);
    }
    return -1;
  }
  return 0;
}

int IsHttpError(CURL *curl_handle) {
  long lCode = 0;
  curl_easy_getinfo(curl_handle, CURLINFO_RESPONSE_CODE, &lCode);
  if (lCode == 0 || lCode == 100 || lCode == 200 || lCode == 201) return 0;
  HTTP_ERROR("Server return code %d", (int)lCode);
  return 1;
}

char *strnstr(const char *s, const char *find, size_t slen) {
  char c = *find++;
  if (c != '\0') {
    size_t len = strlen(find);
    char sc;
    do {
      do {
        if (slen-- < 1 || (sc = *s++) == '\0') return NULL;
      } while (sc != c);
      if (len > slen) return NULL;
    } while (strncmp(s, find, len) != 0);
    s--;
  }
  return (char *)s;
}
