// Tests of the restore path join: a table of policies and sources, the
// source's own buffer as result, allocation, and refused over-long joins.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/cm_path_cat.h"

namespace {

TEST(PathCat, PoliciesAsTable) {
  struct Case {
    const char *dest;
    const char *src;
    PATH_CAT_POLICY policy;
    const char *want;
  };
  const Case cases[] = {
      {"/restore", "/a/b", PATH_CAT_POLICY_PLAIN_CAT, "/restore/a/b"},
      {"/restore", "//srv/share/a/b", PATH_CAT_POLICY_PLAIN_CAT, "/restore/a/b"},
      {"/restore", "//srv/share", PATH_CAT_POLICY_PLAIN_CAT, "/restore/share"},
      {"/restore", "//srv", PATH_CAT_POLICY_PLAIN_CAT, "/restoresrv"},
      {"/r/", "C:/x", PATH_CAT_POLICY_SKIP_DRIVE_LETTER, "/r/x"},
      {"/r", "C:/x", PATH_CAT_POLICY_SKIP_DRIVE_LETTER, "/r/x"},
      {"/r/", "/no/drive", PATH_CAT_POLICY_SKIP_DRIVE_LETTER, "/r//no/drive"},
      {"/r/", "C:/dir", PATH_CAT_POLICY_TREAT_DRIVE_AS_DIR, "/r/C\\dir"},
      {"/r/", "C:", PATH_CAT_POLICY_TREAT_DRIVE_AS_DIR, "/r/C\\"},
      {"", "rel", PATH_CAT_POLICY_PLAIN_CAT, "rel"},
  };
  for (const Case &c : cases) {
    char dest[64], src[64];
    snprintf(dest, sizeof(dest), "%s", c.dest);
    snprintf(src, sizeof(src), "%s", c.src);
    EXPECT_EQ(PATH_CAT_ERROR_OK, PathCatSpecial(dest, src, nullptr, c.policy)) << c.src;
    EXPECT_STREQ(c.want, dest) << c.dest << " + " << c.src;
  }
}

TEST(PathCat, ResultIntoTheSourceBuffer) {
  // The relocation code's call: the file name is both source and result.
  char dest[] = "/restore";
  char name[PATH_CAT_BUFFER_SIZE] = "//srv/vol/data/file.txt";
  char *result = name;
  EXPECT_EQ(PATH_CAT_ERROR_OK, PathCatSpecial(dest, name, &result, PATH_CAT_POLICY_PLAIN_CAT));
  EXPECT_STREQ("/restore/data/file.txt", name);
  EXPECT_STREQ("/restore", dest);

  char name2[PATH_CAT_BUFFER_SIZE] = "/a/b";
  result = name2;
  EXPECT_EQ(PATH_CAT_ERROR_OK, PathCatSpecial(dest, name2, &result, PATH_CAT_POLICY_NORMALIZE_SLASHES));
  EXPECT_STREQ("\\restore\\a\\b", name2);
}

TEST(PathCat, AllocatesWhenAsked) {
  char dest[] = "/r";
  char src[] = "C:/x/y";
  char *result = src;
  EXPECT_EQ(PATH_CAT_ERROR_OK,
            PathCatSpecial(dest, src, &result, PATH_CAT_POLICY_ALLOC_OUT_BUF | PATH_CAT_POLICY_SKIP_DRIVE_LETTER));
  ASSERT_NE(src, result);
  EXPECT_STREQ("/r/x/y", result);
  free(result);

  char *none = nullptr;
  EXPECT_EQ(PATH_CAT_ERROR_INCORRECT_ARGS, PathCatSpecial(dest, src, &none, PATH_CAT_POLICY_ALLOC_OUT_BUF));
  EXPECT_EQ(PATH_CAT_ERROR_INCORRECT_ARGS, PathCatSpecial(dest, src, nullptr, PATH_CAT_POLICY_ALLOC_OUT_BUF));
  EXPECT_EQ(PATH_CAT_ERROR_INCORRECT_ARGS, PathCatSpecial(nullptr, src, nullptr, 0));
  EXPECT_EQ(PATH_CAT_ERROR_INCORRECT_ARGS, PathCatSpecial(dest, nullptr, nullptr, 0));
}

TEST(PathCat, RefusesJoinsThatDoNotFit) {
  char dest[16] = "/restore";
  char src[32] = "/a/b/c/d";  // 8 + 8 = 16 characters: one too many for 16 bytes
  EXPECT_EQ(PATH_CAT_ERROR_INCORRECT_ARGS, PathCatSpecialEx(dest, sizeof(dest), src, nullptr, 0, 0));
  EXPECT_STREQ("/restore", dest);
  src[7] = '\0';  // 15 characters fit
  EXPECT_EQ(PATH_CAT_ERROR_OK, PathCatSpecialEx(dest, sizeof(dest), src, nullptr, 0, 0));
  EXPECT_STREQ("/restore/a/b/c/", dest);

  char name[12] = "/file.name";
  char *result = name;
  char root[] = "/restore";
  EXPECT_EQ(PATH_CAT_ERROR_INCORRECT_ARGS, PathCatSpecialEx(root, sizeof(root), name, &result, sizeof(name), 0));
  EXPECT_STREQ("/file.name", name);

  // The fixed-size entry point assumes the runtime's 4096-byte path buffers.
  std::string longDest(4000, 'd');
  std::string longSrc = "/" + std::string(200, 's');
  std::vector<char> big(PATH_CAT_BUFFER_SIZE + 512, '\0');
  memcpy(big.data(), longDest.c_str(), longDest.size() + 1);
  EXPECT_EQ(PATH_CAT_ERROR_INCORRECT_ARGS, PathCatSpecial(big.data(), &longSrc[0], nullptr, 0));
  EXPECT_EQ(longDest, std::string(big.data()));
}

}  // namespace
