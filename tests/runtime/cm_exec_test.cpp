// Tests of the program starters with stand-in programs: the child
// environment, command-line splitting, and children that exit, fail to
// start, are killed or stop for a while.
#include "runtime/cm_exec.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "runtime/LL.h"
#include "runtime/korva_world.h"
#include "vrk_test_util.h"

using vrktest::KorvaWorld;
using vrktest::ReadFile;
using vrktest::WriteFile;

namespace {

// Saves and restores the variables that i_setenv_korva sets.
class EnvGuard {
 public:
  EnvGuard() {
    for (const char *name : {"PATH", "PGPORT", "LD_LIBRARY_PATH"}) {
      const char *v = getenv(name);
      saved_.push_back({name, v != nullptr, v != nullptr ? v : ""});
    }
  }
  ~EnvGuard() {
    for (const Saved &s : saved_) {
      if (s.set)
        setenv(s.name.c_str(), s.value.c_str(), 1);
      else
        unsetenv(s.name.c_str());
    }
  }
  EnvGuard(const EnvGuard &) = delete;
  EnvGuard &operator=(const EnvGuard &) = delete;

 private:
  struct Saved {
    std::string name;
    bool set;
    std::string value;
  };
  std::vector<Saved> saved_;
};

void Script(const KorvaWorld &world, const std::string &name, const std::string &body,
            mode_t mode = 0755) {
  std::string path = world.file("bin/" + name);
  WriteFile(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), mode);
}

std::string Env(const char *name) {
  const char *v = getenv(name);
  return v != nullptr ? v : "(unset)";
}

struct ParseCase {
  const char *line;
  int result;
  std::vector<std::string> args;
};

TEST(ParseCmd, SplittingTable) {
  const ParseCase cases[] = {
      {"prog \"a b\" c", 2, {"prog", "a b", "c"}},
      {"prog x\"a b\"y", 1, {"prog", "x\"a b\"y"}},
      {"prog 'a b'", 1, {"prog", "a b"}},
      {"prog  a", 1, {"prog", "a"}},
      {"prog \"it's\" 'say \"hi\"'", 2, {"prog", "it's", "say \"hi\""}},
      {"prog a\\ b", 1, {"prog", "a\\ b"}},
      {"prog \"a\\\"b\"", 1, {"prog", "a\\\"b"}},
      {"prog a\\", 1, {"prog", "a\\"}},
      {"prog \"unclosed arg", 1, {"prog", "unclosed arg"}},
      {"  lead", 0, {"lead"}},
      {"prog a   ", 1, {"prog", "a"}},
      {"prog \"\"", 1, {"prog", ""}},
      {"", 0, {}},
  };
  for (const ParseCase &c : cases) {
    std::string text = c.line;
    char *argv[PARSE_CMD_MAX_ARGS + 1];
    int r = i_parse_cmd(&text[0], argv);
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.result, r);
    std::vector<std::string> got;
    for (int i = 0; argv[i] != nullptr; i++) got.push_back(argv[i]);
    EXPECT_EQ(c.args, got);
  }
}

TEST(ParseCmd, ThirtySecondArgumentTakesTheRest) {
  std::string text = "prog";
  for (int i = 1; i < 40; i++) text += " a" + std::to_string(i);
  char *argv[PARSE_CMD_MAX_ARGS + 1];
  EXPECT_EQ(31, i_parse_cmd(&text[0], argv));
  EXPECT_STREQ("a30", argv[30]);
  std::string rest = "a31";
  for (int i = 32; i < 40; i++) rest += " a" + std::to_string(i);
  EXPECT_EQ(rest, std::string(argv[31]));
  EXPECT_EQ(nullptr, argv[32]);
}

TEST(SetenvKorva, PathCompletedElementByElement) {
  KorvaWorld world;
  EnvGuard env;
  const std::string bin = world.file("bin/");
  // A longer directory that merely contains the name is another element.
  setenv("PATH", (world.file("bin") + "x:/usr/bin:/bin").c_str(), 1);
  EXPECT_EQ(1, i_setenv_korva("kv_tool arg"));
  EXPECT_EQ(world.file("bin") + "x:/usr/bin:/bin:" + bin, Env("PATH"));
  EXPECT_EQ(1, i_setenv_korva("kv_tool arg"));
  EXPECT_EQ(world.file("bin") + "x:/usr/bin:/bin:" + bin, Env("PATH"));
  setenv("PATH", ("/usr/bin:" + world.file("bin")).c_str(), 1);
  EXPECT_EQ(1, i_setenv_korva("kv_tool"));
  EXPECT_EQ("/usr/bin:" + world.file("bin"), Env("PATH"));

  setenv("PATH", std::string(2040, 'p').c_str(), 1);
  EXPECT_EQ(0, i_setenv_korva("kv_tool"));
  EXPECT_EQ(std::string(2040, 'p'), Env("PATH"));
  unsetenv("PATH");
  EXPECT_EQ(0, i_setenv_korva("kv_tool"));
}

TEST(SetenvKorva, DatabaseProgramsNeedPortAndDirectories) {
  EnvGuard env;
  {
    KorvaWorld world;
    setenv("PATH", "/usr/bin:/bin", 1);
    EXPECT_EQ(0, i_setenv_korva("/x/kv_db -q"));
    EXPECT_EQ(1, i_setenv_korva("kv_other psql"));
  }
  KorvaWorld world("gv_ro_db=/opt/db/\n[SERVER]\ngv_port_db=5433\n");
  setenv("PATH", "/usr/bin:/bin", 1);
  unsetenv("PGPORT");
  EXPECT_EQ(1, i_setenv_korva("  PSQL -c x"));
  EXPECT_EQ("5433", Env("PGPORT"));
  EXPECT_EQ("/usr/bin:/bin:" + world.file("bin/") + ":/opt/db/:/usr/local/pgsql/bin/", Env("PATH"));
  EXPECT_EQ(0, i_setenv_korva("kv_sms_interface -x"));
}

TEST(SetenvKorva, NovellLibrariesWithoutEmptyElement) {
  KorvaWorld world;
  EnvGuard env;
  setenv("PATH", "/usr/bin:/bin", 1);
  unsetenv("LD_LIBRARY_PATH");
  EXPECT_EQ(1, i_setenv_korva("netware_tool x"));
  EXPECT_EQ("/opt/novell/lib", Env("LD_LIBRARY_PATH"));
  setenv("LD_LIBRARY_PATH", "/a", 1);
  EXPECT_EQ(1, i_setenv_korva("netware_tool x"));
  EXPECT_EQ("/a:/opt/novell/lib", Env("LD_LIBRARY_PATH"));
  EXPECT_EQ(1, i_setenv_korva("netware_tool x"));
  EXPECT_EQ("/a:/opt/novell/lib", Env("LD_LIBRARY_PATH"));
  setenv("LD_LIBRARY_PATH", std::string(1010, 'l').c_str(), 1);
  EXPECT_EQ(0, i_setenv_korva("netware_tool x"));
  EXPECT_EQ(std::string(1010, 'l'), Env("LD_LIBRARY_PATH"));
}

class ExecTest : public ::testing::Test {
 protected:
  ExecTest() {
    prot_ = world_.enableProt();
    setenv("PATH", "/usr/bin:/bin", 1);
    Script(world_, "kv_exit3", "exit 3\n");
    Script(world_, "kv_exit200", "exit 200\n");
    Script(world_, "kv_selfkill", "kill -9 $$\n");
    Script(world_, "kv_args", "out=$1; shift; for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out\"\n");
    Script(world_, "kv_noexec", "exit 0\n", 0644);
  }
  std::string Prot() const { return ReadFile(prot_); }

  KorvaWorld world_;
  EnvGuard env_;
  std::string prot_;
};

TEST_F(ExecTest, ChildExitStatusWithoutReports) {
  char a0[] = "kv_exit3";
  char *argv[] = {a0, nullptr};
  EXPECT_EQ(3, i_cm_execvp("kv_exit3", argv));
  // Its own code above 128 is no start failure.
  char b0[] = "kv_exit200";
  char *argv2[] = {b0, nullptr};
  EXPECT_EQ(200, i_cm_execvp("kv_exit200", argv2));
  EXPECT_EQ("", Prot());
}

TEST_F(ExecTest, StartFailureIsReported) {
  char a0[] = "kv_missing";
  char *argv[] = {a0, nullptr};
  EXPECT_EQ(128 + ENOENT, i_cm_execvp("kv_missing", argv));
  EXPECT_NE(std::string::npos,
            Prot().find("E008-BASICS [") );
  EXPECT_NE(std::string::npos,
            Prot().find("Error in command execution Error: start_exe: kv_missing: could not start: " +
                        std::string(strerror(ENOENT))))
      << Prot();
  char b0[] = "kv_noexec";
  char *argv2[] = {b0, nullptr};
  EXPECT_EQ(128 + EACCES, i_cm_execvp("kv_noexec", argv2));
  EXPECT_NE(std::string::npos, Prot().find("kv_noexec: could not start: " + std::string(strerror(EACCES))));
  std::string longName(600, 'n');
  EXPECT_EQ(128 + ENAMETOOLONG, i_cm_execvp(longName.c_str(), argv));
}

TEST_F(ExecTest, KilledChildIsReportedAsSignal) {
  char a0[] = "kv_selfkill";
  char *argv[] = {a0, nullptr};
  EXPECT_EQ(128 + 9, i_cm_execvp("kv_selfkill", argv));
  std::string prot = Prot();
  EXPECT_NE(std::string::npos, prot.find("kv_selfkill: exe terminated abnormally"));
  EXPECT_NE(std::string::npos,
            prot.find("kv_selfkill: terminated due to receipt of a signal that was not caught: 9"));
  EXPECT_EQ(std::string::npos, prot.find("could not start"));
}

TEST_F(ExecTest, EnvironmentFailureGives999) {
  unsetenv("PATH");
  char a0[] = "kv_exit3";
  char *argv[] = {a0, nullptr};
  EXPECT_EQ(CM_EXEC_ENV_FAILED, i_cm_execvp("kv_exit3", argv));
}

TEST_F(ExecTest, CommandLineAndListArguments) {
  std::string out = world_.file("args.txt");
  EXPECT_EQ(0, i_cm_exec(("kv_args " + out + " a \"b c\" 'd'").c_str()));
  EXPECT_EQ("a\nb c\nd\n", ReadFile(out));

  t_LL list = ConsLL();
  InsLastLLf(list, out.size() + 1, out.c_str());
  InsLastLLf(list, 4, "x y");
  InsLastLLf(list, 2, "z");
  EXPECT_EQ(0, i_cm_exec_LL("kv_args", list));
  EXPECT_EQ("x y\nz\n", ReadFile(out));
  // The list is the caller's and stays unchanged.
  EXPECT_EQ(3u, SizeLL(list));
  EXPECT_EQ(out, std::string(static_cast<char *>(FirstElmLL(list))));
  DestLL(list);
  EXPECT_EQ(128 + ENOENT, i_cm_exec(""));
}

TEST_F(ExecTest, ShellExitStartFailureAndSignals) {
  EXPECT_EQ(1, i_cm_system(nullptr));
  EXPECT_EQ(3, i_cm_system("exit 3"));
  EXPECT_EQ(3, i_cm_system("kv_exit3"));
  EXPECT_EQ("", Prot());
  EXPECT_EQ(127, i_cm_system("kv_missing_prog"));
  EXPECT_NE(std::string::npos, Prot().find("start_system: kv_missing_prog: could not start (ENOENT)"));
  EXPECT_EQ(128 + 9, i_cm_system("kill -9 $$"));
  EXPECT_NE(std::string::npos,
            Prot().find("/bin/sh terminated due to receipt of a signal that was not caught: 9"));
  EXPECT_EQ(128 + 9, i_cm_system("kv_selfkill"));
  EXPECT_NE(std::string::npos,
            Prot().find("kv_selfkill: terminated due to receipt of a signal that was not caught: 9"));
}

TEST_F(ExecTest, StoppedShellIsWaitedFor) {
  // A helper keeps continuing the shell until it has ended.
  EXPECT_EQ(4, i_cm_system("(while kill -CONT $$ 2>/dev/null; do sleep 0.1; done) & kill -STOP $$; exit 4"));
}

}  // namespace
