// Name lists: the frozen byte layout, round trips through Put and Get, the
// checks against malformed lists, the size bound, and name-list nodes.
#include "sms/sms_namelist.h"
#include "sms/sms_time.h"
#include "sms_test_util.h"

using namespace smstest;

namespace {

class NameListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0u, vrk_sms_load_world(WorldPath().c_str())); }
  std::string WorldPath() {
    std::string p = tmp.file("w.ini");
    WriteFile(p, "[tsa t.Linux File System]\nservice = t\nresource / = " + tmp.path() + "\n");
    return p;
  }
  TempDir tmp;
};

std::string Bytes(const NWSM_DATA_SET_NAME_LIST *l) {
  return std::string(reinterpret_cast<const char *>(l), NWSM_LIST_TOTAL_SIZE(l));
}

TEST_F(NameListTest, LayoutIsFrozenLittleEndian) {
  NWSM_DATA_SET_NAME_LIST *l = nullptr;
  ASSERT_EQ(0u, NWSMPutOneName(&l, 0x104, 8, 1, ":", "/", "ab"));
  const unsigned char want[] = {24, 0, 'N', 1, 1, 0,             // size, signature, version, count
                                0x04, 0x01, 0, 0, 8, 0, 0, 0, 1, 0,  // name space, selection, reverse, reserved
                                1, 0, ':', 1, 0, '/', 2, 0, 'a', 'b'};
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(want), sizeof(want)), Bytes(l));
  free(l);
}

TEST_F(NameListTest, PutAndGetRoundTrip) {
  NWSM_DATA_SET_NAME_LIST *l = nullptr;
  UINT32 h = 0;
  ASSERT_EQ(0u, NWSMPutFirstName(&l, 2, 16, 0, "/", "/", "/home/u/", &h));
  ASSERT_EQ(0u, NWSMPutNextName(&l, &h, 260, 4, 1, ":", "/", "VOL1:dir/"));
  ASSERT_EQ(0u, NWSMCloseName(&h));
  EXPECT_EQ(0u, h);
  NWSM_DATA_SET_NAME n;
  UINT32 it = 0;
  ASSERT_EQ(0u, NWSMGetFirstName(l, &n, &it));
  EXPECT_EQ(2u, n.nameSpaceType);
  EXPECT_EQ(16u, n.selectionType);
  EXPECT_STREQ("/home/u/", n.name);
  EXPECT_EQ(8u, n.nameLength);
  NWSMFreeDataSetName(&n);
  ASSERT_EQ(0u, NWSMGetNextName(&it, &n));
  EXPECT_EQ(260u, n.nameSpaceType);
  EXPECT_EQ(1, n.reverseOrder);
  EXPECT_STREQ(":", n.firstSeparator);
  EXPECT_STREQ("VOL1:dir/", n.name);
  NWSMFreeDataSetName(&n);
  EXPECT_EQ(NWSMUT_NO_MORE_NAMES, NWSMGetNextName(&it, &n));
  EXPECT_EQ(0u, NWSMCloseName(&it));
  // Rewriting in place, as the engine does for the LONG name only.
  ASSERT_EQ(0u, NWSMPutFirstName(&l, 260, 0, 0, "/", "/", "/x", &h));
  NWSMCloseName(&h);
  EXPECT_EQ("/x", FirstName(l));
  ASSERT_EQ(0u, NWSMGetDataSetName(l, 0, &n));  // name space 0: the primary entry
  EXPECT_EQ(260u, n.nameSpaceType);
  NWSMFreeDataSetName(&n);
  free(l);
}

TEST_F(NameListTest, MalformedListsAreRefused) {
  NWSM_DATA_SET_NAME_LIST *l = nullptr;
  ASSERT_EQ(0u, NWSMPutOneName(&l, 2, 0, 0, "/", "/", "abc"));
  std::string good = Bytes(l);
  free(l);
  struct Case {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"size claims more than the entry", [&] { std::string s = good; s[0] = static_cast<char>(s[0] + 1); s += 'x'; return s; }()},
      {"name length passes the size", [&] { std::string s = good; s[good.size() - 5] = 9; return s; }()},
      {"count passes the entries", [&] { std::string s = good; s[4] = 2; return s; }()},
      {"wrong version", [&] { std::string s = good; s[3] = 2; return s; }()},
      {"wrong signature", [&] { std::string s = good; s[2] = 'X'; return s; }()},
      {"NUL inside a name", [&] { std::string s = good; s[good.size() - 2] = '\0'; return s; }()},
      {"reserved byte set", [&] { std::string s = good; s[15] = 1; return s; }()},
      {"too short for a header", std::string("\x02\x00N\x01", 4)},
  };
  for (const Case &c : cases) {
    NWSM_DATA_SET_NAME n;
    EXPECT_EQ(NWSMUT_INVALID_LIST,
              NWSMGetOneName(reinterpret_cast<const NWSM_DATA_SET_NAME_LIST *>(c.bytes.data()), &n))
        << c.what;
  }
  // A list from a stored record is checked against the bytes that hold it.
  const NWSM_DATA_SET_NAME_LIST *g = reinterpret_cast<const NWSM_DATA_SET_NAME_LIST *>(good.data());
  EXPECT_EQ(0u, vrk_sms_check_name_list(g, static_cast<UINT32>(good.size())));
  EXPECT_EQ(NWSMUT_INVALID_LIST, vrk_sms_check_name_list(g, static_cast<UINT32>(good.size() - 1)));
  EXPECT_EQ(NWSMUT_INVALID_LIST, vrk_sms_check_name_list(g, static_cast<UINT32>(good.size() + 4)));
  EXPECT_EQ(NWSMUT_INVALID_PARAMETER, vrk_sms_check_name_list(g, 1));
  // One byte cannot hold the size field: refused without a read past it.
  std::vector<uint8_t> one(1, 0);
  std::vector<vrksms::NameEntry> entries;
  EXPECT_EQ(NWSMUT_INVALID_LIST, vrksms::ParseNameList(one.data(), one.size(), entries));
  std::string empty("\x04\x00N\x01\x00\x00", 6);
  NWSM_DATA_SET_NAME n;
  EXPECT_EQ(NWSMUT_LIST_EMPTY, NWSMGetOneName(reinterpret_cast<const NWSM_DATA_SET_NAME_LIST *>(empty.data()), &n));
}

TEST_F(NameListTest, ListOverTheSizeBoundIsAnErrorNotAWrap) {
  std::string name(30000, 'n');
  NWSM_DATA_SET_NAME_LIST *l = nullptr;
  UINT32 h = 0;
  ASSERT_EQ(0u, NWSMPutFirstName(&l, 2, 0, 0, "/", "/", name.c_str(), &h));
  ASSERT_EQ(0u, NWSMPutNextName(&l, &h, 0, 0, 0, "/", "/", name.c_str()));
  std::string before = Bytes(l);
  EXPECT_EQ(NWSMUT_LIST_TOO_LARGE, NWSMPutNextName(&l, &h, 4, 0, 0, "/", "/", name.c_str()));
  EXPECT_EQ(before, Bytes(l));  // unchanged
  NWSMCloseName(&h);
  free(l);
}

TEST_F(NameListTest, NameListNodesAppendedByTheCallerAreFreedToo) {
  UINT32 conn = 0;
  NWSM_NAME_LIST *tsas = nullptr;
  ASSERT_EQ(0u, NWSMListTSAs("*", &tsas));
  ASSERT_NE(nullptr, tsas);
  EXPECT_STREQ("t.Linux File System", tsas->name);
  NWSM_NAME_LIST *extra = static_cast<NWSM_NAME_LIST *>(calloc(1, sizeof(NWSM_NAME_LIST)));
  extra->name = strdup("t.GroupWise System 2012");
  tsas->next = extra;
  EXPECT_EQ(0u, NWSMFreeNameList(&tsas));
  EXPECT_EQ(nullptr, tsas);
  (void)conn;
}

TEST_F(NameListTest, SeparateCatAndFixNames) {
  UINT32 conn = Login("t.Linux File System", "t", "u", "p");
  ASSERT_NE(0u, conn);
  struct Case {
    const char *in, *parent, *child;
  } cases[] = {{"/home/u/f.txt", "/home/u/", "f.txt"}, {"*.tmp", "", "*.tmp"}, {"/*/wpcsin/", "/*/wpcsin/", ""}};
  for (const Case &c : cases) {
    char *p = nullptr, *ch = nullptr;
    ASSERT_EQ(0u, NWSMTSSeparateDataSetName(conn, 2, c.in, &p, &ch));
    EXPECT_STREQ(c.parent, p);
    EXPECT_STREQ(c.child, ch);
    NWSMFreeString(p);
    NWSMFreeString(ch);
  }
  char *out = nullptr;
  ASSERT_EQ(0u, NWSMCatStrings(2, &out, "/dest/", "rest/"));
  EXPECT_STREQ("/dest/rest/", out);
  NWSMFreeString(out);
  ASSERT_EQ(0u, NWSMTSFixDataSetName(conn, "/tmp//restore", 2, 1, 0, &out));
  EXPECT_STREQ("/tmp/restore/", out);
  NWSMFreeString(out);
  EXPECT_EQ(NWSMTS_INVALID_NAME, NWSMTSFixDataSetName(conn, "/tmp/../etc", 2, 1, 0, &out));
  STRING_BUFFER *a = nullptr, *b = nullptr;
  NWBOOLEAN rev = 1;
  ASSERT_EQ(0u, NWSMTSGetNameSpaceTypeInfo(conn, 260, &rev, &a, &b));
  EXPECT_EQ(0, rev);
  EXPECT_EQ(1, a->size);
  EXPECT_STREQ("/", a->string);
  NWSMFreeString(a);
  NWSMFreeString(b);
  Logout(conn);
}

TEST(DateTime, PackAndUnpackDosDates) {
  UINT32 p = NWSMPackDateTime(2024, 2, 29, 23, 59, 59);
  UINT16 y, mo, d, h, mi, s;
  NWSMUnPackDateTime(p, &y, &mo, &d, &h, &mi, &s);
  EXPECT_EQ(2024, y);
  EXPECT_EQ(2, mo);
  EXPECT_EQ(29, d);
  EXPECT_EQ(23, h);
  EXPECT_EQ(59, mi);
  EXPECT_EQ(58, s);  // two-second steps
  EXPECT_EQ(0u, NWSMPackDateTime(1979, 12, 31, 0, 0, 0));
  EXPECT_LT(NWSMPackDateTime(2023, 12, 31, 23, 59, 58), NWSMPackDateTime(2024, 1, 1, 0, 0, 0));
}

// A scan's kept packed times answer what packing answers, through repeats,
// the slots running over and times out of the packable range.
TEST(DateTime, KeptPackedTimesEqualPackingEveryTime) {
  vrksms::PackedTimes kept;
  const time_t seq[] = {1234567890, 1234567890, 1234567891, 0,          4102444800 * 2, 1234567890,
                        1700000000, 1700000001, 1700000002, 1700000003, 1234567890,     1700000000,
                        -1,         1234567891, 1234567891};
  for (time_t t : seq) EXPECT_EQ(vrksms::PackTime(t), kept.Pack(t)) << t;
}

TEST(Utf8, LengthQueryConversionAndComparisons) {
  const char *in = "caf\xC3\xA9";
  UINT32 len = 0;
  ASSERT_EQ(0u, SMloc2utf8(nullptr, &len, in, 5, 0));
  EXPECT_EQ(5u, len);
  char out[8];
  len = sizeof(out);
  ASSERT_EQ(0u, SMutf82loc(out, &len, in, 5, 0));
  EXPECT_EQ(std::string(in), std::string(out, len));
  len = 3;
  EXPECT_EQ(NWSMUT_BUFFER_OVERFLOW, SMloc2utf8(out, &len, in, 5, 0));
  EXPECT_EQ(NWSMUT_CONVERSION_ERROR, SMloc2utf8(nullptr, &len, "\xC3", 1, 0));
  EXPECT_EQ(0, SMutf8nicmp("/HOME/u/", "/home/U/x", 8));
  EXPECT_NE(0, SMutf8nicmp("/home/a", "/home/b", 7));
  EXPECT_STREQ("\xC3\xA9", SMutf8chr(in, 0xE9));
  EXPECT_EQ(nullptr, SMutf8chr(in, '/'));
  EXPECT_LT(SMutf8cmp("B", "a"), 0);
}

TEST(ConvertError, EveryTableCodeHasATextOthersNone) {
  const CCODE table[] = {0xFFFDFFBA, 0xFFFDFFD7, 0xFFFDFFDD, 0xFFFDFFAD, 0xFFFEFFE8, 0xFFFEFFFB, 0xFFFDFFB9,
                         0xFFFEFFCC, 0xFFFEFFCD, 0xFFFEFFCE, 0xFFFEFFFC, 0xFFFEFFB1, 0xFFFDFFAF, 0xFFFDFFC4,
                         0xFFFDFFD1, 0xFFFDFFDC, 0xFFFDFFBF, 0xFFFDFFC9, 0xFFFDFFE7, 0xFFFDFFD9, 0xFFFDFFCE,
                         0xFFFDFFBD, 0xFFFDFFF5, 0xFFFDFFB8, 0xFFFDFFF7, 0xFFFDFFF8, 0xFFFDFFF9};
  for (CCODE code : table) {
    char text[NWSM_MAX_ERROR_TEXT_LEN];
    EXPECT_EQ(0u, NWSMConvertError(0, code, text)) << std::hex << code;
    EXPECT_GT(strlen(text), 0u);
  }
  char text[NWSM_MAX_ERROR_TEXT_LEN];
  ASSERT_EQ(0u, NWSMConvertError(0, 0xFFFDFFBA, text));
  EXPECT_STREQ("Invalid or inactive TSA specified", text);
  ASSERT_EQ(0u, NWSMConvertError(0, 0xFFFEFFE8, text));
  EXPECT_STREQ("The specified name does not exist or is invalid. ", text);
  EXPECT_EQ(NWSMDR_NO_TEXT, NWSMConvertError(0, 0x12345678, text));
}

}  // namespace
