// The GroupWise 2012 part of a resource listing: a line per component served
// on the node, with its disk usage, or the mapping of a browse path below a
// component to its home directory for the scan that lists it.
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "engine/engine_globals.h"
#include "engine/groupwise.h"
#include "engine/listing.h"
#include "runtime/iniparser.h"
#include "runtime/vrk_log.h"

namespace {

char szNoKind[] = "";

// TRUE when home lies on one of the listed resources (home begins with the
// resource and then has '/' or ends).
bool on_listed_resource(const std::string &home) {
  if (spGlobal->iLogLevel >= 3)
    vrk_log(3500, "list_resources: look for nssvol resource which maps to [%s]", home.c_str());
  if (gLL_ResourceList == nullptr) return false;
  for (void *el = FirstElmLL(gLL_ResourceList); IsElmLL(el); el = NextElmLL(el)) {
    std::string res = static_cast<const char *>(el);
    trace("%l4 check pszHome [%s], pszResourceDir [%s]", home.c_str(), res.c_str());
    if (res.empty() || home.compare(0, res.size(), res) != 0) continue;
    if (home.size() == res.size() || home[res.size()] == '/') {
      trace("%l4 match found pszHome [%s], pszResourceDir [%s]", home.c_str(), res.c_str());
      return true;
    }
  }
  return false;
}

}  // namespace

UINT64 GW_HomeSize(const std::string &dir, const std::string &home) {
  trace("%l4 get du for path [%s]", home.c_str());
  std::string out;
  int iRet = GW_RunCtrl(GW_CtrlArgs(dir, spGlobal->sVRKNlm.szSMDR, {"-f", "du", home}), &out);
  if (iRet != 0) return 0;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (spGlobal->iLogLevel >= 4) trace("%l4 %s", line.c_str());
    size_t at = line.find("MSG=");
    if (at == std::string::npos) continue;
    const char *cp = line.c_str() + at + 4;
    if (*cp < '0' || *cp > '9') continue;
    char *end = nullptr;
    errno = 0;
    unsigned long long kib = strtoull(cp, &end, 10);
    // A number beyond what 64 bits hold in bytes is no size.
    if (errno != 0 || kib > UINT64_MAX / 1024) continue;
    trace("%l4 size %llu KB", kib);
    return (UINT64)kib * 1024;
  }
  return 0;
}

void ListGroupWiseComponents(SESSION_INFORMATION *sessionInfo, char *szRoot,
                             const std::string &component, const std::string &subdir,
                             NWBOOLEAN bGotClusterTSA) {
  char **cpItem = spGlobal->sVRKObject.cpItem;
  std::string root = szRoot != nullptr ? szRoot : "";
  bool bRoot = root == "/";
  trace("%l4 list_resources: Got special source [%s]", root.c_str());
  if (!bRoot) cpItem[1] = szNoKind;
  else trace("%l4 list_resources: for Root dir [%s]", root.c_str());
  bool bMatched = false;
  std::string dir;
  bool bDirRead = false;

  dictionary *dicts[2] = {gdcGWHAconf, gdcGWZEMconf};
  for (int run = 0; run < 2 && !bMatched; ++run) {
    dictionary *d = dicts[run];
    if (d == nullptr) continue;
    int nsec = iniparser_getnsec(d);
    vrk_log(3500, "list_resources: GroupWise ini file run %d with %d sections", run + 1, nsec);
    for (int i = 0; i < nsec; ++i) {
      const char *sec = iniparser_getsecname(d, i);
      if (sec == nullptr) continue;
      std::string section = sec;
      trace("%l4 section [%s]", section.c_str());
      std::string homeKey = section + ":home";
      const char *cpHome = iniparser_getstr(d, homeKey.c_str());
      if (cpHome == nullptr) continue;
      std::string home = cpHome;
      vrk_log(3500, "list_resources: %s=[%s]", homeKey.c_str(), home.c_str());
      UINT32 creatorNameSpace = 0;
      std::vector<char> path(home.begin(), home.end());
      path.push_back('\0');
      if (!CheckTSAPath(sessionInfo, path.data(), &creatorNameSpace)) continue;
      if (!bDirRead) {
        dir = GW_ProgramDir("list_resources");
        bDirRead = true;
      }
      UINT64 size = GW_HomeSize(dir, home);
      const char *cpComponent = iniparser_getstr(d, (section + ":component").c_str());
      if (cpComponent == nullptr) continue;
      std::string entry = cpComponent;
      bool bFound = !bGotClusterTSA;
      trace("%l4 szEntry[%s], bFound %d !", entry.c_str(), (int)bFound);
      if (creatorNameSpace != 2 && creatorNameSpace != 258) bFound = on_listed_resource(home);
      trace("%l4 component set to [%s]", entry.c_str());
      if (!bFound) {
        trace("%l4 Didn't find nssvol resource which maps to [%s]", home.c_str());
        continue;
      }
      if (bRoot) {
        std::string line = ComponentListingLine(entry, size, home);
        trace("%l4 push dir (3) [%s] (resource)", line.c_str());
        if (gLL_DirList != nullptr) InsLastLLf(gLL_DirList, line.size() + 1, line.c_str());
        continue;
      }
      trace("%l4 check szComponent [%s]", entry.c_str());
      // A path without a component (no ':') names none of them.
      if (component.empty() || entry.find(component) == std::string::npos) continue;
      std::string target = home + subdir;
      char *cpTarget = strdup(target.c_str());
      if (cpTarget == nullptr) {
        vrk_log(1094);
        return;
      }
      cpItem[0] = cpTarget;
      cpItem[1] = szRoot;
      std::string line = ResourceListingLine(target, size);
      trace("%l4 push dir (4) [%s] (resource)", line.c_str());
      bMatched = true;
      break;
    }
  }
  if (!bRoot && !bMatched) vrk_log(1500, "Error [%s] not found", root.c_str());
}
