// Masking credentials in texts that reach messages and traces: the one
// helper and the one mask of the client, its library and its traces.
#include "runtime/password_mask.h"

#include <ctype.h>
#include <string.h>
#include <strings.h>

#include <vector>

namespace {

constexpr size_t kShortPassword = 4;

std::vector<std::string> &remembered() {
  static std::vector<std::string> passwords;
  return passwords;
}

bool only_stars(const std::string &s, size_t pos, size_t len) {
  if (len == 0) return false;
  for (size_t i = pos; i < pos + len; ++i)
    if (s[i] != '*') return false;
  return true;
}

// Replaces s[pos, pos + len) by the mask unless it is masked already; the
// position behind the mask, or behind the value left.
size_t put_mask(std::string &s, size_t pos, size_t len) {
  if (only_stars(s, pos, len)) return pos + len;
  s.replace(pos, len, VRK_PASSWORD_MASK);
  return pos + sizeof(VRK_PASSWORD_MASK) - 1;
}

bool field_before(const std::string &s, size_t pos) {
  return pos == 0 || std::string(":= [\"'@,").find(s[pos - 1]) != std::string::npos;
}

bool field_after(const std::string &s, size_t end) {
  return end >= s.size() || std::string(":@, ]\"'\r\n").find(s[end]) != std::string::npos;
}

void mask_remembered(std::string &s) {
  for (const std::string &pw : remembered()) {
    const bool bShort = pw.size() < kShortPassword;
    for (size_t p = s.find(pw); p != std::string::npos; p = s.find(pw, p)) {
      if (bShort && !(field_before(s, p) && field_after(s, p + pw.size()))) {
        ++p;
        continue;
      }
      p = put_mask(s, p, pw.size());
    }
  }
}

void mask_urls(std::string &s) {
  size_t pos = 0, at = 0, len = 0;
  while (vrk_url_password_span(s, pos, &at, &len)) pos = len == 0 ? put_mask(s, at, 0) : put_mask(s, at, len);
}

bool word_start(const std::string &s, size_t p) { return p == 0 || !isalnum((unsigned char)s[p - 1]); }

// Every value behind key, from its end up to the first of stops (or the end).
void mask_after(std::string &s, const char *cpKey, size_t uiKeyLen, const char *cpStops, bool bCase) {
  for (size_t p = 0; p + uiKeyLen <= s.size(); ++p) {
    bool hit = bCase ? s.compare(p, uiKeyLen, cpKey) == 0 : strncasecmp(s.c_str() + p, cpKey, uiKeyLen) == 0;
    if (!hit || !word_start(s, p)) continue;
    size_t from = p + uiKeyLen;
    size_t to = s.find_first_of(cpStops, from);
    if (to == std::string::npos) to = s.size();
    if (to > from) p = put_mask(s, from, to - from) - 1;
  }
}

// The credentials of the header lines that carry them, wherever such a line
// stands in the text: the value from its first non-blank (after the scheme
// word of an authorization; "Proxy-Authorization" is one too) to the line end.
void mask_headers(std::string &s) {
  static const struct {
    const char *cpName;
    bool bScheme;
  } kSecret[] = {{"Authorization:", true}, {"XBSA-PASS:", false}};
  for (const auto &h : kSecret) {
    const size_t uiLen = strlen(h.cpName);
    for (size_t p = 0; p + uiLen <= s.size(); ++p) {
      if (strncasecmp(s.c_str() + p, h.cpName, uiLen) != 0 || !word_start(s, p)) continue;
      size_t eol = s.find_first_of("\r\n", p);
      if (eol == std::string::npos) eol = s.size();
      size_t v = s.find_first_not_of(' ', p + uiLen);
      if (v < eol && h.bScheme) {
        size_t blank = s.find(' ', v);
        if (blank < eol) v = s.find_first_not_of(' ', blank);
      }
      if (v < eol) p = put_mask(s, v, eol - v) - 1;
    }
  }
}

}  // namespace

void vrk_remember_password(const std::string &password) {
  if (password.empty() || only_stars(password, 0, password.size())) return;
  std::vector<std::string> &all = remembered();
  // A command line gives a few; a bound keeps every mask cheap.
  if (all.size() >= 32) return;
  for (const std::string &pw : all)
    if (pw == password) return;
  // The longest first, so that a password inside another one leaves no
  // part of the longer visible.
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

std::string vrk_mask_secrets(const std::string &text) {
  std::string s = text;
  mask_remembered(s);
  mask_urls(s);
  mask_after(s, "PASS=", 5, ":\r\n", true);
  mask_after(s, "PASS ", 5, "\r\n", true);
  mask_after(s, "ENCRYPT_PLAIN=", 14, ",\"' \r\n", false);
  mask_after(s, "ENCRYPT=", 8, ",\"' \r\n", false);
  mask_headers(s);
  return s;
}

std::string vrk_mask_secrets(const char *cpText) { return vrk_mask_secrets(std::string(cpText ? cpText : "")); }

const char *vrk_masked(const char *cpPassword) {
  return cpPassword != nullptr && *cpPassword != '\0' ? VRK_PASSWORD_MASK : "";
}
