// Environment settings read between the defaults and the command line, and
// the reading of the main ini file that they name.
#include "client/vrk_env.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "client/vrk_global.h"
#include "client/vrk_inifile.h"
#include "client/vrk_levels.h"
#include "client/vrk_numbers.h"
#include "runtime/bounded_read.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

const char *env_value(const char *cpName) {
  const char *v = getenv(cpName);
  return (v != nullptr && *v != '\0') ? v : nullptr;
}

// A wait time or buffer size: a positive decimal number, else a warning and
// the value stays.
void positive_setting(const char *cpName, int *piField) {
  const char *v = env_value(cpName);
  if (v == nullptr) return;
  if (!vrk_positive_number(v, piField))
    vrk_log(2500, "Invalid value [%s] of %s ignored, using %d", v, cpName, *piField);
}

}  // namespace

void vrk_getenv(void) {
  _sVRKGlobal *g = spGlobal;

  positive_setting("VRK_DATA_WAIT", &g->iDataWait);
  positive_setting("VRK_GEN_WAIT", &g->iGenWait);

  const char *v = env_value("VRK_HDR_FMT");
  if (v != nullptr) g->eHdrFmt = vrk_strtofmt(v);

  v = env_value("VRK_HOME");
  if (v != nullptr && strlen(v) < sizeof(g->szVRKDir)) {
    strlcpy(g->szVRKDir, v, sizeof(g->szVRKDir));
  } else {
    if (v != nullptr)
      vrk_log(2500, "VRK_HOME longer than %d characters ignored", (int)sizeof(g->szVRKDir) - 1);
    strlcpy(g->szVRKDir, ".", sizeof(g->szVRKDir));
  }

  positive_setting("VRK_DATABUF", &g->iDataBuf);

  const char *ini = getenv("KV_INI");
  if (ini == nullptr) ini = "/etc/korva2000.ini";
  // Configuration files that are pipes or devices get the data wait, the
  // main ini file too; the ini file may set another one.
  vrk_set_read_wait(g->iDataWait);
  if (*ini != '\0') vrk_parse_inifile(ini);
  vrk_set_read_wait(g->iDataWait);

  if (g->sDirs.cpTmp != nullptr) {
    size_t len = strlen(g->sDirs.cpTmp);
    while (len > 0 && g->sDirs.cpTmp[len - 1] == '/') g->sDirs.cpTmp[--len] = '\0';
  }

  const char *cols = getenv("COLUMNS");
  if (cols == nullptr || (*cols != '\0' && atoi(cols) <= 219)) setenv("COLUMNS", "220", 1);
}
