// Compiling the exclude and ignore pattern lists into regular expressions
// (PCRE2's POSIX interface) and matching item names against them.
#include <errno.h>
#include <pcre2posix.h>
#include <stdlib.h>
#include <string.h>

#include "client/vrk_patterns.h"
#include "runtime/vrk_log.h"

namespace {

// Compiles patterns into compiled (both VRK_MAX_ITEMS slots, NULL-ended).
// A pattern that does not compile is not kept: the list ends before it.
int CompileAll(char **patterns, void **compiled, const char *what, bool logParseError) {
  compiled[0] = nullptr;
  for (int i = 0; i < VRK_MAX_PATTERNS && patterns[i] != nullptr; ++i) {
    trace("%s item: %s", what, patterns[i]);
    regex_t *re = static_cast<regex_t *>(calloc(1, sizeof(regex_t)));
    if (re == nullptr) {
      vrk_log(1008, strerror(errno));
      return 0;
    }
    int rc = regcomp(re, patterns[i], REG_NOSUB);
    if (rc != 0) {
      free(re);
      if (logParseError) vrk_log(1176, patterns[i]);
      return 0;
    }
    compiled[i] = re;
    compiled[i + 1] = nullptr;
  }
  return 1;
}

void FreeAll(void **compiled) {
  for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
    if (compiled[i] == nullptr) continue;
    regfree(static_cast<regex_t *>(compiled[i]));
    free(compiled[i]);
    compiled[i] = nullptr;
  }
}

int MatchAny(void **compiled, const char *cpItem) {
  if (cpItem == nullptr) return 0;
  for (int i = 0; i < VRK_MAX_PATTERNS && compiled[i] != nullptr; ++i) {
    int rc = regexec(static_cast<regex_t *>(compiled[i]), cpItem, 0, nullptr, 0);
    if (rc == 0) return 1;
    if (rc != REG_NOMATCH) {
      // An error of the matcher is no exclusion.
      char why[256] = {0};
      regerror(rc, static_cast<regex_t *>(compiled[i]), why, sizeof(why));
      trace("%l1 matching [%s] failed: %s", cpItem, why);
    }
  }
  return 0;
}

}  // namespace

int vrk_regcomp_all(void) {
  trace("%s:%d %s", __FILE__, __LINE__, "vrk_regcomp_all()");
  _sVRKObject *o = &spGlobal->sVRKObject;
  FreeAll(o->psRegEx);
  return CompileAll(o->cpExclude, o->psRegEx, "exclude", false);
}

int vrk_ignore_regcomp_all(void) {
  trace("%s:%d %s", __FILE__, __LINE__, "vrk_ignore_regcomp_all()");
  _sVRKObject *o = &spGlobal->sVRKObject;
  FreeAll(o->psRegIgnEx);
  return CompileAll(o->cpIgnore, o->psRegIgnEx, "ignore", true);
}

void vrk_regfree_all(void) {
  trace("vrk_regfree_all()");
  FreeAll(spGlobal->sVRKObject.psRegEx);
  FreeAll(spGlobal->sVRKObject.psRegIgnEx);
}

int vrk_match_exclude(const char *cpItem) { return MatchAny(spGlobal->sVRKObject.psRegEx, cpItem); }

int vrk_match_ignore(const char *cpItem) { return MatchAny(spGlobal->sVRKObject.psRegIgnEx, cpItem); }
