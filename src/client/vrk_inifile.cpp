// The main ini file: flat key and value lines naming the client's
// directories, time-outs and product data, chained through "KV_INI".
#include "client/vrk_inifile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "client/vrk_global.h"
#include "client/vrk_numbers.h"
#include "runtime/bounded_read.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

// The files of the chain being read, to find cycles.
std::vector<std::pair<dev_t, ino_t>> g_chain;

void set_heap(char **cppField, const char *cpValue) {
  char *copy = strdup(cpValue);
  if (copy == nullptr) {
    vrk_log(1094);
    return;
  }
  free(*cppField);
  *cppField = copy;
}

void set_positive(const char *cpKey, const char *cpValue, int *piField) {
  if (!vrk_positive_number(cpValue, piField))
    vrk_log(2500, "Invalid value [%s] of %s ignored, using %d", cpValue, cpKey, *piField);
}

void apply(const char *cpPath, const char *cpKey, const char *cpValue) {
  _sVRKGlobal *g = spGlobal;
  if (strcmp(cpKey, "KV_INI") == 0) {
    vrk_parse_inifile(cpValue);
  } else if (strcmp(cpKey, "gv_rw_vrk_log") == 0) {
    set_heap(&g->sDirs.cpLog, cpValue);
  } else if (strcmp(cpKey, "gv_rw_vrk_times") == 0) {
    set_heap(&g->sDirs.cpTimes, cpValue);
  } else if (strcmp(cpKey, "gv_rw_work") == 0) {
    set_heap(&g->sDirs.cpWork, cpValue);
  } else if (strcmp(cpKey, "gv_rw_ini") == 0) {
    set_heap(&g->sDirs.cpIni, cpValue);
  } else if (strcmp(cpKey, "gv_rw_tmp") == 0) {
    set_heap(&g->sDirs.cpTmp, cpValue);
  } else if (strcmp(cpKey, "gv_ro_bin") == 0) {
    set_heap(&g->sDirs.cpBin, cpValue);
  } else if (strcmp(cpKey, "gv_rw_kill_timeout") == 0) {
    g->iKillWait = vrk_atoi(cpValue);
  } else if (strcmp(cpKey, "version") == 0) {
    set_heap(&g->cpKorvaVersion, cpValue);
  } else if (strcmp(cpKey, "package_name") == 0) {
    set_heap(&g->cpPackage, cpValue);
  } else if (strcmp(cpKey, "VRK_GEN_WAIT") == 0) {
    set_positive(cpKey, cpValue, &g->iGenWait);
  } else if (strcmp(cpKey, "VRK_DATA_WAIT") == 0) {
    set_positive(cpKey, cpValue, &g->iDataWait);
  } else if (strcmp(cpKey, "DB_CLIENTS") == 0) {
    if (strlen(cpValue) >= sizeof(g->szINI_DBClients))
      vrk_log(2500, "ini file [%s]: value of DB_CLIENTS longer than %d characters ignored",
              cpPath, (int)sizeof(g->szINI_DBClients) - 1);
    else
      strlcpy(g->szINI_DBClients, cpValue, sizeof(g->szINI_DBClients));
  } else if (g->iLogLevel > 2) {
    vrk_log(4000, "%s:%d: unknown key found.", __FILE__, __LINE__);
  }
}

}  // namespace

int vrk_get_values(char *cpLine, char **cpKey, char **cpValue) {
  if (cpLine == nullptr || cpKey == nullptr || cpValue == nullptr) return -1;
  *cpKey = nullptr;
  *cpValue = nullptr;
  size_t len = strlen(cpLine);
  for (size_t i = 0; i < len; ++i)
    if (cpLine[i] == ' ' || cpLine[i] == '=' || cpLine[i] == '\n' || cpLine[i] == '\r')
      cpLine[i] = '\0';
  size_t i = 0;
  while (i < len && cpLine[i] == '\0') ++i;
  if (i == len) return -1;
  *cpKey = cpLine + i;
  while (i < len && cpLine[i] != '\0') ++i;
  while (i < len && cpLine[i] == '\0') ++i;
  if (i == len) return -1;
  *cpValue = cpLine + i;
  return 0;
}

void vrk_parse_inifile(const char *cpPath) {
  if (cpPath == nullptr) return;
  if (g_chain.size() >= VRK_INI_DEPTH_MAX) {
    vrk_log(3037, cpPath, "too many ini files chained through KV_INI");
    return;
  }
  // Opened without waiting: a FIFO without a writer must not hang the start;
  // the read below bounds it by the data wait, as every configuration file.
  int fd = open(cpPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    vrk_log(3037, cpPath, strerror(errno));
    return;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    vrk_log(3037, cpPath, strerror(errno));
    close(fd);
    return;
  }
  for (const auto &f : g_chain) {
    if (f.first == st.st_dev && f.second == st.st_ino) {
      vrk_log(3037, cpPath, "ini file already read in this KV_INI chain");
      close(fd);
      return;
    }
  }
  std::string content;
  std::string why;
  bool ok = vrk_read_fd_bounded(fd, content, why);
  close(fd);
  if (!ok) {
    vrk_log(3037, cpPath, why.c_str());
    return;
  }
  g_chain.emplace_back(st.st_dev, st.st_ino);

  int lineNo = 0;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    // The line as a C string: a NUL byte in it ends it there.
    std::string line = content.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    size_t len = line.size();
    while (len > 0 && line[len - 1] == '\r') --len;
    line.resize(len);
    if (len > VRK_INI_LINE_MAX) {
      vrk_log(2500, "ini file [%s]: line %d longer than %d characters ignored", cpPath, lineNo,
              VRK_INI_LINE_MAX);
      continue;
    }
    char *key;
    char *value;
    if (vrk_get_values(&line[0], &key, &value) != 0) {
      if (spGlobal->iLogLevel > 2)
        vrk_log(4000, "%s:%d: missing keyword or value", __FILE__, __LINE__);
      continue;
    }
    apply(cpPath, key, value);
  }
  if (spGlobal->iLogLevel > 2)
    vrk_log(4000, "%s:%d: null returned while reading ini file", __FILE__, __LINE__);
  g_chain.pop_back();
}
