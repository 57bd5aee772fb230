// The DE record reader: the next record of the stored object with its name
// list, the one pushed-back end marker, and the refusal of malformed objects.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "client/vrk_global.h"
#include "engine/de_codec.h"
#include "engine/de_stream_internal.h"
#include "runtime/vrk_log.h"

namespace {

// The data buffer the reader grew, and its size; any other buffer has the
// session's lBufferSize bytes.
BUFFER *gpGrownBuffer = nullptr;
size_t gGrownSize = 0;

size_t buffer_size(const SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo->dataBuffer != nullptr && sessionInfo->dataBuffer == gpGrownBuffer) return gGrownSize;
  return spGlobal->lBufferSize > 0 ? (size_t)spGlobal->lBufferSize : 0;
}

// Makes room for a record of recordSize bytes: a record written with a larger
// buffer than this run's grows it, up to the cap. FALSE when it cannot.
bool room_for(SESSION_INFORMATION *sessionInfo, size_t recordSize) {
  if (recordSize == 0) return true;
  if (recordSize <= buffer_size(sessionInfo) && sessionInfo->dataBuffer != nullptr) return true;
  if (recordSize > DE_READ_BUFFER_CAP) return false;
  BUFFER *grown = static_cast<BUFFER *>(realloc(sessionInfo->dataBuffer, recordSize));
  if (grown == nullptr) return false;
  sessionInfo->dataBuffer = grown;
  gpGrownBuffer = grown;
  gGrownSize = recordSize;
  return true;
}

// A malformed object: an error line (which raises the run status), NULL.
BUFFER *refuse(const char *cpFormat, unsigned long ulHave, unsigned long ulWant) {
  vrk_log(1500, cpFormat, ulHave, ulWant);
  bErrRet = TRUE;
  bReadBroken = TRUE;
  return nullptr;
}

}  // namespace

void de_forget_read_buffer(void) {
  gpGrownBuffer = nullptr;
  gGrownSize = 0;
}

void UngetEOF(void) { ungetEOFFlag = 1; }

BUFFER *ReadDEFiles(UINT32 *size, UINT8 *parentFlag, UINT8 *tnoFlag, SESSION_INFORMATION *sessionInfo,
                    NWSM_DATA_SET_NAME_LIST **resourceName) {
  if (size != nullptr) *size = 0;
  if (resourceName != nullptr) *resourceName = nullptr;
  if (sessionInfo == nullptr) return nullptr;
  if (ungetEOFFlag) {
    ungetEOFFlag = 0;
    sessionInfo->DEdata.recordSize = DE_END_OF_RECORD;
    if (size != nullptr) *size = DE_END_OF_RECORD;
    return sessionInfo->dataBuffer;
  }

  UINT8 header[DE_HEADER_SIZE];
  ssize_t n = vrk_bsa_read(header, sizeof(header), spGlobal->iDataWait);
  if (n < 0) {
    vrk_log(1500, "ReadDEFiles: vrk_bsa_read() DEdataType call failed (indexFile)!");
    bErrRet = TRUE;
    bReadBroken = TRUE;
    return nullptr;
  }
  if (n == 0) {
    // The end of the data at a record boundary ends the stream.
    vrk_log(3500, "ReadDEFiles: vrk_bsa_read() read %d Bytes", 0);
    bErrRet = TRUE;
    return nullptr;
  }
  if ((size_t)n < sizeof(header))
    return refuse("ReadDEFiles: vrk_bsa_read() DEdataType call failed (indexFile) short read %lu < %lu!", n,
                  (unsigned long)sizeof(header));
  DEDecodeHeader(header, &sessionInfo->DEdata);
  const DEdataType &de = sessionInfo->DEdata;
  if (spGlobal->iLogLevel >= 4)
    vrk_log(4000, "ReadDEFiles: sessionInfo->DEdata.recordSize %lu, sessionInfo->DEdata.dataSetNameSize %lu",
            (unsigned long)de.recordSize, (unsigned long)de.dataSetNameSize);

  if (de.recordSize == DE_END_OF_RECORD) {
    if (size != nullptr) *size = DE_END_OF_RECORD;
    if (parentFlag != nullptr) *parentFlag = de.parent;
    if (tnoFlag != nullptr) *tnoFlag = de.terminalNodeNameOnly;
    return sessionInfo->dataBuffer;
  }

  // Checked before anything more is read.
  if (de.dataSetNameSize < DE_NAME_BLOCK_MIN)
    return refuse("ReadDEFiles: data-set name size %lu below %lu: the stored object is damaged",
                  de.dataSetNameSize, DE_NAME_BLOCK_MIN);
  if (!room_for(sessionInfo, de.recordSize))
    return refuse("ReadDEFiles: record size %lu exceeds the largest buffer of %lu bytes: the stored object is "
                  "damaged",
                  (unsigned long)de.recordSize,
                  (unsigned long)(buffer_size(sessionInfo) > DE_READ_BUFFER_CAP ? buffer_size(sessionInfo)
                                                                                : DE_READ_BUFFER_CAP));

  size_t blockSize = de.dataSetNameSize;
  UINT8 *resourceName_T = static_cast<UINT8 *>(malloc(blockSize));
  if (resourceName_T == nullptr) {
    vrk_log(1500, "ReadDEFiles: malloc resourceName_T (%lu) failed with errno %d", (unsigned long)blockSize, errno);
    vrk_log(1094);
    exit(1);
  }
  n = vrk_bsa_read(resourceName_T, blockSize, spGlobal->iDataWait);
  if (n < 0 || (size_t)n < blockSize) {
    free(resourceName_T);
    if (n < 0) return refuse("ReadDEFiles: vrk_bsa_read call failed (indexFile resourceName)!", 0, 0);
    return refuse("ReadDEFiles: vrk_bsa_read call failed (indexFile resourceName) short read %lu < %lu!", n,
                  (unsigned long)blockSize);
  }
  if (!DECheckNameBlock(resourceName_T, blockSize, nullptr, nullptr)) {
    unsigned long lListSize = (unsigned long)(resourceName_T[8] | (resourceName_T[9] << 8));
    free(resourceName_T);
    return refuse("ReadDEFiles: name list size %lu does not match the name block of %lu bytes: the stored object "
                  "is damaged",
                  lListSize, (unsigned long)blockSize);
  }

  if (de.recordSize == 0) {
    vrk_log(3500, "ReadDEFiles: recordSize == 0 do not read buffer");
  } else {
    n = vrk_bsa_read(sessionInfo->dataBuffer, de.recordSize, spGlobal->iDataWait);
    if (n < 0 || (size_t)n < de.recordSize) {
      free(resourceName_T);
      if (n < 0) return refuse("ReadDEFiles: vrk_bsa_read call failed (indexFile)!", 0, 0);
      return refuse("ReadDEFiles: vrk_bsa_read call failed (indexFile) short read %lu < %lu!", n,
                    (unsigned long)de.recordSize);
    }
    if (spGlobal->iLogLevel >= 4)
      vrk_log(4000, "ReadDEFiles: got sessionInfo->DEdata.recordSize %lu", (unsigned long)de.recordSize);
  }

  if (resourceName != nullptr) {
    size_t listSize = blockSize - DE_NAME_DATES_SIZE;
    *resourceName = static_cast<NWSM_DATA_SET_NAME_LIST *>(malloc(listSize));
    if (*resourceName == nullptr) {
      vrk_log(1500, "ReadDEFiles: malloc *resourceName (%lu) failed with errno %d", (unsigned long)listSize, errno);
      vrk_log(1094);
      exit(1);
    }
    memcpy(*resourceName, resourceName_T + DE_NAME_DATES_SIZE, listSize);
  }
  if (size != nullptr) *size = de.recordSize;
  if (parentFlag != nullptr) *parentFlag = de.parent;
  if (tnoFlag != nullptr) *tnoFlag = de.terminalNodeNameOnly;
  free(resourceName_T);
  return sessionInfo->dataBuffer;
}
