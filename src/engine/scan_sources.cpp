// The sources of a scan that could not be started: each one the TSA cannot
// find is named as the user gave it, with the TSA's answer.
#include "engine/scan_sources.h"

#include <stdlib.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "runtime/password_mask.h"
#include "runtime/vrk_log.h"
#include "sms/smserrors.h"

namespace {

struct Source {
  std::string given;  // as on the command line
  NWSM_DATA_SET_NAME_LIST *list = nullptr;  // the one name as the TSA takes it
};

// The names of the scan's list, each with the source item it came from.
std::vector<Source> sources_of(const NWSM_DATA_SET_NAME_LIST *resourceName) {
  std::vector<Source> out;
  char **items = spGlobal->sVRKObject.cpItem;
  NWSM_DATA_SET_NAME n{};
  UINT32 handle = 0;
  if (resourceName == nullptr || NWSMGetFirstName(resourceName, &n, &handle) != 0) return out;
  do {
    Source s;
    size_t k = out.size();
    s.given = k < VRK_MAX_ITEMS && items[k] != nullptr ? items[k] : (n.name != nullptr ? n.name : "");
    if (NWSMPutOneName(&s.list, n.nameSpaceType, n.selectionType, n.reverseOrder,
                       n.firstSeparator != nullptr ? n.firstSeparator : "",
                       n.nextSeparator != nullptr ? n.nextSeparator : "", n.name != nullptr ? n.name : "") != 0) {
      free(s.list);
      s.list = nullptr;
    }
    out.push_back(s);
    NWSMFreeDataSetName(&n);
  } while (NWSMGetNextName(&handle, &n) == 0);
  NWSMCloseName(&handle);
  return out;
}

void report(SESSION_INFORMATION *si, CCODE cc, const std::string &given) {
  PrintCode(1, cc, ("NWSMTSScanDataSetBegin [" + vrk_log_name(given) + "]").c_str(), 0, si);
  vrk_log(1120, given.c_str());
}

}  // namespace

void ReportUnfoundSources(SESSION_INFORMATION *si, const NWSM_DATA_SET_NAME_LIST *resourceName, CCODE cc) {
  std::vector<Source> sources = sources_of(resourceName);
  bool named = false;
  if (sources.size() == 1) {
    report(si, cc, sources[0].given);
    named = true;
  } else if (cc == NWSMTS_INVALID_PATH) {
    // The answer is for the whole list: each source is asked on its own,
    // so that the one the TSA cannot find is the one named.
    for (Source &s : sources) {
      if (s.list == nullptr) continue;
      UINT32 sequence = 0;
      NWSM_SCAN_INFORMATION *scanInfo = nullptr;
      NWSM_DATA_SET_NAME_LIST *names = nullptr;
      CCODE one = NWSMTSScanDataSetBegin(si->connection, s.list, &si->scanControl, si->selectionList, &sequence,
                                         &scanInfo, &names);
      if (one == 0) {
        NWSMTSScanDataSetEnd(si->connection, &sequence, &scanInfo, &names);
      } else {
        report(si, one, s.given);
        named = true;
      }
    }
  }
  if (!named) {
    // No source of its own to blame: every source of the scan is named.
    std::string all;
    for (const Source &s : sources) all += (all.empty() ? "" : ", ") + s.given;
    report(si, cc, all);
  }
  for (Source &s : sources) free(s.list);
}
