// Writing the collected listing lines of a list to a stream, each line
// unchanged with its own newline.
#include "engine/listing_lines.h"

void WriteListLines(t_LL list, FILE *out) {
  if (list == nullptr) return;
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el))
    fputs(static_cast<const char *>(el), out);
}
