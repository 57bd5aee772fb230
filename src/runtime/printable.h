// Text made safe for one log line: control characters written as "\xNN",
// the escaping of every message of the log and of the stand-in's notes.
#ifndef VRK_RUNTIME_PRINTABLE_H
#define VRK_RUNTIME_PRINTABLE_H

#include <stddef.h>

#include <string>

// The text with its control characters (below 0x20 but a tab, and DEL)
// shown as "\xNN"; line breaks stay with keepBreaks. A name from a stored
// object or a tree may hold a line break or a terminal escape, and every
// message stays one readable line. Cut at size - 1 bytes, never inside an
// escape; out always ends with a NUL (size > 0).
void vrk_printable(const char *in, char *out, size_t size, bool keepBreaks);
// The same for n bytes of in (a NUL among them escaped as any control), put at
// out[*pLen] on with the same bound of size - 1 bytes; *pLen moves on. False
// where the bound cut in, so that a text built of pieces is cut where the
// whole would be. Puts no NUL.
bool vrk_printable_append(const char *in, size_t n, char *out, size_t *pLen, size_t size, bool keepBreaks);
// The same, whole, without a bound and without kept line breaks.
std::string vrk_printable(const std::string &in);

#endif
