// The data gate of the stored object: block writes and reads through the
// storage client or a local saveset descriptor, and the storage client's log hooks.
#ifndef VRK_CLIENT_VRK_IO_H
#define VRK_CLIENT_VRK_IO_H

#include <stddef.h>
#include <sys/types.h>

// Bytes of the text that describes a failed storage-client call.
#define VRK_BSA_ERRTXT_SIZE 1536

// Megabytes per hour of a progress report: dMegabytes moved between the
// stopwatch readings ulBeforeMs and ulNowMs (milliseconds), over the whole
// seconds between them; 0 when less than a second passed.
double vrk_throughput(double dMegabytes, unsigned long ulNowMs, unsigned long ulBeforeMs);

// Writes one block of the stored object; sizeNbyte, or -1 (a short count
// from the local road also means failure to the caller). A block of 0 bytes
// is never handed to the storage client. The local road gathers blocks
// smaller than 64 KiB (after the first block of a saveset) and writes them
// together, so a failure can show at a later block or at vrk_bsa_flush.
// Once SIGINT (or SIGPIPE) has set the stop flag, every write to the local
// road fails (errno EINTR), as the shut sockets fail the remote one.
ssize_t vrk_bsa_write(const void *cpBuf, size_t sizeNbyte, int iTimeout);

// Writes what the local road gathered; 0, or -1 (message 1031 logged). The
// local saveset is flushed before it is closed; the next block written is
// then the first of a new saveset.
int vrk_bsa_flush(int iTimeout);

// Reads up to sizeNbyte bytes of the stored object; the count, 0 at the end
// of the data, or -1.
ssize_t vrk_bsa_read(void *cpBuf, size_t sizeNbyte, int iTimeout);

// Writes all sizeNbyte bytes to the descriptor within iTimeout seconds:
// sizeNbyte, a short count when waiting failed, or -1 (time-out, write error).
// The descriptor's status flags are the same afterwards.
ssize_t vrk_write(int iFildes, const void *cpBuf, size_t sizeNbyte, int iTimeout);

// Reads sizeNbyte bytes from the descriptor within iTimeout seconds: the
// count (short only at the end of the file), or -1 for an error or a
// time-out (errno ETIMEDOUT). The descriptor's status flags are the same afterwards.
ssize_t vrk_read(int iFildes, void *cpBuf, size_t sizeNbyte, int iTimeout);

// Reads of the local saveset: as vrk_read, but a regular file is read in
// large blocks ahead of what is asked for. vrk_saveset_read_forget drops
// what was read ahead, once the saveset is closed.
ssize_t vrk_saveset_read(int iFildes, void *cpBuf, size_t sizeNbyte, int iTimeout);
void vrk_saveset_read_forget();

// Trace hook of the storage client: one line as message 4000.
void XBSA_trace(const char *cpMessage);

// Text of a storage-client return code; unknown codes give the text of success.
const char *XBSA_strerror(int iBSACode);

// Builds the description of a failed call into cpOut (iSize bytes): the
// code's text, a blank, and the storage client's last error text when it fits.
void vrk_bsa_errortext(int iBSACode, char *cpOut, size_t iSize);

#endif
