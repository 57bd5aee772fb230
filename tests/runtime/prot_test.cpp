// Tests of the protocol writer (tagged lines, the error file, misuse and
// over-long output), the language texts and the system-log entry text.
#include "runtime/prot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/cm_lang.h"
#include "runtime/cm_syslog.h"
#include "runtime/korva_world.h"
#include "vrk_test_util.h"

using vrktest::KorvaWorld;
using vrktest::ReadFile;
using vrktest::WriteFile;

namespace {

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// time stamp, a blank, the tag, "[", the pid as %6d, "]: ", the text.
std::string Line(const std::string &tag, const std::string &text) {
  char pid[16];
  snprintf(pid, sizeof(pid), "%6d", static_cast<int>(getpid()));
  return "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} " + tag + "\\[" + pid + "\\]: " + text;
}

void ExpectLines(const std::vector<std::string> &lines, const std::vector<std::string> &patterns) {
  ASSERT_EQ(patterns.size(), lines.size());
  for (size_t i = 0; i < lines.size(); i++)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(patterns[i]))) << lines[i] << "\n" << patterns[i];
}

TEST(Prot, EveryLineTaggedErrorsAlsoInErrorFile) {
  KorvaWorld world;
  std::string prot = world.enableProt();
  PROT("I001-BASICS  first\nsecond");
  PROT("E008-BASICS  Error in %s: %s", "cmd", "one\ntwo\n");
  ExpectLines(Lines(ReadFile(prot)), {Line("I001-BASICS ", "first"), Line("I001-BASICS ", "second"),
                                      Line("E008-BASICS ", "Error in cmd: one"),
                                      Line("E008-BASICS ", "two")});
  ExpectLines(Lines(ReadFile(prot + ".err")), {Line("E008-BASICS ", "Error in cmd: one")});
}

TEST(Prot, MisuseIsReportedAndTheMessageKept) {
  KorvaWorld world;
  std::string prot = world.enableProt();
  PROT("I%03d-BASICS x %s", 5, "y");
  PROT("I001 short");
  ExpectLines(Lines(ReadFile(prot)),
              {Line("W999-BASICS ",
                    "Invalid usage of PROT: prefix with format argument '%0': >I%03d-BASICS<"),
               Line("W999-BASICS ", "I005-BASICS x y"),
               Line("W999-BASICS ", "Invalid usage of PROT: format tag is too short: >I001 short< \\(10 < 13\\)"),
               Line("W999-BASICS ", "I001 short")});
  EXPECT_EQ("", ReadFile(prot + ".err"));
}

// Time stamp, blank, tag, "[", six pid digits and "]: " come first: 42 characters.
const size_t kHead = 42;

TEST(Prot, OverLongOutputIsCutAfterAReport) {
  KorvaWorld world;
  std::string prot = world.enableProt();
  std::string big(11000, 'x');
  PROT("E001-BASICS  %s\nsecond", big.c_str());
  const std::string kept(PROT_OUTPUT_SIZE - 1 - kHead, 'x');
  ExpectLines(Lines(ReadFile(prot)),
              {Line("E999-BASICS ", "Error: The following output was shortened \\(10240 <> 11050\\)"),
               Line("E001-BASICS ", kept)});
  ExpectLines(Lines(ReadFile(prot + ".err")), {Line("E001-BASICS ", kept)});
}

TEST(Prot, OverLongFormatIsCutAfterAReport) {
  const size_t kRoom = PROT_FORMAT_SIZE - 1 - kHead;  // message format characters kept
  struct Case {
    std::string format;  // behind the tag and its separator
    std::string message;
  } cases[] = {
      // The cut falls behind a whole conversion: it still takes its argument.
      {"%ld" + std::string(2600, 'f'), "5" + std::string(kRoom - 3, 'f')},
      // The cut falls inside "%ld": the unfinished conversion is dropped.
      {std::string(kRoom - 2, 'f') + "%ld tail", std::string(kRoom - 2, 'f')},
      // ... and inside "%%": the lone '%' is dropped as well.
      {std::string(kRoom - 1, 'f') + "%% tail", std::string(kRoom - 1, 'f')},
  };
  for (const Case &c : cases) {
    KorvaWorld world;
    std::string prot = world.enableProt();
    std::string fmt = "I001-BASICS  " + c.format;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    PROT(fmt.c_str(), 5L);
#pragma GCC diagnostic pop
    char report[128];
    snprintf(report, sizeof(report), "Error: The following format string was shortened \\(2560 <> %zu\\)",
             kHead + c.format.size() + 1);
    ExpectLines(Lines(ReadFile(prot)), {Line("E999-BASICS ", report), Line("I001-BASICS ", c.message)});
  }
}

TEST(Prot, WithoutProtocolFileNothingIsWritten) {
  KorvaWorld world;
  PROT("I001-BASICS  nowhere");
  EXPECT_EQ(-1, access(world.file("prot.log").c_str(), F_OK));
  // A protocol name that cannot be read makes the reader report through PROT
  // again; that must end.
  ASSERT_EQ(0, symlink(world.file("glbv/gv_prot.sgv").c_str(), world.file("glbv/gv_prot.sgv").c_str()));
  PROT("I001-BASICS  loop");
}

TEST(Lang, CommandExecutionErrorFormat) {
  EXPECT_STREQ("E008-BASICS  Error in command execution %s: %s", cpCmdExecErrorFormat());
  eLang = LANG_DE;
  EXPECT_STREQ("E008-BASICS  Fehler bei Kommandoausführung %s: %s", cpCmdExecErrorFormat());
  eLang = LANG_BY;
  EXPECT_STREQ("E008-BASICS  Fälla bei da Kommandoausführung %s: %s", cpCmdExecErrorFormat());
  eLang = LANG_FR;
  EXPECT_STREQ("E008-BASICS  Error in command execution %s: %s", cpCmdExecErrorFormat());
  eLang = LANG_EN;
}

TEST(Syslog, EntryText) {
  char text[SYSLOG_TEXT_MAX + 1];
  cm_syslog_text(9, "", text, sizeof(text));
  EXPECT_STREQ("Unknown ZEM korva system message code: 9", text);
  cm_syslog_text(0, "extra", text, sizeof(text));
  EXPECT_STREQ("The ZEM korva KV_MAIN Service has been started successfully. extra", text);
  cm_syslog_text(4, nullptr, text, sizeof(text));
  EXPECT_STREQ("KV_STPD Message: ", text);
  cm_syslog_text(-1, nullptr, text, sizeof(text));
  EXPECT_STREQ("Unknown ZEM korva system message code: -1", text);
  std::string big(400, 'm');
  cm_syslog_text(5, big.c_str(), text, sizeof(text));
  EXPECT_EQ(static_cast<size_t>(SYSLOG_TEXT_MAX), strlen(text));
}

}  // namespace
