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
#include <vector>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/console.h"
#include "engine/de_stream.h"
#include "engine/namespace.h"
#include "engine/rename_list.h"
#include "engine/restore_target.h"
#include "runtime/password_mask.h"
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
  NWSM_DATA_SET_NAME_LIST *openList = nullptr;   // newList or placeList
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
  // Which source items some data set matched, and whether the whole stream
  // was read (only then does an item that met nothing say so).
  std::vector<bool> itemMet;
  bool readToEnd = false;

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
      vrk_log(3500, "Incomplete copy of [%s] in the saveset passed over", vrk_log_name(pszCurrentItem).c_str());
      if (cutCopies.insert(pszCurrentItem).second) spGlobal->sVRKObject.ulNotSaved += 1;
    } else if (ccode != 0 && !dataSetCounted) {
      PrintCode(TRUE, ccode, "NWSMTSCloseDataSet", 0, si);
      not_saved(pszCurrentItem);
    } else if (ccode == 0 && !dataSetCounted && cutCopies.erase(pszCurrentItem) > 0) {
      vrk_log(3500, "Whole copy of [%s] restored", vrk_log_name(pszCurrentItem).c_str());
      if (spGlobal->sVRKObject.ulNotSaved > 0) spGlobal->sVRKObject.ulNotSaved -= 1;
    }
    dataSetCounted = true;
  }

  // A cut copy without a whole copy behind it is a data set lost.
  void report_cut_copies(void) {
    for (const std::string &item : cutCopies) {
      vrk_log(1500, "No whole copy of [%s] in the saveset: not restored", vrk_log_name(item).c_str());
      if (level() >= 1) vrk_log(3109, item.c_str());
    }
    cutCopies.clear();
  }

  // Directories whose owner, mode and times, set once their subtrees were
  // in place, could not be set: each is a data set not restored as it was.
  void report_failed_directories(void) {
    char *name = nullptr, *why = nullptr;
    while (vrk_sms_failed_directory(si->connection, &name, &why)) {
      vrk_log(1500, "Restore: owner, mode and times of the directory [%s] not set: %s", vrk_log_name(name).c_str(), why);
      not_saved(name);
      free(name);
      free(why);
    }
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
    readToEnd = true;
    if (inDataSet) {
      // A stored object whose last data set has no end-of-record marker was cut off.
      vrk_log(1500, "Restore: the saveset ends inside the data set [%s]: it is incomplete",
              vrk_log_name(pszCurrentItem).c_str());
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
      vrk_log(1500, "Restore: the stored name [%s] would leave the restore target: refused",
              vrk_log_name(stored).c_str());
    else
      vrk_log(1500, "Restore: the stored name [%s] would leave the restore target as [%s]: refused",
              vrk_log_name(stored).c_str(), vrk_log_name(placed).c_str());
    if (isParent) {
      close_parent();
      parentWasExcluded = false;
      parentNotPlaced = true;
    }
    not_saved(pszCurrentItem);
    skip_data_set();
  }

  // The rename list could not be asked: the restore ends, and this data set
  // is not restored.
  void rename_lookup_failed(CCODE ccode) {
    vrk_log(1500, "GetNewName error code: 0X%lX", (unsigned long)ccode);
    PrintCode(TRUE, ccode, "GetNewName", 0, si);
    not_saved(pszCurrentItem);
    stop = true;
  }

  // The first name of a list, into *out (left alone on failure).
  CCODE name_of(NWSM_DATA_SET_NAME_LIST *list, std::string *out) {
    NWSM_DATA_SET_NAME n;
    memset(&n, 0, sizeof(n));
    CCODE ccode = NWSMGetOneName(list, &n);
    if (ccode == 0) *out = n.name != nullptr ? n.name : "";
    NWSMFreeDataSetName(&n);
    return ccode;
  }

  // The new name of a full name through the rename list: 1 with the name,
  // 0 when no pair takes it, -1 when the lookup failed (the restore ends).
  int relocate(const NWSM_DATA_SET_NAME &stored, const std::string &full, std::string *placed) {
    NWSM_DATA_SET_NAME_LIST *orig = nullptr, *fresh = nullptr;
    CCODE ccode = one_name(&orig, stored, full);
    if (ccode == 0) ccode = GetNewName(si->connection, orig, &fresh, spGlobal->sOptions.iPlain, si);
    free(orig);
    if (ccode != 0) {
      free(fresh);
      rename_lookup_failed(ccode);
      return -1;
    }
    if (fresh == nullptr) return 0;
    ccode = name_of(fresh, placed);
    free(fresh);
    if (ccode != 0) {
      PrintCode(FALSE, ccode, "NWSMGetOneName (2)", 0, si);
      return 0;
    }
    return 1;
  }

  // One source item against the data set's name: as a plain name (the part
  // after the item's last '/') or as a pattern of the whole name.
  static bool item_matches(const char *item, const std::string &subjectItem, bool traced) {
    int r;
    if (spGlobal->sOptions.iPlain == 1) {
      const char *slash = strrchr(item, '/');
      const char *pattern = slash != nullptr ? slash + 1 : item;
      r = fnmatch(pattern, subjectItem.c_str(), 0);
      if (traced) trace("%l4 Restore plain: (%s ==> %s)", pattern, subjectItem.c_str());
    } else {
      // A name that already begins with '/' is matched as it is.
      std::string subject = subjectItem;
      if (item[0] == '/' && (subject.empty() || subject[0] != '/')) subject.insert(0, "/");
      r = fnmatch(item, subject.c_str(), 0);
      if (traced) trace("%l4 Restore: (fnmatch) %s==::==%s > %d", item, subject.c_str(), r);
    }
    return r == 0;
  }

  bool matches(const std::string &subjectItem) {
    char **cpItem = spGlobal->sVRKObject.cpItem;
    int i = 0;
    for (; i < VRK_MAX_ITEMS && cpItem[i] != nullptr; ++i) {
      trace("%l4 Restore: (%s)", cpItem[i]);
      if (item_matches(cpItem[i], subjectItem, true)) {
        iMatch = 1;
        break;
      }
      iMatch = 0;
    }
    if (i < VRK_MAX_ITEMS && cpItem[i] != nullptr) {
      // The first item that matches decides; the ones behind it that have
      // met nothing yet are asked too, so that only a selection that no data
      // set of the saveset matches is reported.
      itemMet.resize(VRK_MAX_ITEMS, false);
      itemMet[i] = true;
      for (int k = i + 1; k < VRK_MAX_ITEMS && cpItem[k] != nullptr; ++k)
        if (!itemMet[k] && item_matches(cpItem[k], subjectItem, false)) itemMet[k] = true;
    }
    return iMatch != 0;
  }

  // Each source item that matched no data set of the whole saveset: a
  // warning that names it, as the user gave it.
  void report_unmet_items(void) {
    if (!readToEnd || signalled()) return;
    char **cpItem = spGlobal->sVRKObject.cpItem;
    itemMet.resize(VRK_MAX_ITEMS, false);
    for (int i = 0; i < VRK_MAX_ITEMS && cpItem[i] != nullptr; ++i)
      if (!itemMet[i])
        vrk_log(2500, "Restore: the selection [%s] matched no data set of the saveset",
                vrk_log_name(cpItem[i]).c_str());
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

  // Passes over a data set that is only listed, or that matched no source item.
  void pass_over_unselected(void) {
    if (!iMatch) trace("%l4 excluded [%s]", vrk_log_name(pszCurrentItem).c_str());
    vrk_log(3047, pszCurrentItem.c_str());
    spGlobal->sVRKObject.ulSkipped += 1;
    skip_data_set();
  }
  bool listed_or_unmatched(void) const { return spGlobal->eBackupType == E_LIST || !iMatch; }

  // Passes over a data set that is not included: its parent has no place,
  // the TSA excluded its parent, or no rename pair takes it.
  void pass_over_not_included(const std::string &item) {
    if (level() >= 1) vrk_log(3009, item.c_str());
    spGlobal->sVRKObject.ulSkipped += 1;
    skip_data_set();
  }
  void no_pair(void) {
    trace("%l4 GetNewName returned empty newList - relocation does not match => skip item");
    pass_over_not_included(pszCurrentItem);
  }

  // The one-name list that places the data set, whatever its stream carries
  // (placeList, the open's list); false when it cannot be built: the data set
  // is not restored, and the children of a parent have no place either.
  bool place_by(const NWSM_DATA_SET_NAME &stored, const std::string &name, bool parentOfChildren) {
    CCODE ccode = one_name(&placeList, stored, name);
    if (ccode == 0) {
      openList = placeList;
      return true;
    }
    PrintCode(TRUE, ccode, "NWSMPutOneName", 0, si);
    if (parentOfChildren) {
      close_parent();
      parentNotPlaced = true;
    }
    not_saved(pszCurrentItem);
    skip_data_set();
    return false;
  }

  // A malformed name list: the data set cannot be placed.
  void unreadable_name(CCODE ccode, bool isParent) {
    PrintCode(TRUE, ccode, "NWSMGetOneName", 0, si);
    pszCurrentItem = "<unreadable name>";
    if (isParent) {
      // Its children are passed over, and named beneath it, not beneath
      // the parent before it.
      parentNotPlaced = true;
      storedDir = pszCurrentItem + "/";
      close_parent();
    }
    not_saved(pszCurrentItem);
    skip_data_set();
  }

  // The names of the data set (pszCurrentItem, a child's pszCurrentFile) and
  // the subject its selection matches; false when it is passed over or the
  // restore ends.
  bool name_item(bool isParent, bool terminal, std::string *subject) {
    if (isParent) {
      trace("%l4 got dir [%s]", vrk_log_name(recordName).c_str());
      pszCurrentItem = recordName;
      *subject = recordName;
      if (terminal) storedDir = recordName;
      return true;
    }
    if (!terminal) {
      pszCurrentItem = recordName;
      *subject = recordName;
      return true;
    }
    if (level() >= 4) trace("%l4 got file [%s]", vrk_log_name(recordName).c_str());
    if (parentNotPlaced) {
      // Its parent has no place: neither has the child. The selection it
      // matches did meet a data set of the saveset all the same.
      matches(storedDir + recordName);
      pass_over_not_included(storedDir + recordName);
      return false;
    }
    if (!haveDir) {
      vrk_log(1500, "Restore:  No parent directory for file [%s] set", vrk_log_name(recordName).c_str());
      not_saved(recordName);
      stop = true;
      return false;
    }
    // A parent stored without its trailing separator still gets one.
    pszCurrentFile = pszCurrentDir;
    if (!pszCurrentFile.empty() && pszCurrentFile.back() != '/' && pszCurrentFile.back() != ':')
      pszCurrentFile += '/';
    pszCurrentFile += recordName;
    if (level() >= 1) vrk_log(3008, pszCurrentFile.c_str());
    pszCurrentItem = pszCurrentFile;
    *subject = storedDir + recordName;
    return true;
  }

  // Selection by the source items; false when the data set is passed over.
  bool select(bool isParent, bool terminal, const std::string &subject) {
    matches(subject);
    if (isParent) {
      // The full-name form leaves the current parent of terminal names alone.
      if (terminal) {
        parentWasExcluded = false;
        parentNotPlaced = false;
      }
      return true;
    }
    if (listed_or_unmatched()) {
      pass_over_unselected();
      return false;
    }
    if (terminal && (parentWasExcluded || parentNotPlaced)) {
      pass_over_not_included(pszCurrentItem);
      return false;
    }
    return true;
  }

  // A parent's new name through the rename list (newList, pszCurrentItem);
  // false when it is passed over or the restore ends.
  bool rename_parent(NWSM_DATA_SET_NAME_LIST *resourceName) {
    free(newList);
    newList = nullptr;
    CCODE ccode = GetNewName(si->connection, resourceName, &newList, spGlobal->sOptions.iPlain, si);
    if (ccode != 0) {
      rename_lookup_failed(ccode);
      return false;
    }
    if (newList == nullptr) {
      parentNotPlaced = true;
      no_pair();
      return false;
    }
    std::string renamed;
    ccode = name_of(newList, &renamed);
    if (ccode == NWSMUT_LIST_EMPTY) {
      vrk_log(3500, "Rename list is empty");
    } else if (ccode != 0) {
      PrintCode(FALSE, ccode, "NWSMGetOneName (2)", 0, si);
    } else {
      pszCurrentItem = renamed;
      if (level() >= 1) vrk_log(3008, pszCurrentItem.c_str());
    }
    if (!RestoreNameWithinTargets(pszCurrentItem)) {
      refuse(recordName, pszCurrentItem, true);
      return false;
    }
    return true;
  }

  // A parent with terminal names: it becomes the current directory, and its
  // handle takes its children. False when it is not opened.
  bool prepare_parent(const NWSM_DATA_SET_NAME &stored, NWSM_DATA_SET_NAME_LIST *resourceName) {
    close_parent();
    if (head != nullptr && !rename_parent(resourceName)) return false;
    mode = overwriteParent ? NWSM_OVERWRITE_DATA_SET : NWSM_DO_NOT_OVERWRITE_PARENT;
    if (head != nullptr && RestoreNameIsTarget(pszCurrentItem)) {
      // The directory restored into keeps its mode, owner and times.
      trace("%l4 [%s] is the restore target: an existing one is kept", vrk_log_name(pszCurrentItem).c_str());
      mode = NWSM_DO_NOT_OVERWRITE_PARENT;
    }
    if (spGlobal->sOptions.iSkipData) {
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
    trace("%l4 current dir [%s]", vrk_log_name(pszCurrentDir).c_str());
    if (listed_or_unmatched()) {
      pass_over_unselected();
      return false;
    }
    writeHandle = &parentHandle;
    openParent = 0;
    openList = newList;
    // Without a new name it is placed by its stored name.
    if (openList == nullptr && !place_by(stored, recordName, true)) return false;
    parentItem = pszCurrentItem;
    parentCounted = false;
    return true;
  }

  // A child with its terminal name: beneath the parent's handle, or by its
  // full name when the parent was passed over.
  bool prepare_child(const NWSM_DATA_SET_NAME &stored) {
    UINT32 skipData = spGlobal->sOptions.iSkipData ? NWSM_NO_DATA_STREAMS : 0;
    mode = (UINT16)((overwriteChild ? NWSM_OVERWRITE_DATA_SET : NWSM_DO_NOT_OVERWRITE_CHILD) | skipData);
    writeHandle = &dataSetHandle;
    openParent = parentHandle;
    openList = nullptr;
    if (!place_by(stored, parentHandle != 0 ? recordName : pszCurrentFile, false)) return false;
    dataSetCounted = false;
    return true;
  }

  // The new name of a data set of the full-name form, checked like every
  // other name before the TSA sees it; false when it is passed over or the
  // restore ends.
  bool relocate_full_name(const NWSM_DATA_SET_NAME &stored, bool isParent, std::string *placed) {
    std::string parentPart = recordName, child;
    if (!isParent && !split_full_name(recordName, &parentPart, &child)) {
      refuse(recordName, "", false);
      return false;
    }
    std::string newParent;
    int r = relocate(stored, parentPart, &newParent);
    if (r < 0) return false;
    if (r == 0) {
      no_pair();
      return false;
    }
    *placed = newParent;
    if (!isParent) {
      if (!placed->empty() && placed->back() != '/' && placed->back() != ':') *placed += '/';
      *placed += child;
    }
    if (!RestoreNameWithinTargets(isParent ? *placed : newParent) || !RestoreNameIsSafe(*placed, false)) {
      refuse(recordName, *placed, false);
      return false;
    }
    pszCurrentItem = *placed;
    if (level() >= 1) vrk_log(3008, pszCurrentItem.c_str());
    return true;
  }

  // A data set of the full-name form: renamed and relocated, opened by its
  // new full name without a parent handle.
  bool prepare_full_name(const NWSM_DATA_SET_NAME &stored, bool isParent) {
    if (isParent && listed_or_unmatched()) {
      pass_over_unselected();
      return false;
    }
    std::string placed = recordName;
    if (head != nullptr && !relocate_full_name(stored, isParent, &placed)) return false;
    UINT32 skipData = spGlobal->sOptions.iSkipData ? NWSM_NO_DATA_STREAMS : 0;
    if (isParent) {
      mode = (UINT16)((overwriteParent ? NWSM_OVERWRITE_DATA_SET : NWSM_DO_NOT_OVERWRITE_PARENT) | skipData);
      if (head != nullptr && RestoreNameIsTarget(placed)) mode = (UINT16)(NWSM_DO_NOT_OVERWRITE_PARENT | skipData);
      trace("%l4 Open parent, parent handle not used");
    } else {
      mode = (UINT16)((overwriteChild ? NWSM_OVERWRITE_DATA_SET : NWSM_DO_NOT_OVERWRITE_CHILD) | skipData);
      trace("%l4 Open child w/o parent handle");
    }
    if (!place_by(stored, placed, false)) return false;
    writeHandle = &dataSetHandle;
    openParent = 0;
    dataSetCounted = false;
    return true;
  }

  // Opens the data set as prepared and writes its first record.
  void open_and_write(BUFFER *data, UINT32 bytesToWrite) {
    // Every open carries the NOACL bits, the retry after an erase included.
    mode = (UINT16)(mode | noaclMode);
    openMode = mode;
    if (noaclMode && level() >= 3)
      trace("%l3 Option 'NOACL' mode=0X%X ( with NWSM_NO_VOLUME_RESTRICTIONS, NWSM_NO_DISK_SPACE_RESTRICTIONS, "
            "NWSM_NO_PARENT_TRUSTEES, NWSM_NO_CHILD_TRUSTEES)",
            (unsigned int)mode);
    CCODE ccode = NWSMTSOpenDataSetForRestore(si->connection, openParent, openList, openMode, writeHandle);
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
    // Its first write left the directories before it behind.
    report_failed_directories();
  }

  // The first record of a data set: name, selection, open, first write.
  // Every step that passes the data set over reads up to its marker.
  void first_record(BUFFER *data, UINT32 bytesToWrite, UINT8 parentFlag, UINT8 tnoFlag,
                    NWSM_DATA_SET_NAME_LIST *resourceName) {
    NWSM_DATA_SET_NAME VRKNLM_curr_rest_item;
    memset(&VRKNLM_curr_rest_item, 0, sizeof(VRKNLM_curr_rest_item));
    CCODE ccode = NWSMGetOneName(resourceName, &VRKNLM_curr_rest_item);
    if (ccode != 0) {
      unreadable_name(ccode, parentFlag != 0);
      return;
    }
    struct NameGuard {
      NWSM_DATA_SET_NAME *n;
      ~NameGuard() { NWSMFreeDataSetName(n); }
    } guard{&VRKNLM_curr_rest_item};
    recordName = VRKNLM_curr_rest_item.name;
    const bool isParent = parentFlag != 0;
    const bool terminal = tnoFlag != 0;

    std::string subject;
    if (!name_item(isParent, terminal, &subject)) return;
    if (!RestoreNameIsSafe(recordName, !isParent && terminal)) {
      refuse(recordName, "", isParent && terminal);
      return;
    }
    if (!select(isParent, terminal, subject)) return;

    bool prepared;
    if (isParent && terminal) prepared = prepare_parent(VRKNLM_curr_rest_item, resourceName);
    else if (terminal) prepared = prepare_child(VRKNLM_curr_rest_item);
    else prepared = prepare_full_name(VRKNLM_curr_rest_item, isParent);
    if (prepared) open_and_write(data, bytesToWrite);
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
        // A read cut short by the signal is no end of the saveset.
        if (signalled()) {
          vrk_log(3500, "Restore: stopped by a termination signal");
          break;
        }
        if (!inDataSet && markers > 0) trace("Restore: ReadDEFiles EOR MARKER >> break");
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
        vrk_log(1500, "RenameRestore [%s] with error code: 0X%X", vrk_log_name(source).c_str(), (unsigned int)ccode);
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
  // The directories still kept get their owner, mode and times before the
  // counts are made; after a stop (SIGINT) their notes stay, as a signal
  // that ends the process leaves them, for the next restore to finish them.
  if (signalled()) vrk_sms_stop_restore(sessionInfo->connection);
  else vrk_sms_finish_restore(sessionInfo->connection);
  run.report_failed_directories();
  run.report_cut_copies();
  run.report_unmet_items();
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
  free(run.placeList);
  run.placeList = nullptr;
  FreeRenameList();
}
