// Login of the storage client: the authorisation hook of BSAInit and the
// secure login (fixed user word, "<login>@<fully qualified host>" password).
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "runtime/strlib.h"
#include "xbsa/stpc.h"
#include "xbsa/xbsa_trace.h"

int xbsa_authorize(BSA_SecurityToken *tokenPtr, BSA_ObjectOwner *objectOwnerPtr) {
  (void)tokenPtr;
  (void)objectOwnerPtr;
  return 0;
}

namespace {

int fail(char *cpMsg, const char *cpText) {
  xbsatrace("%s", cpText);
  strlcpy(cpMsg, cpText, XBSA_MSG_SIZE);
  return -1;
}

}  // namespace

// cpMsg must hold XBSA_MSG_SIZE bytes.
int make_KORVA_authentication(int hSocket, char *cpUser, unsigned int *uipUserLen, char *cpPassword,
                              unsigned int *uipPasswordLen, char *cpMsg) {
  if (*uipUserLen < 4) return fail(cpMsg, "make_KORVA_authentication: Username container to small.");
  char szWord[4];
  szWord[0] = XBSA_SECURE_USER[0];
  szWord[1] = XBSA_SECURE_USER[1];
  szWord[2] = XBSA_SECURE_USER[2];
  szWord[3] = '\0';

  struct passwd *pw = getpwuid(getuid());
  if (!pw || !pw->pw_name) {
    char szText[128];
    snprintf(szText, sizeof szText, "make_KORVA_authentication: no login name for user id %u.",
             (unsigned)getuid());
    return fail(cpMsg, szText);
  }
  std::string login = pw->pw_name;
  xbsatrace("make_KORVA_authentication: Currently logged USER: [%s] ...", login.c_str());

  xbsatrace("make_KORVA_authentication: Calling getsockname() for SOCKET: [%d] ...", hSocket);
  struct sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (getsockname(hSocket, (struct sockaddr *)&sa, &len) != 0) {
    char szText[XBSA_MSG_SIZE];
    snprintf(szText, sizeof szText, "make_KORVA_authentication: getsockname() failed with error code: %ld",
             (long)GetSockErrCode());
    xbsalog("%s", szText);
    strlcpy(cpMsg, szText, XBSA_MSG_SIZE);
    return -1;
  }
  const unsigned char *ip = (const unsigned char *)&sa.sin_addr;
  xbsatrace("make_KORVA_authentication: Local ADDRESS: [%d.%d.%d.%d]", ip[0], ip[1], ip[2], ip[3]);
  xbsatrace("make_KORVA_authentication: Local PORT:    [%d]", (int)ntohs(sa.sin_port));

  xbsatrace("make_KORVA_authentication: Calling gethostbyaddr() ...");
  struct hostent *hp = gethostbyaddr(&sa.sin_addr, sizeof sa.sin_addr, AF_INET);
  if (!hp || !hp->h_name) {
    xbsatrace("make_KORVA_authentication: gethostbyaddr() failed with error code: %ld", (long)h_errno);
    strlcpy(cpMsg,
            SysErrorTxt((unsigned long)GetSockErrCode(), 3,
                        "make_KORVA_authentication: gethostbyaddr(%d.%d.%d.%d) failed with:", ip[0], ip[1],
                        ip[2], ip[3]),
            XBSA_MSG_SIZE);
    return -1;
  }
  std::string dnsName = hp->h_name;
  xbsatrace("make_KORVA_authentication: gethostbyaddr() returned DNS NAME: [%s]", dnsName.c_str());

  xbsatrace("make_KORVA_authentication: Calling gethostbyname() ...");
  hp = gethostbyname(dnsName.c_str());
  if (!hp || !hp->h_name) {
    xbsatrace("make_KORVA_authentication: gethostbyname() failed with error code: %ld", (long)h_errno);
    strlcpy(cpMsg,
            SysErrorTxt((unsigned long)GetSockErrCode(), 3, "make_KORVA_authentication: gethostbyname(%s) failed with:",
                        dnsName.c_str()),
            XBSA_MSG_SIZE);
    return -1;
  }
  std::string fqdn = hp->h_name;
  if (fqdn.size() > 127) return fail(cpMsg, "make_KORVA_authentication: fully qualified host name longer than 127 characters.");
  xbsatrace("make_KORVA_authentication: gethostbyname() returned  FQDNS NAME: [%s]", fqdn.c_str());

  std::string password = login + "@" + fqdn;
  if (password.size() + 1 > *uipPasswordLen) {
    return fail(cpMsg, "make_KORVA_authentication: Password container to small.");
  }
  memcpy(cpUser, szWord, 4);
  *uipUserLen = 3;
  memcpy(cpPassword, password.c_str(), password.size() + 1);
  *uipPasswordLen = (unsigned int)password.size();
  return 0;
}
