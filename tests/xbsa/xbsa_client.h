// Test helpers for the storage client: a clean library per test, collected
// trace lines, environment arrays, descriptors and whole store/read roads.
#ifndef VRK_TESTS_XBSA_XBSA_CLIENT_H
#define VRK_TESTS_XBSA_XBSA_CLIENT_H

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "xbsa/xbsa.h"
#include "xbsa/xbsa_session.h"

namespace vrktest {

inline std::vector<std::string> &TraceLines() {
  static std::vector<std::string> lines;
  return lines;
}

inline void CollectTrace(const char *cpLine) { TraceLines().push_back(cpLine); }

inline bool TraceHas(const std::string &part) {
  for (const auto &l : TraceLines()) {
    if (l.find(part) != std::string::npos) return true;
  }
  return false;
}

// A NULL-ended, writable environment array.
class EnvArray {
 public:
  EnvArray(std::initializer_list<std::string> entries) : store_(entries) { Build(); }
  explicit EnvArray(const std::vector<std::string> &entries) : store_(entries) { Build(); }
  char **get() { return ptrs_.data(); }

 private:
  void Build() {
    for (auto &s : store_) ptrs_.push_back(&s[0]);
    ptrs_.push_back(nullptr);
  }
  std::vector<std::string> store_;
  std::vector<char *> ptrs_;
};

inline BSA_ObjectOwner Owner(const std::string &text) {
  BSA_ObjectOwner o;
  memset(&o, 0, sizeof o);
  // The owner field may be filled to its last byte without a terminator.
  memcpy(o.bsa_ObjectOwner, text.data(), std::min(text.size(), sizeof o.bsa_ObjectOwner));
  return o;
}

// The owner text this client always sends.
inline const char *kSecureOwner() { return "USER=KORVA_SECURE_AUTHENTICATION:PASS=unused"; }

inline BSA_ObjectDescriptor Descriptor(const std::string &name, const std::string &path) {
  BSA_ObjectDescriptor d;
  memset(&d, 0, sizeof d);
  d.copyType = BSA_CopyType_BACKUP;
  d.objectType = BSA_ObjectType_FILE;
  strncpy(d.objectName.objectSpaceName, name.c_str(), sizeof d.objectName.objectSpaceName - 1);
  strncpy(d.objectName.pathName, path.c_str(), sizeof d.objectName.pathName - 1);
  return d;
}

inline std::string LastError() {
  char buf[2048];
  BSA_UInt32 size = sizeof buf;
  if (BSAGetLastError(&size, buf) != 0) return "";
  return std::string(buf, size);
}

inline std::vector<std::string> FtpEnv(int port, const std::string &range = "0-0",
                                      std::vector<std::string> extra = {}) {
  std::vector<std::string> env = {"BSA_SERVICE_HOST=127.0.0.1:" + std::to_string(port), "USER=x", "PASS=y",
                                  "BSA_LOCAL_PORTRANGE=" + range};
  for (auto &e : extra) env.push_back(e);
  return env;
}

// Fresh library state and a trace collector at the given verbosity.
inline void ResetXbsa(unsigned char level = 3) {
  xbsa_reset_library();
  TraceLines().clear();
  BSASetTrace(CollectTrace, nullptr, level);
}

struct OpenResult {
  long handle = 0;
  int init = -1;
  int begin = -1;
  int open = -1;
};

// BSAInit, BSABeginTxn and BSACreateObject (write) or BSAGetObject (read).
inline OpenResult OpenObject(bool bWrite, const std::vector<std::string> &env, const std::string &name,
                             const std::string &path, const std::string &owner = kSecureOwner(),
                             BSA_ObjectDescriptor *pDesc = nullptr) {
  OpenResult r;
  EnvArray e(env);
  BSA_ObjectOwner o = Owner(owner);
  BSA_SecurityToken token = "KORVA_SECURE_AUTHENTICATION";
  r.init = BSAInit(&r.handle, &token, &o, e.get());
  if (r.init != 0) return r;
  r.begin = BSABeginTxn(r.handle);
  BSA_ObjectDescriptor d = Descriptor(name, path);
  BSA_DataBlock32 block;
  memset(&block, 0, sizeof block);
  r.open = bWrite ? BSACreateObject(r.handle, &d, &block) : BSAGetObject(r.handle, &d, &block);
  if (pDesc) *pDesc = d;
  return r;
}

// Sends the data in blocks; the first non-zero BSASendData code or 0.
inline int SendAll(long h, const std::string &data, size_t block = 65536) {
  for (size_t off = 0; off < data.size(); off += block) {
    BSA_DataBlock32 b;
    memset(&b, 0, sizeof b);
    size_t n = std::min(block, data.size() - off);
    b.bufferLen = (BSA_UInt32)n;
    b.numBytes = (BSA_UInt32)n;
    b.bufferPtr = const_cast<char *>(data.data() + off);
    int rc = BSASendData(h, &b);
    if (rc != 0) return rc;
  }
  return 0;
}

// Reads until BSAGetData gives 18 (or an error); returns that code.
inline int ReadAll(long h, std::string *out, size_t block = 65536) {
  std::vector<char> buf(block);
  for (;;) {
    BSA_DataBlock32 b;
    memset(&b, 0, sizeof b);
    b.bufferLen = (BSA_UInt32)block;
    b.bufferPtr = buf.data();
    int rc = BSAGetData(h, &b);
    if (rc == 0 || rc == 18) out->append(buf.data(), b.numBytes);
    if (rc != 0) return rc;
  }
}

inline std::string TestData(size_t n, unsigned seed = 7) {
  std::string s(n, '\0');
  unsigned x = seed;
  for (size_t i = 0; i < n; i++) {
    x = x * 1103515245u + 12345u;
    s[i] = (char)(x >> 16);
  }
  return s;
}

}  // namespace vrktest

#endif
