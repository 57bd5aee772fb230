// Test fixture of the client configuration: a fresh global state per case
// (heap fields freed, defaults filled, getopt reset) and an in-process parser run.
#ifndef VRK_TESTS_CLIENT_VRK_CLIENT_FIXTURE_H
#define VRK_TESTS_CLIENT_VRK_CLIENT_FIXTURE_H

#include <getopt.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "client/vrk_io.h"
#include "client/vrk_options.h"
#include "client/vrk_relocation.h"
#include "client/vrk_saveset_file.h"
#include "vrk_test_util.h"

namespace vrktest {

// Frees what the record holds on the heap and closes what it holds open, so
// that zeroing it loses nothing.
inline void FreeGlobalHeap() {
  _sVRKGlobal *g = spGlobal;
  char **heap[] = {&g->sSMS.cpHost,       &g->sSMS.cpUser,       &g->sSMS.cpPassword,
                   &g->sSMS.cpRemoteDir,  &g->sSMS.cpDevice,     &g->sSMS.cpMode,
                   &g->sSMS.cpSaveset,    &g->sSMS.cpInfo,       &g->sSMS.cpInter,
                   &g->sSMS.cpTapeLabel,  &g->sSMS.cpDATAFlags,  &g->sDirs.cpLog,
                   &g->sDirs.cpTimes,     &g->sDirs.cpWork,      &g->sDirs.cpTmp,
                   &g->sDirs.cpBin,       &g->sDirs.cpIni,       &g->cpKorvaVersion,
                   &g->cpPackage,         &g->sVRKObject.cpIncludeList,
                   &g->sVRKObject.cpAdditionalFindArg};
  for (char **p : heap) {
    free(*p);
    *p = nullptr;
  }
  for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
    free(g->sVRKObject.cpItem[i]);
    free(g->sVRKObject.cpExclude[i]);
    g->sVRKObject.cpItem[i] = g->sVRKObject.cpExclude[i] = nullptr;
  }
  if (g->sVRKObject.iExcludeFile > 2) close(g->sVRKObject.iExcludeFile);
  if (g->sLocalSaveset.iFilDes > 2) close(g->sLocalSaveset.iFilDes);
  vrk_saveset_finish(false);
  if (g->sVRKMsgTarget.fpLogFileDes != nullptr) fclose(g->sVRKMsgTarget.fpLogFileDes);
  g->sVRKMsgTarget.fpLogFileDes = nullptr;
  if (g->RelocationContext != nullptr) {
    DestroyPathRelocContext(g->RelocationContext);
    free(g->RelocationContext);
    g->RelocationContext = nullptr;
  }
  ResetRelocState();
}

// Zeroes the record and fills the defaults, as main does; getopt starts over.
inline void FreshGlobal() {
  FreeGlobalHeap();
  vrk_reset_global();
  testing::internal::CaptureStderr();
  vrk_setdefaults();
  testing::internal::GetCapturedStderr();
  optind = 0;
}

// A writable argument vector built from texts, with argv[0] "vrk".
class Argv {
 public:
  explicit Argv(const std::vector<std::string> &args) : text_{"vrk"} {
    text_.insert(text_.end(), args.begin(), args.end());
    for (std::string &s : text_) ptr_.push_back(&s[0]);
    ptr_.push_back(nullptr);
  }
  int argc() const { return (int)text_.size(); }
  char **argv() { return ptr_.data(); }
  // The bytes of the original argument i as they are now.
  const std::string &original(size_t i) const { return text_[i]; }

 private:
  std::vector<std::string> text_;
  std::vector<char *> ptr_;
};

struct ParseRun {
  int rc;
  std::string err;
};

// Runs the parser in-process on a fresh state and captures standard error.
inline ParseRun RunParser(Argv &args, bool fresh = true) {
  if (fresh) FreshGlobal();
  optind = 0;
  opterr = 1;
  testing::internal::CaptureStderr();
  int rc = vrk_analyze_opt(args.argc(), args.argv());
  std::string err = testing::internal::GetCapturedStderr();
  return {rc, err};
}

inline ParseRun RunParser(const std::vector<std::string> &args) {
  Argv a(args);
  return RunParser(a);
}

// Frees the global state at the end of a test so that leak checks stay clean.
class ClientTest : public testing::Test {
 protected:
  void SetUp() override {
    FreshGlobal();
    vrk_saveset_read_forget();  // nothing read ahead of another test's saveset
  }
  void TearDown() override {
    FreeGlobalHeap();
    vrk_reset_global();
  }
};

}  // namespace vrktest

#endif
