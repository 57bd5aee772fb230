// Masking credentials in the request headers that the HTTP trace dumps and
// URL passwords in the storage client's trace texts.
#include <gtest/gtest.h>

#include <string>

#include "xbsa/xbsa_session.h"

namespace {

TEST(XbsaMask, RequestHeadersLoseTheirCredentials) {
  std::string in =
      "PUT / HTTP/1.1\r\nHost: 127.0.0.1:1\r\nAuthorization: Basic dXNlcjpzZWNyZXQ=\r\n"
      "proxy-authorization: Digest abc\r\nXBSA-USER: u\r\nXBSA-PASS: secret\r\nXBSA-QUIT\r\n\r\n";
  std::string want =
      "PUT / HTTP/1.1\r\nHost: 127.0.0.1:1\r\nAuthorization: Basic ********\r\n"
      "proxy-authorization: Digest ********\r\nXBSA-USER: u\r\nXBSA-PASS: ********\r\nXBSA-QUIT\r\n\r\n";
  EXPECT_EQ(want, xbsa_mask_headers(in.data(), in.size()));
  // An empty value stays empty.
  std::string empty = "XBSA-PASS: \r\n";
  EXPECT_EQ(empty, xbsa_mask_headers(empty.data(), empty.size()));
}

TEST(XbsaMask, TraceTextsLoseOwnerAndUrlPasswords) {
  EXPECT_EQ("BSA_SERVICE_HOST=https://u:****@h:443", xbsa_mask_password("BSA_SERVICE_HOST=https://u:pw@h:443"));
  EXPECT_EQ("USER=u:PASS=********", xbsa_mask_password("USER=u:PASS=pw"));
}

}  // namespace
