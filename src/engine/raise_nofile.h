// The process's open-file limit: raised at start so that deep trees and
// many open data sets do not run out of descriptors.
#ifndef VRK_ENGINE_RAISE_NOFILE_H
#define VRK_ENGINE_RAISE_NOFILE_H

// Raises the soft RLIMIT_NOFILE to the hard limit; nothing when it cannot.
void RaiseOpenFileLimit(void);

#endif
