// The exclusions of a backup: every exclude item (from -x, the exclude file
// and the groupware list) becomes one or two entries of the selection list.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "client/vrk_global.h"
#include "client/vrk_patterns.h"
#include "engine/backup.h"
#include "engine/namespace.h"
#include "runtime/vrk_log.h"
#include "sms/smsapi.h"

bool BuildExcludeList(SESSION_INFORMATION *sessionInfo) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  vrk_log(3500, "Add exclude");
  trace("Backup: check exclude [%s]", o->cpExclude[0] != nullptr ? o->cpExclude[0] : "NULL");
  UINT32 XnameSpaceType = GetNameSpace(sessionInfo);
  if (XnameSpaceType == NO_NAME_SPACE) XnameSpaceType = 0;
  trace("Use Name Space Type = 0x%03X for exclude pattern", (unsigned)XnameSpaceType);

  // An exclude file that cannot be read whole ends the backup before anything
  // is stored, as a missing one does: going on would store what the user
  // asked to leave out.
  char msg[512] = {0};
  if (!iFillExcludePatternsFromFile(msg, sizeof(msg))) {
    vrk_log(3500, "Read exclude patterns from file failed with error [%s]", msg);
    vrk_log(1066, vrk_exclude_file_name(), msg);
    return false;
  }

  NWBOOLEAN reverse = 0;
  STRING_BUFFER *first = nullptr, *next = nullptr;
  UINT32 handle = 0;
  bool ok = true, started = false;
  for (int i = 0; ok && i < VRK_MAX_ITEMS && o->cpExclude[i] != nullptr; ++i) {
    const char *item = o->cpExclude[i];
    vrk_log(3026, item);
    char *parent = nullptr, *child = nullptr;
    CCODE cc = NWSMTSSeparateDataSetName(sessionInfo->connection, XnameSpaceType, item, &parent, &child);
    std::string p = cc == 0 && parent != nullptr ? parent : "";
    std::string c = cc == 0 && child != nullptr ? child : item;
    free(parent);
    free(child);
    vrk_log(3500, "exclude parent [%s], child [%s]", p.c_str(), c.c_str());
    UINT32 sel;
    if (!p.empty()) {
      sel = NWSM_EXCLUDE_CHILD_BY_FULL_NAME;
      vrk_log(3500, "Add exclude [%s] as a child > use NWSM_EXCLUDE_CHILD_BY_FULL_NAME", item);
    } else {
      sel = NWSM_CHILD_TO_BE_EXCLUDED;
      vrk_log(3500, "Add exclude [%s] as a child > use NWSM_CHILD_TO_BE_EXCLUDED", item);
    }
    if (!started) {
      NWSMTSGetNameSpaceTypeInfo(sessionInfo->connection, XnameSpaceType, &reverse, &first, &next);
      cc = NWSMPutFirstName(&sessionInfo->selectionList, XnameSpaceType, sel, reverse,
                            first != nullptr ? first->string : "", next != nullptr ? next->string : "", item,
                            &handle);
      if (cc != 0) {
        vrk_log(1500, "Build Exclude list failed: NWSMPutFirstName for child [%s] returned %x", item, (unsigned)cc);
        ok = false;
        break;
      }
      started = true;
    } else {
      cc = NWSMPutNextName(&sessionInfo->selectionList, &handle, XnameSpaceType, sel, reverse,
                           first != nullptr ? first->string : "", next != nullptr ? next->string : "", item);
      if (cc != 0) {
        vrk_log(1500, "Build Exclude list failed: NWSMPutNextName for child [%s] returned %x", item, (unsigned)cc);
        ok = false;
        break;
      }
    }
    size_t len = strlen(item);
    if (!p.empty() && len > 0 && item[len - 1] == '/') {
      vrk_log(3500, "Add exclude [%s] as a parent > use NWSM_PARENT_TO_BE_EXCLUDED", item);
      cc = NWSMPutNextName(&sessionInfo->selectionList, &handle, XnameSpaceType, NWSM_PARENT_TO_BE_EXCLUDED,
                           reverse, first != nullptr ? first->string : "", next != nullptr ? next->string : "",
                           item);
      if (cc != 0) {
        vrk_log(1500, "Build Exclude list failed: NWSMPutNextName for parent [%s] returned %x", item,
                (unsigned)cc);
        ok = false;
      }
    }
  }
  if (started) NWSMCloseName(&handle);
  NWSMFreeString(first);
  NWSMFreeString(next);
  if (ok && spGlobal->iLogLevel >= 4) DisplaySelectionList(sessionInfo);
  return ok;
}
