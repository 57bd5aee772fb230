// The download ring: empty and bounded reads, the can-read test, wrap-around
// in order, and a long mixed run checked against a plain byte queue.
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "xbsa/circular_buffer.h"

namespace {

struct Ring {
  CircularBuffer cb{};
  explicit Ring(size_t n) { EXPECT_EQ(buffer_init(n, &cb), 0); }
  ~Ring() { buffer_clear(&cb); }
};

std::string Read(CircularBuffer *cb, size_t n) {
  std::string out(n, '\0');
  size_t got = buffer_read(&out[0], n, cb);
  out.resize(got);
  return out;
}

TEST(CircularBufferTest, EmptyRingGivesNothing) {
  Ring r(16);
  EXPECT_EQ(Read(&r.cb, 8), "");
  EXPECT_EQ(buffer_count(&r.cb), 0u);
  EXPECT_EQ(buffer_free(&r.cb), 15u);
}

TEST(CircularBufferTest, CanReadRefusesZeroAndMoreThanCapacity) {
  Ring r(16);
  buffer_write("0123456789", 10, &r.cb);
  EXPECT_EQ(buffer_can_read(0, &r.cb), 0);
  EXPECT_EQ(buffer_can_read(17, &r.cb), 0);
  EXPECT_EQ(buffer_can_read(10, &r.cb), 1);
  EXPECT_EQ(buffer_can_read(11, &r.cb), 0);
  // can_read does not consume.
  EXPECT_EQ(Read(&r.cb, 10), "0123456789");
}

TEST(CircularBufferTest, WriteWrapsAndReadReturnsInOrder) {
  Ring r(16);
  EXPECT_EQ(buffer_write("abcdefghij", 10, &r.cb), 10u);
  EXPECT_EQ(Read(&r.cb, 8), "abcdefgh");
  EXPECT_EQ(buffer_write("KLMNOPQRST", 10, &r.cb), 10u);
  EXPECT_EQ(r.cb.write_position, 4u);
  EXPECT_EQ(buffer_can_read(12, &r.cb), 1);
  EXPECT_EQ(Read(&r.cb, 12), "ijKLMNOPQRST");
  EXPECT_EQ(Read(&r.cb, 1), "");
}

TEST(CircularBufferTest, ReadIsBoundedByWhatWasWritten) {
  Ring r(16);
  buffer_write("abcdefghijklmn", 14, &r.cb);
  EXPECT_EQ(Read(&r.cb, 12), "abcdefghijkl");
  buffer_write("opqrst", 6, &r.cb);  // wraps: 2 bytes at the end, 4 at the start
  EXPECT_EQ(buffer_count(&r.cb), 8u);
  EXPECT_EQ(Read(&r.cb, 100), "mnopqrst");
}

TEST(CircularBufferTest, MixedWritesAndReadsMatchAByteQueue) {
  Ring r(1000);
  std::deque<char> model;
  unsigned x = 12345;
  char next = 0;
  for (int step = 0; step < 5000; step++) {
    x = x * 1103515245u + 12345u;
    size_t n = (x >> 16) % 400;
    if ((x >> 8) & 1) {
      n = std::min(n, buffer_free(&r.cb));
      std::vector<char> data(n);
      for (auto &c : data) model.push_back(c = next++);
      ASSERT_EQ(buffer_write(data.data(), n, &r.cb), n);
    } else {
      std::vector<char> out(n);
      size_t got = buffer_read(out.data(), n, &r.cb);
      ASSERT_EQ(got, std::min(n, model.size()));
      for (size_t i = 0; i < got; i++) {
        ASSERT_EQ(out[i], model.front());
        model.pop_front();
      }
    }
    ASSERT_EQ(buffer_count(&r.cb), model.size());
  }
}

}  // namespace
