// Worlds: the default world without configuration, world files with several
// TSAs, volume resources and credentials, and every fault switch.
#include "sms_test_util.h"

using namespace smstest;

namespace {

std::string Host() {
  char buf[256] = {0};
  gethostname(buf, sizeof(buf) - 1);
  return buf[0] ? buf : "localhost";
}

std::vector<std::string> Names(NWSM_NAME_LIST *l) {
  std::vector<std::string> out;
  for (NWSM_NAME_LIST *p = l; p; p = p->next) out.push_back(p->name);
  NWSMFreeNameList(&l);
  return out;
}

TEST(DefaultWorld, BacksUpARealDirectoryWithoutSetUp) {
  TempDir tmp;
  Touch(tmp.file("f"), "x");
  unsetenv("VRK_SMS_WORLD");
  ASSERT_EQ(0u, vrk_sms_load_world(nullptr));
  NWSM_NAME_LIST *l = nullptr;
  ASSERT_EQ(0u, NWSMListSMDRs("*", &l));
  EXPECT_EQ(std::vector<std::string>{Host()}, Names(l));
  ASSERT_EQ(0u, NWSMListTSAs((Host() + ".*").c_str(), &l));
  std::string tsa = Host() + ".Linux File System";
  EXPECT_EQ(std::vector<std::string>{tsa}, Names(l));
  UINT32 conn = Login(tsa.c_str(), Host().c_str(), "anyone", "anything");
  ASSERT_NE(0u, conn);
  ASSERT_EQ(0u, NWSMTSListTSResources(conn, &l));
  EXPECT_EQ(std::vector<std::string>{"/"}, Names(l));
  char *real = realpath(tmp.path().c_str(), nullptr);  // the scan never follows a link
  ASSERT_NE(nullptr, real);
  std::string dir = real;
  free(real);
  std::vector<DataSet> sets = BackupAll(conn, dir);
  ASSERT_EQ(2u, sets.size());
  EXPECT_EQ(dir + "/", sets[0].name);
  EXPECT_EQ("f", sets[1].name);
  Logout(conn);
}

TEST(WorldFile, NamedByTheEnvironmentVariable) {
  TempDir tmp;
  std::string p = tmp.file("w.ini");
  WriteFile(p, "[smdr one]\n[smdr two]\n[tsa two.Linux File System]\nresource / = " + tmp.path() + "\n");
  setenv("VRK_SMS_WORLD", p.c_str(), 1);
  ASSERT_EQ(0u, vrk_sms_load_world(nullptr));
  unsetenv("VRK_SMS_WORLD");
  NWSM_NAME_LIST *l = nullptr;
  ASSERT_EQ(0u, NWSMListSMDRs("*", &l));
  EXPECT_EQ((std::vector<std::string>{"one", "two"}), Names(l));
  UINT32 conn = 0;
  ASSERT_EQ(0u, NWSMConnectToTSA("two.linux file system", &conn));
  ASSERT_EQ(0u, NWSMTSListTargetServices(conn, "*", &l));
  EXPECT_EQ(std::vector<std::string>{"two"}, Names(l));
  NWSMReleaseTSA(&conn);
  EXPECT_EQ(NWSMTS_INVALID_TSA, NWSMConnectToTSA("nobody", &conn));
}

// The engine asks for "<SMDR>.*"; without an SMDR name it sends ".*", which
// must list the TSAs of the default (first) SMDR.
TEST(WorldFile, EmptySmdrPartListsTheDefaultSmdrsTsas) {
  TempDir tmp;
  std::string p = tmp.file("w.ini");
  WriteFile(p, "[smdr one]\n[tsa one.Linux File System]\nresource / = " + tmp.path() +
                   "\n[tsa one.Apache TSA]\nresource / = " + tmp.path() + "\n[smdr two]\n"
                   "[tsa two.Linux File System]\nresource / = " + tmp.path() + "\n");
  ASSERT_EQ(0u, vrk_sms_load_world(p.c_str()));
  NWSM_NAME_LIST *l = nullptr;
  ASSERT_EQ(0u, NWSMListTSAs(".*", &l));
  EXPECT_EQ((std::vector<std::string>{"one.Linux File System", "one.Apache TSA"}), Names(l));
  ASSERT_EQ(0u, NWSMListTSAs("two.*", &l));
  EXPECT_EQ(std::vector<std::string>{"two.Linux File System"}, Names(l));
  EXPECT_EQ(NWSMDR_NAME_DOES_NOT_EXIST, NWSMListTSAs("three.*", &l));
}

TEST(WorldFile, ErrorsAreReportedWithTheLine) {
  TempDir tmp;
  std::string p = tmp.file("w.ini");
  WriteFile(p, "[tsa x]\nresource VOL1 = /tmp\n");
  EXPECT_EQ(NWSMDR_WORLD_ERROR, vrk_sms_load_world(p.c_str()));
  NWSM_NAME_LIST *l = nullptr;
  EXPECT_EQ(NWSMDR_WORLD_ERROR, NWSMListSMDRs("*", &l));
  EXPECT_EQ(NWSMDR_WORLD_ERROR, vrk_sms_load_world(tmp.file("missing.ini").c_str()));
}

class VolumeWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    vol = tmp.file("vol1");
    MakeDirs(vol + "/dir");
    Touch(vol + "/dir/f", "v");
    std::string p = tmp.file("w.ini");
    WriteFile(p, "[world]\nlog = " + tmp.file("calls.log") + "\n[smdr srv]\n"
                 "[tsa srv.Linux File System]\nresource / = " + tmp.path() + "\n"
                 "[tsa srv.NetWare File System]\napi = 2.5\nutf8 = no\nname_spaces = DOS LONG\n"
                 "user admin = secret\nresource VOL1: = " + vol + "\nblocks VOL1: = 4096 1000 250\n"
                 "resource SYS: = " + vol + "\nmount SYS: = nfs\narchive = no\nfix_name = no\nopen_modes = 3\n");
    ASSERT_EQ(0u, vrk_sms_load_world(p.c_str()));
  }
  TempDir tmp;
  std::string vol;
};

TEST_F(VolumeWorld, VolumeResourceNamesSeparatorsAndInformation) {
  UINT32 conn = Login("srv.NetWare File System", "srv", "admin", "secret");
  ASSERT_NE(0u, conn);
  UINT16 major = 0, minor = 0;
  ASSERT_EQ(0u, NWSMTSGetTargetServiceAPIVersion(conn, &major, &minor));
  EXPECT_EQ(2, major);
  EXPECT_EQ(5, minor);
  UINT32 types = 0;
  ASSERT_EQ(0u, NWSMTSGetSupportedNameTypes(conn, &types));
  EXPECT_EQ(NWSM_NAME_TYPE_MBCS, types);
  NWSM_DATA_SET_NAME_LIST *res = nullptr;
  ASSERT_EQ(0u, NWSMPutOneName(&res, NWSM_TSA_DEFINED_RESOURCE_TYPE, 0, 0, nullptr, nullptr, "VOL1:"));
  std::vector<std::string> want = {"VOL1:", "VOL1:dir/", "  f"};
  EXPECT_EQ(want, ScanNames(conn, res, Control()));
  free(res);
  NWSM_DATA_SET_NAME_LIST *src = OneName("VOL1:/dir", LONGNameSpace);
  EXPECT_EQ((std::vector<std::string>{"VOL1:dir/", "  f"}), ScanNames(conn, src, Control()));
  free(src);
  UINT32 bs, total, freeb;
  ASSERT_EQ(0u, NWSMTSGetTargetResourceInfo(conn, "VOL1:", &bs, &total, &freeb, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr));
  EXPECT_EQ(3072000ull, static_cast<uint64_t>(bs) * (total - freeb));
  UINT32 size = 0;
  ASSERT_EQ(0u, NWSMTSGetTargetResourceInfoEx(conn, "SYS:", &size, nullptr));
  std::vector<BUFFER> info(size);
  ASSERT_EQ(0u, NWSMTSGetTargetResourceInfoEx(conn, "SYS:", &size, info.data()));
  void *ext = nullptr;
  UINT32 eh = 0;
  ASSERT_EQ(0u, NWSMGetExtension(info.data(), size, NWSM_RESOURCE_EXT_MOUNT_TYPE, &ext, &eh));
  EXPECT_STREQ("nfs", static_cast<const char *>(ext));
  EXPECT_EQ(0u, NWSMCloseExtension(&eh));
  NWSM_NAME_LIST *l = nullptr;
  ASSERT_EQ(0u, NWSMTSListSupportedNameSpaces(conn, "VOL1:", &l));
  ASSERT_NE(nullptr, l);
  EXPECT_STREQ("DOS", l->name);
  EXPECT_STREQ("LONG", l->next->name);
  EXPECT_EQ(4u, l->next->type);
  NWSMFreeNameList(&l);
  char name[NWSM_MAX_RESOURCE_LEN];
  UINT32 rseq = 0xFFFFFFFFu;
  ASSERT_EQ(0u, NWSMTSScanTargetServiceResource(conn, &rseq, name));
  EXPECT_STREQ("VOL1:", name);
  ASSERT_EQ(0u, NWSMTSScanTargetServiceResource(conn, &rseq, name));
  EXPECT_EQ(NWSMTS_NO_MORE_NAMES, NWSMTSScanTargetServiceResource(conn, &rseq, name));
  char *parent = nullptr, *child = nullptr;
  ASSERT_EQ(0u, NWSMTSSeparateDataSetName(conn, 4, "VOL1:f", &parent, &child));
  EXPECT_STREQ("VOL1:", parent);
  EXPECT_STREQ("f", child);
  NWSMFreeString(parent);
  NWSMFreeString(child);
  char *fixed = nullptr;
  EXPECT_EQ(NWSMTS_UNSUPPORTED_FUNCTION, NWSMTSFixDataSetName(conn, "VOL1:/x", 4, 1, 0, &fixed));
  Logout(conn);
}

TEST_F(VolumeWorld, CredentialsAreCheckedPlainAndExtended) {
  UINT32 conn = 0;
  ASSERT_EQ(0u, NWSMConnectToTSA("srv.NetWare File System", &conn));
  std::string bad = Password("wrong"), good = Password("secret");
  EXPECT_EQ(NWSMTS_LOGIN_DENIED, NWSMTSConnectToTargetService(&conn, "srv", "admin", bad.data()));
  NWSM_NAME_LIST *l = nullptr;
  EXPECT_EQ(NWSMTS_NOT_LOGGED_IN, NWSMTSListTSResources(conn, &l));
  ASSERT_NE(nullptr, NWSMTSConnectToTargetServiceEx);
  EXPECT_EQ(0u, NWSMTSConnectToTargetServiceEx(&conn, "srv", "admin", good.data(), NWSM_AUTH_UTF8_DATA));
  EXPECT_EQ(0u, NWSMTSListTSResources(conn, &l));
  NWSMFreeNameList(&l);
  Logout(conn);
  EXPECT_EQ(0u, conn);
}

TEST_F(VolumeWorld, ArchiveStatusUnsupported) {
  UINT32 conn = Login("srv.NetWare File System", "srv", "admin", "secret");
  UINT32 b = 0, r = 0;
  ASSERT_EQ(0u, NWSMTSGetUnsupportedOptions(conn, &b, &r));
  EXPECT_EQ(NWSM_BACK_ARCHIVE_DATE_TIME | NWSM_BACK_MODIFY_FLAG, b);
  NWSM_DATA_SET_NAME_LIST *src = OneName("VOL1:dir/f", LONGNameSpace);
  NWSM_SCAN_CONTROL ctl = Control();
  UINT32 seq = 0, h = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  ASSERT_EQ(0u, NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names));
  EXPECT_EQ(NWSMTS_OPTION_NOT_SUPPORTED, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_DENY_WRITE, &h));
  ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_ONLY, &h));
  EXPECT_EQ(NWSMTS_UNSUPPORTED_FUNCTION, NWSMTSSetArchiveStatus(conn, h, 3, 0x12345678));
  NWSMTSCloseDataSet(conn, &h);
  NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  free(src);
  Logout(conn);
}

class FaultTest : public ::testing::Test {
 protected:
  void Load(const std::string &faults) {
    root = tmp.file("tree");
    MakeDirs(root + "/d");
    Touch(root + "/d/a", "a");
    Touch(root + "/d/b", "b");
    PathWorld(tmp, root, faults);
  }
  TempDir tmp;
  std::string root;
};

TEST_F(FaultTest, CallKToMAnswersTheCode) {
  Load("fault NWSMTSReadDataSet = 2-3 0xFFFDFFC4\n");
  UINT32 conn = Login();
  NWSM_DATA_SET_NAME_LIST *src = OneName("/d");
  NWSM_SCAN_CONTROL ctl = Control();
  UINT32 seq = 0, h = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  ASSERT_EQ(0u, NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names));
  ASSERT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, NWSM_OPEN_READ_ONLY, &h));
  BUFFER buf[64];
  UINT32 got;
  std::vector<CCODE> answers;
  for (int i = 0; i < 4; ++i) answers.push_back(NWSMTSReadDataSet(conn, h, 1, &got, buf));
  EXPECT_EQ((std::vector<CCODE>{0, 0xFFFDFFC4, 0xFFFDFFC4, 0}), answers);
  NWSMTSCloseDataSet(conn, &h);
  NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  free(src);
  Logout(conn);
  std::vector<std::string> lines = LogLines(tmp, "NWSMTSReadDataSet");
  ASSERT_EQ(4u, lines.size());
  EXPECT_NE(std::string::npos, lines[1].find("size=1) = 0xFFFDFFC4"));
}

TEST_F(FaultTest, LostConnectionAnswersUntilReleased) {
  Load("lose NWSMTSScanNextDataSet = 1 0xFFFEFFCC\n");
  UINT32 conn = Login();
  NWSM_DATA_SET_NAME_LIST *src = OneName("/d");
  NWSM_SCAN_CONTROL ctl = Control();
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  ASSERT_EQ(0u, NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names));
  EXPECT_EQ(0xFFFEFFCCu, NWSMTSScanNextDataSet(conn, &seq, &info, &names));
  EXPECT_EQ(0xFFFEFFCCu, NWSMTSScanNextDataSet(conn, &seq, &info, &names));
  NWSM_NAME_LIST *l = nullptr;
  EXPECT_EQ(0xFFFEFFCCu, NWSMTSListTSResources(conn, &l));
  EXPECT_EQ(0xFFFEFFCCu, NWSMTSScanDataSetEnd(conn, &seq, &info, &names));
  UINT32 old = conn;
  EXPECT_EQ(0u, NWSMTSReleaseTargetService(&conn));
  EXPECT_EQ(0u, NWSMReleaseTSA(&conn));
  EXPECT_EQ(NWSMTS_INVALID_CONNECTION_HANDLE, NWSMTSListTSResources(old, &l));
  conn = Login();
  ASSERT_NE(0u, conn);
  EXPECT_NE(old, conn);
  EXPECT_EQ((std::vector<std::string>{"/d/", "  a", "  b"}), ScanNames(conn, src, ctl));
  free(src);
  Logout(conn);
  std::string log = ReadFile(tmp.file("calls.log"));
  size_t a = log.find("NWSMTSReleaseTargetService("), b = log.find("NWSMReleaseTSA(");
  ASSERT_NE(std::string::npos, a);
  EXPECT_LT(a, b);
}

TEST_F(FaultTest, NextConnectsAndLoginsFail) {
  Load("fail_connect = 2\nfail_login = 1 0xFFFDFFD7\n");
  UINT32 conn = 0;
  EXPECT_EQ(NWSMTS_INVALID_TSA, NWSMConnectToTSA("test.Linux File System", &conn));
  EXPECT_EQ(NWSMTS_INVALID_TSA, NWSMConnectToTSA("test.Linux File System", &conn));
  ASSERT_EQ(0u, NWSMConnectToTSA("test.Linux File System", &conn));
  std::string pw = Password("p");
  EXPECT_EQ(NWSMTS_LOGIN_DENIED, NWSMTSConnectToTargetService(&conn, "test", "u", pw.data()));
  EXPECT_EQ(0u, NWSMTSConnectToTargetService(&conn, "test", "u", pw.data()));
  Logout(conn);
  EXPECT_EQ(3u, LogLines(tmp, "NWSMConnectToTSA").size());
}

TEST_F(FaultTest, OptionalCallsAbsent) {
  Load("optional_calls = no\n");
  EXPECT_EQ(nullptr, NWSMTSConnectToTargetServiceEx);
  EXPECT_EQ(nullptr, NWSMTSScanDataSetContinue);
  PathWorld(tmp, root);
  EXPECT_NE(nullptr, NWSMTSConnectToTargetServiceEx);
  EXPECT_NE(nullptr, NWSMTSScanDataSetContinue);
}

TEST_F(FaultTest, TextsOfOptionsAndSelectionTypesAreBounded) {
  Load("");
  UINT32 conn = Login();
  char a[NWSM_MAX_STRING_LEN], b[NWSM_MAX_STRING_LEN];
  ASSERT_EQ(0u, NWSMTSGetOpenModeOptionString(conn, 10, a));
  EXPECT_STREQ("Preserve access time", a);
  ASSERT_EQ(0u, NWSMTSGetOpenModeOptionString(conn, 0, a));
  EXPECT_STREQ("", a);
  EXPECT_NE(0u, NWSMTSGetOpenModeOptionString(conn, 24, a));
  ASSERT_EQ(0u, NWSMTSGetTargetSelectionTypeStr(conn, 3, a, b));
  EXPECT_STREQ("Exclude child by terminal name", b);
  EXPECT_EQ(NWSMTS_INVALID_SELECTION_TYPE, NWSMTSGetTargetSelectionTypeStr(conn, 5, a, b));
  NWSM_MODULE_VERSION_INFO v;
  ASSERT_EQ(0u, NWSMGetSMSModuleVersionInfo(conn, &v));
  EXPECT_STREQ("vrk_sms", v.moduleFileName);
  Logout(conn);
}

}  // namespace
