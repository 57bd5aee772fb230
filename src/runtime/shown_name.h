// A name for one message line: escaped, and cut in its middle to a readable
// length with its length given when it is longer (a path of a deep tree).
#ifndef VRK_RUNTIME_SHOWN_NAME_H
#define VRK_RUNTIME_SHOWN_NAME_H

#include <stddef.h>

#include <string>

// Bytes of a name shown whole; a longer one keeps its first and last bytes.
#define VRK_SHOWN_NAME_MAX 160

// The name escaped as vrk_printable does. A name longer than
// VRK_SHOWN_NAME_MAX bytes keeps its first 96 and its last 48 bytes (never
// cutting a UTF-8 character), "..." between them, and " (N bytes)" after.
std::string vrk_shown_name(const std::string &name);

#endif
