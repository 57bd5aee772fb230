// Tests of the account and path utilities: exact user lookups, digit and
// character tests, virtual-disk paths, restore-path building and renaming,
// and the password wrapper.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <string>

#include "client/vrk_util.h"
#include "runtime/vrk_crypt.h"
#include "vrk_client_fixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using vrktest::TempDir;

int Uid(const char *name) {
  std::string s = name;
  return iGetUserId(&s[0]);
}
int Gid(const char *name) {
  std::string s = name;
  return iGetGroupId(&s[0]);
}

TEST(AccountTest, ExactUserNameOrMinusOne) {
  EXPECT_EQ(0, Uid("root"));
  EXPECT_EQ(0, Gid("root"));
  struct passwd *nobody = getpwnam("nobody");
  ASSERT_NE(nullptr, nobody);
  EXPECT_EQ((int)nobody->pw_uid, Uid("nobody"));
  EXPECT_EQ((int)nobody->pw_gid, Gid("nobody"));
  // "body" only ends another user's name: no such user, and never uid 0.
  for (const char *name : {"body", "obody", "nobody:x", "root:x:0", "", "ROOT", "roo", " root"}) {
    EXPECT_EQ(-1, Uid(name)) << name;
    EXPECT_EQ(-1, Gid(name)) << name;
  }
  EXPECT_EQ(-1, iGetUserId(nullptr));
  EXPECT_EQ(-1, iGetGroupId(nullptr));
}

TEST(AccountTest, PrimaryGroupDiffersFromUserId) {
  struct passwd *pw = nullptr;
  setpwent();
  while ((pw = getpwent()) != nullptr && pw->pw_uid == pw->pw_gid) {
  }
  if (pw == nullptr) {
    endpwent();
    GTEST_SKIP() << "every user's group id equals its user id";
  }
  std::string name = pw->pw_name;
  int uid = (int)pw->pw_uid, gid = (int)pw->pw_gid;
  endpwent();
  EXPECT_EQ(uid, Uid(name.c_str()));
  EXPECT_EQ(gid, Gid(name.c_str()));
}

TEST(TextTest, DigitsCountsAndVmdkPaths) {
  struct {
    const char *text;
    int digits;
  } digitCases[] = {{"", 0}, {"0123456789", 0}, {"12a", -1}, {" 1", -1}, {"-1", -1}, {"1.0", -1}};
  for (auto &c : digitCases) {
    std::string s = c.text;
    EXPECT_EQ(c.digits, vrk_isdigit(&s[0])) << c.text;
  }
  EXPECT_EQ(-1, vrk_isdigit(nullptr));

  char line[] = "a/b/c//d";
  EXPECT_EQ(4, vrk_count(line, '/'));
  EXPECT_EQ(0, vrk_count(line, 'x'));
  EXPECT_EQ(-1, vrk_count(nullptr, '/'));

  struct {
    const char *path;
    int at;  // offset of the result, -1 = NULL
  } vmdk[] = {
      {"[ds1] vm/disk.vmdk", 0},
      {"/vmfs/[ds1] vm/disk.vmdk", 6},
      {"[a] [b] x.vmdk", 4},
      {"x] y.vmdk", -1},
      {"vm/disk.vmdk", -1},
      {"[ds] vm/disk.vmdk.bak", -1},
      {"[ds] x.VMDK", -1},
      {".vmdk", -1},
      {"]", -1},
      {"", -1},
  };
  for (auto &c : vmdk) {
    std::string s = c.path;
    char *r = check_prepare_vmdk_path(&s[0]);
    if (c.at < 0)
      EXPECT_EQ(nullptr, r) << c.path;
    else
      EXPECT_EQ(&s[0] + c.at, r) << c.path;
  }
  EXPECT_EQ(nullptr, check_prepare_vmdk_path(nullptr));
}

class UpdatePathTest : public vrktest::ClientTest {
 protected:
  std::string Update(const std::string &in, int rcWanted = 0) {
    char buf[VRK_PATH_MAX];
    strncpy(buf, in.c_str(), sizeof(buf) - 1);
    buf[sizeof(buf) - 1] = '\0';
    EXPECT_EQ(rcWanted, vrk_update_path(buf)) << in;
    return buf;
  }
};

TEST_F(UpdatePathTest, TargetAndPlainRules) {
  struct {
    int plain;
    const char *target, *in, *out;
  } cases[] = {
      {0, "/restore", "/a/b/c.txt", "/restore/a/b/c.txt"},
      {0, "/restore/", "/a/b", "/restore/a/b"},
      {0, "/", "/a/b", "/a/b"},
      {0, "", "/a/b", "/a/b"},
      {0, "rel", "a/b", "rel/a/b"},
      {1, "/restore", "/a/b/c.txt", "/restore/c.txt"},
      {1, "/", "/a/b/c.txt", "/c.txt"},
      {1, "/t", "name", "/t/name"},
      {2, "/", "/a/b", "a/b"},
      {2, "/t", "/a/b", "/t/a/b"},
  };
  for (auto &c : cases) {
    spGlobal->sOptions.iPlain = c.plain;
    strcpy(spGlobal->szTargetPath[0], c.target);
    EXPECT_EQ(c.out, Update(c.in)) << c.plain << " " << c.target << " " << c.in;
  }
  EXPECT_EQ(-1, vrk_update_path(nullptr));
}

TEST_F(UpdatePathTest, RenameChoosesTheFirstFreeName) {
  TempDir t;
  strcpy(spGlobal->szTargetPath[0], t.path().c_str());
  spGlobal->sOptions.iRename = 1;
  EXPECT_EQ(t.file("x"), Update("/x"));  // nothing there: unchanged
  for (const char *f : {"x", "~1x", "~2x"}) vrktest::WriteFile(t.file(f), "");
  EXPECT_EQ(t.file("~3x"), Update("/x"));
  // Not a regular file: the name stays.
  ASSERT_EQ(0, mkdir(t.file("d").c_str(), 0755));
  EXPECT_EQ(t.file("d"), Update("/d"));
  // A symbolic link, even a dangling one, is no free name.
  vrktest::WriteFile(t.file("y"), "");
  ASSERT_EQ(0, symlink("nowhere", t.file("~1y").c_str()));
  EXPECT_EQ(t.file("~2y"), Update("/y"));
  // Renaming off: the existing file's name is used.
  spGlobal->sOptions.iRename = 0;
  EXPECT_EQ(t.file("x"), Update("/x"));
}

TEST_F(UpdatePathTest, TooLongResultIsRefusedAndTheInputKept) {
  std::string target(4000, 't');
  strcpy(spGlobal->szTargetPath[0], ("/" + target).c_str());
  std::string in = "/" + std::string(200, 'n');
  char buf[VRK_PATH_MAX];
  strcpy(buf, in.c_str());
  EXPECT_EQ(-1, vrk_update_path(buf));
  EXPECT_EQ(in, buf);
  // Exactly 4095 characters fit.
  std::string fits = "/" + std::string(4095 - 4001 - 1, 'n');
  strcpy(buf, fits.c_str());
  EXPECT_EQ(0, vrk_update_path(buf));
  EXPECT_EQ(4095u, strlen(buf));
}

class DecryptPasswdTest : public vrktest::ClientTest {
 protected:
  // The enciphered text for the passphrase of prefix character and saveset.
  std::string Encipher(const char *clear, const std::string &phrase) {
    char out[600] = {0};
    std::string c = clear, p = phrase;
    EXPECT_EQ(0, vrk_encrypt_password(out, &c[0], 0, &p[0]));
    return std::string("{") + out + "}";
  }
  BOOL Decrypt(char *buf, const char *saveset, const char *prefix, std::string *err) {
    std::string s = saveset, p = prefix;
    CaptureStderr();
    BOOL rc = decrypt_passwd(buf, &s[0], &p[0]);
    *err = GetCapturedStderr();
    return rc;
  }
};

TEST_F(DecryptPasswdTest, DeciphersInPlaceWithPrefixAndSaveset) {
  for (const char *clear : {"a", "Secret12", "0123456789012345678901234567890"}) {
    char buf[VRK_DECRYPT_PASSWD_BUFSIZE];
    memset(buf, 'J', sizeof(buf));
    std::string text = Encipher(clear, "Ksaveset-7");
    ASSERT_LT(text.size(), sizeof(buf));
    strcpy(buf, text.c_str());
    std::string err;
    ASSERT_EQ(TRUE, Decrypt(buf, "saveset-7", "Kxyz", &err)) << clear;
    EXPECT_STREQ(clear, buf);
    EXPECT_EQ(std::string(sizeof(buf) - strlen(clear), '\0'), std::string(buf + strlen(clear), sizeof(buf) - strlen(clear)));
    EXPECT_NE(std::string::npos, err.find("Decrypting password..."));
  }
  // Without braces too.
  char buf[VRK_DECRYPT_PASSWD_BUFSIZE] = {0};
  std::string text = Encipher("abc", "Ksaveset-7");
  strcpy(buf, text.substr(1, text.size() - 2).c_str());
  std::string err;
  EXPECT_EQ(TRUE, Decrypt(buf, "saveset-7", "K", &err));
  EXPECT_STREQ("abc", buf);
}

TEST_F(DecryptPasswdTest, WrongKeyOrDamagedTextLeavesThePasswordAlone) {
  std::string text = Encipher("Secret12", "Ksaveset-7");
  struct {
    std::string in;
    const char *saveset, *prefix;
  } cases[] = {
      {text, "saveset-8", "K"},
      {text, "saveset-7", "L"},
      {text.substr(0, 20) + "zz" + text.substr(22), "saveset-7", "K"},
      {"{}", "saveset-7", "K"},
      {"", "saveset-7", "K"},
  };
  for (auto &c : cases) {
    char buf[VRK_DECRYPT_PASSWD_BUFSIZE] = {0};
    strcpy(buf, c.in.c_str());
    std::string err;
    EXPECT_EQ(FALSE, Decrypt(buf, c.saveset, c.prefix, &err)) << c.in;
    EXPECT_EQ(c.in, std::string(buf));
    EXPECT_TRUE(err.find("vrk-1151") != std::string::npos || err.find("vrk-1149") != std::string::npos) << err;
  }
}

}  // namespace
