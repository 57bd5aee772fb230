// Text of the storage node made safe for a terminal and the job log: every
// control character, and every byte that is no valid UTF-8, written as \xHH.
#ifndef VRK_XBSA_XBSA_ESCAPE_H
#define VRK_XBSA_XBSA_ESCAPE_H

#include <stddef.h>

#include <string>

// The text with C0 controls, DEL, C1 controls (U+0080 to U+009F) and bytes
// outside valid UTF-8 escaped as "\x1b" and so on; a backslash stays as it
// is, so escaping twice changes nothing.
std::string xbsa_escape_text(const char *cpText, size_t uiLen);
std::string xbsa_escape_text(const char *cpText);

#endif
