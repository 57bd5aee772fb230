// The bootstrap lookup of the main ini file: $KORVA_INI, then the two fixed
// /etc candidates, each read for the identifier as a key anywhere in the file.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/ini_lookup.h"
#include "runtime/ini_profile_internal.h"

namespace {

const char kSlot0[] = "/etc/korva2000.ini";
const char kSlot1[] = "/etc/opt/korva/korva.ini";

char g_szSlot0[INI_ROOT_SLOT_MAX + 1] = "/etc/korva2000.ini";
char g_szSlot1[INI_ROOT_SLOT_MAX + 1] = "/etc/opt/korva/korva.ini";

}  // namespace

int i_SET_ROOT_CANDIDATES(const char *cpSlot0, const char *cpSlot1) {
  const char *s0 = cpSlot0 != nullptr ? cpSlot0 : kSlot0;
  const char *s1 = cpSlot1 != nullptr ? cpSlot1 : kSlot1;
  if (strlen(s0) > INI_ROOT_SLOT_MAX || strlen(s1) > INI_ROOT_SLOT_MAX) return 0;
  memcpy(g_szSlot0, s0, strlen(s0) + 1);
  memcpy(g_szSlot1, s1, strlen(s1) + 1);
  return 1;
}

int i_GET_ROOT_FOR_INI(const char *cpIdentifier, char *cpPath, int iLengthPath, char *cpMsg,
                       int iLengthMsg) {
  const char *id = (cpIdentifier != nullptr && *cpIdentifier != '\0') ? cpIdentifier : "KV_INI";
  if (cpPath == nullptr || iLengthPath < 1) {
    profile_put_msg(cpMsg, iLengthMsg, "i_GET_ROOT_FOR_INI: NO PATH BUFFER.");
    return 0;
  }
  const size_t maxPath = static_cast<size_t>(iLengthPath) - 1;
  if (id[0] == '/') {
    if (strlen(id) > maxPath) {
      profile_put_msg(cpMsg, iLengthMsg,
                      profile_format("i_GET_ROOT_FOR_INI: PATH LONGER THAN %zu CHARACTERS: %s",
                                     maxPath, id));
      return 0;
    }
    memcpy(cpPath, id, strlen(id) + 1);
    profile_put_msg(cpMsg, iLengthMsg, "");
    return 1;
  }
  std::vector<std::string> slots{g_szSlot0, g_szSlot1};
  const char *env = getenv("KORVA_INI");
  if (env != nullptr && *env != '\0') {
    if (strlen(env) > INI_ROOT_SLOT_MAX) {
      profile_put_msg(cpMsg, iLengthMsg,
                      profile_format("i_GET_ROOT_FOR_INI: KORVA_INI LONGER THAN %d CHARACTERS: %.64s...",
                                     INI_ROOT_SLOT_MAX, env));
      return 0;
    }
    slots.push_back(env);
  }
  for (size_t i = slots.size(); i-- > 0;) {
    std::string value;
    std::string msg;
    ProfileStatus st = profile_get_string(slots[i].c_str(), "", id, maxPath, value, msg);
    if (st == PROFILE_OK) {
      memcpy(cpPath, value.c_str(), value.size() + 1);
      profile_put_msg(cpMsg, iLengthMsg, "");
      return 1;
    }
    if (st == PROFILE_REFUSED) {
      // A candidate that names the file but cannot be read safely ends the
      // search: a lower candidate would silently pick another configuration.
      profile_put_msg(cpMsg, iLengthMsg, msg);
      return 0;
    }
  }
  profile_put_msg(cpMsg, iLengthMsg,
                  profile_format("i_GET_ROOT_FOR_INI: NO KORVA CONFIGURATION FILE FOUND: %s",
                                 slots[slots.size() - 2].c_str()));
  return 0;
}
