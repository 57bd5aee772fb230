// Reading item names one by one from the generator descriptor and from an
// include list file.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "client/vrk_io.h"
#include "client/vrk_patterns.h"
#include "runtime/vrk_log.h"

int vrk_read_gen(void) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  memset(o->szItem, 0, sizeof(o->szItem));
  const char end = spGlobal->sOptions.iPrint0Flag ? '\0' : '\n';
  size_t n = 0;
  for (;;) {
    char c = 0;
    ssize_t r = vrk_read(o->iGen, &c, 1, spGlobal->iGenWait);
    if (r < 0) return -1;
    if (r == 0) return n == 0 ? -1 : 0;
    if (c == end) return 0;
    if (n >= VRK_PATTERN_LINE_MAX) {
      // Never cut a name: an over-long one ends the reading.
      vrk_log(1500, "Item name from the generator longer than 4095 characters refused.");
      memset(o->szItem, 0, sizeof(o->szItem));
      return -1;
    }
    o->szItem[n++] = c;
  }
}

int vrk_read_includefile(const char *cpIncludeFile) {
  (void)cpIncludeFile;
  _sVRKObject *o = &spGlobal->sVRKObject;
  const char *name = o->cpIncludeList != nullptr ? o->cpIncludeList : "";
  int fd = open(name, O_RDONLY);
  if (fd < 0) {
    vrk_log(1011, name, strerror(errno));
    return -1;
  }
  o->iGen = fd;
  if (vrk_read_gen() != 0) {
    vrk_log(1120, name);
    return -1;
  }
  int n = 0;
  while (n < VRK_MAX_PATTERNS && o->cpItem[n] != nullptr) ++n;
  if (n >= VRK_MAX_PATTERNS) {
    vrk_log(1500, "Maximum of backup items reached.");
    return -1;
  }
  // The list owns heap copies; the name buffer is overwritten by the next read.
  char *copy = strdup(o->szItem);
  if (copy == nullptr) {
    vrk_log(1094);
    return -1;
  }
  o->cpItem[n] = copy;
  o->cpItem[n + 1] = nullptr;
  return 1;
}
