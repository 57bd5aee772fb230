// The password of a URL's user information and a lone password field, masked
// for messages and traces.
#include "runtime/password_mask.h"

#include <vector>

namespace {

std::vector<std::string> &remembered() {
  static std::vector<std::string> passwords;
  return passwords;
}

// Every ":password@" of a remembered password masked, the longest first so
// that a password inside another one leaves no part of the longer visible.
std::string mask_remembered(const std::string &text) {
  std::string out = text;
  for (const std::string &pw : remembered()) {
    const std::string key = ":" + pw + "@";
    for (size_t p = out.find(key); p != std::string::npos; p = out.find(key, p + 1))
      out.replace(p + 1, pw.size(), VRK_PASSWORD_MASK);
  }
  return out;
}

}  // namespace

void vrk_remember_url_password(const std::string &password) {
  if (password.empty() || password == VRK_PASSWORD_MASK) return;
  std::vector<std::string> &all = remembered();
  // A command line gives one or two; a bound keeps every mask cheap.
  if (all.size() >= 32) return;
  for (const std::string &pw : all)
    if (pw == password) return;
  auto it = all.begin();
  while (it != all.end() && it->size() >= password.size()) ++it;
  all.insert(it, password);
}

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

std::string vrk_mask_url_password(const std::string &given) {
  const std::string text = mask_remembered(given);
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
