// The DE record writer: end markers and records (header, name block, data)
// through the data gate, or into the interactive index and data files.
#include <stdio.h>
#include <stdlib.h>

#include <new>
#include <vector>

#include "client/vrk_global.h"
#include "engine/de_codec.h"
#include "engine/de_stream_internal.h"
#include "runtime/vrk_log.h"

namespace {

// A write that did not take all its bytes fails the item and the record.
void write_failed(CCODE *result) {
  if (spGlobal->iLogLevel > 0) vrk_log(3109, spGlobal->sVRKObject.szItem);
  spGlobal->bItemFinishedOK = FALSE;
  bErrRet = TRUE;
  *result = 1;
}

void gate_write(const void *cpBuf, size_t size, CCODE *result) {
  ssize_t n = vrk_bsa_write(cpBuf, size, spGlobal->iDataWait);
  if (n < 0 || (size_t)n != size) write_failed(result);
}

void file_write(FILE *fp, const void *cpBuf, size_t size, const char *cpError, CCODE *result) {
  if (size > 0 && fwrite(cpBuf, 1, size, fp) != size) {
    fputs(cpError, stderr);
    write_failed(result);
  }
}

}  // namespace

CCODE WriteDEFiles(BUFFER *buffer, UINT32 size, UINT8 parent, UINT32 createDateAndTime,
                   UINT32 modifiedDateAndTime, UINT8 terminal, SESSION_INFORMATION *sessionInfo,
                   NWSM_DATA_SET_NAME_LIST *dataSetNameList) {
  if (sessionInfo == nullptr || sessionInfo->indexFile == nullptr || sessionInfo->dataFile == nullptr) {
    vrk_log(1500, "WriteDEFiles: sessionInfo: %x %x", sessionInfo ? de_ptr(sessionInfo->indexFile) : 0u,
            sessionInfo ? de_ptr(sessionInfo->dataFile) : 0u);
    bErrRet = TRUE;
    return 1;
  }
  const bool bLocal = sessionInfo->indexFile != DE_OPEN_MARKER;
  CCODE result = 0;
  UINT8 header[DE_HEADER_SIZE];

  if (size == DE_END_OF_RECORD) {
    sessionInfo->DEdata.parent = 0;
    sessionInfo->DEdata.terminalNodeNameOnly = 0;
    sessionInfo->DEdata.recordSize = DE_END_OF_RECORD;
    sessionInfo->DEdata.dataSetNameSize = 0;
    DEEncodeHeader(&sessionInfo->DEdata, header);
    if (spGlobal->iLogLevel >= 4) vrk_log(4000, "WriteDEFiles: Sending index file END_OF_RECORD_MARKER...");
    if (bLocal)
      file_write(sessionInfo->indexFile, header, sizeof(header),
                 "\n\nWriteDEFiles error writing index file (END_OF_RECORD_MARKER)", &result);
    else
      gate_write(header, sizeof(header), &result);
    if (result != 0) vrk_log(1500, "WriteDEFiles: returning %d", (int)result);
    return result;
  }

  // A record needs its name list and, unless it is empty, its data.
  size_t nameBlockSize = dataSetNameList != nullptr ? DENameBlockSize(dataSetNameList) : 0;
  if (dataSetNameList == nullptr || nameBlockSize == 0 || (buffer == nullptr && size > 0)) {
    vrk_log(1500, "WriteDEFiles: no data-set name list, a name list larger than a record takes, or no data");
    write_failed(&result);
    vrk_log(1500, "WriteDEFiles: returning %d", (int)result);
    return result;
  }

  sessionInfo->DEdata.parent = parent;
  sessionInfo->DEdata.terminalNodeNameOnly = terminal;
  sessionInfo->DEdata.recordSize = size;
  sessionInfo->DEdata.dataSetNameSize = (UINT16)nameBlockSize;
  DEEncodeHeader(&sessionInfo->DEdata, header);

  if (bLocal) {
    // The index file holds the header and the list without the dates.
    file_write(sessionInfo->indexFile, header, sizeof(header), "\n\nWriteDEFiles error writing index file",
               &result);
    file_write(sessionInfo->indexFile, dataSetNameList, DENameListSize(dataSetNameList),
               "\n\nWriteDEFiles error writing index file", &result);
    file_write(sessionInfo->dataFile, buffer, size, "\n\nWriteDEFiles error writing data file", &result);
  } else {
    if (spGlobal->iLogLevel >= 3) vrk_log(4000, "WriteDEFiles: Sending index file DEdataType ...");
    gate_write(header, sizeof(header), &result);

    // One name block's room (at most 64 KiB) serves every record of the run.
    static std::vector<UINT8> nameBlock;
    if (nameBlock.size() < nameBlockSize) {
      try {
        nameBlock.resize(nameBlockSize);
      } catch (const std::bad_alloc &) {
        vrk_log(1094);
        bErrRet = TRUE;
        vrk_log(1500, "WriteDEFiles: returning %d", 1);
        return 1;
      }
    }
    DEEncodeNameBlock(createDateAndTime, modifiedDateAndTime, dataSetNameList, nameBlock.data());
    if (spGlobal->iLogLevel >= 3) vrk_log(4000, "WriteDEFiles: Sending index file dataSetNameList...");
    gate_write(nameBlock.data(), nameBlockSize, &result);

    if (spGlobal->iLogLevel >= 3) vrk_log(4000, "WriteDEFiles: Sending data block ...");
    gate_write(buffer, size, &result);
  }
  if (result != 0) vrk_log(1500, "WriteDEFiles: returning %d", (int)result);
  return result;
}
