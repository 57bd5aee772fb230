// Writes of the local saveset: blocks smaller than 64 KiB gathered into
// writes of 64 KiB or more, larger blocks written as they are, without a copy.
#ifndef VRK_CLIENT_VRK_SAVESET_GATHER_H
#define VRK_CLIENT_VRK_SAVESET_GATHER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

// Takes one block for the saveset descriptor: sizeNbyte, or -1 with errno
// set. The first block of a saveset is written at once, so that a saveset
// that takes no bytes fails its first write; a failure of gathered bytes
// shows at a later block or at vrk_saveset_flush. When pAdler is given, the
// whole block is folded into that Adler-32 whatever the outcome, in the same
// pass as the copy of a gathered block.
ssize_t vrk_saveset_write(int iFildes, const void *cpBuf, size_t sizeNbyte, int iTimeout,
                          uint32_t *pAdler = nullptr);

// Writes what waits; 0, or -1 with errno set. The next block is then the
// first of a new saveset.
int vrk_saveset_flush(int iTimeout);

#endif
