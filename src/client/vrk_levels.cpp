// Backup levels, operation and level names for messages, and the header
// format names that the option parser uses.
#include "client/vrk_levels.h"

#include <stdio.h>
#include <string.h>

#include "runtime/strlib.h"

namespace {

struct LevelKeyword {
  const char *cpWord;
  _eBackupType eLevel;
  E_OPERATION eOnlyFor;  // OPERATION_NOT_INITIALIZED: every operation
};

// Tried in this order; the first match wins.
const LevelKeyword kLevels[] = {
    {"FULL", FULL, OPERATION_NOT_INITIALIZED},
    {"INCR", INCREMENTAL, OPERATION_NOT_INITIALIZED},
    {"COPY", COPY, OPERATION_NOT_INITIALIZED},
    {"DIFF", DIFFERENTIAL, OPERATION_NOT_INITIALIZED},
    {"SINCE", SINCE, BACKUP},
    {"SELECTIVE", SELECTIVE, RESTORE},
    {"LIST", E_LIST, OPERATION_NOT_INITIALIZED},
};

}  // namespace

char *vrk_strupr(char *cpText) {
  if (cpText == nullptr) return nullptr;
  return uppercase(cpText);
}

_eBackupType vrk_level(char *cpLevel) {
  if (cpLevel == nullptr) return E_TYPE_UNKNOWN;
  vrk_strupr(cpLevel);
  size_t len = strlen(cpLevel);
  for (const LevelKeyword &k : kLevels) {
    size_t n = strlen(k.cpWord) + 1;
    if (len < n) n = len;
    if (strncmp(cpLevel, k.cpWord, n) != 0) continue;
    if (k.eOnlyFor != OPERATION_NOT_INITIALIZED && k.eOnlyFor != spGlobal->eOPERATION) continue;
    return k.eLevel;
  }
  return E_TYPE_UNKNOWN;
}

const char *vrk_getopstr(E_OPERATION eOperation) {
  static char szOp[512];
  const char *name;
  switch (eOperation) {
    case BACKUP: name = "BACKUP"; break;
    case RESTORE: name = "RESTORE"; break;
    case PUT: name = "PUT"; break;
    case GET: name = "GET"; break;
    case KILL: name = "KILL"; break;
    default: name = "NOOP"; break;
  }
  snprintf(szOp, sizeof(szOp), "%s", name);
  return szOp;
}

const char *vrk_getlevelstr(_eBackupType eLevel) {
  static char szLevel[512];
  const char *name;
  switch (eLevel) {
    case FULL: name = "FULL"; break;
    case INCREMENTAL: name = "INCR"; break;
    case DIFFERENTIAL: name = "DIFF"; break;
    case SINCE: name = "SINCE"; break;
    case COPY: name = "COPY"; break;
    case SELECTIVE: name = "SELECTIVE"; break;
    case E_LIST: name = "LIST"; break;
    default: name = "E_TYPE_UNKNOWN"; break;
  }
  snprintf(szLevel, sizeof(szLevel), "%s", name);
  return szLevel;
}

_eHdrFmt vrk_strtofmt(const char *cpFormat) {
  if (cpFormat == nullptr) return HDR_UNKNOWN;
  static const struct {
    const char *cpName;
    _eHdrFmt eFmt;
  } kFormats[] = {
      {"CPIO_VRK", HDR_VRK},
      {"CPIO_ASCII", HDR_CPIO_ASCII},
      {"CPIO_NEW_ASCII", HDR_CPIO_NEW},
      {"RAW", HDR_RAW},
  };
  for (const auto &f : kFormats)
    if (strncmp(cpFormat, f.cpName, strlen(f.cpName)) == 0) return f.eFmt;
  return HDR_UNKNOWN;
}
