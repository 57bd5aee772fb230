// Helpers of the engine tests: stand-in worlds with a call log, capture of
// standard output and error around a call, and a fresh global state.
#ifndef VRK_TESTS_ENGINE_ENGINE_TEST_UTIL_H
#define VRK_TESTS_ENGINE_ENGINE_TEST_UTIL_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "engine/engine_globals.h"
#include "sms/smsapi.h"
#include "vrk_test_util.h"

namespace enginetest {

// A stand-in world in a temporary directory, loaded for this process.
class World {
 public:
  // body: the world file without its [world] log line, which is added.
  explicit World(const std::string &body) {
    log_ = dir_.file("calls.log");
    data_ = dir_.path() + "/data";
    std::string cmd = "mkdir -p '" + data_ + "'";
    if (system(cmd.c_str()) != 0) {
    }
    std::string text = "[world]\nlog = " + log_ + "\n" + body;
    size_t p;
    while ((p = text.find("@DATA@")) != std::string::npos) text.replace(p, 6, data_);
    path_ = dir_.file("world.ini");
    vrktest::WriteFile(path_, text);
    loaded_ = vrk_sms_load_world(path_.c_str()) == 0;
  }
  ~World() { vrk_sms_load_world(nullptr); }
  bool loaded() const { return loaded_; }
  const std::string &path() const { return path_; }
  const std::string &dir() const { return dir_.path(); }
  // Lines of the call log.
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::istringstream in(vrktest::ReadFile(log_));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  // Calls of one operation ("NWSMConnectToTSA"), in order.
  std::vector<std::string> Calls(const std::string &op) const {
    std::vector<std::string> out;
    for (const std::string &l : Calls())
      if (l.compare(0, op.size() + 1, op + "(") == 0) out.push_back(l);
    return out;
  }

 private:
  vrktest::TempDir dir_;
  std::string log_, data_, path_;
  bool loaded_ = false;
};

// Captures standard output and standard error from construction to Stop().
class Capture {
 public:
  Capture() {
    fflush(stdout);
    fflush(stderr);
    out_file_ = tmpfile();
    err_file_ = tmpfile();
    saved_out_ = dup(STDOUT_FILENO);
    saved_err_ = dup(STDERR_FILENO);
    dup2(fileno(out_file_), STDOUT_FILENO);
    dup2(fileno(err_file_), STDERR_FILENO);
  }
  ~Capture() { Stop(); }
  void Stop() {
    if (saved_out_ < 0) return;
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out_, STDOUT_FILENO);
    dup2(saved_err_, STDERR_FILENO);
    close(saved_out_);
    close(saved_err_);
    saved_out_ = saved_err_ = -1;
    out_ = Slurp(out_file_);
    err_ = Slurp(err_file_);
  }
  const std::string &out() {
    Stop();
    return out_;
  }
  const std::string &err() {
    Stop();
    return err_;
  }

 private:
  static std::string Slurp(FILE *f) {
    std::string s;
    rewind(f);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
  }
  FILE *out_file_ = nullptr, *err_file_ = nullptr;
  int saved_out_ = -1, saved_err_ = -1;
  std::string out_, err_;
};

inline int Count(const std::string &s, const std::string &part) {
  int n = 0;
  for (size_t p = s.find(part); p != std::string::npos; p = s.find(part, p + 1)) ++n;
  return n;
}

// The delays of the "Delay  %2d ms" lines, in order.
inline std::vector<int> Delays(const std::string &err) {
  std::vector<int> out;
  const std::string key = "Delay  ";
  for (size_t p = err.find(key); p != std::string::npos; p = err.find(key, p + 1))
    out.push_back(atoi(err.c_str() + p + key.size()));
  return out;
}

// A fresh global state with the client's defaults that matter to the engine,
// pauses switched off and no interactive flag.
inline void FreshState() {
  vrktest::ResetGlobal();
  spGlobal->sLocalSaveset.iFilDes = -1;
  spGlobal->sVRKObject.iGenPid = -1;
  spGlobal->lBufferSize = 65536;
  spGlobal->bCompress = 1;
  vrk_nlm_interactive = 0;
  gbGW2012 = FALSE;
  giAddSlashToResource = 0;
  setenv("VRK_TEST_DELAY_SCALE", "0", 1);
}

// A name list made of the given names (freed by NWSMFreeNameList).
inline NWSM_NAME_LIST *NameList(const std::vector<std::string> &names) {
  NWSM_NAME_LIST *head = nullptr, **tail = &head;
  for (const std::string &n : names) {
    NWSM_NAME_LIST *node = static_cast<NWSM_NAME_LIST *>(calloc(1, sizeof(NWSM_NAME_LIST)));
    node->name = strdup(n.c_str());
    *tail = node;
    tail = &node->next;
  }
  return head;
}

}  // namespace enginetest

#endif
