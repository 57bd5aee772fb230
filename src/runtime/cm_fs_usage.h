// Space queries of the host layer: used share of a file system, and the size
// of a directory tree through the system's "du".
#ifndef VRK_RUNTIME_CM_FS_USAGE_H
#define VRK_RUNTIME_CM_FS_USAGE_H

#include <stddef.h>

// Used share of the file system that holds cpPath in whole percent, with its
// free and used bytes; -1 for a file system of fewer than 100 bytes, -errno
// when it cannot be examined.
int i_GetDiskUsage(char *cpPath, long long *llFreeBytes, long long *llUsedBytes);
// Kilobytes used by the tree at cpPath ("du -s"); 0 with "%lld (size)" in
// cpMsg, or 2 with the reason in cpMsg.
int i_GetDirectoryUsage(char *cpPath, long long *pllUsedKBytes, char *cpMsg, size_t iMsgLength);

#endif
