// HTTP(S) transport internals: the per-transfer context, the reply buffer,
// the transfer steps, the libcurl callbacks and the transport's helpers.
#ifndef VRK_XBSA_BSA_HTTP_H
#define VRK_XBSA_BSA_HTTP_H

#include <signal.h>
#include <stddef.h>

#include <curl/curl.h>

#include "runtime/vrk_types.h"
#include "xbsa/circular_buffer.h"
#include "xbsa/xbsa.h"
#include "xbsa/xbsa_session.h"

// The download ring: three blocks of 64 KiB.
#define HTTP_RING_SIZE 196608
// The scratch block of the end step.
#define HTTP_BLOCK_SIZE 65536
// Uploads gather blocks smaller than this into one step of the transfer.
#define HTTP_STAGE_SIZE 65536

typedef struct HttpCtx {
  CURLM *multi_handle;
  BSA_DataBlock32 *dataBlockPtr;  // upload block being drained; NULL pauses
  BOOL alive;                     // the transfer still runs
  CircularBuffer circularBuffer;  // download ring
  struct curl_slist *headers;     // request headers, freed with the context
  int iMode;                      // 1 upload, 2 download
  BOOL bEndOfData;                // upload: the end step asks for the end of the body
  BOOL bEofSent;                  // upload: libcurl was given the end of the body
  BOOL bFailed;                   // a step failed: the transfer is over
  volatile sig_atomic_t *pInterrupted;  // set from signal context
  long long llLastProgress;       // monotonic ms of the last byte moved
  long long llBytesSeen;          // bytes moved as libcurl counts them
  char *pStage;                   // upload: small blocks gathered into one send
  size_t uiStaged;                // bytes waiting in pStage
  size_t uiFrontSent;             // of them, sent in front of a large block
  long long llEofAt;              // upload: monotonic ms when the end of the body went to libcurl
  size_t uiResponseBody;          // upload: bytes of the response body so far
} HttpCtx;

// Value of the last "Reply:" response header.
extern char g_szReply[XBSA_MSG_SIZE];

// The response headers of the running transfer. A response must end its
// headers within the wait from its first byte, and so must the whole series
// of interim answers ("100 Continue") up to the final response once the
// body is sent; over the transfer they hold at most XBSA_REPLY_MAX_BYTES
// and XBSA_REPLY_MAX_LINES.
typedef struct HttpHeaderPhase {
  long long llResponseStart;  // monotonic ms of the first header byte of the response being read; 0 between
  long long llPhaseStart;     // first header byte while the final response is due; 0 when none is
  long lCode;                 // status of the response being read
  size_t uiBytes;             // header bytes of the transfer
  size_t uiLines;             // header lines of the transfer
  BOOL bBodyOpen;             // an upload still sends its body
  BOOL bDone;                 // the final response's headers are complete
  long long llDoneAt;         // monotonic ms when they were
  BOOL bFailed;               // a bound was passed (the reason is logged)
} HttpHeaderPhase;
extern HttpHeaderPhase g_sHeaderPhase;
// A new transfer: iMode 1 for an upload, 2 for a download.
void http_header_phase_reset(int iMode);
// Takes one header line into the phase; 1 within the bounds, 0 when not.
int http_header_phase_line(const char *cpLine, size_t uiLen);
// 1 while the headers are within their time bound, 0 (logged) when not.
int http_header_phase_ok(const char *cpFunc);
// Bytes of the current libcurl write chunk already taken; 0 between chunks.
extern size_t writeOffset;

int BSAHttpOpen(_sSession *sctpSession, int iMode, char **cpaComands);
int ProccedBlock(CURL *curl_handle, BSA_DataBlock32 *block, int finish);
int ReadBlock(CURL *curl_handle, BSA_DataBlock32 *block, int finish);
int Perform(CURLM *multi_handle, int *still_running);
int IsHttpError(CURL *curl_handle);
void Cleanup(CURL *curl_handle);
char *strnstr(const char *s, const char *find, size_t slen);

size_t ReadCallback(char *ptr, size_t size, size_t nmemb, void *ctx);
size_t WriteCallback(char *ptr, size_t size, size_t nmemb, void *ctx);
size_t DebugCallback(char *ptr, size_t size, size_t nmemb, void *ctx);
size_t BSAHTTPHeaderCallback(char *ptr, size_t size, size_t nmemb, void *userdata);
int TraceCallback(CURL *handle, curl_infotype type, char *data, size_t size, void *userp);
void DumpCallback(char *cpDumpLine);

// The header value when line is a "Reply:" header (name without regard to
// case), without surrounding blanks and the CR LF; NULL for other lines.
const char *http_reply_value(const char *line, size_t len, size_t *pValueLen);

// Logs "<function>(<line>): XBSA HTTP error "<text>"" and keeps the text as
// the last error when none is pending.
void http_error(const char *cpFunc, int iLine, const char *cpFmt, ...) __attribute__((format(printf, 3, 4)));
#define HTTP_ERROR(...) http_error(__func__, __LINE__, __VA_ARGS__)

// Interrupt flag of a session slot, set by BSAHttpInterrupt.
volatile sig_atomic_t *http_interrupt_flag(const _sSession *sctpSession);
// Notes the bytes libcurl has moved; 1 while the storage node answers within
// the wait, 0 (logged) when it has been silent longer.
int http_check_progress(CURL *curl_handle, HttpCtx *ctx, const char *cpFunc);

#endif
