// The sectioned profile reader, the bootstrap lookup of the main ini file and
// the wrappers that read, load or change the main ini by section and key.
#ifndef VRK_RUNTIME_INI_LOOKUP_H
#define VRK_RUNTIME_INI_LOOKUP_H

#include "runtime/LL.h"
#include "runtime/dictionary.h"

// Longest profile line; longer lines are refused, never split or matched.
#define PROFILE_LINE_MAX 1023
// Longest key name (the key and "=" fill a 256-byte buffer).
#define PROFILE_KEY_MAX 254
// Longest requested section text, brackets included.
#define PROFILE_SECTION_MAX 63
// Deepest chain of "%(name)" references; a deeper chain (a cycle) fails.
#define PROFILE_REF_DEPTH_MAX 10
// Longest value of a list element.
#define PROFILE_LIST_VALUE_MAX 511
// Longest bootstrap candidate path (each slot holds 128 bytes).
#define INI_ROOT_SLOT_MAX 127

// Status functions: 1 for success, 0 for failure with the reason in cpMsg
// (cut to iLengthMsg, always terminated). A value that does not fit into
// cpValue is refused, not cut.
int i_GetPrivateProfileString(const char *cpFilename, const char *cpSection, const char *cpKey,
                              char *cpValue, int iLengthValue, char *cpMsg, int iLengthMsg);
int i_GetPrivateProfileList(const char *cpFilename, const char *cpSection, const char *cpKey,
                            t_LL tllListOfValues, char *cpMsg, int iLengthMsg);

// The main ini's path for cpIdentifier (NULL or empty: "KV_INI"), from the
// bootstrap candidates: $KORVA_INI, "/etc/opt/korva/korva.ini",
// "/etc/korva2000.ini", highest first. An identifier beginning with "/" is
// the path itself.
int i_GET_ROOT_FOR_INI(const char *cpIdentifier, char *cpPath, int iLengthPath, char *cpMsg,
                       int iLengthMsg);
// For tests only: replaces the two fixed /etc candidates (slot 0 and slot 1);
// NULL restores the built-in path of that slot. 0 when a path is longer than
// INI_ROOT_SLOT_MAX (nothing changed).
int i_SET_ROOT_CANDIDATES(const char *cpSlot0, const char *cpSlot1);

int i_READ_INI(const char *cpIdentifier, const char *cpSection, const char *cpKey, char *cpValue,
               int iLengthValue, char *cpMsg, int iLengthMsg);
// Reads the numbered keys cpKey + "#"; returns the number of elements then in
// the list, 0 on failure.
int i_READ_INI_LIST(const char *cpIdentifier, const char *cpSection, const char *cpKey,
                    t_LL tllListOfValues, char *cpMsg, int iLengthMsg);
// The main ini loaded as a dictionary (the caller frees it), or NULL.
dictionary *p_PARSE_INI(const char *cpIni, char *cpMsg, int iLengthMsg);
// Sets section:key to cpValue in the main ini and rewrites the file; cFlag
// 'o' allows overwriting an existing key. The section may be given with or
// without its brackets.
int i_change_ini(const char *cpIni, const char *cpSection, const char *cpKey, const char *cpValue,
                 char cFlag);

#endif
