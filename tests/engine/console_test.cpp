// Tests of the console: the non-interactive answers of the menus, and the
// interactive menus on plain standard input and output (no terminal).
#include <gtest/gtest.h>
#include <fcntl.h>

#include <string>

#include "engine/console.h"
#include "engine_test_util.h"

using enginetest::Capture;

namespace {

// Feeds text to standard input for the scope.
class Input {
 public:
  explicit Input(const std::string &text) {
    path_ = dir_.file("in");
    vrktest::WriteFile(path_, text);
    saved_ = dup(STDIN_FILENO);
    int fd = open(path_.c_str(), O_RDONLY);
    dup2(fd, STDIN_FILENO);
    close(fd);
    clearerr(stdin);
  }
  ~Input() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
    clearerr(stdin);
  }

 private:
  vrktest::TempDir dir_;
  std::string path_;
  int saved_ = -1;
};

}  // namespace

TEST(ConsoleAnswers, NotInteractive) {
  enginetest::FreshState();
  char prompt[32] = "";
  NWBOOLEAN resource = 0;
  Capture cap;
  EXPECT_EQ(GetBCommand(1, prompt, &resource), 'B');
  EXPECT_STREQ(prompt, "subdirectory");
  resource = 1;
  EXPECT_EQ(GetBCommand(0, prompt, &resource), 'B');
  EXPECT_STREQ(prompt, "resource");
  EXPECT_EQ(GetRCommand(1, 0), 'R');
  cap.Stop();
  EXPECT_EQ(cap.out(), "");
  EXPECT_EQ(cap.err(), "");
}

TEST(ConsoleMenus, RestoreMenuRingsForAnUnofferedKey) {
  enginetest::FreshState();
  vrk_nlm_interactive = 1;
  Input in("x\nn\n");
  Capture cap;
  char c = GetRCommand(1, 0);
  cap.Stop();
  vrk_nlm_interactive = 0;
  EXPECT_EQ(c, 'N');
  EXPECT_NE(cap.out().find("P: Overwrite Parent\nC: Do not overwrite Child\n"), std::string::npos)
      << cap.out();
  EXPECT_NE(cap.out().find('\a'), std::string::npos);
}

TEST(ConsoleMenus, BackupMenuTakesTwoKeys) {
  enginetest::FreshState();
  vrk_nlm_interactive = 1;
  char prompt[32] = "";
  NWBOOLEAN resource = 1;
  Input in("bs");
  Capture cap;
  char c = GetBCommand(0, prompt, &resource);
  cap.Stop();
  vrk_nlm_interactive = 0;
  EXPECT_EQ(c, 'B');
  EXPECT_STREQ(prompt, "subdirectory");
  EXPECT_EQ(resource, 0);
  EXPECT_NE(cap.out().find("T:  Save backup data\nBR: Backup Resource\n"), std::string::npos);
}

TEST(ConsoleMenus, EndOfInputQuitsTheMainMenu) {
  enginetest::FreshState();
  Input in("");
  Capture cap;
  EXPECT_EQ(GetCommand(1), 'Q');
  cap.Stop();
  EXPECT_NE(cap.out().find("L: Log Session Output\n"), std::string::npos);
}

TEST(ConsoleInput, PasswordIsLengthPreceded) {
  Input in("secret\n");
  char pw[CONSOLE_PASSWORD_KEYS + 3];
  getPW(pw);
  EXPECT_EQ((unsigned char)pw[0] | ((unsigned char)pw[1] << 8), 6);
  EXPECT_STREQ(pw + 2, "secret");
}
