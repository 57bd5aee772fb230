// The directory part of a path, as the directory that holds the item the
// path names.
#ifndef VRK_RUNTIME_PATH_DIR_H
#define VRK_RUNTIME_PATH_DIR_H

#include <string>

// All before the last '/': "/" for an item of the root, "." for a bare name.
std::string dir_of(const std::string &path);

#endif
