// Little-endian byte layout of the DE record: the 8-byte header and the name
// block (two packed DOS dates and the data set's name list).
#ifndef VRK_ENGINE_DE_CODEC_H
#define VRK_ENGINE_DE_CODEC_H

#include <stddef.h>

#include "engine/de_types.h"

// Bytes of a stored record header.
#define DE_HEADER_SIZE 8
// Bytes of the two dates in front of the name list in a name block.
#define DE_NAME_DATES_SIZE 8
// Smallest name block: the two dates and an empty list's size field.
#define DE_NAME_BLOCK_MIN 10

// Writes the header's stored form: parent, terminal-node-name-only, record
// size (4 bytes), name block size (2 bytes).
void DEEncodeHeader(const DEdataType *header, UINT8 out[DE_HEADER_SIZE]);
void DEDecodeHeader(const UINT8 in[DE_HEADER_SIZE], DEdataType *header);

// Total bytes of a name list (its size field plus 2).
size_t DENameListSize(const void *dataSetNameList);

// Bytes of the name block of a list, or 0 when it would not fit the
// header's 16-bit name block size.
size_t DENameBlockSize(const void *dataSetNameList);

// Writes the name block (DENameBlockSize bytes) into out: the two dates,
// then the list byte for byte.
void DEEncodeNameBlock(UINT32 createDateAndTime, UINT32 modifiedDateAndTime, const void *dataSetNameList,
                       UINT8 *out);

// Checks a stored name block of blockSize bytes: at least 10 bytes, and the
// list's own size field accounts for exactly the bytes behind the dates.
// TRUE when sound; the dates are written when the pointers are set.
BOOL DECheckNameBlock(const UINT8 *block, size_t blockSize, UINT32 *createDateAndTime,
                      UINT32 *modifiedDateAndTime);

#endif
