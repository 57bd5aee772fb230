// Little-endian byte layout of the DE record: encoding and checking of the
// header and the name block, independent of the host's structure layout.
#include "engine/de_codec.h"

#include <string.h>

namespace {

void put16(UINT8 *p, UINT16 v) {
  p[0] = (UINT8)(v & 0xFF);
  p[1] = (UINT8)(v >> 8);
}

void put32(UINT8 *p, UINT32 v) {
  for (int i = 0; i < 4; ++i) p[i] = (UINT8)(v >> (8 * i));
}

UINT16 get16(const UINT8 *p) { return (UINT16)(p[0] | (p[1] << 8)); }

UINT32 get32(const UINT8 *p) {
  return (UINT32)p[0] | ((UINT32)p[1] << 8) | ((UINT32)p[2] << 16) | ((UINT32)p[3] << 24);
}

}  // namespace

void DEEncodeHeader(const DEdataType *header, UINT8 out[DE_HEADER_SIZE]) {
  out[0] = header->parent;
  out[1] = header->terminalNodeNameOnly;
  put32(out + 2, header->recordSize);
  put16(out + 6, header->dataSetNameSize);
}

void DEDecodeHeader(const UINT8 in[DE_HEADER_SIZE], DEdataType *header) {
  header->parent = in[0];
  header->terminalNodeNameOnly = in[1];
  header->recordSize = get32(in + 2);
  header->dataSetNameSize = get16(in + 6);
}

size_t DENameListSize(const void *dataSetNameList) {
  return (size_t)get16(static_cast<const UINT8 *>(dataSetNameList)) + 2;
}

size_t DENameBlockSize(const void *dataSetNameList) {
  size_t n = DENameListSize(dataSetNameList) + DE_NAME_DATES_SIZE;
  return n > 0xFFFF ? 0 : n;
}

void DEEncodeNameBlock(UINT32 createDateAndTime, UINT32 modifiedDateAndTime, const void *dataSetNameList,
                       UINT8 *out) {
  put32(out, createDateAndTime);
  put32(out + 4, modifiedDateAndTime);
  memcpy(out + DE_NAME_DATES_SIZE, dataSetNameList, DENameListSize(dataSetNameList));
}

BOOL DECheckNameBlock(const UINT8 *block, size_t blockSize, UINT32 *createDateAndTime,
                      UINT32 *modifiedDateAndTime) {
  if (blockSize < DE_NAME_BLOCK_MIN) return FALSE;
  if ((size_t)get16(block + DE_NAME_DATES_SIZE) + DE_NAME_BLOCK_MIN != blockSize) return FALSE;
  if (createDateAndTime != nullptr) *createDateAndTime = get32(block);
  if (modifiedDateAndTime != nullptr) *modifiedDateAndTime = get32(block + 4);
  return TRUE;
}
