// Tests of the -o keyword table: its order, abbreviation and leading-word
// matching, the values taken from keywords, the refusals and long lists.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "client/vrk_subopts.h"
#include "vrk_client_fixture.h"

namespace {

struct SubCase {
  const char *list;
  int rc;
  std::function<bool()> check;
  const char *err;  // text that standard error must hold, or ""
};

void PrintTo(const SubCase &c, std::ostream *os) { *os << c.list; }

class SubOpts : public vrktest::ClientTest, public testing::WithParamInterface<SubCase> {};

_sOptions &O() { return spGlobal->sOptions; }

TEST_P(SubOpts, Table) {
  const SubCase &c = GetParam();
  spGlobal->eOPERATION = RESTORE;
  testing::internal::CaptureStderr();
  int rc = vrk_parse_subopts(c.list);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(c.rc, rc) << c.list << "\n" << err;
  EXPECT_TRUE(c.check()) << c.list;
  EXPECT_NE(std::string::npos, err.find(c.err)) << c.list << "\n" << err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SubOpts,
    testing::Values(
        SubCase{"ren,plain", 0, [] { return O().iRename == 1 && O().iPlain == 1; }, ""},
        // RENAME with OVERWRITE: the second of the two is refused, the first
        // stays and the other keywords are still read.
        SubCase{"ov,ren,plain", 0,
                [] { return O().iOverwrite == 1 && O().iRename == 0 && O().iPlain == 1; },
                "Invalid argument [REN] for switch -o."},
        SubCase{"r,o", 0, [] { return O().iRename == 1 && O().iOverwrite == 0; },
                "Invalid argument [O] for switch -o."},
        // A trailing comma is an empty keyword, which selects RENAME.
        SubCase{"overwrite,", 0, [] { return O().iOverwrite == 1 && O().iRename == 0; },
                "Invalid argument [] for switch -o."},
        // Single letters select the first row beginning with them.
        SubCase{"n,d,a", 0,
                [] { return O().iNext == 1 && O().iSdi == 1 && O().iProcessACL == 1; }, ""},
        SubCase{"no", 0, [] { return O().iNoTrailer == 1; }, ""},
        SubCase{"noacl", 0, [] { return O().iProcessACL == 0; }, ""},
        SubCase{"noexcl", 0, [] { return O().iExFile == 0; }, ""},
        SubCase{"nonfs", 0, [] { return O().iNfs == 0; }, ""},
        SubCase{"x", 0, [] { return O().iXdev == 0; }, ""},
        SubCase{"xdev,noxdev", 0, [] { return O().iXdev == 1; }, ""},
        SubCase{"u", 0, [] { return O().openMode == 1; },
                "got option 'USE_LOCK_MODE_IF_DW_FAILS'"},
        SubCase{"open_read_o", 0, [] { return O().openMode == 3; }, "got option 'OPEN_READ_ONLY'"},
        SubCase{"OPEN_READ_D", 0, [] { return O().openMode == 0; }, ""},
        SubCase{"no_lock", 0, [] { return O().openMode == 2; }, ""},
        SubCase{"pres,i,s", 0,
                [] {
                  return O().iPreserveAccessTime == 1 && O().iIncludeMigratedData == 1 &&
                         O().iSkipData == 1;
                },
                "got option 'SKIP_DATA'"},
        SubCase{"uncompress", 0, [] { return spGlobal->bCompress == 0; },
                "Got option uncompress so set scanType EXPAND_COMPRESSED_DATA"},
        SubCase{"hard=L", 0, [] { return O().cHardLink == 'L'; }, ""},
        SubCase{"RelocDeli=%%", 0, [] { return std::string(spGlobal->szRelocDelimiter) == "%%"; },
                ""},
        SubCase{"relocdeli=", 0, [] { return spGlobal->szRelocDelimiter[0] == '\0'; }, ""},
        SubCase{"relocdeli=1234567", -1, [] { return true; }, "switch -o"},
        SubCase{"verify=content", 0,
                [] { return O().iVerify == 1 && spGlobal->eVerifyOption == VERIFY_CONTENT; }, ""},
        SubCase{"verify=time", 0, [] { return spGlobal->eVerifyOption == VERIFY_TIME; }, ""},
        SubCase{"verify=other,plain", -1, [] { return O().iPlain == 1; }, "vrk-1038"},
        SubCase{"verify", -1, [] { return O().iVerify == 0; }, "vrk-1038"},
        SubCase{"path=/Mixed/Case", 0,
                [] { return std::string(spGlobal->szPath[0]) == "/Mixed/Case"; },
                "Got relocation path with [/Mixed/Case]"},
        SubCase{"path", -1, [] { return true; }, "vrk-1038"},
        SubCase{"encrypt=Secret", 0,
                [] {
                  return O().iEncrypt == 1 && O().iEncryptPlain == 0 &&
                         std::string(spGlobal->sVRKObject.szEnDecrPassword) == "Secret";
                },
                ""},
        SubCase{"encrypt_plain=pw", 0, [] { return O().iEncryptPlain == 1; }, ""},
        SubCase{"encrypt", -1, [] { return O().iEncrypt == 0; }, "vrk-1038"},
        // A password with a comma: its second part is not shown.
        SubCase{"encrypt=Se,cret", -1, [] { return true; }, "Invalid argument [****] for switch -o."},
        SubCase{"encrypt=Se,plain,bogus", -1, [] { return O().iPlain == 1; },
                "Invalid argument [BOGUS] for switch -o."},
        // An unknown keyword stops the list at once with the OS description.
        SubCase{"bogus,plain", -1, [] { return O().iPlain == 0; },
                "Invalid argument [BOGUS] for switch -o."},
        SubCase{"h", -1, [] { return true; }, "vrk-3019"},
        SubCase{"hard", -1, [] { return O().cHardLink == 0; }, "vrk-1038"},
        // More than six keywords are all handled.
        SubCase{"plain,next,nfs,notrailer,disk_info,acl,noexcl,nonfs,skip_data", 0,
                [] {
                  return O().iPlain == 1 && O().iNext == 1 && O().iNoTrailer == 1 &&
                         O().iSdi == 1 && O().iExFile == 0 && O().iNfs == 0 &&
                         O().iSkipData == 1;
                },
                ""},
        SubCase{"-plain", -1, [] { return O().iPlain == 0; },
                "Option -o requires an argument."}));

TEST_F(SubOpts, VerifyOutsideARestoreFails) {
  spGlobal->eOPERATION = BACKUP;
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, vrk_parse_subopts("verify=content"));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(VERIFY_NONE, spGlobal->eVerifyOption);
}

// An ENCRYPT value is cut to its first 155 characters when it is longer
// than 156; one of 156 is taken whole.
TEST_F(SubOpts, OverlongEncryptValueIsCut) {
  struct Case {
    size_t len, kept;
  } cases[] = {{155, 155}, {156, 156}, {157, 155}, {200, 155}, {600, 155}};
  for (const Case &c : cases) {
    spGlobal->sVRKObject.szEnDecrPassword[0] = '\0';
    std::string pw;
    for (size_t i = 0; i < c.len; i++) pw += (char)('a' + i % 26);
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, vrk_parse_subopts(("encrypt=" + pw).c_str())) << c.len;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(pw.substr(0, c.kept), std::string(spGlobal->sVRKObject.szEnDecrPassword)) << c.len;
    EXPECT_EQ(1, O().iEncrypt);
    EXPECT_EQ(std::string::npos, err.find("for switch -o.")) << err;
  }
}

TEST_F(SubOpts, OverlongPathIsRefusedNotCut) {
  spGlobal->eOPERATION = RESTORE;
  std::string path(5000, 'a');
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, vrk_parse_subopts(("path=/" + path).c_str()));
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ("", spGlobal->szPath[0]);
}

}  // namespace
