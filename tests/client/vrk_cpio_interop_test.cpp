// GNU cpio against the archive headers: it extracts archives written in odc
// and newc through the data gate, and its own archives are read back here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "vrk_archive_test_util.h"
#include "vrk_client_fixture.h"
#include "vrk_crypto_tools.h"

namespace {

using vrktest::TempDir;

struct Fixture {
  const char *name;
  mode_t mode;  // 0 = directory with mode 0750
  std::string data;
};

std::string Bytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (char)((i * 131 + 7) & 0xff);
  return s;
}

const time_t kMtime = 1500000000;

// Directories first, then files of sizes that exercise every padding.
std::vector<Fixture> Fixtures() {
  return {{"d", 0, ""},
          {"d/sub", 0, ""},
          {"a.txt", 0640, "hello"},
          {"d/b.bin", 0600, Bytes(1001)},
          {"d/sub/c", 0644, Bytes(4096)},
          {"empty", 0604, ""},
          {"name with blanks", 0644, Bytes(3)}};
}

void MakeTree(const std::string &root) {
  for (const Fixture &f : Fixtures()) {
    std::string p = root + "/" + f.name;
    if (f.mode == 0) {
      ASSERT_EQ(0, mkdir(p.c_str(), 0750));
    } else {
      vrktest::WriteFile(p, f.data);
      ASSERT_EQ(0, chmod(p.c_str(), f.mode));
    }
  }
  // Modification times last: files made in a directory change its time.
  for (const Fixture &f : Fixtures()) {
    struct timespec t[2] = {{kMtime, 0}, {kMtime, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, (root + "/" + f.name).c_str(), t, AT_SYMLINK_NOFOLLOW));
  }
}

class CpioInteropTest : public vrktest::ClientTest {};

TEST_F(CpioInteropTest, GnuCpioExtractsOdcAndNewcArchives) {
  for (_eHdrFmt fmt : {HDR_CPIO_ASCII, HDR_CPIO_NEW}) {
    SCOPED_TRACE(fmt);
    TempDir t;
    std::string src = t.file("src"), out = t.file("out"), arch = t.file("arch.cpio");
    ASSERT_EQ(0, mkdir(src.c_str(), 0755));
    ASSERT_EQ(0, mkdir(out.c_str(), 0755));
    MakeTree(src);
    spGlobal->eHdrFmt = fmt;
    {
      vrktest::LocalSaveset ss(arch, true);
      ASSERT_TRUE(ss.ok());
      for (const Fixture &f : Fixtures()) {
        auto h = vrktest::NewHeader();
        ASSERT_TRUE(vrktest::HeaderFromFile(src + "/" + f.name, h.get()));
        h->c_nlink = 1;  // no hard links among the fixtures
        h->c_ino_low &= 0xFFFF;
        ASSERT_TRUE(vrktest::WriteItem(h.get(), f.name, f.data));
      }
      ASSERT_TRUE(vrktest::WriteTrailer());
    }
    std::string cmd = "cd '" + out + "' && cpio -idm --quiet < '" + arch + "' 2>'" + t.file("err") + "'";
    ASSERT_EQ(0, vrktest::RunCommand(cmd)) << vrktest::ReadFile(t.file("err"));
    EXPECT_EQ("", vrktest::ReadFile(t.file("err")));
    for (const Fixture &f : Fixtures()) {
      SCOPED_TRACE(f.name);
      std::string p = out + "/" + f.name;
      struct stat st;
      ASSERT_EQ(0, lstat(p.c_str(), &st));
      if (f.mode == 0) {
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(0750u, st.st_mode & 07777);
      } else {
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(f.mode, st.st_mode & 07777);
        EXPECT_EQ(f.data, vrktest::ReadFile(p));
        EXPECT_EQ(kMtime, st.st_mtime);
      }
    }
  }
}

TEST_F(CpioInteropTest, ArchivesOfGnuCpioAreReadBack) {
  for (const char *format : {"odc", "newc"}) {
    SCOPED_TRACE(format);
    TempDir t;
    std::string src = t.file("src"), arch = t.file("gnu.cpio");
    ASSERT_EQ(0, mkdir(src.c_str(), 0755));
    MakeTree(src);
    std::string list;
    for (const Fixture &f : Fixtures()) list += std::string(f.name) + "\n";
    vrktest::WriteFile(t.file("list"), list);
    std::string cmd = "cd '" + src + "' && cpio -o --quiet -H " + format + " < '" + t.file("list") +
                      "' > '" + arch + "'";
    ASSERT_EQ(0, vrktest::RunCommand(cmd));

    std::map<std::string, std::string> seen;
    vrktest::LocalSaveset ss(arch, false);
    ASSERT_TRUE(ss.ok());
    for (;;) {
      auto h = vrktest::NewHeader();
      std::string data;
      int rc = vrktest::ReadItem(h.get(), &data);
      ASSERT_GE(rc, 0) << "damaged entry after " << seen.size() << " items";
      if (rc == 0) break;
      EXPECT_EQ(std::string(format) == "odc" ? (uint32_t)VRK_MAGIC_ODC : (uint32_t)VRK_MAGIC_NEWC, h->c_magic);
      struct stat st;
      std::string path = src + "/" + h->c_name;
      ASSERT_EQ(0, lstat(path.c_str(), &st)) << h->c_name;
      EXPECT_EQ((uint32_t)st.st_mode, h->c_mode) << h->c_name;
      EXPECT_EQ((uint32_t)st.st_uid, h->c_uid);
      EXPECT_EQ((uint32_t)st.st_gid, h->c_gid);
      EXPECT_EQ((uint32_t)kMtime, h->c_mtime);
      EXPECT_EQ(0u, h->c_filesize_high);
      seen[h->c_name] = data;
    }
    EXPECT_EQ(0, vrk_bsa_read(nullptr, 0, 1));
    ASSERT_EQ(Fixtures().size(), seen.size());
    for (const Fixture &f : Fixtures()) EXPECT_EQ(f.data, seen[f.name]) << f.name;
  }
}

}  // namespace
