// Reading a configuration file whole, bounded in size and, for a pipe, FIFO
// or device, bounded in time by the data wait.
#ifndef VRK_RUNTIME_BOUNDED_READ_H
#define VRK_RUNTIME_BOUNDED_READ_H

#include <stddef.h>
#include <stdio.h>

#include <string>

// The largest configuration file read: 4 MiB.
#define VRK_CONFIG_FILE_MAX (4u * 1024u * 1024u)

// Seconds a pipe, FIFO or device may take to deliver a whole file (the data
// wait; 900 until the client sets it).
void vrk_set_read_wait(int iSeconds);
int vrk_read_wait(void);

// Reads from fd, from where it stands to its end, into out. A regular file is
// read at once; anything else must deliver within the read wait, but a FIFO
// with nothing in it and nobody at its writing end is refused at once. false
// with the reason in why (more than uiMax bytes, no end in time, a FIFO with
// no writer, a read error) and errno set (EFBIG, ETIMEDOUT, ENXIO, or that of
// the failed call).
bool vrk_read_fd_bounded(int fd, std::string &out, std::string &why,
                         size_t uiMax = VRK_CONFIG_FILE_MAX);

// Opens cpPath without waiting for a FIFO's writer and reads it whole as
// above; a failed open keeps its errno.
bool vrk_read_file_bounded(const char *cpPath, std::string &out, std::string &why,
                           size_t uiMax = VRK_CONFIG_FILE_MAX);

// The whole file read as above, as a stream for reading (a copy in memory):
// NULL with the reason in why. The caller closes it with fclose.
FILE *vrk_fopen_bounded(const char *cpPath, std::string &why, size_t uiMax = VRK_CONFIG_FILE_MAX);

#endif
