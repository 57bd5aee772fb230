// The restore driver: set-up of modes and rename pairs, the DE record loop
// with selection, opens and the TSA's write answers, and the statistics.
#include "engine/restore.h"

#include <fnmatch.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <set>
#include <string>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/console.h"
#include "engine/de_stream.h"
#include "engine/namespace.h"
#include "engine/rename_list.h"
#include "engine/restore_target.h"
#include "runtime/vrk_log.h"
#include "sms/smserrors.h"

namespace {

const UINT32 kNoaclBits = NWSM_NO_VOLUME_RESTRICTIONS | NWSM_NO_DISK_SPACE_RESTRICTIONS | NWSM_NO_PARENT_TRUSTEES |
                          NWSM_NO_CHILD_TRUSTEES;
const char kServerSpecificInfo[] = "Server Specific Info";

int level(void) { return spGlobal->iLogLevel; }

bool signalled(void) { return spGlobal->sVRKObject.iSigRecv != 0; }

// The parent part of a full child name ("/a/b/" of "/a/b/f", "VOL1:" of
// "VOL1:f") and its terminal name; false when it has no parent part.
bool split_full_name(const std::string &name, std::string *parent, std::string *child) {
  size_t at = name.find_last_of('/');
  if (at == std::string::npos) at = name.find_last_of(':');
  if (at == std::string::npos || at + 1 >= name.size()) return false;
  *parent = name.substr(0, at + 1);
  *child = name.substr(at + 1);
  return true;
}

struct RestoreRun {
  SESSION_INFORMATION *si = nullptr;
  UINT8 overwriteParent = FALSE, overwriteChild = FALSE;
  UINT32 noaclMode = 0;
  UINT16 mode = 0;

  UINT32 parentHandle = 0, dataSetHandle = 0;
  bool parentCounted = false;  // the open parent's answer is already counted
  bool dataSetCounted = false;  // the open data set's answer is already counted
  std::string parentItem;       // the open parent's name, for its close
  NWSM_DATA_SET_NAME_LIST *newList = nullptr;

  bool haveDir = false;
  std::string pszCurrentDir;   // name of the current parent after renaming
  std::string storedDir;       // its name as stored
  std::string pszCurrentFile;
  std::string pszCurrentItem;
  int iMatch = 1;
  bool parentWasExcluded = false;
  bool parentNotPlaced = false;  // no pair or a refused name: its children cannot be placed

  // The arguments of the current data set's open, repeated by the retry.
  UINT32 *writeHandle = nullptr;
  UINT32 openParent = 0;
  NWSM_DATA_SET_NAME_LIST *openList = nullptr;  // newList or childList
  NWSM_DATA_SET_NAME_LIST *childList = nullptr;
  NWSM_DATA_SET_NAME_LIST *placeList = nullptr;  // the name handed to the TSA when no newList does
  UINT32 openMode = 0;
  std::string recordName;

  double total = 0, utotal = 0;
  uint64_t resourceCount = 0;  // data sets met
  uint64_t markers = 0;        // end-of-record markers met
  bool inDataSet = false;
  bool stop = false;
  // Data sets whose stored copy was cut short (a fail-over during the backup
  // ends the cut copy with its marker and stores the data set again after
  // it): counted as not restored until a whole copy of the same name follows.
  std::set<std::string> cutCopies;

  void not_saved(const std::string &item) {
    if (level() >= 1) vrk_log(3109, item.c_str());
    spGlobal->sVRKObject.ulNotSaved += 1;
  }

  void close_data_set(void) {
    if (dataSetHandle == 0) return;
    if (level() >= 3) trace("%l3 Restore: Close dataSet");
    CCODE ccode = NWSMTSCloseDataSet(si->connection, &dataSetHandle);
    dataSetHandle = 0;
    // An incomplete or unwritable data set is not restored; the TSA kept
    // the target as it was.
    if (ccode == NWSMTS_INVALID_DATA && !dataSetCounted) {
      vrk_log(3500, "Incomplete copy of [%s] in the saveset passed over", pszCurrentItem.c_str());
      if (cutCopies.insert(pszCurrentItem).second) spGlobal->sVRKObject.ulNotSaved += 1;
    } else if (ccode != 0 && !dataSetCounted) {
      PrintCode(TRUE, ccode, "NWSMTSCloseDataSet", 0, si);
      not_saved(pszCurrentItem);
    } else if (ccode == 0 && !dataSetCounted && cutCopies.erase(pszCurrentItem) > 0) {
      vrk_log(3500, "Whole copy of [%s] restored", pszCurrentItem.c_str());
      if (spGlobal->sVRKObject.ulNotSaved > 0) spGlobal->sVRKObject.ulNotSaved -= 1;
    }
    dataSetCounted = true;
  }

  // A cut copy without a whole copy behind it is a data set lost.
  void report_cut_copies(void) {
    for (const std::string &item : cutCopies) {
      vrk_log(1500, "No whole copy of [%s] in the saveset: not restored", item.c_str());
      if (level() >= 1) vrk_log(3109, item.c_str());
    }
    cutCopies.clear();
  }

  void close_parent(void) {
    if (parentHandle == 0) return;
    trace("%l4 Close parent");
    CCODE ccode = NWSMTSCloseDataSet(si->connection, &parentHandle);
    parentHandle = 0;
    if (ccode != 0 && !parentCounted) {
      PrintCode(TRUE, ccode, "NWSMTSCloseDataSet", 0, si);
      not_saved(parentItem);
    }
    parentCounted = true;
  }

  // Passes over the rest of the current data set: its records up to the
  // next end-of-record marker, which is pushed back for the loop.
  void skip_data_set(void) {
    trace("%l4 Skip dataset");
    for (;;) {
      if (signalled()) {
        stop = true;
        return;
      }
      UINT32 size = 0;
      UINT8 parentFlag = 0, tnoFlag = 0;
      NWSM_DATA_SET_NAME_LIST *names = nullptr;
      BUFFER *data = ReadDEFiles(&size, &parentFlag, &tnoFlag, si, &names);
      free(names);
      if (data == nullptr) {
        stop = true;
        end_of_data();
        return;
      }
      if (size == DE_END_OF_RECORD) {
        UngetEOF();
        return;
      }
    }
  }

  void end_of_data(void) {
    vrk_log(3500, "Restore: End of data (ReadDEFiles returned no more data).");
    if (inDataSet) {
      // A stored object whose last data set has no end-of-record marker was cut off.
      vrk_log(1500, "Restore: the saveset ends inside the data set [%s]: it is incomplete",
              pszCurrentItem.c_str());
    } else if (bReadBroken) {
      // The record that broke off begins a data set that is not restored.
      resourceCount += 1;
      pszCurrentItem = "<damaged record>";
      not_saved(pszCurrentItem);
    }
  }

  // A one-name list of name in the name space and separators of the stored name.
  CCODE one_name(NWSM_DATA_SET_NAME_LIST **list, const NWSM_DATA_SET_NAME &stored, const std::string &name) {
    free(*list);
    *list = nullptr;
    return NWSMPutOneName(list, stored.nameSpaceType, 0, stored.reverseOrder,
                          stored.firstSeparator != nullptr ? stored.firstSeparator : "",
                          stored.nextSeparator != nullptr ? stored.nextSeparator : "", name.c_str());
  }

  // A data set whose name would put it outside the restore target: an
  // error, counted as not restored; a parent takes its children along.
  void refuse(const std::string &stored, const std::string &placed, bool isParent) {
    if (placed.empty() || placed == stored)
      vrk_log(1500, "Restore: the stored name [%s] would leave the restore target: refused", stored.c_str());
    else
      vrk_log(1500, "Restore: the stored name [%s] would leave the restore target as [%s]: refused", stored.c_str(),
              placed.c_str());
    if (isParent) {
      close_parent();
      parentWasExcluded = false;
      parentNotPlaced = true;
    }
    not_saved(pszCurrentItem);
    skip_data_set();
  }

  // The new name of a full name through the rename list: 1 with the name,
  // 0 when no pair takes it, -1 when the lookup failed (the restore ends).
  int relocate(const NWSM_DATA_SET_NAME &stored, const std::string &full, std::string *placed) {
    NWSM_DATA_SET_NAME_LIST *orig = nullptr, *fresh = nullptr;
    CCODE ccode = one_name(&orig, stored, full);
    if (ccode == 0) ccode = GetNewName(si->connection, orig, &fresh, spGlobal->sOptions.iPlain, si);
    free(orig);
    if (ccode != 0) {
      vrk_log(1500, "GetNewName error code: 0X%lX", (unsigned long)ccode);
      PrintCode(TRUE, ccode, "GetNewName", 0, si);
      free(fresh);
      not_saved(pszCurrentItem);  // the restore ends, and this data set is not restored
      stop = true;
      return -1;
    }
    if (fresh == nullptr) return 0;
    NWSM_DATA_SET_NAME renamed;
    memset(&renamed, 0, sizeof(renamed));
    ccode = NWSMGetOneName(fresh, &renamed);
    free(fresh);
    if (ccode != 0) {
      PrintCode(FALSE, ccode, "NWSMGetOneName (2)", 0, si);
      NWSMFreeDataSetName(&renamed);
      return 0;
    }
    *placed = renamed.name != nullptr ? renamed.name : "";
    NWSMFreeDataSetName(&renamed);
    return 1;
  }

  bool matches(const std::string &subjectItem) {
    char **cpItem = spGlobal->sVRKObject.cpItem;
    for (int i = 0; i < VRK_MAX_ITEMS && cpItem[i] != nullptr; ++i) {
      const char *item = cpItem[i];
      trace("%l4 Restore: (%s)", item);
      int r;
      if (spGlobal->sOptions.iPlain == 1) {
        const char *slash = strrchr(item, '/');
        const char *pattern = slash != nullptr ? slash + 1 : item;
        r = fnmatch(pattern, subjectItem.c_str(), 0);
        trace("%l4 Restore plain: (%s ==> %s)", pattern, subjectItem.c_str());
      } else {
        // A name that already begins with '/' is matched as it is.
        std::string subject = subjectItem;
        if (item[0] == '/' && (subject.empty() || subject[0] != '/')) subject.insert(0, "/");
        r = fnmatch(item, subject.c_str(), 0);
        trace("%l4 Restore: (fnmatch) %s==::==%s > %d", item, subject.c_str(), r);
      }
      if (r == 0) {
        iMatch = 1;
        break;
      }
      iMatch = 0;
    }
    return iMatch != 0;
  }

  // Writes one data record; a non-zero answer ends the data set.
  void write_record(BUFFER *data, UINT32 bytesToWrite) {
    total += bytesToWrite;
    if (bytesToWrite == 0) return;
    bool parentWrite = writeHandle == &parentHandle;
    CCODE ccode = NWSMTSWriteDataSet(si->connection, *writeHandle, bytesToWrite, data);
    bool inUse = false;
    if (ccode == NWSMTS_DATA_SET_IN_USE) {
      vrk_log(3183, pszCurrentItem.c_str());
      if (level() >= 2) PrintCode(FALSE, ccode, "NWSMTSWriteDataSet (in use)", 0, si);
      std::string item = pszCurrentItem;
      EraseFile(si, &item[0]);
      NWSMTSCloseDataSet(si->connection, writeHandle);
      *writeHandle = 0;
      trace("%l4 Retry NWSMTSOpenDataSetForRestore()");
      // The same arguments as the first open.
      CCODE open = NWSMTSOpenDataSetForRestore(si->connection, openParent, openList, openMode, writeHandle);
      if (open != 0) {
        PrintCode(TRUE, open, "NWSMTSOpenDataSetForRestore", 0, si);
        *writeHandle = 0;
        ccode = open;
      } else {
        ccode = NWSMTSWriteDataSet(si->connection, *writeHandle, bytesToWrite, data);
        trace("%l4 Retry NWSMTSWriteDataSet() returned ccode 0X%x", (unsigned int)ccode);
      }
      inUse = ccode == NWSMTS_DATA_SET_IN_USE;
    }
    if (ccode == 0) return;
    switch (ccode) {
      case NWSMTS_VALID_PARENT_HANDLE:
        trace("%l4 Valid_Parent_Handle");
        if (level() >= 1) vrk_log(3021, pszCurrentItem.c_str());
        spGlobal->sVRKObject.ulSkipped += 1;
        break;
      case NWSMTS_DATA_SET_EXCLUDED:
        trace("%l4 Excluded");
        if (parentWrite) parentWasExcluded = true;
        if (level() >= 1) vrk_log(3009, pszCurrentItem.c_str());
        spGlobal->sVRKObject.ulSkipped += 1;
        break;
      case NWSMTS_DATA_SET_ALREADY_EXISTS:
        trace("%l4 Exists");
        if (level() >= 1) vrk_log(3021, pszCurrentItem.c_str());
        spGlobal->sVRKObject.ulSkipped += 1;
        break;
      default:
        if (ccode == NWSMTS_CREATE_ERROR && recordName == kServerSpecificInfo) {
          trace("%l4 Create error for [%s]: a warning case, skipped", kServerSpecificInfo);
          PrintCode(FALSE, ccode, "NWSMTSWriteDataSet", 0, si);
          spGlobal->sVRKObject.ulSkipped += 1;
          break;
        }
        if (level() >= 1) vrk_log(3109, pszCurrentItem.c_str());
        PrintCode(inUse ? FALSE : TRUE, ccode, "NWSMTSWriteDataSet", 0, si);
        spGlobal->sVRKObject.ulNotSaved += 1;
        break;
    }
    if (parentWrite) parentCounted = true;
    else dataSetCounted = true;
    total = 0;
    skip_data_set();
  }

  // A one-name list of a child's full name, for a child whose parent was
  // passed over; in the name space of the child's stored name.
  CCODE child_list(const NWSM_DATA_SET_NAME &stored) {
    free(childList);
    childList = nullptr;
    return NWSMPutOneName(&childList, stored.nameSpaceType, 0, stored.reverseOrder,
                          stored.firstSeparator != nullptr ? stored.firstSeparator : "",
                          stored.nextSeparator != nullptr ? stored.nextSeparator : "", pszCurrentFile.c_str());
  }

  // The first record of a data set: name, selection, open, first write.
  void first_record(BUFFER *data, UINT32 bytesToWrite, UINT8 parentFlag, UINT8 tnoFlag,
                    NWSM_DATA_SET_NAME_LIST *resourceName) {
    NWSM_DATA_SET_NAME VRKNLM_curr_rest_item;
    memset(&VRKNLM_curr_rest_item, 0, sizeof(VRKNLM_curr_rest_item));
    CCODE ccode = NWSMGetOneName(resourceName, &VRKNLM_curr_rest_item);
    if (ccode != 0) {
      // A malformed name list: the data set cannot be placed.
      PrintCode(TRUE, ccode, "NWSMGetOneName", 0, si);
      pszCurrentItem = "<unreadable name>";
      if (parentFlag) {
        // Its children are passed over, and named beneath it, not beneath
        // the parent before it.
        parentNotPlaced = true;
        storedDir = pszCurrentItem + "/";
        close_parent();
      }
      not_saved(pszCurrentItem);
      skip_data_set();
      return;
    }
    struct NameGuard {
      NWSM_DATA_SET_NAME *n;
      ~NameGuard() { NWSMFreeDataSetName(n); }
    } guard{&VRKNLM_curr_rest_item};
    recordName = VRKNLM_curr_rest_item.name;
    bool isParent = parentFlag != 0;
    bool terminal = tnoFlag != 0;
    std::string subject;

    if (isParent) {
      trace("%l4 got dir [%s]", recordName.c_str());
      pszCurrentItem = recordName;
      subject = recordName;
      if (terminal) storedDir = recordName;
    } else if (terminal) {
      trace("%l4 got file [%s]", recordName.c_str());
      if (parentNotPlaced) {
        // Its parent has no place: neither has the child.
        if (level() >= 1) vrk_log(3009, (storedDir + recordName).c_str());
        spGlobal->sVRKObject.ulSkipped += 1;
        skip_data_set();
        return;
      }
      if (!haveDir) {
        vrk_log(1500, "Restore:  No parent directory for file [%s] set", recordName.c_str());
        not_saved(recordName);
        stop = true;
        return;
      }
      // A parent stored without its trailing separator still gets one.
      pszCurrentFile = pszCurrentDir;
      if (!pszCurrentFile.empty() && pszCurrentFile.back() != '/' && pszCurrentFile.back() != ':')
        pszCurrentFile += '/';
      pszCurrentFile += recordName;
      if (level() >= 1) vrk_log(3008, pszCurrentFile.c_str());
      pszCurrentItem = pszCurrentFile;
      subject = storedDir + recordName;
    } else {
      pszCurrentItem = recordName;
      subject = recordName;
    }

    if (!RestoreNameIsSafe(recordName, !isParent && terminal)) {
      refuse(recordName, "", isParent && terminal);
      return;
    }

    matches(subject);
    if (isParent) {
      // The full-name form leaves the current parent of terminal names alone.
      if (terminal) {
        parentWasExcluded = false;
        parentNotPlaced = false;
      }
    } else {
      if (!iMatch || spGlobal->eBackupType == E_LIST) {
        if (!iMatch) trace("%l4 excluded [%s]", pszCurrentItem.c_str());
        vrk_log(3047, pszCurrentItem.c_str());
        spGlobal->sVRKObject.ulSkipped += 1;
        skip_data_set();
        return;
      }
      if (terminal && (parentWasExcluded || parentNotPlaced)) {
        if (level() >= 1) vrk_log(3009, pszCurrentItem.c_str());
        spGlobal->sVRKObject.ulSkipped += 1;
        skip_data_set();
        return;
      }
    }

    UINT32 skipData = spGlobal->sOptions.iSkipData ? NWSM_NO_DATA_STREAMS : 0;
    if (isParent && terminal) {
      close_parent();
      if (head != nullptr) {
        free(newList);
        newList = nullptr;
        ccode = GetNewName(si->connection, resourceName, &newList, spGlobal->sOptions.iPlain, si);
        if (ccode != 0) {
          vrk_log(1500, "GetNewName error code: 0X%lX", (unsigned long)ccode);
          PrintCode(TRUE, ccode, "GetNewName", 0, si);
          not_saved(pszCurrentItem);  // the restore ends, and this data set is not restored
          stop = true;
          return;
        }
        if (newList == nullptr) {
          trace("%l4 GetNewName returned empty newList - relocation does not match => skip item");
          if (level() >= 1) vrk_log(3009, pszCurrentItem.c_str());
          spGlobal->sVRKObject.ulSkipped += 1;
          parentNotPlaced = true;
          skip_data_set();
          return;
        }
        NWSM_DATA_SET_NAME renamed;
        memset(&renamed, 0, sizeof(renamed));
        ccode = NWSMGetOneName(newList, &renamed);
        if (ccode == NWSMUT_LIST_EMPTY) {
          vrk_log(3500, "Rename list is empty");
        } else if (ccode != 0) {
          PrintCode(FALSE, ccode, "NWSMGetOneName (2)", 0, si);
        } else {
          pszCurrentItem = renamed.name;
          if (level() >= 1) vrk_log(3008, pszCurrentItem.c_str());
        }
        NWSMFreeDataSetName(&renamed);
        if (!RestoreNameWithinTargets(pszCurrentItem)) {
          refuse(recordName, pszCurrentItem, true);
          return;
        }
      }
      mode = overwriteParent ? NWSM_OVERWRITE_DATA_SET : NWSM_DO_NOT_OVERWRITE_PARENT;
      if (head != nullptr && RestoreNameIsTarget(pszCurrentItem)) {
        // The directory restored into keeps its mode, owner and times.
        trace("%l4 [%s] is the restore target: an existing one is kept", pszCurrentItem.c_str());
        mode = NWSM_DO_NOT_OVERWRITE_PARENT;
      }
      if (skipData) {
        mode |= NWSM_NO_DATA_STREAMS;
        vrk_log(3500, "Info: mode=0X%X ( with NWSM_NO_DATA_STREAMS)", (unsigned int)mode);
      }
      if (spGlobal->sOptions.iIncludeMigratedData) {
        mode |= NWSM_INCLUDE_MIGRATED_DATA;
        vrk_log(3500, "Info: mode=0X%X ( with NWSM_INCLUDE_MIGRATED_DATA)", (unsigned int)mode);
      }
      pszCurrentDir = pszCurrentItem;
      storedDir = recordName;
      haveDir = true;
      trace("%l4 current dir [%s]", pszCurrentDir.c_str());
      if (spGlobal->eBackupType == E_LIST || !iMatch) {
        if (!iMatch) trace("%l4 excluded [%s]", pszCurrentItem.c_str());
        vrk_log(3047, pszCurrentItem.c_str());
        spGlobal->sVRKObject.ulSkipped += 1;
        skip_data_set();
        return;
      }
      writeHandle = &parentHandle;
      openParent = 0;
      openList = newList;
      if (openList == nullptr) {
        // Placed by its stored name, whatever its stream carries.
        ccode = one_name(&placeList, VRKNLM_curr_rest_item, recordName);
        if (ccode != 0) {
          PrintCode(TRUE, ccode, "NWSMPutOneName", 0, si);
          close_parent();
          parentNotPlaced = true;
          not_saved(pszCurrentItem);
          skip_data_set();
          return;
        }
        openList = placeList;
      }
      parentItem = pszCurrentItem;
      parentCounted = false;
    } else if (!isParent && terminal) {
      mode = (UINT16)((overwriteChild ? NWSM_OVERWRITE_DATA_SET : NWSM_DO_NOT_OVERWRITE_CHILD) | skipData);
      writeHandle = &dataSetHandle;
      openParent = parentHandle;
      openList = nullptr;
      if (parentHandle != 0) {
        // Its terminal name beneath the parent, whatever its stream carries.
        ccode = one_name(&placeList, VRKNLM_curr_rest_item, recordName);
        if (ccode != 0) {
          PrintCode(TRUE, ccode, "NWSMPutOneName", 0, si);
          not_saved(pszCurrentItem);
          skip_data_set();
          return;
        }
        openList = placeList;
      } else {
        // The parent was passed over: the child is opened by its full name.
        ccode = child_list(VRKNLM_curr_rest_item);
        if (ccode != 0) {
          PrintCode(TRUE, ccode, "NWSMPutOneName", 0, si);
          not_saved(pszCurrentItem);
          skip_data_set();
          return;
        }
        openList = childList;
      }
      dataSetCounted = false;
    } else {
      // The full-name form: renamed, relocated and checked like every
      // other name before the TSA sees it.
      if (isParent && (spGlobal->eBackupType == E_LIST || !iMatch)) {
        if (!iMatch) trace("%l4 excluded [%s]", pszCurrentItem.c_str());
        vrk_log(3047, pszCurrentItem.c_str());
        spGlobal->sVRKObject.ulSkipped += 1;
        skip_data_set();
        return;
      }
      std::string placed = recordName;
      if (head != nullptr) {
        std::string parentPart = recordName, child;
        if (!isParent && !split_full_name(recordName, &parentPart, &child)) {
          refuse(recordName, "", false);
          return;
        }
        std::string newParent;
        int r = relocate(VRKNLM_curr_rest_item, parentPart, &newParent);
        if (r < 0) return;
        if (r == 0) {
          trace("%l4 GetNewName returned empty newList - relocation does not match => skip item");
          if (level() >= 1) vrk_log(3009, pszCurrentItem.c_str());
          spGlobal->sVRKObject.ulSkipped += 1;
          skip_data_set();
          return;
        }
        placed = newParent;
        if (!isParent) {
          if (!placed.empty() && placed.back() != '/' && placed.back() != ':') placed += '/';
          placed += child;
        }
        if (!RestoreNameWithinTargets(isParent ? placed : newParent) || !RestoreNameIsSafe(placed, false)) {
          refuse(recordName, placed, false);
          return;
        }
        pszCurrentItem = placed;
        if (level() >= 1) vrk_log(3008, pszCurrentItem.c_str());
      }
      if (isParent) {
        mode = (UINT16)((overwriteParent ? NWSM_OVERWRITE_DATA_SET : NWSM_DO_NOT_OVERWRITE_PARENT) | skipData);
        if (head != nullptr && RestoreNameIsTarget(placed))
          mode = (UINT16)(NWSM_DO_NOT_OVERWRITE_PARENT | skipData);
        trace("%l4 Open parent, parent handle not used");
      } else {
        mode = (UINT16)((overwriteChild ? NWSM_OVERWRITE_DATA_SET : NWSM_DO_NOT_OVERWRITE_CHILD) | skipData);
        trace("%l4 Open child w/o parent handle");
      }
      ccode = one_name(&placeList, VRKNLM_curr_rest_item, placed);
      if (ccode != 0) {
        PrintCode(TRUE, ccode, "NWSMPutOneName", 0, si);
        not_saved(pszCurrentItem);
        skip_data_set();
        return;
      }
      writeHandle = &dataSetHandle;
      openParent = 0;
      openList = placeList;
      dataSetCounted = false;
    }

    // Every open carries the NOACL bits, the retry after an erase included.
    mode = (UINT16)(mode | noaclMode);
    openMode = mode;
    if (noaclMode && level() >= 3)
      trace("%l3 Option 'NOACL' mode=0X%X ( with NWSM_NO_VOLUME_RESTRICTIONS, NWSM_NO_DISK_SPACE_RESTRICTIONS, "
            "NWSM_NO_PARENT_TRUSTEES, NWSM_NO_CHILD_TRUSTEES)",
            (unsigned int)mode);
    ccode = NWSMTSOpenDataSetForRestore(si->connection, openParent, openList, openMode, writeHandle);
    if (ccode != 0) {
      *writeHandle = 0;
      PrintCode(TRUE, ccode, "NWSMTSOpenDataSetForRestore", 0, si);
      not_saved(pszCurrentItem);
      if (writeHandle == &parentHandle) parentCounted = true;
      else dataSetCounted = true;
      skip_data_set();
      return;
    }
    write_record(data, bytesToWrite);
  }

  void loop(void) {
    bool firstRecord = true;
    bool firstOfStream = true;
    while (!stop) {
      if (signalled()) {
        vrk_log(3500, "Restore: stopped by a termination signal");
        break;
      }
      UINT32 bytesToWrite = 0;
      UINT8 parentFlag = 0, tnoFlag = 0;
      NWSM_DATA_SET_NAME_LIST *resourceName = nullptr;
      BUFFER *SMSData = ReadDEFiles(&bytesToWrite, &parentFlag, &tnoFlag, si, &resourceName);
      if (SMSData == nullptr) {
        end_of_data();
        break;
      }
      if (firstOfStream) {
        firstOfStream = false;
        // Its first data set is restored all the same, and counted.
        if (bytesToWrite != DE_END_OF_RECORD)
          vrk_log(3500, "Restore: the stored object does not begin with an end-of-record marker");
      }
      if (bytesToWrite == DE_END_OF_RECORD) {
        trace("%l4 Restore: process END_OF_RECORD_MARKER");
        markers += 1;
        utotal += total;
        total = 0;
        close_data_set();
        inDataSet = false;
        firstRecord = true;
        continue;
      }
      inDataSet = true;
      if (firstRecord) {
        firstRecord = false;
        resourceCount += 1;  // data sets met, restored or not
        // Every step that passes the data set over reads up to its marker.
        first_record(SMSData, bytesToWrite, parentFlag, tnoFlag, resourceName);
      } else if (writeHandle != nullptr && *writeHandle != 0) {
        write_record(SMSData, bytesToWrite);
      }
      free(resourceName);
    }
  }
};

}  // namespace

void Restore(SESSION_INFORMATION *sessionInfo) {
  time_t tStart = time(nullptr);
  RestoreRun run;
  run.si = sessionInfo;
  _sOptions *opt = &spGlobal->sOptions;
  run.overwriteParent = run.overwriteChild = opt->iOverwrite == 1 ? TRUE : FALSE;
  run.noaclMode = opt->iProcessACL == 0 ? kNoaclBits : 0;

  if (run.overwriteParent) vrk_log(3500, "Overwrite mode");
  else trace("%l4 Overwrite remains FALSE");
  if (opt->iPlain) vrk_log(3500, "Plain option is set");
  if (spGlobal->eBackupType == E_LIST) vrk_log(3500, "'-l list' level is set");
  if (run.noaclMode && level() >= 1)
    vrk_log(3500,
            "Option 'NOACL' set noaclMode=0X%X ( NWSM_NO_VOLUME_RESTRICTIONS, NWSM_NO_DISK_SPACE_RESTRICTIONS, "
            "NWSM_NO_PARENT_TRUSTEES, NWSM_NO_CHILD_TRUSTEES)",
            (unsigned int)run.noaclMode);

  char command = 0;
  bool restore = false;
  bool quit = false;
  while (!restore && !quit) {
    command = GetRCommand(run.overwriteParent, run.overwriteChild);
    switch (command) {
      case 'R': restore = true; break;
      case 'C': run.overwriteChild = run.overwriteChild ? FALSE : TRUE; break;
      case 'P': run.overwriteParent = run.overwriteParent ? FALSE : TRUE; break;
      case 'F': FreeRenameList(); break;
      case 'N': {
        char empty1[1] = "", empty2[1] = "";
        RenameRestore(sessionInfo, empty1, empty2);
        break;
      }
      case 'D': DisplayRenameList(); break;
      default: quit = true; break;
    }
  }

  if (restore) {
    if (sessionInfo->selectionList != nullptr) {
      vrk_log(3500, "Call NWSMTSSetRestoreOptions with list");
      DisplaySelectionList(sessionInfo);
      CCODE ccode = NWSMTSSetRestoreOptions(sessionInfo->connection, sessionInfo->scanControl.generateCRC, 0,
                                            sessionInfo->selectionList);
      if (ccode != 0) PrintCode(TRUE, ccode, "NWSMTSSetRestoreOptions", 0, sessionInfo);
    }

    bool added = false;
    bool failed = false;
    for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
      char *target = spGlobal->szTargetPath[i];
      if (target[0] == '\0' || strcmp(target, "/") == 0) break;
      char *source = spGlobal->szPath[i];
      trace("%l4 Call RenameRestore with source [%s], dest [%s]", source, target);
      CCODE ccode = RenameRestore(sessionInfo, source, target);
      if (ccode != 0) {
        vrk_log(1500, "RenameRestore [%s] with error code: 0X%X", source, (unsigned int)ccode);
        PrintCode(TRUE, ccode, "RenameRestore", 0, sessionInfo);
        failed = true;
        break;
      }
      trace("%l4 RenameRestore target= [%s]", target);
      added = true;
    }
    if (added) DisplayRenameList();

    if (!failed) {
      if (OpenDEFiles('r', sessionInfo, 0) != 0) {
        vrk_log(1500, "Restore: Cannot open KORVA Saveset");
        FreeSelectionList(sessionInfo);
        FreeRenameList();
        return;
      }
      StartTimer();
      run.loop();
    }
  }

  if (run.dataSetHandle != 0) trace("%l4 Restore: Terminate > Close dataset");
  run.close_data_set();
  run.close_parent();
  run.report_cut_copies();
  CloseDEFiles(sessionInfo);

  if (command == 'R') {
    float kb = (float)(run.utotal / 1024.0);
    float minutes = (float)ElapsedTime() / 60.0f;
    if (run.resourceCount > 0 || run.markers > 0) {
      vrk_log(3500, "Number of resources restored: %lu", (unsigned long)run.resourceCount);
      uint64_t notSaved = spGlobal->sVRKObject.ulNotSaved;
      spGlobal->sVRKObject.ulSaved = run.resourceCount > notSaved ? run.resourceCount - notSaved : 0;
      vrk_log(3500, "Total written: %.2f KB", (double)kb);
      vrk_log(3500, "Elapsed time:  %.2f minutes", (double)minutes);
      if (minutes != 0.0f) vrk_log(3500, "Throughput:    %.2f MB/min", (double)(kb / minutes / 1024.0f));
    } else {
      vrk_log(3500, "No resources restored: %lu", (unsigned long)run.resourceCount);
    }
    double seconds = difftime(time(nullptr), tStart);
    if (seconds < 1) seconds = 1;
    char size[64], rate[64];
    snprintf(size, sizeof(size), "%.0f", run.utotal);
    snprintf(rate, sizeof(rate), "%f", run.utotal / seconds * 3600.0 / 1024.0 / 1024.0);
    vrk_log(3006, size, rate);
  }

  FreeSelectionList(sessionInfo);
  free(run.newList);
  run.newList = nullptr;
  free(run.childList);
  run.childList = nullptr;
  free(run.placeList);
  run.placeList = nullptr;
  FreeRenameList();
}
