// Pieces of the HTTP(S) transport without a peer: strnstr, the reply header
// match, write chunks taken in parts across pauses, and the upload's end.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "xbsa/bsa_http.h"
#include "xbsa/stpc.h"
#include "xbsa_client.h"

using namespace vrktest;

namespace {

TEST(StrnstrTest, FindsWithinTheLimit) {
  struct Case {
    const char *s, *find;
    size_t len;
    int pos;  // -1: NULL
  } cases[] = {
      {"Reply: OK", "Reply:", 9, 0},  {"X-Reply: OK", "Reply:", 11, 2}, {"X-Reply: OK", "Reply:", 7, -1},
      {"X-Reply: OK", "Reply:", 8, 2}, {"abc", "", 0, 0},                {"ab\0Reply:", "Reply:", 9, -1},
      {"aab", "ab", 3, 1},             {"abc", "abcd", 3, -1},
  };
  for (const auto &c : cases) {
    char *p = strnstr(c.s, c.find, c.len);
    if (c.pos < 0) {
      EXPECT_EQ(p, nullptr) << c.s << " / " << c.find << " / " << c.len;
    } else {
      EXPECT_EQ(p, c.s + c.pos) << c.s << " / " << c.find << " / " << c.len;
    }
  }
}

TEST(ReplyHeaderTest, NameWithoutRegardToCaseValueTrimmed) {
  struct Case {
    const char *line;
    const char *value;  // NULL: not a reply header
  } cases[] = {
      {"Reply: OK\r\n", "OK"},
      {"reply: OK\r\n", "OK"},
      {"REPLY:OK\r\n", "OK"},
      {"Reply:   520 Server signal: disk full  \r\n", "520 Server signal: disk full"},
      {"Reply:\r\n", ""},
      {"Reply: OK", "OK"},
      {"X-Reply: OK\r\n", nullptr},
      {"Replyx: OK\r\n", nullptr},
      {"Content-Length: 5\r\n", nullptr},
      {"Repl", nullptr},
  };
  for (const auto &c : cases) {
    size_t len = 0;
    const char *v = http_reply_value(c.line, strlen(c.line), &len);
    if (!c.value) {
      EXPECT_EQ(v, nullptr) << c.line;
    } else {
      ASSERT_NE(v, nullptr) << c.line;
      EXPECT_EQ(std::string(v, len), c.value) << c.line;
    }
  }
}

TEST(ReplyHeaderTest, CallbackKeepsTheValue) {
  char szReply[XBSA_MSG_SIZE] = "stale";
  std::string line = "reply: 520 no space\r\n";
  EXPECT_EQ(BSAHTTPHeaderCallback(&line[0], 1, line.size(), szReply), line.size());
  EXPECT_STREQ(szReply, "520 no space");
  std::string other = "Content-Type: text/plain\r\n";
  EXPECT_EQ(BSAHTTPHeaderCallback(&other[0], 1, other.size(), szReply), other.size());
  EXPECT_STREQ(szReply, "520 no space");
}

// The value fills the reply buffer of XBSA_MSG_SIZE bytes; only a longer
// one is cut, at that bound, and nothing is written past it.
TEST(ReplyHeaderTest, ALongValueIsKeptUpToTheBuffersSize) {
  const size_t kKept = XBSA_MSG_SIZE - 1;
  struct Case {
    size_t valueLen;
    size_t kept;
  } cases[] = {{300, 300}, {kKept, kKept}, {XBSA_MSG_SIZE, kKept}, {5000, kKept}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.valueLen);
    std::vector<char> buf(XBSA_MSG_SIZE + 16, '#');
    http_header_phase_reset(2);
    std::string value = "520 " + std::string(c.valueLen - 4, 'z');
    std::string line = "Reply: " + value + "\r\n";
    EXPECT_EQ(BSAHTTPHeaderCallback(&line[0], 1, line.size(), buf.data()), line.size());
    EXPECT_EQ(std::string(buf.data()), value.substr(0, c.kept));
    EXPECT_EQ(std::string(buf.begin() + XBSA_MSG_SIZE, buf.end()), std::string(16, '#'));
  }
  http_header_phase_reset(0);
}

// Feeds header lines as libcurl does; the count taken before a refusal.
size_t Feed(const std::vector<std::string> &lines) {
  char szReply[XBSA_MSG_SIZE] = "";
  size_t n = 0;
  for (std::string l : lines) {
    if (BSAHTTPHeaderCallback(&l[0], 1, l.size(), szReply) != l.size()) break;
    n++;
  }
  return n;
}

TEST(HeaderPhaseTest, HeadersAreBoundedInLinesAndBytesOverTheTransfer) {
  ResetXbsa(0);
  std::vector<std::string> continues;
  for (int i = 0; i < 400; i++) {
    continues.push_back("HTTP/1.1 100 Continue\r\n");
    continues.push_back("\r\n");
  }
  struct Case {
    const char *name;
    std::vector<std::string> lines;
    size_t taken;
    const char *why;  // "" when all lines are taken
  } cases[] = {
      {"an ordinary answer", {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 201 Created\r\n", "Reply: OK\r\n",
                              "\r\n"}, 5, ""},
      {"100 Continue without end", continues, XBSA_REPLY_MAX_LINES, "exceed 512 lines"},
      {"one huge header", {"HTTP/1.1 200 OK\r\n", "X-Big: " + std::string(70000, 'b') + "\r\n"}, 1,
       "exceed 65536 bytes"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    xbsa_set_last_message("");
    http_header_phase_reset(1);
    EXPECT_EQ(Feed(c.lines), c.taken);
    if (*c.why) {
      EXPECT_NE(std::string(xbsa_last_message()).find(c.why), std::string::npos) << xbsa_last_message();
    }
    // A failed phase refuses every later line too.
    EXPECT_EQ(Feed({"X-After: 1\r\n"}), *c.why ? 0u : 1u);
  }
  http_header_phase_reset(0);
}

TEST(HeaderPhaseTest, StatusCodeIsReadWithinTheLineLength) {
  // libcurl's lines carry no terminator: an exact heap copy, as it passes them.
  http_header_phase_reset(2);
  char szReply[XBSA_MSG_SIZE] = "";
  std::string status = "HTTP/1.1 100";
  std::vector<char> exact(status.begin(), status.end());
  EXPECT_EQ(BSAHTTPHeaderCallback(exact.data(), 1, exact.size(), szReply), exact.size());
  EXPECT_EQ(g_sHeaderPhase.lCode, 100);
  std::vector<char> end = {'\r', '\n'};
  EXPECT_EQ(BSAHTTPHeaderCallback(end.data(), 1, end.size(), szReply), end.size());
  EXPECT_EQ(g_sHeaderPhase.bDone, FALSE) << "an interim answer leaves the final one due";
  http_header_phase_reset(0);
}

TEST(HeaderPhaseTest, TheWaitCountsFromTheFirstHeaderByte) {
  ResetXbsa(0);
  sGlobal.ulTimeOut = 1;
  // A download: the clock runs from the status line, whatever follows.
  http_header_phase_reset(2);
  EXPECT_EQ(Feed({"HTTP/1.1 200 OK\r\n"}), 1u);
  EXPECT_EQ(http_header_phase_ok("test"), 1);
  g_sHeaderPhase.llResponseStart -= 1500;
  EXPECT_EQ(Feed({"X-More: 1\r\n"}), 0u);
  EXPECT_NE(std::string(xbsa_last_message()).find("did not end within 1 seconds"), std::string::npos);
  // An upload: "100 Continue" while the body is sent starts no clock; once
  // the body is sent, the next interim answer does.
  xbsa_set_last_message("");
  http_header_phase_reset(1);
  EXPECT_EQ(Feed({"HTTP/1.1 100 Continue\r\n", "\r\n"}), 2u);
  EXPECT_EQ(g_sHeaderPhase.llPhaseStart, 0);
  g_sHeaderPhase.bBodyOpen = FALSE;
  EXPECT_EQ(Feed({"HTTP/1.1 100 Continue\r\n", "\r\n"}), 2u);
  EXPECT_NE(g_sHeaderPhase.llPhaseStart, 0);
  g_sHeaderPhase.llPhaseStart -= 1500;
  EXPECT_EQ(http_header_phase_ok("Perform"), 0);
  // The final answer ends the phase.
  http_header_phase_reset(2);
  EXPECT_EQ(Feed({"HTTP/1.1 200 OK\r\n", "\r\n"}), 2u);
  EXPECT_EQ(g_sHeaderPhase.bDone, TRUE);
  EXPECT_EQ(g_sHeaderPhase.llResponseStart, 0);
  http_header_phase_reset(0);
}

class HttpCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetXbsa(0);
    memset(&ctx_, 0, sizeof ctx_);
    writeOffset = 0;
  }
  void TearDown() override {
    buffer_clear(&ctx_.circularBuffer);
    writeOffset = 0;
  }
  HttpCtx ctx_;
};

TEST_F(HttpCallbackTest, ChunkLargerThanTheRoomIsTakenInPartsWithoutLossOrRepetition) {
  ASSERT_EQ(buffer_init(16, &ctx_.circularBuffer), 0);
  std::string chunk = "ABCDEFGHIJKLMNOPQRST";  // 20 bytes, the ring takes 15
  EXPECT_EQ(WriteCallback(&chunk[0], 1, chunk.size(), &ctx_), (size_t)CURL_WRITEFUNC_PAUSE);
  EXPECT_EQ(writeOffset, 15u);
  std::string out(10, '\0');
  EXPECT_EQ(buffer_read(&out[0], 10, &ctx_.circularBuffer), 10u);
  EXPECT_EQ(out, "ABCDEFGHIJ");
  // libcurl delivers the same chunk again after the resume.
  EXPECT_EQ(WriteCallback(&chunk[0], 1, chunk.size(), &ctx_), chunk.size());
  EXPECT_EQ(writeOffset, 0u);
  std::string next = "uvw";
  EXPECT_EQ(WriteCallback(&next[0], 1, next.size(), &ctx_), next.size());
  std::string rest(20, '\0');
  rest.resize(buffer_read(&rest[0], rest.size(), &ctx_.circularBuffer));
  EXPECT_EQ(rest, "KLMNOPQRSTuvw");
}

TEST_F(HttpCallbackTest, FullRingPausesAtOnce) {
  ASSERT_EQ(buffer_init(8, &ctx_.circularBuffer), 0);
  std::string chunk = "1234567";
  EXPECT_EQ(WriteCallback(&chunk[0], 1, chunk.size(), &ctx_), chunk.size());
  std::string more = "89";
  EXPECT_EQ(WriteCallback(&more[0], 1, more.size(), &ctx_), (size_t)CURL_WRITEFUNC_PAUSE);
  EXPECT_EQ(writeOffset, 0u);
}

TEST_F(HttpCallbackTest, UploadEndsOnlyAtTheEndStep) {
  char buf[16];
  EXPECT_EQ(ReadCallback(buf, 1, sizeof buf, &ctx_), (size_t)CURL_READFUNC_PAUSE);
  BSA_DataBlock32 empty;
  memset(&empty, 0, sizeof empty);
  ctx_.dataBlockPtr = &empty;
  EXPECT_EQ(ReadCallback(buf, 1, sizeof buf, &ctx_), (size_t)CURL_READFUNC_PAUSE);
  std::string data = "0123456789abcdefXYZ";
  BSA_DataBlock32 block;
  memset(&block, 0, sizeof block);
  block.bufferLen = block.numBytes = (BSA_UInt32)data.size();
  block.bufferPtr = &data[0];
  ctx_.dataBlockPtr = &block;
  EXPECT_EQ(ReadCallback(buf, 1, sizeof buf, &ctx_), 16u);
  EXPECT_EQ(std::string(buf, 16), "0123456789abcdef");
  EXPECT_EQ(ReadCallback(buf, 1, sizeof buf, &ctx_), 3u);
  EXPECT_EQ(std::string(buf, 3), "XYZ");
  EXPECT_EQ(ctx_.dataBlockPtr, nullptr);
  ctx_.bEndOfData = TRUE;
  EXPECT_EQ(ReadCallback(buf, 1, sizeof buf, &ctx_), 0u);
  EXPECT_TRUE(ctx_.bEofSent);
}

TEST_F(HttpCallbackTest, InterruptedTransferAbortsBothCallbacks) {
  volatile sig_atomic_t flag = 1;
  ctx_.pInterrupted = &flag;
  ASSERT_EQ(buffer_init(16, &ctx_.circularBuffer), 0);
  char buf[4] = "abc";
  EXPECT_EQ(ReadCallback(buf, 1, sizeof buf, &ctx_), (size_t)CURL_READFUNC_ABORT);
  EXPECT_EQ(WriteCallback(buf, 1, 3, &ctx_), 0u);
}

}  // namespace
