// Splitting a command line in place into an argument array: blanks separate,
// quotes group, a backslash takes the next character as it is.
#include <stdio.h>

#include "runtime/cm_exec.h"
#include "runtime/vrk_log.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int i_parse_cmd(char *cpExe, char **szArgv) {
  if (szArgv == nullptr) return 0;
  if (cpExe == nullptr) {
    szArgv[0] = nullptr;
    return 0;
  }
  char *p = cpExe;
  while (is_blank(*p)) p++;
  int argc = 0;
  int separators = 0;
  while (*p != '\0') {
    if (argc == PARSE_CMD_MAX_ARGS - 1) {
      // The last slot takes the rest of the line unsplit.
      trace("%l0 WARNING: array of arguments to small for all given arguments: %d < %d",
            PARSE_CMD_MAX_ARGS - 2, PARSE_CMD_MAX_ARGS - 1);
      fprintf(stderr, "WARNING: array of arguments to small for all given arguments: %d < %d\n",
              PARSE_CMD_MAX_ARGS - 2, PARSE_CMD_MAX_ARGS - 1);
      szArgv[argc++] = p;
      break;
    }
    // A quote at the start is dropped; its partner ends the argument.
    char open = '\0';
    if (*p == '"' || *p == '\'') open = *p++;
    szArgv[argc++] = p;
    char *out = p;
    bool ended = false;
    while (*p != '\0' && !ended) {
      if (*p == '\\') {
        // The backslash and its character stay; a trailing one ends the line.
        *out++ = *p++;
        if (*p == '\0') break;
        *out++ = *p++;
      } else if (open != '\0' && *p == open) {
        p++;
        ended = true;
      } else if (open == '\0' && (*p == '"' || *p == '\'')) {
        // A quote inside an argument stays with its partner and what lies
        // between them is not split.
        char inner = *p;
        *out++ = *p++;
        while (*p != '\0' && *p != inner) {
          if (*p == '\\' && p[1] != '\0') *out++ = *p++;
          *out++ = *p++;
        }
        if (*p == inner) *out++ = *p++;
      } else if (open == '\0' && is_blank(*p)) {
        ended = true;
        p++;
      } else {
        *out++ = *p++;
      }
    }
    // out never runs ahead of p, so the terminator overwrites nothing unread.
    *out = '\0';
    trace("%l3 i_parse_cmd: argument %d [%s]", argc - 1, szArgv[argc - 1]);
    while (is_blank(*p)) p++;
    if (*p != '\0') separators++;
  }
  szArgv[argc] = nullptr;
  return separators;
}
