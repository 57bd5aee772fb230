// Service URL of the storage node ("BSA_SERVICE_HOST"): an ftp, http or
// https URI, or a host name with a colon and a port, split for BSAInit.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include <uriparser/Uri.h>

#include "runtime/strlib.h"
#include "xbsa/xbsa_session.h"

namespace {

std::string range_text(const UriTextRangeA &r) {
  if (!r.first || !r.afterLast || r.afterLast < r.first) return std::string();
  return std::string(r.first, (size_t)(r.afterLast - r.first));
}

// The port is read as atoi reads it ("11001x" is 11001); the client
// connects there, so it must be a port from 1 to 65535.
bool valid_port(const std::string &port) {
  if (port.empty()) return true;
  long l = atol(port.c_str());
  return l >= 1 && l <= 65535;
}

}  // namespace

int xbsa_parse_service_host(const char *cpValue, eConnectionProtocol *pProtocol, char *cpHost,
                            unsigned int uiHostLen, char *cpPort, unsigned int uiPortLen) {
  eConnectionProtocol eProt = eFTP;
  std::string host, port;
  bool bUri = false;

  UriParserStateA state;
  UriUriA uri;
  memset(&uri, 0, sizeof uri);
  state.uri = &uri;
  if (uriParseUriA(&state, cpValue) == URI_SUCCESS) {
    std::string scheme = range_text(uri.scheme);
    std::string uriHost = range_text(uri.hostText);
    if (!scheme.empty() && !uriHost.empty()) {
      bUri = true;
      static const struct {
        const char *cpWord;
        eConnectionProtocol e;
      } kWords[] = {{"ftp", eFTP}, {"http", eHTTP}, {"https", eHTTPS}};
      for (const auto &w : kWords) {
        if (strncasecmp(scheme.c_str(), w.cpWord, strlen(w.cpWord)) == 0) {
          eProt = w.e;
          break;
        }
      }
      if (eProt == eFTP) {
        host = uriHost;
        port = range_text(uri.portText);
      } else {
        host = cpValue;
      }
    }
  }
  uriFreeUriMembersA(&uri);

  if (!bUri) {
    std::string v(cpValue);
    size_t colon = v.find(':');
    host = v.substr(0, colon);
    if (colon != std::string::npos) {
      port = v.substr(colon + 1);
      size_t colon2 = port.find(':');
      if (colon2 != std::string::npos) port.resize(colon2);
    }
  }

  *pProtocol = eProt;
  if (host.empty() || host.size() >= uiHostLen || port.size() >= uiPortLen || !valid_port(port)) {
    strlcpy(cpHost, host.c_str(), uiHostLen);
    strlcpy(cpPort, port.c_str(), uiPortLen);
    return -1;
  }
  strlcpy(cpHost, host.c_str(), uiHostLen);
  strlcpy(cpPort, port.c_str(), uiPortLen);
  return 0;
}
