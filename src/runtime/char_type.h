// The character type of the runtime's path and option texts (narrow chars
// on this platform).
#ifndef VRK_RUNTIME_CHAR_TYPE_H
#define VRK_RUNTIME_CHAR_TYPE_H

typedef char CHAR_TYPE;

#endif
