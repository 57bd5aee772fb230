// libcurl callbacks of the HTTP(S) transport: upload reads, download writes
// into the ring, the "Reply:" header, and the response, trace and dump lines.
#include <ctype.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "runtime/mono_clock.h"
#include "runtime/password_mask.h"
#include "runtime/x_dump.h"
#include "xbsa/bsa_http.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_trace.h"

namespace {

bool interrupted(const HttpCtx *ctx) { return ctx->pInterrupted && *ctx->pInterrupted; }

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

size_t ReadCallback(char *ptr, size_t size, size_t nmemb, void *ctx) {
  HttpCtx *c = (HttpCtx *)ctx;
  if (interrupted(c)) return CURL_READFUNC_ABORT;
  BSA_DataBlock32 *block = c->dataBlockPtr;
  xbsadetailtrace("ReadCallback: dataBlockPtr = %p", (void *)block);
  // Only the end step ends the body; an empty block just waits for the next.
  if (!block || block->numBytes == 0) {
    c->dataBlockPtr = NULL;
    if (c->bEndOfData) {
      if (!c->bEofSent) c->llEofAt = mono_now_ms();
      c->bEofSent = TRUE;
      g_sHeaderPhase.bBodyOpen = FALSE;
      return 0;
    }
    return CURL_READFUNC_PAUSE;
  }
  size_t room = size * nmemb;
  size_t put = 0;
  // Gathered small blocks go in front of a large one, in the same step.
  if (c->uiStaged > c->uiFrontSent) {
    put = c->uiStaged - c->uiFrontSent;
    if (put > room) put = room;
    memcpy(ptr, c->pStage + c->uiFrontSent, put);
    c->uiFrontSent += put;
    if (c->uiFrontSent < c->uiStaged) return put;
  }
  size_t n = room - put;
  if (n > block->numBytes) n = block->numBytes;
  memcpy(ptr + put, block->bufferPtr, n);
  block->bufferPtr = (char *)block->bufferPtr + n;
  block->numBytes -= (BSA_UInt32)n;
  if (block->numBytes == 0) c->dataBlockPtr = NULL;
  return put + n;
}

size_t WriteCallback(char *ptr, size_t size, size_t nmemb, void *ctx) {
  HttpCtx *c = (HttpCtx *)ctx;
  size_t total = size * nmemb;
  if (interrupted(c)) return 0;
  if (writeOffset > total) writeOffset = 0;
  // Whole chunks go into the ring; only a full ring pauses the transfer, and
  // libcurl then delivers the same chunk again, of which writeOffset bytes
  // are taken already.
  size_t n = total - writeOffset;
  size_t room = buffer_free(&c->circularBuffer);
  if (n > room) n = room;
  buffer_write(ptr + writeOffset, n, &c->circularBuffer);
  writeOffset += n;
  if (writeOffset < total) return CURL_WRITEFUNC_PAUSE;
  writeOffset = 0;
  return total;
}

const char *http_reply_value(const char *line, size_t len, size_t *pValueLen) {
  static const char kName[] = "Reply";
  const size_t uiName = sizeof kName - 1;
  if (len <= uiName || strncasecmp(line, kName, uiName) != 0 || line[uiName] != ':') return NULL;
  size_t b = uiName + 1;
  size_t e = len;
  while (e > b && (line[e - 1] == '\r' || line[e - 1] == '\n' || blank(line[e - 1]))) e--;
  while (b < e && blank(line[b])) b++;
  *pValueLen = e - b;
  return line + b;
}

size_t BSAHTTPHeaderCallback(char *ptr, size_t size, size_t nmemb, void *userdata) {
  size_t total = size * nmemb;
  // Returning less than the line ends the transfer.
  if (!http_header_phase_line(ptr, total)) return 0;
  size_t uiLen = 0;
  const char *cpValue = http_reply_value(ptr, total, &uiLen);
  if (cpValue) {
    char *cpReply = (char *)userdata;
    // The value is kept in the reply buffer, cut only at its size.
    if (uiLen > XBSA_MSG_SIZE - 1) uiLen = XBSA_MSG_SIZE - 1;
    memcpy(cpReply, cpValue, uiLen);
    cpReply[uiLen] = '\0';
    xbsatrace("BSAHTTPHeaderCallback: Reply: %s", cpReply);
    usleep(100 * 1000);
  }
  return total;
}

void DumpCallback(char *cpDumpLine) { xbsalog("Dump: [%s]", cpDumpLine); }

size_t DebugCallback(char *ptr, size_t size, size_t nmemb, void *ctx) {
  HttpCtx *c = (HttpCtx *)ctx;
  size_t total = size * nmemb;
  // An explanation of some tens of KiB at most: a node that sends more
  // floods the job log (returning less than given ends the transfer).
  if (c) c->uiResponseBody += total;
  if (c && c->uiResponseBody > XBSA_REPLY_MAX_BYTES) {
    http_error(__func__, __LINE__, "the storage node's response body exceeds %d bytes", XBSA_REPLY_MAX_BYTES);
    return 0;
  }
  // The body of an upload's response only explains; the status and the
  // reply decide, so the line is not kept as the last error.
  xbsalog("%s(%d): XBSA HTTP error \"%s\"", __func__, __LINE__, "Server response");
  x_Dump(ptr, (unsigned long)total, DumpCallback);
  return total;
}

int TraceCallback(CURL *handle, curl_infotype type, char *data, size_t size, void *userp) {
  (void)handle;
  (void)userp;
  const char *cpTitle;
  bool bDump = true;
  switch (type) {
    case CURLINFO_TEXT: {
      size_t len = size;
      while (len > 0 && (data[len - 1] == '\n' || data[len - 1] == '\r')) len--;
      xbsalog("cUrl trace: %.*s", (int)len, data);
      return 0;
    }
    case CURLINFO_HEADER_IN: cpTitle = "<= Recv header"; break;
    case CURLINFO_HEADER_OUT: cpTitle = "=> Send header"; break;
    case CURLINFO_DATA_IN: cpTitle = "<= Recv data"; bDump = false; break;
    case CURLINFO_DATA_OUT: cpTitle = "=> Send data"; bDump = false; break;
    case CURLINFO_SSL_DATA_IN: cpTitle = "<= Recv SSL data"; break;
    case CURLINFO_SSL_DATA_OUT: cpTitle = "=> Send SSL data"; break;
    default: cpTitle = "Unknown trace msg"; break;
  }
  xbsalog("cUrl trace: %s", cpTitle);
  if (bDump && type == CURLINFO_HEADER_OUT) {
    // The credentials of the request never reach the dump.
    std::string shown = vrk_mask_secrets(std::string(data, size));
    x_Dump(&shown[0], (unsigned long)shown.size(), DumpCallback);
  } else if (bDump) {
    x_Dump(data, (unsigned long)size, DumpCallback);
  }
  return 0;
}
