// Passwords inside the arguments of -C, -S and -o: found, masked for the
// messages and blanked in the argument vector.
#include "client/vrk_optsecret.h"

#include <ctype.h>
#include <string.h>

#include <list>

#include "runtime/password_mask.h"

namespace {

// The masked copies that argv slots point at; they live as long as the process.
std::list<std::string> &masked_args() {
  static std::list<std::string> args;
  return args;
}

}  // namespace

std::vector<SecretSpan> vrk_control_host_secrets(const char *cpArg) {
  std::vector<SecretSpan> spans;
  if (cpArg == nullptr) return spans;
  const char *p = cpArg;
  for (int field = 0; field < 3 && p != nullptr; ++field) {
    p = strchr(p, ':');
    if (p != nullptr) ++p;
  }
  if (p != nullptr) spans.push_back({(size_t)(p - cpArg), strcspn(p, ":")});
  return spans;
}

std::vector<SecretSpan> vrk_url_secrets(const char *cpArg) {
  std::vector<SecretSpan> spans;
  if (cpArg == nullptr) return spans;
  // One URL is the whole argument: its user information runs from behind
  // "://" to the last '@', so a password holding '@', '/', '?', '#', a quote
  // or a blank (which the URL refuses later) is still found whole.
  std::string text(cpArg);
  size_t scheme = text.find("://");
  if (scheme == std::string::npos) return spans;
  size_t begin = scheme + 3;
  size_t at = text.rfind('@');
  if (at == std::string::npos || at < begin) return spans;
  size_t colon = text.find(':', begin);
  if (colon < at) {
    spans.push_back({colon + 1, at - colon - 1});
    // Every later message masks it wherever it shows.
    vrk_remember_url_password(text.substr(colon + 1, at - colon - 1));
  }
  return spans;
}

std::vector<SecretSpan> vrk_subopt_secrets(const char *cpArg) {
  std::vector<SecretSpan> spans;
  if (cpArg == nullptr) return spans;
  size_t n = strlen(cpArg);
  for (size_t begin = 0; begin <= n;) {
    size_t end = begin + strcspn(cpArg + begin, ",");
    if (end - begin >= 2 && toupper((unsigned char)cpArg[begin]) == 'E' &&
        toupper((unsigned char)cpArg[begin + 1]) == 'N') {
      const char *eq = (const char *)memchr(cpArg + begin, '=', end - begin);
      if (eq != nullptr) {
        size_t pos = (size_t)(eq - cpArg) + 1;
        spans.push_back({pos, end - pos});
      }
    }
    begin = end + 1;
  }
  return spans;
}

std::string vrk_secret_masked(const char *cpArg, const std::vector<SecretSpan> &spans) {
  std::string text = cpArg != nullptr ? cpArg : "";
  // From the last span back, so that the earlier positions stay right.
  for (auto it = spans.rbegin(); it != spans.rend(); ++it)
    if (it->len > 0 && it->pos + it->len <= text.size()) text.replace(it->pos, it->len, VRK_PASSWORD_MASK);
  return text;
}

void vrk_secret_hide(char *cpArg, const std::vector<SecretSpan> &spans, int argc, char **argv) {
  if (cpArg == nullptr || argv == nullptr) return;
  bool any = false;
  for (const SecretSpan &s : spans) any = any || s.len > 0;
  if (!any) return;
  size_t argLen = strlen(cpArg);
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    size_t len = strlen(argv[i]);
    if (cpArg < argv[i] || cpArg > argv[i] + len) continue;
    // The option letter may stand in front of its argument ("-Chost:...").
    std::string shown(argv[i], (size_t)(cpArg - argv[i]));
    shown += vrk_secret_masked(cpArg, spans);
    masked_args().push_back(shown);
    for (const SecretSpan &s : spans)
      if (s.pos + s.len <= argLen) memset(cpArg + s.pos, '*', s.len);
    argv[i] = &masked_args().back()[0];
    return;
  }
}
