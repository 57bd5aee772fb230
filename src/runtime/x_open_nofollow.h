// Opening a file the client creates by name in its own directories: a
// symbolic link or a special file planted at that name is never opened.
#ifndef VRK_RUNTIME_X_OPEN_NOFOLLOW_H
#define VRK_RUNTIME_X_OPEN_NOFOLLOW_H

#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

// open(2) with O_NOFOLLOW and O_CLOEXEC added; only a regular file is
// accepted (anything else fails with EINVAL, a link with ELOOP, a file with
// a second hard link opened for writing with EMLINK, a file kept by
// x_open_nofollow_keep opened for writing with EBUSY, a file of another
// user than the caller and root opened for writing with EPERM; a file of the
// caller's own opened for writing loses the permission bits that `mode`
// does not give). O_TRUNC is
// applied only once the file is known to be a regular one, so nothing else
// is ever cut. -1 with errno on failure.
int x_open_nofollow(const char *cpPath, int iFlags, mode_t mode);

// Keeps the regular file `st` describes (the job's saveset, read or being
// written) from ever being opened for writing by x_open_nofollow: a job log
// or a trace file named like it must not cut or extend it.
void x_open_nofollow_keep(const struct stat *st);

// Forgets the files kept so far (a saveset given again replaces the first).
void x_open_nofollow_forget(void);

// fopen(3) over x_open_nofollow for the modes "r", "r+", "w", "w+", "a" and
// "a+" (a trailing 'b' or 'e' is accepted); new files get `mode`.
FILE *x_fopen_nofollow(const char *cpPath, const char *cpMode, mode_t mode);

#endif
