// Plain types shared by every subsystem of the client: the 16-bit BOOL and
// the fixed-width integers that stored and printed values use.
#ifndef VRK_RUNTIME_VRK_TYPES_H
#define VRK_RUNTIME_VRK_TYPES_H

#include <stddef.h>
#include <stdint.h>

typedef int16_t BOOL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;

// The client's "long" values are 32-bit where they are stored or printed.
typedef int32_t VRK_LONG;
typedef uint32_t VRK_ULONG;

#endif
