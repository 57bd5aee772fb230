// Lines of the rows that show names: the quick way of building them gives the
// same bytes as the general way (format, mask, escape) for any name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/password_mask.h"
#include "runtime/printable.h"
#include "runtime/vrk_log.h"
#include "runtime/vrk_msg.h"
#include "vrk_test_util.h"

namespace {

// The number of "%s" of a row whose every conversion is one, else 0.
size_t plain_names(const char *format) {
  size_t k = 0;
  for (const char *q = format; *q != '\0'; ++q) {
    if (*q != '%') continue;
    if (q[1] != 's') return 0;
    ++k;
    ++q;
  }
  return k;
}

// Catches what the logger writes: the job log is a memory stream, standard
// error goes to /dev/null meanwhile (the logger writes the same line to both).
class LineCatcher {
 public:
  LineCatcher() {
    vrktest::ResetGlobal();
    fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    close(null);
    log_ = open_memstream(&buf_, &size_);
    spGlobal->sVRKMsgTarget.fpLogFileDes = log_;
  }
  ~LineCatcher() {
    spGlobal->sVRKMsgTarget.fpLogFileDes = nullptr;
    fclose(log_);
    free(buf_);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    vrk_log_general_only(false);
    vrktest::ResetGlobal();
  }
  LineCatcher(const LineCatcher &) = delete;
  LineCatcher &operator=(const LineCatcher &) = delete;

  // The line of code with args, made the general way or not, without its
  // time stamp (two calls may fall into two seconds).
  // With keepBreaks, the one argument goes through vrk_log_text.
  std::string Line(int code, const std::vector<const char *> &a, bool general, bool keepBreaks = false) {
    vrk_log_general_only(general);
    fflush(log_);
    const size_t from = size_;
    if (keepBreaks) {
      vrk_log_text(code, a[0]);
    } else {
      switch (a.size()) {
        case 1: vrk_log(code, a[0]); break;
        case 2: vrk_log(code, a[0], a[1]); break;
        case 3: vrk_log(code, a[0], a[1], a[2]); break;
        default: vrk_log(code, a[0], a[1], a[2], a[3]); break;
      }
    }
    fflush(log_);
    std::string line(buf_ + from, size_ - from);
    return line.size() > 19 ? line.substr(19) : "short line: " + line;
  }

 private:
  int saved_ = -1;
  FILE *log_ = nullptr;
  char *buf_ = nullptr;
  size_t size_ = 0;
};

// The marks the logger puts around a name: "\x0e" word "\x0f" word.
std::string MarkWord() {
  const std::string both = vrk_log_name("");
  return both.substr(1, both.size() / 2 - 1);
}

// Names that a tree, a stored object or a node's reply may give.
std::vector<std::string> Names() {
  const std::string w = MarkWord();
  const std::string open = "\x0e" + w, close = "\x0f" + w;
  std::vector<std::string> n = {
      "",
      "/r/small/d0000/f000001.dat",
      "/r/d 1/f.dat",
      "line\nbreak",
      "ends in a break\n",
      "\n",
      "x\x1b[2J",
      "tab\there",
      "del\x7f",
      "\xff\xfe bad \xc3",
      "\xc3\xa9t\xc3\xa9",
      // The mark word and its parts, with and without a mark's first byte.
      w,
      "/d/" + w + "/f",
      w.substr(0, w.size() / 2),
      open,
      close,
      "\x0e",
      "\x0f",
      "a\x0e PASS b",
      open + "x" + close,
      "x" + close + " PASS y " + open + "z",
      close + "PASS=v",
      "\x0e" + w.substr(0, 4),
      // Credential forms inside a name and standing on their own.
      "PASS x",
      "/d/PASS x",
      "Authorization: y",
      "Authorization: Basic abc",
      "Proxy-Authorization: Basic abc",
      "XBSA-PASS: z",
      "ENCRYPT=w",
      "encrypt_plain=w",
      "PASS=v:u",
      "://user:pw@host",
      "http://user:pw@host/p",
      "pass",
      // A remembered password alone and inside a name.
      "Lsecret47",
      "/d/Lsecret47/f",
      // Long names: whole, cut, and cut among escapes.
      std::string(8000, 'a'),
      std::string(9000, 'b'),
      std::string(7900, 'c') + std::string(200, '\x01'),
      std::string(2100, '\x1b'),
  };
  return n;
}

// Every row whose conversions are all "%s" (the rows that show names among
// them), with each name of the table in each place: the two ways agree.
void ExpectBothWaysAgree(LineCatcher &c, const char *stage) {
  const size_t marks = vrk_log_name("").size();
  for (size_t r = 0; sMessage[r].iMsgID != VRK_MSG_END_CODE; ++r) {
    const _sMessage &row = sMessage[r];
    const size_t k = plain_names(row.cpMsgText);
    if (k == 0 || k > 4 || row.iMsgID == 4000 || row.iMsgID == 1500 || row.iMsgID == 2500 ||
        row.iMsgID == 3500)
      continue;
    std::vector<std::string> names = Names();
    // Names that just fit the text with their marks, and just do not.
    const size_t fixed = strlen(row.cpMsgText) - 2 * k;
    const size_t fits = 8191 - fixed - k * marks - (k - 1) * strlen("other");
    for (size_t len : {fits - 1, fits, fits + 1}) {
      names.push_back(std::string(len, 'n'));
      names.push_back(std::string(len - 1, 'n') + "\x01");
    }
    for (size_t at = 0; at < k; ++at) {
      for (const std::string &name : names) {
        std::vector<const char *> args(k, "other");
        args[at] = name.c_str();
        const std::string general = c.Line(row.iMsgID, args, true);
        const std::string quick = c.Line(row.iMsgID, args, false);
        ASSERT_EQ(general, quick) << stage << ": row " << row.iMsgID << ", name " << at << " ["
                                  << vrk_printable(name).substr(0, 200) << "]";
        if (k == 1) {
          ASSERT_EQ(c.Line(row.iMsgID, args, true, true), c.Line(row.iMsgID, args, false, true))
              << stage << ": row " << row.iMsgID << " with its line breaks [" << vrk_printable(name).substr(0, 200)
              << "]";
        }
      }
    }
  }
}

TEST(LogNames, TheQuickWayGivesTheGeneralWaysLine) {
  LineCatcher c;
  ExpectBothWaysAgree(c, "no password");
  vrk_remember_password("Lsecret47");
  ExpectBothWaysAgree(c, "password Lsecret47");
  // A name that is missing: both ways show what the C library shows.
  for (int code : {3008, 3258}) {
    EXPECT_EQ(c.Line(code, {nullptr, nullptr}, true), c.Line(code, {nullptr, nullptr}, false));
  }
}

TEST(LogNames, PasswordsThatMeetTheFixedTextOrTheMarksChangeNothing) {
  // Remembered passwords stay for the process: the rows run in a child.
  const std::string w = MarkWord();
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    std::string failed;
    {
      LineCatcher c;
      const std::vector<std::string> passwords = {"relocation", "It", "item", "x" + w.substr(2, 5), "\x0e",
                                                  w,            "\x0f" + w};
      for (const std::string &pw : passwords) {
        vrk_remember_password(pw);
        const std::string stage = "password " + vrk_printable(pw);
        ExpectBothWaysAgree(c, stage.c_str());
        if (testing::Test::HasFailure()) {
          failed = stage;
          break;
        }
      }
    }
    fflush(stdout);
    if (write(fds[1], failed.data(), failed.size()) < 0) _exit(2);
    _exit(testing::Test::HasFailure() ? 1 : 0);
  }
  close(fds[1]);
  std::string failed;
  char b[256];
  for (ssize_t n; (n = read(fds[0], b, sizeof b)) > 0;) failed.append(b, (size_t)n);
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_EQ("", failed);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
