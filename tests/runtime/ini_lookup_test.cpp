// Tests of the profile reader's matching rules, references and refusals, the
// bootstrap lookup of the main ini and the main-ini wrappers.
#include "runtime/ini_lookup.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "runtime/LL.h"
#include "runtime/bounded_read.h"
#include "runtime/iniparser.h"
#include "runtime/korva_world.h"
#include "vrk_test_util.h"

using vrktest::KorvaWorld;
using vrktest::ReadFile;
using vrktest::TempDir;
using vrktest::WriteFile;

namespace {

const char kProfile[] =
    "# comment line\n"
    "top=before\n"
    "[Sec]\n"
    "key=value   \n"
    "blank =x\n"
    "empty=\n"
    "hash=v # note\n"
    "path=%(base)/sub\n"
    "base=/opt\n"
    "dflt=%(only)/x\n"
    "start=%(base)\n"
    "two=%(base)-%(base)\n"
    "loop=%(loop)\n"
    "ping=%(pong)\n"
    "pong=<%(ping)>\n"
    "open=%(base\n"
    "missing=%(nowhere)\n"
    "Mixed=CaseValue\n"
    "eq=a=b\n"
    "[Other]\n"
    "later=1\n"
    "[DEFAULT]\n"
    "only=/def\n";

struct Case {
  const char *section;
  const char *key;
  int result;
  const char *expect;  // the value on success, else the message
};

const Case kCases[] = {
    {"[Sec]", "key", 1, "value"},
    {"[sec]", "KEY", 1, "value"},
    {"[Sec]", "mixed", 1, "CaseValue"},
    {"[Sec]", "eq", 1, "a=b"},
    {"[Sec]", "hash", 1, "v # note"},
    {"[Sec]", "blank", 0, "i_GetPrivateProfileString: KEY NOT FOUND [Sec]blank"},
    {"[Sec]", "empty", 0, "i_GetPrivateProfileString: KEY VALUE NOT FOUND."},
    {"[Sec]", "later", 0, "i_GetPrivateProfileString: KEY NOT FOUND [Sec]later"},
    {"[Sec]", "top", 0, "i_GetPrivateProfileString: KEY NOT FOUND [Sec]top"},
    {"[Sec]", "path", 1, "/opt/sub"},
    {"[Sec]", "dflt", 1, "/def/x"},
    {"[Sec]", "start", 1, "/opt"},
    {"[Sec]", "two", 1, "/opt-%(base)"},
    {"[Sec]", "missing", 0, "i_GetPrivateProfileString: KEY NOT FOUND: nowhere"},
    {"[Other]", "later", 1, "1"},
    {"[Missing]", "x", 0, "i_GetPrivateProfileString: SECTION NOT FOUND: [missing]."},
    {"[DEFAULT]", "nokey", 0, "i_GetPrivateProfileString: KEY NOT FOUND: nokey"},
    {"", "top", 1, "before"},
    {"", "later", 1, "1"},
    {nullptr, "only", 1, "/def"},
    {"", "[sec]", 0, "i_GetPrivateProfileString: KEY NOT FOUND: [sec]"},
};

TEST(PrivateProfileString, MatchingRulesTable) {
  TempDir dir;
  std::string ini = dir.file("p.ini");
  WriteFile(ini, kProfile);
  for (const Case &c : kCases) {
    char value[256] = "untouched";
    char msg[256] = "";
    int r = i_GetPrivateProfileString(ini.c_str(), c.section, c.key, value, sizeof(value), msg,
                                      sizeof(msg));
    SCOPED_TRACE(std::string(c.section ? c.section : "(null)") + " " + c.key);
    EXPECT_EQ(c.result, r);
    if (c.result == 1) {
      EXPECT_STREQ(c.expect, value);
    } else {
      EXPECT_STREQ(c.expect, msg);
    }
  }
}

TEST(PrivateProfileString, DefaultSatisfiesAfterFailedLookupKeepsFirstMessage) {
  TempDir dir;
  std::string ini = dir.file("p.ini");
  WriteFile(ini, kProfile);
  char value[64];
  char msg[256];
  ASSERT_EQ(1, i_GetPrivateProfileString(ini.c_str(), "[Sec]", "dflt", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_STREQ("i_GetPrivateProfileString: KEY NOT FOUND [Sec]only", msg);
  ASSERT_EQ(1, i_GetPrivateProfileString(ini.c_str(), "[Sec]", "key", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_STREQ("", msg);
}

TEST(PrivateProfileString, ReferenceCyclesEndWithAMessage) {
  TempDir dir;
  std::string ini = dir.file("p.ini");
  WriteFile(ini, kProfile);
  for (const char *key : {"loop", "ping"}) {
    char value[64] = "untouched";
    char msg[256] = "";
    EXPECT_EQ(0, i_GetPrivateProfileString(ini.c_str(), "[Sec]", key, value, sizeof(value), msg,
                                           sizeof(msg)));
    EXPECT_NE(nullptr, strstr(msg, "REFERENCES NESTED DEEPER THAN 10")) << key << ": " << msg;
    EXPECT_STREQ("untouched", value);
  }
}

TEST(PrivateProfileString, UnclosedReferenceFails) {
  TempDir dir;
  std::string ini = dir.file("p.ini");
  WriteFile(ini, kProfile);
  char value[64];
  char msg[256];
  EXPECT_EQ(0, i_GetPrivateProfileString(ini.c_str(), "[Sec]", "open", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_STREQ("i_GetPrivateProfileString: REFERENCE NOT CLOSED: %(base", msg);
}

TEST(PrivateProfileString, FileProblems) {
  TempDir dir;
  char value[64];
  char msg[256];
  EXPECT_EQ(0, i_GetPrivateProfileString(nullptr, "[a]", "b", value, sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("i_GetPrivateProfileString: FILE NOT FOUND OR ACCESS PROBLEM.", msg);
  std::string missing = dir.file("none.ini");
  EXPECT_EQ(0, i_GetPrivateProfileString(missing.c_str(), "[a]", "b", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_EQ("i_GetPrivateProfileString: FILE NOT FOUND OR ACCESS PROBLEM: " + missing + ".",
            std::string(msg));
}

// A device never ends and a FIFO nobody writes never delivers: the readers
// give up at once or when the read wait ends, instead of spinning or hanging.
TEST(PrivateProfileString, DevicesAndSilentFifosAreFileProblems) {
  TempDir dir;
  std::string fifo = dir.file("fifo.ini");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  int saved = vrk_read_wait();
  vrk_set_read_wait(1);
  for (const std::string &file : {std::string("/dev/zero"), fifo}) {
    char value[64];
    char msg[256];
    EXPECT_EQ(0, i_GetPrivateProfileString(file.c_str(), "[a]", "b", value, sizeof(value), msg, sizeof(msg)));
    EXPECT_EQ("i_GetPrivateProfileString: FILE NOT FOUND OR ACCESS PROBLEM: " + file + ".", std::string(msg));
    t_LL list = ConsLL();
    EXPECT_EQ(0, i_GetPrivateProfileList(file.c_str(), "[a]", "b#", list, msg, sizeof(msg)));
    DestLL(list);
    EXPECT_EQ(nullptr, iniparser_load(file.c_str())) << file;
  }
  vrk_set_read_wait(saved);
}

TEST(PrivateProfileString, OverLongLineIsNeitherMatchedNorSplit) {
  TempDir dir;
  std::string ini = dir.file("p.ini");
  // A reader that cut this line at 1023 characters would see "key2=evil" as
  // a line of its own.
  std::string filler = "filler=" + std::string(1016, 'x');
  ASSERT_EQ(1023u, filler.size());
  WriteFile(ini, "[S]\n" + filler + "key2=evil\n" + "long=" + std::string(2000, 'y') +
                     "\nafter=ok\n");
  char value[4096];
  char msg[256];
  EXPECT_EQ(0, i_GetPrivateProfileString(ini.c_str(), "[S]", "key2", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_STREQ("i_GetPrivateProfileString: KEY NOT FOUND: key2", msg);
  EXPECT_EQ(0, i_GetPrivateProfileString(ini.c_str(), "[S]", "long", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_STREQ("i_GetPrivateProfileString: LINE OF KEY long LONGER THAN 1023 CHARACTERS", msg);
  EXPECT_EQ(1, i_GetPrivateProfileString(ini.c_str(), "[S]", "after", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_STREQ("ok", value);
  // The longest line that is allowed is read whole.
  WriteFile(ini, "[S]\n" + filler + "\n");
  EXPECT_EQ(1, i_GetPrivateProfileString(ini.c_str(), "[S]", "filler", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_EQ(std::string(1016, 'x'), value);
}

TEST(PrivateProfileString, OverLongKeyAndSectionAreRefusedNotCut) {
  TempDir dir;
  std::string ini = dir.file("p.ini");
  std::string key254(254, 'k');
  std::string sec63 = "[" + std::string(61, 's') + "]";
  WriteFile(ini, sec63 + "\n" + key254 + "=short\n");
  char value[64];
  char msg[256];
  EXPECT_EQ(1, i_GetPrivateProfileString(ini.c_str(), sec63.c_str(), key254.c_str(), value,
                                         sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("short", value);
  std::string key255 = key254 + "z";
  EXPECT_EQ(0, i_GetPrivateProfileString(ini.c_str(), sec63.c_str(), key255.c_str(), value,
                                         sizeof(value), msg, sizeof(msg)));
  EXPECT_NE(nullptr, strstr(msg, "KEY LONGER THAN 254 CHARACTERS")) << msg;
  std::string sec64 = sec63 + "x";
  EXPECT_EQ(0, i_GetPrivateProfileString(ini.c_str(), sec64.c_str(), key254.c_str(), value,
                                         sizeof(value), msg, sizeof(msg)));
  EXPECT_NE(nullptr, strstr(msg, "SECTION LONGER THAN 63 CHARACTERS")) << msg;
}

TEST(PrivateProfileString, ValueLongerThanBufferIsRefused) {
  TempDir dir;
  std::string ini = dir.file("p.ini");
  WriteFile(ini, "[S]\nk=0123456789\n");
  char value[10] = "untouched";
  char msg[256];
  EXPECT_EQ(0, i_GetPrivateProfileString(ini.c_str(), "[S]", "k", value, sizeof(value), msg,
                                         sizeof(msg)));
  EXPECT_STREQ("i_GetPrivateProfileString: VALUE OF KEY k LONGER THAN 9 CHARACTERS", msg);
  EXPECT_STREQ("untouched", value);
  char fits[11];
  EXPECT_EQ(1, i_GetPrivateProfileString(ini.c_str(), "[S]", "k", fits, sizeof(fits), msg,
                                         sizeof(msg)));
  EXPECT_STREQ("0123456789", fits);
}

std::vector<std::string> Values(t_LL list) {
  std::vector<std::string> out;
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el))
    out.push_back(static_cast<char *>(el));
  return out;
}

const char kListProfile[] =
    "[Servers]\n"
    "server1=alpha\n"
    "server2=%(base)\n"
    "server02=leading zero\n"
    "serverx=no number\n"
    "server=no number\n"
    "server-1=sign\n"
    "a_b3=x\n"
    "server3=gamma  \n"
    "[Next]\n"
    "server4=next section\n"
    "[DEFAULT]\n"
    "base=beta\n";

TEST(PrivateProfileList, NumberedKeysInFileOrder) {
  TempDir dir;
  std::string ini = dir.file("l.ini");
  WriteFile(ini, kListProfile);
  t_LL list = ConsLL();
  char msg[256];
  EXPECT_EQ(1, i_GetPrivateProfileList(ini.c_str(), "[Servers]", "server#", list, msg, sizeof(msg)));
  EXPECT_EQ((std::vector<std::string>{"alpha", "beta", "gamma"}), Values(list));
  EmptyLL(list);
  EXPECT_EQ(1, i_GetPrivateProfileList(ini.c_str(), "[Servers]", "a_b##", list, msg, sizeof(msg)));
  EXPECT_EQ((std::vector<std::string>{"b3:x"}), Values(list));
  EmptyLL(list);
  EXPECT_EQ(1, i_GetPrivateProfileList(ini.c_str(), "", "server#", list, msg, sizeof(msg)));
  EXPECT_EQ((std::vector<std::string>{"alpha", "beta", "gamma", "next section"}), Values(list));
  EmptyLL(list);
  EXPECT_EQ(0, i_GetPrivateProfileList(ini.c_str(), "[Servers]", "none#", list, msg, sizeof(msg)));
  EXPECT_STREQ("i_GetPrivateProfileList: KEY NOT FOUND [Servers]none#", msg);
  EXPECT_EQ(0, i_GetPrivateProfileList(ini.c_str(), "[Gone]", "server#", list, msg, sizeof(msg)));
  EXPECT_STREQ("i_GetPrivateProfileList: SECTION NOT FOUND: [gone].", msg);
  EXPECT_TRUE(IsEmptyLL(list));
  DestLL(list);
}

TEST(PrivateProfileList, RefusedCallLeavesListAsItWas) {
  TempDir dir;
  std::string ini = dir.file("l.ini");
  WriteFile(ini, "[S]\nk1=one\nk2=%(k2)\n");
  t_LL list = ConsLL();
  InsLastLLf(list, 4, "old");
  char msg[256];
  EXPECT_EQ(0, i_GetPrivateProfileList(ini.c_str(), "[S]", "k#", list, msg, sizeof(msg)));
  EXPECT_NE(nullptr, strstr(msg, "NESTED DEEPER")) << msg;
  EXPECT_EQ((std::vector<std::string>{"old"}), Values(list));
  DestLL(list);
}

TEST(IniRoot, IdentifierWithSlashIsThePath) {
  char path[64];
  char msg[128];
  EXPECT_EQ(1, i_GET_ROOT_FOR_INI("/no/such/file.ini", path, sizeof(path), msg, sizeof(msg)));
  EXPECT_STREQ("/no/such/file.ini", path);
}

TEST(IniRoot, CandidatesHighestFirst) {
  TempDir dir;
  std::string etc0 = dir.file("etc0.ini"), etc1 = dir.file("etc1.ini"), env = dir.file("env.ini");
  ASSERT_EQ(1, i_SET_ROOT_CANDIDATES(etc0.c_str(), etc1.c_str()));
  unsetenv("KORVA_INI");
  char path[256];
  char msg[256];
  EXPECT_EQ(0, i_GET_ROOT_FOR_INI("KV_INI", path, sizeof(path), msg, sizeof(msg)));
  EXPECT_EQ("i_GET_ROOT_FOR_INI: NO KORVA CONFIGURATION FILE FOUND: " + etc0, std::string(msg));

  WriteFile(etc0, "[any]\nkv_ini=/from/etc0.ini\n");
  EXPECT_EQ(1, i_GET_ROOT_FOR_INI(nullptr, path, sizeof(path), msg, sizeof(msg)));
  EXPECT_STREQ("/from/etc0.ini", path);
  WriteFile(etc1, "# x\nKV_INI=/from/etc1.ini\n");
  EXPECT_EQ(1, i_GET_ROOT_FOR_INI("", path, sizeof(path), msg, sizeof(msg)));
  EXPECT_STREQ("/from/etc1.ini", path);

  setenv("KORVA_INI", env.c_str(), 1);
  WriteFile(env, "other=1\n");
  EXPECT_EQ(1, i_GET_ROOT_FOR_INI("KV_INI", path, sizeof(path), msg, sizeof(msg)));
  EXPECT_STREQ("/from/etc1.ini", path);
  WriteFile(env, "kv_ini=/from/env.ini\n");
  EXPECT_EQ(1, i_GET_ROOT_FOR_INI("KV_INI", path, sizeof(path), msg, sizeof(msg)));
  EXPECT_STREQ("/from/env.ini", path);
  EXPECT_EQ(0, i_GET_ROOT_FOR_INI("OTHER_INI", path, sizeof(path), msg, sizeof(msg)));
  EXPECT_EQ("i_GET_ROOT_FOR_INI: NO KORVA CONFIGURATION FILE FOUND: " + etc1, std::string(msg));

  // A path that does not fit the caller's buffer is refused, not cut.
  char small[8];
  EXPECT_EQ(0, i_GET_ROOT_FOR_INI("KV_INI", small, sizeof(small), msg, sizeof(msg)));
  EXPECT_NE(nullptr, strstr(msg, "LONGER THAN 7 CHARACTERS")) << msg;

  std::string tooLong(128, 'a');
  tooLong[0] = '/';
  setenv("KORVA_INI", tooLong.c_str(), 1);
  EXPECT_EQ(0, i_GET_ROOT_FOR_INI("KV_INI", path, sizeof(path), msg, sizeof(msg)));
  EXPECT_NE(nullptr, strstr(msg, "KORVA_INI LONGER THAN 127 CHARACTERS")) << msg;
  unsetenv("KORVA_INI");
  i_SET_ROOT_CANDIDATES(nullptr, nullptr);
}

TEST(ReadIni, ReadsMainIniThroughBootstrap) {
  KorvaWorld world("[SERVER]\ngv_port_db=5433\n");
  char value[256];
  char msg[256];
  EXPECT_EQ(1, i_READ_INI("KV_INI", "[SERVER]", "gv_port_db", value, sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("5433", value);
  EXPECT_EQ(0, i_READ_INI("KV_INI", "[SERVER]", "nokey", value, sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("", value);
  EXPECT_STREQ("i_GetPrivateProfileString: KEY NOT FOUND: nokey", msg);
  EXPECT_EQ(0, i_READ_INI("NO_SUCH_INI", "[SERVER]", "gv_port_db", value, sizeof(value), msg,
                          sizeof(msg)));
  EXPECT_NE(nullptr, strstr(msg, "NO KORVA CONFIGURATION FILE FOUND")) << msg;
}

TEST(ReadIni, NumberedListFromMainIni) {
  KorvaWorld world("[Nodes]\nnode1=a\nnode2=b\n");
  t_LL list = ConsLL();
  char msg[256];
  EXPECT_EQ(2, i_READ_INI_LIST("KV_INI", "[Nodes]", "node", list, msg, sizeof(msg)));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Values(list));
  EXPECT_EQ(0, i_READ_INI_LIST("KV_INI", "[Nodes]", "other", list, msg, sizeof(msg)));
  EXPECT_STREQ("i_READ_INI_LIST: No values for [other#] found in KV_INI", msg);
  EXPECT_EQ(0, i_READ_INI_LIST("NO_SUCH_INI", "[Nodes]", "node", list, msg, sizeof(msg)));
  EXPECT_STREQ("i_READ_INI_LIST: i_GET_ROOT_FOR_INI() failed", msg);
  DestLL(list);
}

TEST(ParseIni, LoadsMainIniAsDictionary) {
  KorvaWorld world;
  char msg[256];
  dictionary *d = p_PARSE_INI("KV_INI", msg, sizeof(msg));
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(world.file("work/"), std::string(iniparser_getstring(d, "Pathes:gv_rw_work", nullptr)));
  iniparser_freedict(d);
  EXPECT_EQ(nullptr, p_PARSE_INI("NO_SUCH_INI", msg, sizeof(msg)));
}

TEST(ChangeIni, SetsKeyKeepsOthersAndHonoursOverwriteFlag) {
  TempDir dir;
  std::string ini = dir.file("c.ini");
  WriteFile(ini, "lead=kept\n[Pathes]\ngv_a=1\n# comment\n[Other]\nx=y\n");
  char value[64];
  char msg[256];
  EXPECT_EQ(1, i_change_ini(ini.c_str(), "[Pathes]", "gv_a", "2", ' '));
  EXPECT_EQ(1, i_READ_INI(ini.c_str(), "[Pathes]", "gv_a", value, sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("1", value);
  EXPECT_EQ(1, i_change_ini(ini.c_str(), "Pathes", "gv_a", "2", 'o'));
  EXPECT_EQ(1, i_change_ini(ini.c_str(), "[New]", "k", "v", ' '));
  EXPECT_EQ(1, i_READ_INI(ini.c_str(), "[Pathes]", "gv_a", value, sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("2", value);
  EXPECT_EQ(1, i_READ_INI(ini.c_str(), "[Other]", "x", value, sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("y", value);
  EXPECT_EQ(1, i_READ_INI(ini.c_str(), "[New]", "k", value, sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("v", value);
  EXPECT_EQ(1, i_READ_INI(ini.c_str(), "", "lead", value, sizeof(value), msg, sizeof(msg)));
  EXPECT_STREQ("kept", value);
  EXPECT_EQ(0, i_change_ini(dir.file("none.ini").c_str(), "[S]", "k", "v", 'o'));
}

TEST(ChangeIni, UnwritableDirectoryLeavesFileIntact) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  TempDir dir;
  std::string sub = dir.file("ro");
  mkdir(sub.c_str(), 0755);
  std::string ini = sub + "/c.ini";
  WriteFile(ini, "[S]\nk=1\n");
  chmod(sub.c_str(), 0555);
  EXPECT_EQ(0, i_change_ini(ini.c_str(), "[S]", "k", "2", 'o'));
  chmod(sub.c_str(), 0755);
  EXPECT_EQ("[S]\nk=1\n", ReadFile(ini));
}

}  // namespace
