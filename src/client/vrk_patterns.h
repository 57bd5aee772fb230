// Exclude and ignore pattern lists of the object record: filled from the
// exclude file and the main ini, compiled to regular expressions and matched.
#ifndef VRK_CLIENT_VRK_PATTERNS_H
#define VRK_CLIENT_VRK_PATTERNS_H

#include "client/vrk_global.h"

// Patterns a list holds: the last of the VRK_MAX_ITEMS slots keeps the NULL
// that ends the list.
#define VRK_MAX_PATTERNS (VRK_MAX_ITEMS - 1)
// Characters of one exclude-file line or generator name.
#define VRK_PATTERN_LINE_MAX (VRK_PATH_MAX - 1)

// Appends the lines of the exclude file (iExcludeFile, read from its start)
// to cpExclude. 1 on success; 0 when the list is full, the file cannot be
// read or a line is too long, with the reason in cpMsg (nMsgSize bytes).
int iFillExcludePatternsFromFile(char *cpMsg, int nMsgSize);
// The name the exclude file was opened under (-X), for the messages that
// name it; "" before any.
void vrk_set_exclude_file_name(const char *cpName);
const char *vrk_exclude_file_name(void);
// Appends the numbered "ExcludePattern#" values of "[VRK_EXCLUDE]" of the
// main ini to cpExclude; same contract.
int FillDefaultExcludePatterns(char *cpMsg, int nMsgSize);
// Fills cpIgnore from the numbered "IgnorePattern#" values of
// "[VRK_IGNORE_SIZE_CHANGE]"; "$(NAME)" takes NAME from "[PATHES]".
int FillIgnorePatterns(char *cpMsg, int nMsgSize);

// Compiles cpExclude into psRegEx (cpIgnore into psRegIgnEx): 1, or 0 when
// a pattern does not compile or memory runs out (that pattern is not kept).
int vrk_regcomp_all(void);
int vrk_ignore_regcomp_all(void);
// Frees every compiled pattern of both arrays and clears the slots.
void vrk_regfree_all(void);

// 1 when a compiled pattern matches the name, else 0 (a matching error is
// no match).
int vrk_match_exclude(const char *cpItem);
int vrk_match_ignore(const char *cpItem);

// Reads the next item name from the generator iGen into szItem: 0 with a
// name, -1 at the end of the data or on an error.
int vrk_read_gen(void);
// Opens the include list cpIncludeList as the generator and adds its first
// name to cpItem: 1, or -1 on failure. The argument is not used.
int vrk_read_includefile(const char *cpIncludeFile);

#endif
