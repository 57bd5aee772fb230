// Tests of the -O DATA argument completion: dots filled per operation, the
// separators of the first five fields, and a result that does not fit refused.
#include "client/vrk_dataarg.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "vrk_test_util.h"

namespace {

class DataArg : public ::testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    _sSMSLocal &s = spGlobal->sSMS;
    s.cpSaveset = const_cast<char *>("set1");
    s.cpInfo = const_cast<char *>("info");
    s.cpInter = const_cast<char *>("sidf");
    s.ulTapeID = 7;
    s.cpTapeLabel = const_cast<char *>("LBL");
    s.iTCPBufSize = 32;
    s.dOffset = 123;
    s.cpDATAFlags = const_cast<char *>("ft");
    s.ulSegmentNumber = 3;
  }
  void TearDown() override { vrktest::ResetGlobal(); }
  std::string Update(E_OPERATION op, const std::string &arg, int rc = 0) {
    spGlobal->eOPERATION = op;
    strcpy(spGlobal->szDATAarg, arg.c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(rc, vrk_update_dataarg()) << arg;
    testing::internal::GetCapturedStderr();
    return spGlobal->szDATAarg;
  }
};

TEST_F(DataArg, OneToTenFields) {
  struct Case {
    E_OPERATION op;
    const char *arg;
    const char *result;
  } cases[] = {
      {BACKUP, ".", "set1:"},
      {BACKUP, "name", "name:"},
      {BACKUP, ".:.", "set1:info:"},
      {BACKUP, "a::.", "a::sidf:"},
      {BACKUP, ".:.:.:.:.:.", "set1:info:sidf:7:LBL:32"},
      {PUT, ".:x:.:.:y:.", "set1:x:sidf:7:y:32"},
      {RESTORE, ".:.:.:.:.:.", "set1:123:ft:7:3:sidf"},
      {GET, "s:.:.", "s:123:ft:"},
      {RESTORE, "..:.x:", "..:.x::"},
      // From the sixth field on the fields follow without a separator; a dot
      // there stays a dot.
      {BACKUP, "a:b:c:d:e:f:g", "a:b:c:d:e:fg"},
      {BACKUP, ".:.:.:.:.:.:.", "set1:info:sidf:7:LBL:32."},
      {RESTORE, ".:.:.:.:.:.:a:b:c:.", "set1:123:ft:7:3:sidfabc."},
      {BACKUP, "a:b:c:d:e::", "a:b:c:d:e:"},
      // Only the first ten fields are read.
      {BACKUP, "1:2:3:4:5:6:7:8:9:10:11:12", "1:2:3:4:5:678910"},
  };
  for (const Case &c : cases) EXPECT_EQ(c.result, Update(c.op, c.arg)) << c.arg;
}

TEST_F(DataArg, CompletionThatDoesNotFitIsRefused) {
  std::string longName(4000, 's');
  spGlobal->sSMS.cpSaveset = &longName[0];
  // 4000 + 1 + 93 + 1 characters (a short argument keeps its closing ':'):
  // the largest that fits.
  const std::string fits = ".:" + std::string(93, 'x');
  EXPECT_EQ(longName + ":" + std::string(93, 'x') + ":", Update(BACKUP, fits));
  // One more does not fit: refused, the argument left as it was.
  const std::string tooLong = ".:" + std::string(94, 'x');
  EXPECT_EQ(tooLong, Update(BACKUP, tooLong, -1));
}

}  // namespace
