// Tests of the trace hex dump: the exact line layout, the fill cells of a
// short last line, the base offset and the "*" for repeated lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/x_dump.h"

namespace {

std::vector<std::string> g_lines;
void Collect(char *line) { g_lines.push_back(line); }

const char kHeader[] = "          -0 -1 -2 -3 -4 -5 -6 -7  -8 -9 -a -b -c -d -e -f";

TEST(XDump, TwentyLetters) {
  char buf[21] = "ABCDEFGHIJKLMNOPQRST";
  g_lines.clear();
  x_Dump(buf, 20, Collect);
  ASSERT_EQ(4u, g_lines.size());
  char block[96];
  snprintf(block, sizeof(block), "BLOCK INFO: Address = [%p], Size: [20]", (void *)buf);
  EXPECT_EQ(block, g_lines[0]);
  EXPECT_EQ(kHeader, g_lines[1]);
  EXPECT_EQ("00000000  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP", g_lines[2]);
  EXPECT_EQ("00000010  51 52 53 54 " + std::string(12, ' ') + " " + std::string(24, ' ') + " QRST" +
                std::string(12, ' '),
            g_lines[3]);
  for (const std::string &l : g_lines) EXPECT_LE(l.size(), 95u);
}

TEST(XDump, SkipsRepeatedLinesButNotTheLast) {
  std::vector<char> zeros(64, 0);
  g_lines.clear();
  x_DumpEx(zeros.data(), 64, Collect, 0x100, 1);
  ASSERT_EQ(5u, g_lines.size());
  const std::string zeroHex = " 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00 ";
  EXPECT_EQ("00000100 " + zeroHex + " ................", g_lines[2]);
  EXPECT_EQ("*", g_lines[3]);
  EXPECT_EQ("00000130 " + zeroHex + " ................", g_lines[4]);

  // Without skipping every line is printed; bytes outside 33..126 are dots.
  char mixed[17] = " ~!\x7f\x80\xff" "abcdefghij";
  g_lines.clear();
  x_DumpEx(mixed, 16, Collect, 0, 1);
  ASSERT_EQ(3u, g_lines.size());
  EXPECT_EQ(".~!...abcdefghij", g_lines[2].substr(g_lines[2].size() - 16));
}

TEST(XDump, WithoutPrintFunctionWritesStdout) {
  char buf[3] = "hi";
  testing::internal::CaptureStdout();
  x_Dump(buf, 2, nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find(std::string(kHeader) + "\n00000000  68 69 ")) << out;
}

}  // namespace
