// Standard input, output and error that the job was started without: opened
// onto /dev/null at once, so that no file the job opens later takes their place.
#ifndef VRK_RUNTIME_X_STD_FDS_H
#define VRK_RUNTIME_X_STD_FDS_H

// Opens /dev/null onto each of the descriptors 0, 1 and 2 that is closed and
// remembers which were; called first thing in main, before any file is opened.
// False when one of them could not be opened (the job must not go on).
bool x_std_fds_guard(void);

// True when descriptor iFd (0, 1 or 2) was closed when x_std_fds_guard ran.
bool x_std_fd_was_closed(int iFd);

#endif
