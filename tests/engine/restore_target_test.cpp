// Tests of where a restore may write: stored names that climb out, and new
// names against the destinations of the rename list, at separators only.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "engine/rename_list.h"
#include "engine/restore_target.h"

namespace {

class RestoreTargetTest : public ::testing::Test {
 protected:
  void Destinations(const std::vector<std::string> &dests) {
    FreeRenameList();
    for (const std::string &d : dests) {
      SinglePair *p = static_cast<SinglePair *>(calloc(1, sizeof(SinglePair)));
      p->source = strdup("");
      p->destination = strdup(d.c_str());
      Insert(p);
    }
  }
  void TearDown() override { FreeRenameList(); }
};

TEST_F(RestoreTargetTest, StoredNames) {
  struct Case {
    const char *name;
    bool terminal, safe;
  } cases[] = {
      {"/src/a/", false, true},     {"VOL1:dir/", false, true}, {"/src/../x/", false, false},
      {"/src/..", false, false},    {"VOL1:../x", false, false}, {"./x", false, false},
      {"a.txt", true, true},        {"a:b.txt", true, true},     {"..", true, false},
      {".", true, false},           {"", true, false},           {"sub/a.txt", true, false},
  };
  for (const Case &c : cases) EXPECT_EQ(c.safe, RestoreNameIsSafe(c.name, c.terminal)) << c.name;
}

TEST_F(RestoreTargetTest, NewNamesStayBeneathADestination) {
  struct Case {
    std::vector<std::string> dests;
    const char *name;
    bool within, target;
  } cases[] = {
      {{"/restored/"}, "/restored/src/", true, false},
      {{"/restored/"}, "/restored/", true, true},
      {{"/restored"}, "/restored/", true, true},
      {{"/restored"}, "/restored/src/", true, false},
      // A string prefix is no path prefix: a sibling of the target.
      {{"/restored"}, "/restoredx/", false, false},
      {{"/restored/"}, "/restored/../x/", false, false},
      {{"/t//"}, "/t/src/", true, false},
      {{"/a/", "/b/"}, "/b/x/", true, false},
      {{"/a/"}, "/b/x/", false, false},
      {{"VOL2:"}, "VOL2:dir/", true, false},
      {{"VOL2:"}, "VOL2:", true, true},
      {{"VOL2:r/"}, "VOL2:rx/", false, false},
  };
  for (const Case &c : cases) {
    Destinations(c.dests);
    EXPECT_EQ(c.within, RestoreNameWithinTargets(c.name)) << c.dests[0] << " " << c.name;
    EXPECT_EQ(c.target, RestoreNameIsTarget(c.name)) << c.dests[0] << " " << c.name;
  }
}

}  // namespace
