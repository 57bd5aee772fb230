// Named values held in ".sgv" files of the product's glbv directory, and the
// resolvers that substitute them or main-ini path keys into file names.
#ifndef VRK_RUNTIME_GLBV_H
#define VRK_RUNTIME_GLBV_H

#include <stddef.h>

// Size the value buffer of glbv must have.
#define GLBV_VALUE_SIZE 512

// Services 'r' read, 'R' read and delete, 'w' write cpValue, 'd' delete (a
// name with '*' deletes every match). Slashes and backslashes in cpName are
// replaced by '_' in place. Returns cpValue; every failure text begins "??".
char *glbv(char cService, char *cpName, char *cpValue);
// "KEY:file" with KEY a "[Pathes]" key of the main ini becomes the key's
// value followed by file; anything else is left alone. Always 1.
int resolve_path(char *cpOrigPath, size_t uSize);
// "NAME:rest" (or "NAME") becomes the named value followed by rest; 1 when
// substituted, 0 otherwise (the text is then unchanged).
int resolve_glbv(char *file, size_t uSize);

#endif
