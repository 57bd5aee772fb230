// The scan-and-read loop: every data set of the scan is opened, read in
// blocks that become DE records, given its archive status, closed and ended
// with an end-of-record marker; the scan-only pass makes listing lines.
#include "engine/scan_loop.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "client/vrk_global.h"
#include "client/vrk_levels.h"
#include "engine/connection.h"
#include "engine/de_stream.h"
#include "engine/engine_globals.h"
#include "engine/namespace.h"
#include "engine/scan_listing.h"
#include "engine/scan_loop_internal.h"
#include "engine/scan_sources.h"
#include "runtime/shown_name.h"
#include "runtime/strlib.h"
#include "runtime/password_mask.h"
#include "runtime/vrk_log.h"
#include "sms/smsapi.h"

NWBOOLEAN bTSAsupportsSAS = 1;
UINT32 DnameSpaceType = 0;
time_t tStart = 0;
double uTransfered = 0;

namespace {

// The last directory scanned ("/" behind it in listings), the last file with
// its directory, and whichever of the two was set last.
std::string pszCurrDir;
std::string pszCurrFile;
std::string pszCurrItem;

// Children that a TSA keeps open for itself: failing to open them is no loss.
const char *const kSpecialFiles[] = {"_SWAP_.MEM",   "AUDIT.CTL",    "AUDIT.LOG",
                                     "_T-00001.TMP", "_T-00002.TMP", "_T-00003.TMP",
                                     "_T-00004.TMP", "VOLMNCH2.DAT", "VOLMNCHK.DAT"};

bool IsSpecialFile(const std::string &name) {
  for (const char *s : kSpecialFiles)
    if (name == s) return true;
  return false;
}

bool IsArchiveLevel() {
  _eBackupType t = spGlobal->eBackupType;
  return t == FULL || t == INCREMENTAL || t == SINCE;
}

// The name in the local character set for the item lines.
std::string ToLocal(SESSION_INFORMATION *si, const std::string &name, bool &ok) {
  ok = true;
  if (!si->IsUTF8Supp) return name;
  UINT32 need = 0;
  CCODE cc = SMutf82loc(nullptr, &need, name.c_str(), (UINT32)name.size() + 1, 0);
  if (cc != 0) {
    vrk_log(3500, "SMutf82loc (1) failed with code: 0X%X", (unsigned)cc);
    ok = false;
    return name;
  }
  std::string out(need + 1, '\0');
  UINT32 cap = need + 1;
  cc = SMutf82loc(&out[0], &cap, name.c_str(), (UINT32)name.size() + 1, 0);
  if (cc != 0) {
    vrk_log(3500, "SMutf82loc (2) failed with code: 0X%X", (unsigned)cc);
    ok = false;
    return name;
  }
  out.resize(strlen(out.c_str()));
  return out;
}

// Takes a name record: its name and name space.
void TakeName(ScanRun &run, const NWSM_DATA_SET_NAME &n) {
  run.name = n.name != nullptr ? n.name : "";
  run.nameSpaceOfName = n.nameSpaceType;
}

// Rewrites the data set's name list to hold only its long name.
CCODE ReduceToLongName(ScanRun &run, const NWSM_DATA_SET_NAME &longName) {
  if (spGlobal->iLogLevel >= 4)
    trace("%l4 Reduce dataSetNameList to only nameSpace LONG [%s]", vrk_log_name(longName.name).c_str());
  NWBOOLEAN reverse = 0;
  STRING_BUFFER *first = nullptr, *next = nullptr;
  CCODE cc = NWSMTSGetNameSpaceTypeInfo(run.si->connection, longName.nameSpaceType, &reverse, &first, &next);
  if (cc != 0) {
    vrk_log(1500, "Error: GetNameSpaceTypeInfo: 0X%lX", (unsigned long)cc);
    return cc;
  }
  UINT32 handle = 0;
  cc = NWSMPutFirstName(&run.dataSetNameList, longName.nameSpaceType, 0, reverse,
                        first != nullptr ? first->string : "", next != nullptr ? next->string : "",
                        longName.name, &handle);
  NWSMFreeString(first);
  NWSMFreeString(next);
  if (cc != 0) {
    vrk_log(1500, "Error: NWSMPutFirstName: 0X%lX", (unsigned long)cc);
    return cc;
  }
  NWSMCloseName(&handle);
  return 0;
}

void SetArchiveStatus(ScanRun &run, UINT32 dataHandle) {
  if (!bTSAsupportsSAS || !IsArchiveLevel()) return;
  trace("%l4 Call NWSMTSSetArchiveStatus(.,.,NWSM_CLEAR_MODIFY_FLAG|NWSM_SET_ARCHIVE_DATE_AND_TIME,%ld,)",
        (long)gui32DosPackedStartTime);
  CCODE cc = NWSMTSSetArchiveStatus(run.si->connection, dataHandle, SCAN_ARCHIVE_FLAGS, gui32DosPackedStartTime);
  if (cc == 0) return;
  trace("%l4 NWSMTSSetArchiveStatus returned 0X%X", (unsigned)cc);
  if (cc == NWSMTS_UNSUPPORTED_FUNCTION) {
    vrk_log(3500, "TSA does not support NWSMTSSetArchiveStatus, now avoid it");
    bTSAsupportsSAS = 0;
  } else if (cc == NWSMTS_NO_SUCH_PROPERTY) {
    vrk_log(3500, "NWSMTSSetArchiveStatus returns No such property, now avoid it");
    bTSAsupportsSAS = 0;
  } else if (cc == NWSMTS_SET_ARCHIVE_STATUS_ERR) {
    vrk_log(3500, "NWSMTSSetArchiveStatus failed for item: [%s]", vrk_log_name(pszCurrItem).c_str());
  } else {
    PrintCode(0, cc, "NWSMTSSetArchiveStatus", 0, run.si);
  }
}

}  // namespace

void ScanProgress(ScanRun &run) {
  if (spGlobal->iAlarm != 1) return;
  time_t now = time(nullptr);
  double elapsed = difftime(now, run.tIntervalStart);
  if (elapsed <= 0) elapsed = 1;  // never divide by an interval of 0
  double total = *run.putotal;
  vrk_log(3250, total / 1024 / 1024, (total - uTransfered) * 3600 / 1024 / 1024 / elapsed);
  run.tIntervalStart = now;
  uTransfered = total;
  if (spGlobal->iLogLevel == 0 && spGlobal->sVRKObject.szItem[0] != '\0')
    vrk_log(3254, spGlobal->sVRKObject.szItem);
  spGlobal->iAlarm = 0;
  alarm((unsigned)spGlobal->iAlarmIntervall);
  if (spGlobal->iVerbose > 0) {
    double secs = difftime(now, tStart);
    if (secs <= 0) secs = 1;
    char size[64], rate[64];
    snprintf(size, sizeof(size), "%.0f", total);
    snprintf(rate, sizeof(rate), "%f", total / secs * 3600 / 1024 / 1024);
    vrk_log(3006, size, rate);
  }
}

namespace {

// The end of every pass: the data set's bytes join the running total, it
// becomes the current item, and a due progress message is written.
void PassDone(ScanRun &run, double total) {
  *run.putotal += total;
  strlcpy(spGlobal->sVRKObject.szItem, pszCurrItem.c_str(), sizeof(spGlobal->sVRKObject.szItem));
  ScanProgress(run);
}

// The first scan start, with one reconnect after a recoverable code.
CCODE StartScan(ScanRun &run) {
  SESSION_INFORMATION *si = run.si;
  CCODE cc = NWSMTSScanDataSetBegin(si->connection, run.resourceName, &si->scanControl, si->selectionList,
                                    &run.sequence, &si->scanInfo, &run.dataSetNameList);
  if (cc != 0 && run.cluster && IsRecoveryError(cc)) {
    if (Reconnect(si) != 0) {
      vrk_log(1500, "Error reconnecting failed");
      return ENGINE_GENERAL_FAILURE;
    }
    cc = NWSMTSScanDataSetBegin(si->connection, run.resourceName, &si->scanControl, si->selectionList,
                                &run.sequence, &si->scanInfo, &run.dataSetNameList);
  }
  if (cc == 0) {
    run.scanOpen = true;
    return 0;
  }
  if (cc == NWSMTS_NO_MORE_DATA_SETS) {
    trace("%l4 NWSMTSScanDataSetBegin returned NWSMTS_NO_MORE_DATA_SETS");
    return cc;
  }
  ReportUnfoundSources(si, run.resourceName, cc);
  return ENGINE_GENERAL_FAILURE;
}

// The name space in which the fail-over names its restart point: the one
// that answers for name space 0 of the first data set, with its order flag
// and separators.
void ClusterNameSpaceOfFirst(ScanRun &run) {
  SESSION_INFORMATION *si = run.si;
  ClusterNameSpace &c = run.clusterNameSpace;
  NWSM_DATA_SET_NAME n{};
  CCODE cc = NWSMGetDataSetName(run.dataSetNameList, 0, &n);
  if (cc != 0) {
    PrintCode(0, cc, "NWSMGetDataSetName", 0, si);
    return;
  }
  c.CnameSpaceType = n.nameSpaceType;
  NWSMFreeDataSetName(&n);
  if (spGlobal->iLogLevel >= 3)
    vrk_log(3500, "NWSMGetDataSetName for cluster params returned name space 0X%03X", (unsigned)c.CnameSpaceType);
  STRING_BUFFER *first = nullptr, *next = nullptr;
  cc = NWSMTSGetNameSpaceTypeInfo(si->connection, c.CnameSpaceType, &c.CreverseOrder, &first, &next);
  if (cc != 0) {
    PrintCode(0, cc, "NWSMTSGetNameSpaceTypeInfo", 0, si);
  } else {
    c.firstSep = first != nullptr ? first->string : "";
    c.nextSep = next != nullptr ? next->string : "";
  }
  NWSMFreeString(first);
  NWSMFreeString(next);
}

void LogEnd(ScanRun &run, CCODE result) {
  vrk_log(3500, "Number of resources scanned: %lu", (unsigned long)run.resourceCount);
  vrk_log(3500, "Number of Directories scanned: %lu", (unsigned long)run.noOfDirectories);
  vrk_log(3500, "Number of Files scanned: %lu", (unsigned long)run.noOfFiles);
  vrk_log(3500, "ScanAndReadDataSets: return [%d]", (int)result);
}

// What one pass over a data set asks the loop to do next.
enum class PassEnd { kNext, kRecovered, kStop };

// One data set: names, counters, open, read, archive status, close, progress
// and end marker. kStop leaves the loop's result in *result.
PassEnd OnePass(ScanRun &run, CCODE *result) {
  SESSION_INFORMATION *si = run.si;
  _sVRKObject *o = &spGlobal->sVRKObject;
  const bool listing = spGlobal->eOPERATION == LIST_RESOURCES;
  const UINT32 readSize = (UINT32)spGlobal->lBufferSize;
  bool bWriteStarted = false, bSpecialNameSpace = false;
  ++run.resourceCount;

  // Primary name; the name in DnameSpaceType replaces it when present, so a
  // failed lookup never leaves the previous data set's name behind.
  run.name.clear();
  run.nameSpaceOfName = 0;
  NWSM_DATA_SET_NAME primary{}, longName{}, named{};
  UINT32 nameHandle = 0;
  CCODE ccFirst = NWSMGetFirstName(run.dataSetNameList, &primary, &nameHandle);
  if (ccFirst == 0) {
    NWSMCloseName(&nameHandle);
    if (spGlobal->iLogLevel >= 3)
      vrk_log(3500, "ScanAndReadDataSets: primary nameSpace for [%s] is 0X%03X", vrk_log_name(primary.name).c_str(),
              (unsigned)primary.nameSpaceType);
    if (primary.nameSpaceType == NWSM_TSA_DEFINED_RESOURCE_TYPE ||
        primary.nameSpaceType == NWSM_DIRECTORY_NAME_SPACE)
      bSpecialNameSpace = true;
    TakeName(run, primary);
  } else {
    PrintCode(1, ccFirst, "NWSMGetFirstName", 0, si);
  }
  CCODE ccLong = 0xFFFFFFFFu;
  if (!bSpecialNameSpace) {
    ccLong = NWSMGetDataSetName(run.dataSetNameList, SCAN_LONG_NAME_SPACE, &longName);
    if (ccLong == NWSMUT_NO_MORE_NAMES) {
      if (spGlobal->iLogLevel >= 3) {
        if (primary.nameSpaceType == NFSNameSpaceUtf8Type)
          trace("ScanAndReadDataSets: Name space LONGNameSpaceUtf8 not supported use primary name space "
                "NFSNameSpaceUtf8Type 0X%03X for [%s]",
                (unsigned)primary.nameSpaceType, run.name.c_str());
        else
          vrk_log(3500,
                  "ScanAndReadDataSets: Name space LONGNameSpaceUtf8 not supported use primary name space "
                  "0X%03X for [%s]",
                  (unsigned)primary.nameSpaceType, run.name.c_str());
      }
    } else if (ccLong != 0) {
      PrintCode(0, ccLong, "NWSMGetDataSetName: (LONG)", 0, si);
    }
  }
  CCODE ccName = NWSMGetDataSetName(run.dataSetNameList, DnameSpaceType, &named);
  if (ccName == 0) {
    TakeName(run, named);
  } else if (ccName == NWSMUT_NO_MORE_NAMES) {
    trace("ScanAndReadDataSets: Name space DOSNameSpace not supported");
  } else {
    PrintCode(0, ccName, "NWSMGetDataSetName", 0, si);
  }
  NWSMFreeDataSetName(&primary);
  NWSMFreeDataSetName(&named);

  NWSM_SCAN_INFORMATION *info = si->scanInfo;
  run.isParent = info != nullptr && info->parentFlag;
  if (ccFirst != 0 && ccName != 0) {
    // No name at all: the data set cannot be stored under its own name.
    vrk_log(3009, "");
    ++o->ulNotSaved;
    NWSMFreeDataSetName(&longName);
    return PassEnd::kNext;
  }

  if (spGlobal->iLogLevel >= 2) {
    bool ok = true;
    std::string shown = ToLocal(si, run.name, ok);
    if (ok && spGlobal->iLogLevel >= 3 && info != nullptr) {
      // The name shown whole, padded to its column behind its marks.
      const size_t width = run.isParent ? 60 : 58;
      const std::string pad(shown.size() < width ? width - shown.size() : 0, ' ');
      vrk_log(3500, run.isParent ? "Item: %s%s" : "Item:   %s%s", vrk_log_name(shown).c_str(), pad.c_str());
      vrk_log(3500, "primaryDataStreamSize= %ld", (long)info->primaryDataStreamSize);
    }
  }

  if (run.isParent) {
    run.parentNotStored = false;
    run.parentName = run.name;
    pszCurrDir = run.name;
    size_t colon = pszCurrDir.find(':');
    if (giAddSlashToResource && colon != std::string::npos) pszCurrDir.replace(colon, 1, ":/");
    if (listing) {
      // The line names the directory without its trailing '/'; the children's
      // lines add one.
      if (!pszCurrDir.empty() && pszCurrDir.back() == '/') pszCurrDir.pop_back();
      if (info != nullptr) ListingAddDirectory(pszCurrDir, info, run.pszInfo);
      pszCurrDir += "/";
    }
    trace("dir: [%s]", vrk_log_name(pszCurrDir).c_str());
    pszCurrItem = pszCurrDir;
  } else if (!listing) {
    pszCurrFile = pszCurrDir + run.name;
    pszCurrItem = pszCurrFile;
  } else if (info != nullptr) {
    ListingAddFile(pszCurrDir, run.name, info, run.pszInfo);
  }
  if (!listing && spGlobal->iLogLevel >= 3 && info != nullptr)
    vrk_log(3500, "totalStreamsDataSize = %ld", (long)info->totalStreamsDataSize);
  if (run.isParent) ++run.noOfDirectories;
  else ++run.noOfFiles;

  if (!run.backup || info == nullptr) {
    NWSMFreeDataSetName(&longName);
    PassDone(run, 0);
    return PassEnd::kNext;
  }
  if (!run.isParent && run.parentNotStored) {
    NWSMFreeDataSetName(&longName);
    ++o->ulNotSaved;
    vrk_log(2012, pszCurrItem.c_str(), "Parent directory not saved");
    PassDone(run, 0);
    return PassEnd::kNext;
  }

  if (spGlobal->iLogLevel >= 3)
    vrk_log(3500, (info->attributes & NWSM_ATTR_MODIFIED) ? "System Modify Bit Set" : "System Modify Bit Reset");
  double total = 0;
  UINT32 dataHandle = 0;
  CCODE ccOpen = NWSMTSOpenDataSetForBackup(si->connection, run.sequence, run.openMode, &dataHandle);
  if (ccOpen != 0) {
    NWSMFreeDataSetName(&longName);
    if (run.cluster && IsRecoveryError(ccOpen)) {
      // The scan returns this data set again: it leaves the counters.
      --run.resourceCount;
      if (run.isParent) --run.noOfDirectories;
      else --run.noOfFiles;
      CCODE cc = RecoverScan(run, FailPoint::kOpen, false, pszCurrItem);
      *result = cc;
      return cc == 0 ? PassEnd::kRecovered : PassEnd::kStop;
    }
    if (!run.isParent && IsSpecialFile(run.name)) {
      if (spGlobal->iLogLevel >= 2) vrk_log(3500, "Ignore warning for special file [%s]", vrk_log_name(run.name).c_str());
      vrk_log(2012, pszCurrFile.c_str(), "Special file excluded");
    } else {
      ++o->ulNotSaved;
      vrk_log(2012, pszCurrItem.c_str(), "Count as warning");
    }
    if (run.isParent) run.parentNotStored = true;
    PrintCode(0, ccOpen, "NWSMTSOpenDataSetForBackup", 0, si);
    PassDone(run, 0);
    return PassEnd::kNext;
  }
  if (spGlobal->iLogLevel >= 2) vrk_log(3008, pszCurrItem.c_str());
  trace("%l4 accessDateAndTime %u, createDateAndTime %u", (unsigned)info->accessDateAndTime,
        (unsigned)info->createDateAndTime);
  trace("%l4 modifiedDateAndTime %u, archivedDateAndTime %u", (unsigned)info->modifiedDateAndTime,
        (unsigned)info->archivedDateAndTime);

  if (ccLong == 0) {
    CCODE cc = ReduceToLongName(run, longName);
    if (cc != 0) {
      NWSMFreeDataSetName(&longName);
      NWSMTSCloseDataSet(si->connection, &dataHandle);
      *result = cc;
      return PassEnd::kStop;
    }
  }
  NWSMFreeDataSetName(&longName);

  // The dates and flags of the records come from the scan information, which
  // a reconnect releases: keep them.
  const UINT8 parentFlag = run.isParent ? 1 : 0;
  const UINT32 created = info->createDateAndTime, modified = info->modifiedDateAndTime;
  const UINT8 terminal = si->scanControl.returnChildTerminalNodeNameOnly;
  CCODE ccRead = 0;
  for (;;) {
    UINT32 bytesRead = 0;
    ccRead = NWSMTSReadDataSet(si->connection, dataHandle, readSize, &bytesRead, si->dataBuffer);
    if (ccRead != 0) break;
    total += bytesRead;
    if (WriteDEFiles(si->dataBuffer, bytesRead, parentFlag, created, modified, terminal, si,
                     run.dataSetNameList) != 0) {
      vrk_log(3500, "WriteDEFiles() failed");
      vrk_log(3009, run.name.c_str());
      ++o->ulNotSaved;
      NWSMTSCloseDataSet(si->connection, &dataHandle);
      *result = ENGINE_GENERAL_FAILURE;
      return PassEnd::kStop;
    }
    bWriteStarted = true;
    trace("%l4 %-8.0f", total);
    if (bytesRead < readSize) break;
  }

  if (ccRead != 0 && run.cluster && IsRecoveryError(ccRead)) {
    // The counters keep the data set: only an open error takes it off them.
    *run.putotal += total;
    CCODE cc = RecoverScan(run, FailPoint::kRead, bWriteStarted, pszCurrItem);
    *result = cc;
    return cc == 0 ? PassEnd::kRecovered : PassEnd::kStop;
  }
  if (ccRead == 0 && run.cluster) {
    if (spGlobal->iLogLevel >= 2) vrk_log(3500, "Remember fullPath for clusterparams");
    if (run.isParent) {
      run.restart.parent = run.name;
      run.restart.child.clear();
    } else {
      run.restart.parent = run.parentName;
      run.restart.child = run.name;
    }
    run.restart.nameSpaceOfNames = run.nameSpaceOfName;
  }
  if (ccRead != 0) {
    PrintCode(0, ccRead, "NWSMTSReadDataSet", 0, si);
    ++o->ulNotSaved;
    if (run.isParent) run.parentNotStored = true;
  } else {
    SetArchiveStatus(run, dataHandle);
    if (spGlobal->iLogLevel >= 1) vrk_log(3010, pszCurrItem.c_str());
    ++o->ulSaved;
  }

  trace("%l4 call NWSMTSCloseDataSet()");
  CCODE ccClose = NWSMTSCloseDataSet(si->connection, &dataHandle);
  if (ccClose == NWSMTS_DATA_SET_CHANGED) {
    // What was stored is not what the file held at any one time (or was cut
    // off where it shrank): a warning at every log level, and the only line
    // about the item, whose read failed when it was cut off.
    vrk_log(2500, "Item [%s] changed while it was read", vrk_log_name(pszCurrItem).c_str());
  } else {
    if (ccClose != 0) PrintCode(1, ccClose, "NWSMTSCloseDataSet", 0, si);
    if (ccRead != 0 && spGlobal->iLogLevel >= 1) vrk_log(3009, run.name.c_str());
  }

  PassDone(run, total);

  if (bWriteStarted && WriteDEFiles(nullptr, DE_END_OF_RECORD, 0, 0, 0, 0, si, nullptr) != 0) {
    vrk_log(3500, "WriteDEFiles(END_OF_RECORD_MARKER) failed");
    *result = ENGINE_GENERAL_FAILURE;
    return PassEnd::kStop;
  }
  return PassEnd::kNext;
}

// The next data set of the scan. An item whose name list cannot be built
// is left out by the scan, with all it holds; here it is a warning that
// names it, and the scan goes on after it.
CCODE ScanNext(ScanRun &run) {
  SESSION_INFORMATION *si = run.si;
  for (;;) {
    CCODE cc = NWSMTSScanNextDataSet(si->connection, &run.sequence, &si->scanInfo, &run.dataSetNameList);
    if (cc != NWSMUT_LIST_TOO_LARGE) return cc;
    char text[NWSM_MAX_ERROR_TEXT_LEN];
    if (NWSMConvertError(si->connection, cc, text) != 0) snprintf(text, sizeof(text), "0X%lX", (unsigned long)cc);
    text[sizeof(text) - 1] = '\0';
    ++spGlobal->sVRKObject.ulNotSaved;
    char *left = nullptr;
    if (vrk_sms_left_out(si->connection, run.sequence, &left)) {
      vrk_log(2500, "Item [%s] was left out: %s", vrk_log_name(vrk_shown_name(left)).c_str(), text);
      free(left);
    } else {
      vrk_log(2500, "The item that follows [%s] was left out: %s", vrk_log_name(vrk_shown_name(pszCurrItem)).c_str(),
              text);
    }
  }
}

}  // namespace

void EndScan(ScanRun &run) {
  SESSION_INFORMATION *si = run.si;
  if (run.scanOpen || si->scanInfo != nullptr || run.dataSetNameList != nullptr)
    NWSMTSScanDataSetEnd(si->connection, &run.sequence, &si->scanInfo, &run.dataSetNameList);
  free(si->scanInfo);
  free(run.dataSetNameList);
  si->scanInfo = nullptr;
  run.dataSetNameList = nullptr;
  run.scanOpen = false;
}

CCODE ScanAndReadDataSets(SESSION_INFORMATION *sessionInfo, int backup, NWSM_DATA_SET_NAME_LIST *resourceName,
                          UINT32 openModeForBackup, double *putotal, int iRun) {
  ScanRun run;
  run.si = sessionInfo;
  run.backup = backup;
  run.resourceName = resourceName;
  run.openMode = openModeForBackup;
  run.putotal = putotal;
  run.iRun = iRun;
  run.cluster = sessionInfo->clusterparams != nullptr;
  const bool listing = spGlobal->eOPERATION == LIST_RESOURCES;
  run.pszInfo = listing && gbGW2012 ? "not_selectable" : "";

  vrk_log(3500, "ScanAndReadDataSets: backup [%d]", backup);
  {
    NWSM_DATA_SET_NAME n{};
    UINT32 h = 0;
    if (NWSMGetFirstName(resourceName, &n, &h) == 0) {
      do {
        vrk_log(3500, "ScanAndReadDataSets: got source [%s]", vrk_log_name(n.name).c_str());
        NWSMFreeDataSetName(&n);
      } while (NWSMGetNextName(&h, &n) == 0);
      NWSMCloseName(&h);
    }
  }

  trace("%l4 ScanAndReadDataSets: Run %d, Level %s", iRun, vrk_getlevelstr(spGlobal->eBackupType));
  if (iRun == 1 && IsArchiveLevel()) {
    bTSAsupportsSAS = check_archive_bit_support(sessionInfo);
    vrk_log(3500, "check_archive_bit_support() returned %s", bTSAsupportsSAS ? "TRUE" : "FALSE");
  }

  CCODE ccode = StartScan(run);
  if (ccode != 0) {
    LogEnd(run, ccode);
    return ccode;
  }

  if (run.cluster) ClusterNameSpaceOfFirst(run);

  // The stored object is opened once per job, before its first record; when
  // the first run found nothing the second run opens it.
  if (backup && sessionInfo->dataFile == nullptr && sessionInfo->indexFile == nullptr) {
    if (spGlobal->iLogLevel >= 1) vrk_log(3500, "Call SaveSessionInfo()");
    if (SaveSessionInfo(sessionInfo) != 0) {
      printf("\nError Saving Session Information");
      fflush(stdout);
      vrk_log(1500, "Error Saving Session Information");
      EndScan(run);
      LogEnd(run, ENGINE_GENERAL_FAILURE);
      return ENGINE_GENERAL_FAILURE;
    }
  }
  if (iRun == 1) {
    DnameSpaceType = GetNameSpace(sessionInfo);
    if (sessionInfo->IsUTF8Supp) DnameSpaceType = MapToUtf8NameSpace(DnameSpaceType);
  } else {
    pszCurrDir.clear();
  }
  run.tIntervalStart = time(nullptr);
  alarm((unsigned)spGlobal->iAlarmIntervall);

  CCODE result = 0;
  while (ccode == 0) {
    PassEnd end = OnePass(run, &result);
    if (end == PassEnd::kStop) break;
    if (end == PassEnd::kRecovered) {
      // The resumed scan holds the next data set already.
      continue;
    }
    ccode = ScanNext(run);
    if (ccode == 0) continue;
    if (ccode == NWSMTS_NO_MORE_DATA_SETS) {
      result = 0;
    } else if (run.cluster && IsRecoveryError(ccode)) {
      vrk_log(3500, "Reconnect Cluster");
      result = RecoverScan(run, FailPoint::kNext, false, pszCurrItem);
      ccode = result;
      if (result == NWSMTS_NO_MORE_DATA_SETS) result = 0;
    } else if (listing && ccode == NWSMTS_INVALID_PATH) {
      trace("Ignore code NWSMTS_INVALID_PATH for mode LIST_RESOURCES");
      result = 0;
    } else {
      PrintCode(1, ccode, "NWSMTSScanNextDataSet", 0, sessionInfo);
      result = ENGINE_GENERAL_FAILURE;
    }
  }
  if (result == NWSMTS_NO_MORE_DATA_SETS) result = 0;  // a resumed scan that found nothing further
  EndScan(run);
  LogEnd(run, result);
  return result;
}
