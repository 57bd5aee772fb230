// HTTP(S) transfer of one object: the open with its request headers, the
// upload and download steps, the end with the reply check, and the clean-up.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>

#include <string>
#include <vector>

#include "runtime/mono_clock.h"
#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "xbsa/bsa_http.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_escape.h"
#include "xbsa/xbsa_http.h"
#include "xbsa/xbsa_trace.h"

namespace {

HttpCtx *get_ctx(CURL *curl_handle, const char *cpFunc) {
  HttpCtx *ctx = NULL;
  CURLcode rc = curl_easy_getinfo(curl_handle, CURLINFO_PRIVATE, (char **)&ctx);
  if (rc != CURLE_OK) {
    http_error(cpFunc, __LINE__, "%s", curl_easy_strerror(rc));
    return NULL;
  }
  if (!ctx) http_error(cpFunc, __LINE__, "%s: the transfer has no context", cpFunc);
  return ctx;
}

bool interrupted(const HttpCtx *ctx, const char *cpFunc) {
  if (!ctx->pInterrupted || !*ctx->pInterrupted) return false;
  http_error(cpFunc, __LINE__, "%s: Transfer interrupted by a signal", cpFunc);
  return true;
}

// The request header of one command: "XBSA-" and the command with its
// first blank turned into a colon.
std::string xbsa_header(const char *cpCommand) {
  std::string h = std::string("XBSA-") + cpCommand;
  size_t b = h.find(' ');
  if (b != std::string::npos) h[b] = ':';
  return h;
}

// Sends what small blocks gathered; 0 or -1.
int flush_stage(CURL *h, HttpCtx *ctx) {
  if (ctx->uiStaged == 0) return 0;
  BSA_DataBlock32 block;
  memset(&block, 0, sizeof block);
  block.bufferPtr = ctx->pStage;
  block.bufferLen = block.numBytes = (BSA_UInt32)ctx->uiStaged;
  ctx->uiStaged = 0;
  return ProccedBlock(h, &block, 0) != 0 ? -1 : 0;
}

// Once the body is sent and the final headers are in, the rest of the
// response must come within the data wait: a node that trickles its answer
// byte by byte keeps the transfer moving but must not hold the job for ever.
bool response_in_time(const HttpCtx *ctx) {
  if (!ctx->bEofSent || !g_sHeaderPhase.bDone) return true;
  long long llFrom = ctx->llEofAt > g_sHeaderPhase.llDoneAt ? ctx->llEofAt : g_sHeaderPhase.llDoneAt;
  unsigned long ulWait = xbsa_wait_seconds();
  if (mono_now_ms() - llFrom <= (long long)ulWait * 1000) return true;
  HTTP_ERROR("ProccedBlock: the storage node's response did not end within %lu seconds", ulWait);
  return false;
}

int fail_step(HttpCtx *ctx) {
  ctx->bFailed = TRUE;
  ctx->dataBlockPtr = NULL;
  return -1;
}

// The start of a transfer: runs libcurl until the request is under way,
// taking in the first activity on its sockets (so that a refused or failed
// connection ends the open). 1 running, 0 a download that already ended
// well, -1 failed.
int start_transfer(CURL *h, HttpCtx *ctx) {
  bool bActivity = false;
  for (;;) {
    if (interrupted(ctx, "xbsa_open")) return -1;
    int running = 0;
    CURLMcode mc;
    do {
      mc = curl_multi_perform(ctx->multi_handle, &running);
    } while (mc == CURLM_CALL_MULTI_PERFORM);
    if (mc != CURLM_OK) {
      HTTP_ERROR("xbsa_open: %s", curl_multi_strerror(mc));
      return -1;
    }
    bool bEndedWell = false;
    int iLeft = 0;
    CURLMsg *msg;
    while ((msg = curl_multi_info_read(ctx->multi_handle, &iLeft)) != NULL) {
      if (msg->msg != CURLMSG_DONE) continue;
      CURLcode res = msg->data.result;
      if (res == CURLE_OK) {
        bEndedWell = true;
      } else if (res == CURLE_COULDNT_RESOLVE_HOST || res == CURLE_COULDNT_CONNECT ||
                 res == CURLE_OPERATION_TIMEDOUT) {
        HTTP_ERROR("xbsa_open: Connection error: %s ", curl_easy_strerror(res));
        return -1;
      } else {
        HTTP_ERROR("xbsa_open: curl error %d: %s ", (int)res, curl_easy_strerror(res));
        running = 0;
      }
    }
    if (running == 0) {
      if (IsHttpError(h)) return -1;
      // A small object can arrive whole while the download starts.
      if (bEndedWell && ctx->iMode == 2) return 0;
      if (bEndedWell) HTTP_ERROR("xbsa_open: the storage node ended the transfer before the upload");
      return -1;
    }
    if (running != 1) {
      HTTP_ERROR("xbsa_open: %d transfers running instead of one", running);
      return -1;
    }
    if (bActivity) return 1;
    fd_set fdRead, fdWrite, fdExcept;
    FD_ZERO(&fdRead);
    FD_ZERO(&fdWrite);
    FD_ZERO(&fdExcept);
    int iMaxFd = -1;
    mc = curl_multi_fdset(ctx->multi_handle, &fdRead, &fdWrite, &fdExcept, &iMaxFd);
    if (mc != CURLM_OK) {
      HTTP_ERROR("xbsa_open: %s", curl_multi_strerror(mc));
      return -1;
    }
    struct timeval tv = {0, 200};
    int iRc = select(iMaxFd + 1, &fdRead, &fdWrite, &fdExcept, &tv);
    if (iRc < 0) {
      HTTP_ERROR("xbsa_open: error during select() call");
      return -1;
    }
    if (iRc > 0) {
      bActivity = true;
      continue;
    }
    if (!http_check_progress(h, ctx, "xbsa_open")) return -1;
  }
}

}  // namespace

int BSAHttpOpen(_sSession *sctpSession, int iMode, char **cpaComands) {
  xbsalog("BsaHttpOpen");
  g_szReply[0] = '\0';
  writeOffset = 0;
  if (sctpSession->curl_handle) {
    Cleanup((CURL *)sctpSession->curl_handle);
    sctpSession->curl_handle = NULL;
  }
  http_header_phase_reset(iMode);
  volatile sig_atomic_t *pInterrupted = http_interrupt_flag(sctpSession);
  if (pInterrupted) *pInterrupted = 0;

  CURL *h = curl_easy_init();
  if (!h) {
    HTTP_ERROR("can't create new easy handle");
    return -1;
  }
  sctpSession->curl_handle = h;
  HttpCtx *ctx = (HttpCtx *)calloc(1, sizeof(HttpCtx));
  bool bOk = ctx != NULL;
  if (!bOk) HTTP_ERROR("can't allocate the transfer context");
  if (bOk) {
    ctx->alive = TRUE;
    ctx->iMode = iMode;
    ctx->pInterrupted = pInterrupted;
    ctx->llLastProgress = mono_now_ms();
    CURLcode rc = curl_easy_setopt(h, CURLOPT_PRIVATE, ctx);
    if (rc != CURLE_OK) {
      HTTP_ERROR("Can't set curl option: CURLOPT_PRIVATE");
      free(ctx);
      ctx = NULL;
      bOk = false;
    }
  }
  // From here on the first option that libcurl refuses ends the open.
  CURLcode rc = CURLE_OK;
#define HTTP_SETOPT(opt, val)                                     \
  do {                                                            \
    if (bOk && rc == CURLE_OK) rc = curl_easy_setopt(h, opt, val); \
  } while (0)
  if (bOk) {
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, BSAHTTPHeaderCallback);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, g_szReply);
    ctx->multi_handle = curl_multi_init();
    if (!ctx->multi_handle) {
      HTTP_ERROR("Can't create new multi handle");
      bOk = false;
    }
  }
  if (bOk) {
    ctx->dataBlockPtr = NULL;
    if (buffer_init(HTTP_RING_SIZE, &ctx->circularBuffer) != 0) {
      HTTP_ERROR("can't allocate the download ring of %d bytes", HTTP_RING_SIZE);
      bOk = false;
    }
  }
  if (bOk && (sGlobal.ucXBSATraceLevel & XBSA_TRACE_VERBOSITY) == 3) {
    HTTP_SETOPT(CURLOPT_VERBOSE, 1L);
    HTTP_SETOPT(CURLOPT_DEBUGFUNCTION, TraceCallback);
  }
  // No signal handlers swapped around every transfer step: sends carry
  // MSG_NOSIGNAL, and names are addresses or resolved without an alarm.
  HTTP_SETOPT(CURLOPT_NOSIGNAL, 1L);
  if (bOk && iMode == 1) {
    HTTP_SETOPT(CURLOPT_UPLOAD, 1L);
    // Room for a whole gathered step or block and its chunk header at once.
    HTTP_SETOPT(CURLOPT_UPLOAD_BUFFERSIZE, 4L * HTTP_STAGE_SIZE);
    HTTP_SETOPT(CURLOPT_WRITEFUNCTION, DebugCallback);
    HTTP_SETOPT(CURLOPT_WRITEDATA, ctx);
    HTTP_SETOPT(CURLOPT_READFUNCTION, ReadCallback);
    HTTP_SETOPT(CURLOPT_READDATA, ctx);
    if (bOk && rc == CURLE_OK) {
      ctx->headers = curl_slist_append(NULL, "Expect: 100-continue");
      if (!ctx->headers) {
        HTTP_ERROR("can't create list of headers");
        bOk = false;
      }
    }
  } else if (bOk && iMode == 2) {
    HTTP_SETOPT(CURLOPT_WRITEFUNCTION, WriteCallback);
    HTTP_SETOPT(CURLOPT_WRITEDATA, ctx);
  } else if (bOk) {
    HTTP_ERROR("Unknown operation requested");
    bOk = false;
  }
  for (int i = 0; bOk && rc == CURLE_OK && i < XBSA_COMMANDS && cpaComands[i][0] != '\0'; i++) {
    std::string header = xbsa_header(cpaComands[i]);
    struct curl_slist *list = curl_slist_append(ctx->headers, header.c_str());
    if (!list) {
      HTTP_ERROR("can't create list of headers");
      bOk = false;
      break;
    }
    ctx->headers = list;
    if (strcmp(cpaComands[i], "QUIT") == 0) break;
  }
  if (bOk && rc == CURLE_OK && !ctx->headers) {
    HTTP_ERROR("can't create list of headers");
    bOk = false;
  }
  HTTP_SETOPT(CURLOPT_HTTPHEADER, ctx->headers);
  if (bOk && rc == CURLE_OK)
    xbsalog("xbsa_open: URL '%s'", vrk_mask_secrets(sGlobal.sObject.sSMS.szHostName).c_str());
  HTTP_SETOPT(CURLOPT_URL, sGlobal.sObject.sSMS.szHostName);
  HTTP_SETOPT(CURLOPT_SSL_VERIFYPEER, 0L);
#undef HTTP_SETOPT
  if (bOk && rc != CURLE_OK) {
    HTTP_ERROR("%s", curl_easy_strerror(rc));
    bOk = false;
  }
  if (bOk) {
    CURLMcode mc = curl_multi_add_handle(ctx->multi_handle, h);
    if (mc != CURLM_OK) {
      HTTP_ERROR("%s", curl_multi_strerror(mc));
      bOk = false;
    }
  }
  if (bOk) {
    int iStart = start_transfer(h, ctx);
    if (iStart < 0) bOk = false;
    if (iStart == 0) ctx->alive = FALSE;
  }
  if (!bOk) {
    Cleanup(h);
    // The client's BSAEndData must not find the released handle.
    sctpSession->curl_handle = NULL;
    return -1;
  }
  return 0;
}

int ProccedBlock(CURL *curl_handle, BSA_DataBlock32 *block, int finish) {
  HttpCtx *ctx = get_ctx(curl_handle, __func__);
  if (!ctx) return -1;
  if (ctx->bFailed) {
    HTTP_ERROR("ProccedBlock: an earlier error ended the transfer");
    return -1;
  }
  if (finish) {
    // The end of the body: ReadCallback now answers it.
    ctx->bEndOfData = TRUE;
    ctx->dataBlockPtr = NULL;
  } else {
    ctx->dataBlockPtr = block;
  }
  CURLcode rc = curl_easy_pause(curl_handle, CURLPAUSE_CONT);
  if (rc != CURLE_OK) {
    HTTP_ERROR("ProccedBlock: %s", curl_easy_strerror(rc));
    return fail_step(ctx);
  }
  if (!finish && !ctx->alive) {
    if (!IsHttpError(curl_handle)) HTTP_ERROR("ProccedBlock: the transfer has ended, the data cannot be sent");
    return fail_step(ctx);
  }
  ctx->llLastProgress = mono_now_ms();
  int iResult = 0;
  while (ctx->alive) {
    if (interrupted(ctx, "Perform")) return fail_step(ctx);
    int running = 0;
    iResult = Perform(ctx->multi_handle, &running);
    ctx->alive = running == 1;
    if (iResult == -1 || IsHttpError(curl_handle)) return fail_step(ctx);
    if (interrupted(ctx, "Perform")) return fail_step(ctx);
    if (!http_check_progress(curl_handle, ctx, "Perform")) return fail_step(ctx);
    if (finish && !response_in_time(ctx)) return fail_step(ctx);
    if (ctx->dataBlockPtr != NULL) continue;
    if (!finish) break;
  }
  if (!finish && ctx->dataBlockPtr != NULL) {
    HTTP_ERROR("ProccedBlock: the storage node ended the transfer before all data was sent");
    return fail_step(ctx);
  }
  if (finish && !ctx->bEofSent) {
    HTTP_ERROR("ProccedBlock: the storage node ended the transfer before the end of the object");
    return fail_step(ctx);
  }
  ctx->dataBlockPtr = NULL;
  return iResult;
}

int ReadBlock(CURL *curl_handle, BSA_DataBlock32 *block, int finish) {
  HttpCtx *ctx = get_ctx(curl_handle, __func__);
  block->numBytes = 0;
  if (!ctx) return -1;
  if (ctx->bFailed) {
    HTTP_ERROR("ReadBlock: an earlier error ended the transfer");
    return -1;
  }
  char *cpOut = (char *)block->bufferPtr;
  size_t uiWanted = block->bufferLen;
  size_t uiGot = 0;
  int iResult = 0;
  ctx->llLastProgress = mono_now_ms();
  for (;;) {
    // The body of an error answer is never handed out as object data.
    if (IsHttpError(curl_handle)) return fail_step(ctx);
    uiGot += buffer_read(cpOut + uiGot, uiWanted - uiGot, &ctx->circularBuffer);
    block->numBytes = (BSA_UInt32)uiGot;
    if (uiGot == uiWanted || !ctx->alive) break;
    if (interrupted(ctx, "Perform")) return fail_step(ctx);
    CURLcode rc = curl_easy_pause(curl_handle, CURLPAUSE_CONT);
    if (rc != CURLE_OK) {
      HTTP_ERROR("ReadBlock: %s", curl_easy_strerror(rc));
      return fail_step(ctx);
    }
    int running = 0;
    iResult = Perform(ctx->multi_handle, &running);
    ctx->alive = running == 1;
    if (iResult == -1) return fail_step(ctx);
    if (interrupted(ctx, "Perform")) return fail_step(ctx);
    if (!http_check_progress(curl_handle, ctx, "Perform")) return fail_step(ctx);
  }
  if (finish && (ctx->alive || buffer_count(&ctx->circularBuffer) > 0)) {
    HTTP_ERROR("BSAHttpEndData: the object was not read to its end");
    return fail_step(ctx);
  }
  return iResult;
}

int BSAHttpSendData(_sSession *sctpSession, BSA_DataBlock32 *dataBlockPtr) {
  CURL *h = (CURL *)sctpSession->curl_handle;
  if (!h) {
    HTTP_ERROR("BSAHttpSendData: no transfer is open");
    return -1;
  }
  HttpCtx *ctx = get_ctx(h, __func__);
  if (!ctx) return -1;
  if (ctx->iMode != 1) {
    HTTP_ERROR("BSAHttpSendData: the transfer is a download");
    return -1;
  }
  // Nothing to send is not the end of the object.
  if (dataBlockPtr->bufferLen == 0) return 0;
  if (interrupted(ctx, "Perform")) {
    fail_step(ctx);
    return -1;
  }
  if (ctx->bFailed) {
    HTTP_ERROR("BSAHttpSendData: an earlier error ended the transfer");
    return -1;
  }
  // A record header or a name block is a few bytes: one step of the
  // transfer (a wait, a perform, a chunk on the wire) for each would cost
  // more than the bytes. They are gathered; large blocks go as they are.
  size_t n = dataBlockPtr->bufferLen;
  if (n < HTTP_STAGE_SIZE && ctx->uiStaged + n > HTTP_STAGE_SIZE && flush_stage(h, ctx) != 0) return -1;
  if (n < HTTP_STAGE_SIZE) {
    if (!ctx->pStage) ctx->pStage = (char *)malloc(HTTP_STAGE_SIZE);
    if (!ctx->pStage) {
      HTTP_ERROR("BSAHttpSendData: can't allocate %d bytes", HTTP_STAGE_SIZE);
      return -1;
    }
    memcpy(ctx->pStage + ctx->uiStaged, dataBlockPtr->bufferPtr, n);
    ctx->uiStaged += n;
    return 0;
  }
  // What waits in the stage goes in front of the block (ReadCallback).
  BSA_DataBlock32 block = *dataBlockPtr;
  block.numBytes = block.bufferLen;
  ctx->uiFrontSent = 0;
  int iRc = ProccedBlock(h, &block, 0);
  ctx->uiStaged = ctx->uiFrontSent = 0;
  return iRc != 0 ? -1 : 0;
}

int BSAHttpGetData(_sSession *sctpSession, BSA_DataBlock32 *dataBlockPtr) {
  dataBlockPtr->numBytes = 0;
  CURL *h = (CURL *)sctpSession->curl_handle;
  if (!h) {
    HTTP_ERROR("BSAHttpGetData: no transfer is open");
    return -1;
  }
  HttpCtx *ctx = get_ctx(h, __func__);
  if (!ctx) return -1;
  if (ctx->iMode != 2) {
    HTTP_ERROR("BSAHttpGetData: the transfer is an upload");
    return -1;
  }
  BSA_DataBlock32 block = *dataBlockPtr;
  int iRc = ReadBlock(h, &block, 0);
  dataBlockPtr->numBytes = block.numBytes;
  if (iRc == -1) {
    memset(dataBlockPtr->bufferPtr, 0, dataBlockPtr->numBytes);
    dataBlockPtr->numBytes = 0;
  }
  return iRc != 0 ? -1 : 0;
}

int BSAHttpEndData(_sSession *sctpSession) {
  CURL *h = (CURL *)sctpSession->curl_handle;
  if (!h) {
    HTTP_ERROR("BSAHttpEndData: no transfer is open");
    return 1;
  }
  int iRc = -1;
  HttpCtx *ctx = get_ctx(h, __func__);
  if (ctx && ctx->iMode == 1) {
    BSA_DataBlock32 block;
    memset(&block, 0, sizeof block);
    iRc = flush_stage(h, ctx);
    if (iRc == 0) iRc = ProccedBlock(h, &block, 1);
  } else if (ctx) {
    // A download takes what is left into one scratch block; more than that
    // ends the transfer unread instead of waiting for it.
    std::vector<char> scratch(HTTP_BLOCK_SIZE);
    BSA_DataBlock32 block;
    memset(&block, 0, sizeof block);
    block.bufferLen = HTTP_BLOCK_SIZE;
    block.bufferPtr = scratch.data();
    iRc = ReadBlock(h, &block, 1);
  }
  xbsatrace("BSAHttpEndData: Reply: %s", g_szReply);
  bool bOk = iRc == 0 && strcmp(g_szReply, "OK") == 0;
  if (sctpSession != &sSession[0]) {
    strlcpy(sctpSession->szLastMessage, xbsa_escape_text(g_szReply).c_str(), sizeof sctpSession->szLastMessage);
  }
  if (!bOk) {
    if (g_szReply[0] != '\0' && strcmp(g_szReply, "OK") != 0) {
      xbsa_set_last_message(g_szReply);
    } else if (iRc == 0) {
      HTTP_ERROR("BSAHttpEndData: the storage node sent no Reply header");
    }
  }
  Cleanup(h);
  sctpSession->curl_handle = NULL;
  return bOk ? 0 : 1;
}

void Cleanup(CURL *curl_handle) {
  if (!curl_handle) return;
  HttpCtx *ctx = NULL;
  CURLcode rc = curl_easy_getinfo(curl_handle, CURLINFO_PRIVATE, (char **)&ctx);
  if (rc != CURLE_OK) {
    HTTP_ERROR("%s", curl_easy_strerror(rc));
    return;
  }
  if (ctx && ctx->multi_handle) {
    curl_multi_remove_handle(ctx->multi_handle, curl_handle);
    curl_multi_cleanup(ctx->multi_handle);
    ctx->multi_handle = NULL;
  }
  curl_easy_cleanup(curl_handle);
  if (ctx) {
    buffer_clear(&ctx->circularBuffer);
    curl_slist_free_all(ctx->headers);
    free(ctx->pStage);
    free(ctx);
  }
  writeOffset = 0;
  http_header_phase_reset(0);
}
