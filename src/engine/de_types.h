// The DE record header as the engine holds it in memory; the stored form is
// an explicit 8-byte little-endian layout written by the DE record stream.
#ifndef VRK_ENGINE_DE_TYPES_H
#define VRK_ENGINE_DE_TYPES_H

#include "runtime/vrk_types.h"

// A record size of this value marks the end of a data set.
#define DE_END_OF_RECORD 0xFFFFFFFFu

typedef struct DEDataType {
  UINT8 parent;                // 1 for a parent (directory-like) data set
  UINT8 terminalNodeNameOnly;  // returnChildTerminalNodeNameOnly of the scan
  UINT32 recordSize;           // data bytes after the name block
  UINT16 dataSetNameSize;      // bytes of the name block
} DEdataType;

#endif
