// The state of one call of the scan-and-read loop, shared by the loop and its
// fail-over recovery.
#ifndef VRK_ENGINE_SCAN_LOOP_INTERNAL_H
#define VRK_ENGINE_SCAN_LOOP_INTERNAL_H

#include <string>

#include "engine/scan_loop.h"

// The last data set read completely. The resumed scan is given its name in
// the name space of the first data set's name space-0 name (CnameSpaceType);
// a fresh scan that skips to it compares names in nameSpaceOfNames, the name
// space its names were read in.
struct RestartPoint {
  std::string parent;  // Cparent: the directory name
  std::string child;   // Cchild: the child's terminal name, empty for a parent
  UINT32 nameSpaceOfNames = 0;
  bool Empty() const { return parent.empty() && child.empty(); }
};

// The name space of the restart point's one-name list, with its order flag
// and separators: set once a call, after the scan start, with cluster
// parameters.
struct ClusterNameSpace {
  UINT32 CnameSpaceType = 0;
  NWBOOLEAN CreverseOrder = 0;
  std::string firstSep, nextSep;
};

// Where the loop stood when a recoverable error came.
enum class FailPoint { kOpen, kRead, kNext };

struct ScanRun {
  SESSION_INFORMATION *si = nullptr;
  int backup = 0;
  NWSM_DATA_SET_NAME_LIST *resourceName = nullptr;
  UINT32 openMode = 0;
  double *putotal = nullptr;
  int iRun = 1;
  bool cluster = false;

  UINT32 resourceCount = 0, noOfDirectories = 0, noOfFiles = 0;
  UINT32 sequence = 0;
  bool scanOpen = false;
  NWSM_DATA_SET_NAME_LIST *dataSetNameList = nullptr;
  RestartPoint restart;
  ClusterNameSpace clusterNameSpace;
  time_t tIntervalStart = 0;
  const char *pszInfo = "";

  // The current data set.
  bool isParent = false;
  // The current parent could not be stored: its children, which the stream
  // names by terminal name only, would be restored beneath the previous
  // parent, so they are not stored either.
  bool parentNotStored = false;
  std::string name;  // its name in DnameSpaceType (or the primary one)
  UINT32 nameSpaceOfName = 0;
  std::string parentName;  // the last directory's name, in the same name space
};

// Fail-over after a recoverable error at point: ends the scan, closes a cut
// data set in the stream, reconnects and continues the scan behind the
// restart point. 0 with the next data set current, or the loop's result.
CCODE RecoverScan(ScanRun &run, FailPoint point, bool bWriteStarted, const std::string &pszCurrItem);

// The progress message that SIGALRM asked for (iAlarm), after a data set;
// the rate of an interval shorter than a second counts one second.
void ScanProgress(ScanRun &run);

// Ends the scan when one is held.
void EndScan(ScanRun &run);

#endif
