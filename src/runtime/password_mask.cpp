// Masking credentials in texts that reach messages and traces: the one
// helper and the one mask of the client, its library and its traces.
#include "runtime/password_mask.h"

#include <ctype.h>
#include <string.h>
#include <strings.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

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

// Where a keyword stands as what it is, not inside a word, a name or a path
// ("/src/PASS big", "a/Authorization: y"): at the start of the text or
// behind anything but a letter, a digit or a character that goes on a name.
bool stands(const std::string &s, size_t p) {
  if (p == 0) return true;
  unsigned char c = (unsigned char)s[p - 1];
  return !isalnum(c) && strchr("/\\._-~", c) == nullptr && c < 0x80;
}

// Every value behind key, from its end up to the first of stops (or the end).
void mask_after(std::string &s, const char *cpKey, size_t uiKeyLen, const char *cpStops, bool bCase) {
  for (size_t p = 0; p + uiKeyLen <= s.size(); ++p) {
    bool hit = bCase ? s.compare(p, uiKeyLen, cpKey) == 0 : strncasecmp(s.c_str() + p, cpKey, uiKeyLen) == 0;
    if (!hit || !stands(s, p)) continue;
    size_t from = p + uiKeyLen;
    size_t to = s.find_first_of(cpStops, from);
    if (to == std::string::npos) to = s.size();
    if (to > from) p = put_mask(s, from, to - from) - 1;
  }
}

// The credentials of the header lines that carry them, where such a header
// stands: the value from its first non-blank (after the scheme word of an
// authorization) to the line end.
void mask_headers(std::string &s) {
  static const struct {
    const char *cpName;
    bool bScheme;
  } kSecret[] = {{"Authorization:", true}, {"Proxy-Authorization:", true}, {"XBSA-PASS:", false}};
  for (const auto &h : kSecret) {
    const size_t uiLen = strlen(h.cpName);
    for (size_t p = 0; p + uiLen <= s.size(); ++p) {
      if (strncasecmp(s.c_str() + p, h.cpName, uiLen) != 0 || !stands(s, p)) continue;
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

namespace {

// Whether any of the forms below can occur in s: a remembered password, a
// URL's "://", or (in any case) "pass", "encrypt" or "authorization", which
// every keyword holds. Where none occurs, masking leaves s as it is; most
// lines (one for each file restored) hold none.
bool may_hold_secret(const std::string &s) {
  if (s.find("://") != std::string::npos) return true;
  for (const std::string &pw : remembered())
    if (s.find(pw) != std::string::npos) return true;
  const char *c = s.c_str();
  const size_t n = s.size();
  for (size_t p = 0; p < n; ++p) {
    if ((c[p] | 0x20) < 'a') continue;  // no letter that starts a keyword
    switch (c[p] | 0x20) {
      case 'p':
        if (n - p >= 4 && strncasecmp(c + p, "pass", 4) == 0) return true;
        break;
      case 'e':
        if (n - p >= 7 && strncasecmp(c + p, "encrypt", 7) == 0) return true;
        break;
      case 'a':
        if (n - p >= 13 && strncasecmp(c + p, "authorization", 13) == 0) return true;
        break;
      default:
        break;
    }
  }
  return false;
}

// The client's own text: every credential form where it stands.
std::string mask_own_text(const std::string &text) {
  if (!may_hold_secret(text)) return text;
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

// The marks around a name: a control character and a word drawn when the
// program starts, so that no name, path or reply can forge one.
const std::string &mark_word() {
  static const std::string word = [] {
    unsigned char b[10] = {0};
    if (getrandom(b, sizeof b, GRND_NONBLOCK) != (ssize_t)sizeof b) {
      unsigned long v = (unsigned long)time(nullptr) * 2654435761UL ^ (unsigned long)getpid() * 40503UL;
      for (unsigned char &c : b) {
        c = (unsigned char)v;
        v = v * 6364136223846793005UL + 1442695040888963407UL;
      }
    }
    std::string w;
    for (unsigned char c : b) w += (char)('a' + c % 26);
    return w;
  }();
  return word;
}

const std::string &name_open() {
  static const std::string m = "\x0e" + mark_word();
  return m;
}

const std::string &name_close() {
  static const std::string m = "\x0f" + mark_word();
  return m;
}

// Whether a remembered password holds a mark's first byte.
bool marks_in_passwords() {
  for (const std::string &pw : remembered())
    if (pw.find_first_of("\x0e\x0f") != std::string::npos) return true;
  return false;
}

std::string without_marks(const std::string &text) {
  std::string s = text;
  for (const std::string *m : {&name_open(), &name_close()})
    for (size_t p = s.find(*m); p != std::string::npos; p = s.find(*m, p)) s.erase(p, m->size());
  return s;
}

size_t count_of(const std::string &s, const std::string &what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + what.size())) ++n;
  return n;
}

}  // namespace

std::string vrk_log_name(const std::string &name) { return name_open() + name + name_close(); }

std::string vrk_log_name(const char *cpName) { return vrk_log_name(std::string(cpName ? cpName : "")); }

std::string vrk_mask_secrets(const std::string &text) {
  const std::string &open = name_open(), &close = name_close();
  if (text.find(open) == std::string::npos && text.find(close) == std::string::npos) return mask_own_text(text);
  // A text that holds no credential form even with its names in it, and
  // whose marks pair up, is the text without its marks. (Taking the names
  // out can make no form that the text lacks: the closing mark ends in the
  // same word as the opening one, and no form holds a mark's first byte.)
  if (!may_hold_secret(text) && !marks_in_passwords()) {
    std::string plain;
    plain.reserve(text.size());
    size_t p = 0;
    for (;;) {
      size_t o = text.find(open, p);
      if (o == std::string::npos) {
        if (text.find(close, p) != std::string::npos) break;
        plain.append(text, p, std::string::npos);
        return plain;
      }
      size_t c = text.find(close, o + open.size());
      if (c == std::string::npos || text.find(open, o + open.size()) < c || text.find(close, p) < o) break;
      plain.append(text, p, o - p);
      plain.append(text, o + open.size(), c - o - open.size());
      p = c + close.size();
    }
  }
  // The client's own text is masked with each name held aside (its place
  // kept by the opening mark); the names come back as they are.
  std::string own, plain;
  std::vector<std::string> names;
  size_t p = 0;
  for (;;) {
    size_t o = text.find(open, p), c = text.find(close, p);
    if (o == std::string::npos && c == std::string::npos) {
      own.append(text, p, std::string::npos);
      plain.append(text, p, std::string::npos);
      break;
    }
    size_t next = o == std::string::npos ? std::string::npos : text.find(open, o + open.size());
    // A mark without its partner (a text cut short): all of it is masked.
    if (o == std::string::npos || c == std::string::npos || c < o || next < c)
      return mask_own_text(without_marks(text));
    own.append(text, p, o - p);
    own += open;
    names.push_back(text.substr(o + open.size(), c - o - open.size()));
    plain.append(text, p, o - p);
    plain += names.back();
    p = c + close.size();
  }
  // Nothing to mask in the client's own text: the names go back in as they
  // are, which is the text without its marks.
  if (!may_hold_secret(own)) return plain;
  std::string masked = mask_own_text(own);
  // A mask that took a name's place along leaves the whole text masked.
  if (count_of(masked, open) != names.size()) return mask_own_text(without_marks(text));
  std::string out;
  size_t from = 0, k = 0;
  for (size_t q = masked.find(open); q != std::string::npos; q = masked.find(open, from)) {
    out.append(masked, from, q - from);
    out += names[k++];
    from = q + open.size();
  }
  out.append(masked, from, std::string::npos);
  return out;
}

std::string vrk_name_row_format(const char *cpFormat) {
  std::string f = cpFormat != nullptr ? cpFormat : "";
  std::string out;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == '%' && i + 1 < f.size() && f[i + 1] == 's') {
      out += name_open() + "%s" + name_close();
      ++i;
    } else if (f[i] == '%' && i + 1 < f.size() && f[i + 1] == '%') {
      out += "%%";
      ++i;
    } else {
      out += f[i];
    }
  }
  return out;
}

bool vrk_names_only_masked_away(const std::vector<std::string> &pieces) {
  // What vrk_mask_secrets masks of such a text is its own text: the pieces,
  // each name's place kept by the opening mark.
  std::string own;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].find_first_of("\x0e\x0f") != std::string::npos) return false;
    if (i > 0) own += name_open();
    own += pieces[i];
  }
  return !may_hold_secret(own);
}

size_t vrk_remembered_passwords() { return remembered().size(); }

std::string vrk_mask_secrets(const char *cpText) { return vrk_mask_secrets(std::string(cpText ? cpText : "")); }

const char *vrk_masked(const char *cpPassword) {
  return cpPassword != nullptr && *cpPassword != '\0' ? VRK_PASSWORD_MASK : "";
}
