// Fuzz target of the stand-in's data-set stream parser: arbitrary bytes
// written as restore streams into a temporary resource, in chunks.
#include <ftw.h>
#include <stdio.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>

#include "fuzz_sandbox.h"
#include "sms/smsapi.h"

extern "C" CCODE vrk_sms_load_world(const char *path);

namespace {

std::string gRoot;
UINT32 gConn = 0;

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  remove(path);
  return 0;
}

// Empties the resource's tree (the tree itself stays).
void clear_tree() {
  nftw(gRoot.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  mkdir(gRoot.c_str(), 0755);
}

// Feeds the stream in chunks of `chunk` bytes; the answers of the writes
// only decide whether the next chunk is still sent.
void feed(UINT32 handle, const uint8_t *p, size_t n, size_t chunk) {
  for (size_t pos = 0; pos < n; pos += chunk) {
    size_t k = n - pos < chunk ? n - pos : chunk;
    if (NWSMTSWriteDataSet(gConn, handle, (UINT32)k, reinterpret_cast<const BUFFER *>(p + pos)) != 0) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const std::string &dir = vrk_fuzz_sandbox();
  gRoot = dir + "/tree";
  mkdir(gRoot.c_str(), 0755);
  mkdir((dir + "/state").c_str(), 0700);
  std::string world = "[world]\nstate = " + dir + "/state\n[smdr test]\n[tsa test.Linux File System]\nresource / = " +
                      gRoot + "\n";
  std::string path = dir + "/world.ini";
  vrk_fuzz_write_file(path, reinterpret_cast<const uint8_t *>(world.data()), world.size());
  if (vrk_sms_load_world(path.c_str()) != 0) abort();
  if (NWSMConnectToTSA("test.Linux File System", &gConn) != 0) abort();
  const char pw[] = "\x06\x00secret";
  if (NWSMTSConnectToTargetService(&gConn, "test", "admin", pw) != 0) abort();
  return 0;
}

// Byte 0: bit 0 names the first data set by a name list ("/r/"; without
// one nothing is written), bits 1-2 choose the restore mode, bit 3 asks for
// no data streams; byte 1: chunk size - 1; bytes 2-3: length of the first
// stream. The first stream opens a data set without a parent, the rest one
// named "f" beneath it, as the engine restores a directory and its files.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  const bool byList = data[0] & 1;
  const UINT32 modes[] = {NWSM_OVERWRITE_DATA_SET, NWSM_DO_NOT_OVERWRITE_CHILD, NWSM_DO_NOT_OVERWRITE_PARENT,
                          NWSM_OVERWRITE_DATA_SET};
  const UINT32 mode = modes[(data[0] >> 1) & 3] | ((data[0] & 8) ? NWSM_NO_DATA_STREAMS : 0);
  const size_t chunk = (size_t)data[1] + 1;
  size_t firstLen = (size_t)(data[2] | (data[3] << 8));
  const uint8_t *p = data + 4;
  size_t n = size - 4;
  if (firstLen > n) firstLen = n;

  clear_tree();
  NWSM_DATA_SET_NAME_LIST *list = nullptr;
  if (byList && NWSMPutOneName(&list, NFSNameSpace, 0, 0, "/", "/", "/r/") != 0) abort();
  UINT32 parent = 0;
  if (NWSMTSOpenDataSetForRestore(gConn, 0, list, mode, &parent) == 0) {
    feed(parent, p, firstLen, chunk);
    UINT32 child = 0;
    NWSM_DATA_SET_NAME_LIST *childName = nullptr;
    if (NWSMPutOneName(&childName, NFSNameSpace, 0, 0, "/", "/", "f") != 0) abort();
    if (firstLen < n && NWSMTSOpenDataSetForRestore(gConn, parent, childName, mode, &child) == 0) {
      feed(child, p + firstLen, n - firstLen, chunk);
      NWSMTSCloseDataSet(gConn, &child);
    }
    free(childName);
    NWSMTSCloseDataSet(gConn, &parent);
  }
  free(list);

  // Nothing lands beside the resource.
  const std::string &dir = vrk_fuzz_sandbox();
  if (vrk_fuzz_names_in(dir) != std::set<std::string>{"state", "tree", "world.ini"}) {
    fprintf(stderr, "a restore stream wrote outside its resource\n");
    abort();
  }
  if (vrk_fuzz_names_in("/tmp").size() != 1) {
    fprintf(stderr, "a restore stream wrote into /tmp\n");
    abort();
  }
  return 0;
}
