// The check of the finished command line: usage rules per operation, the
// default level, the restore flags and the deciphering of the SMS password.
#ifndef VRK_CLIENT_VRK_CHECKARGS_H
#define VRK_CLIENT_VRK_CHECKARGS_H

// Reads and completes the global state; 0, or -1 after its messages.
int vrk_checkargs(void);

#endif
