// Passwords inside the arguments of -N, -C, -S and -o: found, remembered,
// masked for the messages and taken out of the argument vector.
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

// The field behind the given number of ':' up to the next ':', remembered.
std::vector<SecretSpan> field_secret(const char *cpArg, int iColons) {
  std::vector<SecretSpan> spans;
  if (cpArg == nullptr) return spans;
  const char *p = cpArg;
  for (int field = 0; field < iColons && p != nullptr; ++field) {
    p = strchr(p, ':');
    if (p != nullptr) ++p;
  }
  if (p != nullptr) {
    size_t len = strcspn(p, ":");
    spans.push_back({(size_t)(p - cpArg), len});
    vrk_remember_password(std::string(p, len));
  }
  return spans;
}

}  // namespace

std::vector<SecretSpan> vrk_login_secrets(const char *cpArg) { return field_secret(cpArg, 4); }

std::vector<SecretSpan> vrk_control_host_secrets(const char *cpArg) { return field_secret(cpArg, 3); }

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
    vrk_remember_password(text.substr(colon + 1, at - colon - 1));
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
        vrk_remember_password(std::string(cpArg + pos, end - pos));
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

namespace {

// Rewrites the argument text elem in place as shown (not longer than it):
// the strings of the argument area behind it move up by the difference and
// their slots follow, the freed end of the area is zeroed.
void rewrite_in_place(char *elem, const std::string &shown, int argc, char **argv) {
  size_t oldLen = strlen(elem);
  size_t shift = oldLen - shown.size();
  char *from = elem + oldLen + 1;
  char *end = from;
  std::vector<int> moved;
  for (bool found = true; found;) {
    found = false;
    for (int j = 0; j < argc; ++j) {
      if (argv[j] == end) {
        moved.push_back(j);
        end += strlen(end) + 1;
        found = true;
        break;
      }
    }
  }
  memcpy(elem, shown.data(), shown.size());
  elem[shown.size()] = '\0';
  if (shift == 0) return;
  memmove(from - shift, from, (size_t)(end - from));
  for (int j : moved) argv[j] -= shift;
  memset(end - shift, 0, shift);
}

}  // namespace

int vrk_secret_hide(char *cpArg, const std::vector<SecretSpan> &spans, int argc, char **argv) {
  if (cpArg == nullptr || argv == nullptr) return -1;
  bool any = false;
  for (const SecretSpan &s : spans) any = any || s.len > 0;
  if (!any) return -1;
  size_t argLen = strlen(cpArg);
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    size_t len = strlen(argv[i]);
    if (cpArg < argv[i] || cpArg > argv[i] + len) continue;
    // The option letter may stand in front of its argument ("-Chost:...").
    std::string shown(argv[i], (size_t)(cpArg - argv[i]));
    shown += vrk_secret_masked(cpArg, spans);
    masked_args().push_back(shown);
    char *elem = argv[i];
    argv[i] = &masked_args().back()[0];
    if (shown.size() <= len) {
      rewrite_in_place(elem, shown, argc, argv);
    } else {
      for (const SecretSpan &s : spans)
        if (s.pos + s.len <= argLen) memset(cpArg + s.pos, '*', s.len);
    }
    return i;
  }
  return -1;
}
