// Tests of the numbered-message logger: line layout on stderr and in the job
// log, the status rules, the trace gates and the trace prefixes.
#include <gtest/gtest.h>
#include <regex.h>
#include <stdio.h>

#include <string>

#include "client/vrk_global.h"
#include "runtime/vrk_log.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class LogTest : public testing::Test {
 protected:
  void SetUp() override { vrktest::ResetGlobal(); }
  void TearDown() override {
    if (spGlobal->sVRKMsgTarget.fpLogFileDes) fclose(spGlobal->sVRKMsgTarget.fpLogFileDes);
    vrktest::ResetGlobal();
  }
};

// Strips the "YYYY-MM-DD hh:mm:ss" stamp after checking its shape.
std::string Unstamp(const std::string &out) {
  std::string result;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t nl = out.find('\n', pos);
    std::string line = out.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos + 1);
    regex_t re;
    regcomp(&re, "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: ", REG_EXTENDED);
    EXPECT_EQ(0, regexec(&re, line.c_str(), 0, nullptr, 0)) << line;
    regfree(&re);
    result += line.size() > 21 ? line.substr(21) : line;
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return result;
}

std::string Logged(int code, const char *a = nullptr, const char *b = nullptr) {
  CaptureStderr();
  if (a && b)
    vrk_log(code, a, b);
  else if (a)
    vrk_log(code, a);
  else
    vrk_log(code);
  return Unstamp(GetCapturedStderr());
}

TEST_F(LogTest, LinesByLevel) {
  struct Case {
    int code;
    const char *arg;
    const char *arg2;
    std::string line;
  } cases[] = {
      {3007, nullptr, nullptr, "vrk-3007: Info:     Operation successful.\n"},
      {2032, nullptr, nullptr, "vrk-2032: Warning:  Operation successful with warnings.\n"},
      {1004, nullptr, nullptr, "vrk-1004: Error:    Invalid function.\n"},
      {1011, "a b", "c", "vrk-1011: Error:    Unable to open file [a b] [c].\n"},
      {3500, "%s", "caller text", "vrk-3500: Info:     caller text\n"},
      {1500, "x=%s", "1", "vrk-1500: Error:    x=1\n"},
      {3925, "%s!", "disk", "vrk-3925: Info:     VDDK:    disk!\n"},
      {1234, "ignored", nullptr, "vrk-1234: Error:    Unknown message code: [1234].\n"},
      {1000, nullptr, nullptr, "vrk-1000: Error:    Unknown message code: [1000].\n"},
      {3000, "ends in newline\n", nullptr, "vrk-3000: Info:     ends in newline\n"},
      // A name with a line break or a terminal escape stays on its one line.
      {3008, "a\n2026-01-01 00:00:00: vrk-3007: Info:     Operation successful.", nullptr,
       "vrk-3008: Info:     Processing item: [a\\x0a2026-01-01 00:00:00: vrk-3007: Info:     Operation "
       "successful.]...\n"},
      {3500, "%s", "\x1b[31mred\r\x7f\tend", "vrk-3500: Info:     \\x1b[31mred\\x0d\\x7f\tend\n"},
  };
  for (const Case &c : cases) {
    vrktest::ResetGlobal();
    EXPECT_EQ(c.line, Logged(c.code, c.arg, c.arg2)) << c.code;
  }
}

TEST_F(LogTest, StatusRules) {
  struct Case {
    _eOperStatus before;
    int iErrorSet;
    int code;
    _eOperStatus after;
  } cases[] = {
      {STATUS_OK, 0, 2032, STATUS_WARNING},       {STATUS_ERR_BEF_SAV, 0, 2032, STATUS_ERR_BEF_SAV},
      {STATUS_WARNING, 0, 1004, STATUS_ERR_BEF_SAV}, {STATUS_OK, 1, 1004, STATUS_ERR_BROK_STR},
      {STATUS_WARNING, 7, 1004, STATUS_WARNING},  {STATUS_OK, 0, 3007, STATUS_OK},
      {STATUS_OK, 0, 1234, STATUS_ERR_BEF_SAV},   {STATUS_WARNING, 0, 2500, STATUS_WARNING},
  };
  for (const auto &c : cases) {
    vrktest::ResetGlobal();
    spGlobal->sVRKObject.eOperStatus = c.before;
    spGlobal->iErrorSet = c.iErrorSet;
    CaptureStderr();
    vrk_log(c.code, "%s", "x");
    GetCapturedStderr();
    EXPECT_EQ(c.after, spGlobal->sVRKObject.eOperStatus) << c.code;
  }
}

TEST_F(LogTest, TraceGateAndPrefixes) {
  struct Case {
    int level;
    const char *fmt;
    std::string line;
    _eOperStatus status;
  } cases[] = {
      {3, "%l0 bad %d", "vrk-1500: Error:    bad 7\n", STATUS_ERR_BEF_SAV},
      {0, "%l0 bad %d", "vrk-1500: Error:    bad 7\n", STATUS_ERR_BEF_SAV},
      {0, "%l1 warn %d", "vrk-2500: Warning:  warn 7\n", STATUS_WARNING},
      {0, "%l2 info %d", "vrk-3500: Info:     info 7\n", STATUS_OK},
      {3, "%l3 deep %d", "", STATUS_OK},
      {4, "%l3 deep %d", "vrk-4000: Trace:    deep 7\n", STATUS_OK},
      {4, "%l6 deep %d", "vrk-4000: Trace:    deep 7\n", STATUS_OK},
      {2, "plain %d", "", STATUS_OK},
      {3, "plain %d", "vrk-3500: Info:     plain 7\n", STATUS_OK},
      {3, "%ld items", "vrk-3500: Info:     7 items\n", STATUS_OK},
  };
  for (const auto &c : cases) {
    vrktest::ResetGlobal();
    spGlobal->iLogLevel = c.level;
    CaptureStderr();
    if (strcmp(c.fmt, "%ld items") == 0)
      trace(c.fmt, 7L);
    else
      trace(c.fmt, 7);
    EXPECT_EQ(c.line, Unstamp(GetCapturedStderr())) << c.fmt << " at " << c.level;
    EXPECT_EQ(c.status, spGlobal->sVRKObject.eOperStatus) << c.fmt;
  }
}

TEST_F(LogTest, TraceCodeGatedBelowLevelFour) {
  spGlobal->iLogLevel = 3;
  EXPECT_EQ("", Logged(4000, "%s", "hidden"));
  spGlobal->iLogLevel = 4;
  EXPECT_EQ("vrk-4000: Trace:    shown\n", Logged(4000, "%s", "shown"));
  EXPECT_EQ(STATUS_OK, spGlobal->sVRKObject.eOperStatus);
}

TEST_F(LogTest, TraceLnNeverTakesPrefix) {
  spGlobal->iLogLevel = 3;
  CaptureStderr();
  trace_ln("%l0 not a prefix 100%");
  EXPECT_EQ("vrk-3500: Info:     %l0 not a prefix 100%\n", Unstamp(GetCapturedStderr()));
  EXPECT_EQ(STATUS_OK, spGlobal->sVRKObject.eOperStatus);
}

TEST_F(LogTest, JobLogGetsSameBytes) {
  vrktest::TempDir dir;
  std::string path = dir.file("vrkjob.log");
  spGlobal->sVRKMsgTarget.fpLogFileDes = fopen(path.c_str(), "w");
  ASSERT_NE(nullptr, spGlobal->sVRKMsgTarget.fpLogFileDes);
  CaptureStderr();
  vrk_log(3500, "%s", "50% done %d");
  vrk_log(3259, 42.0);
  std::string err = GetCapturedStderr();
  EXPECT_EQ(err, vrktest::ReadFile(path));
  EXPECT_EQ("vrk-3500: Info:     50% done %d\nvrk-3259: Info:     42% processed.\n", Unstamp(err));
}

// A job log that cannot take a line is given up: one warning on standard
// error names it and the reason, every message still reaches standard
// error, and the job's status says the log is not whole.
TEST_F(LogTest, AJobLogThatCannotBeWrittenIsNamedOnce) {
  vrktest::TempDir dir;
  vrktest::WriteFile(dir.file("read-only.log"), "");
  struct Row {
    std::string path;
    const char *mode;
    const char *reason;
    _eOperStatus before, after;
  } rows[] = {
      {"/dev/full", "w", "No space left on device", STATUS_OK, STATUS_WARNING},
      {dir.file("read-only.log"), "r", "Bad file descriptor", STATUS_OK, STATUS_WARNING},
      {"/dev/full", "w", "No space left on device", STATUS_ERR_BEF_SAV, STATUS_ERR_BEF_SAV},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.path + " " + row.reason);
    vrktest::ResetGlobal();
    FILE *fp = fopen(row.path.c_str(), row.mode);
    if (fp == nullptr) GTEST_SKIP() << row.path << " cannot be opened here";
    spGlobal->sVRKMsgTarget.fpLogFileDes = fp;
    snprintf(spGlobal->sVRKMsgTarget.szLogFile, sizeof(spGlobal->sVRKMsgTarget.szLogFile), "%s", row.path.c_str());
    spGlobal->sVRKObject.eOperStatus = row.before;
    CaptureStderr();
    vrk_log(3500, "%s", "first");
    vrk_log(3500, "%s", "second");
    std::string err = Unstamp(GetCapturedStderr());
    EXPECT_EQ("vrk-3500: Info:     first\nvrk-2500: Warning:  Unable to write log file [" + row.path + "]:[" +
                  row.reason + "]. Continuing logging to stderr...\nvrk-3500: Info:     second\n",
              err);
    EXPECT_EQ(nullptr, spGlobal->sVRKMsgTarget.fpLogFileDes);
    EXPECT_EQ(row.after, spGlobal->sVRKObject.eOperStatus);
  }
}

TEST_F(LogTest, LongTextIsCutAtBufferBound) {
  std::string big(20000, 'x');
  CaptureStderr();
  vrk_log(3500, "%s", big.c_str());
  std::string out = GetCapturedStderr();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ('\n', out.back());
  EXPECT_EQ(1u, std::count(out.begin(), out.end(), '\n'));
  EXPECT_EQ(8191u, std::count(out.begin(), out.end(), 'x'));
  // Shown escapes are cut whole.
  std::string breaks(3000, '\n');
  CaptureStderr();
  vrk_log(3500, "%s", breaks.c_str());
  out = GetCapturedStderr();
  EXPECT_EQ(1u, std::count(out.begin(), out.end(), '\n'));
  EXPECT_EQ(2047u, std::count(out.begin(), out.end(), '\\'));
  EXPECT_NE(std::string::npos, out.find("\\x0a\n"));
}

TEST_F(LogTest, TheProgramsOwnTextKeepsItsLineBreaks) {
  CaptureStderr();
  vrk_log_text(3000, "usage:\n  vrk -b\x1b\n");
  std::string out = GetCapturedStderr();
  ASSERT_GT(out.size(), 21u);
  EXPECT_EQ("vrk-3000: Info:     usage:\n  vrk -b\\x1b\n", out.substr(21));
}

TEST_F(LogTest, SetRelocLogStoresPointer) {
  EXPECT_EQ(nullptr, g_kv_log_ptr);
  SetRelocLog(vrk_log);
  EXPECT_EQ(&vrk_log, g_kv_log_ptr);
  SetRelocLog(nullptr);
}

TEST_F(LogTest, SignalSafePathWritesSameLayout) {
  CaptureStderr();
  vrk_log_signal_safe(1028, nullptr);
  vrk_log_signal_safe(1145, "SIGTERM");
  EXPECT_EQ(
      "vrk-1028: Error:    Termination signal received!\n"
      "vrk-1145: Error:    KORVA server signal received: [SIGTERM]\n",
      Unstamp(GetCapturedStderr()));
  EXPECT_EQ(STATUS_ERR_BEF_SAV, spGlobal->sVRKObject.eOperStatus);
}

}  // namespace
