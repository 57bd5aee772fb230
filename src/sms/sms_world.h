// The stand-in's world: SMDRs, TSAs, target services, credentials, resources,
// capabilities and fault switches, read from a world file or built by default.
#ifndef VRK_SMS_SMS_WORLD_H
#define VRK_SMS_SMS_WORLD_H

#include <stdint.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vrksms {

struct Resource {
  std::string name;       // "/" or "/srv" (path style), "VOL1:" (volume style)
  std::string dir;        // backing directory
  bool fixedBlocks = false;
  uint32_t blockSize = 0, totalBlocks = 0, freeBlocks = 0;
  std::string mountType;  // "nssvol", "local", ...
};

struct Tsa {
  std::string name;
  std::string smdr;
  uint16_t apiMajor = 3, apiMinor = 0;
  bool utf8 = true;
  std::vector<uint32_t> nameSpaces{2, 0, 4};  // local numbers, first = default
  bool volumeStyle = false;                   // resources "VOL1:" instead of "/..."
  std::vector<std::string> services;
  std::vector<std::pair<std::string, std::string>> users;  // empty: every login accepted
  std::vector<Resource> resources;
  bool archive = true;
  bool fixName = true;
  bool preserveAccessTime = true;
  uint32_t openModes = 0xFu;  // bit m: backup open mode m (0 to 3) supported
  uint32_t scanTypes = 0x1u | 0x2u | 0x2000u | 0x4000u;
  uint32_t unsupportedBackup = 0, unsupportedRestore = 0;
};

struct Fault {
  std::string op;
  uint64_t from = 0, to = 0;  // call numbers, from 1
  uint32_t code = 0;
  bool lose = false;          // the connection is lost from then on
  bool stop = false;          // the process stops itself (SIGSTOP) instead
};

struct World {
  std::vector<std::string> smdrs;
  std::vector<Tsa> tsas;
  std::string logPath;
  std::string stateDir;
  bool optionalCalls = true;
  bool unnamedNewFiles = true;  // a restored new file is written unnamed and linked in
  // A restore's new files fail as a full or failing disk makes them: their
  // data cannot be written, or their close fails (after closing them).
  enum class NewFileFault { kNone, kData, kClose };
  NewFileFault failNewFile = NewFileFault::kNone;
  std::vector<Fault> faults;
  uint32_t failConnects = 0, failConnectCode = 0xFFFDFFBAu;
  uint32_t failLogins = 0, failLoginCode = 0xFFFDFFD7u;
  std::set<std::string> inUse;  // full data-set names reported in use until deleted
};

// The default world: one SMDR named after the host, its TSA
// "<host>.Linux File System" with the resource "/" on this machine's root.
World DefaultWorld();

// Reads a world file; false with a message "line N: reason" on error.
bool ReadWorldFile(const std::string &path, World &world, std::string &error);

// Environment variable naming the world file.
extern const char *const kWorldVariable;

}  // namespace vrksms

#endif
