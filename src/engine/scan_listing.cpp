// Listing lines of the scan-only pass: quoted names, kind, both dates, the
// primary data stream size and the groupware ending, sorted into the lists.
#include "engine/scan_listing.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "client/vrk_global.h"
#include "engine/engine_globals.h"
#include "runtime/LL.h"
#include "runtime/password_mask.h"
#include "runtime/vrk_log.h"
#include "sms/smsapi.h"

namespace {

std::string DateText(UINT32 packed) {
  UINT16 y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  NWSMUnPackDateTime(packed, &y, &mo, &d, &h, &mi, &s);
  char buf[64];
  snprintf(buf, sizeof(buf), "%d.%02d.%02d %02d:%02d:%02d", (int)y, (int)mo, (int)d, (int)h, (int)mi,
           (int)s);
  return buf;
}

const char *Item(int i) {
  const char *p = spGlobal->sVRKObject.cpItem[i];
  return p != nullptr ? p : "";
}

// The displayed directory: with the groupware flag the component's own name
// (second source item) replaces the path of the first source item.
std::string DisplayDir(const std::string &dirName) {
  if (!gbGW2012) return dirName;
  size_t skip = strlen(Item(0));
  return std::string(Item(1)) + (dirName.size() > skip ? dirName.substr(skip) : std::string());
}

std::string Tail(const NWSM_SCAN_INFORMATION *si, const char *pszInfo) {
  char size[32];
  snprintf(size, sizeof(size), "%llu", (unsigned long long)si->primaryDataStreamSize);
  return DateText(si->createDateAndTime) + " " + DateText(si->modifiedDateAndTime) + " " + size +
         " - ," + pszInfo;
}

bool Push(t_LL list, const std::string &line) {
  if (InsLastLLf(list, line.size() + 1, line.c_str()) == nullptr) {
    vrk_log(1500, "ScanAndReadDataSets: Malloc pszCurrentLine failed: (%d) %s", errno, strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

void ListingAddDirectory(const std::string &dirNameIn, const NWSM_SCAN_INFORMATION *si,
                         const char *pszInfo) {
  std::string dirName = dirNameIn;
  if (!dirName.empty() && dirName.back() == '/') dirName.pop_back();
  trace("compare %s =?= %s", Item(0), dirName.c_str());
  // The listed item itself and its ancestors get no line.
  if (strncmp(Item(0), dirName.c_str(), dirName.size()) == 0) return;
  std::string line = "\"" + DisplayDir(dirName) + "\" d_ " + Tail(si, pszInfo);
  if (gLL_DirList == nullptr) return;
  if (gLL_ResourceList == nullptr || IsEmptyLL(gLL_ResourceList)) {
    trace("push dir (7) [%s]", vrk_log_name(line).c_str());
    Push(gLL_DirList, line + "\n");
    return;
  }
  for (void *el = FirstElmLL(gLL_ResourceList); IsElmLL(el); el = NextElmLL(el)) {
    const char *res = static_cast<const char *>(el);
    if (strncmp(res, dirName.c_str(), dirName.size()) == 0) {
      trace("push dir (5) [%s] (not_selectable)", vrk_log_name(line).c_str());
      Push(gLL_DirList, line + "not_selectable\n");
      return;
    }
    if (strncmp(dirName.c_str(), res, strlen(res)) == 0) {
      trace("push dir (6) [%s]", vrk_log_name(line).c_str());
      Push(gLL_DirList, line + "\n");
      return;
    }
  }
}

void ListingAddFile(const std::string &dirName, const std::string &childName,
                    const NWSM_SCAN_INFORMATION *si, const char *pszInfo) {
  std::string line = "\"" + DisplayDir(dirName) + childName + "\" f_ " + Tail(si, pszInfo) + "\n";
  if (gLL_FileList == nullptr) return;
  if (gLL_ResourceList == nullptr || IsEmptyLL(gLL_ResourceList)) {
    trace("push file (1) [%s]", vrk_log_name(line).c_str());
    Push(gLL_FileList, line);
    return;
  }
  for (void *el = FirstElmLL(gLL_ResourceList); IsElmLL(el); el = NextElmLL(el)) {
    const char *res = static_cast<const char *>(el);
    if (strncmp(dirName.c_str(), res, strlen(res)) == 0) {
      trace("push file (2) [%s]", vrk_log_name(line).c_str());
      Push(gLL_FileList, line);
      return;
    }
  }
}
