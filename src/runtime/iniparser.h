// The ini parser: loads an ini file or standard input ("-") into a
// dictionary of section:key entries, with getters, setters and dumps.
#ifndef VRK_RUNTIME_INIPARSER_H
#define VRK_RUNTIME_INIPARSER_H

#include <stdio.h>

#include "runtime/dictionary.h"
#include "runtime/ini_strings.h"

// Longest line the loader accepts; longer lines are refused with a trace.
#define INI_LINE_MAX 1023
// Longest entry name (section, colon, key) built from a section and a key.
#define INI_ENTRY_MAX 2048

dictionary *iniparser_load(const char *ininame);
void iniparser_freedict(dictionary *d);

char *iniparser_getstring(dictionary *d, const char *key, char *def);
char *iniparser_getstr(dictionary *d, const char *key);
int iniparser_getint(dictionary *d, const char *key, int notfound);
double iniparser_getdouble(dictionary *d, const char *key, double notfound);
int iniparser_getboolean(dictionary *d, const char *key, int notfound);
int iniparser_find_entry(dictionary *ini, const char *entry);
int iniparser_getnsec(dictionary *d);
char *iniparser_getsecname(dictionary *d, int n);
int iniparser_getnentries(dictionary *d, const char *secname);
char *iniparser_getentry(dictionary *d, const char *secname, int n);

int iniparser_setstr(dictionary *ini, const char *entry, const char *val);
// 0 when set; -1 (traced) when section and key exceed INI_ENTRY_MAX.
int iniparser_add_entry(dictionary *d, const char *sec, const char *key, const char *val);
int iniparser_add_dictionary(dictionary *dest_dict, dictionary *source_dict);
void iniparser_delete(dictionary *d, const char *sec, const char *key);
void iniparser_unset(dictionary *ini, const char *entry);

void iniparser_dump(dictionary *d, FILE *f);
void iniparser_dump_ini(dictionary *d, FILE *f);

#endif
