// Helpers of the stand-in's tests: worlds over temporary trees, a logged-in
// connection, scans collected as names, whole data-set streams.
#ifndef VRK_TESTS_SMS_SMS_TEST_UTIL_H
#define VRK_TESTS_SMS_SMS_TEST_UTIL_H

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sms/smsapi.h"
#include "vrk_test_util.h"

namespace smstest {

using vrktest::ReadFile;
using vrktest::TempDir;
using vrktest::WriteFile;

inline void MakeDirs(const std::string &path) {
  std::string cur;
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = path.find('/', pos + 1);
    cur = path.substr(0, pos);
    mkdir(cur.c_str(), 0755);
  }
}

inline void Touch(const std::string &path, const std::string &data, time_t mtime = 0) {
  WriteFile(path, data);
  if (mtime) {
    struct timespec ts[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, path.c_str(), ts, 0);
  }
}

// A world of one TSA "test.Linux File System" whose resource "/" is `root`,
// plus any extra lines; loaded at once.
inline std::string PathWorld(const TempDir &tmp, const std::string &root, const std::string &extra = "",
                             const std::string &tsaExtra = "") {
  std::string text = "[world]\nlog = " + tmp.file("calls.log") + "\nstate = " + tmp.file("state") + "\n" + extra +
                     "[smdr test]\n[tsa test.Linux File System]\nresource / = " + root + "\n" + tsaExtra;
  std::string path = tmp.file("world.ini");
  WriteFile(path, text);
  EXPECT_EQ(0u, vrk_sms_load_world(path.c_str()));
  return path;
}

inline std::string Password(const std::string &pw) {
  std::string s(2, '\0');
  uint16_t n = static_cast<uint16_t>(pw.size());
  memcpy(&s[0], &n, 2);
  return s + pw;
}

// Connects and logs in (plain login), 0 on failure.
inline UINT32 Login(const char *tsa = "test.Linux File System", const char *service = "test",
                    const char *user = "admin", const char *pw = "secret") {
  UINT32 conn = 0;
  if (NWSMConnectToTSA(tsa, &conn) != 0) return 0;
  std::string p = Password(pw);
  if (NWSMTSConnectToTargetService(&conn, service, user, p.data()) != 0) {
    NWSMReleaseTSA(&conn);
    return 0;
  }
  return conn;
}

inline void Logout(UINT32 &conn) {
  NWSMTSReleaseTargetService(&conn);
  NWSMReleaseTSA(&conn);
}

inline NWSM_SCAN_CONTROL Control() {
  NWSM_SCAN_CONTROL c;
  memset(&c, 0, sizeof(c));
  c.bufferSize = 64;
  c.scanControlSize = 61;
  c.scanType = NWSM_EXCLUDE_MIGRATED_CHILD;
  c.returnChildTerminalNodeNameOnly = 1;
  c.scanChildNameSpaceType = 0xFFFFFFFFu;
  c.returnNameSpaceType = 0xFFFFFFFFu;
  return c;
}

inline NWSM_DATA_SET_NAME_LIST *OneName(const std::string &name, UINT32 ns = NFSNameSpace) {
  NWSM_DATA_SET_NAME_LIST *list = nullptr;
  EXPECT_EQ(0u, NWSMPutOneName(&list, ns, 0, 0, "/", "/", name.c_str()));
  return list;
}

inline std::string FirstName(const NWSM_DATA_SET_NAME_LIST *list) {
  NWSM_DATA_SET_NAME n;
  if (NWSMGetOneName(list, &n) != 0) return "<none>";
  std::string s = n.name;
  NWSMFreeDataSetName(&n);
  return s;
}

// The names a scan returns, parents marked by their trailing separator, in order.
inline std::vector<std::string> ScanNames(UINT32 conn, const NWSM_DATA_SET_NAME_LIST *sources,
                                          const NWSM_SCAN_CONTROL &ctl,
                                          const NWSM_SELECTION_LIST *selection = nullptr,
                                          CCODE *first = nullptr) {
  std::vector<std::string> out;
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  CCODE rc = NWSMTSScanDataSetBegin(conn, sources, &ctl, selection, &seq, &info, &names);
  if (first) *first = rc;
  while (rc == 0) {
    std::string n = FirstName(names);
    out.push_back(info->parentFlag ? n : "  " + n);
    rc = NWSMTSScanNextDataSet(conn, &seq, &info, &names);
  }
  EXPECT_TRUE(rc == NWSMTS_NO_MORE_DATA_SETS || (first && *first == rc)) << std::hex << rc;
  if (seq) NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  return out;
}

// Reads the whole stream of the scan's current data set with reads of `block` bytes.
inline std::string ReadStream(UINT32 conn, UINT32 seq, UINT32 block = 65536, std::vector<UINT32> *sizes = nullptr,
                              UINT32 mode = NWSM_NO_LOCK_NO_PROTECTION) {
  UINT32 h = 0;
  EXPECT_EQ(0u, NWSMTSOpenDataSetForBackup(conn, seq, mode, &h));
  std::string out;
  std::vector<char> buf(block);
  while (true) {
    UINT32 got = 0;
    CCODE rc = NWSMTSReadDataSet(conn, h, block, &got, reinterpret_cast<BUFFERPTR>(buf.data()));
    EXPECT_EQ(0u, rc);
    if (rc) break;
    out.append(buf.data(), got);
    if (sizes) sizes->push_back(got);
    if (got < block) break;
  }
  EXPECT_EQ(0u, NWSMTSCloseDataSet(conn, &h));
  return out;
}

struct DataSet {
  bool parent;
  std::string name;
  std::string stream;
};

// Backs up every data set of a scan of `source`.
inline std::vector<DataSet> BackupAll(UINT32 conn, const std::string &source) {
  std::vector<DataSet> out;
  NWSM_DATA_SET_NAME_LIST *src = OneName(source);
  NWSM_SCAN_CONTROL ctl = Control();
  UINT32 seq = 0;
  NWSM_SCAN_INFORMATION *info = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  CCODE rc = NWSMTSScanDataSetBegin(conn, src, &ctl, nullptr, &seq, &info, &names);
  while (rc == 0) {
    out.push_back({info->parentFlag != 0, FirstName(names), ReadStream(conn, seq)});
    rc = NWSMTSScanNextDataSet(conn, &seq, &info, &names);
  }
  EXPECT_EQ(NWSMTS_NO_MORE_DATA_SETS, rc);
  NWSMTSScanDataSetEnd(conn, &seq, &info, &names);
  free(src);
  return out;
}

// Restores data sets as the engine does: parents opened with their (moved)
// full name, children with their terminal name under the parent handle.
// Returns the write answers.
inline std::vector<CCODE> RestoreAll(UINT32 conn, const std::vector<DataSet> &sets, UINT32 parentMode,
                                     UINT32 childMode, const std::string &relocate = "") {
  std::vector<CCODE> answers;
  UINT32 parent = 0;
  for (const DataSet &d : sets) {
    UINT32 h = 0;
    if (d.parent) {
      if (parent) NWSMTSCloseDataSet(conn, &parent);
      NWSM_DATA_SET_NAME_LIST *nl = OneName(relocate.empty() ? d.name : relocate + d.name.substr(1));
      EXPECT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, 0, nl, parentMode, &parent));
      free(nl);
      answers.push_back(NWSMTSWriteDataSet(conn, parent, static_cast<UINT32>(d.stream.size()),
                                           reinterpret_cast<const BUFFER *>(d.stream.data())));
    } else {
      NWSM_DATA_SET_NAME_LIST *nl = OneName(d.name);
      EXPECT_EQ(0u, NWSMTSOpenDataSetForRestore(conn, parent, nl, childMode, &h));
      free(nl);
      answers.push_back(NWSMTSWriteDataSet(conn, h, static_cast<UINT32>(d.stream.size()),
                                           reinterpret_cast<const BUFFER *>(d.stream.data())));
      CCODE rc = NWSMTSCloseDataSet(conn, &h);
      if (answers.back() == 0) answers.back() = rc;
    }
  }
  if (parent) NWSMTSCloseDataSet(conn, &parent);
  return answers;
}

inline std::vector<std::string> LogLines(const TempDir &tmp, const std::string &op) {
  std::vector<std::string> out;
  std::string all = ReadFile(tmp.file("calls.log"));
  size_t pos = 0;
  while (pos < all.size()) {
    size_t nl = all.find('\n', pos);
    std::string line = all.substr(pos, nl - pos);
    if (line.compare(0, op.size() + 1, op + "(") == 0) out.push_back(line);
    pos = nl == std::string::npos ? all.size() : nl + 1;
  }
  return out;
}

}  // namespace smstest

#endif
