// Writing the collected listing lines (each with its own newline) to a
// stream such as standard output.
#ifndef VRK_ENGINE_LISTING_LINES_H
#define VRK_ENGINE_LISTING_LINES_H

#include <stdio.h>

#include "runtime/LL.h"

// Writes every line of the list unchanged; a NULL list writes nothing.
void WriteListLines(t_LL list, FILE *out);

#endif
