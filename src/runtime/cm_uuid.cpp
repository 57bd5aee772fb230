// UUID text through OSSP uuid: time and node based (version 1), or name
// based (version 3) on request.
#include <stdlib.h>
#include <string.h>
#include <uuid.h>

#include "runtime/cm_kernel.h"
#include "runtime/vrk_log.h"

namespace {

// Exports u in its 36-character form into out (37 bytes).
bool export_text(uuid_t *u, char *out) {
  char *text = nullptr;
  size_t len = 0;
  if (uuid_export(u, UUID_FMT_STR, &text, &len) != UUID_RC_OK || text == nullptr) return false;
  bool ok = strlen(text) == 36;
  if (ok) memcpy(out, text, 37);
  free(text);
  return ok;
}

}  // namespace

int cm_uuid(char *cpUUID, char cMode) {
  if (cpUUID == nullptr) return 0;
  uuid_t *u = nullptr;
  if (uuid_create(&u) != UUID_RC_OK) {
    trace("%l0 cm_uuid: uuid_create failed");
    return 0;
  }
  bool ok = uuid_make(u, UUID_MAKE_V1) == UUID_RC_OK;
  if (ok && cMode == '3') {
    // A version 3 UUID needs a namespace and a name, which the caller does
    // not give: the name is a fresh version 1 UUID in the OID namespace,
    // so every call still yields a new UUID.
    char name[37];
    uuid_t *ns = nullptr;
    ok = export_text(u, name) && uuid_create(&ns) == UUID_RC_OK &&
         uuid_load(ns, "ns:OID") == UUID_RC_OK && uuid_make(u, UUID_MAKE_V3, ns, name) == UUID_RC_OK;
    if (ns) uuid_destroy(ns);
  }
  ok = ok && export_text(u, cpUUID);
  uuid_destroy(u);
  if (!ok) {
    trace("%l0 cm_uuid: no UUID could be made");
    return 0;
  }
  return 1;
}

char *pcm_uuid3(void) {
  static char szUUID[UUID_BUF];
  // The number 3, not the character '3': a version 1 UUID.
  cm_uuid(szUUID, 3);
  return szUUID;
}
