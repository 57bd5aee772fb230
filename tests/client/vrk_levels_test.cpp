// Tests of the level keywords per operation, the names used in messages,
// the header format names and the reading of time texts.
#include <gtest/gtest.h>
#include <time.h>

#include <string>

#include "client/vrk_levels.h"
#include "vrk_client_fixture.h"

namespace {

struct LevelCase {
  E_OPERATION op;
  const char *text;
  _eBackupType level;
};

void PrintTo(const LevelCase &c, std::ostream *os) { *os << c.op << ":'" << c.text << "'"; }

class Level : public vrktest::ClientTest, public testing::WithParamInterface<LevelCase> {};

TEST_P(Level, PrefixMatchInTableOrder) {
  const LevelCase &c = GetParam();
  spGlobal->eOPERATION = c.op;
  std::string text(c.text);
  EXPECT_EQ(c.level, vrk_level(&text[0])) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Level,
    testing::Values(LevelCase{BACKUP, "FULL", FULL}, LevelCase{BACKUP, "f", FULL},
                    LevelCase{BACKUP, "", FULL}, LevelCase{BACKUP, "INC", INCREMENTAL},
                    LevelCase{BACKUP, "inc", INCREMENTAL}, LevelCase{BACKUP, "I", INCREMENTAL},
                    LevelCase{BACKUP, "c", COPY}, LevelCase{BACKUP, "d", DIFFERENTIAL},
                    LevelCase{BACKUP, "S", SINCE}, LevelCase{BACKUP, "SEL", E_TYPE_UNKNOWN},
                    LevelCase{RESTORE, "S", SELECTIVE}, LevelCase{RESTORE, "sel", SELECTIVE},
                    LevelCase{RESTORE, "since", E_TYPE_UNKNOWN},
                    LevelCase{PUT, "S", E_TYPE_UNKNOWN}, LevelCase{BACKUP, "L", E_LIST},
                    LevelCase{BACKUP, "FULLX", E_TYPE_UNKNOWN},
                    LevelCase{BACKUP, "incremental", E_TYPE_UNKNOWN}));

TEST(LevelNames, OperationAndLevelTexts) {
  EXPECT_STREQ("NOOP", vrk_getopstr(OPERATION_NOT_INITIALIZED));
  EXPECT_STREQ("BACKUP", vrk_getopstr(BACKUP));
  EXPECT_STREQ("RESTORE", vrk_getopstr(RESTORE));
  EXPECT_STREQ("PUT", vrk_getopstr(PUT));
  EXPECT_STREQ("GET", vrk_getopstr(GET));
  EXPECT_STREQ("KILL", vrk_getopstr(KILL));
  EXPECT_STREQ("NOOP", vrk_getopstr(LIST_RESOURCES));
  EXPECT_STREQ("NOOP", vrk_getopstr(DIRLIST));
  const char *names[] = {"FULL", "INCR", "DIFF", "SINCE", "COPY", "SELECTIVE",
                         "E_TYPE_UNKNOWN", "E_TYPE_UNKNOWN", "LIST", "E_TYPE_UNKNOWN",
                         "E_TYPE_UNKNOWN"};
  for (int i = 0; i <= E_TYPE_UNKNOWN; ++i)
    EXPECT_STREQ(names[i], vrk_getlevelstr((_eBackupType)i)) << i;
}

TEST(HeaderFormat, NamesByBeginningCaseSensitive) {
  EXPECT_EQ(HDR_VRK, vrk_strtofmt("CPIO_VRK"));
  EXPECT_EQ(HDR_CPIO_ASCII, vrk_strtofmt("CPIO_ASCII"));
  EXPECT_EQ(HDR_CPIO_NEW, vrk_strtofmt("CPIO_NEW_ASCII"));
  EXPECT_EQ(HDR_RAW, vrk_strtofmt("RAWDATA"));
  EXPECT_EQ(HDR_UNKNOWN, vrk_strtofmt("raw"));
  EXPECT_EQ(HDR_UNKNOWN, vrk_strtofmt(nullptr));
}

// The option parser passes -l's own argument: it is upper-cased in place.
TEST(LevelText, UpperCasedInPlace) {
  vrktest::ResetGlobal();
  spGlobal->eOPERATION = BACKUP;
  char text[] = "dIf-1";
  EXPECT_EQ(E_TYPE_UNKNOWN, vrk_level(text));
  EXPECT_STREQ("DIF-1", text);
}

// Every letter upper-cased in place, other bytes kept; the text comes back.
TEST(Strupr, InPlace) {
  struct Case {
    const char *in, *out;
  } cases[] = {{"aBc-1", "ABC-1"}, {"", ""}, {"control:x/y", "CONTROL:X/Y"}, {"@@stdin", "@@STDIN"}};
  for (const Case &c : cases) {
    std::string text(c.in);
    EXPECT_EQ(&text[0], vrk_strupr(&text[0]));
    EXPECT_EQ(c.out, text);
  }
  EXPECT_EQ(nullptr, vrk_strupr(nullptr));
}

TEST(GetTime, BothFormsGiveTheLocalTime) {
  struct tm want = {};
  want.tm_year = 2014 - 1900;
  want.tm_mon = 1;
  want.tm_mday = 19;
  want.tm_hour = 13;
  want.tm_min = 10;
  want.tm_sec = 22;
  want.tm_isdst = -1;
  time_t expect = mktime(&want);
  EXPECT_EQ(expect, vrk_get_time("20140219131022", 0));
  EXPECT_EQ(expect, vrk_get_time("2014-02-19 13:10:22", 1));
}

TEST(GetTime, TextsThatDoNotParseWholeAreRefused) {
  EXPECT_EQ((time_t)-1, vrk_get_time("yesterday", 0));
  EXPECT_EQ((time_t)-1, vrk_get_time("20140219", 0));
  EXPECT_EQ((time_t)-1, vrk_get_time("20140219131022junk", 0));
  EXPECT_EQ((time_t)-1, vrk_get_time(nullptr, 0));
}

}  // namespace
