// Information calls: API version, name types, component versions,
// unsupported options, and the texts of open modes, scan and selection types.
#include <stdio.h>
#include <string.h>
#include <sys/utsname.h>

#include "sms/sms_state.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

void CopyText(char *out, size_t bound, const char *text) { BoundedCopy(out, bound, text); }

CCODE Version(UINT32 connection, NWSM_MODULE_VERSION_INFO *info, const char *op, const char *module) {
  Call c(op);
  c.Args("connection=0x%X", connection);
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  if (!info) return c.End(NWSMTS_INVALID_PARAMETER);
  memset(info, 0, sizeof(*info));
  CopyText(info->moduleFileName, sizeof(info->moduleFileName), module);
  info->moduleMajorVersion = 1;
  info->moduleMinorVersion = 0;
  info->moduleRevisionLevel = 0;
  struct utsname u;
  unsigned a = 0, b = 0, r = 0;
  if (uname(&u) == 0) {
    CopyText(info->OSName, sizeof(info->OSName), u.sysname);
    sscanf(u.release, "%u.%u.%u", &a, &b, &r);
  } else {
    CopyText(info->OSName, sizeof(info->OSName), "Linux");
  }
  info->OSMajorVersion = static_cast<UINT16>(a);
  info->OSMinorVersion = static_cast<UINT16>(b);
  info->OSRevisionLevel = static_cast<UINT16>(r);
  return c.End(0);
}

struct ScanTypeText {
  UINT32 bit;
  const char *text;
};
const ScanTypeText kScanTypes[] = {
    {0x1u, "Do not traverse subdirectories"},
    {0x2u, "Exclude archived children"},
    {0x2000u, "Exclude migrated children"},
    {0x4000u, "Expand compressed data"},
    {0x800000u, "Or the date and time filters"},
};

}  // namespace

extern "C" CCODE NWSMTSGetTargetServiceAPIVersion(UINT32 connection, UINT16 *major, UINT16 *minor) {
  Call c("NWSMTSGetTargetServiceAPIVersion");
  c.Args("connection=0x%X", connection);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!major || !minor) return c.End(NWSMTS_INVALID_PARAMETER);
  *major = conn->tsa->apiMajor;
  *minor = conn->tsa->apiMinor;
  return c.End(0);
}

extern "C" CCODE NWSMTSGetSupportedNameTypes(UINT32 connection, UINT32 *nameTypes) {
  Call c("NWSMTSGetSupportedNameTypes");
  c.Args("connection=0x%X", connection);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!nameTypes) return c.End(NWSMTS_INVALID_PARAMETER);
  *nameTypes = NWSM_NAME_TYPE_MBCS | (conn->tsa->utf8 ? NWSM_NAME_TYPE_UTF8 : 0u);
  return c.End(0);
}

extern "C" CCODE NWSMGetRequestorVersionInfo(UINT32 connection, NWSM_MODULE_VERSION_INFO *info) {
  return Version(connection, info, "NWSMGetRequestorVersionInfo", "vrk_sms requestor");
}
extern "C" CCODE NWSMGetResponderVersionInfo(UINT32 connection, NWSM_MODULE_VERSION_INFO *info) {
  return Version(connection, info, "NWSMGetResponderVersionInfo", "vrk_sms responder");
}
extern "C" CCODE NWSMGetSMSModuleVersionInfo(UINT32 connection, NWSM_MODULE_VERSION_INFO *info) {
  return Version(connection, info, "NWSMGetSMSModuleVersionInfo", "vrk_sms");
}

extern "C" CCODE NWSMTSGetUnsupportedOptions(UINT32 connection, UINT32 *unsupportedBackupOptions,
                                             UINT32 *unsupportedRestoreOptions) {
  Call c("NWSMTSGetUnsupportedOptions");
  c.Args("connection=0x%X", connection);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!unsupportedBackupOptions || !unsupportedRestoreOptions) return c.End(NWSMTS_INVALID_PARAMETER);
  const Tsa &t = *conn->tsa;
  *unsupportedBackupOptions =
      t.unsupportedBackup | (t.archive ? 0u : (NWSM_BACK_ARCHIVE_DATE_TIME | NWSM_BACK_MODIFY_FLAG));
  *unsupportedRestoreOptions = t.unsupportedRestore;
  return c.End(0);
}

extern "C" CCODE NWSMTSGetOpenModeOptionString(UINT32 connection, UINT8 optionNumber, char *optionString) {
  Call c("NWSMTSGetOpenModeOptionString");
  c.Args("connection=0x%X, option=%u", connection, optionNumber);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!optionString) return c.End(NWSMTS_INVALID_PARAMETER);
  if (optionNumber > 23) return c.End(NWSMTS_OPTION_NOT_SUPPORTED);
  // Option 10 is the bit 0x40000 (preserve access time); the others are
  // known numbers without a meaning here: an empty text.
  if (optionNumber == 10 && conn->tsa->preserveAccessTime) {
    CopyText(optionString, NWSM_MAX_STRING_LEN, "Preserve access time");
    return c.End(0);
  }
  if (optionNumber == 10) return c.End(NWSMTS_OPTION_NOT_SUPPORTED);
  optionString[0] = '\0';
  return c.End(0);
}

extern "C" CCODE NWSMTSGetTargetScanTypeString(UINT32 connection, UINT8 typeNumber, char *scanTypeString,
                                               UINT32 *required, UINT32 *disallowed) {
  Call c("NWSMTSGetTargetScanTypeString");
  c.Args("connection=0x%X, type=%u", connection, typeNumber);
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!scanTypeString || !required || !disallowed) return c.End(NWSMTS_INVALID_PARAMETER);
  if (typeNumber > 31) return c.End(NWSMTS_INVALID_PARAMETER);
  UINT32 bit = 1u << typeNumber;
  if (!(conn->tsa->scanTypes & bit)) return c.End(NWSMTS_SCAN_TYPE_NOT_SUPPORTED);
  const char *text = "Scan type";
  for (const ScanTypeText &s : kScanTypes)
    if (s.bit == bit) text = s.text;
  CopyText(scanTypeString, NWSM_MAX_STRING_LEN, text);
  *required = 0;
  *disallowed = 0;
  return c.End(0);
}

extern "C" CCODE NWSMTSGetTargetSelectionTypeStr(UINT32 connection, UINT8 typeNumber, char *includeText,
                                                 char *excludeText) {
  Call c("NWSMTSGetTargetSelectionTypeStr");
  c.Args("connection=0x%X, type=%u", connection, typeNumber);
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  if (!includeText || !excludeText) return c.End(NWSMTS_INVALID_PARAMETER);
  static const char *const kTexts[][2] = {
      {"Include TSA defined resource", "Exclude TSA defined resource"},
      {"Include parent", "Exclude parent and its subtree"},
      {"Include child", "Exclude child by terminal name"},
      {"Include child by full name", "Exclude child by full name"},
  };
  if (typeNumber < 1 || typeNumber > 4) return c.End(NWSMTS_INVALID_SELECTION_TYPE);
  CopyText(includeText, NWSM_MAX_STRING_LEN, kTexts[typeNumber - 1][0]);
  CopyText(excludeText, NWSM_MAX_STRING_LEN, kTexts[typeNumber - 1][1]);
  return c.End(0);
}
