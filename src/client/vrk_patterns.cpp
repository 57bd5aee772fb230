// Filling the exclude and ignore pattern lists of the object record from the
// exclude file (-X) and from the numbered pattern keys of the main ini file.
#include "client/vrk_patterns.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "runtime/LL.h"
#include "runtime/bounded_read.h"
#include "runtime/ini_lookup.h"
#include "runtime/vrk_log.h"

namespace {

const char kExcludeSection[] = "[VRK_EXCLUDE]";
const char kExcludeKey[] = "ExcludePattern";
const char kIgnoreSection[] = "[VRK_IGNORE_SIZE_CHANGE]";
const char kIgnoreKey[] = "IgnorePattern";
const char kPathSection[] = "[PATHES]";
const char kMainIni[] = "KV_INI";

std::string gsExcludeFileName;

// Clears cpMsg and puts text in, cut to nMsgSize - 1 characters.
void PutMsg(char *cpMsg, int nMsgSize, const std::string &text) {
  if (cpMsg == nullptr || nMsgSize <= 0) return;
  memset(cpMsg, 0, static_cast<size_t>(nMsgSize));
  snprintf(cpMsg, static_cast<size_t>(nMsgSize), "%s", text.c_str());
}

int CountPatterns(char **list) {
  int n = 0;
  while (n < VRK_MAX_PATTERNS && list[n] != nullptr) ++n;
  return n;
}

// Appends a heap copy behind the n patterns; false without memory.
bool AppendPattern(char **list, int &n, const char *pattern) {
  char *copy = strdup(pattern);
  if (copy == nullptr) return false;
  list[n++] = copy;
  list[n] = nullptr;
  return true;
}

// Takes the next line of the exclude file's text from pos: false at the end.
// A line longer than VRK_PATTERN_LINE_MAX characters is not kept (tooLong).
bool NextLine(const std::string &text, size_t &pos, std::string &line, bool &tooLong) {
  if (pos >= text.size()) return false;
  size_t nl = text.find('\n', pos);
  size_t end = nl == std::string::npos ? text.size() : nl;
  tooLong = end - pos > VRK_PATTERN_LINE_MAX;
  line = tooLong ? std::string() : text.substr(pos, end - pos);
  pos = nl == std::string::npos ? text.size() : nl + 1;
  return true;
}

}  // namespace

void vrk_set_exclude_file_name(const char *cpName) { gsExcludeFileName = cpName != nullptr ? cpName : ""; }

const char *vrk_exclude_file_name(void) { return gsExcludeFileName.c_str(); }

int iFillExcludePatternsFromFile(char *cpMsg, int nMsgSize) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  int fd = o->iExcludeFile;
  if (fd < 0) return 1;  // descriptor 0 (standard input) is a valid exclude file
  int n = CountPatterns(o->cpExclude);
  // Read from the start whatever was read before; a pipe cannot seek and is
  // read from where it stands.
  if (lseek(fd, 0, SEEK_SET) == (off_t)-1 && errno != ESPIPE) {
    PutMsg(cpMsg, nMsgSize, std::string("Cannot rewind exclude file: ") + strerror(errno));
    return 0;
  }
  // The whole file at once: a few MiB at most, and a pipe or device must come
  // to its end within the data wait.
  std::string text, why;
  if (!vrk_read_fd_bounded(fd, text, why)) {
    PutMsg(cpMsg, nMsgSize, "Read of exclude file failed: " + why);
    return 0;
  }
  int lineNo = 0, firstTooLong = 0;
  std::string line;
  size_t pos = 0;
  bool tooLong = false;
  while (NextLine(text, pos, line, tooLong)) {
    ++lineNo;
    if (tooLong) {
      trace("%l1 iFillExcludePatternsFromFile: line %d longer than %d characters refused", lineNo,
            VRK_PATTERN_LINE_MAX);
      if (firstTooLong == 0) firstTooLong = lineNo;
    } else if (!line.empty()) {
      trace("exclude item from file: %s", line.c_str());
      if (n >= VRK_MAX_PATTERNS) {
        trace("iFillExcludePatternsFromFile: Error: maximum exclude items reached");
        PutMsg(cpMsg, nMsgSize, "Maximum of exclude patterns in list reached.");
        return 0;
      }
      vrk_log(3026, line.c_str());
      if (!AppendPattern(o->cpExclude, n, line.c_str())) {
        vrk_log(1094);
        PutMsg(cpMsg, nMsgSize, "Unable to allocate memory.");
        return 0;
      }
    }
  }
  if (firstTooLong != 0) {
    char reason[160];
    snprintf(reason, sizeof(reason), "Exclude pattern in line %d longer than %d characters refused.",
             firstTooLong, VRK_PATTERN_LINE_MAX);
    PutMsg(cpMsg, nMsgSize, reason);
    return 0;
  }
  return 1;
}

int FillDefaultExcludePatterns(char *cpMsg, int nMsgSize) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  trace("FillDefaultExcludePattern: Read exclude patterns from KV.INI %s %s#", kExcludeSection,
        kExcludeKey);
  char msg[1024] = {0};
  t_LL list = ConsLL();
  if (list == nullptr) {
    vrk_log(1094);
    PutMsg(cpMsg, nMsgSize, "Unable to allocate memory.");
    return 0;
  }
  int count = i_READ_INI_LIST(kMainIni, kExcludeSection, kExcludeKey, list, msg, sizeof(msg));
  if (count <= 0) {
    trace("FillDefaultExcludePattern: Exclude patterns could not be read: [%s]", msg);
    vrk_log(3029, kExcludeKey, kExcludeSection);
    PutMsg(cpMsg, nMsgSize, msg);
    DestLL(list);
    return 1;
  }
  vrk_log(3025, count, kExcludeSection, kExcludeKey);
  int n = CountPatterns(o->cpExclude);
  for (void *el = FirstElmLL(list); el != nullptr && IsElmLL(el); el = NextElmLL(el)) {
    const char *value = static_cast<const char *>(el);
    if (*value == '\0') continue;
    if (n >= VRK_MAX_PATTERNS) {
      trace("FillDefaultExcludePattern: Error: maximum exclude items reached");
      PutMsg(cpMsg, nMsgSize, "Maximum of exclude patterns in list reached.");
      DestLL(list);
      return 0;
    }
    vrk_log(3026, value);
    if (!AppendPattern(o->cpExclude, n, value)) {
      vrk_log(1094);
      PutMsg(cpMsg, nMsgSize, "Unable to allocate memory.");
      DestLL(list);
      return 0;
    }
  }
  DestLL(list);
  trace("FillDefaultExcludePattern: default exclude patterns added to list of exclude expressions");
  return 1;
}

namespace {

// Expands a "$(NAME)rest" value: the value of NAME in "[PATHES]" followed by
// rest. False (traced) when the variable cannot be read or the result is too long.
bool ExpandVariable(const std::string &value, std::string &out) {
  size_t dollar = value.find('$');
  size_t open = value.find('(', dollar);
  size_t close = open == std::string::npos ? std::string::npos : value.find(')', open);
  std::string name = close == std::string::npos ? value.substr(dollar + 1)
                                                : value.substr(open + 1, close - open - 1);
  if (close == std::string::npos) {
    trace("FillIgnorePattern: variable[%s] could not be read: [%s]", name.c_str(),
          "no closing parenthesis");
    return false;
  }
  char path[VRK_PATH_MAX] = {0};
  char msg[1024] = {0};
  if (!i_READ_INI(kMainIni, kPathSection, name.c_str(), path, sizeof(path), msg, sizeof(msg))) {
    trace("FillIgnorePattern: variable[%s] could not be read: [%s]", name.c_str(), msg);
    return false;
  }
  out = std::string(path) + value.substr(close + 1);
  if (out.size() > VRK_PATTERN_LINE_MAX) {
    trace("FillIgnorePattern: variable[%s] could not be read: [%s]", name.c_str(),
          "pattern too long");
    return false;
  }
  return true;
}

}  // namespace

int FillIgnorePatterns(char *cpMsg, int nMsgSize) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  trace("FillIgnorePatterns: Read ignore patterns from KV.INI %s %s#", kIgnoreSection, kIgnoreKey);
  char msg[1024] = {0};
  t_LL list = ConsLL();
  if (list == nullptr) {
    vrk_log(1094);
    PutMsg(cpMsg, nMsgSize, "Unable to allocate memory.");
    return 0;
  }
  int count = i_READ_INI_LIST(kMainIni, kIgnoreSection, kIgnoreKey, list, msg, sizeof(msg));
  if (count <= 0) {
    trace("FillIgnorePatterns: Ignore patterns could not be read: [%s]", msg);
    vrk_log(3029, kIgnoreKey, kIgnoreSection);
    PutMsg(cpMsg, nMsgSize, msg);
    DestLL(list);
    return 1;
  }
  vrk_log(3027, count, kIgnoreSection, kIgnoreKey);
  // The list is filled from its first slot; what it held is released.
  for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
    free(o->cpIgnore[i]);
    o->cpIgnore[i] = nullptr;
  }
  int n = 0;
  for (void *el = FirstElmLL(list); el != nullptr && IsElmLL(el); el = NextElmLL(el)) {
    std::string value = static_cast<const char *>(el);
    if (value.empty()) continue;
    if (value.find("$(") != std::string::npos && !ExpandVariable(value, value)) continue;
    if (n >= VRK_MAX_PATTERNS) {
      trace("FillIgnorePatterns: Error: maximum ignore items reached");
      PutMsg(cpMsg, nMsgSize, "Maximum of ignore patterns in list reached.");
      DestLL(list);
      return 0;
    }
    vrk_log(3028, value.c_str());
    if (!AppendPattern(o->cpIgnore, n, value.c_str())) {
      vrk_log(1094);
      PutMsg(cpMsg, nMsgSize, "Unable to allocate memory.");
      DestLL(list);
      return 0;
    }
  }
  DestLL(list);
  trace("FillIgnorePattern: Ignore patterns added to list of ignore expressions");
  return 1;
}
