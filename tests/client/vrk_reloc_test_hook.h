// Test support for the relocation code: a log hook that records every
// message code and text, and a fixture that starts and ends clean.
#ifndef VRK_TESTS_CLIENT_VRK_RELOC_TEST_HOOK_H
#define VRK_TESTS_CLIENT_VRK_RELOC_TEST_HOOK_H

#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "client/vrk_global.h"
#include "client/vrk_relocation.h"
#include "runtime/vrk_log.h"
#include "vrk_test_util.h"

namespace reloctest {

inline std::vector<std::pair<int, std::string>> &Logged() {
  static std::vector<std::pair<int, std::string>> lines;
  return lines;
}

// Records what the relocation code hands to its log hook.
inline void RecordLog(int iCode, ...) {
  va_list args;
  va_start(args, iCode);
  char text[8192] = "";
  if (iCode == 1038) {
    const char *arg = va_arg(args, const char *);
    int letter = va_arg(args, int);
    snprintf(text, sizeof(text), "Invalid argument [%s] for switch -%c.", arg, letter);
  } else if (iCode == 3258) {
    const char *from = va_arg(args, const char *);
    const char *to = va_arg(args, const char *);
    snprintf(text, sizeof(text), "Path relocation: [%s] => [%s]", from, to);
  } else {
    const char *fmt = va_arg(args, const char *);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    vsnprintf(text, sizeof(text), fmt, args);
#pragma GCC diagnostic pop
  }
  va_end(args);
  Logged().emplace_back(iCode, text);
}

inline bool HasLogged(int iCode, const std::string &text) {
  for (const auto &l : Logged())
    if (l.first == iCode && l.second == text) return true;
  return false;
}

// Clean global state, relocation state and hook before and after each test;
// the context the code created is freed at the end.
class RelocFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    ResetRelocState();
    Logged().clear();
    SetRelocLog(RecordLog);
    strcpy(spGlobal->szRelocDelimiter, "==::==");
    for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
      paths_[i] = spGlobal->szPath[i];
      targets_[i] = spGlobal->szTargetPath[i];
    }
  }
  void TearDown() override {
    PathRelocContext *ctx = spGlobal->RelocationContext;
    if (ctx != nullptr) {
      DestroyPathRelocContext(ctx);
      free(ctx);
      spGlobal->RelocationContext = nullptr;
    }
    ResetRelocState();
    SetRelocLog(nullptr);
    vrktest::ResetGlobal();
  }

  RELOC_ERROR Process(const std::string &arg, const char *delim = "==::==") {
    return ProcessRelocArgs(arg.c_str(), &spGlobal->RelocationContext, delim, paths_, targets_,
                            spGlobal->iLogLevel);
  }

  // The context's expressions as (pattern, replacement) pairs, in order.
  std::vector<std::pair<std::string, std::string>> Expressions() {
    std::vector<std::pair<std::string, std::string>> out;
    RelocExpression *arr = GetReloc(spGlobal->RelocationContext);
    if (arr == nullptr) return out;
    for (RelocExpression *p = arr; p->Pattern != nullptr; ++p)
      out.emplace_back(p->Pattern, p->Replacement);
    FreeRelocExpressionArray(arr);
    return out;
  }

  char *paths_[VRK_MAX_ITEMS];
  char *targets_[VRK_MAX_ITEMS];
};

}  // namespace reloctest

#endif
