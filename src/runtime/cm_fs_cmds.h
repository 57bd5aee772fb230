// File changes through the system's programs: mode (chmod), modification
// time (touch -t) and a POSIX-ordered sort of a file into another.
#ifndef VRK_RUNTIME_CM_FS_CMDS_H
#define VRK_RUNTIME_CM_FS_CMDS_H

// Each returns what system() returns for the command: the program's wait
// status (0 for success; WIFEXITED and WEXITSTATUS read it), 127 times 256
// when it could not be executed, or -1 when it could not be started.
int cm_chmod(char *szMode, char *szFile);
// cpTimeStamp is YYYYMMDDhhmm or YYYYMMDDhhmmss.
int cm_chtime(char *cpTimeStamp, char *cpFile);
// Sorts inFile into outFile in POSIX order with the umask 0022; sort's
// temporary files go to the named value "gv_rw_tmp" when it is defined.
int sort_file(char *inFile, char *outFile);

#endif
