// Regular-expression scanning with captured groups over PCRE2, the scan that
// splits the storage-node argument.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/cm_args.h"
#include "runtime/vrk_log.h"

int pscanf_v(const char *input, const char *format, char **const *outputs, int nOutputs) {
  if (input == nullptr || format == nullptr || nOutputs < 0) return -1;
  for (int i = 0; i < nOutputs; i++)
    if (outputs == nullptr || outputs[i] == nullptr) return -1;
  int errcode = 0;
  PCRE2_SIZE erroffset = 0;
  pcre2_code *re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(format), PCRE2_ZERO_TERMINATED, 0,
                                 &errcode, &erroffset, nullptr);
  if (re == nullptr) {
    PCRE2_UCHAR msg[256];
    pcre2_get_error_message(errcode, msg, sizeof(msg));
    trace("%l0 Error compiling regex at offset %d: %s", static_cast<int>(erroffset),
          reinterpret_cast<const char *>(msg));
    return -1;
  }
  uint32_t groups = 0;
  pcre2_pattern_info(re, PCRE2_INFO_CAPTURECOUNT, &groups);
  if (groups != static_cast<uint32_t>(nOutputs)) {
    // More groups than outputs would write through arguments never given.
    trace("%l0 pscanf: pattern [%s] has %d capturing groups but %d outputs were given", format,
          static_cast<int>(groups), nOutputs);
    pcre2_code_free(re);
    return -1;
  }
  pcre2_match_data *md = pcre2_match_data_create_from_pattern(re, nullptr);
  if (md == nullptr) {
    trace("%l0 pscanf: out of memory for the match data");
    pcre2_code_free(re);
    return -1;
  }
  int rc = pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(input), strlen(input), 0, 0, md, nullptr);
  int result = rc;
  if (rc > 0) {
    // Collected first, handed out only when all are there.
    std::vector<std::string> values;
    for (int i = 1; i < rc; i++) {
      PCRE2_UCHAR *sub = nullptr;
      PCRE2_SIZE len = 0;
      int src = pcre2_substring_get_bynumber(md, static_cast<uint32_t>(i), &sub, &len);
      if (src == 0) {
        values.emplace_back(reinterpret_cast<const char *>(sub), len);
        pcre2_substring_free(sub);
      } else {
        values.emplace_back();  // a group that did not take part
      }
    }
    std::vector<char *> copies;
    for (const std::string &v : values) {
      char *c = strdup(v.c_str());
      if (c == nullptr) break;
      copies.push_back(c);
    }
    if (copies.size() != values.size()) {
      for (char *c : copies) free(c);
      trace("%l0 pscanf: out of memory for the captured groups");
      result = -1;
    } else {
      for (size_t i = 0; i < copies.size(); i++) *outputs[i] = copies[i];
      result = rc - 1;
    }
  }
  pcre2_match_data_free(md);
  pcre2_code_free(re);
  return result;
}
