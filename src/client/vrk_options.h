// The command-line parser: the operation from the first option, every
// option's effect, the job log and start-up messages and the DATA argument.
#ifndef VRK_CLIENT_VRK_OPTIONS_H
#define VRK_CLIENT_VRK_OPTIONS_H

// The option letters as getopt reads them.
#define VRK_OPTSTRING "brpgkDhB:l:c:S:s:f:t:d:T:i:I:m:N:n:F:v:X:x:L:R:C:j:O:o:a:V:"

// The masked copy of the -N argument that replaces it in argv.
extern char gszNetwareArg[512];

// Turns the command line into the global client state: 0 = go on, -1 = stop.
// -h ends the process (exit status 0 as the first option, 1 later).
int vrk_analyze_opt(int argc, char **argv);

#endif
