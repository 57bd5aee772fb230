// Tests of the ini parser: loading files and standard input, line forms,
// getters, setters and dumps, and the unit's string functions.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "client/vrk_global.h"
#include "runtime/iniparser.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class IniTest : public testing::Test {
 protected:
  void SetUp() override { vrktest::ResetGlobal(); }
  void TearDown() override {
    iniparser_freedict(d_);
    vrktest::ResetGlobal();
  }
  dictionary *Load(const std::string &text) {
    std::string path = dir_.file("test.ini");
    vrktest::WriteFile(path, text);
    iniparser_freedict(d_);
    d_ = iniparser_load(path.c_str());
    return d_;
  }
  std::string Get(const char *key) {
    const char *v = iniparser_getstring(d_, key, const_cast<char *>("<none>"));
    return v ? v : "<null>";
  }
  vrktest::TempDir dir_;
  dictionary *d_ = nullptr;
};

TEST_F(IniTest, LineForms) {
  ASSERT_NE(nullptr, Load("top = 1\n"
                          "[Server]\n"
                          "Port = 1234\r\n"
                          "  quoted = \"a # b\"  \n"
                          "single = 'c # d'\n"
                          "plain = a # b\n"
                          "empty2 = \"\"\n"
                          "empty1 = ''\n"
                          "# x = y\n"
                          "; comment\n"
                          "\n"
                          "inner key = inner value  \n"
                          "novalue =\n"
                          "[ Odd Name ]\n"
                          "k=v\n"));
  struct {
    const char *key, *value;
  } cases[] = {
      {":top", "1"},          {"Server", "<null>"},     {"Server:Port", "1234"},
      {"server:port", "<none>"}, {"Server:quoted", "a # b"}, {"Server:single", "c # d"},
      {"Server:plain", "a"},  {"Server:empty2", ""},    {"Server:empty1", ""},
      {"Server:# x", "y"},    {"Server:inner key", "inner value"},
      {"Server:novalue", "<none>"}, {"Server:; comment", "<none>"},
      {" Odd Name ", "<null>"}, {" Odd Name :k", "v"},
  };
  for (const auto &c : cases) EXPECT_EQ(c.value, Get(c.key)) << c.key;
  EXPECT_EQ(2, iniparser_getnsec(d_));
  EXPECT_STREQ("Server", iniparser_getsecname(d_, 0));
  EXPECT_STREQ(" Odd Name ", iniparser_getsecname(d_, 1));
  EXPECT_EQ(nullptr, iniparser_getsecname(d_, 2));
  EXPECT_EQ(nullptr, iniparser_getsecname(d_, -1));
}

TEST_F(IniTest, EmptyInputAndMissingFile) {
  spGlobal->iLogLevel = 4;
  CaptureStderr();
  EXPECT_EQ(nullptr, Load(""));
  std::string err = GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("iniparser_load: Empty input >> return NULL"));
  ASSERT_NE(nullptr, Load("\n"));
  EXPECT_EQ(0, d_->n);
  CaptureStderr();
  dictionary *none = iniparser_load(dir_.file("missing.ini").c_str());
  err = GetCapturedStderr();
  EXPECT_EQ(nullptr, none);
  EXPECT_NE(std::string::npos, err.find("iniparser_load: Failed to open ini file name \""));
  EXPECT_NE(std::string::npos, err.find("missing.ini\" (2)"));
}

TEST_F(IniTest, OverlongLineIsRefusedNotSplit) {
  std::string longv(2000, 'x');
  std::string fits(1023 - 4, 'y');  // "k = " plus the value: exactly 1023 characters
  CaptureStderr();
  ASSERT_NE(nullptr, Load("[s]\nlong = " + longv + "=tail\nk = " + fits + "\nafter = 1\n"));
  std::string err = GetCapturedStderr();
  EXPECT_EQ("<none>", Get("s:long"));
  EXPECT_EQ(2, iniparser_getnentries(d_, "s"));  // only k and after, nothing from the rest
  EXPECT_EQ(fits, Get("s:k"));
  EXPECT_EQ("1", Get("s:after"));
  EXPECT_NE(std::string::npos, err.find("line 2 longer than 1023 characters ignored"));
}

// Loads "-" with a pipe holding text as standard input.
dictionary *LoadFromStdinPipe(const std::string &text) {
  int saved = dup(0);
  int fds[2];
  if (pipe(fds) != 0) return nullptr;
  EXPECT_EQ(static_cast<ssize_t>(text.size()), write(fds[1], text.data(), text.size()));
  close(fds[1]);
  dup2(fds[0], 0);
  close(fds[0]);
  dictionary *d = iniparser_load("-");
  dup2(saved, 0);
  close(saved);
  return d;
}

TEST_F(IniTest, StandardInputTwice) {
  dictionary *a = LoadFromStdinPipe("[MISC]\ngwha = /etc/gwha.conf\n");
  ASSERT_NE(nullptr, a);
  EXPECT_STREQ("/etc/gwha.conf", iniparser_getstr(a, "MISC:gwha"));
  dictionary *b = LoadFromStdinPipe("[agent]\nname = po1\n");
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("po1", iniparser_getstr(b, "agent:name"));
  EXPECT_EQ(nullptr, iniparser_getstr(b, "MISC:gwha"));
  iniparser_freedict(a);
  iniparser_freedict(b);
  EXPECT_EQ(nullptr, LoadFromStdinPipe(""));
}

TEST_F(IniTest, TypedGetters) {
  ASSERT_NE(nullptr, Load("[s]\nhex = 0x10\noct = 010\ndec = 12\nd = 2.5\n"
                          "f = false\ny = yes\nT = True\nz = 0\nm = maybe\n"));
  EXPECT_EQ(16, iniparser_getint(d_, "s:hex", -1));
  EXPECT_EQ(8, iniparser_getint(d_, "s:oct", -1));
  EXPECT_EQ(12, iniparser_getint(d_, "s:dec", -1));
  EXPECT_EQ(-1, iniparser_getint(d_, "s:missing", -1));
  EXPECT_EQ(-1, iniparser_getint(d_, "s", -1));  // a section has no value
  EXPECT_EQ(0, dictionary_getint(d_, "s:hex", -1));
  EXPECT_DOUBLE_EQ(2.5, iniparser_getdouble(d_, "s:d", 0));
  EXPECT_DOUBLE_EQ(9.0, iniparser_getdouble(d_, "s:missing", 9.0));
  struct {
    const char *key;
    int result;
  } bools[] = {{"s:f", 0}, {"s:y", 1}, {"s:T", 1}, {"s:z", 0}, {"s:m", 7}, {"s:nope", 7}, {"s", 7}};
  for (const auto &c : bools) EXPECT_EQ(c.result, iniparser_getboolean(d_, c.key, 7)) << c.key;
  EXPECT_EQ(1, iniparser_find_entry(d_, "s"));
  EXPECT_EQ(1, iniparser_find_entry(d_, "s:m"));
  EXPECT_EQ(0, iniparser_find_entry(d_, "s:M"));
  EXPECT_EQ(nullptr, iniparser_getstr(nullptr, "s:m"));
  EXPECT_EQ(3, iniparser_getint(nullptr, "s:m", 3));
  EXPECT_EQ(-1, iniparser_getnsec(nullptr));
  EXPECT_EQ(-1, iniparser_getnentries(nullptr, "s"));
}

TEST_F(IniTest, EntriesAndChanges) {
  ASSERT_NE(nullptr, Load("[a]\nx = 1\ny = 2\n[ab]\nz = 3\n"));
  EXPECT_EQ(2, iniparser_getnentries(d_, "a"));  // "ab:z" is not in section a
  EXPECT_STREQ("a:x", iniparser_getentry(d_, "a", 0));
  EXPECT_STREQ("a:y", iniparser_getentry(d_, "a", 1));
  EXPECT_EQ(nullptr, iniparser_getentry(d_, "a", 2));
  EXPECT_EQ(0, iniparser_setstr(d_, "a:x", "10"));
  EXPECT_EQ("10", Get("a:x"));
  EXPECT_EQ(0, iniparser_add_entry(d_, "new", "k", "v"));
  EXPECT_EQ(0, iniparser_add_entry(d_, "new", nullptr, nullptr));
  EXPECT_EQ("v", Get("new:k"));
  EXPECT_EQ(1, iniparser_find_entry(d_, "new"));
  std::string huge(INI_ENTRY_MAX, 'k');
  CaptureStderr();
  EXPECT_EQ(-1, iniparser_add_entry(d_, "new", huge.c_str(), "v"));
  GetCapturedStderr();
  EXPECT_EQ(0, iniparser_find_entry(d_, ("new:" + huge).c_str()));
  iniparser_delete(d_, "a", "y");
  EXPECT_EQ("<none>", Get("a:y"));
  iniparser_delete(d_, "ab", nullptr);
  EXPECT_EQ(0, iniparser_find_entry(d_, "ab"));
  iniparser_unset(d_, "ab:z");
  EXPECT_EQ("<none>", Get("ab:z"));

  dictionary *dest = dictionary_new(0);
  dictionary_set(dest, "a:x", "old");
  EXPECT_EQ(1, iniparser_add_dictionary(dest, d_));
  EXPECT_STREQ("10", iniparser_getstr(dest, "a:x"));
  EXPECT_STREQ("v", iniparser_getstr(dest, "new:k"));
  EXPECT_EQ(0, iniparser_add_dictionary(dest, nullptr));
  EXPECT_EQ(0, iniparser_add_dictionary(nullptr, d_));
  iniparser_freedict(dest);
}

std::string DumpWith(void (*fn)(dictionary *, FILE *), dictionary *d) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&buf, &len);
  fn(d, f);
  fclose(f);
  std::string out(buf, len);
  free(buf);
  return out;
}

TEST_F(IniTest, Dumps) {
  ASSERT_NE(nullptr, Load("top = t\n[a]\nx = 1\n[b]\ny = \"q r\"\n"));
  dictionary_set(d_, "b:none", nullptr);
  EXPECT_EQ("[:top]=[t]\n[a]=UNDEF\n[a:x]=[1]\n[b]=UNDEF\n[b:y]=[q r]\n[b:none]=UNDEF\n",
            DumpWith(iniparser_dump, d_));
  // Entries outside any section are left out once there are sections.
  EXPECT_EQ("\n[a]\nx=1\n\n[b]\ny=q r\nnone=\n\n", DumpWith(iniparser_dump_ini, d_));
  dictionary *flat = dictionary_new(0);
  dictionary_set(flat, ":k", "v");
  dictionary_set(flat, "w:k2", "v2");
  // "w:k2" has no section entry "w": not a section of its own either.
  EXPECT_EQ(":k = v\nw:k2 = v2\n", DumpWith(iniparser_dump_ini, flat));
  iniparser_freedict(flat);

  // The dump reads back as the same entries.
  std::string path = dir_.file("again.ini");
  FILE *f = fopen(path.c_str(), "w");
  iniparser_dump_ini(d_, f);
  fclose(f);
  dictionary *again = iniparser_load(path.c_str());
  ASSERT_NE(nullptr, again);
  EXPECT_STREQ("q r", iniparser_getstr(again, "b:y"));
  EXPECT_STREQ("1", iniparser_getstr(again, "a:x"));
  iniparser_freedict(again);
}

TEST(IniStrings, CaseCropStrip) {
  EXPECT_STREQ("abc d", strlwc("AbC D"));
  EXPECT_STREQ("ABC D", strupc("AbC d"));
  EXPECT_EQ(nullptr, strlwc(nullptr));
  EXPECT_STREQ("  a b", strcrop("  a b \t\n"));
  EXPECT_STREQ("a b", strstrip("  a b \t\n"));
  EXPECT_STREQ("", strstrip("   "));
  EXPECT_STREQ("", strcrop(""));
  char s[] = " \t x ";
  EXPECT_STREQ("x ", strskp(s));
  std::string big(3000, 'A');
  EXPECT_EQ(1024u, strlen(strlwc(big.c_str())));
  EXPECT_EQ(1024u, strlen(strstrip(big.c_str())));
}

TEST(IniStrings, ChrSubstitute) {
  char s[] = "a.b.c.d";
  EXPECT_EQ(3, strchrsubstitute(s, '.', '/', 3));
  EXPECT_STREQ("a/b.c.d", s);
  EXPECT_EQ(7, strchrsubstitute(s, '.', '/', 100));
  EXPECT_STREQ("a/b/c/d", s);
}

TEST(IniStrings, StrSubstitute) {
  struct {
    const char *in, *pat, *with, *out;
    int rc;
  } cases[] = {
      {"a..b....c", "..", ".", "a.b..c", 3},
      {"abcabc", "abc", "x", "xx", 2},
      {"abab", "ab", "ab", "abab", 2},  // equal with: continues behind, ends
      {"aaa", "a", "", "", 3},
      {"xyz", "q", "", "xyz", 0},
      {"abc", "b", "longer", "abc", -1},
      {"abc", "", "", "abc", -1},  // empty pattern: error, no endless loop
  };
  for (const auto &c : cases) {
    std::string s(c.in);
    CaptureStderr();
    EXPECT_EQ(c.rc, strstrsubstitute(&s[0], c.pat, c.with)) << c.in << " " << c.pat;
    GetCapturedStderr();
    EXPECT_STREQ(c.out, s.c_str()) << c.in << " " << c.pat;
  }
  EXPECT_EQ(-1, strstrsubstitute(nullptr, "a", "b"));
}

TEST(IniStrings, StrSubstituteTracesRefusal) {
  vrktest::ResetGlobal();
  spGlobal->iLogLevel = 3;
  char s[] = "abc";
  CaptureStderr();
  strstrsubstitute(s, "b", "xyz");
  std::string err = GetCapturedStderr();
  EXPECT_NE(std::string::npos,
            err.find("strstrsubstitute: Error size of [xyz] > size of [b]. Return unchanged string"));
  vrktest::ResetGlobal();
}

}  // namespace
