// Tests of the resource listing units: used sizes, line order, the cluster
// root line, the directory check, GroupWise detection and component mapping.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/connection.h"
#include "engine/groupwise.h"
#include "engine/listing.h"
#include "engine/session.h"
#include "engine_test_util.h"
#include "kv_ctrlc_standin.h"
#include "runtime/iniparser.h"

using enginetest::Capture;
using enginetest::NameList;
using enginetest::World;

namespace {

std::vector<std::string> Lines(t_LL list) {
  std::vector<std::string> out;
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el))
    out.push_back(static_cast<const char *>(el));
  return out;
}

// A connected session on the stand-in world's TSA, with the listing lists.
class ListingTest : public ::testing::Test {
 protected:
  void Connect(const std::string &tsa) {
    enginetest::FreshState();
    spGlobal->eOPERATION = BACKUP;
    strcpy(spGlobal->sVRKNlm.szSMDR, "srv1");
    strcpy(spGlobal->sVRKNlm.szTSA, tsa.c_str());
    session_ = GetSessionInfoBuffer();
    ASSERT_NE(session_, nullptr);
    ASSERT_NE(Init_Cluster_Params(session_), nullptr);
    NWBOOLEAN cluster = 0;
    Capture cap;
    ASSERT_EQ(EstablishConnection(session_, &cluster), 0u);
    cap.Stop();
    gLL_ResourceList = ConsLL();
    gLL_DirList = ConsLL();
    gLL_FileList = ConsLL();
  }
  void TearDown() override {
    if (session_ != nullptr) EndSession(0, session_);
    for (t_LL *l : {&gLL_ResourceList, &gLL_DirList, &gLL_FileList})
      if (*l != nullptr) *l = DestLL(*l);
  }
  SESSION_INFORMATION *session_ = nullptr;
};

}  // namespace

TEST(ListingFormat, UsedSizeIn64BitsNeverBelowZero) {
  struct Case {
    UINT32 blockSize, total, free;
    UINT64 size;
  } cases[] = {
      {4096, 1000, 250, 3072000ull},
      {4096, 100, 250, 0},        // more free than total: 0, not a wrapped difference
      {4096, 1000, 1000, 0},
      {65536, 4000000, 0, 262144000000ull},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0xFFFFFFFE00000001ull},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ResourceUsedSize(c.blockSize, c.total, c.free), c.size) << c.total << " " << c.free;
  EXPECT_EQ(ResourceListingLine("VOL1:", 3072000),
            "\"VOL1:\" dm 2000.01.01 00:00:00 2000.01.01 00:00:00 3072000 - ,\n");
  EXPECT_EQ(ComponentListingLine("1[PO]po1:", 5120000000ull, "/po1"),
            "\"1[PO]po1:\" dm 2000.01.01 00:00:00 2000.01.01 00:00:00 5120000000 - , path: /po1\n");
}

TEST(ListingFormat, LinesSortInByteOrder) {
  t_LL list = ConsLL();
  for (const char *name : {"a", "B", "_", "A"}) {
    std::string line = ResourceListingLine(name, 1);
    InsLastLLf(list, line.size() + 1, line.c_str());
  }
  SysSortLL(list, i_COMPARE_LINE);
  std::vector<std::string> got = Lines(list);
  DestLL(list);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].substr(0, 3), "\"A\"");
  EXPECT_EQ(got[1].substr(0, 3), "\"B\"");
  EXPECT_EQ(got[2].substr(0, 3), "\"_\"");
  EXPECT_EQ(got[3].substr(0, 3), "\"a\"");
}

// The top of a cluster file system is one line: "/" with the first
// resource's used size, not selectable.
TEST_F(ListingTest, ClusterTopIsOneRootLine) {
  World w("[smdr srv1]\n[tsa srv1.Linux Cluster File System]\n"
          "resource /p1 = @DATA@\nresource /p2 = @DATA@\n"
          "blocks /p1 = 4096 1000 250\nblocks /p2 = 4096 1000 0\n");
  ASSERT_TRUE(w.loaded());
  Connect("srv1.Linux Cluster File System");
  char item0[8] = "";
  char kind[] = "Linux Cluster File System";
  spGlobal->sVRKObject.cpItem[0] = item0;
  spGlobal->sVRKObject.cpItem[1] = kind;
  Capture cap;
  list_resources(session_, item0, TRUE);
  cap.Stop();
  EXPECT_EQ(Lines(gLL_DirList),
            std::vector<std::string>{
                "\"/\" d_ 2000.01.01 00:00:00 2000.01.01 00:00:00 3072000 - ,not_selectable\n"});
  EXPECT_EQ(spGlobal->sVRKObject.ulSaved, 1u);
}

TEST_F(ListingTest, CheckTSAPathAcceptsOnlyDirectories) {
  World w("[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n");
  ASSERT_TRUE(w.loaded());
  std::string data = w.dir() + "/data";
  ASSERT_EQ(system(("mkdir -p '" + data + "/Dir/sub' && touch '" + data + "/file'").c_str()), 0);
  Connect("srv1.Linux File System");
  struct Case {
    std::string path;
    bool ok;
  } cases[] = {{"/Dir", true}, {"/Dir/sub/", true}, {"/file", false}, {"/missing", false},
               {"/" + std::string(600, 'x'), false}};
  for (const Case &c : cases) {
    std::vector<char> path(c.path.begin(), c.path.end());
    path.push_back('\0');
    UINT32 ns = 0xFFFF;
    Capture cap;
    NWBOOLEAN got = CheckTSAPath(session_, path.data(), &ns);
    cap.Stop();
    EXPECT_EQ(got != 0, c.ok) << c.path << "\n" << cap.err();
    if (c.ok) {
      EXPECT_EQ(ns, 2u) << c.path;
    }
    if (c.path == "/file") {
      EXPECT_NE(cap.err().find("no matching directory: [/file/]"), std::string::npos);
    }
  }
  Capture cap;
  EXPECT_FALSE(CheckTSAPath(session_, nullptr, nullptr));
}

TEST(GroupWiseMap, ComponentToHome) {
  dictionary *ha = dictionary_new(0);
  dictionary *zem = dictionary_new(0);
  for (const char *s : {"a", "b", "c"}) dictionary_set(ha, s, nullptr);
  dictionary_set(ha, "a:component", "1[PO]po1:");  // no home: not the answer
  dictionary_set(ha, "b:component", "2[PO]po1:");
  dictionary_set(ha, "b:home", "/h2");
  dictionary_set(ha, "c:component", "3[PO]po1:");
  dictionary_set(ha, "c:home", "/h3");
  dictionary_set(zem, "z", nullptr);
  dictionary_set(zem, "z:component", "4[DMS]gwdva:");
  dictionary_set(zem, "z:home", "/gwdva");
  struct Case {
    const char *component;
    const char *home;
  } cases[] = {{"9[PO]po1:", "/h2"},   {"[PO]po1:", "/h2"},  {"1[DMS]gwdva:", "/gwdva"},
               {"1[po]po1:", nullptr}, {"1[PO]po1", nullptr}, {"po1:", nullptr}};
  for (const Case &c : cases) {
    std::string component = c.component;
    char *got = szMapGWComponent2Path(ha, zem, &component[0]);
    EXPECT_STREQ(got, c.home) << c.component;
  }
  EXPECT_EQ(szMapGWComponent2Path(nullptr, nullptr, nullptr), nullptr);
  dictionary_del(ha);
  dictionary_del(zem);
}

class GroupWiseCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    enginetest::FreshState();
    strcpy(spGlobal->sVRKNlm.szSMDR, "srv1");
    ctrl_.reset(new vrktest::CtrlStandIn(dir_.file("ctrl")));
    const char *old = getenv("KORVA_INI");
    oldKorva_ = old != nullptr ? old : "";
    hadKorva_ = old != nullptr;
    setenv("KORVA_INI", ctrl_->boot().c_str(), 1);
  }
  void TearDown() override {
    if (hadKorva_) setenv("KORVA_INI", oldKorva_.c_str(), 1);
    else unsetenv("KORVA_INI");
    dictionary_del(gdcGWHAconf);
    dictionary_del(gdcGWZEMconf);
    gdcGWHAconf = gdcGWZEMconf = nullptr;
  }
  // bCheck_GW2012 on a list; the names of the list afterwards.
  std::vector<std::string> Check(const std::vector<std::string> &names, NWBOOLEAN *pbRet) {
    NWSM_NAME_LIST *list = NameList(names);
    Capture cap;
    *pbRet = bCheck_GW2012(nullptr, &list);
    cap.Stop();
    err_ = cap.err();
    std::vector<std::string> out;
    for (NWSM_NAME_LIST *p = list; p != nullptr; p = p->next) out.push_back(p->name);
    NWSMFreeNameList(&list);
    return out;
  }
  const char *Get(dictionary *d, const std::string &key) { return iniparser_getstr(d, key.c_str()); }
  vrktest::TempDir dir_;
  std::unique_ptr<vrktest::CtrlStandIn> ctrl_;
  std::string oldKorva_, err_;
  bool hadKorva_ = false;
};

TEST_F(GroupWiseCheck, NodeWithComponentsGetsThePseudoTsa) {
  vrktest::GroupWiseNode(*ctrl_);
  // Standard input carries data of its own (a saveset) that must stay unread.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "SAVESET\n", 8), 8);
  close(fds[1]);
  int savedIn = dup(STDIN_FILENO);
  dup2(fds[0], STDIN_FILENO);
  close(fds[0]);
  NWBOOLEAN bRet = FALSE;
  std::vector<std::string> names = Check({"srv1.SQL Agent", "srv1.Linux File System"}, &bRet);
  char buf[16] = "";
  ssize_t got = read(STDIN_FILENO, buf, sizeof(buf) - 1);
  dup2(savedIn, STDIN_FILENO);
  close(savedIn);
  EXPECT_EQ(got, 8);
  EXPECT_STREQ(buf, "SAVESET\n");
  EXPECT_EQ(ctrl_->args().find("STDIN"), std::string::npos) << ctrl_->args();
  EXPECT_TRUE(bRet) << err_;
  EXPECT_EQ(names.back(), "srv1.GroupWise System 2012");
  // Both files came through standard input, one after the other.
  ASSERT_NE(gdcGWHAconf, nullptr);
  ASSERT_NE(gdcGWZEMconf, nullptr);
  EXPECT_STREQ(Get(gdcGWHAconf, "po1.dom1:component"), "1[PO]po1:");
  EXPECT_STREQ(Get(gdcGWHAconf, "po1.dom1:home"), "/po1");
  EXPECT_STREQ(Get(gdcGWHAconf, "dom1:component"), "2[DOM]dom1:");
  EXPECT_STREQ(Get(gdcGWHAconf, "dom1:home"), "/dom1");
  EXPECT_EQ(Get(gdcGWHAconf, "webacc:component"), nullptr);
  EXPECT_STREQ(Get(gdcGWHAconf, "poX:component"), "3[PO]poX:");
  EXPECT_EQ(Get(gdcGWHAconf, "poX:home"), nullptr);
  EXPECT_EQ(Get(gdcGWHAconf, "tiny:component"), nullptr);  // a server value of 2 characters
  EXPECT_STREQ(Get(gdcGWZEMconf, "MISC:component"), "3[TMP]MISC:");
  EXPECT_STREQ(Get(gdcGWZEMconf, "gwdva.srv1:component"), "4[DMS]gwdva:");

  // A second detection replaces the dictionaries of the first.
  names = Check({"srv1.Linux File System"}, &bRet);
  EXPECT_TRUE(bRet);
}

TEST_F(GroupWiseCheck, PseudoTsaNames) {
  vrktest::GroupWiseNode(*ctrl_);
  NWBOOLEAN bRet = FALSE;
  // Without a file-system TSA the node name is used; without '.' it is kept whole.
  EXPECT_EQ(Check({"srv1.SQL Agent"}, &bRet).back(), "srv1.GroupWise System 2012");
  EXPECT_TRUE(bRet);
  EXPECT_EQ(Check({"nodot File System"}, &bRet).back(), "nodot File System.GroupWise System 2012");
  EXPECT_EQ(Check({}, &bRet), std::vector<std::string>{"srv1.GroupWise System 2012"});

  // The GroupWise TSA is there already: nothing is read.
  std::vector<std::string> names = Check({"srv1.GroupWise System 2012"}, &bRet);
  EXPECT_FALSE(bRet);
  EXPECT_EQ(names.size(), 1u);

  // A name that does not fit a TSA name field is refused.
  strcpy(spGlobal->sVRKNlm.szSMDR, std::string(290, 'n').c_str());
  names = Check({"x"}, &bRet);
  EXPECT_FALSE(bRet);
  EXPECT_EQ(names.size(), 1u);
  EXPECT_NE(err_.find("GroupWise TSA name longer than 299 characters refused"), std::string::npos);
}

TEST_F(GroupWiseCheck, BridgeFileNamesTheHighAvailabilityFile) {
  ctrl_->File("/etc/opt/novell/groupwise/gwzem.conf", "[MISC]\ngwha = /alt/ha.conf\n");
  ctrl_->File("/alt/ha.conf", "[dom9]\nserver = gwmta\nstartup = /alt/dom9.mta\n");
  ctrl_->File("/alt/dom9.mta", "--home /d9\n");
  NWBOOLEAN bRet = FALSE;
  Check({"srv1.Linux File System"}, &bRet);
  EXPECT_TRUE(bRet) << err_;
  EXPECT_STREQ(Get(gdcGWHAconf, "dom9:home"), "/d9");
  std::string home = "1[DOM]dom9:";
  EXPECT_STREQ(szMapGWComponent2Path(gdcGWHAconf, gdcGWZEMconf, &home[0]), "/d9");
}

TEST_F(GroupWiseCheck, NoComponentsNoPseudoTsa) {
  NWBOOLEAN bRet = TRUE;
  EXPECT_EQ(Check({"srv1.Linux File System"}, &bRet).size(), 1u);
  EXPECT_FALSE(bRet);
  ctrl_->File("/etc/opt/novell/groupwise/gwha.conf", "[x]\nserver = gwinter\n");
  EXPECT_EQ(Check({"srv1.Linux File System"}, &bRet).size(), 1u);
  EXPECT_FALSE(bRet);
}
