// Tests of vrk_shown_name: names shown whole or cut in the middle, escaped.
#include <gtest/gtest.h>

#include <string>

#include "runtime/shown_name.h"

namespace {

struct Case {
  const char *what;
  std::string name, shown;
};

TEST(ShownName, IsEscapedAndCutInItsMiddleWithItsLength) {
  const std::string deep = "/t/" + std::string(300, 'a') + "/" + std::string(300, 'z') + "/";
  // A two-byte character across the place of the first cut and one across the last.
  const std::string wide = std::string(95, 'h') + "\xc3\xa9" + std::string(200, 'm') + "\xc3\xa9" +
                           std::string(47, 't');
  const Case cases[] = {
      {"short", "/t/a b", "/t/a b"},
      {"control characters", "/t/x\n\x1b[2J", "/t/x\\x0a\\x1b[2J"},
      {"exactly the limit", std::string(160, 'p'), std::string(160, 'p')},
      {"deep", deep, "/t/" + std::string(93, 'a') + "..." + std::string(47, 'z') + "/ (605 bytes)"},
      {"wide characters", wide, std::string(95, 'h') + "..." + std::string(47, 't') + " (346 bytes)"},
  };
  for (const Case &c : cases) EXPECT_EQ(c.shown, vrk_shown_name(c.name)) << c.what;
}

}  // namespace
