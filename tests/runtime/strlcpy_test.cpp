// Tests of strlcpy and strlcat: cut text is terminated and detectable.
#include <gtest/gtest.h>

#include "runtime/strlib.h"

TEST(Strlcpy, CopiesAndReportsSourceLength) {
  char buf[5];
  EXPECT_EQ(3u, strlcpy(buf, "abc", sizeof(buf)));
  EXPECT_STREQ("abc", buf);
  EXPECT_EQ(7u, strlcpy(buf, "abcdefg", sizeof(buf)));
  EXPECT_STREQ("abcd", buf);
  buf[0] = 'z';
  EXPECT_EQ(3u, strlcpy(buf, "abc", 0));
  EXPECT_EQ('z', buf[0]);
}

TEST(Strlcat, AppendsWithinBound) {
  char buf[8] = "ab";
  EXPECT_EQ(5u, strlcat(buf, "cde", sizeof(buf)));
  EXPECT_STREQ("abcde", buf);
  EXPECT_EQ(9u, strlcat(buf, "fghi", sizeof(buf)));
  EXPECT_STREQ("abcdefg", buf);
  char full[3] = {'x', 'y', 'z'};  // no terminator within the bound
  EXPECT_EQ(5u, strlcat(full, "ab", sizeof(full)));
  EXPECT_EQ('z', full[2]);
}
