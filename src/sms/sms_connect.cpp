// Discovery of SMDRs, TSAs and target services; connecting to a TSA, logging
// in to its target service and releasing both.
#include <fnmatch.h>
#include <string.h>
#include <strings.h>

#include "sms/sms_archive.h"
#include "sms/sms_deferred.h"
#include "sms/sms_state.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

const char *S(const char *s) { return s ? s : "(null)"; }

// Password as the caller passes it: a 16-bit length, then the bytes.
bool PasswordBytes(const void *password, std::string &out) {
  if (!password) return false;
  UINT16 len;
  memcpy(&len, password, sizeof(len));
  out.assign(static_cast<const char *>(password) + 2, len);
  return true;
}

CCODE Login(Connection *conn, const char *service, const char *user, const void *password) {
  State &g = G();
  if (!service || !user) return NWSMTS_INVALID_PARAMETER;
  if (g.loginsFailed < g.world.failLogins) {
    ++g.loginsFailed;
    return g.world.failLoginCode;
  }
  const Tsa &t = *conn->tsa;
  bool known = false;
  for (const std::string &s : t.services)
    if (strcasecmp(s.c_str(), service) == 0) known = true;
  if (!known) return NWSMDR_NAME_DOES_NOT_EXIST;
  std::string pw;
  if (!PasswordBytes(password, pw)) return NWSMTS_INVALID_PARAMETER;
  if (!t.users.empty()) {
    bool ok = false;
    for (const auto &u : t.users)
      if (u.first == user && u.second == pw) ok = true;
    if (!ok) return NWSMTS_LOGIN_DENIED;
  }
  conn->loggedIn = true;
  conn->service = service;
  return 0;
}

}  // namespace

extern "C" CCODE NWSMListSMDRs(const char *pattern, NWSM_NAME_LIST **list) {
  Call c("NWSMListSMDRs");
  c.Args("pattern=\"%s\"", S(pattern));
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!pattern || !list) return c.End(NWSMDR_INVALID_PARAMETER);
  std::vector<std::string> names;
  for (const std::string &s : G().world.smdrs)
    if (fnmatch(pattern, s.c_str(), FNM_CASEFOLD) == 0) names.push_back(s);
  if (names.empty()) return c.End(NWSMDR_NAME_DOES_NOT_EXIST);
  return c.End(MakeNameList(names, {}, list));
}

extern "C" CCODE NWSMListTSAs(const char *pattern, NWSM_NAME_LIST **list) {
  Call c("NWSMListTSAs");
  c.Args("pattern=\"%s\"", S(pattern));
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!pattern || !list) return c.End(NWSMDR_INVALID_PARAMETER);
  // The pattern is an SMDR name followed by ".*"; an empty SMDR part stands
  // for the default SMDR, the first of the list.
  std::string match = pattern;
  const std::vector<std::string> &smdrs = G().world.smdrs;
  if (match == ".*" && !smdrs.empty()) match = smdrs.front() + ".*";
  std::vector<std::string> names;
  for (const Tsa &t : G().world.tsas)
    if (fnmatch(match.c_str(), t.name.c_str(), FNM_CASEFOLD) == 0) names.push_back(t.name);
  if (names.empty()) return c.End(NWSMDR_NAME_DOES_NOT_EXIST);
  return c.End(MakeNameList(names, {}, list));
}

extern "C" CCODE NWSMConnectToTSA(const char *tsaName, UINT32 *connection) {
  Call c("NWSMConnectToTSA");
  c.Args("tsa=\"%s\"", S(tsaName));
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!tsaName || !connection) return c.End(NWSMTS_INVALID_PARAMETER);
  State &g = G();
  if (g.connectsFailed < g.world.failConnects) {
    ++g.connectsFailed;
    return c.End(g.world.failConnectCode);
  }
  for (const Tsa &t : g.world.tsas) {
    if (strcasecmp(t.name.c_str(), tsaName) != 0) continue;
    UINT32 h = NewHandle();
    Connection conn;
    conn.tsa = &t;
    g.connections[h] = conn;
    *connection = h;
    c.Args("tsa=\"%s\", connection=0x%X", tsaName, h);
    return c.End(0);
  }
  return c.End(NWSMTS_INVALID_TSA);
}

extern "C" CCODE NWSMTSListTargetServices(UINT32 connection, const char *pattern, NWSM_NAME_LIST **list) {
  Call c("NWSMTSListTargetServices");
  c.Args("connection=0x%X, pattern=\"%s\"", connection, S(pattern));
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return c.End(rc);
  if (!pattern || !list) return c.End(NWSMTS_INVALID_PARAMETER);
  std::vector<std::string> names;
  for (const std::string &s : conn->tsa->services)
    if (fnmatch(pattern, s.c_str(), FNM_CASEFOLD) == 0) names.push_back(s);
  *list = nullptr;
  return c.End(MakeNameList(names, {}, list));
}

extern "C" CCODE NWSMTSConnectToTargetService(UINT32 *connection, const char *targetServiceName,
                                              const char *userName, const void *password) {
  Call c("NWSMTSConnectToTargetService");
  c.Args("connection=0x%X, service=\"%s\", user=\"%s\"", connection ? *connection : 0,
         S(targetServiceName), S(userName));
  Connection *conn;
  if (!connection) return c.End(NWSMTS_INVALID_PARAMETER);
  if (CCODE rc = c.Begin(*connection, &conn)) return c.End(rc);
  return c.End(Login(conn, targetServiceName, userName, password));
}

extern "C" CCODE vrk_sms_connect_ex_impl(UINT32 *connection, const char *targetServiceName,
                                         const char *userName, const void *password,
                                         UINT32 authenticationType) {
  Call c("NWSMTSConnectToTargetServiceEx");
  c.Args("connection=0x%X, service=\"%s\", user=\"%s\", auth=%u", connection ? *connection : 0,
         S(targetServiceName), S(userName), authenticationType);
  Connection *conn;
  if (!connection) return c.End(NWSMTS_INVALID_PARAMETER);
  if (CCODE rc = c.Begin(*connection, &conn)) return c.End(rc);
  if (authenticationType != NWSM_AUTH_UTF8_DATA && authenticationType != NWSM_AUTH_RAW_DATA)
    return c.End(NWSMTS_INVALID_PARAMETER);
  return c.End(Login(conn, targetServiceName, userName, password));
}

extern "C" CCODE NWSMTSReleaseTargetService(UINT32 *connection) {
  Call c("NWSMTSReleaseTargetService");
  Connection *conn;
  if (!connection) return c.End(NWSMTS_INVALID_PARAMETER);
  c.Args("connection=0x%X", *connection);
  if (CCODE rc = c.Begin(*connection, &conn, true)) return c.End(rc);
  conn->loggedIn = false;
  FlushArchive();
  // The restore of this login ends: its directories get their metadata.
  FinishDeferredDirs(*connection);
  // Scans and data sets end with the login.
  UINT32 h = *connection;
  State &g = G();
  for (auto it = g.handles.begin(); it != g.handles.end();) {
    if (it->second->connection == h) it = g.handles.erase(it);
    else ++it;
  }
  return c.End(0);
}

extern "C" CCODE NWSMReleaseTSA(UINT32 *connection) {
  Call c("NWSMReleaseTSA");
  Connection *conn;
  if (!connection) return c.End(NWSMTS_INVALID_PARAMETER);
  c.Args("connection=0x%X", *connection);
  if (CCODE rc = c.Begin(*connection, &conn, true)) return c.End(rc);
  FlushArchive();
  DropConnection(*connection);
  *connection = 0;
  return c.End(0);
}
