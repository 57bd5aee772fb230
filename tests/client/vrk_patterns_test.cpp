// Tests of the exclude and ignore pattern lists: the exclude file, the ini
// pattern keys, compiling, matching and freeing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "client/vrk_patterns.h"
#include "runtime/ini_lookup.h"
#include "vrk_client_fixture.h"

namespace {

using vrktest::TempDir;
using vrktest::WriteFile;

class PatternsTest : public vrktest::ClientTest {
 protected:
  void TearDown() override {
    vrk_regfree_all();
    for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
      free(spGlobal->sVRKObject.cpIgnore[i]);
      spGlobal->sVRKObject.cpIgnore[i] = nullptr;
    }
    vrktest::ClientTest::TearDown();
  }
  void OpenExcludeFile(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    spGlobal->sVRKObject.iExcludeFile = fd;
  }
  int Count(char **list) {
    int n = 0;
    while (n < VRK_MAX_ITEMS && list[n] != nullptr) ++n;
    return n;
  }
  int Fill(std::string *msg = nullptr) {
    char buf[512];
    memset(buf, 'x', sizeof(buf));
    testing::internal::CaptureStderr();
    int rc = iFillExcludePatternsFromFile(buf, sizeof(buf));
    log_ = testing::internal::GetCapturedStderr();
    if (msg != nullptr) *msg = rc == 1 ? std::string() : std::string(buf);
    return rc;
  }
  std::string log_;
  TempDir dir_;
};

TEST_F(PatternsTest, EveryNonEmptyLineBecomesAPatternTheLastOneWithoutNewlineToo) {
  WriteFile(dir_.file("ex"), "/a/*.tmp\n\n\n/b/cache/\nlast");
  OpenExcludeFile(dir_.file("ex"));
  ASSERT_EQ(1, Fill());
  char **ex = spGlobal->sVRKObject.cpExclude;
  ASSERT_EQ(3, Count(ex));
  EXPECT_STREQ("/a/*.tmp", ex[0]);
  EXPECT_STREQ("/b/cache/", ex[1]);
  EXPECT_STREQ("last", ex[2]);
  EXPECT_NE(std::string::npos, log_.find("Exclude pattern [/b/cache/]")) << log_;
}

TEST_F(PatternsTest, NoExcludeFileIsNoFailure) {
  spGlobal->sVRKObject.iExcludeFile = -1;
  EXPECT_EQ(1, Fill());
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpExclude[0]);
}

TEST_F(PatternsTest, PatternsGoBehindTheCommandLineOnesAndAFullListStopsTheReader) {
  char **ex = spGlobal->sVRKObject.cpExclude;
  for (int i = 0; i < 250; ++i) ex[i] = strdup(("x" + std::to_string(i)).c_str());
  std::string lines;
  for (int i = 0; i < 10; ++i) lines += "f" + std::to_string(i) + "\n";
  WriteFile(dir_.file("ex"), lines);
  OpenExcludeFile(dir_.file("ex"));
  std::string msg;
  EXPECT_EQ(0, Fill(&msg));
  EXPECT_EQ("Maximum of exclude patterns in list reached.", msg);
  EXPECT_EQ(VRK_MAX_PATTERNS, Count(ex));
  EXPECT_STREQ("x249", ex[249]);
  EXPECT_STREQ("f0", ex[250]);
  EXPECT_STREQ("f4", ex[254]);
  EXPECT_EQ(nullptr, ex[255]);
}

TEST_F(PatternsTest, ASecondCallReadsTheFileAgainFromItsStart) {
  WriteFile(dir_.file("ex"), "one\ntwo\n");
  OpenExcludeFile(dir_.file("ex"));
  ASSERT_EQ(1, Fill());
  ASSERT_EQ(1, Fill());
  char **ex = spGlobal->sVRKObject.cpExclude;
  ASSERT_EQ(4, Count(ex));
  EXPECT_STREQ("one", ex[2]);
  EXPECT_STREQ("two", ex[3]);
}

TEST_F(PatternsTest, DescriptorZeroIsAValidExcludeFile) {
  WriteFile(dir_.file("ex"), "from-stdin\n");
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  int fd = open(dir_.file("ex").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, dup2(fd, 0));
  close(fd);
  spGlobal->sVRKObject.iExcludeFile = 0;
  int rc = Fill();
  dup2(saved, 0);
  close(saved);
  spGlobal->sVRKObject.iExcludeFile = -1;
  EXPECT_EQ(1, rc);
  ASSERT_NE(nullptr, spGlobal->sVRKObject.cpExclude[0]);
  EXPECT_STREQ("from-stdin", spGlobal->sVRKObject.cpExclude[0]);
}

TEST_F(PatternsTest, AReadErrorIsReportedNotTakenAsTheEnd) {
  // A directory opens and seeks but every read fails.
  int fd = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  spGlobal->sVRKObject.iExcludeFile = fd;
  std::string msg;
  EXPECT_EQ(0, Fill(&msg));
  EXPECT_NE(std::string::npos, msg.find("Read of exclude file failed")) << msg;
}

TEST_F(PatternsTest, AnOverLongLineIsRefusedAndTheOthersKept) {
  std::string longLine(VRK_PATTERN_LINE_MAX + 1, 'L');
  std::string fits(VRK_PATTERN_LINE_MAX, 'F');
  WriteFile(dir_.file("ex"), "a\n" + longLine + "\n" + fits + "\nb\n");
  OpenExcludeFile(dir_.file("ex"));
  std::string msg;
  EXPECT_EQ(0, Fill(&msg));
  EXPECT_NE(std::string::npos, msg.find("line 2")) << msg;
  char **ex = spGlobal->sVRKObject.cpExclude;
  ASSERT_EQ(3, Count(ex));
  EXPECT_STREQ("a", ex[0]);
  EXPECT_EQ(fits, ex[1]);
  EXPECT_STREQ("b", ex[2]);
}

TEST_F(PatternsTest, TheMessageIsCutToTheBuffer) {
  WriteFile(dir_.file("ex"), "p\n");
  char **ex = spGlobal->sVRKObject.cpExclude;
  for (int i = 0; i < VRK_MAX_PATTERNS; ++i) ex[i] = strdup("x");
  OpenExcludeFile(dir_.file("ex"));
  char small[10];
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, iFillExcludePatternsFromFile(small, sizeof(small)));
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ("Maximum o", small);
}

TEST_F(PatternsTest, CompiledPatternsMatchAndAPatternThatDoesNotCompileIsNotKept) {
  char **ex = spGlobal->sVRKObject.cpExclude;
  ex[0] = strdup("\\.tmp$");
  ex[1] = strdup("^/var/cache/");
  EXPECT_EQ(1, vrk_regcomp_all());
  EXPECT_EQ(1, vrk_match_exclude("/home/a.tmp"));
  EXPECT_EQ(1, vrk_match_exclude("/var/cache/x"));
  EXPECT_EQ(0, vrk_match_exclude("/home/a.tmpx"));
  EXPECT_EQ(0, vrk_match_exclude(nullptr));

  ex[2] = strdup("(unclosed");
  ex[3] = strdup("after");
  // Even with every trace on, the only line naming the pattern is its own
  // "exclude item" trace: a failed compile writes no message.
  spGlobal->iLogLevel = 4;
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, vrk_regcomp_all());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("exclude item: (unclosed")) << err;
  EXPECT_EQ(err.find("(unclosed"), err.rfind("(unclosed")) << err;
  void **re = spGlobal->sVRKObject.psRegEx;
  EXPECT_NE(nullptr, re[1]);
  EXPECT_EQ(nullptr, re[2]);
  EXPECT_EQ(0, vrk_match_exclude("after"));
  EXPECT_EQ(1, vrk_match_exclude("b.tmp"));
}

TEST_F(PatternsTest, AnIgnorePatternThatDoesNotCompileIsLogged) {
  spGlobal->sVRKObject.cpIgnore[0] = strdup("[bad");
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, vrk_ignore_regcomp_all());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("Could not parse exclude/ignore list item [[bad].")) << err;
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.psRegIgnEx[0]);
  EXPECT_EQ(0, vrk_match_ignore("[bad"));
}

TEST_F(PatternsTest, FreedPatternsAreClearedAndMatchNothing) {
  spGlobal->sVRKObject.cpExclude[0] = strdup("a");
  spGlobal->sVRKObject.cpIgnore[0] = strdup("b");
  ASSERT_EQ(1, vrk_regcomp_all());
  ASSERT_EQ(1, vrk_ignore_regcomp_all());
  EXPECT_EQ(1, vrk_match_ignore("b"));
  vrk_regfree_all();
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.psRegEx[0]);
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.psRegIgnEx[0]);
  EXPECT_EQ(0, vrk_match_exclude("a"));
  EXPECT_EQ(0, vrk_match_ignore("b"));
  vrk_regfree_all();  // a second free finds nothing to free
}

class IniPatternsTest : public PatternsTest {
 protected:
  void SetUp() override {
    PatternsTest::SetUp();
    ASSERT_EQ(1, i_SET_ROOT_CANDIDATES(dir_.file("none0").c_str(), dir_.file("none1").c_str()));
    WriteFile(dir_.file("boot.ini"), "KV_INI=" + dir_.file("main.ini") + "\n");
    const char *old = getenv("KORVA_INI");
    oldEnv_ = old != nullptr ? old : "";
    hadEnv_ = old != nullptr;
    setenv("KORVA_INI", dir_.file("boot.ini").c_str(), 1);
  }
  void TearDown() override {
    if (hadEnv_) setenv("KORVA_INI", oldEnv_.c_str(), 1);
    else unsetenv("KORVA_INI");
    i_SET_ROOT_CANDIDATES(nullptr, nullptr);
    PatternsTest::TearDown();
  }
  std::string oldEnv_;
  bool hadEnv_ = false;
};

TEST_F(IniPatternsTest, DefaultExcludePatternsGoBehindTheExistingOnes) {
  WriteFile(dir_.file("main.ini"),
            "[VRK_EXCLUDE]\nExcludePattern1=/proc/\nExcludePattern2=\\.swp$\n");
  spGlobal->sVRKObject.cpExclude[0] = strdup("given");
  char msg[512];
  testing::internal::CaptureStderr();
  EXPECT_EQ(1, FillDefaultExcludePatterns(msg, sizeof(msg)));
  std::string err = testing::internal::GetCapturedStderr();
  char **ex = spGlobal->sVRKObject.cpExclude;
  ASSERT_EQ(3, Count(ex)) << err;
  EXPECT_STREQ("given", ex[0]);
  EXPECT_STREQ("/proc/", ex[1]);
  EXPECT_STREQ("\\.swp$", ex[2]);
  EXPECT_NE(std::string::npos, err.find("Got 2 exclude patterns from KV.INI [VRK_EXCLUDE] ExcludePattern"))
      << err;
}

TEST_F(IniPatternsTest, NoDefaultPatternsIsNoFailure) {
  WriteFile(dir_.file("main.ini"), "[OTHER]\nx=1\n");
  char msg[512];
  testing::internal::CaptureStderr();
  EXPECT_EQ(1, FillDefaultExcludePatterns(msg, sizeof(msg)));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("No ExcludePattern found in kv.ini section [VRK_EXCLUDE]")) << err;
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpExclude[0]);
}

TEST_F(IniPatternsTest, IgnorePatternsStartAtTheFirstSlotAndExpandVariables) {
  WriteFile(dir_.file("main.ini"),
            "[PATHES]\nLOGDIR=/opt/log\n"
            "[VRK_IGNORE_SIZE_CHANGE]\nIgnorePattern1=pre$(LOGDIR)/.*\\.log\n"
            "IgnorePattern2=$(MISSING)/x\nIgnorePattern3=plain\n");
  spGlobal->sVRKObject.cpIgnore[0] = strdup("old");
  char msg[512];
  testing::internal::CaptureStderr();
  EXPECT_EQ(1, FillIgnorePatterns(msg, sizeof(msg)));
  std::string err = testing::internal::GetCapturedStderr();
  char **ig = spGlobal->sVRKObject.cpIgnore;
  ASSERT_EQ(2, Count(ig)) << err;
  EXPECT_STREQ("/opt/log/.*\\.log", ig[0]);
  EXPECT_STREQ("plain", ig[1]);
}

}  // namespace
