// Tests of the kernel helpers: tokenizer and field extraction, file line
// search, key/value splitting, the checked close with its alarm, and UUIDs.
#include <gtest/gtest.h>
#include <regex.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/cm_kernel.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::vector<std::string> Tokens(const char *text, char delim) {
  std::vector<std::string> out;
  for (char *f = cm_strtok(text, delim); f != nullptr; f = cm_strtok(nullptr, delim)) {
    out.push_back(f);
    if (out.size() > 100) break;
  }
  EXPECT_EQ(nullptr, cm_strtok(nullptr, delim));  // stays at the end
  return out;
}

TEST(CmStrtok, Fields) {
  using V = std::vector<std::string>;
  EXPECT_EQ((V{"a", "", "b"}), Tokens("a,,b", ','));
  EXPECT_EQ((V{"a", ""}), Tokens("a,", ','));
  EXPECT_EQ((V{"", "a"}), Tokens(",a", ','));
  EXPECT_EQ((V{""}), Tokens("", ','));
  EXPECT_EQ((V{"abc"}), Tokens("abc", ','));
}

TEST(CmStrtok, LongTextIsShortenedWithTrace) {
  vrktest::ResetGlobal();
  std::string text = "a," + std::string(8998, 'b');
  CaptureStderr();
  std::vector<std::string> t = Tokens(text.c_str(), ',');
  std::string err = GetCapturedStderr();
  ASSERT_EQ(2u, t.size());
  EXPECT_EQ(8189u, t[1].size());
  EXPECT_NE(std::string::npos, err.find("string shortend to 8191 chars bcs. of string overflow"));
  vrktest::ResetGlobal();
}

TEST(StrElem, Table) {
  struct {
    int pos;
    const char *str;
    int rc;
    const char *elem;
  } cases[] = {
      {2, "a:b:c", 1, "c"}, {3, "a:b:c", 0, ""},  {0, "abc", 1, "abc"}, {1, "abc", 0, ""},
      {0, ":a:b", 1, "a"},  {1, ":a:b", 1, "b"},  {1, "a::b", 1, ""},   {0, "", 0, ""},
      {0, ":", 0, ""},      {-1, "a:b", 0, ""},   {1, "a:", 1, ""},
  };
  for (const auto &c : cases) {
    char elem[64] = "junk";
    EXPECT_EQ(c.rc, str_elem(c.pos, ':', c.str, elem)) << c.pos << " " << c.str;
    EXPECT_STREQ(c.elem, elem) << c.pos << " " << c.str;
  }
  // Only the first 767 characters are split: a field behind them is missing,
  // one that reaches beyond them is cut there.
  struct {
    int pos;
    std::string str;
    int rc;
    std::string elem;
  } longCases[] = {
      {1, std::string(800, 'x') + ":tail", 0, ""},
      {1, std::string(760, 'x') + ":" + std::string(20, 'y'), 1, std::string(6, 'y')},
      {1, ":" + std::string(760, 'x') + ":" + std::string(20, 'y'), 1, std::string(6, 'y')},
      {0, std::string(900, 'x') + ":", 1, std::string(767, 'x')},
      {0, std::string(900, 'x'), 1, std::string(900, 'x')},  // no delimiter: copied whole
  };
  for (const auto &c : longCases) {
    std::vector<char> elem(1024, 'j');
    EXPECT_EQ(c.rc, str_elem(c.pos, ':', c.str.c_str(), elem.data())) << c.str.size();
    EXPECT_EQ(c.elem, std::string(elem.data())) << c.str.size();
  }
}

TEST(StrExt, Table) {
  EXPECT_STREQ("cde", str_ext(2, 3, "abcdefg"));
  EXPECT_STREQ("fg", str_ext(5, 10, "abcdefg"));
  EXPECT_STREQ("", str_ext(0, 0, "abc"));
  str_ext(0, 3, "xyz");
  // Out-of-range requests give the previous result.
  EXPECT_STREQ("xyz", str_ext(-1, 2, "abc"));
  EXPECT_STREQ("xyz", str_ext(3, 2, "abc"));
  EXPECT_STREQ("xyz", str_ext(0, 512, "abc"));
  EXPECT_STREQ("xyz", str_ext(0, -1, "abc"));
}

class FileSearchTest : public testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    path_ = dir_.file("lines.txt");
    vrktest::WriteFile(path_, "one x\nabc first\ntwo y\nboth x y\nabc second\nlast abc");
  }
  void TearDown() override { vrktest::ResetGlobal(); }
  vrktest::TempDir dir_;
  std::string path_;
};

TEST_F(FileSearchTest, FirstAndLastMatch) {
  struct {
    const char *search;
    int found, revFound;
    const char *back, *revBack;  // the search buffer afterwards
  } cases[] = {
      {"abc^", 1, 1, "abc first", "last abc"},  // last line has no newline: kept whole
      {"abc", 1, 1, "abc", "abc"},
      {"x|AND|y^", 1, 1, "both x y", "both x y"},
      {"x|OR|y^", 1, 1, "one x", "both x y"},
      {"zzz^", 0, 0, "zzz", "zzz"},
      {"q|OR|two^", 1, 1, "two y", "two y"},
      {"^", 1, 1, "one x", "last abc"},  // an empty term matches every line
  };
  for (const auto &c : cases) {
    char buf[300];
    strcpy(buf, c.search);
    EXPECT_EQ(c.found, file_search(path_.c_str(), buf, sizeof(buf))) << c.search;
    EXPECT_STREQ(c.back, buf) << c.search;
    strcpy(buf, c.search);
    EXPECT_EQ(c.revFound, file_rev_search(path_.c_str(), buf, sizeof(buf))) << c.search;
    EXPECT_STREQ(c.revBack, buf) << c.search;
  }
}

TEST_F(FileSearchTest, LongLinesAndErrors) {
  std::string longLine = std::string(600, 'a') + " needle " + std::string(600, 'b');
  vrktest::WriteFile(path_, "short\n" + longLine + "\nnext\n");
  char buf[16];
  strcpy(buf, "needle^");
  EXPECT_EQ(1, file_search(path_.c_str(), buf, sizeof(buf)));
  EXPECT_STREQ(std::string(15, 'a').c_str(), buf);  // the line, bounded by the buffer
  strcpy(buf, "bbb|AND|next");  // the rest of a long line is no line of its own
  EXPECT_EQ(0, file_search(path_.c_str(), buf, sizeof(buf)));

  CaptureStderr();
  strcpy(buf, "x");
  EXPECT_EQ(0, file_search(dir_.file("none").c_str(), buf, sizeof(buf)));
  EXPECT_EQ(0, file_rev_search(dir_.file("none").c_str(), buf, sizeof(buf)));
  std::string err = GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("file_search: fopen(" + dir_.file("none") +
                                        ") failed with: (2) No such file or directory"));
  EXPECT_NE(std::string::npos, err.find("file_rev_search: fopen("));
}

TEST(SeekString, ReadsOnFromCurrentPosition) {
  vrktest::TempDir dir;
  vrktest::WriteFile(dir.file("f"), "a1\nb\na2\n");
  FILE *fp = fopen(dir.file("f").c_str(), "r");
  ASSERT_NE(nullptr, fp);
  char line[64];
  EXPECT_EQ(1, i_SEEK_STRING(fp, line, sizeof(line), "a", nullptr, ' '));
  EXPECT_STREQ("a1\n", line);
  EXPECT_EQ(1, i_SEEK_STRING(fp, line, sizeof(line), "a", nullptr, ' '));
  EXPECT_STREQ("a2\n", line);
  EXPECT_EQ(0, i_SEEK_STRING(fp, line, sizeof(line), "a", nullptr, ' '));
  fclose(fp);
}

TEST(KeyValue, SplitsIntoDictionary) {
  dictionary *d = dictionary_new(0);
  EXPECT_EQ(1, iCreateKeyValue(d, "a=1,b,c=x=y", ',', '=', 0));
  EXPECT_STREQ("1", dictionary_get(d, "a", nullptr));
  EXPECT_STREQ("1", dictionary_get(d, "b", nullptr));
  EXPECT_STREQ("x=y", dictionary_get(d, "c", nullptr));
  dictionary *u = dictionary_new(0);
  EXPECT_EQ(1, iCreateKeyValue(u, "a=1,b", ',', '=', 1));
  EXPECT_STREQ("1", dictionary_get(u, "A", nullptr));
  EXPECT_STREQ("1", dictionary_get(u, "B", nullptr));
  EXPECT_EQ(nullptr, dictionary_get(u, "a", nullptr));
  EXPECT_EQ(2, u->n);
  EXPECT_EQ(0, iCreateKeyValue(u, nullptr, ',', '=', 1));
  EXPECT_EQ(2, u->n);
  dictionary_del(d);
  dictionary_del(u);
}

// Puts stand-ins of the product's alarm and stop programs first on PATH;
// each records its name and arguments in a log file.
class FcloseTest : public testing::Test {
 protected:
  void SetUp() override {
    vrktest::ResetGlobal();
    log_ = dir_.file("calls.log");
    for (const char *prog : {"kv_alarm", "kv_os_startup"}) {
      std::string p = dir_.file(prog);
      vrktest::WriteFile(p, "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> '" + log_ + "'\n");
      chmod(p.c_str(), 0755);
    }
    const char *old = getenv("PATH");
    oldPath_ = old ? old : "";
    setenv("PATH", (dir_.path() + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    vrktest::ResetGlobal();
  }
  vrktest::TempDir dir_;
  std::string log_, oldPath_;
};

TEST_F(FcloseTest, ExhaustedFileSystemRaisesAlarm) {
  CaptureStderr();
  EXPECT_EQ(1, i_check_fclose_errno(28));
  std::string err = GetCapturedStderr();
  EXPECT_EQ("kv_alarm FILE_SYSTEM No space left on device\nkv_os_startup STOP\n",
            vrktest::ReadFile(log_));
  EXPECT_NE(std::string::npos, err.find("check_fclose_errno (28): No space left on device"));
  EXPECT_NE(std::string::npos,
            err.find("\n\nShutdown Korva - problems with file system: No space left on device (28)"
                     "\n\n"));
}

TEST_F(FcloseTest, OtherErrorsOnlyTrace) {
  for (int e : {0, 5}) {
    CaptureStderr();
    EXPECT_EQ(0, i_check_fclose_errno(e));
    std::string err = GetCapturedStderr();
    EXPECT_EQ(e == 5, err.find("check_fclose_errno (5): ") != std::string::npos);
  }
  EXPECT_EQ("", vrktest::ReadFile(log_));
}

TEST_F(FcloseTest, FailedCloseOnFullDevice) {
  FILE *fp = fopen("/dev/full", "w");
  if (fp == nullptr) GTEST_SKIP() << "no /dev/full";
  CaptureStderr();  // flushes every stream: before the write, so the close meets the error
  fputs("data", fp);
  EXPECT_EQ(EOF, iCM_FCLOSE(fp));
  GetCapturedStderr();
  EXPECT_EQ("kv_alarm FILE_SYSTEM No space left on device\nkv_os_startup STOP\n",
            vrktest::ReadFile(log_));

  vrktest::TempDir other;
  FILE *ok = fopen(other.file("f").c_str(), "w");
  ASSERT_NE(nullptr, ok);
  EXPECT_EQ(0, iCM_FCLOSE(ok));
}

bool IsUuidOfVersion(const char *s, char version) {
  regex_t re;
  regcomp(&re, "^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$", REG_EXTENDED);
  bool ok = regexec(&re, s, 0, nullptr, 0) == 0 && s[14] == version;
  regfree(&re);
  return ok;
}

TEST(CmUuid, Versions) {
  char a[37], b[37];
  EXPECT_EQ(1, cm_uuid(a, '1'));
  EXPECT_EQ(1, cm_uuid(b, 0));
  EXPECT_TRUE(IsUuidOfVersion(a, '1')) << a;
  EXPECT_TRUE(IsUuidOfVersion(b, '1')) << b;
  EXPECT_STRNE(a, b);
  EXPECT_EQ(1, cm_uuid(a, '3'));
  EXPECT_EQ(1, cm_uuid(b, '3'));
  EXPECT_TRUE(IsUuidOfVersion(a, '3')) << a;
  EXPECT_STRNE(a, b);
  EXPECT_TRUE(IsUuidOfVersion(pcm_uuid3(), '1'));
  EXPECT_EQ(0, cm_uuid(nullptr, '1'));
}

}  // namespace
