// Fixture of the database-module tests: the test modules' directory, their
// VRKDB_* variables, a record file per case and a captured DBOperation run.
#ifndef VRK_TESTS_CLIENT_VRK_DB_TEST_UTIL_H
#define VRK_TESTS_CLIENT_VRK_DB_TEST_UTIL_H

#include <stdlib.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "client/vrk_db_clnt.h"
#include "client/vrk_patterns.h"
#include "vrk_client_fixture.h"

namespace vrktest {

inline std::string DbModuleDir() { return std::string(VRK_TEST_BINARY_DIR) + "/tests/dbmodules"; }
inline std::string DbModule(const std::string &name) { return DbModuleDir() + "/" + name + ".so"; }

// The lines of a text.
inline std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

inline const char *const kDbEnv[] = {
    "VRKDB_RECORD", "VRKDB_INIT", "VRKDB_ITEM", "VRKDB_PREPARE", "VRKDB_CLOSE",
    "VRKDB_FILE", "VRKDB_PATH", "VRKDB_ORIG", "VRKDB_PREPARED", "VRKDB_ERRMSG",
    "VRKDB_LOG", "VRKDB_UNTERMINATED", "VRKDB_ERR_UNTERMINATED", "VRKDB_NULL_INFO",
    "VRKDB_REPORTED_TYPE", "VRKDB_BLOCK", "NOTES_DATA_DIR"};

struct DbRun {
  int rc;
  std::string log;
};

class DbTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    for (const char *name : kDbEnv) unsetenv(name);
    record_ = dir_.file("record");
    setenv("VRKDB_RECORD", record_.c_str(), 1);
  }
  void TearDown() override {
    for (const char *name : kDbEnv) unsetenv(name);
    spGlobal->iLogLevel = 0;
    vrk_regfree_all();
    ClientTest::TearDown();
  }

  // A heap copy for a field the record frees.
  static char *Dup(const std::string &s) { return strdup(s.c_str()); }

  void UseModule(const std::string &name) {
    snprintf(spGlobal->szDB_Module, sizeof(spGlobal->szDB_Module), "%s", DbModule(name).c_str());
  }

  DbRun Run() {
    testing::internal::CaptureStderr();
    int rc = DBOperation(nullptr);
    return {rc, testing::internal::GetCapturedStderr()};
  }

  std::vector<std::string> Record() const { return Lines(ReadFile(record_)); }
  // The record lines that begin with the prefix.
  std::vector<std::string> Record(const std::string &prefix) const {
    std::vector<std::string> out;
    for (const std::string &line : Record())
      if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
  }

  TempDir dir_;
  std::string record_;
};

}  // namespace vrktest

#endif
