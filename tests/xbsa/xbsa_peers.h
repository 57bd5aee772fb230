// Test peers of the storage client: the scripted FTP-like storage node and a
// vsftpd instance, each started on 127.0.0.1 and stopped when it goes away.
#ifndef VRK_TESTS_XBSA_XBSA_PEERS_H
#define VRK_TESTS_XBSA_XBSA_PEERS_H

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <sstream>
#include <string>
#include <vector>

#include "vrk_test_util.h"

namespace vrktest {

inline void SleepMs(int ms) { usleep((useconds_t)ms * 1000); }

inline const char *Python3() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

// A child process stopped (SIGTERM, then SIGKILL) when the owner goes away.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;
  ~ChildProcess() { Stop(); }

  bool Start(const std::vector<std::string> &argv, const std::string &outFile) {
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      int fd = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      int nul = open("/dev/null", O_RDONLY);
      if (nul >= 0) dup2(nul, 0);
      // The peer must not hold the test's own sockets.
      for (int d = 3; d < 4096; d++) close(d);
      std::vector<char *> args;
      for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    if (pid_ > 0) setpgid(pid_, pid_);
    return pid_ > 0;
  }
  bool Running() {
    if (pid_ <= 0) return false;
    int st;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  void Stop() {
    if (pid_ <= 0) return;
    // The whole group: vsftpd's session processes too.
    if (kill(-pid_, SIGTERM) != 0) kill(pid_, SIGTERM);
    for (int i = 0; i < 200; i++) {
      int st;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      SleepMs(10);
    }
    if (kill(-pid_, SIGKILL) != 0) kill(pid_, SIGKILL);
    int st;
    waitpid(pid_, &st, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// The scripted storage node of tests/peers/ftp_peer.py.
class FtpPeer {
 public:
  explicit FtpPeer(const std::string &scriptJson = "{}") {
    WriteFile(dir_.file("script.json"), scriptJson);
    mkdir(dir_.file("root").c_str(), 0755);
    std::string peer = std::string(VRK_TEST_SOURCE_DIR) + "/tests/peers/ftp_peer.py";
    child_.Start({Python3(), peer, "--root", dir_.file("root"), "--port-file", dir_.file("port"), "--log",
                  dir_.file("commands.log"), "--script", dir_.file("script.json"), "--lifetime", "120"},
                 dir_.file("peer.out"));
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
  std::string root() const { return dir_.file("root"); }
  // The commands received, once every connection the peer accepted is over.
  std::string commands() const {
    std::string log;
    for (int i = 0; i < 1000; i++) {
      log = ReadFile(dir_.file("commands.log"));
      if (Count(log, "-- open\n") == Count(log, "-- closed\n")) break;
      SleepMs(10);
    }
    std::string out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
      if (line != "-- open" && line != "-- closed") out += line + "\n";
    }
    return out;
  }
  std::string output() const { return ReadFile(dir_.file("peer.out")); }

 private:
  static int Count(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) n++;
    return n;
  }
  TempDir dir_;
  ChildProcess child_;
  int port_ = 0;
};

// A free TCP port on 127.0.0.1 (closed again at once).
inline int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, (struct sockaddr *)&sa, sizeof sa);
  socklen_t len = sizeof sa;
  getsockname(s, (struct sockaddr *)&sa, &len);
  close(s);
  return ntohs(sa.sin_port);
}

// Start of a local port range below the system's ephemeral ports, so that
// no connection of the test itself takes its ports; differs per process and
// per call (ports of a closed connection stay taken for a while).
inline int RangeStart() {
  static int calls = 0;
  return 20000 + (int)(((getpid() * 7) + 50 * calls++) % 5000) * 2;
}

// vsftpd with anonymous upload into "incoming" under a root-owned anonymous root.
class VsftpdPeer {
 public:
  static bool Available() { return access("/usr/sbin/vsftpd", X_OK) == 0 && getuid() == 0 && getpwnam("ftp"); }

  VsftpdPeer() {
    chmod(dir_.path().c_str(), 0755);
    mkdir(dir_.file("anon").c_str(), 0555);
    mkdir(dir_.file("anon/incoming").c_str(), 0755);
    mkdir(dir_.file("empty").c_str(), 0555);
    struct passwd *pw = getpwnam("ftp");
    if (pw && chown(dir_.file("anon/incoming").c_str(), pw->pw_uid, pw->pw_gid) != 0) {
    }
    port_ = FreePort();
    std::string conf =
        "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port_) +
        "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\nanon_upload_enable=YES\n"
        "anon_root=" + dir_.file("anon") + "\nanon_umask=022\nsecure_chroot_dir=" + dir_.file("empty") +
        "\nconnect_from_port_20=NO\nport_enable=YES\npasv_enable=NO\nseccomp_sandbox=NO\nisolate=NO\n"
        "isolate_network=NO\nxferlog_enable=YES\nxferlog_std_format=NO\ndirmessage_enable=NO\nftp_username=ftp\n"
        "vsftpd_log_file=" + dir_.file("vsftpd.log") + "\nlog_ftp_protocol=YES\nsyslog_enable=NO\n";
    WriteFile(dir_.file("vsftpd.conf"), conf);
    chmod(dir_.file("vsftpd.conf").c_str(), 0600);
    child_.Start({"/usr/sbin/vsftpd", dir_.file("vsftpd.conf")}, dir_.file("vsftpd.out"));
    for (int i = 0; i < 1000 && !ready_; i++) {
      int s = socket(AF_INET, SOCK_STREAM, 0);
      struct sockaddr_in sa = {};
      sa.sin_family = AF_INET;
      sa.sin_port = htons((uint16_t)port_);
      sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (connect(s, (struct sockaddr *)&sa, sizeof sa) == 0) {
        char c;
        ready_ = recv(s, &c, 1, 0) == 1;  // the greeting
      }
      close(s);
      if (!ready_) {
        if (!child_.Running()) break;
        SleepMs(10);
      }
    }
  }
  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string incoming() const { return dir_.file("anon/incoming"); }
  std::string log() const { return ReadFile(dir_.file("vsftpd.log")) + ReadFile(dir_.file("vsftpd.out")); }

 private:
  TempDir dir_;
  ChildProcess child_;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace vrktest

#endif
