// Process state of the stand-in: the loaded world, connections, handles,
// call counters with the fault switches, and the call log.
#ifndef VRK_SMS_SMS_STATE_H
#define VRK_SMS_SMS_STATE_H

#include <time.h>
#include <utility>
#include <stdio.h>

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sms/sms_namelist.h"
#include "sms/sms_world.h"
#include "sms/smstypes.h"

namespace vrksms {

// Connection handle value meaning "this call takes no connection".
constexpr UINT32 kNoConnection = 0;

struct Connection {
  const Tsa *tsa = nullptr;
  bool loggedIn = false;
  std::string service;
  CCODE lost = 0;  // set by a lost-connection fault: every call answers it
  std::vector<NameEntry> restoreSelection;
  // Directories of another user found at a restored directory's name:
  // nothing of the restore is placed in them or beneath them.
  struct RefusedDir {
    const Resource *res = nullptr;
    std::vector<std::string> comps;
    std::string fullName;
  };
  std::vector<RefusedDir> refusedDirs;
};

// Anything a handle names (scan, data set, name iterator, extension).
struct HandleObject {
  UINT32 connection = 0;  // 0: not bound to a connection
  virtual ~HandleObject() = default;
};

struct State {
  World world;
  bool loaded = false;
  bool worldOk = true;
  std::string worldError;
  std::map<UINT32, Connection> connections;
  std::map<UINT32, std::unique_ptr<HandleObject>> handles;
  std::map<std::string, uint64_t, std::less<>> counters;  // calls of each operation by its name
  std::unordered_map<const char *, uint64_t *> counterOf;  // the counter of an operation's literal
  uint32_t connectsFailed = 0, loginsFailed = 0;
  FILE *log = nullptr;
  UINT32 nextHandle = 0x00010000u;
};

// The one process state (inline: every call of the interface asks for it).
inline State &G() {
  static State state;
  return state;
}
void EnsureWorld();
UINT32 NewHandle();  // never 0 or 0xFFFFFFFF, never reused while the process runs
Connection *FindConnection(UINT32 connection);
void DropConnection(UINT32 connection);  // closes every handle bound to it

template <class T>
T *FindHandle(UINT32 handle, UINT32 connection) {
  auto it = G().handles.find(handle);
  if (it == G().handles.end()) return nullptr;
  T *obj = dynamic_cast<T *>(it->second.get());
  if (!obj || obj->connection != connection) return nullptr;
  return obj;
}

UINT32 AddHandle(std::unique_ptr<HandleObject> obj);
void CloseHandle(UINT32 handle);

// One call of the interface: counts it, applies the fault switches, checks
// the connection and writes the call-log line.
class Call {
 public:
  explicit Call(const char *op);
  bool Logging() const { return G().log != nullptr; }
  void Args(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  // connection kNoConnection: none checked. allowLost: the release calls.
  CCODE Begin(UINT32 connection, Connection **conn = nullptr, bool allowLost = false);
  CCODE End(CCODE code);
  uint64_t Number() const { return number_; }

 private:
  const char *op_;
  std::string args_;
  uint64_t number_ = 0;
};

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// A malloc'd NWSM_NAME_LIST of these names (types: the node types, or none).
CCODE MakeNameList(const std::vector<std::string> &names, const std::vector<UINT32> &types,
                   NWSM_NAME_LIST **out);
char *DupString(const std::string &s);  // malloc'd copy, NULL without memory
// Copies text into out of `bound` bytes, cut and always terminated.
void BoundedCopy(char *out, size_t bound, const char *text);

}  // namespace vrksms

#endif
