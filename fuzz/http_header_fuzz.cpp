// Fuzz target of the HTTP transport's header and trace callbacks: arbitrary
// header lines and trace data as libcurl hands them over.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fuzz_sandbox.h"
#include "xbsa/bsa_http.h"
#include "xbsa/stpc.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vrk_fuzz_sandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // Byte 0 chooses the trace type; the rest is the line, in an exact heap
  // copy without a terminator, as libcurl passes it.
  int type = data[0] % (CURLINFO_END + 1);
  std::vector<char> line(data + 1, data + size);
  char *ptr = line.empty() ? nullptr : line.data();
  static char szReply[XBSA_MSG_SIZE];
  std::vector<char> empty(1);
  char *use = ptr ? ptr : empty.data();
  // Each input is the first header line of a transfer of its own; only a
  // line beyond the size bound of the headers is refused.
  http_header_phase_reset(2);
  size_t want = line.size() > XBSA_REPLY_MAX_BYTES ? 0 : line.size();
  if (BSAHTTPHeaderCallback(use, 1, line.size(), szReply) != want) abort();
  if (strlen(szReply) >= XBSA_MSG_SIZE) abort();
  size_t valueLen = 0;
  const char *value = http_reply_value(use, line.size(), &valueLen);
  if (value != nullptr && (value < use || value + valueLen > use + line.size())) abort();
  TraceCallback(nullptr, (curl_infotype)type, use, line.size(), nullptr);
  DebugCallback(use, 1, line.size(), nullptr);
  return 0;
}
