// Tests of the data gate: descriptor loops over pipes, socket pairs and files,
// the local saveset road, the storage-client road's errors, checksum, progress.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/vrk_io.h"
#include "runtime/strlib.h"
#include "vrk_client_fixture.h"
#include "xbsa/xbsa.h"
#include "xbsa/xbsa_session.h"

using namespace vrktest;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

class IoTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    signal(SIGPIPE, SIG_IGN);
    spGlobal->iAlarmIntervall = 0;
  }
  void TearDown() override {
    // What a test left gathered goes to its own saveset, not to the next test's.
    vrk_bsa_flush(1);
    for (int fd : fds_) close(fd);
    ClientTest::TearDown();
  }
  void Pipe(int p[2]) {
    ASSERT_EQ(pipe(p), 0);
    fds_.push_back(p[0]);
    fds_.push_back(p[1]);
  }
  void SocketPair(int p[2]) {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, p), 0);
    fds_.push_back(p[0]);
    fds_.push_back(p[1]);
  }
  std::vector<int> fds_;
};

// Feeds data into fd in small pieces with pauses, then closes it if asked.
void SlowFeed(int fd, std::string data, size_t piece, bool bClose) {
  for (size_t off = 0; off < data.size(); off += piece) {
    size_t n = std::min(piece, data.size() - off);
    size_t done = 0;
    while (done < n) {
      ssize_t w = write(fd, data.data() + off + done, n - done);
      if (w <= 0) return;
      done += (size_t)w;
    }
    usleep(2000);
  }
  if (bClose) close(fd);
}

TEST_F(IoTest, ReadsWholeBufferFromSlowPipeAndSocketPair) {
  const std::string data = Pattern(300000, 3);
  for (int kind = 0; kind < 2; ++kind) {
    SCOPED_TRACE(kind == 0 ? "pipe" : "socketpair");
    int p[2];
    if (kind == 0)
      Pipe(p);
    else
      SocketPair(p);
    int wfd = dup(p[1]);
    std::thread feeder(SlowFeed, wfd, data, 7000, true);
    std::string got(data.size(), '\0');
    ssize_t n = vrk_read(p[0], &got[0], got.size(), 10);
    feeder.join();
    EXPECT_EQ(n, (ssize_t)data.size());
    EXPECT_TRUE(got == data);
    // The descriptor is blocking again.
    EXPECT_EQ(fcntl(p[0], F_GETFL) & O_NONBLOCK, 0);
  }
}

TEST_F(IoTest, WritesWholeBufferThroughFullPipe) {
  const std::string data = Pattern(1 << 20, 5);
  int p[2];
  Pipe(p);
  std::string got;
  std::thread reader([&] {
    char buf[4096];
    for (;;) {
      usleep(100);
      ssize_t n = read(p[0], buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, (size_t)n);
      if (got.size() >= data.size()) break;
    }
  });
  EXPECT_EQ(vrk_write(p[1], data.data(), data.size(), 10), (ssize_t)data.size());
  reader.join();
  EXPECT_TRUE(got == data);
  EXPECT_EQ(fcntl(p[1], F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(IoTest, ReadTimeOutIsAnErrorNotTheEnd) {
  int p[2];
  Pipe(p);
  ASSERT_EQ(write(p[1], "abc", 3), 3);  // part of the data, then silence
  char buf[16];
  CaptureStderr();
  errno = 0;
  ssize_t n = vrk_read(p[0], buf, sizeof buf, 1);
  int err = errno;
  std::string log = GetCapturedStderr();
  EXPECT_EQ(n, -1);
  EXPECT_EQ(err, ETIMEDOUT);
  EXPECT_NE(log.find("System call [read()] timed out after [1] seconds"), std::string::npos) << log;
}

TEST_F(IoTest, EndOfFileGivesWhatWasRead) {
  int p[2];
  Pipe(p);
  ASSERT_EQ(write(p[1], "abcde", 5), 5);
  close(p[1]);
  fds_.pop_back();
  char buf[16];
  EXPECT_EQ(vrk_read(p[0], buf, sizeof buf, 5), 5);
  EXPECT_EQ(vrk_read(p[0], buf, sizeof buf, 5), 0);
}

TEST_F(IoTest, WriteTimeOutOnFullPipeIsAnError) {
  int p[2];
  Pipe(p);
  const std::string data = Pattern(1 << 20, 9);  // more than the pipe holds
  CaptureStderr();
  ssize_t n = vrk_write(p[1], data.data(), data.size(), 1);
  std::string log = GetCapturedStderr();
  EXPECT_EQ(n, -1);
  EXPECT_NE(log.find("System call [write()] timed out after [1] seconds"), std::string::npos) << log;
}

TEST_F(IoTest, FlagsOfAppendFileAndNonBlockingDescriptorKept) {
  TempDir dir;
  WriteFile(dir.file("s"), "head:");
  int fd = open(dir.file("s").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  fds_.push_back(fd);
  EXPECT_EQ(vrk_write(fd, "tail", 4, 5), 4);
  EXPECT_EQ(fcntl(fd, F_GETFL) & (O_APPEND | O_NONBLOCK), O_APPEND);
  EXPECT_EQ(vrk_write(fd, "!", 1, 5), 1);
  EXPECT_EQ(ReadFile(dir.file("s")), "head:tail!");

  int p[2];
  Pipe(p);
  ASSERT_EQ(fcntl(p[0], F_SETFL, fcntl(p[0], F_GETFL) | O_NONBLOCK), 0);
  ASSERT_EQ(write(p[1], "xy", 2), 2);
  char buf[2];
  EXPECT_EQ(vrk_read(p[0], buf, 2, 5), 2);
  EXPECT_NE(fcntl(p[0], F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(IoTest, DescriptorAbove1023Works) {
  struct rlimit rl;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
  if (rl.rlim_cur < 1501) GTEST_SKIP() << "descriptor limit below 1501";
  int p[2];
  Pipe(p);
  ASSERT_EQ(dup2(p[0], 1500), 1500);
  fds_.push_back(1500);
  ASSERT_EQ(write(p[1], "1234", 4), 4);
  char buf[4];
  EXPECT_EQ(vrk_read(1500, buf, 4, 5), 4);
  EXPECT_EQ(std::string(buf, 4), "1234");
}

TEST_F(IoTest, BadDescriptorFails) {
  char buf[4] = {0};
  EXPECT_EQ(vrk_read(-1, buf, 4, 1), -1);
  EXPECT_EQ(vrk_write(-1, buf, 4, 1), -1);
  TempDir dir;
  WriteFile(dir.file("ro"), "");
  int fd = open(dir.file("ro").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  fds_.push_back(fd);
  // A write error ends the call at once, not at the time-out.
  EXPECT_EQ(vrk_write(fd, buf, 4, 5), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(IoTest, LocalRoadChecksumMatchesZlibOverAllBlocks) {
  TempDir dir;
  int fd = open(dir.file("set").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  spGlobal->sLocalSaveset.iFilDes = fd;
  spGlobal->lChkSum = 1;
  std::vector<std::string> blocks = {Pattern(65536, 1), "", Pattern(100, 2), std::string(8, '\xff')};
  uLong expect = 1;
  std::string all;
  for (const auto &b : blocks) {
    EXPECT_EQ(vrk_bsa_write(b.data(), b.size(), 5), (ssize_t)b.size());
    expect = adler32(expect, (const Bytef *)b.data(), (uInt)b.size());
    all += b;
  }
  EXPECT_EQ(spGlobal->lChkSum, (uint32_t)expect);
  // The short blocks wait until the saveset is flushed, then follow in order.
  EXPECT_TRUE(ReadFile(dir.file("set")) == all.substr(0, 65536));
  EXPECT_EQ(vrk_bsa_flush(5), 0);
  EXPECT_TRUE(ReadFile(dir.file("set")) == all);

  // Reading back folds the same bytes again.
  ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
  spGlobal->lChkSum = 1;
  std::string back;
  char buf[30000];
  ssize_t n;
  while ((n = vrk_bsa_read(buf, sizeof buf, 5)) > 0) back.append(buf, (size_t)n);
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(back == all);
  EXPECT_EQ(spGlobal->lChkSum, (uint32_t)adler32(1, (const Bytef *)all.data(), (uInt)all.size()));
}

TEST_F(IoTest, LocalReadEndAndEmptyRequest) {
  TempDir dir;
  WriteFile(dir.file("set"), "");
  int fd = open(dir.file("set").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  spGlobal->sLocalSaveset.iFilDes = fd;
  char buf[8];
  spGlobal->lChkSum = 77;
  for (int level : {3, 4}) {
    SCOPED_TRACE(level);
    spGlobal->iLogLevel = level;
    CaptureStderr();
    EXPECT_EQ(vrk_bsa_read(buf, sizeof buf, 5), 0);
    EXPECT_EQ(vrk_bsa_read(buf, 0, 5), 0);
    std::string log = GetCapturedStderr();
    EXPECT_EQ(log.find("No more data in remote archive.") != std::string::npos, level > 3) << log;
  }
  EXPECT_EQ(spGlobal->lChkSum, 77u);
}

TEST_F(IoTest, LocalWriteAndReadErrorsAreLogged) {
  TempDir dir;
  WriteFile(dir.file("set"), "data");
  int fd = open(dir.file("set").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  spGlobal->sLocalSaveset.iFilDes = fd;
  CaptureStderr();
  const std::string large = Pattern(65536, 3);
  EXPECT_EQ(vrk_bsa_write(large.data(), large.size(), 5), -1);
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("Cannot write to remote archive: [Bad file descriptor]"), std::string::npos) << log;
  // A short block waits; its failure shows when the gathered bytes are written.
  EXPECT_EQ(vrk_bsa_write("abc", 3, 5), 3);
  CaptureStderr();
  EXPECT_EQ(vrk_bsa_flush(5), -1);
  log = GetCapturedStderr();
  EXPECT_NE(log.find("Cannot write to remote archive: [Bad file descriptor]"), std::string::npos) << log;
  EXPECT_EQ(vrk_bsa_flush(5), 0);
  close(fd);
  fd = open(dir.file("set").c_str(), O_WRONLY);
  spGlobal->sLocalSaveset.iFilDes = fd;
  char buf[4];
  CaptureStderr();
  EXPECT_EQ(vrk_bsa_read(buf, 4, 5), -1);
  log = GetCapturedStderr();
  EXPECT_NE(log.find("Error reading remote archive: [Bad file descriptor]."), std::string::npos) << log;
}

TEST_F(IoTest, LocalWriteTimeOutLogsBothMessages) {
  int p[2];
  Pipe(p);
  spGlobal->sLocalSaveset.iFilDes = p[1];
  const std::string data = Pattern(1 << 20, 4);
  CaptureStderr();
  EXPECT_EQ(vrk_bsa_write(data.data(), data.size(), 1), -1);
  std::string log = GetCapturedStderr();
  spGlobal->sLocalSaveset.iFilDes = -1;
  EXPECT_NE(log.find("vrk-1019"), std::string::npos) << log;
  EXPECT_NE(log.find("vrk-1031"), std::string::npos) << log;
}

TEST_F(IoTest, StorageClientRoadErrorsAndEmptyBlock) {
  xbsa_reset_library();
  spGlobal->sLocalSaveset.iFilDes = -1;
  spGlobal->lBSAHandle = 0;  // no session
  CaptureStderr();
  // An empty block never reaches the storage client.
  EXPECT_EQ(vrk_bsa_write("", 0, 5), 0);
  std::string log = GetCapturedStderr();
  EXPECT_EQ(log.find("vrk-1007"), std::string::npos) << log;

  CaptureStderr();
  EXPECT_EQ(vrk_bsa_write("x", 1, 5), -1);
  char buf[4];
  EXPECT_EQ(vrk_bsa_read(buf, 4, 5), -1);
  log = GetCapturedStderr();
  const std::string text =
      "XBSA Call failed with message: The handle used to associate this call with a previous BSAInit() call is "
      "invalid.";
  size_t first = log.find(text);
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find(text, first + 1), std::string::npos) << log;
}

TEST_F(IoTest, StrErrorTable) {
  struct {
    int code;
    const char *text;
  } cases[] = {
      {3, "System detected error, operation aborted."},
      {18, "No more data is available."},
      {26, "There is no copy of the requested object."},
      {79, "The copyld field contains an unrecognized value."},
      {0, "The function succeeded."},
      {14, "The function succeeded."},
      {-1, "The function succeeded."},
  };
  for (const auto &c : cases) EXPECT_STREQ(XBSA_strerror(c.code), c.text) << c.code;
}

TEST_F(IoTest, ErrorTextTakesLastErrorCutToTheRoom) {
  xbsa_reset_library();
  SysErrorTxt(0, 0, "node said 520 bye");
  char big[VRK_BSA_ERRTXT_SIZE];
  vrk_bsa_errortext(3, big, sizeof big);
  EXPECT_EQ(std::string(big).rfind("System detected error, operation aborted. node said 520 bye", 0), 0u) << big;
  // Fetched and cleared: a second text has only the prefix.
  vrk_bsa_errortext(3, big, sizeof big);
  EXPECT_STREQ(big, "System detected error, operation aborted. ");

  // A text longer than the room is cut, not dropped: the reason is never
  // empty.
  SysErrorTxt(0, 0, "%s", std::string(100, 'e').c_str());
  char small[60];
  vrk_bsa_errortext(18, small, sizeof small);
  EXPECT_EQ(std::string(small), "No more data is available. " + std::string(29, 'e') + "...");
  xbsa_set_last_message(("520 " + std::string(1500, 'r')).c_str());
  vrk_bsa_errortext(3, big, sizeof big);
  EXPECT_EQ(strlen(big), sizeof big - 1);
  EXPECT_EQ(std::string(big).rfind("System detected error, operation aborted. 520 rrr", 0), 0u) << big;
  EXPECT_EQ(std::string(big).substr(sizeof big - 4), "...");
}

TEST_F(IoTest, TraceHookWritesTraceLines) {
  for (int level : {3, 4}) {
    spGlobal->iLogLevel = level;
    CaptureStderr();
    XBSA_trace("BSAInit: Start.");
    std::string log = GetCapturedStderr();
    EXPECT_EQ(log.find("vrk-4000: Trace:    BSAInit: Start.") != std::string::npos, level >= 4) << log;
  }
}

// Megabytes per hour over the whole seconds since the last report: 1 MB
// after 1.5 s counts one second; within the first second 0 is shown.
TEST(Throughput, WholeSecondsTruncated) {
  struct Case {
    double mb;
    unsigned long now, before;
    double rate;
  } cases[] = {
      {1, 1500, 0, 3600},      {1, 2999, 0, 1800},     {2, 3000, 0, 2400},
      {1, 10999, 10000, 0},    {1, 999, 0, 0},         {5, 0, 0, 0},
      {0.5, 61000, 1000, 30},  {1, 4000500, 500, 0.9},
  };
  for (const Case &c : cases)
    EXPECT_DOUBLE_EQ(c.rate, vrk_throughput(c.mb, c.now, c.before)) << c.mb << " " << c.now << " " << c.before;
}

TEST_F(IoTest, ProgressReportOnAlarm) {
  TempDir dir;
  int fd = open(dir.file("set").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  spGlobal->sLocalSaveset.iFilDes = fd;
  strlcpy(spGlobal->sVRKObject.szItem, "VOL1:/dir/file", sizeof spGlobal->sVRKObject.szItem);
  const std::string block = Pattern(4096, 8);
  for (int level : {1, 0}) {
    SCOPED_TRACE(level);
    spGlobal->iLogLevel = level;
    spGlobal->iAlarm = 1;
    CaptureStderr();
    EXPECT_EQ(vrk_bsa_write(block.data(), block.size(), 5), (ssize_t)block.size());
    std::string log = GetCapturedStderr();
    EXPECT_EQ(spGlobal->iAlarm, 0);
    EXPECT_NE(log.find("Transferred: 0 MB. Throughput: "), std::string::npos) << log;
    // Reports come within a second of each other here: the rate stays finite.
    EXPECT_EQ(log.find("inf"), std::string::npos) << log;
    EXPECT_EQ(log.find("nan"), std::string::npos) << log;
    EXPECT_EQ(log.find("Current item [VOL1:/dir/file]") != std::string::npos, level == 0) << log;
    // No alarm, no report.
    CaptureStderr();
    EXPECT_EQ(vrk_bsa_write(block.data(), block.size(), 5), (ssize_t)block.size());
    EXPECT_EQ(GetCapturedStderr(), "");
  }
}

TEST_F(IoTest, ReadProgressGivesShareOfExpectedSize) {
  // The count of a storage-client session of its own starts at 0.
  xbsa_reset_library();
  long h = 0;
  BSA_ObjectOwner owner;
  memset(&owner, 0, sizeof owner);
  strlcpy(owner.bsa_ObjectOwner, "USER=x:PASS=y", sizeof owner.bsa_ObjectOwner);
  char e0[] = "BSA_SERVICE_HOST=127.0.0.1:1";
  char *env[] = {e0, nullptr};
  ASSERT_EQ(BSAInit(&h, nullptr, &owner, env), 0);
  spGlobal->lBSAHandle = (int32_t)h;

  TempDir dir;
  int fd = open(dir.file("set").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 50L << 20), 0);
  spGlobal->sLocalSaveset.iFilDes = fd;
  free(spGlobal->sSMS.cpInfo);
  spGlobal->sSMS.cpInfo = strdup("label=x size=200 more");
  std::vector<char> buf(1 << 20);
  for (int i = 0; i < 49; ++i) ASSERT_EQ(vrk_bsa_read(buf.data(), buf.size(), 5), (ssize_t)buf.size());
  spGlobal->iAlarm = 1;
  CaptureStderr();
  ASSERT_EQ(vrk_bsa_read(buf.data(), buf.size(), 5), (ssize_t)buf.size());
  std::string log = GetCapturedStderr();
  size_t pct = log.find("25% processed.");
  size_t mb = log.find("Transferred: 50 MB.");
  EXPECT_NE(pct, std::string::npos) << log;
  EXPECT_NE(mb, std::string::npos) << log;
  EXPECT_LT(pct, mb);
  EXPECT_EQ(BSATerminate(h), 0);
  spGlobal->lBSAHandle = 0;
  xbsa_reset_library();
}

// Last here: the bytes it reads count in the progress of the tests after it.
// The local saveset is read ahead in large blocks: pieces of every size,
// across the blocks and larger than one, come back in order with the
// checksum over them; a pipe is never read ahead (a small piece comes as
// soon as it is there, with the writer still open).
TEST_F(IoTest, LocalReadsInPiecesOfEverySizeGiveTheFileInOrder) {
  TempDir dir;
  const std::string all = Pattern(3 * 128 * 1024 + 777, 5);
  WriteFile(dir.file("set"), all);
  int fd = open(dir.file("set").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  fds_.push_back(fd);
  spGlobal->sLocalSaveset.iFilDes = fd;
  spGlobal->lChkSum = 1;
  std::string back;
  std::vector<char> buf(300000);
  const size_t sizes[] = {8, 43, 3975, 65536, 131071, 1, 200000, 8};
  for (size_t i = 0; back.size() < all.size(); ++i) {
    ssize_t n = vrk_bsa_read(buf.data(), sizes[i % (sizeof sizes / sizeof sizes[0])], 5);
    ASSERT_GT(n, 0) << back.size();
    back.append(buf.data(), (size_t)n);
  }
  EXPECT_EQ(vrk_bsa_read(buf.data(), 10, 5), 0);
  EXPECT_TRUE(back == all);
  EXPECT_EQ(spGlobal->lChkSum, (uint32_t)adler32(1, (const Bytef *)all.data(), (uInt)all.size()));

  int p[2];
  Pipe(p);
  spGlobal->sLocalSaveset.iFilDes = p[0];
  ASSERT_EQ(write(p[1], "0123456789", 10), 10);
  char small[4];
  EXPECT_EQ(vrk_bsa_read(small, sizeof small, 2), 4);
  EXPECT_EQ(std::string(small, 4), "0123");
  EXPECT_EQ(vrk_bsa_read(small, sizeof small, 2), 4);
  EXPECT_EQ(std::string(small, 4), "4567");
}

}  // namespace
