// The operating-system description from "lsb_release -d", logged on every
// run as message 3019.
#include "client/vrk_osinfo.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/vrk_log.h"

char *get_os_info(void) {
  if (system("which lsb_release > /dev/null 2>&1") != 0) return nullptr;
  fflush(nullptr);
  FILE *fp = popen("lsb_release -d 2>/dev/null", "r");
  if (fp == nullptr) return nullptr;

  char *line = nullptr;
  size_t cap = 0;
  char *result = nullptr;
  if (getline(&line, &cap, fp) > 0) {
    static const char kLabel[] = "Description:";
    if (strncmp(line, kLabel, sizeof(kLabel) - 1) == 0) {
      char *p = line + sizeof(kLabel) - 1;
      while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
      size_t n = strcspn(p, "\n");
      if (n > 0) result = strndup(p, n);
    }
  }
  free(line);
  pclose(fp);
  return result;
}

void print_os_info(void) {
  char *info = get_os_info();
  vrk_log(3019, info != nullptr ? info : "");
  free(info);
}
