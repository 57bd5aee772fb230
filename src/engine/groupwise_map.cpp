// Mapping a GroupWise component name of a backup source or browse path to
// the home directory recorded for it in the node's configuration.
#include <string.h>

#include <string>

#include "engine/groupwise.h"
#include "runtime/iniparser.h"
#include "runtime/vrk_log.h"

namespace {

// The component name from its first '[' on: without the running number.
const char *without_number(const char *cp) {
  const char *bracket = strchr(cp, '[');
  return bracket != nullptr ? bracket : cp;
}

char *search(dictionary *d, const char *cpKey) {
  if (d == nullptr) return nullptr;
  int n = iniparser_getnsec(d);
  trace("%l4 szMapGWComponent2Path: sections [%d]", n);
  for (int i = 0; i < n; ++i) {
    const char *section = iniparser_getsecname(d, i);
    if (section == nullptr) continue;
    std::string name = section;
    trace("%l4 section [%s]", name.c_str());
    const char *component = iniparser_getstr(d, (name + ":component").c_str());
    if (component == nullptr) continue;
    trace("%l4 component [%s]", component);
    if (strcmp(without_number(component), cpKey) != 0) continue;
    char *home = iniparser_getstr(d, (name + ":home").c_str());
    if (home != nullptr) {
      trace("%l4 found [%s]", home);
      return home;
    }
  }
  return nullptr;
}

}  // namespace

char *szMapGWComponent2Path(dictionary *dcGW, dictionary *dcGWZEM, char *cpComponent) {
  if (cpComponent == nullptr) return nullptr;
  trace("%l4 szMapGWComponent2Path: [%s]", cpComponent);
  const char *key = without_number(cpComponent);
  trace("%l4 szMapGWComponent2Path: component without number [%s]", key);
  char *home = search(dcGW, key);
  if (home == nullptr) home = search(dcGWZEM, key);
  trace("%l4 szMapGWComponent2Path: return [%s]", home != nullptr ? home : "");
  return home;
}
