// Isolation of a fuzz target: read-only remounts of every file system in a
// private mount namespace, a private tmpfs on /tmp, the start directory kept writable.
#include "fuzz_sandbox.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace {

[[noreturn]] void die(const char *cpWhat, const std::string &arg = "") {
  fprintf(stderr, "fuzz sandbox: %s %s: %s\n", cpWhat, arg.c_str(), strerror(errno));
  abort();
}

bool write_text(const char *cpPath, const std::string &text) {
  int fd = open(cpPath, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == (ssize_t)text.size();
  close(fd);
  return ok;
}

// A user namespace in which this user is root gives the mount rights to
// someone who is not root.
void enter_namespace() {
  if (unshare(CLONE_NEWNS) == 0) return;
  uid_t uid = geteuid();
  gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) die("unshare");
  write_text("/proc/self/setgroups", "deny");
  if (!write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n")) die("uid_map");
  if (!write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) die("gid_map");
}

// Mount point names in mountinfo escape blanks and backslashes as \ooo.
std::string unescape(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      out += (char)(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

unsigned long kept_flags(const std::string &options) {
  unsigned long f = 0;
  std::stringstream ss(options);
  std::string o;
  while (std::getline(ss, o, ',')) {
    if (o == "nosuid") f |= MS_NOSUID;
    if (o == "nodev") f |= MS_NODEV;
    if (o == "noexec") f |= MS_NOEXEC;
    if (o == "noatime") f |= MS_NOATIME;
    if (o == "nodiratime") f |= MS_NODIRATIME;
    if (o == "relatime") f |= MS_RELATIME;
  }
  return f;
}

bool under(const std::string &path, const char *cpTop) {
  size_t n = strlen(cpTop);
  return path.compare(0, n, cpTop) == 0 && (path.size() == n || path[n] == '/');
}

void remount_all_read_only() {
  std::ifstream in("/proc/self/mountinfo");
  if (!in) die("cannot read", "/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    std::string id, parent, devno, root, point, options;
    ss >> id >> parent >> devno >> root >> point >> options;
    point = unescape(point);
    // The kernel's own trees hold no files of the project.
    if (under(point, "/proc") || under(point, "/sys")) continue;
    if (mount(nullptr, point.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | kept_flags(options), nullptr) !=
        0)
      die("cannot remount read-only", point);
  }
}

}  // namespace

const std::string &vrk_fuzz_sandbox() {
  static std::string work;
  if (!work.empty()) return work;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) die("getcwd");
  // The private /tmp would hide a start directory beneath it.
  if (under(cwd, "/tmp")) {
    errno = EINVAL;
    die("start the target outside /tmp, not in", cwd);
  }
  enter_namespace();
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) die("cannot make mounts private");
  remount_all_read_only();
  if (mount("vrkfuzz", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "size=256m,mode=1777") != 0) die("tmpfs on", "/tmp");
  if (mount(cwd, cwd, nullptr, MS_BIND, nullptr) != 0 ||
      mount(nullptr, cwd, nullptr, MS_REMOUNT | MS_BIND, nullptr) != 0)
    die("cannot keep writable", cwd);
  // Proof that the rest is out of reach.
  if (mkdir("/vrkfuzz-probe", 0700) == 0 || errno != EROFS) {
    rmdir("/vrkfuzz-probe");
    errno = EPERM;
    die("the root file system is still writable");
  }
  setenv("TMPDIR", "/tmp", 1);
  char tmpl[] = "/tmp/target.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) die("mkdtemp");
  work = tmpl;
  return work;
}

void vrk_fuzz_write_file(const std::string &path, const uint8_t *data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) die("cannot create", path);
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) die("cannot write", path);
    done += (size_t)n;
  }
  if (close(fd) != 0) die("cannot close", path);
}

std::set<std::string> vrk_fuzz_names_in(const std::string &dir) {
  std::set<std::string> out;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) abort();
  while (struct dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) out.insert(e->d_name);
  closedir(d);
  return out;
}
