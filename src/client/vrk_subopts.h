// The -o sub-options: a comma-separated list of keywords that set the flags
// of sOptions and a few other fields of the global client state.
#ifndef VRK_CLIENT_VRK_SUBOPTS_H
#define VRK_CLIENT_VRK_SUBOPTS_H

// Longest ENCRYPT= value taken whole (a longer one is cut to one character
// less), and longest PATH= value (a longer one is refused).
#define VRK_SUBOPT_ENCRYPT_MAX 156
#define VRK_SUBOPT_PATH_MAX 4095
// Longest relocation delimiter.
#define VRK_RELOC_DELIM_MAX 6

// Handles one -o argument completely (any number of keywords); 0 when every
// keyword was taken, -1 when the option fails (its messages are logged).
int vrk_parse_subopts(const char *cpArg);

#endif
