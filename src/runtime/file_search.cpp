// Text-file line search with one term or two joined by "|AND|" or "|OR|",
// for the first or the last matching line.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/bounded_read.h"
#include "runtime/cm_kernel.h"
#include "runtime/strlib.h"
#include "runtime/glbv.h"
#include "runtime/vrk_log.h"

int i_SEEK_STRING(FILE *fpTest, char *pszSl, int iLength, const char *cpString1,
                  const char *cpString2, char cLogicFlg) {
  if (fpTest == nullptr || pszSl == nullptr || iLength <= 0 || cpString1 == nullptr) return 0;
  char *line = nullptr;
  size_t cap = 0;
  int found = 0;
  // Whole lines are tested, however long: a term is never missed at a
  // buffer boundary and the rest of a long line never counts as a line.
  while (getline(&line, &cap, fpTest) != -1) {
    bool has1 = strstr(line, cpString1) != nullptr;
    bool has2 = cpString2 != nullptr && strstr(line, cpString2) != nullptr;
    bool match;
    if (cLogicFlg == 'a' && cpString2 != nullptr)
      match = has1 && has2;
    else if (cLogicFlg == 'o' && cpString2 != nullptr)
      match = has1 || has2;
    else
      match = has1;
    if (match) {
      strlcpy(pszSl, line, static_cast<size_t>(iLength));
      found = 1;
      break;
    }
  }
  free(line);
  return found;
}

namespace {

struct SearchTerms {
  bool bReturn = false;
  const char *term1 = nullptr;
  const char *term2 = nullptr;
  char logic = ' ';
};

// Prepares the caller's search string in place, as the callers expect.
SearchTerms prepare(char *s) {
  SearchTerms t;
  size_t len = strlen(s);
  if (len > 0 && s[len - 1] == '^') {
    s[len - 1] = '\0';
    t.bReturn = true;
  }
  t.term1 = s;
  char *cut;
  if ((cut = strstr(s, "|AND|")) != nullptr) {
    *cut = '\0';
    t.term2 = cut + 5;
    t.logic = 'a';
  } else if ((cut = strstr(s, "|OR|")) != nullptr) {
    *cut = '\0';
    t.term2 = cut + 4;
    t.logic = 'o';
  }
  return t;
}

void drop_newline(char *line) {
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] == '\n') line[n - 1] = '\0';
}

// The file name, within the name buffer the search uses.
FILE *open_named(const char *who, const char *cpFile) {
  if (strlen(cpFile) >= FILE_NAME_BUF) {
    trace("%l0 %s: file name longer than %d characters: [%.64s...]", who, FILE_NAME_BUF - 1,
          cpFile);
    return nullptr;
  }
  // Named-value references in the name ("name:rest") are resolved first.
  char szFile[FILE_NAME_BUF];
  strlcpy(szFile, cpFile, sizeof(szFile));
  resolve_glbv(szFile, sizeof(szFile));
  // A few MiB at most; a pipe or device must end within the data wait.
  std::string why;
  FILE *fp = vrk_fopen_bounded(szFile, why);
  if (fp == nullptr) {
    int err = errno;
    trace("%l0 %s: fopen(%s) failed with: (%d) %s", who, szFile, err, strerror(err));
  }
  return fp;
}

}  // namespace

int file_search(const char *cpFile, char *cpSearchString, int iLength) {
  if (cpFile == nullptr || cpSearchString == nullptr) return 0;
  int size = iLength < 256 ? 256 : iLength;
  char *line = static_cast<char *>(malloc(static_cast<size_t>(size)));
  if (line == nullptr) {
    int err = errno;
    trace("%l0 file_search: malloc(%d) failed with: (%d) %s", size, err, strerror(err));
    return 0;
  }
  FILE *fp = open_named("file_search", cpFile);
  if (fp == nullptr) {
    free(line);
    return 0;
  }
  SearchTerms t = prepare(cpSearchString);
  int found = i_SEEK_STRING(fp, line, size, t.term1, t.term2, t.logic);
  if (found && t.bReturn && iLength > 0) {
    drop_newline(line);
    std::string copy(line);  // the terms point into the search string
    strlcpy(cpSearchString, copy.c_str(), static_cast<size_t>(iLength));
  }
  fclose(fp);
  free(line);
  return found;
}

int file_rev_search(const char *cpFile, char *cpSearchString, int iLength) {
  if (cpFile == nullptr || cpSearchString == nullptr) return 0;
  int size = iLength < 256 ? 256 : iLength;
  char *last = static_cast<char *>(malloc(static_cast<size_t>(size)));
  if (last == nullptr) {
    int err = errno;
    trace("%l0 file_rev_search: malloc(%d) for pszSlTmp failed with: (%d) %s", size, err,
          strerror(err));
    return 0;
  }
  char *line = static_cast<char *>(malloc(static_cast<size_t>(size)));
  if (line == nullptr) {
    int err = errno;
    trace("%l0 file_rev_search: malloc(%d) failed with: (%d) %s", size, err, strerror(err));
    free(last);
    return 0;
  }
  FILE *fp = open_named("file_rev_search", cpFile);
  if (fp == nullptr) {
    free(line);
    free(last);
    return 0;
  }
  SearchTerms t = prepare(cpSearchString);
  int found = 0;
  while (i_SEEK_STRING(fp, line, size, t.term1, t.term2, t.logic)) {
    memcpy(last, line, strlen(line) + 1);
    found = 1;
  }
  if (found && t.bReturn && iLength > 0) {
    drop_newline(last);
    std::string copy(last);
    strlcpy(cpSearchString, copy.c_str(), static_cast<size_t>(iLength));
  }
  fclose(fp);
  free(line);
  free(last);
  return found;
}
