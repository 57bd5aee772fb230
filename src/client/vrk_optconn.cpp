// The option handlers of the connections: -S storage node, -N SMS login and
// -C control host (their passwords masked in argv).
#include "client/vrk_optconn.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "client/vrk_items.h"
#include "client/vrk_numbers.h"
#include "client/vrk_optutil.h"
#include "client/vrk_options.h"
#include "client/vrk_optsecret.h"
#include "client/vrk_usage.h"
#include "runtime/cm_args.h"
#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

constexpr int kMaxPort = 65535;

// An empty text is 0; otherwise a whole decimal number from 0 to 65535.
bool port_value(const char *cpText, int *piPort) {
  if (cpText[0] == '\0') {
    *piPort = 0;
    return true;
  }
  long long v;
  if (!vrk_decimal(cpText, 0, kMaxPort, &v)) return false;
  *piPort = (int)v;
  return true;
}

}  // namespace

bool vrk_opt_storage_node(char *cpArg, int argc, char **argv) {
  if (!vrk_opt_dash_ok(cpArg, 'S')) return false;
  // The password of the URL never shows: not in the refusal, not in argv.
  // Without a scheme the text is taken as an ftp URL, user information and all.
  bool bScheme = strstr(cpArg, "://") != nullptr;
  std::vector<SecretSpan> secrets = vrk_url_secrets(bScheme ? cpArg : (std::string("ftp://") + cpArg).c_str());
  if (!bScheme)
    for (SecretSpan &s : secrets) s.pos -= strlen("ftp://");
  std::string masked = vrk_secret_masked(cpArg, secrets);
  std::string uri;
  if (strstr(cpArg, "://") != nullptr)
    uri = cpArg;
  else if (strchr(cpArg, ':') != nullptr)
    uri = std::string("ftp://") + cpArg;
  else
    uri = std::string("ftp://") + cpArg + ":" + "11001";
  if (uri.find(',') == std::string::npos) uri += ",0-0";

  char *host = nullptr, *port = nullptr, *start = nullptr, *end = nullptr;
  int n = pscanf(uri.c_str(), "(.*://.*):(.*),([0-9]*)-([0-9]*)", &host, &port, &start, &end);
  bool ok = n == 4;
  // The groups must cover the whole text: nothing may follow the range.
  if (ok && strlen(host) + strlen(port) + strlen(start) + strlen(end) + 3 != uri.size()) ok = false;
  if (!ok) {
    free(host);
    free(port);
    free(start);
    free(end);
    vrk_secret_hide(cpArg, secrets, argc, argv);
    return vrk_opt_missing('S');
  }

  int iPort = 0, iStart = 0, iEnd = 0;
  ok = port_value(port, &iPort) && port_value(start, &iStart) && port_value(end, &iEnd) &&
       iStart <= iEnd;
  if (ok) ok = vrk_opt_set_heap(&spGlobal->sSMS.cpHost, host);
  else vrk_opt_invalid(masked.c_str(), 'S');
  free(host);
  free(port);
  free(start);
  free(end);
  vrk_secret_hide(cpArg, secrets, argc, argv);
  if (!ok) return false;
  spGlobal->sSMS.iPort = iPort;
  spGlobal->sSMS.iLPortStart = iStart;
  spGlobal->sSMS.iLPortEnd = iEnd;
  return true;
}

bool vrk_opt_sms_login(char *cpArg, int argc, char **argv) {
  if (!vrk_opt_dash_ok(cpArg, 'N')) return false;
  _sVRKGlobal *g = spGlobal;
  _sVRKNlm *nlm = &g->sVRKNlm;

  char *field[8] = {nullptr};
  int n = vrk_parse_item(field, cpArg, ':', 6);
  if (n < 0) {
    vrk_log(1008, "out of memory");
    return false;
  }
  // The masked text that stands for the argument in every message.
  std::vector<SecretSpan> secrets = vrk_login_secrets(cpArg);
  std::string masked = vrk_secret_masked(cpArg, secrets);
  bool ok = true;
  if (n > 6) {
    ok = vrk_opt_missing('N');
  } else {
    for (int i = 0; i < n; ++i) vrk_log(4000, "Item[%d]: %s", i, i == 4 ? vrk_masked(field[i]) : field[i]);
    for (int i = 0; i < n && ok; ++i) {
      size_t size = i == 4 ? sizeof(g->szDB_Pass) : VRK_PATH_MAX;
      if (i < 5 && strlen(field[i]) >= size) ok = vrk_opt_invalid(masked.c_str(), 'N');
    }
  }
  if (ok) {
    char *dst[5] = {nlm->szSMDR, nlm->szTSA, nlm->szTS, nlm->szUser, g->szDB_Pass};
    size_t size[5] = {sizeof(nlm->szSMDR), sizeof(nlm->szTSA), sizeof(nlm->szTS),
                      sizeof(nlm->szUser), sizeof(g->szDB_Pass)};
    for (int i = 0; i < n && i < 5; ++i)
      if (field[i][0] != '\0') strlcpy(dst[i], field[i], size[i]);
    if (n > 0 && field[0][0] != '\0') vrk_log(4000, "szSMDR [%s]", nlm->szSMDR);
    if (n > 5 && field[5][0] != '\0') nlm->iRSFlag = vrk_atoi(field[5]);

    vrk_log(4000, "Got Target Service name [%s] to []", nlm->szTS);
    size_t dot = strcspn(nlm->szTSA, ".");
    if (nlm->szTS[0] != '\0' && strlen(nlm->szTS) == dot && strncmp(nlm->szTS, nlm->szTSA, dot) == 0) {
      vrk_log(3500, "Reset Target Service name [%s] to []", nlm->szTS);
      nlm->szTS[0] = '\0';
    }
    int len = snprintf(gszNetwareArg, sizeof(gszNetwareArg), "%s:%s:%s:%s:%s:%d", nlm->szSMDR, nlm->szTSA,
                       nlm->szTS, nlm->szUser, VRK_PASSWORD_MASK, nlm->iRSFlag);
    if (len < 0 || (size_t)len >= sizeof(gszNetwareArg)) {
      gszNetwareArg[0] = '\0';
      ok = vrk_opt_invalid(masked.c_str(), 'N');
    }
  }
  vrk_opt_free_items(field, 8);

  // The password leaves the argument vector in every case; an argument of
  // its own that was taken is shown as the login the client uses.
  bool own = false;
  for (int i = 0; i < argc && !own; ++i) own = argv[i] == cpArg;
  int slot = vrk_secret_hide(cpArg, secrets, argc, argv);
  if (ok && own) {
    if (slot < 0)
      for (int i = 0; i < argc && slot < 0; ++i)
        if (argv[i] == cpArg) slot = i;
    if (slot >= 0) argv[slot] = gszNetwareArg;
  }
  return ok;
}

bool vrk_opt_control_host(char *cpArg, int argc, char **argv) {
  if (!vrk_opt_dash_ok(cpArg, 'C')) return false;
  // The password field never shows: not in the refusal, not in argv.
  std::vector<SecretSpan> secrets = vrk_control_host_secrets(cpArg);
  std::string masked = vrk_secret_masked(cpArg, secrets);
  _sVRKMsgTarget *m = &spGlobal->sVRKMsgTarget;
  char *field[6] = {nullptr};
  int n = vrk_parse_item(field, cpArg, ':', 4);
  bool ok = true;
  int iPort = m->iPort;
  if (n < 0) {
    vrk_log(1008, "out of memory");
    ok = false;
  } else if (n > 4) {
    ok = vrk_opt_missing('C');
  } else {
    for (int i = 0; i < n && ok; ++i)
      if (strlen(field[i]) >= VRK_PATH_MAX) ok = vrk_opt_invalid(masked.c_str(), 'C');
    // The port is only shown (the client does not connect to the control
    // host): its decimal value is taken as it reads.
    if (ok && n > 1 && field[1][0] != '\0') iPort = vrk_atoi(field[1]);
  }
  if (ok) {
    if (n > 0 && field[0][0] != '\0') strlcpy(m->szHostName, field[0], sizeof(m->szHostName));
    m->iPort = iPort;
    if (n > 2 && field[2][0] != '\0') strlcpy(m->szUser, field[2], sizeof(m->szUser));
    if (n > 3 && field[3][0] != '\0') strlcpy(m->szPassword, field[3], sizeof(m->szPassword));
  }
  vrk_opt_free_items(field, 6);
  vrk_secret_hide(cpArg, secrets, argc, argv);
  return ok;
}
