// The password of a URL's user information and a lone password field, masked
// for messages and traces.
#include "runtime/password_mask.h"

bool vrk_url_password_span(const std::string &text, size_t from, size_t *pPos, size_t *pLen) {
  for (;;) {
    size_t scheme = text.find("://", from);
    if (scheme == std::string::npos) return false;
    size_t begin = scheme + 3;
    // The authority ends at the path, query or fragment, or where the text
    // around the URL goes on (a blank or a quote).
    size_t end = text.find_first_of("/?#\"' \t\r\n", begin);
    if (end == std::string::npos) end = text.size();
    size_t at = text.rfind('@', end == text.size() ? std::string::npos : end);
    size_t colon = text.find(':', begin);
    if (at != std::string::npos && at >= begin && colon < at) {
      *pPos = colon + 1;
      *pLen = at - colon - 1;
      return true;
    }
    from = end > begin ? end : begin;
  }
}

std::string vrk_mask_url_password(const std::string &text) {
  std::string out;
  size_t pos = 0, at = 0, len = 0;
  while (vrk_url_password_span(text, pos, &at, &len)) {
    out += text.substr(pos, at - pos);
    out += VRK_PASSWORD_MASK;
    pos = at + len;
  }
  out += text.substr(pos);
  return out;
}

const char *vrk_masked(const char *cpPassword) {
  return cpPassword != nullptr && *cpPassword != '\0' ? VRK_PASSWORD_MASK : "";
}
