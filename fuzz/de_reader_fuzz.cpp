// Fuzz target of the DE record reader: a stored object of arbitrary bytes
// read record by record from a local saveset file or a pipe, as a restore does.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "engine/de_stream.h"
#include "engine/engine_globals.h"
#include "engine/session.h"
#include "fuzz_global.h"
#include "fuzz_sandbox.h"
#include "runtime/strlib.h"
#include "sms/smsapi.h"
#include "xbsa/xbsa_session.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vrk_fuzz_sandbox();
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

// The first two bytes choose this run's buffer size (1 to 32768 bytes: a
// record written with a larger buffer grows it) and, by their top bit, a
// pipe instead of a saveset file; the rest is the object.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const bool pipeRoad = (data[1] & 0x80) != 0;
  // A pipe takes the whole object before it is read.
  if (pipeRoad && size - 2 > 65536) return 0;
  const std::string &dir = vrk_fuzz_sandbox();
  vrk_fuzz_fresh_global(dir);
  xbsa_reset_library();
  vrk_nlm_interactive = 0;
  spGlobal->iAlarmIntervall = 0;
  spGlobal->iDataWait = 5;
  spGlobal->lBufferSize = (int32_t)((data[0] | ((data[1] & 0x7F) << 8)) + 1);
  spGlobal->iLogLevel = 0;
  strlcpy(spGlobal->szJobName, "job", sizeof spGlobal->szJobName);
  free(spGlobal->sSMS.cpSaveset);
  spGlobal->sSMS.cpSaveset = strdup("dummy");

  std::string path = dir + "/object";
  int fd = -1;
  if (pipeRoad) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) abort();
    size_t done = 0;
    while (done < size - 2) {
      ssize_t n = write(p[1], data + 2 + done, size - 2 - done);
      if (n <= 0) abort();
      done += (size_t)n;
    }
    close(p[1]);
    fd = p[0];
  } else {
    vrk_fuzz_write_file(path, data + 2, size - 2);
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) abort();
  spGlobal->sLocalSaveset.iFilDes = fd;
  strlcpy(spGlobal->sLocalSaveset.szName, "saveset", sizeof spGlobal->sLocalSaveset.szName);

  SESSION_INFORMATION *session = GetSessionInfoBuffer();
  if (session == nullptr) abort();
  if (OpenDEFiles('r', session, 0) == 0) {
    // Every record costs at least its 8 header bytes: the loop ends.
    for (size_t i = 0; i <= size / 8 + 1; ++i) {
      UINT32 recordSize = 0;
      UINT8 parent = 0, tno = 0;
      NWSM_DATA_SET_NAME_LIST *name = nullptr;
      BUFFER *buf = ReadDEFiles(&recordSize, &parent, &tno, session, &name);
      if (buf == nullptr) break;
      if (recordSize != DE_END_OF_RECORD && recordSize > 0) {
        // The data must be readable to its end.
        volatile uint8_t sink = ((const uint8_t *)buf)[0] ^ ((const uint8_t *)buf)[recordSize - 1];
        (void)sink;
      }
      if (name != nullptr) {
        // The restore road hands the name list to the stand-in.
        NWSM_DATA_SET_NAME one;
        if (NWSMGetOneName(name, &one) == 0) NWSMFreeDataSetName(&one);
        free(name);
      }
    }
  }
  CloseDEFiles(session);
  ReleaseSessionInfoBuffer(session);
  if (!pipeRoad) unlink(path.c_str());
  return 0;
}
