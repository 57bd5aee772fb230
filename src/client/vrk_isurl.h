// The test whether a text is written as a URL: a scheme, then "://" at its
// first colon.
#ifndef VRK_CLIENT_VRK_ISURL_H
#define VRK_CLIENT_VRK_ISURL_H

#include "runtime/vrk_types.h"

// TRUE when the text has a ':' and its first ':' begins "://".
BOOL isURL(const char *cpText);

#endif
