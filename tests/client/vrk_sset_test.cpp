// Tests of the saveset key entry through a local saveset: round trips per
// header format, the ciphertext in place of the password, bounded reads,
// give-back of a first entry that is not SSET, refusals, and resynchronisation.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_bf.h"
#include "vrk_archive_test_util.h"
#include "vrk_client_fixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using vrktest::TempDir;

class SsetTest : public vrktest::ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    free(spGlobal->sSMS.cpSaveset);
    spGlobal->sSMS.cpSaveset = strdup("SS-2026-0042");
  }
  void TearDown() override {
    vrk_archive_reset();
    ClientTest::TearDown();
  }

  // Writes the entry into a fresh file; the entry's header text comes back.
  int Write(std::string *file) {
    *file = dir_.file("arch");
    vrktest::LocalSaveset ss(*file, true);
    if (!ss.ok()) return -2;
    auto h = vrktest::NewHeader();
    return vrk_write_sset(h.get());
  }
  // Reads the magic and the entry from the file that stays open as the saveset.
  int Read(const std::string &file, std::vector<char> *body, size_t room) {
    saveset_.reset();
    saveset_.reset(new vrktest::LocalSaveset(file, false));
    char magic[VRK_HDR_BUFSIZE] = {0};
    if (vrk_archive_read_full(magic, 6) != 6) return -2;
    memcpy(header_, magic, sizeof(header_));
    body->assign(room, '\x77');
    return vrk_read_sset((int)vrktest::HeaderLength(magic) - 6, header_, body->data(), body->size());
  }
  // Deciphers the entry's body with the saveset name.
  std::string Clear(const std::vector<char> &body, size_t n) {
    std::vector<char> in(body.begin(), body.begin() + (long)n), out(n + 16);
    unsigned long len = 0;
    BOOL init = 0;
    char key[VRK_SSET_PASSWORD_MAX + 1] = {0};
    strncpy(key, spGlobal->sSMS.cpSaveset, VRK_SSET_PASSWORD_MAX);
    EXPECT_EQ(0, vrk_decrypt(out.data(), &len, in.data(), n, VRK_SSET_CIPHER_NID, &init, key));
    return std::string(out.data(), len);
  }
  TempDir dir_;
  char header_[VRK_HDR_BUFSIZE] = {0};
  std::unique_ptr<vrktest::LocalSaveset> saveset_;
};

TEST_F(SsetTest, RoundTripPerFormatConsumesExactlyWhatWasWritten) {
  struct Case {
    _eHdrFmt fmt;
    const char *prefix;  // start of the header text
    size_t size;         // header + name + padding + 155 + padding
  } cases[] = {
      {HDR_VRK, "070206", 126 + 5 + 1 + 155 + 1},
      {HDR_CPIO_NEW, "070701", 110 + 5 + 1 + 155 + 1},
      {HDR_CPIO_ASCII, "070707", 76 + 5 + 155},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.prefix);
    spGlobal->eHdrFmt = c.fmt;
    strcpy(spGlobal->sVRKObject.szEnDecrPassword, "pass word 1");
    std::string file;
    ASSERT_EQ(0, Write(&file));
    std::string raw = vrktest::ReadFile(file);
    // The ciphertext, the entry's body, replaces the clear password.
    const std::string pw(spGlobal->sVRKObject.szEnDecrPassword,
                         sizeof(spGlobal->sVRKObject.szEnDecrPassword));
    size_t bodyAt = raw.size() - 155 - (size_t)vrk_pad(155, strtoul(c.prefix, nullptr, 8));
    EXPECT_EQ(raw.substr(bodyAt, 155) + std::string(pw.size() - 155, '\0'), pw);
    EXPECT_EQ(c.size, raw.size());
    EXPECT_EQ(c.prefix, raw.substr(0, 6));
    EXPECT_EQ(std::string("SSET", 5), raw.substr(vrktest::HeaderLength(raw.c_str()), 5));
    EXPECT_EQ(std::string::npos, raw.find("pass word 1"));

    std::vector<char> body;
    ASSERT_EQ(0, Read(file, &body, 200));
    EXPECT_EQ(std::string("pass word 1") + std::string(155 - 11, '\0'), Clear(body, 155));
    EXPECT_EQ(std::string(45, '\0'), std::string(body.data() + 155, 45));
    char more;
    EXPECT_EQ(0, vrk_archive_read(&more, 1));  // the whole entry was consumed
  }
}

TEST_F(SsetTest, OwnHeaderOfTheEntryIsGolden) {
  spGlobal->eHdrFmt = HDR_VRK;
  std::string file;
  ASSERT_EQ(0, Write(&file));
  EXPECT_EQ("070206" "00000000" "00000000" "00000000" "00000000" "00000000" "00000000" "00000000"
            "00000000" "0000009b" "00000000" "00000000" "00000000" "00000000" "00000005" "00000000",
            vrktest::ReadFile(file).substr(0, 126));
}

TEST_F(SsetTest, SavesetNameIsThePasswordWhenNoneIsSet) {
  spGlobal->eHdrFmt = HDR_VRK;
  std::string file;
  ASSERT_EQ(0, Write(&file));
  std::vector<char> body;
  ASSERT_EQ(0, Read(file, &body, 155));
  EXPECT_EQ(std::string("SS-2026-0042") + std::string(155 - 12, '\0'), Clear(body, 155));
}

TEST_F(SsetTest, LongestPasswordPassesLongerIsRefused) {
  spGlobal->eHdrFmt = HDR_CPIO_NEW;
  std::string pw(155, 'p');
  strcpy(spGlobal->sVRKObject.szEnDecrPassword, pw.c_str());
  std::string file;
  ASSERT_EQ(0, Write(&file));
  std::vector<char> body;
  ASSERT_EQ(0, Read(file, &body, 155));
  EXPECT_EQ(pw, Clear(body, 155));

  strcpy(spGlobal->sVRKObject.szEnDecrPassword, (pw + "q").c_str());
  CaptureStderr();
  EXPECT_EQ(-1, Write(&file));
  std::string err = GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("vrk-2011")) << err;
  EXPECT_EQ("", vrktest::ReadFile(file));
  EXPECT_EQ(1u, spGlobal->sVRKObject.ulNotSaved);
}

TEST_F(SsetTest, FailedWriteIsReported) {
  spGlobal->eHdrFmt = HDR_VRK;
  spGlobal->iLogLevel = 1;
  std::string file = dir_.file("readonly");
  vrktest::WriteFile(file, "");
  vrktest::LocalSaveset ss(file, false);  // opened for reading: every write fails
  auto h = vrktest::NewHeader();
  CaptureStderr();
  EXPECT_EQ(-1, vrk_write_sset(h.get()));
  std::string err = GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("vrk-1031")) << err;
  EXPECT_NE(std::string::npos, err.find("Item processed with failure: [SSET]")) << err;
}

TEST_F(SsetTest, RawArchiveGetsNoEntry) {
  spGlobal->eHdrFmt = HDR_RAW;
  std::string file;
  CaptureStderr();
  EXPECT_EQ(-1, Write(&file));
  EXPECT_NE(std::string::npos, GetCapturedStderr().find("vrk-2011"));
  EXPECT_EQ("", vrktest::ReadFile(file));
}

TEST_F(SsetTest, BodyLargerThanTheCallersBufferIsRefused) {
  spGlobal->eHdrFmt = HDR_VRK;
  std::string file;
  ASSERT_EQ(0, Write(&file));
  std::vector<char> body;
  CaptureStderr();
  EXPECT_EQ(-1, Read(file, &body, 154));
  EXPECT_NE(std::string::npos, GetCapturedStderr().find("vrk-2051"));
  EXPECT_EQ(std::string(154, '\x77'), std::string(body.begin(), body.end()));
}

TEST_F(SsetTest, FirstEntryThatIsNoSsetIsReadAgainAsAnItem) {
  spGlobal->eHdrFmt = HDR_VRK;
  std::string file = dir_.file("arch");
  {
    vrktest::LocalSaveset ss(file, true);
    auto h = vrktest::NewHeader();
    h->c_magic = VRK_MAGIC_OWN;
    h->c_mode = 0100644;
    ASSERT_TRUE(vrktest::WriteItem(h.get(), "SSETX", "data!"));
    ASSERT_TRUE(vrktest::WriteTrailer());
  }
  std::vector<char> body;
  ASSERT_EQ(1, Read(file, &body, 200));
  // The caller holds the magic; header rest and name come again, then the data.
  char rest[VRK_HDR_BUFSIZE] = {0};
  memcpy(rest, header_, 6);
  ASSERT_EQ(120u, vrk_archive_read_full(rest + 6, 120));
  auto h = vrktest::NewHeader();
  char err[VRK_HDR_ERROR_SIZE];
  ASSERT_EQ(0, vrk_get_header(rest, h.get(), err)) << err;
  EXPECT_EQ(6u, h->c_namesize);
  char name[6];
  ASSERT_EQ(6u, vrk_archive_read_full(name, 6));
  EXPECT_STREQ("SSETX", name);
  char pad[4], data[5];
  ASSERT_EQ(0, vrk_pad(132, h->c_magic));
  ASSERT_EQ(5u, vrk_archive_read_full(data, 5));
  EXPECT_EQ("data!", std::string(data, 5));
  ASSERT_EQ(3u, vrk_archive_read_full(pad, 3));
  auto trailer = vrktest::NewHeader();
  std::string none;
  EXPECT_EQ(0, vrktest::ReadItem(trailer.get(), &none));
}

TEST_F(SsetTest, DamagedAndShortEntriesAreRefused) {
  spGlobal->eHdrFmt = HDR_VRK;
  std::string file;
  ASSERT_EQ(0, Write(&file));
  std::string raw = vrktest::ReadFile(file);

  struct Case {
    const char *what;
    std::string data;
    const char *message;
  } cases[] = {
      {"bad digit", raw.substr(0, 30) + "x" + raw.substr(31), "vrk-2051"},
      {"short header", raw.substr(0, 100), "vrk-2052"},
      {"short name", raw.substr(0, 128), "vrk-2052"},
      {"short padding", raw.substr(0, 131), "vrk-1030"},
      {"short body", raw.substr(0, 200), "vrk-1027"},
      {"short last padding", raw.substr(0, raw.size() - 1), "vrk-1030"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string f = dir_.file(std::string("damaged-") + c.what);
    vrktest::WriteFile(f, c.data);
    std::vector<char> body;
    spGlobal->iLogLevel = 1;
    CaptureStderr();
    EXPECT_EQ(-1, Read(f, &body, 200));
    std::string err = GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find(c.message)) << err;
  }
  // A damaged header is followed by a dump of what comes after it.
  std::string f = dir_.file("dump");
  vrktest::WriteFile(f, raw.substr(0, 30) + "x" + raw.substr(31));
  std::vector<char> body;
  CaptureStderr();
  EXPECT_EQ(-1, Read(f, &body, 200));
  EXPECT_NE(std::string::npos, GetCapturedStderr().find("vrk-3054"));
}

TEST_F(SsetTest, ResyncSlidesOneCharacterAtATime) {
  struct Case {
    std::string data;
    int rc;
    const char *magic;
    const char *rest;  // what the next reads give
  } cases[] = {
      {"0070706abc", 0, "070706", "abc"},          // a magic right behind a '0'
      {"xx070716..070707z", 0, "070707", "z"},     // 070716 is no resync stop
      {"00000070701q", 0, "070701", "q"},
      {"070726070106r", 0, "070106", "r"},
      {"07070", -1, "", ""},
      {"", -1, "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.data);
    std::string f = dir_.file("resync");
    vrktest::WriteFile(f, c.data);
    vrktest::LocalSaveset ss(f, false);
    char magic[7] = {0};
    CaptureStderr();
    EXPECT_EQ(c.rc, vrk_resync_archive(magic));
    EXPECT_NE(std::string::npos, GetCapturedStderr().find("vrk-3055"));
    if (c.rc != 0) continue;
    EXPECT_STREQ(c.magic, magic);
    char rest[16] = {0};
    vrk_archive_read_full(rest, sizeof(rest) - 1);
    EXPECT_STREQ(c.rest, rest);
  }
}

}  // namespace
