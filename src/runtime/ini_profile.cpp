// The sectioned profile reader: one value or a numbered list of values by
// section and key, with "%(name)" references and the "[DEFAULT]" section.
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/bounded_read.h"
#include "runtime/ini_lookup.h"
#include "runtime/ini_profile_internal.h"
#include "runtime/vrk_log.h"

std::string profile_format(const char *cpFormat, ...) {
  va_list ap;
  va_start(ap, cpFormat);
  va_list ap2;
  va_copy(ap2, ap);
  int n = vsnprintf(nullptr, 0, cpFormat, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&out[0], out.size(), cpFormat, ap2);
    out.resize(static_cast<size_t>(n));
  }
  va_end(ap2);
  return out;
}

void profile_put_msg(char *cpMsg, int iLength, const std::string &text) {
  if (cpMsg == nullptr || iLength < 1) return;
  snprintf(cpMsg, static_cast<size_t>(iLength), "%s", text.c_str());
}

namespace {

std::string lower(const std::string &s) {
  std::string out(s);
  for (char &c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return out;
}

bool starts_with(const std::string &s, const std::string &prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// The next line without its line end; false at the end of the file.
bool next_line(FILE *f, std::string &line) {
  char *buf = nullptr;
  size_t cap = 0;
  ssize_t got = getline(&buf, &cap, f);
  if (got < 0) {
    free(buf);
    return false;
  }
  size_t len = static_cast<size_t>(got);
  if (len > 0 && buf[len - 1] == '\n') len--;
  if (len > 0 && buf[len - 1] == '\r') len--;
  line.assign(buf, len);
  free(buf);
  return true;
}

// The text after the line's first "=", trailing blanks removed.
std::string value_of(const std::string &line) {
  size_t eq = line.find('=');
  std::string v = eq == std::string::npos ? std::string() : line.substr(eq + 1);
  size_t end = v.find_last_not_of(" \t");
  v.erase(end == std::string::npos ? 0 : end + 1);
  return v;
}

class FileCloser {
 public:
  explicit FileCloser(FILE *f) : f_(f) {}
  ~FileCloser() {
    if (f_ != nullptr) fclose(f_);
  }
  FileCloser(const FileCloser &) = delete;
  FileCloser &operator=(const FileCloser &) = delete;

 private:
  FILE *f_;
};

ProfileStatus get_string(const char *file, const char *section, const char *key, size_t maxValue,
                         int depth, std::string &value, std::string &msg);

// Replaces the first "%(name)" of value with the name's value from the same
// section or else from "[DEFAULT]".
ProfileStatus resolve_reference(const char *file, const char *section, size_t maxValue, int depth,
                                std::string &value, std::string &msg) {
  size_t open = value.find("%(");
  if (open == std::string::npos) return PROFILE_OK;
  size_t close = value.find(')', open + 2);
  if (close == std::string::npos) {
    msg = profile_format("i_GetPrivateProfileString: REFERENCE NOT CLOSED: %s", value.c_str());
    return PROFILE_REFUSED;
  }
  std::string name = value.substr(open + 2, close - open - 2);
  if (depth >= PROFILE_REF_DEPTH_MAX) {
    msg = profile_format("i_GetPrivateProfileString: REFERENCES NESTED DEEPER THAN %d: %s",
                         PROFILE_REF_DEPTH_MAX, name.c_str());
    return PROFILE_REFUSED;
  }
  std::string sub;
  std::string first;
  ProfileStatus st = get_string(file, section, name.c_str(), maxValue, depth + 1, sub, first);
  if (st == PROFILE_REFUSED) {
    msg = first;
    return st;
  }
  if (st != PROFILE_OK) {
    std::string second;
    st = get_string(file, "[DEFAULT]", name.c_str(), maxValue, depth + 1, sub, second);
    if (st != PROFILE_OK) {
      msg = second;
      return st;
    }
    msg = first;
  } else {
    msg = first;
  }
  value = value.substr(0, open) + sub + value.substr(close + 1);
  return PROFILE_OK;
}

ProfileStatus get_string(const char *file, const char *section, const char *key, size_t maxValue,
                         int depth, std::string &value, std::string &msg) {
  if (file == nullptr || *file == '\0') {
    msg = "i_GetPrivateProfileString: FILE NOT FOUND OR ACCESS PROBLEM.";
    return PROFILE_NO_FILE;
  }
  std::string sec = section != nullptr ? section : "";
  std::string k = key != nullptr ? key : "";
  if (sec.size() > PROFILE_SECTION_MAX) {
    msg = profile_format("i_GetPrivateProfileString: SECTION LONGER THAN %d CHARACTERS: %s",
                         PROFILE_SECTION_MAX, sec.c_str());
    return PROFILE_REFUSED;
  }
  if (k.size() > PROFILE_KEY_MAX) {
    msg = profile_format("i_GetPrivateProfileString: KEY LONGER THAN %d CHARACTERS: %.64s...",
                         PROFILE_KEY_MAX, k.c_str());
    return PROFILE_REFUSED;
  }
  // A few MiB at most; a pipe or device must end within the data wait.
  std::string why;
  FILE *f = vrk_fopen_bounded(file, why);
  if (f == nullptr) {
    msg = profile_format("i_GetPrivateProfileString: FILE NOT FOUND OR ACCESS PROBLEM: %s.", file);
    trace("%l3 i_GetPrivateProfileString: %s: %s", file, why.c_str());
    return PROFILE_NO_FILE;
  }
  FileCloser closer(f);
  const bool whole = sec.empty();
  bool inSection = whole;
  const std::string lsec = lower(sec);
  const std::string lkey = lower(k) + "=";
  std::string line;
  std::string hit;
  bool found = false;
  while (next_line(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::string l = lower(line);
    if (!inSection) {
      if (starts_with(l, lsec)) inSection = true;
      continue;
    }
    if (!whole && l[0] == '[') {
      msg = profile_format("i_GetPrivateProfileString: KEY NOT FOUND %s%s", sec.c_str(), k.c_str());
      return PROFILE_NO_KEY;
    }
    if (starts_with(l, lkey)) {
      if (line.size() > PROFILE_LINE_MAX) {
        msg = profile_format("i_GetPrivateProfileString: LINE OF KEY %s LONGER THAN %d CHARACTERS",
                             k.c_str(), PROFILE_LINE_MAX);
        return PROFILE_REFUSED;
      }
      hit = line;
      found = true;
      break;
    }
  }
  if (!found) {
    if (!inSection)
      msg = profile_format("i_GetPrivateProfileString: SECTION NOT FOUND: %s.", lsec.c_str());
    else
      msg = profile_format("i_GetPrivateProfileString: KEY NOT FOUND: %s", k.c_str());
    return inSection ? PROFILE_NO_KEY : PROFILE_NO_SECTION;
  }
  std::string v = value_of(hit);
  msg.clear();
  ProfileStatus st = resolve_reference(file, section, maxValue, depth, v, msg);
  if (st != PROFILE_OK) return st;
  if (v.size() > maxValue) {
    msg = profile_format("i_GetPrivateProfileString: VALUE OF KEY %s LONGER THAN %zu CHARACTERS",
                         k.c_str(), maxValue);
    return PROFILE_REFUSED;
  }
  if (v.empty()) {
    msg = "i_GetPrivateProfileString: KEY VALUE NOT FOUND.";
    return PROFILE_EMPTY;
  }
  value = v;
  return PROFILE_OK;
}

// The part between the requested name and "=" is a number as "%d" writes it.
bool is_plain_number(const std::string &s) {
  if (s.empty() || s.size() > 10) return false;
  for (char c : s)
    if (!isdigit(static_cast<unsigned char>(c))) return false;
  if (s.size() > 1 && s[0] == '0') return false;
  return strtoll(s.c_str(), nullptr, 10) <= 2147483647LL;
}

}  // namespace

ProfileStatus profile_get_string(const char *cpFilename, const char *cpSection, const char *cpKey,
                                 size_t uMaxValue, std::string &value, std::string &msg) {
  return get_string(cpFilename, cpSection, cpKey, uMaxValue, 0, value, msg);
}

ProfileStatus profile_get_list(const char *cpFilename, const char *cpSection, const char *cpKey,
                               t_LL list, std::string &msg, int *piFound) {
  int found = 0;
  if (piFound != nullptr) *piFound = 0;
  if (cpFilename == nullptr || *cpFilename == '\0') {
    msg = "i_GetPrivateProfileString: FILE NOT FOUND OR ACCESS PROBLEM.";
    return PROFILE_NO_FILE;
  }
  std::string sec = cpSection != nullptr ? cpSection : "";
  std::string k = cpKey != nullptr ? cpKey : "";
  bool numbered = false;
  bool suffix = false;
  std::string name = k;
  if (name.size() >= 2 && name.compare(name.size() - 2, 2, "##") == 0) {
    numbered = suffix = true;
    name.erase(name.size() - 2);
  } else if (!name.empty() && name.back() == '#') {
    numbered = true;
    name.erase(name.size() - 1);
  }
  if (sec.size() > PROFILE_SECTION_MAX) {
    msg = profile_format("i_GetPrivateProfileList: SECTION LONGER THAN %d CHARACTERS: %s",
                         PROFILE_SECTION_MAX, sec.c_str());
    return PROFILE_REFUSED;
  }
  if (name.size() > PROFILE_KEY_MAX) {
    msg = profile_format("i_GetPrivateProfileList: KEY LONGER THAN %d CHARACTERS: %.64s...",
                         PROFILE_KEY_MAX, k.c_str());
    return PROFILE_REFUSED;
  }
  if (list == nullptr) {
    msg = "i_GetPrivateProfileList: NO LIST GIVEN.";
    return PROFILE_REFUSED;
  }
  std::string why;
  FILE *f = vrk_fopen_bounded(cpFilename, why);
  if (f == nullptr) {
    msg = profile_format("i_GetPrivateProfileString: FILE NOT FOUND OR ACCESS PROBLEM: %s.",
                         cpFilename);
    trace("%l3 i_GetPrivateProfileList: %s: %s", cpFilename, why.c_str());
    return PROFILE_NO_FILE;
  }
  FileCloser closer(f);
  const bool whole = sec.empty();
  bool inSection = whole;
  const std::string lsec = lower(sec);
  const std::string lname = lower(name);
  // A refused call takes back what it appended.
  auto refuse = [&](const std::string &why) {
    for (; found > 0; found--) DelElmLL(LastElmLL(list));
    if (piFound != nullptr) *piFound = 0;
    msg = why;
    return PROFILE_REFUSED;
  };
  std::string line;
  while (next_line(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::string l = lower(line);
    if (!inSection) {
      if (starts_with(l, lsec)) inSection = true;
      continue;
    }
    if (!whole && l[0] == '[') {
      if (found > 0) break;
      msg = profile_format("i_GetPrivateProfileList: KEY NOT FOUND %s%s", sec.c_str(), k.c_str());
      return PROFILE_NO_KEY;
    }
    if (!starts_with(l, lname)) continue;
    size_t eq = l.find('=', lname.size());
    if (eq == std::string::npos) continue;
    if (numbered) {
      if (!is_plain_number(l.substr(lname.size(), eq - lname.size()))) {
        trace("%l3 i_GetPrivateProfileList: key matched but not with a valid number [%s]",
              line.c_str());
        continue;
      }
    } else if (eq != lname.size()) {
      continue;
    }
    if (line.size() > PROFILE_LINE_MAX) {
      return refuse(profile_format("i_GetPrivateProfileList: LINE OF KEY %s LONGER THAN %d CHARACTERS",
                                   line.substr(0, eq).c_str(), PROFILE_LINE_MAX));
    }
    std::string v = value_of(line);
    std::string refMsg;
    ProfileStatus st =
        resolve_reference(cpFilename, cpSection, PROFILE_LIST_VALUE_MAX, 0, v, refMsg);
    if (st != PROFILE_OK) return refuse(refMsg);
    if (suffix) {
      std::string keyName = line.substr(0, eq);
      size_t us = keyName.rfind('_');
      if (us != std::string::npos) v = keyName.substr(us + 1) + ":" + v;
    }
    if (v.size() > PROFILE_LIST_VALUE_MAX) {
      return refuse(profile_format("i_GetPrivateProfileList: VALUE OF KEY %s LONGER THAN %d CHARACTERS",
                                   line.substr(0, eq).c_str(), PROFILE_LIST_VALUE_MAX));
    }
    InsLastLLf(list, v.size() + 1, v.c_str());
    found++;
    if (piFound != nullptr) *piFound = found;
  }
  if (found > 0) {
    msg.clear();
    return PROFILE_OK;
  }
  if (!inSection) {
    msg = profile_format("i_GetPrivateProfileList: SECTION NOT FOUND: %s.", lsec.c_str());
    return PROFILE_NO_SECTION;
  }
  msg = profile_format("i_GetPrivateProfileList: KEY NOT FOUND: %s", k.c_str());
  return PROFILE_NO_KEY;
}

int i_GetPrivateProfileString(const char *cpFilename, const char *cpSection, const char *cpKey,
                              char *cpValue, int iLengthValue, char *cpMsg, int iLengthMsg) {
  if (cpValue == nullptr || iLengthValue < 1) {
    profile_put_msg(cpMsg, iLengthMsg, "i_GetPrivateProfileString: NO VALUE BUFFER.");
    return 0;
  }
  std::string value;
  std::string msg;
  ProfileStatus st = profile_get_string(cpFilename, cpSection, cpKey,
                                        static_cast<size_t>(iLengthValue) - 1, value, msg);
  profile_put_msg(cpMsg, iLengthMsg, msg);
  if (st != PROFILE_OK) return 0;
  memcpy(cpValue, value.c_str(), value.size() + 1);
  return 1;
}

int i_GetPrivateProfileList(const char *cpFilename, const char *cpSection, const char *cpKey,
                            t_LL tllListOfValues, char *cpMsg, int iLengthMsg) {
  std::string msg;
  int found = 0;
  ProfileStatus st = profile_get_list(cpFilename, cpSection, cpKey, tllListOfValues, msg, &found);
  profile_put_msg(cpMsg, iLengthMsg, msg);
  return st == PROFILE_OK ? 1 : 0;
}
