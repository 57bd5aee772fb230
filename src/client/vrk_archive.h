// The archive stream over the data gate: reads with give-back, the saveset
// key entry "SSET", resynchronisation after a damaged header, the dump.
#ifndef VRK_CLIENT_VRK_ARCHIVE_H
#define VRK_CLIENT_VRK_ARCHIVE_H

#include <stddef.h>
#include <sys/types.h>

#include "client/vrk_make_header.h"

// Longest password text the SSET entry carries (the entry enciphers 155 bytes).
#define VRK_SSET_PASSWORD_MAX 155
// Cipher identifier of the SSET entry (Blowfish).
#define VRK_SSET_CIPHER_NID 91

// Reads up to sizeNbyte bytes of the archive: bytes given back first, then
// the data gate (data wait time). The count, 0 at the end, or -1.
ssize_t vrk_archive_read(void *cpBuf, size_t sizeNbyte);
// Reads until sizeNbyte bytes are there, the data end or an error: the count
// read (short at the end or on an error), errno set by the failing read.
size_t vrk_archive_read_full(void *cpBuf, size_t sizeNbyte);
// Gives bytes back: the next reads return them before any new data.
void vrk_archive_unread(const void *cpBuf, size_t sizeNbyte);
// Forgets bytes given back (a new archive starts).
void vrk_archive_reset(void);

// Writes the SSET entry first in an archive: the password text (-o ENCRYPT
// password, else the saveset name; at most 155 characters, longer is
// refused) enciphered with the saveset name, under an entry named "SSET" in
// the configured header format. spItemHeader receives the entry's header.
// The clear password stays as it is. 0, or -1 (HDR_RAW has no entry).
int vrk_write_sset(s_vrk_cpio_header *spItemHeader);

// Reads the SSET entry; the caller has read the 6 magic characters into
// cpHeader (VRK_HDR_BUFSIZE bytes), iHeaderLen header characters follow
// them. 0: the enciphered password (c_filesize_low bytes) is in
// cpSSETFileData (sizeSSETFileData bytes; a larger body is refused, the rest
// of the buffer is zeroed). 1: the first entry is another item; its header
// rest and name are given back, so that the next reads return them again.
// -1: a damaged or short entry (messages 2051, 2052, 1027, 1030).
int vrk_read_sset(int iHeaderLen, char *cpHeader, char *cpSSETFileData, size_t sizeSSETFileData);

// Scans forward one character at a time to the next magic that starts an
// item; 0 with its 6 characters and a zero in cpHeader (7 bytes at least),
// -1 at the end of the data.
int vrk_resync_archive(char *cpHeader);

// Hex dump of a buffer as messages 3054.
void vrk_archive_dump(char *cpBuffer, unsigned long ulBufferSize);
void vrk_print_dump(char *cpLine);

#endif
