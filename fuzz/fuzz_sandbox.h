// Isolation of a fuzz target from the machine's files: a private mount
// namespace with every file system read-only but the start directory and /tmp.
#ifndef VRK_FUZZ_FUZZ_SANDBOX_H
#define VRK_FUZZ_FUZZ_SANDBOX_H

#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>

// Puts the process into its own mount namespace: every file system becomes
// read-only, /tmp a fresh private tmpfs, and the directory the target was
// started in (corpus, artifacts) stays writable. Returns a new empty
// directory under /tmp for the target's files. Aborts when the isolation
// cannot be set up, so that no input ever reaches the real file system.
// Later calls return the same directory.
const std::string &vrk_fuzz_sandbox();

// Writes the bytes to the file (created or truncated); aborts on failure.
void vrk_fuzz_write_file(const std::string &path, const uint8_t *data, size_t size);

// The names in a directory, without "." and ".."; aborts when it cannot be read.
std::set<std::string> vrk_fuzz_names_in(const std::string &dir);

#endif
