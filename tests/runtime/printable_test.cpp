// Escaping text for one log line: every control byte as "\xNN" wherever it
// stands in the text, and the cut that never splits an escape.
#include <gtest/gtest.h>

#include <string>

#include "runtime/printable.h"
#include "vrk_test_util.h"

namespace {

// One byte at a time, the rule as it reads: the model the word-wise scan
// must match.
std::string Model(const std::string &in, size_t size, bool keepBreaks) {
  std::string out;
  for (unsigned char c : in) {
    if (c == '\0') break;
    const bool control = (c < 0x20 && c != '\t' && !(keepBreaks && c == '\n')) || c == 0x7f;
    char hex[5];
    snprintf(hex, sizeof hex, "\\x%02x", c);
    const std::string shown = control ? std::string(hex) : std::string(1, (char)c);
    if (out.size() + shown.size() >= size) break;
    out += shown;
  }
  return out;
}

TEST(Printable, EveryControlByteAtEveryPlaceAndEveryCut) {
  std::vector<std::string> texts;
  for (int c : {0x01, 0x09, 0x0a, 0x0d, 0x1b, 0x1f, 0x20, 0x7e, 0x7f, 0x80, 0x9f, 0xff}) {
    for (size_t at = 0; at < 19; ++at) {
      std::string t(19, 'a');
      t[at] = (char)c;
      texts.push_back(t);
    }
  }
  for (unsigned seed = 1; seed < 40; ++seed) {
    std::string t = vrktest::Bytes(64, seed);
    for (char &c : t)
      if (c == '\0') c = 'z';
    texts.push_back(t);
  }
  texts.push_back("\xc3\xa9t\xc3\xa9 /r/small/d0000/f000001.dat");
  for (const std::string &t : texts) {
    for (bool keep : {false, true}) {
      for (size_t size = 1; size <= 4 * t.size() + 2; ++size) {
        std::string out(size, '#');
        vrk_printable(t.c_str(), &out[0], size, keep);
        ASSERT_EQ(Model(t, size, keep), std::string(out.c_str())) << vrk_printable(t) << " size " << size;
      }
    }
    EXPECT_EQ(Model(t, std::string::npos, false), vrk_printable(t));
  }
}

}  // namespace
