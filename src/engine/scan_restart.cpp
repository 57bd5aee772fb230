// Fail-over of the scan-and-read loop: after a recoverable TSA error the scan
// ends, a cut data set is closed in the stream, the session reconnects and
// the scan goes on behind the last data set read completely.
#include <stdlib.h>

#include <string>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/de_stream.h"
#include "engine/scan_loop_internal.h"
#include "runtime/password_mask.h"
#include "runtime/vrk_log.h"
#include "sms/smsapi.h"

namespace {

CCODE Begin(ScanRun &run) {
  SESSION_INFORMATION *si = run.si;
  CCODE cc = NWSMTSScanDataSetBegin(si->connection, run.resourceName, &si->scanControl, si->selectionList,
                                    &run.sequence, &si->scanInfo, &run.dataSetNameList);
  run.scanOpen = cc == 0;
  return cc;
}

// The current data set's name in the restart point's name space.
bool CurrentName(ScanRun &run, std::string &out) {
  NWSM_DATA_SET_NAME n{};
  if (NWSMGetDataSetName(run.dataSetNameList, run.restart.nameSpaceOfNames, &n) != 0) return false;
  out = n.name != nullptr ? n.name : "";
  NWSMFreeDataSetName(&n);
  return true;
}

// A fresh scan that skips every data set up to and including the restart
// point. 0 with the data set behind it current, NWSMTS_NO_MORE_DATA_SETS when
// nothing follows it, or the failing code.
CCODE BeginAndSkip(ScanRun &run) {
  CCODE cc = Begin(run);
  if (cc != 0) return cc;
  std::string lastParent;
  bool found = false;
  for (;;) {
    std::string name;
    if (CurrentName(run, name) && run.si->scanInfo != nullptr) {
      if (run.si->scanInfo->parentFlag) {
        lastParent = name;
        found = run.restart.child.empty() && name == run.restart.parent;
      } else {
        found = !run.restart.child.empty() && lastParent == run.restart.parent && name == run.restart.child;
      }
    }
    cc = NWSMTSScanNextDataSet(run.si->connection, &run.sequence, &run.si->scanInfo, &run.dataSetNameList);
    if (found || cc != 0) break;
  }
  if (cc == NWSMTS_NO_MORE_DATA_SETS) run.scanOpen = true;  // EndScan releases the handle
  if (found || cc != NWSMTS_NO_MORE_DATA_SETS) return cc;
  // The restart point is gone: store everything again rather than lose a data set.
  vrk_log(2500, "Restart point [%s%s] not found after the fail over; the scan starts again",
          run.restart.parent.c_str(), run.restart.child.c_str());
  EndScan(run);
  return Begin(run);
}

}  // namespace

CCODE RecoverScan(ScanRun &run, FailPoint point, bool bWriteStarted, const std::string &pszCurrItem) {
  SESSION_INFORMATION *si = run.si;
  EndScan(run);

  if (point == FailPoint::kRead && bWriteStarted) {
    vrk_log(3305, pszCurrItem.c_str());
    if (run.backup && WriteDEFiles(nullptr, DE_END_OF_RECORD, 0, 0, 0, 0, si, nullptr) != 0) {
      vrk_log(3500, "WriteDEFiles(END_OF_RECORD_MARKER) after retryable error failed");
      return ENGINE_GENERAL_FAILURE;
    }
  }

  if (Reconnect(si) != 0) {
    vrk_log(1500, "Error Reconnecting after Retries");
    return ENGINE_GENERAL_FAILURE;
  }

  CCODE cc;
  const bool hadRestart = !run.restart.Empty();
  if (!hadRestart) {
    cc = Begin(run);
  } else {
    std::string fullPath;
    char *joined = nullptr;
    if (NWSMCatStrings(2, &joined, run.restart.parent.c_str(), run.restart.child.c_str()) == 0 && joined) {
      fullPath = joined;
    } else {
      fullPath = run.restart.parent + run.restart.child;
    }
    free(joined);
    if (NWSMTSScanDataSetContinue != nullptr) {
      const ClusterNameSpace &c = run.clusterNameSpace;
      NWSM_DATA_SET_NAME_LIST *resume = nullptr;
      cc = NWSMPutOneName(&resume, c.CnameSpaceType, 0, c.CreverseOrder, c.firstSep.c_str(), c.nextSep.c_str(),
                          fullPath.c_str());
      if (cc == 0)
        cc = NWSMTSScanDataSetContinue(si->connection, run.resourceName, &si->scanControl, si->selectionList,
                                       resume, &run.sequence, &si->scanInfo, &run.dataSetNameList);
      free(resume);
      run.scanOpen = cc == 0;
    } else {
      // Without a resumable scan: begin again and skip to the restart point.
      vrk_log(3500, "Restart the scan and skip to [%s]", vrk_log_name(fullPath).c_str());
      cc = BeginAndSkip(run);
    }
  }
  if (cc == 0 || cc == NWSMTS_NO_MORE_DATA_SETS) return cc;
  PrintCode(1, cc, hadRestart ? "NWSMTSScanDataSetContinue" : "NWSMTSScanDataSetBegin", 0, si);
  return ENGINE_GENERAL_FAILURE;
}
