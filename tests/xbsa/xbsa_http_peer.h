// Test peer of the HTTP(S) transport: the scripted storage node of
// tests/peers/http_peer.py and a self-signed certificate for its HTTPS side.
#ifndef VRK_TESTS_XBSA_XBSA_HTTP_PEER_H
#define VRK_TESTS_XBSA_XBSA_HTTP_PEER_H

#include <stdlib.h>

#include <memory>
#include <string>

#include "vrk_test_util.h"
#include "xbsa_peers.h"

namespace vrktest {

// A key and a self-signed certificate for localhost and 127.0.0.1, made
// once per test binary with the openssl command.
class TestCertificate {
 public:
  static const TestCertificate &Get() {
    static TestCertificate cert;
    return cert;
  }
  bool ok() const { return ok_; }
  std::string cert() const { return dir_.file("cert.pem"); }
  std::string key() const { return dir_.file("key.pem"); }

 private:
  TestCertificate() {
    std::string cmd = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                      " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
                      key() + "' -out '" + cert() + "' >'" + dir_.file("openssl.out") + "' 2>&1";
    ok_ = system(cmd.c_str()) == 0 && !ReadFile(cert()).empty();
  }
  TempDir dir_;
  bool ok_ = false;
};

class HttpPeer {
 public:
  explicit HttpPeer(const std::string &scriptJson = "{}", bool bTls = false) : tls_(bTls) {
    WriteFile(dir_.file("script.json"), scriptJson);
    mkdir(dir_.file("root").c_str(), 0755);
    std::string peer = std::string(VRK_TEST_SOURCE_DIR) + "/tests/peers/http_peer.py";
    std::vector<std::string> argv = {Python3(), peer, "--root", dir_.file("root"), "--port-file",
                                     dir_.file("port"), "--log", dir_.file("requests.log"), "--script",
                                     dir_.file("script.json"), "--lifetime", "120"};
    if (bTls) {
      const TestCertificate &c = TestCertificate::Get();
      if (!c.ok()) return;
      argv.insert(argv.end(), {"--cert", c.cert(), "--key", c.key()});
    }
    child_.Start(argv, dir_.file("peer.out"));
    for (int i = 0; i < 2000 && port_ == 0; i++) {
      std::string p = ReadFile(dir_.file("port"));
      if (!p.empty()) port_ = atoi(p.c_str());
      if (port_ == 0) {
        if (!child_.Running()) break;
        SleepMs(10);
      }
    }
  }
  int port() const { return port_; }
  std::string url() const { return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_); }
  std::string root() const { return dir_.file("root"); }
  std::string log() const { return ReadFile(dir_.file("requests.log")); }
  std::string output() const { return ReadFile(dir_.file("peer.out")); }
  // Puts an object where a download of name under path finds it.
  void Put(const std::string &path, const std::string &name, const std::string &data) {
    std::string d = root() + "/" + path;
    std::string cmd = "mkdir -p '" + d + "'";
    if (system(cmd.c_str()) != 0) {
    }
    WriteFile(d + "/" + name, data);
  }
  void Stop() { child_.Stop(); }

 private:
  bool tls_;
  TempDir dir_;
  ChildProcess child_;
  int port_ = 0;
};

inline std::vector<std::string> HttpEnv(const std::string &url, std::vector<std::string> extra = {}) {
  std::vector<std::string> env = {"BSA_SERVICE_HOST=" + url};
  for (auto &e : extra) env.push_back(e);
  return env;
}

}  // namespace vrktest

#endif
