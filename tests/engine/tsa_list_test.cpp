// Tests of the TSA name resolution against a name list and of the TSA
// listing lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/connection.h"
#include "engine/session.h"
#include "engine_test_util.h"

using enginetest::Capture;
using enginetest::NameList;

namespace {

struct Resolved {
  CCODE code;
  std::string name;
  NWBOOLEAN netware, cluster;
};

Resolved Resolve(const std::vector<std::string> &list, const std::string &given, int size = 300) {
  enginetest::FreshState();
  NWSM_NAME_LIST *l = NameList(list);
  std::vector<char> buf((size_t)std::max(size, (int)given.size() + 1), '\0');
  memcpy(buf.data(), given.c_str(), given.size() + 1);
  Resolved r{0, "", 0, 0};
  Capture cap;
  r.code = SetTSAName(l, buf.data(), size, &r.netware, &r.cluster);
  cap.Stop();
  r.name = buf.data();
  NWSMFreeNameList(&l);
  return r;
}

}  // namespace

TEST(SetTSANameTest, ResolutionTable) {
  const std::vector<std::string> both = {"srv1.NetWare File System", "srv1.Linux File System"};
  struct Case {
    std::vector<std::string> list;
    std::string given;
    CCODE code;
    std::string name;
  } cases[] = {
      // The name is cut at its first blank: "srv1.linux" picks the Linux entry.
      {both, "SRV1.Linux File System", 0, "srv1.Linux File System"},
      // An empty name takes the first entry.
      {both, "", 0, "srv1.NetWare File System"},
      // A server name alone takes the first entry of that server.
      {{"a.Linux File System", "srv1.Linux File System"}, "srv1", 0, "srv1.Linux File System"},
      // Not found without a dot: unchanged, the default result.
      {both, "other", 0xFFFDFFBAu, "other"},
      // Not found, but the part after the dot names a listed kind.
      {{"srv1.SQL Agent", "srv2.GroupWise TSA"}, "x.groupwise", 0, "srv2.GroupWise TSA"},
      // A file system on another server: a Linux one when asked for Linux.
      {both, "srv9.Linux File System", 0, "srv1.Linux File System"},
      {both, "srv9.NetWare File System", 0, "srv1.NetWare File System"},
  };
  for (const Case &c : cases) {
    Resolved r = Resolve(c.list, c.given);
    EXPECT_EQ(r.code, c.code) << c.given;
    EXPECT_EQ(r.name, c.name) << c.given;
  }
}

TEST(SetTSANameTest, FlagsOfNetWareAndClusterEntries) {
  Resolved r = Resolve({"s.Linux Cluster File System", "s.NetWare File System"}, "s");
  EXPECT_EQ(r.netware, TRUE);
  EXPECT_EQ(r.cluster, TRUE);
  r = Resolve({"s.Linux File System"}, "s");
  EXPECT_EQ(r.netware, FALSE);
  EXPECT_EQ(r.cluster, FALSE);
}

TEST(SetTSANameTest, MatchTooLongForTheBufferIsNotCopied) {
  std::string longName = "srv1." + std::string(300, 'x') + " File System";
  Resolved r = Resolve({longName}, "srv1");
  EXPECT_EQ(r.code, 0xFFFDFFDDu);
  EXPECT_EQ(r.name, "srv1");
}

TEST(SetTSANameTest, NoListLeavesTheName) {
  enginetest::FreshState();
  char name[300] = "kept";
  Capture cap;
  EXPECT_EQ(SetTSAName(nullptr, name, sizeof(name), nullptr, nullptr), 0xFFFDFFBAu);
  cap.Stop();
  EXPECT_STREQ(name, "kept");
}

// A long TSA name makes one whole line, never two lines run together.
TEST(TsaListingLines, LinesAreBuiltWhole) {
  enginetest::FreshState();
  std::string longName(400, 'n');
  NWSM_NAME_LIST *l = NameList({"b.Linux File System", longName});
  t_LL lines = ConsLL();
  Capture cap;
  EXPECT_EQ(CopyListToLL(l, lines), 0u);
  cap.Stop();
  ASSERT_EQ(SizeLL(lines), 2u);
  std::string second = static_cast<const char *>(NextElmLL(FirstElmLL(lines)));
  EXPECT_EQ(second, "\"" + longName + "\" d_ 2000.01.01 00:00:00 2000.01.01 00:00:00 4096 - ,\n");
  DestLL(lines);
  NWSMFreeNameList(&l);
}
