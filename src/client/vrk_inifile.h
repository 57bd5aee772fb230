// The main ini file: flat key and value lines naming the client's
// directories, time-outs and product data, chained through "KV_INI".
#ifndef VRK_CLIENT_VRK_INIFILE_H
#define VRK_CLIENT_VRK_INIFILE_H

// Longest ini line (without its line end) that is taken; longer ones are refused.
#define VRK_INI_LINE_MAX 511
// Deepest chain of ini files through "KV_INI" (the main file counts as 1).
#define VRK_INI_DEPTH_MAX 16

// Reads one ini file into the global state; a "KV_INI" line reads the file
// it names at once, before the next line. A missing file gives message 3037.
void vrk_parse_inifile(const char *cpPath);

// Splits one line in place at ' ', '=' and the line end; *cpKey and *cpValue
// point into the line. 0 when both were found, -1 otherwise.
int vrk_get_values(char *cpLine, char **cpKey, char **cpValue);

#endif
