// Tests of the directory part of a path: the directory that holds the item a
// path names, for bare names, items of the root and trailing slashes.
#include "runtime/path_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(PathDir, TheDirectoryThatHoldsTheItem) {
  struct Case {
    const char *path;
    const char *dir;
  } cases[] = {
      {"/data/set/file", "/data/set"}, {"rel/file", "rel"}, {"file", "."},
      {"/file", "/"},                  {"/data/dir/", "/data/dir"}, {"", "."},
  };
  for (const Case &c : cases) EXPECT_EQ(c.dir, dir_of(c.path)) << c.path;
}

}  // namespace
