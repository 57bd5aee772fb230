// The stand-in's process state: world loading, handles, faults and call log.
#include "sms/sms_state.h"

#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "sms/sms_archive.h"
#include "sms/sms_deferred.h"
#include "sms/smsapi.h"

extern "C" CCODE vrk_sms_connect_ex_impl(UINT32 *, const char *, const char *, const void *, UINT32);
extern "C" CCODE vrk_sms_scan_continue_impl(UINT32, const NWSM_DATA_SET_NAME_LIST *,
                                            const NWSM_SCAN_CONTROL *, const NWSM_SELECTION_LIST *,
                                            const NWSM_DATA_SET_NAME_LIST *, UINT32 *,
                                            NWSM_SCAN_INFORMATION **, NWSM_DATA_SET_NAME_LIST **);

NWSMTSConnectToTargetServiceEx_t NWSMTSConnectToTargetServiceEx = vrk_sms_connect_ex_impl;
NWSMTSScanDataSetContinue_t NWSMTSScanDataSetContinue = vrk_sms_scan_continue_impl;

namespace vrksms {

std::string Format(const char *fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, sizeof(buf), fmt, ap);
  va_end(ap);
  if (n < 0) return "";
  if (static_cast<size_t>(n) < sizeof(buf)) return buf;
  std::string s(static_cast<size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  vsnprintf(&s[0], s.size(), fmt, ap);
  va_end(ap);
  s.resize(static_cast<size_t>(n));
  return s;
}

static void Load(const char *path) {
  State &g = G();
  FinishAllDeferredDirs();
  g.handles.clear();
  g.connections.clear();
  g.counters.clear();
  g.counterOf.clear();
  g.connectsFailed = g.loginsFailed = 0;
  ResetArchiveCache();
  if (g.log) {
    fclose(g.log);
    g.log = nullptr;
  }
  g.worldOk = true;
  g.worldError.clear();
  std::string file = path ? path : "";
  if (!path) {
    const char *env = getenv(kWorldVariable);
    if (env && *env) file = env;
  }
  if (file.empty()) {
    g.world = DefaultWorld();
  } else if (!ReadWorldFile(file, g.world, g.worldError)) {
    g.worldOk = false;
    g.world = World();
    fprintf(stderr, "vrk_sms: world file %s\n", g.worldError.c_str());
  }
  if (g.worldOk && !g.world.logPath.empty()) {
    g.log = fopen(g.world.logPath.c_str(), "a");
    if (!g.log) {
      g.worldOk = false;
      g.worldError = "cannot open the call log " + g.world.logPath;
      fprintf(stderr, "vrk_sms: %s\n", g.worldError.c_str());
    }
  }
  bool optional = g.worldOk && g.world.optionalCalls;
  NWSMTSConnectToTargetServiceEx = optional ? vrk_sms_connect_ex_impl : nullptr;
  NWSMTSScanDataSetContinue = optional ? vrk_sms_scan_continue_impl : nullptr;
  g.loaded = true;
}

void EnsureWorld() {
  if (!G().loaded) Load(nullptr);
}

UINT32 NewHandle() {
  State &g = G();
  UINT32 h = g.nextHandle++;
  if (g.nextHandle == 0xFFFFFFFFu) g.nextHandle = 0x00010000u;
  return h;
}

Connection *FindConnection(UINT32 connection) {
  auto it = G().connections.find(connection);
  return it == G().connections.end() ? nullptr : &it->second;
}

void DropConnection(UINT32 connection) {
  State &g = G();
  FinishDeferredDirs(connection);
  for (auto it = g.handles.begin(); it != g.handles.end();) {
    if (it->second->connection == connection) it = g.handles.erase(it);
    else ++it;
  }
  g.connections.erase(connection);
}

void BoundedCopy(char *out, size_t bound, const char *text) {
  if (!bound) return;
  size_t n = strnlen(text, bound - 1);
  memcpy(out, text, n);
  out[n] = '\0';
}

UINT32 AddHandle(std::unique_ptr<HandleObject> obj) {
  UINT32 h = NewHandle();
  G().handles[h] = std::move(obj);
  return h;
}

void CloseHandle(UINT32 handle) { G().handles.erase(handle); }

Call::Call(const char *op) : op_(op) { EnsureWorld(); }

void Call::Args(const char *fmt, ...) {
  if (!Logging()) return;
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof(buf), fmt, ap);
  va_end(ap);
  args_ = buf;
}

CCODE Call::Begin(UINT32 connection, Connection **conn, bool allowLost) {
  State &g = G();
  if (!g.worldOk) return NWSMDR_WORLD_ERROR;
  // Every call names its operation with the same literal: its counter is
  // found by that pointer first, by the name only once.
  uint64_t *&counter = g.counterOf[op_];
  if (!counter) {
    auto it = g.counters.find(std::string_view(op_));
    if (it == g.counters.end()) it = g.counters.emplace(op_, 0).first;
    counter = &it->second;
  }
  number_ = ++*counter;
  Connection *c = nullptr;
  if (connection != kNoConnection || conn) {
    c = FindConnection(connection);
    if (!c) return NWSMTS_INVALID_CONNECTION_HANDLE;
    if (c->lost && !allowLost) return c->lost;
  }
  if (conn) *conn = c;
  for (const Fault &f : g.world.faults) {
    if (f.op != op_ || number_ < f.from || number_ > f.to) continue;
    if (f.stop) {
      // A test changes what it likes while the process stands, then sends
      // SIGCONT; the call log says where it stopped.
      if (g.log) {
        fprintf(g.log, "stop %s call %llu\n", op_, static_cast<unsigned long long>(number_));
        fflush(g.log);
      }
      raise(SIGSTOP);
      continue;
    }
    if (f.lose && c) c->lost = f.code;
    return f.code;
  }
  return 0;
}

CCODE Call::End(CCODE code) {
  State &g = G();
  if (g.log) {
    fprintf(g.log, "%s(%s) = 0x%08X\n", op_, args_.c_str(), static_cast<unsigned>(code));
    fflush(g.log);
  }
  return code;
}

}  // namespace vrksms

extern "C" CCODE vrk_sms_load_world(const char *path) {
  vrksms::Load(path);
  return vrksms::G().worldOk ? 0 : NWSMDR_WORLD_ERROR;
}
