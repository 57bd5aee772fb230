// Tests of the named value files and of the two file-name resolvers.
#include "runtime/glbv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/cm_lang.h"
#include "runtime/ini_lookup.h"
#include "runtime/korva_world.h"
#include "vrk_test_util.h"

using vrktest::KorvaWorld;
using vrktest::ReadFile;
using vrktest::WriteFile;

namespace {

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

TEST(Glbv, WriteThenReadAndDelete) {
  KorvaWorld world;
  char name[] = "a/b";
  char value[GLBV_VALUE_SIZE] = "v";
  glbv('w', name, value);
  EXPECT_STREQ("a_b", name);
  EXPECT_STREQ("v", value);
  EXPECT_EQ("v", ReadFile(world.file("glbv/a_b.sgv")));
  char again[] = "a\\b";
  char got[GLBV_VALUE_SIZE] = "";
  EXPECT_STREQ("v", glbv('r', again, got));
  EXPECT_TRUE(Exists(world.file("glbv/a_b.sgv")));
  EXPECT_STREQ("v", glbv('R', again, got));
  EXPECT_FALSE(Exists(world.file("glbv/a_b.sgv")));
  EXPECT_STREQ("?? GLBV a_b not existing", glbv('r', again, got));
}

TEST(Glbv, ReadJoinsLinesAndMarksACut) {
  KorvaWorld world;
  char name[] = "multi";
  char value[GLBV_VALUE_SIZE];
  WriteFile(world.file("glbv/multi.sgv"), "one\ntwo\nthree");
  EXPECT_STREQ("onetwothree", glbv('r', name, value));
  WriteFile(world.file("glbv/multi.sgv"), std::string(300, 'a') + "\n" + std::string(300, 'b') + "\n");
  glbv('r', name, value);
  std::string expect = std::string(300, 'a') + std::string(210, 'b') + ">";
  EXPECT_EQ(expect, std::string(value));
  WriteFile(world.file("glbv/multi.sgv"), "");
  EXPECT_STREQ("?? GLBV multi not existing", glbv('R', name, value));
  EXPECT_FALSE(Exists(world.file("glbv/multi.sgv")));
}

TEST(Glbv, DeleteByPatternTouchesOnlyNamedValueFiles) {
  KorvaWorld world;
  for (const char *f : {"a_1.sgv", "a_2.sgv", "b.sgv", "a_keep.txt"}) WriteFile(world.file(std::string("glbv/") + f), "x");
  char name[] = "a_*";
  char value[GLBV_VALUE_SIZE] = "";
  glbv('d', name, value);
  EXPECT_FALSE(Exists(world.file("glbv/a_1.sgv")));
  EXPECT_FALSE(Exists(world.file("glbv/a_2.sgv")));
  EXPECT_TRUE(Exists(world.file("glbv/b.sgv")));
  EXPECT_TRUE(Exists(world.file("glbv/a_keep.txt")));
  char one[] = "b";
  glbv('d', one, value);
  EXPECT_FALSE(Exists(world.file("glbv/b.sgv")));
}

TEST(Glbv, FailureTexts) {
  char value[GLBV_VALUE_SIZE];
  {
    KorvaWorld world;
    char name[] = "n";
    EXPECT_STREQ("?? invalid service x", glbv('x', name, value));
    eLang = LANG_DE;
    EXPECT_STREQ("?? ungültiger Parameter x", glbv('x', name, value));
    eLang = LANG_EN;
    // A directory in place of the file: it exists but cannot be read.
    mkdir(world.file("glbv/dir.sgv").c_str(), 0755);
    char dir[] = "dir";
    strcpy(value, "v");
    glbv('w', dir, value);
    EXPECT_EQ(0, strncmp(value, "?? GLBV dir cannot be created: ", 31)) << value;
  }
  KorvaWorld world;
  unlink(world.mainIni().c_str());
  char name[] = "n";
  EXPECT_STREQ("?? Fatal software error FILE=cm_hal_unix LINE=261 ( error reading kv_ini)",
               glbv('r', name, value));
}

TEST(ResolvePath, PathesKeyBeforeColon) {
  KorvaWorld world;
  char path[256] = "gv_ro_bin:prog";
  EXPECT_EQ(1, resolve_path(path, sizeof(path)));
  EXPECT_EQ(world.file("bin/prog"), std::string(path));
  const char *unchanged[] = {"C:/dir/file", "/abs/dir:file", "no_such_key:file", "plain"};
  for (const char *p : unchanged) {
    char buf[256];
    strcpy(buf, p);
    EXPECT_EQ(1, resolve_path(buf, sizeof(buf)));
    EXPECT_STREQ(p, buf);
  }
  char small[12] = "gv_ro_bin:x";
  EXPECT_EQ(1, resolve_path(small, sizeof(small)));
  EXPECT_STREQ("gv_ro_bin:x", small);
}

TEST(ResolveGlbv, NamedValueBeforeColon) {
  KorvaWorld world;
  WriteFile(world.file("glbv/base.sgv"), "/data/");
  char file[256] = "base:f.txt";
  EXPECT_EQ(1, resolve_glbv(file, sizeof(file)));
  EXPECT_STREQ("/data/f.txt", file);
  char whole[256] = "base";
  EXPECT_EQ(1, resolve_glbv(whole, sizeof(whole)));
  EXPECT_STREQ("/data/", whole);
  char missing[256] = "nothing:f";
  EXPECT_EQ(0, resolve_glbv(missing, sizeof(missing)));
  EXPECT_STREQ("nothing:f", missing);
  char small[8] = "base:ff";
  EXPECT_EQ(0, resolve_glbv(small, sizeof(small)));
  EXPECT_STREQ("base:ff", small);
}

}  // namespace
