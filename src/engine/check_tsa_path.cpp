// CheckTSAPath: whether a path is a directory that the TSA reports back under
// the same name (compared without regard to case), and its creator name space.
#include <strings.h>

#include <string>

#include "engine/connection.h"
#include "engine/listing.h"
#include "runtime/vrk_log.h"

namespace {

// Longest path that the check takes.
const size_t kPathMax = 499;

// The name of a returned data set in the NFS name space, or its UTF-8 form.
bool data_set_name(const NWSM_DATA_SET_NAME_LIST *list, std::string &out) {
  for (UINT32 ns : {2u, 258u}) {
    NWSM_DATA_SET_NAME name = {};
    if (NWSMGetDataSetName(list, ns, &name) == 0) {
      out = name.name != nullptr ? name.name : "";
      NWSMFreeDataSetName(&name);
      return true;
    }
  }
  return false;
}

}  // namespace

NWBOOLEAN CheckTSAPath(SESSION_INFORMATION *sessionInfo, char *cpFile,
                       UINT32 *pCreatorNameSpaceNumber) {
  NWBOOLEAN reverse = 0;
  STRING_BUFFER *first = nullptr, *next = nullptr;
  CCODE cc = NWSMTSGetNameSpaceTypeInfo(sessionInfo->connection, 2, &reverse, &first, &next);
  if (cc != 0) {
    PrintCode(1, cc, "NWSMTSGetNameSpaceTypeInfo", 0, sessionInfo);
    return FALSE;
  }
  std::string firstSep = first != nullptr ? first->string : "";
  std::string nextSep = next != nullptr ? next->string : "";
  NWSMFreeString(first);
  NWSMFreeString(next);
  if (cpFile == nullptr) {
    trace("%l4 No file name given");
    return FALSE;
  }
  std::string file = cpFile;
  if (file.size() > kPathMax) {
    // Never a cut name: it would check another directory.
    vrk_log(1500, "CheckTSAPath: path longer than %d characters refused: [%.64s...]",
            (int)kPathMax, cpFile);
    return FALSE;
  }
  NWSM_DATA_SET_NAME_LIST *list = nullptr;
  cc = NWSMPutOneName(&list, 2, 0, 0, firstSep.c_str(), nextSep.c_str(), file.c_str());
  if (cc != 0) {
    PrintCode(1, cc, "NWSMPutOneName", 0, sessionInfo);
    free(list);
    return FALSE;
  }
  UINT32 sequence = 0;
  NWSM_SCAN_INFORMATION *scanInfo = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  cc = NWSMTSScanDataSetBegin(sessionInfo->connection, list, &sessionInfo->scanControl,
                              sessionInfo->selectionList, &sequence, &scanInfo, &names);
  if (cc != 0) {
    if (cc != NWSMTS_INVALID_PATH) PrintCode(0, cc, "NWSMTSScanDataSetBegin", 0, sessionInfo);
    trace("%l4 CheckTSAPath: return FALSE [%s]", cpFile);
    free(list);
    return FALSE;
  }
  NWBOOLEAN bRet = FALSE;
  std::string found;
  char *parent = nullptr, *child = nullptr;
  if (data_set_name(names, found) &&
      NWSMTSSeparateDataSetName(sessionInfo->connection, 2, file.c_str(), &parent, &child) == 0) {
    std::string given = std::string(parent != nullptr ? parent : "") + (child != nullptr ? child : "");
    if (given.empty() || given.back() != '/') given += '/';
    if (strcasecmp(given.c_str(), found.c_str()) == 0) {
      bRet = TRUE;
    } else {
      vrk_log(1500, "no matching directory: [%s] <> [%s]!", given.c_str(), found.c_str());
    }
  }
  if (bRet && pCreatorNameSpaceNumber != nullptr) {
    *pCreatorNameSpaceNumber = scanInfo != nullptr ? scanInfo->creatorNameSpaceNumber : 0;
    trace("%l4 CheckTSAPath: return TRUE [%s], creatorNameSpaceNumber 0X%03X", cpFile,
          (unsigned)*pCreatorNameSpaceNumber);
  } else if (bRet) {
    trace("%l4 CheckTSAPath: return TRUE [%s]", cpFile);
  } else {
    trace("%l4 CheckTSAPath: return FALSE [%s]", cpFile);
  }
  NWSMTSScanDataSetEnd(sessionInfo->connection, &sequence, &scanInfo, &names);
  free(parent);
  free(child);
  free(list);
  return bRet;
}
