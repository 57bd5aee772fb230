// Lists of strings: search by regular expression over PCRE2, and appending
// a key and value pair as fixed-size elements.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <string.h>

#include <vector>

#include "runtime/cm_kernel.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

int i_LL_search(t_LL LL, char *cpSearchString) {
  if (LL == nullptr || cpSearchString == nullptr) return -1;
  bool bReturn = false;
  size_t plen = strlen(cpSearchString);
  if (plen > 0 && cpSearchString[plen - 1] == '^') {
    cpSearchString[plen - 1] = '\0';
    bReturn = true;
  }
  int errcode = 0;
  PCRE2_SIZE erroffset = 0;
  pcre2_code *re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(cpSearchString),
                                 PCRE2_ZERO_TERMINATED, 0, &errcode, &erroffset, nullptr);
  if (re == nullptr) {
    PCRE2_UCHAR msg[256];
    pcre2_get_error_message(errcode, msg, sizeof(msg));
    trace("%l0 ERROR: PCRE compilation failed at offset %d: %s", static_cast<int>(erroffset),
          reinterpret_cast<const char *>(msg));
    return 0;
  }
  pcre2_match_data *md = pcre2_match_data_create_from_pattern(re, nullptr);
  if (md == nullptr) {
    pcre2_code_free(re);
    trace("%l0 LL_Search: out of memory for the match data");
    return -1;
  }
  int result = 0;
  int lastError = 0;
  for (void *el = FirstElmLL(LL); IsElmLL(el); el = NextElmLL(el)) {
    const char *s = static_cast<const char *>(el);
    size_t len = strnlen(s, IsElmLL(el));  // never past the element's data
    if (len == 0) continue;
    int rc = pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(s), len, 0, 0, md, nullptr);
    std::vector<char> shown(s, s + len);
    shown.push_back('\0');
    trace("Return from regex: %d: [%s]", rc, shown.data());
    if (rc >= 0) {
      if (bReturn) {
        size_t n = len < LL_INS_ELEM - 1 ? len : LL_INS_ELEM - 1;
        memcpy(cpSearchString, s, n);
        cpSearchString[n] = '\0';
      }
      result = 1;
      break;
    }
    // Not matching is an answer, not an error.
    if (rc != PCRE2_ERROR_NOMATCH) lastError = rc;
  }
  if (result == 0) result = lastError;
  pcre2_match_data_free(md);
  pcre2_code_free(re);
  trace("LL_Search: Return: %d", result);
  return result;
}

namespace {

bool is_given(const char *s) { return s != nullptr && *s != '\0' && strcmp(s, "NULL") != 0; }

void append_fixed(t_LL LL, const char *s) {
  size_t len = strlen(s);
  std::vector<char> elem(len + 1 > LL_INS_ELEM ? len + 1 : LL_INS_ELEM, '\0');
  memcpy(elem.data(), s, len);
  InsLastLLf(LL, elem.size(), elem.data());
}

}  // namespace

void LL_Ins(t_LL LL, const char *cpArg1, const char *cpArg2) {
  if (LL == nullptr || !is_given(cpArg2)) return;
  if (is_given(cpArg1)) append_fixed(LL, cpArg1);
  append_fixed(LL, cpArg2);
}
