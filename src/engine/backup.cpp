// The backup driver: the sources become an SMS resource name list, the
// exclusions the session's selection list, the level chooses the scan types
// and date filters, and the scan-and-read loop runs once or twice.
#include "engine/backup.h"

#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <string>

#include "client/vrk_global.h"
#include "client/vrk_items.h"
#include "engine/console.h"
#include "engine/de_stream.h"
#include "engine/drivers_pending.h"
#include "engine/engine_globals.h"
#include "engine/namespace.h"
#include "engine/scan_loop.h"
#include "runtime/strlib.h"
#include "runtime/password_mask.h"
#include "runtime/vrk_log.h"
#include "sms/smsapi.h"

namespace {

bool IsResourceName(const char *item) {
  size_t len = strlen(item);
  return (len > 0 && item[len - 1] == ':') || strncasecmp(item, "GroupWise Mail Server", 21) == 0 ||
         strcasecmp(item, "Server Specific Info") == 0 || strcasecmp(item, "NetWare server") == 0;
}

bool LocaleSpeaksUtf8() {
  const char *loc = setlocale(LC_CTYPE, nullptr);
  std::string name = loc != nullptr ? loc : "";
  trace("locale [%s]", name.c_str());
  std::string upper = name;
  uppercase(&upper[0]);
  bool utf8 = upper.find("UTF-8") != std::string::npos || upper.find("UTF8") != std::string::npos || upper == "C";
  if (utf8) trace("*** setlocale [%s] > UTF-8", name.c_str());
  return utf8;
}

// The source item in UTF-8; false when the conversion itself fails. A failed
// length query is logged, and the conversion then gets room for the longest
// result: four UTF-8 bytes for each byte of the item.
bool ToUtf8(const char *item, std::string &out) {
  UINT32 need = 0;
  UINT32 inLen = (UINT32)strlen(item) + 1;
  CCODE cc = SMloc2utf8(nullptr, &need, item, inLen, 0);
  if (cc != 0) {
    vrk_log(1500, "SMloc2utf8 error code:0X%X", (unsigned)cc);
    need = 4 * inLen;
  }
  std::string buf(need + 1, '\0');
  UINT32 cap = need + 1;
  cc = SMloc2utf8(&buf[0], &cap, item, inLen, 0);
  if (cc != 0) {
    vrk_log(1500, "SMloc2utf8 error code:0X%X", (unsigned)cc);
    return false;
  }
  out.assign(buf.c_str());
  return true;
}

// What the source step left: go on, end with statistics, end without.
enum class Step { kOk, kStats, kEnd };

Step AddDirectorySources(SESSION_INFORMATION *si, UINT32 nameSpaceType, NWSM_DATA_SET_NAME_LIST **resourceName) {
  NWBOOLEAN reverse = 0;
  STRING_BUFFER *first = nullptr, *next = nullptr;
  if (si->IsUTF8Supp) {
    nameSpaceType = MapToUtf8NameSpace(nameSpaceType);
    if (spGlobal->iLogLevel >= 1) {
      if (nameSpaceType == NWSM_DIRECTORY_NAME_SPACE)
        vrk_log(3500, "Call NWSMTSGetNameSpaceTypeInfo (UTF8), name space NWSM_DIRECTORY_NAME_SPACE (0X%03X)",
                (unsigned)nameSpaceType);
      else
        vrk_log(3500, "Call NWSMTSGetNameSpaceTypeInfo (UTF8), name space 0x%03lX", (unsigned long)nameSpaceType);
    }
  } else {
    vrk_log(3500, "Call NWSMTSGetNameSpaceTypeInfo (MBCS), name space 0x%03lX", (unsigned long)nameSpaceType);
  }
  CCODE cc = NWSMTSGetNameSpaceTypeInfo(si->connection, nameSpaceType, &reverse, &first, &next);
  if (cc != 0) {
    vrk_log(1500, "NWSMTSGetNameSpaceTypeInfo:   ccode = 0X%lX", (unsigned long)cc);
    return Step::kEnd;
  }
  const char *fs = first != nullptr ? first->string : "";
  const char *ns = next != nullptr ? next->string : "";
  if (si->IsUTF8Supp) vrk_log(3500, "reverseOrder %d, firstSeparator [%s], nextSeparator [%s]", (int)reverse, fs, ns);
  else trace("reverseOrder %d, firstSeparator [%s], nextSeparator [%s]", (int)reverse, fs, ns);

  bool bUTF8Locale = LocaleSpeaksUtf8();
  _sVRKObject *o = &spGlobal->sVRKObject;
  UINT32 handle = 0;
  Step step = Step::kOk;
  // A listing scans its one path; the second item names the TSA's kind.
  const int iItems = spGlobal->eOPERATION == LIST_RESOURCES ? 1 : VRK_MAX_ITEMS;
  for (int i = 0; i < iItems && o->cpItem[i] != nullptr; ++i) {
    const char *item = o->cpItem[i];
    if (strlen(item) > BACKUP_ITEM_MAX) {
      vrk_log(1500, "Backup source longer than %d characters refused: [%.64s...]", BACKUP_ITEM_MAX, item);
      step = Step::kStats;
      break;
    }
    vrk_log(3500, "IsUTF8Supp is %s", si->IsUTF8Supp ? "TRUE" : "FALSE");
    std::string name = item;
    bool converted = false;
    if (!si->IsUTF8Supp || bUTF8Locale) {
      vrk_log(3500, "Add unchanged backup source: [%s]", vrk_log_name(item).c_str());
    } else if (!ToUtf8(item, name)) {
      step = Step::kStats;
      break;
    } else {
      converted = true;
    }
    if (spGlobal->iLogLevel >= 1) vrk_log(3500, "Add backup source: [%s]", vrk_log_name(name).c_str());
    if (gbGW2012) {
      trace("Map target [%s] to a real path", item);
      char *path = szMapGWComponent2Path(gdcGWHAconf, gdcGWZEMconf, const_cast<char *>(item));
      if (path != nullptr) {
        vrk_log(3500, "Map resource [%s] to path [%s]", vrk_log_name(item).c_str(), vrk_log_name(path).c_str());
        name = path;
      }
    }
    if (i == 0) {
      cc = NWSMPutFirstName(resourceName, nameSpaceType, 0, reverse, fs, ns, name.c_str(), &handle);
      if (cc != 0) {
        vrk_log(1500, "Adding backup source failed. NWSMPutFirstName for [%s] returned %x", item, (unsigned)cc);
        step = Step::kStats;
        break;
      }
    } else {
      cc = NWSMPutNextName(resourceName, &handle, nameSpaceType, 0, reverse, fs, ns, name.c_str());
      if (cc != 0) {
        vrk_log(1500, "Adding backup source failed. NWSMPutNextName for [%s] returned %x", item, (unsigned)cc);
        step = Step::kStats;
        break;
      }
    }
    if (converted) trace("free dest");  // the converted copy is no longer used
  }
  if (handle != 0) NWSMCloseName(&handle);
  NWSMFreeString(first);
  NWSMFreeString(next);
  return step;
}

void ScanTypeList(SESSION_INFORMATION *si) {
  vrk_log(3500, "Supported ScanTypes:");
  for (int n = 0; n < 32; ++n) {
    char text[NWSM_MAX_STRING_LEN] = {0};
    UINT32 required = 0, disallowed = 0;
    CCODE cc = NWSMTSGetTargetScanTypeString(si->connection, (UINT8)n, text, &required, &disallowed);
    UINT32 bit = 1u << n;
    if (cc == NWSMTS_SCAN_TYPE_NOT_SUPPORTED) {
      vrk_log(3500, "  %-2d: Unsupported ScanType 0X%04X", n, (unsigned)bit);
    } else if (cc != 0) {
      break;
    } else if (required == 0 && disallowed == 0) {
      vrk_log(3500, "  %-2d: 0X%04X [%s]", n, (unsigned)bit, text);
    } else {
      vrk_log(3500, "  %-2d: 0X%04X [%s] required 0x%x, disallowed 0x%x", n, (unsigned)bit, text,
              (unsigned)required, (unsigned)disallowed);
    }
  }
}

// Scan types and date filters of the filtered levels; false ends the backup.
bool PrepareFilteredRuns(SESSION_INFORMATION *si, UINT32 *packed) {
  char text[NWSM_MAX_STRING_LEN] = {0};
  UINT32 required = 0, disallowed = 0;
  CCODE cc = NWSMTSGetTargetScanTypeString(si->connection, 1, text, &required, &disallowed);
  if (cc == NWSMTS_SCAN_TYPE_NOT_SUPPORTED) vrk_log(2500, "ScanType NWSM_EXCLUDE_ARCHIVED_CHILDREN is not supported");
  else trace("NWSMTSGetTargetScanTypeString(NWSM_EXCLUDE_ARCHIVED_CHILDREN) returned 0X%X [%s]", (unsigned)cc, text);
  if (spGlobal->iLogLevel >= 4) ScanTypeList(si);
  cc = NWSMTSGetTargetScanTypeString(si->connection, 23, text, &required, &disallowed);
  if (cc == 0) {
    si->scanControl.scanType |= NWSM_OR_DATE_TIME_FILTER;
    trace("NWSMTSGetTargetScanTypeString(NWSM_OR_DATE_TIME_FILTER) returned [%s]", text);
  } else if (cc == NWSMTS_SCAN_TYPE_NOT_SUPPORTED) {
    vrk_log(3500, "ScanType NWSM_OR_DATE_TIME_FILTER %d", (int)NWSM_OR_DATE_TIME_FILTER);
    if (spGlobal->iLogLevel >= 2) vrk_log(3500, "ScanType NWSM_OR_DATE_TIME_FILTER is not supported");
  } else {
    trace("NWSMTSGetTargetScanTypeString(NWSM_OR_DATE_TIME_FILTER) returned 0X%X", (unsigned)cc);
  }

  trace("spGlobal->tBackupFrom == %ld", (long)spGlobal->tBackupFrom);
  time_t from = spGlobal->tBackupFrom;
  struct tm tm {};
  if (localtime_r(&from, &tm) == nullptr || tm.tm_year < 80) {
    vrk_log(1500, "DOS packed time does not support year before 1980: 19%d", tm.tm_year % 100);
    return false;
  }
  vrk_log(3500, "pack time %04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
          tm.tm_hour, tm.tm_min, tm.tm_sec);
  *packed = NWSMPackDateTime((UINT16)(tm.tm_year + 1900), (UINT16)(tm.tm_mon + 1), (UINT16)tm.tm_mday,
                             (UINT16)tm.tm_hour, (UINT16)tm.tm_min, (UINT16)tm.tm_sec);
  trace("got DOS packed time %d", (int)*packed);
  return true;
}

void Statistics(SESSION_INFORMATION *si, char cmd, bool backup, double utotal) {
  if (cmd == 'B') vrk_log(3500, "Total read:   %.2f KB", (double)(float)(utotal / 1024));
  if (backup) CloseDEFiles(si);
  double elapsed = difftime(time(nullptr), tStart);
  if (elapsed < 1) elapsed = 1;
  char size[64], rate[64];
  snprintf(size, sizeof(size), "%.0f", utotal);
  snprintf(rate, sizeof(rate), "%f", utotal / elapsed * 3600 / 1024 / 1024);
  vrk_log(3006, size, rate);
}

}  // namespace

void Backup(SESSION_INFORMATION *sessionInfo) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  NWBOOLEAN backup = 1;
  bool gwExcludesAdded = false;
  int nameSpaceRetries = 0;
  UINT32 openMode = 0;
  double utotal = 0;
  NWSM_DATA_SET_NAME_LIST *resourceName = nullptr;
  char cmd = 'B';
  NWBOOLEAN resource = 0;
  Step step = Step::kOk;

  for (;;) {  // the set-up, repeated by the console's toggle and a failed name-space lookup
    if (spGlobal->iLogLevel >= 1) vrk_log(3500, "Backup ()");
    sessionInfo->scanInfo = nullptr;
    SetOpenModeForBackup(sessionInfo, &openMode);
    trace("GW2012 [%d]", (int)gbGW2012);
    if (gbGW2012 && !gwExcludesAdded) {
      // Appended once per job, however often the set-up runs.
      trace("Add GW2012 exclude list [%s]", BACKUP_GW2012_EXCLUDE);
      if (vrk_parse_item(o->cpExclude, BACKUP_GW2012_EXCLUDE, ',', VRK_MAX_ITEMS - 1) > VRK_MAX_ITEMS - 1)
        vrk_log(2500, "Exclude list full: not every GroupWise exclusion could be added");
      gwExcludesAdded = true;
    }
    const char *item = o->cpItem[0];
    if (item == nullptr) {
      vrk_log(3500, "ERROR: Source is missing");
      return;
    }
    if (strlen(item) > BACKUP_ITEM_MAX) {
      vrk_log(1500, "Backup source longer than %d characters refused: [%.64s...]", BACKUP_ITEM_MAX, item);
      return;
    }
    resource = IsResourceName(item) ? 1 : 0;
    if (resource && gbGW2012) {
      vrk_log(3500, "Given target [%s] is a GW2012 pseudo resource", vrk_log_name(item).c_str());
      resource = 0;
    } else if (resource) {
      vrk_log(3500, "Given target [%s] is a resource", vrk_log_name(item).c_str());
    } else {
      vrk_log(3500, "Given target [%s] is a directory", vrk_log_name(item).c_str());
    }
    tStart = time(nullptr);
    char prompt[64] = {0};
    cmd = GetBCommand(backup, prompt, &resource);
    if (cmd == 'B') {
      if (spGlobal->iLogLevel >= 3) trace("case 'B'");
    } else if (cmd == 'S') {
      backup = 0;
    } else if (cmd == 'T') {
      backup = !backup;
      continue;
    } else {
      vrk_log(1500, "ERROR: invalid command '%c' >> terminate", cmd);
      return;
    }

    if (resource) {
      vrk_log(3500, "NWSMPutOneName resource %s", item);
      CCODE cc = NWSMPutOneName(&resourceName, NWSM_TSA_DEFINED_RESOURCE_TYPE, 0, 0, nullptr, nullptr, item);
      if (cc != 0) {
        vrk_log(1500, "NWSMPutOneName:   ccode = %lu", (unsigned long)cc);
        free(resourceName);
        return;
      }
      break;
    }
    UINT32 nameSpaceType = GetNameSpace(sessionInfo);
    if (nameSpaceType == NO_NAME_SPACE) {
      if (nameSpaceRetries++ == 0) continue;  // the set-up is tried once more
      vrk_log(1500, "No name space of the backup sources could be found. Backup ends.");
      return;
    }
    step = AddDirectorySources(sessionInfo, nameSpaceType, &resourceName);
    if (step == Step::kEnd) {
      free(resourceName);
      return;
    }
    break;
  }

  if (step == Step::kOk) {
    if (spGlobal->iLogLevel >= 3) vrk_log(3500, "Backup Function got Argument %s", o->cpItem[0]);
    if (spGlobal->eOPERATION == LIST_RESOURCES) {
      vrk_log(3500, "Set mode to scan for LIST_RESOURCES");
      cmd = 'S';
      backup = 0;
      sessionInfo->scanControl.scanType |= NWSM_DO_NOT_TRAVERSE;
    }
    if (!vrk_nlm_interactive && (o->cpExclude[0] != nullptr || o->iExcludeFile >= 0) &&
        !BuildExcludeList(sessionInfo))
      step = Step::kStats;
  }

  if (step == Step::kOk) {
    sessionInfo->scanControl.scanType |= NWSM_EXCLUDE_MIGRATED_CHILD;
    trace("sessionInfo->scanControl.scanType |= NWSM_EXCLUDE_MIGRATED_CHILD -> 0X%X",
          (unsigned)sessionInfo->scanControl.scanType);
    _eBackupType level = spGlobal->eBackupType;
    // The TSA keeps what this job saved apart from what other jobs did, and
    // counts this run's saves only once its markers are committed.
    if (spGlobal->eOPERATION == BACKUP) {
      std::string job = std::string(spGlobal->sDirs.cpTimes ? spGlobal->sDirs.cpTimes : "") + "/" + spGlobal->szJobName;
      vrk_sms_archive_job(job.c_str(), (int)level);
    }
    if (level != INCREMENTAL && level != DIFFERENTIAL && level != SINCE) {
      if (spGlobal->iLogLevel >= 3)
        vrk_log(3500, "sessionInfo->scanControl.scanType == 0X%X", (unsigned)sessionInfo->scanControl.scanType);
      ScanAndReadDataSets(sessionInfo, backup, resourceName, openMode, &utotal, 1);
    } else {
      UINT32 packed = 0;
      if (!PrepareFilteredRuns(sessionInfo, &packed)) {
        free(resourceName);
        if (backup) CloseDEFiles(sessionInfo);
        return;
      }
      NWSM_SCAN_CONTROL *sc = &sessionInfo->scanControl;
      sc->firstModifiedDateAndTime = packed;
      sc->lastModifiedDateAndTime = 0;
      sc->firstCreateDateAndTime = 0;
      sc->lastCreateDateAndTime = 0;
      trace("scanControl.firstModifiedDateAndTime == %ld", (long)sc->firstModifiedDateAndTime);
      vrk_log(3500, "Call ScanAndReadDataSets() First Run (modified items)");
      // The first run's result is not used: the second run starts whatever
      // it answered.
      ScanAndReadDataSets(sessionInfo, backup, resourceName, openMode, &utotal, 1);
      vrk_log(3052, (unsigned long)(o->ulSaved - o->ulSkipped), (unsigned long)o->ulNotSaved);
      sc->firstModifiedDateAndTime = 0;
      trace("scanControl.firstModifiedDateAndTime == %ld", (long)sc->firstModifiedDateAndTime);
      sc->lastModifiedDateAndTime = packed;
      trace("scanControl.lastModifiedDateAndTime == %ld", (long)sc->lastModifiedDateAndTime);
      sc->firstCreateDateAndTime = packed;
      vrk_log(3500, "scanControl.firstCreateDateAndTime == %ld", (long)sc->firstCreateDateAndTime);
      sc->lastCreateDateAndTime = 0;
      trace("scanControl.lastCreateDateAndTime == %ld", (long)sc->lastCreateDateAndTime);
      sc->firstAccessDateAndTime = packed;
      trace("scanControl.firstAccessDateAndTime == %ld", (long)sc->firstAccessDateAndTime);
      sc->firstArchivedDateAndTime = packed;
      trace("scanControl.firstArchivedDateAndTime == %ld", (long)sc->firstArchivedDateAndTime);
      sc->childrenOnly = 0;
      trace("scanControl.childrenOnly == %ld", (long)sc->childrenOnly);
      vrk_log(3500, "Call ScanAndReadDataSets() Second Run (created items)");
      if (ScanAndReadDataSets(sessionInfo, backup, resourceName, openMode, &utotal, 2) == NWSMTS_NO_MORE_DATA_SETS)
        vrk_log(3500, "Second run could not retrieve further data");
    }
  }

  Statistics(sessionInfo, cmd, backup != 0, utotal);
  free(resourceName);
}
