// A fresh global client state per fuzz input: what the record holds on the
// heap freed and closed, the record zeroed and the defaults filled.
#ifndef VRK_FUZZ_FUZZ_GLOBAL_H
#define VRK_FUZZ_FUZZ_GLOBAL_H

#include <getopt.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "client/vrk_global.h"
#include "client/vrk_relocation.h"

inline void vrk_fuzz_free_global() {
  _sVRKGlobal *g = spGlobal;
  char **heap[] = {&g->sSMS.cpHost,      &g->sSMS.cpUser,        &g->sSMS.cpPassword, &g->sSMS.cpRemoteDir,
                   &g->sSMS.cpDevice,    &g->sSMS.cpMode,        &g->sSMS.cpSaveset,  &g->sSMS.cpInfo,
                   &g->sSMS.cpInter,     &g->sSMS.cpTapeLabel,   &g->sSMS.cpDATAFlags, &g->sDirs.cpLog,
                   &g->sDirs.cpTimes,    &g->sDirs.cpWork,       &g->sDirs.cpTmp,     &g->sDirs.cpBin,
                   &g->sDirs.cpIni,      &g->cpKorvaVersion,     &g->cpPackage,       &g->sVRKObject.cpIncludeList,
                   &g->sVRKObject.cpAdditionalFindArg};
  for (char **p : heap) {
    free(*p);
    *p = nullptr;
  }
  for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
    free(g->sVRKObject.cpItem[i]);
    free(g->sVRKObject.cpExclude[i]);
    free(g->sVRKObject.cpIgnore[i]);
    g->sVRKObject.cpItem[i] = g->sVRKObject.cpExclude[i] = g->sVRKObject.cpIgnore[i] = nullptr;
  }
  if (g->sVRKObject.iExcludeFile > 2) close(g->sVRKObject.iExcludeFile);
  if (g->sLocalSaveset.iFilDes > 2) close(g->sLocalSaveset.iFilDes);
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
// The directories the client writes to are put under dir.
inline void vrk_fuzz_fresh_global(const std::string &dir) {
  vrk_fuzz_free_global();
  vrk_reset_global();
  vrk_setdefaults();
  _sVRKGlobal *g = spGlobal;
  char **dirs[] = {&g->sDirs.cpLog, &g->sDirs.cpTimes, &g->sDirs.cpWork, &g->sDirs.cpTmp, &g->sDirs.cpIni};
  for (char **p : dirs) {
    free(*p);
    *p = strdup(dir.c_str());
  }
  optind = 0;
}

#endif
