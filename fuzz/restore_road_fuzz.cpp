// Fuzz target of the whole restore road: a stored object of arbitrary bytes
// read by the DE record reader, restored by the restore driver through the
// stand-in into a resource, and nothing may change outside the target.
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>

#include "engine/de_stream.h"
#include "engine/engine_globals.h"
#include "engine/restore.h"
#include "engine/session.h"
#include "fuzz_global.h"
#include "fuzz_sandbox.h"
#include "runtime/strlib.h"
#include "sms/smsapi.h"
#include "xbsa/xbsa_session.h"

namespace {

std::string gTree;

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  remove(path);
  return 0;
}

void put(const std::string &path, const char *text) {
  vrk_fuzz_write_file(path, reinterpret_cast<const uint8_t *>(text), strlen(text));
}

// The resource before every input: a file and a directory that a hostile
// object aims at, the target directory holding another link of that file,
// all with fixed modes and times.
void furnish() {
  nftw(gTree.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  mkdir(gTree.c_str(), 0755);
  put(gTree + "/outside.txt", "outside\n");
  mkdir((gTree + "/keep").c_str(), 0755);
  put(gTree + "/keep/inner.txt", "inner\n");
  mkdir((gTree + "/target").c_str(), 0750);
  // A second name of the outside file within the target.
  link((gTree + "/outside.txt").c_str(), (gTree + "/target/linked.txt").c_str());
  struct timespec ts[2] = {{1400000000, 0}, {1400000000, 0}};
  for (const char *p : {"/outside.txt", "/keep/inner.txt", "/keep", "/target", ""})
    utimensat(AT_FDCWD, (gTree + p).c_str(), ts, AT_SYMLINK_NOFOLLOW);
  chmod(gTree.c_str(), 0755);
}

// What a restore could change of one path: kind, mode, owner, times, bytes.
std::string state_of(const std::string &path, bool times) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "missing";
  std::string s = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + " " + std::to_string(st.st_gid);
  if (times) s += " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
  if (S_ISREG(st.st_mode)) {
    FILE *f = fopen(path.c_str(), "rb");
    char buf[64];
    size_t n = f != nullptr ? fread(buf, 1, sizeof(buf), f) : 0;
    if (f != nullptr) fclose(f);
    s += " " + std::string(buf, n);
  }
  return s;
}

[[noreturn]] void finding(const char *what) {
  fprintf(stderr, "restore road: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const std::string &dir = vrk_fuzz_sandbox();
  signal(SIGPIPE, SIG_IGN);
  gTree = dir + "/tree";
  mkdir(gTree.c_str(), 0755);
  mkdir((dir + "/state").c_str(), 0700);
  std::string world = "[world]\nstate = " + dir +
                      "/state\n[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = " + gTree + "\n";
  vrk_fuzz_write_file(dir + "/world.ini", reinterpret_cast<const uint8_t *>(world.data()), world.size());
  if (vrk_sms_load_world((dir + "/world.ini").c_str()) != 0) abort();
  return 0;
}

// Byte 0: bit 0 overwrite, bit 1 plain, bit 2 no data streams, bits 3-4 the
// relocation (none; "-R /target"; "/keep" to "/target"; "/" to "/target").
// The rest is the stored object, read from a local saveset file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const std::string &dir = vrk_fuzz_sandbox();
  const int reloc = (data[0] >> 3) & 3;
  furnish();
  std::map<std::string, std::string> before;
  for (const char *p : {"", "/outside.txt", "/keep", "/keep/inner.txt"})
    before[p] = state_of(gTree + p, reloc != 0 || p[0] != '\0');
  before["/target"] = state_of(gTree + "/target", false);

  vrk_fuzz_fresh_global(dir);
  xbsa_reset_library();
  vrk_nlm_interactive = 0;
  spGlobal->iAlarmIntervall = 0;
  spGlobal->iDataWait = 5;
  spGlobal->lBufferSize = 65536;
  spGlobal->iLogLevel = 0;
  spGlobal->sOptions.iOverwrite = data[0] & 1;
  spGlobal->sOptions.iPlain = (data[0] >> 1) & 1;
  spGlobal->sOptions.iSkipData = (data[0] >> 2) & 1;
  strlcpy(spGlobal->szJobName, "job", sizeof spGlobal->szJobName);
  free(spGlobal->sSMS.cpSaveset);
  spGlobal->sSMS.cpSaveset = strdup("object");
  for (int i = 0; i < VRK_MAX_ITEMS; ++i) spGlobal->szPath[i][0] = spGlobal->szTargetPath[i][0] = '\0';
  const char *sources[] = {"", "", "/keep", "/"};
  if (reloc != 0) {
    strlcpy(spGlobal->szPath[0], sources[reloc], sizeof spGlobal->szPath[0]);
    strlcpy(spGlobal->szTargetPath[0], "/target", sizeof spGlobal->szTargetPath[0]);
  }

  std::string path = dir + "/object";
  vrk_fuzz_write_file(path, data + 1, size - 1);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) abort();
  spGlobal->sLocalSaveset.iFilDes = fd;
  strlcpy(spGlobal->sLocalSaveset.szName, "object", sizeof spGlobal->sLocalSaveset.szName);

  SESSION_INFORMATION *session = GetSessionInfoBuffer();
  if (session == nullptr) abort();
  const char pw[] = "\x01\x00p";
  if (NWSMConnectToTSA("srv1.Linux File System", &session->connection) != 0 ||
      NWSMTSConnectToTargetService(&session->connection, "srv1", "u", pw) != 0)
    abort();
  session->IsUTF8Supp = TRUE;
  Restore(session);
  EndSession(0, session);
  unlink(path.c_str());

  // Nothing beside the resource, nothing outside the target within it.
  if (vrk_fuzz_names_in(dir) != std::set<std::string>{"state", "tree", "world.ini"}) finding("wrote beside the resource");
  if (vrk_fuzz_names_in("/tmp").size() != 1) finding("wrote into /tmp");
  if (reloc != 0) {
    std::set<std::string> top = vrk_fuzz_names_in(gTree);
    if (top != std::set<std::string>{"keep", "outside.txt", "target"}) finding("made an entry outside the target");
    if (vrk_fuzz_names_in(gTree + "/keep") != std::set<std::string>{"inner.txt"}) finding("wrote into /keep");
  }
  for (const auto &kv : before) {
    bool times = kv.first != "/target" && (reloc != 0 || !kv.first.empty());
    // Without -R the stored names place data sets anywhere in the resource,
    // but its top keeps its mode and owner.
    if (reloc == 0 && !kv.first.empty()) continue;
    if (state_of(gTree + kv.first, times) != kv.second) finding(("changed " + kv.first).c_str());
  }
  return 0;
}
