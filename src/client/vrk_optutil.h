// Helpers shared by the option handlers: the refusal messages of a bad
// argument, bounded copies into fixed fields and heap fields, pipe mode.
#ifndef VRK_CLIENT_VRK_OPTUTIL_H
#define VRK_CLIENT_VRK_OPTUTIL_H

#include <stddef.h>

// Banner and 1001 "Option -%c requires an argument."; returns false.
bool vrk_opt_missing(int iLetter);

// The dash check: an argument that begins with '-' counts as missing.
bool vrk_opt_dash_ok(const char *cpArg, int iLetter);

// Banner and 1038 "Invalid argument [%s] for switch -%c."; returns false.
bool vrk_opt_invalid(const char *cpArg, int iLetter);

// true when cpValue fits a field of iSize bytes whole; else refuses the
// argument cpArg of option iLetter with banner and 1038.
bool vrk_opt_fits(const char *cpValue, size_t iSize, const char *cpArg, int iLetter);

// Replaces a heap field by a copy of cpValue; false (1008) when memory runs out.
bool vrk_opt_set_heap(char **cppField, const char *cpValue);

// Pipe mode: cpItem[0] "pipe", cpItem[1] NULL, szTargetPath[0] = cpTarget.
bool vrk_opt_set_pipe(const char *cpTarget);

// Frees the heap pieces of a NULL-ended table of iSize entries.
void vrk_opt_free_items(char **cpItem, size_t iSize);

#endif
