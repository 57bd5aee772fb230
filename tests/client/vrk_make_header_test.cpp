// Tests of the item-header codecs: golden texts per layout, every damaged
// digit refused, sizes beyond 32 bits, the magic table and its one value.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>

#include "client/vrk_global.h"
#include "client/vrk_make_header.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const std::string kOwnGolden =
    "070706" "00000001" "00002345" "000081a4" "000003e8" "00000064" "00000001" "5f5e1000"
    "00000000" "00001234" "00000008" "00000001" "00000000" "00000000" "00000006" "abcdef01";
const std::string kOdcGolden =
    "070707" "004001" "021505" "100644" "001750" "000144" "000001" "000000" "13727410000"
    "000006" "00000011064";
const std::string kNewcGolden =
    "070701" "00002345" "000081a4" "000003e8" "00000064" "00000001" "5f5e1000" "00001234"
    "00000008" "00000001" "00000000" "00000000" "00000006" "abcdef01";
const std::string kEaGolden =
    "070716" "00000001" "00002345" "000081a4" "000003e8" "00000064" "00000001" "5f5e1000"
    "00000000" "00001234" "                        user.acl" "00000006" "abcdef01";

std::unique_ptr<s_vrk_cpio_header> Sample() {
  std::unique_ptr<s_vrk_cpio_header> h(new s_vrk_cpio_header());
  h->c_magic = VRK_MAGIC_OWN;
  h->c_ino_high = 1;
  h->c_ino_low = 0x2345;
  h->c_mode = 0100644;
  h->c_uid = 1000;
  h->c_gid = 100;
  h->c_nlink = 1;
  h->c_mtime = 1600000000;
  h->c_ctime = 77;
  h->c_filesize_low = 0x1234;
  h->c_dev_maj = 8;
  h->c_dev_min = 1;
  h->c_namesize = 6;
  h->c_chksum = 0xabcdef01;
  strcpy(h->c_name, "a/b.c");
  return h;
}

class HeaderTest : public testing::Test {
 protected:
  void SetUp() override { vrktest::ResetGlobal(); }
  void TearDown() override { vrktest::ResetGlobal(); }

  int Make(_eHdrFmt fmt, s_vrk_cpio_header *h, std::string *out) {
    spGlobal->eHdrFmt = fmt;
    char buf[VRK_HDR_BUFSIZE];
    memset(buf, 'Q', sizeof(buf));
    error_.assign(VRK_HDR_ERROR_SIZE, '\0');
    len_ = -7;
    int n = vrk_make_header(h, buf, &len_, &error_[0]);
    error_.resize(strlen(error_.c_str()));
    if (n >= 0) *out = std::string(buf, strlen(buf));
    return n;
  }
  int Parse(const std::string &text, s_vrk_cpio_header *h) {
    error_.assign(VRK_HDR_ERROR_SIZE, '\0');
    int rc = vrk_get_header(text.c_str(), h, &error_[0]);
    error_.resize(strlen(error_.c_str()));
    return rc;
  }
  std::string error_;
  int len_ = 0;
};

struct GoldenCase {
  _eHdrFmt fmt;
  const std::string *golden;
  bool hasInoHigh, hasChksum;
};

TEST_F(HeaderTest, WritesAndReadsGoldenHeaderOfEachFormat) {
  const GoldenCase cases[] = {
      {HDR_VRK, &kOwnGolden, true, true},
      {HDR_CPIO_ASCII, &kOdcGolden, false, false},
      {HDR_CPIO_NEW, &kNewcGolden, false, true},
  };
  for (const GoldenCase &c : cases) {
    SCOPED_TRACE(*c.golden);
    auto h = Sample();
    std::string text;
    ASSERT_EQ((int)c.golden->size(), Make(c.fmt, h.get(), &text)) << error_;
    EXPECT_EQ(*c.golden, text);
    EXPECT_EQ((int)c.golden->size() + 1, len_);

    // Read back the golden text, also with upper-case hex digits.
    std::string upper = *c.golden;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    for (const std::string &in : {*c.golden, upper}) {
      auto back = Sample();
      back->c_ctime = 99;
      ASSERT_EQ(0, Parse(in, back.get())) << error_;
      auto want = Sample();
      EXPECT_EQ(c.fmt == HDR_VRK ? VRK_MAGIC_OWN : c.fmt == HDR_CPIO_NEW ? VRK_MAGIC_NEWC : VRK_MAGIC_ODC,
                back->c_magic);
      EXPECT_EQ(c.hasInoHigh ? want->c_ino_high : 0u, back->c_ino_high);
      EXPECT_EQ(want->c_ino_low, back->c_ino_low);
      EXPECT_EQ(want->c_mode, back->c_mode);
      EXPECT_EQ(want->c_uid, back->c_uid);
      EXPECT_EQ(want->c_gid, back->c_gid);
      EXPECT_EQ(want->c_nlink, back->c_nlink);
      EXPECT_EQ(want->c_mtime, back->c_mtime);
      EXPECT_EQ(0u, back->c_ctime);
      EXPECT_EQ(0u, back->c_filesize_high);
      EXPECT_EQ(want->c_filesize_low, back->c_filesize_low);
      EXPECT_EQ(8, back->c_dev_maj);
      EXPECT_EQ(1, back->c_dev_min);
      EXPECT_EQ(0, back->c_rdev_maj);
      EXPECT_EQ(0, back->c_rdev_min);
      EXPECT_EQ(6u, back->c_namesize);
      EXPECT_EQ(c.hasChksum ? want->c_chksum : 0u, back->c_chksum);
      EXPECT_EQ('\0', back->c_name[0]);
    }
  }
}

TEST_F(HeaderTest, OwnHeaderKeepsEveryFieldWholeIncludingNegativeDevices) {
  auto h = Sample();
  h->c_magic = VRK_MAGIC_OWN_ENC_13;
  h->c_ino_high = 0xffffffff;
  h->c_filesize_high = 0x12;
  h->c_dev_maj = -1;
  h->c_rdev_min = -2;
  h->c_uid = 0xfffffffe;
  std::string text;
  ASSERT_EQ(VRK_HDR_OWN_LEN, Make(HDR_VRK, h.get(), &text));
  auto back = Sample();
  ASSERT_EQ(0, Parse(text, back.get())) << error_;
  EXPECT_EQ((uint32_t)VRK_MAGIC_OWN_ENC_13, back->c_magic);
  EXPECT_EQ(0xffffffffu, back->c_ino_high);
  EXPECT_EQ(0x12u, back->c_filesize_high);
  EXPECT_EQ(-1, back->c_dev_maj);
  EXPECT_EQ(-2, back->c_rdev_min);
  EXPECT_EQ(0xfffffffeu, back->c_uid);
}

TEST_F(HeaderTest, EveryDamagedOrMissingCharacterIsRefused) {
  for (const std::string *golden : {&kOwnGolden, &kOdcGolden, &kNewcGolden}) {
    for (size_t i = 0; i < golden->size(); ++i) {
      for (char bad : {'g', 'G', ' ', '+', '-', 'x', '\n'}) {
        std::string text = *golden;
        text[i] = bad;
        auto h = Sample();
        EXPECT_EQ(-1, Parse(text, h.get())) << text;
        EXPECT_FALSE(error_.empty());
      }
      // An odc field or any magic digit takes no 8 or 9.
      if (golden == &kOdcGolden || i < 6) {
        std::string text = *golden;
        text[i] = '8';
        auto h = Sample();
        EXPECT_EQ(-1, Parse(text, h.get())) << text;
      }
      // A header cut short ends in its terminating zero.
      auto h = Sample();
      EXPECT_EQ(-1, Parse(golden->substr(0, i), h.get())) << i;
    }
  }
}

TEST_F(HeaderTest, FieldCountAndMagicTexts) {
  auto h = Sample();
  std::string text = kOwnGolden;
  text[22] = 'z';  // c_mode, the fourth field
  EXPECT_EQ(-1, Parse(text, h.get()));
  EXPECT_EQ("sscanf():invalid number of header fields:[3][16]", error_);
  EXPECT_EQ(0u, h->c_ino_low);  // nothing half-parsed stays behind

  EXPECT_EQ(-1, Parse("123456" + kOwnGolden.substr(6), h.get()));
  EXPECT_EQ("invalid magic number [123456]", error_);
  for (const char *magic : {"070716", "070116", "070216", "070316", "070702"}) {
    EXPECT_EQ(-1, Parse(magic + kOwnGolden.substr(6), h.get()));
    EXPECT_EQ(std::string("invalid magic number [") + magic + "]", error_);
  }
  EXPECT_EQ(-1, Parse(std::string("07\x01" "706") + kOwnGolden.substr(6), h.get()));
  EXPECT_EQ("invalid magic number [07?706]", error_);
  for (const char *magic : {"070726", "070106", "070206", "070306", "071206", "071306"})
    EXPECT_EQ(0, Parse(magic + kOwnGolden.substr(6), h.get())) << magic;
}

TEST_F(HeaderTest, OdcCarriesSizesBeyond4GiBWholeAndRefusesWhatDoesNotFit) {
  auto h = Sample();
  h->c_filesize_high = 1;
  h->c_filesize_low = 0x40000007;  // 5 GiB + 7
  std::string text;
  ASSERT_EQ(VRK_HDR_ODC_LEN, Make(HDR_CPIO_ASCII, h.get(), &text)) << error_;
  EXPECT_EQ("50000000007", text.substr(65));
  auto back = Sample();
  ASSERT_EQ(0, Parse(text, back.get()));
  EXPECT_EQ(1u, back->c_filesize_high);
  EXPECT_EQ(0x40000007u, back->c_filesize_low);

  h->c_filesize_high = 2;  // 8 GiB and more: eleven octal digits are too few
  h->c_filesize_low = 0;
  EXPECT_EQ(-1, Make(HDR_CPIO_ASCII, h.get(), &text));
  EXPECT_NE(std::string::npos, error_.find("a/b.c")) << error_;

  h->c_filesize_high = 1;  // newc holds 32 bits only
  EXPECT_EQ(-1, Make(HDR_CPIO_NEW, h.get(), &text));
  EXPECT_NE(std::string::npos, error_.find("too large")) << error_;
}

TEST_F(HeaderTest, OdcInodeAbove16BitsIsWarnedAndCut) {
  auto h = Sample();
  h->c_ino_low = 0x12345;
  std::string text;
  CaptureStderr();
  ASSERT_EQ(VRK_HDR_ODC_LEN, Make(HDR_CPIO_ASCII, h.get(), &text));
  std::string err = GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("vrk-2019: Warning:  [a/b.c] truncating inode number")) << err;
  EXPECT_EQ("021505", text.substr(12, 6));
}

TEST_F(HeaderTest, WrittenMagicIsTheOneThatPadsAndReadsBack) {
  // A record carrying another magic gets the format's own one, in the text
  // and in the record, so that padding follows what was written.
  auto h = Sample();
  h->c_magic = VRK_MAGIC_OWN_ENC_2;
  std::string text;
  ASSERT_EQ(VRK_HDR_ODC_LEN, Make(HDR_CPIO_ASCII, h.get(), &text));
  EXPECT_EQ("070707", text.substr(0, 6));
  EXPECT_EQ((uint32_t)VRK_MAGIC_ODC, h->c_magic);
  EXPECT_EQ(0, vrk_pad(VRK_HDR_ODC_LEN + 5, h->c_magic));

  h->c_magic = VRK_MAGIC_OWN_ENC_2;
  ASSERT_EQ(VRK_HDR_NEWC_LEN, Make(HDR_CPIO_NEW, h.get(), &text));
  EXPECT_EQ("070701", text.substr(0, 6));
  EXPECT_EQ((uint32_t)VRK_MAGIC_NEWC, h->c_magic);
  auto back = Sample();
  ASSERT_EQ(0, Parse(text, back.get()));
  EXPECT_EQ(h->c_magic, back->c_magic);
  EXPECT_EQ(1, vrk_pad(VRK_HDR_NEWC_LEN + 5, back->c_magic));

  // The own writer takes only the own magics.
  for (uint32_t magic : {(uint32_t)VRK_MAGIC_ODC, (uint32_t)VRK_MAGIC_NEWC, (uint32_t)VRK_MAGIC_EA_ACL, 0u}) {
    h->c_magic = magic;
    EXPECT_EQ(-1, Make(HDR_VRK, h.get(), &text)) << magic;
    EXPECT_NE(std::string::npos, error_.find("invalid magic number")) << error_;
  }
}

TEST_F(HeaderTest, RawAndUnknownFormats) {
  auto h = Sample();
  std::string text = "x";
  EXPECT_EQ(0, Make(HDR_RAW, h.get(), &text));
  EXPECT_EQ(0, len_);
  for (_eHdrFmt fmt : {HDR_UNKNOWN, HDR_MTF}) {
    CaptureStderr();
    EXPECT_EQ(-1, Make(fmt, h.get(), &text));
    EXPECT_NE(std::string::npos,
              GetCapturedStderr().find("vrk-2020: Warning:  vrk_make_header() internal error. Unknown hdr format."));
  }
}

TEST_F(HeaderTest, ExtendedAttributeHeaderRoundTrip) {
  spGlobal->eHdrFmt = HDR_VRK;
  auto h = Sample();
  char buf[VRK_HDR_BUFSIZE];
  int len = 0;
  char key[] = "user.acl";
  ASSERT_EQ(VRK_HDR_EA_ACL_LEN, vrk_mk_ea_acl_hdr(h.get(), buf, &len, key));
  EXPECT_EQ(kEaGolden, std::string(buf));
  EXPECT_EQ(VRK_HDR_EA_ACL_LEN + 1, len);
  EXPECT_EQ((uint32_t)VRK_MAGIC_EA_ACL, h->c_magic);
  EXPECT_EQ(3, vrk_pad(VRK_HDR_EA_ACL_LEN + 7, h->c_magic));

  char got[40];
  memset(got, 'Z', sizeof(got));
  auto back = Sample();
  char err[VRK_HDR_ERROR_SIZE] = {0};
  ASSERT_EQ(0, vrk_get_ea_acl_hdr(kEaGolden.c_str(), back.get(), got, err)) << err;
  EXPECT_EQ(std::string(24, ' ') + "user.acl", std::string(got, 32));
  EXPECT_EQ('Z', got[32]);  // no terminating zero added
  EXPECT_EQ((uint32_t)VRK_MAGIC_EA_ACL, back->c_magic);
  EXPECT_EQ(0x1234u, back->c_filesize_low);
  EXPECT_EQ(6u, back->c_namesize);
  EXPECT_EQ(0xabcdef01u, back->c_chksum);

  // A full 32-character key; a longer one is refused.
  char key32[] = "0123456789abcdef0123456789ABCDEF";
  ASSERT_EQ(VRK_HDR_EA_ACL_LEN, vrk_mk_ea_acl_hdr(h.get(), buf, &len, key32));
  EXPECT_EQ(key32, std::string(buf + 78, 32));
  char key33[] = "0123456789abcdef0123456789ABCDEFX";
  CaptureStderr();
  EXPECT_EQ(-1, vrk_mk_ea_acl_hdr(h.get(), buf, &len, key33));
  GetCapturedStderr();

  // Damage, a short text and the wrong magic.
  std::string bad = kEaGolden;
  bad[112] = 'q';
  EXPECT_EQ(-1, vrk_get_ea_acl_hdr(bad.c_str(), back.get(), got, err));
  EXPECT_STREQ("sscanf(): invalid number of header fields:[11][13]", err);
  EXPECT_EQ(-1, vrk_get_ea_acl_hdr(kEaGolden.substr(0, 90).c_str(), back.get(), got, err));
  EXPECT_STREQ("sscanf(): invalid number of header fields:[10][13]", err);
  EXPECT_EQ(-1, vrk_get_ea_acl_hdr(kOwnGolden.c_str(), back.get(), got, err));
  EXPECT_STREQ("ea_acl: invalid magic number [070706]", err);

  spGlobal->eHdrFmt = HDR_CPIO_NEW;
  CaptureStderr();
  EXPECT_EQ(-1, vrk_mk_ea_acl_hdr(h.get(), buf, &len, key));
  EXPECT_NE(std::string::npos, GetCapturedStderr().find("vrk-2083"));
}

TEST_F(HeaderTest, MagicTable) {
  struct Row {
    uint32_t magic;
    bool encrypted, padded, resync;
  } rows[] = {
      {070706, false, true, true},   {070726, false, false, false}, {070106, false, true, true},
      {070206, true, true, true},    {070306, true, true, true},    {071206, true, true, true},
      {071306, true, true, true},    {070716, false, true, false},  {070116, false, true, false},
      {070216, false, true, false},  {070316, false, true, false},  {070701, false, true, true},
      {070707, false, false, true},  {070702, false, false, false}, {0x070701, false, false, false},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.magic);
    s_vrk_cpio_header h;
    h.c_magic = r.magic;
    EXPECT_EQ(r.encrypted, vrk_archive_is_encrypted(&h) == TRUE);
    EXPECT_EQ(r.resync, vrk_magic_is_resync(r.magic) == TRUE);
    for (size_t size = 0; size < 9; ++size)
      EXPECT_EQ(r.padded ? (int)((4 - size % 4) % 4) : 0, vrk_pad(size, r.magic));
  }
  EXPECT_EQ(1, vrk_pad(126 + 5, 070206));
}

}  // namespace
