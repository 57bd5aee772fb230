// Detection of GroupWise 2012 on a cluster node: the pseudo TSA appended to
// the TSA list, and the node's two configuration files with their components.
#include "engine/groupwise.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <sstream>

#include "client/vrk_global.h"
#include "runtime/iniparser.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"
#include "runtime/xutil.h"

dictionary *gdcGWHAconf = nullptr;
dictionary *gdcGWZEMconf = nullptr;

namespace {

// The TSA name field of a session holds at most this many characters.
const size_t kTsaNameMax = SESSION_NAME_FIELD - 1;

bool contains(const char *s, const char *part) { return s != nullptr && strstr(s, part) != nullptr; }

// Runs the control program on one file of the node and loads its output.
dictionary *load_conf(const std::string &dir, const char *cpNode, const std::string &file,
                      int *piRet) {
  std::string out;
  int iRet = GW_RunCtrl(GW_CtrlArgs(dir, cpNode, {"-f", "u", "-m", "r", "-n", file}), &out);
  *piRet = iRet;
  if (iRet < 0) return nullptr;
  return GW_LoadIniText(out);
}

// True when the value ends with the first occurrence of the suffix.
bool ends_at_first(const char *value, const char *suffix) {
  const char *hit = strstr(value, suffix);
  return hit != nullptr && hit[strlen(suffix)] == '\0';
}

// The home directory of an agent from its startup file ("--home <dir>").
void read_startup(const std::string &dir, const char *cpNode, dictionary *d,
                  const std::string &section) {
  std::string key = section + ":startup";
  trace("%l4 check for [%s]", key.c_str());
  const char *value = iniparser_getstr(d, key.c_str());
  if (value == nullptr) return;
  trace("%l4 got value %s=[%s]", key.c_str(), value);
  if (!ends_at_first(value, ".poa") && !ends_at_first(value, ".mta")) return;
  std::string startup = value;  // the dictionary changes below
  std::string where = strchr(value, '/') != nullptr ? "" : GW_AGENT_SHARE_DIR;
  std::string out;
  int iRet = GW_RunCtrl(GW_CtrlArgs(dir, cpNode, {"-f", "u", "-m", "r", "-n", where + startup}),
                        &out);
  if (iRet < 0) return;
  bool bHome = false;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (spGlobal->iLogLevel >= 5) trace("%l4 %s", line.c_str());
    if (line.compare(0, 7, "--home ") != 0) continue;
    std::string home = x_AllTrim(&line[7], " \t");
    if (home.empty()) continue;
    std::string homeKey = section + ":home";
    iniparser_setstr(d, homeKey.c_str(), home.c_str());
    trace("%l4 add '%s=%s'", homeKey.c_str(), home.c_str());
    bHome = true;
  }
  if (iRet == GW_CTRL_NO_ACCESS) {
    trace("%l4 No access to startup file [%s:%s%s] of %s", cpNode, where.c_str(), startup.c_str(),
          section.c_str());
  } else if (iRet != 0 || !bHome) {
    vrk_log(1500, "Failed to read startup file [%s:%s%s] of %s", cpNode, where.c_str(),
            startup.c_str(), section.c_str());
  }
}

std::vector<std::string> section_names(dictionary *d) {
  std::vector<std::string> names;
  int n = iniparser_getnsec(d);
  for (int i = 0; i < n; ++i) {
    const char *s = iniparser_getsecname(d, i);
    if (s != nullptr) names.push_back(s);
  }
  return names;
}

// The section name up to its first '.' (all of it without one).
std::string short_name(const std::string &section) { return section.substr(0, section.find('.')); }

void set_component(dictionary *d, const std::string &section, int iCount, const char *type) {
  char number[16];
  snprintf(number, sizeof(number), "%d", iCount);
  std::string value = std::string(number) + "[" + type + "]" + short_name(section) + ":";
  std::string key = section + ":component";
  iniparser_setstr(d, key.c_str(), value.c_str());
  trace("%l4 add '%s=%s'", key.c_str(), value.c_str());
}

// The last five characters of a server value (all of a shorter one) hold the agent.
bool server_is(const char *server, const char *agent) {
  size_t len = strlen(server);
  std::string tail = len > 5 ? std::string(server + len - 5) : std::string(server);
  lowercase(&tail[0]);
  return tail.find(agent) != std::string::npos;
}

}  // namespace

NWBOOLEAN bGet_GW2012_conf(SESSION_INFORMATION *sessionInfo, dictionary **pdcGW,
                           dictionary **pdcGWZEM, char *cpNode) {
  (void)sessionInfo;
  const char *node = cpNode != nullptr ? cpNode : "";
  trace("%l4 bGet_GW2012_conf() node [%s]", node);
  NWBOOLEAN bRet = FALSE;
  // A second detection in the same run replaces what the first one loaded.
  if (*pdcGW != nullptr) dictionary_del(*pdcGW);
  if (*pdcGWZEM != nullptr) dictionary_del(*pdcGWZEM);
  *pdcGW = *pdcGWZEM = nullptr;
  std::string dir = GW_ProgramDir("bGet_GW2012_conf");

  int iRet = 0;
  *pdcGWZEM = load_conf(dir, node, std::string(GW_CONF_DIR) + "gwzem.conf", &iRet);
  if (*pdcGWZEM != nullptr) trace("%l4 iniparser_load(gwzem.conf) was successful");
  trace("%l4 check gwzem.conf ended with iRet %d", iRet);

  std::string haFile = std::string(GW_CONF_DIR) + "gwha.conf";
  if (iRet == 0 && *pdcGWZEM != nullptr) {
    const char *gwha = iniparser_getstr(*pdcGWZEM, "MISC:gwha");
    if (gwha != nullptr && *gwha != '\0') {
      trace("%l4 value %s=[%s]", "MISC:gwha", gwha);
      haFile = gwha;
    }
  }
  int iHa = 0;
  *pdcGW = load_conf(dir, node, haFile, &iHa);
  if (*pdcGW != nullptr) {
    trace("%l4 iniparser_load(gwha.conf) was successful");
    trace("%l4 got %d sections", iniparser_getnsec(*pdcGW));
    bRet = TRUE;
    for (const std::string &section : section_names(*pdcGW)) read_startup(dir, node, *pdcGW, section);
  }

  int iCount = 0;
  if (*pdcGW != nullptr) {
    for (const std::string &section : section_names(*pdcGW)) {
      const char *server = iniparser_getstr(*pdcGW, (section + ":server").c_str());
      if (server == nullptr) {
        trace("%l4 skip section [%s]", section.c_str());
        continue;
      }
      trace("%l4 got section [%s], server [%s]", section.c_str(), server);
      const char *type = nullptr;
      if (server_is(server, "gwpoa")) type = "PO";
      else if (server_is(server, "gwmta")) type = "DOM";
      if (type == nullptr) continue;
      set_component(*pdcGW, section, ++iCount, type);
    }
    if (*pdcGWZEM != nullptr) {
      for (const std::string &section : section_names(*pdcGWZEM)) {
        const char *home = iniparser_getstr(*pdcGWZEM, (section + ":home").c_str());
        if (home != nullptr) {
          ++iCount;
          trace("%l4 got section [%s], home path [%s] >> [%s]", section.c_str(), home,
                short_name(section).c_str());
          set_component(*pdcGWZEM, section, iCount, "DMS");
        } else {
          set_component(*pdcGWZEM, section, iCount, "TMP");
        }
      }
    }
  }
  if (spGlobal->iLogLevel >= 5) {
    iniparser_dump_ini(*pdcGW, stderr);
    iniparser_dump_ini(*pdcGWZEM, stderr);
  }
  trace("%l4 %d GroupWise components served on this cluster node", iCount);
  if (iCount == 0) bRet = FALSE;
  trace("%l4 bGet_GW2012_conf() return %d", (int)bRet);
  return bRet;
}

NWBOOLEAN bCheck_GW2012(SESSION_INFORMATION *sessionInfo, NWSM_NAME_LIST **plist) {
  trace("%l4 bCheck_GW2012:");
  if (plist == nullptr) return FALSE;
  char *node = spGlobal->sVRKNlm.szSMDR;
  std::string candidate = node;
  bool bPresent = false, bCandidate = false;
  for (NWSM_NAME_LIST *p = *plist; p != nullptr; p = p->next) {
    if (p->name == nullptr) continue;
    trace("%l4 got %-16s", p->name);
    if (contains(p->name, "GroupWise System")) bPresent = true;
    if (!bCandidate && contains(p->name, "File System")) {
      candidate = p->name;
      bCandidate = true;
      vrk_log(3500, "set %-16s", p->name);
    }
  }
  if (bPresent) {
    trace("%l4 bCheck_GW2012: Groupwise TSAFSGW is already loaded");
    return FALSE;
  }
  // The name of the pseudo TSA: the candidate without its last '.'-part (a
  // name without '.' is kept whole), a '.' and the kind.
  size_t dot = candidate.rfind('.');
  if (dot != std::string::npos) candidate.erase(dot);
  candidate += ".";
  candidate += GW2012_TSA_KIND;
  if (candidate.size() > kTsaNameMax) {
    vrk_log(1500, "GroupWise TSA name longer than %d characters refused: [%.64s...]",
            (int)kTsaNameMax, candidate.c_str());
    return FALSE;
  }
  if (!bGet_GW2012_conf(sessionInfo, &gdcGWHAconf, &gdcGWZEMconf, node)) {
    trace("%l4 bCheck_GW2012: return FALSE");
    return FALSE;
  }
  trace("%l4 append [%s]", candidate.c_str());
  NWSM_NAME_LIST *entry = static_cast<NWSM_NAME_LIST *>(calloc(1, sizeof(NWSM_NAME_LIST)));
  char *name = strdup(candidate.c_str());
  if (entry == nullptr || name == nullptr) {
    vrk_log(1500, "malloc failed");
    exit(255);
  }
  entry->name = name;
  NWSM_NAME_LIST **tail = plist;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = entry;
  trace("%l4 bCheck_GW2012: return TRUE");
  return TRUE;
}
