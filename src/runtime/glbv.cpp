// Named values in ".sgv" files of the glbv directory: read, read and delete,
// write and delete (with "*" patterns), every failure text beginning "??".
#include "runtime/glbv.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "runtime/bounded_read.h"
#include "runtime/cm_lang.h"
#include "runtime/ini_lookup.h"
#include "runtime/ini_profile_internal.h"
#include "runtime/prot.h"

namespace {

const size_t kMaxValue = GLBV_VALUE_SIZE - 1;

void put_value(char *cpValue, const std::string &text) {
  snprintf(cpValue, GLBV_VALUE_SIZE, "%s", text.c_str());
}

std::string fatal_text() {
  const char *fmt;
  switch (eLang) {
    case LANG_DE:
      fmt = "Fataler Software Fehler FILE=%s ZEILE=%d (%s)";
      break;
    case LANG_BY:
      fmt = "Jössas na! Do is a ganz a groba Fälla in FILE=%s ZEILE=%d (%s)";
      break;
    default:
      fmt = "Fatal software error FILE=%s LINE=%d (%s)";
      break;
  }
  char buf[256];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  snprintf(buf, sizeof(buf), fmt, "cm_hal_unix", 261, " error reading kv_ini");
#pragma GCC diagnostic pop
  return std::string("?? ") + buf;
}

std::string invalid_service_text(char c) {
  const char *fmt;
  switch (eLang) {
    case LANG_DE:
      fmt = "?? ungültiger Parameter %c";
      break;
    case LANG_BY:
      fmt = "?? deppada Paramätta %c";
      break;
    case LANG_FR:
      fmt = "?? Le Parametre %c est erroné";
      break;
    default:
      fmt = "?? invalid service %c";
      break;
  }
  char buf[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  snprintf(buf, sizeof(buf), fmt, c);
#pragma GCC diagnostic pop
  return buf;
}

void delete_matching(const std::string &dir, const std::string &name) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) {
    fprintf(stderr, "glbv: Error in opendir( %s ): %s\n", dir.c_str(), strerror(errno));
    return;
  }
  // Only named value files match: the pattern takes the ".sgv" ending, so
  // other files of the directory are never removed.
  std::string pattern = name + ".sgv";
  std::string base = dir;
  if (!base.empty() && base.back() != '/') base += '/';
  while (struct dirent *e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    if (fnmatch(pattern.c_str(), e->d_name, 0) == 0) unlink((base + e->d_name).c_str());
  }
  closedir(d);
}

void write_value(const std::string &path, const char *cpName, char *cpValue) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  size_t len = strlen(cpValue);
  int err = 0;
  if (fd < 0) {
    err = errno;
  } else {
    ssize_t w = write(fd, cpValue, len);
    if (w < 0 || static_cast<size_t>(w) != len) err = w < 0 ? errno : EIO;
    if (close(fd) != 0 && err == 0) err = errno;
  }
  if (err == 0) return;
  fprintf(stderr, "glbv() write %s failed: %s (%d)\n", path.c_str(), strerror(err), err);
  put_value(cpValue, profile_format("?? GLBV %s cannot be created: %s", cpName, strerror(err)));
  PROT("E999-BASICS  Error: GLBV: %s", cpValue);
}

void read_value(const std::string &path, const char *cpName, char *cpValue, bool remove) {
  // A few MiB at most; a pipe or device must end within the data wait.
  std::string why;
  FILE *f = vrk_fopen_bounded(path.c_str(), why);
  if (f == nullptr) {
    int err = errno;
    std::string text = profile_format("?? GLBV %s not existing", cpName);
    if (err != ENOENT) {
      fprintf(stderr, "glbv() read %s failed: %s (%d)\n", path.c_str(), strerror(err), err);
      text += ": ";
      text += strerror(err);
      put_value(cpValue, text);
      PROT("E999-BASICS  Error: GLBV: %s", cpValue);
      return;
    }
    put_value(cpValue, text);
    return;
  }
  std::string joined;
  char *line = nullptr;
  size_t cap = 0;
  ssize_t got;
  while ((got = getline(&line, &cap, f)) != -1) {
    size_t len = static_cast<size_t>(got);
    if (len > 0 && line[len - 1] == '\n') len--;
    if (joined.size() + len > kMaxValue) {
      // The part that fits is taken and the last character marks the cut.
      joined.append(line, kMaxValue - joined.size());
      joined[kMaxValue - 1] = '>';
      break;
    }
    joined.append(line, len);
  }
  free(line);
  fclose(f);
  if (joined.empty()) {
    fprintf(stderr, "glbv() read failed: empty file\n");
    put_value(cpValue, profile_format("?? GLBV %s not existing", cpName));
  } else {
    put_value(cpValue, joined);
  }
  if (remove) unlink(path.c_str());
}

}  // namespace

char *glbv(char cService, char *cpName, char *cpValue) {
  if (cpValue == nullptr) return nullptr;
  if (cpName == nullptr) {
    put_value(cpValue, "?? GLBV without name");
    return cpValue;
  }
  for (char *p = cpName; *p; p++)
    if (*p == '\\' || *p == '/') *p = '_';
  char dir[GLBV_VALUE_SIZE];
  char msg[512];
  if (!i_READ_INI("KV_INI", "[Pathes]", "gv_rw_glbv", dir, sizeof(dir), msg, sizeof(msg))) {
    put_value(cpValue, fatal_text());
    return cpValue;
  }
  std::string path = std::string(dir) + cpName + ".sgv";
  switch (cService) {
    case 'd':
      if (strchr(cpName, '*') == nullptr)
        unlink(path.c_str());
      else
        delete_matching(dir, cpName);
      break;
    case 'w':
      write_value(path, cpName, cpValue);
      break;
    case 'r':
    case 'R':
      read_value(path, cpName, cpValue, cService == 'R');
      break;
    default:
      put_value(cpValue, invalid_service_text(cService));
      break;
  }
  return cpValue;
}
