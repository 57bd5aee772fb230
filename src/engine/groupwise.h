// GroupWise 2012 support: detection of the pseudo TSA, the node's GroupWise
// configuration read through the control program, and component mapping.
#ifndef VRK_ENGINE_GROUPWISE_H
#define VRK_ENGINE_GROUPWISE_H

#include <string>
#include <vector>

#include "engine/session.h"
#include "runtime/dictionary.h"

// Name of the pseudo TSA that offers the GroupWise components.
#define GW2012_TSA_KIND "GroupWise System 2012"
// Directory of the GroupWise configuration files on the node.
#define GW_CONF_DIR "/etc/opt/novell/groupwise/"
// Directory of agent startup files named without a path.
#define GW_AGENT_SHARE_DIR "/opt/novell/groupwise/agents/share/"
// Exit status of the control program for a file that cannot be accessed.
#define GW_CTRL_NO_ACCESS 2

// The high-availability and the bridge configuration, loaded for the run.
extern dictionary *gdcGWHAconf;
extern dictionary *gdcGWZEMconf;

// TRUE when the GroupWise 2012 pseudo TSA was appended to the list.
NWBOOLEAN bCheck_GW2012(SESSION_INFORMATION *sessionInfo, NWSM_NAME_LIST **plist);
// Loads the two configuration files of cpNode and names every component;
// TRUE when at least one component is served on the node.
NWBOOLEAN bGet_GW2012_conf(SESSION_INFORMATION *sessionInfo, dictionary **pdcGW,
                           dictionary **pdcGWZEM, char *cpNode);
// The home directory of a component (owned by the dictionary), or NULL.
char *szMapGWComponent2Path(dictionary *dcGW, dictionary *dcGWZEM, char *cpComponent);

// The product's program directory ("[PATHES]" gv_ro_bin of the main ini), or
// empty with the info line "<cpWho>: could not read [...] [...]".
std::string GW_ProgramDir(const char *cpWho);
// The argument vector of the control program for node and its arguments.
std::vector<std::string> GW_CtrlArgs(const std::string &dir, const std::string &node,
                                     const std::vector<std::string> &args);
// Runs the control program; its exit status, or -1 when it could not be
// started (traced "Command [%s] failed"). out receives its standard output.
int GW_RunCtrl(const std::vector<std::string> &argv, std::string *out);
// Loads an ini text as a dictionary through standard input ("-"), which is
// restored afterwards; NULL for an empty text.
dictionary *GW_LoadIniText(const std::string &text);

#endif
