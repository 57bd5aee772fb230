// Whole-file reads of configuration files: regular files, devices, FIFOs and
// pipes, each bounded in size and, where not a regular file, in time.
#include "runtime/bounded_read.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "vrk_test_util.h"

namespace {

enum class Kind { kRegular, kDevice, kSilentFifo, kSilentWriterFifo, kWrittenFifo, kPipe };

struct Case {
  const char *name;
  Kind kind;
  std::string content;  // what the file holds or the writer sends
  const char *device;   // for kDevice
  bool ok;
  const char *why;      // expected reason when not ok
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class BoundedRead : public ::testing::TestWithParam<Case> {};

TEST_P(BoundedRead, ReadsWhatEndsAndRefusesWhatDoesNot) {
  const Case &c = GetParam();
  const size_t kMax = 1000;
  vrktest::TempDir dir;
  int saved = vrk_read_wait();
  vrk_set_read_wait(1);
  std::string path = dir.file("f");
  std::thread writer;
  int pipeFd[2] = {-1, -1};
  int holder = -1, silentWriter = -1;
  switch (c.kind) {
    case Kind::kRegular: vrktest::WriteFile(path, c.content); break;
    case Kind::kDevice: path = c.device; break;
    case Kind::kSilentFifo: ASSERT_EQ(0, mkfifo(path.c_str(), 0600)); break;
    case Kind::kSilentWriterFifo:
      // A writer that holds its end open and never writes.
      ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
      holder = open(path.c_str(), O_RDONLY | O_NONBLOCK);
      ASSERT_GE(holder, 0);
      silentWriter = open(path.c_str(), O_WRONLY);
      ASSERT_GE(silentWriter, 0);
      break;
    case Kind::kWrittenFifo: {
      // The writer is at its end before the read starts (a second reader lets
      // it open without waiting, and keeps what it wrote); it writes and
      // leaves whenever it likes.
      ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
      holder = open(path.c_str(), O_RDONLY | O_NONBLOCK);
      ASSERT_GE(holder, 0);
      int fd = open(path.c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      writer = std::thread([&c, fd] {
        ssize_t w = write(fd, c.content.data(), c.content.size());
        (void)w;
        close(fd);
      });
      break;
    }
    case Kind::kPipe:
      // What a shell's process substitution hands over: /dev/fd/N of a pipe.
      ASSERT_EQ(0, pipe(pipeFd));
      path = "/proc/self/fd/" + std::to_string(pipeFd[0]);
      writer = std::thread([&] {
        usleep(100 * 1000);
        ssize_t w = write(pipeFd[1], c.content.data(), c.content.size());
        (void)w;
        close(pipeFd[1]);
      });
      break;
  }
  std::string out, why;
  bool ok = vrk_read_file_bounded(path.c_str(), out, why, kMax);
  if (writer.joinable()) writer.join();
  if (pipeFd[0] >= 0) close(pipeFd[0]);
  if (holder >= 0) close(holder);
  if (silentWriter >= 0) close(silentWriter);
  vrk_set_read_wait(saved);
  EXPECT_EQ(c.ok, ok) << why;
  if (c.ok) EXPECT_EQ(c.content, out);
  else EXPECT_EQ(c.why, why);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BoundedRead,
    ::testing::Values(
        Case{"Regular", Kind::kRegular, "a\nb\n", nullptr, true, ""},
        Case{"RegularAtTheBound", Kind::kRegular, std::string(1000, 'x'), nullptr, true, ""},
        Case{"RegularOverTheBound", Kind::kRegular, std::string(1001, 'x'), nullptr, false,
             "larger than 1000 bytes"},
        Case{"DevZero", Kind::kDevice, "", "/dev/zero", false, "larger than 1000 bytes"},
        Case{"DevNull", Kind::kDevice, "", "/dev/null", true, ""},
        // Nothing could ever come: refused at once, not after the wait.
        Case{"FifoNobodyWrites", Kind::kSilentFifo, "", nullptr, false, "a FIFO with no writer"},
        Case{"FifoWriterSilent", Kind::kSilentWriterFifo, "", nullptr, false, "no end of data within 1 seconds"},
        Case{"FifoWritten", Kind::kWrittenFifo, "p1\np2\n", nullptr, true, ""},
        Case{"PipeThatDelivers", Kind::kPipe, "x1\nx2\n", nullptr, true, ""},
        Case{"PipeOverTheBound", Kind::kPipe, std::string(5000, 'y'), nullptr, false,
             "larger than 1000 bytes"}),
    [](const ::testing::TestParamInfo<Case> &p) { return std::string(p.param.name); });

TEST(BoundedRead, AStreamOverTheCopyReadsLikeTheFile) {
  vrktest::TempDir dir;
  vrktest::WriteFile(dir.file("f"), "k=v\nlast");
  std::string why;
  FILE *f = vrk_fopen_bounded(dir.file("f").c_str(), why);
  ASSERT_NE(nullptr, f) << why;
  char line[64];
  ASSERT_NE(nullptr, fgets(line, sizeof line, f));
  EXPECT_STREQ("k=v\n", line);
  ASSERT_NE(nullptr, fgets(line, sizeof line, f));
  EXPECT_STREQ("last", line);
  EXPECT_EQ(nullptr, fgets(line, sizeof line, f));
  fclose(f);
  EXPECT_EQ(nullptr, vrk_fopen_bounded(dir.file("missing").c_str(), why));
  EXPECT_EQ("No such file or directory", why);
}

}  // namespace
