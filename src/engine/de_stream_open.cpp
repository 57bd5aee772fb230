// Opening and closing the DE record stream: the storage client's calling
// sequence with the object owner and name, the marker preparation, the end.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "client/vrk_genargs.h"
#include "client/vrk_global.h"
#include "client/vrk_io.h"
#include "client/vrk_timestamp.h"
#include "engine/de_stream_internal.h"
#include "engine/engine_globals.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

BSA_ObjectDescriptor sBSAObject;
BSA_ObjectOwner sBSAObjectOwner;
BSA_SecurityToken sBSASecurityToken;
BSA_QueryDescriptor sBSAQueryDescriptor;
BSA_DataBlock32 sBSADataBlock;
BSA_ApiVersion sBSAVersion;
char *cpBSAEnv[DE_BSA_ENV_ROWS];
int iBSARet = 0;
char szErrorTxt[VRK_BSA_ERRTXT_SIZE];
const unsigned int uiErrorTxtSize = VRK_BSA_ERRTXT_SIZE;
BOOL bErrRet = FALSE;
BOOL bReadBroken = FALSE;
int ungetEOFFlag = 0;

void de_error_text(int iRc) { vrk_bsa_errortext(iRc, szErrorTxt, uiErrorTxtSize); }

namespace {

void free_env() {
  for (char *&cp : cpBSAEnv) {
    free(cp);
    cp = nullptr;
  }
}

// The client's data wait also bounds how long the storage client waits for
// a silent storage node; without it a node that stops answering would hold
// the job for the library's own wait, whatever VRK_DATA_WAIT says.
void add_data_wait() {
  if (spGlobal->iDataWait <= 0) return;
  for (int i = 0; i < DE_BSA_ENV_ROWS - 1; ++i) {
    if (cpBSAEnv[i] != nullptr) continue;
    std::string entry = "BSA_TIMEOUT=" + std::to_string(spGlobal->iDataWait);
    cpBSAEnv[i] = strdup(entry.c_str());
    return;
  }
}

const char *env_entry(int i) { return cpBSAEnv[i] != nullptr ? cpBSAEnv[i] : ""; }

// Copies a text into a fixed field; an entry that does not fit is refused
// rather than sent cut to the storage node.
bool put_field(char *cpField, size_t size, const char *cpText, const char *cpWhat) {
  if (strlen(cpText) >= size) {
    vrk_log(1500, "OpenDEFiles: %s longer than %d bytes: [%s]", cpWhat, (int)size - 1, cpText);
    bErrRet = TRUE;
    return false;
  }
  strlcpy(cpField, cpText, size);
  return true;
}

// Object owner, name and security token from the environment array and the
// storage node user.
bool describe_object() {
  memset(&sBSAObjectOwner, 0, sizeof(sBSAObjectOwner));
  std::string owner = std::string(env_entry(1)) + ":" + env_entry(2);
  // The owner is cut after 64 characters; the field then has no terminator
  // and the application owner behind it starts empty.
  memcpy(sBSAObjectOwner.bsa_ObjectOwner, owner.data(),
         owner.size() < BSA_MAX_BSAOBJECTOWNER ? owner.size() : BSA_MAX_BSAOBJECTOWNER);
  sBSAObject.objectOwner = sBSAObjectOwner;
  const char *cpUser = spGlobal->sSMS.cpUser != nullptr ? spGlobal->sSMS.cpUser : "";
  return put_field(sBSAObject.objectName.objectSpaceName, sizeof(sBSAObject.objectName.objectSpaceName),
                   env_entry(4), "object space name") &&
         put_field(sBSAObject.objectName.pathName, sizeof(sBSAObject.objectName.pathName), env_entry(3),
                   "object path name") &&
         put_field(sBSASecurityToken, sizeof(sBSASecurityToken), cpUser, "security token");
}

void fill_descriptor() {
  time_t now = time(nullptr);
  localtime_r(&now, &sBSAObject.createTime);
  memset(&sBSAObject.copyId, 0, sizeof(sBSAObject.copyId));
  memset(&sBSAObject.restoreOrder, 0, sizeof(sBSAObject.restoreOrder));
  memset(&sBSAObject.estimatedSize, 0, sizeof(sBSAObject.estimatedSize));
  strlcpy(sBSAObject.resourceType, "FILE", sizeof(sBSAObject.resourceType));
  sBSAObject.objectDescription[0] = '\0';
  sBSAObject.objectInfo[0] = '\0';
}

// The storage-client road; 0 or 1.
CCODE open_xbsa(char mode) {
  memset(&sBSASecurityToken, 0, sizeof(sBSASecurityToken));
  memset(&sBSAQueryDescriptor, 0, sizeof(sBSAQueryDescriptor));
  memset(&sBSAObject, 0, sizeof(sBSAObject));
  int iLevel = spGlobal->iLogLevel > 2 ? spGlobal->iLogLevel - 2 : 0;
  BSASetTrace(XBSA_trace, nullptr, (unsigned char)iLevel);
  BSAQueryApiVersion(&sBSAVersion);

  free_env();
  if (vrk_genargs(cpBSAEnv, DE_BSA_ENV_ROWS) != 0) {
    trace("vrk_genargs() failed. going to EXIT");
    bErrRet = TRUE;
    return 1;
  }
  add_data_wait();
  if (!describe_object()) return 1;

  long lHandle = 0;
  iBSARet = BSAInit(&lHandle, &sBSASecurityToken, &sBSAObjectOwner, cpBSAEnv);
  spGlobal->lBSAHandle = (int32_t)lHandle;
  if (iBSARet != BSA_RC_SUCCESS) {
    de_error_text(iBSARet);
    vrk_log(1007, szErrorTxt);
    bErrRet = TRUE;
    return 1;
  }
  iBSARet = BSABeginTxn(lHandle);
  if (iBSARet != BSA_RC_SUCCESS) {
    de_error_text(iBSARet);
    fprintf(stderr, "OpenDEFiles: BSABeginTxn call failed ! %s\n", szErrorTxt);
    vrk_log(1007, szErrorTxt);
    bErrRet = TRUE;
    return 1;
  }

  memset(&sBSADataBlock, 0, sizeof(sBSADataBlock));
  fill_descriptor();
  CCODE result = 0;
  if (mode == 'w') {
    if (spGlobal->sLocalSaveset.iFilDes == -1) {
      vrk_log(3003, spGlobal->sSMS.cpSaveset != nullptr ? spGlobal->sSMS.cpSaveset : "");
      iBSARet = BSACreateObject(lHandle, &sBSAObject, &sBSADataBlock);
      if (iBSARet != BSA_RC_SUCCESS) {
        de_error_text(iBSARet);
        vrk_log(1009, szErrorTxt);
        size_t prefix = strlen(XBSA_strerror(iBSARet)) + 1;
        vrk_log(1500, "OpenDEFiles: BSACreateObject call failed: %s",
                strlen(szErrorTxt) > prefix ? szErrorTxt + prefix : "");
        bErrRet = TRUE;
        result = 1;
      }
    }
    if (!bErrRet) {
      trace("prepare timestamps");
      vrk_settimestamp(spGlobal->eBackupType, 1);
    }
  } else {
    vrk_log(3003, spGlobal->sLocalSaveset.szName);
    if (spGlobal->sLocalSaveset.iFilDes == -1) {
      iBSARet = BSAQueryObject(lHandle, &sBSAQueryDescriptor, &sBSAObject);
      if (iBSARet != BSA_RC_SUCCESS) {
        de_error_text(iBSARet);
        fprintf(stderr, "OpenDEFiles: BSAQueryObject call failed ! %s\n", szErrorTxt);
        bErrRet = TRUE;
        result = 1;
      }
      iBSARet = BSAGetObject(lHandle, &sBSAObject, &sBSADataBlock);
      if (iBSARet != BSA_RC_SUCCESS && iBSARet != 14) {
        de_error_text(iBSARet);
        fprintf(stderr, "OpenDEFiles: BSAGetObject call failed ! %s\n", szErrorTxt);
        bErrRet = TRUE;
        result = 1;
      }
    }
  }
  return result;
}

std::string local_name(int fileIndex, const char *cpSuffix) {
  return "De-" + std::to_string(fileIndex) + cpSuffix;
}

// The interactive road: two local files in the working directory; 0 or 1.
CCODE open_local(char mode, SESSION_INFORMATION *sessionInfo, int fileIndex) {
  const char *cpMode = mode == 'w' ? "wb" : "rb";
  std::string dat = local_name(fileIndex, ".dat");
  sessionInfo->dataFile = fopen(dat.c_str(), cpMode);
  if (sessionInfo->dataFile == nullptr) {
    fprintf(stderr, "\n\nData file open error");
    fprintf(stderr, "\n%s : %s\n", dat.c_str(), cpMode);
    bErrRet = TRUE;
    return 1;
  }
  std::string idx = local_name(fileIndex, ".idx");
  sessionInfo->indexFile = fopen(idx.c_str(), cpMode);
  if (sessionInfo->indexFile == nullptr) {
    fprintf(stderr, "\n\nIndex file open error");
    fprintf(stderr, "\n%s : %s\n", idx.c_str(), cpMode);
    fclose(sessionInfo->dataFile);
    sessionInfo->dataFile = nullptr;
    bErrRet = TRUE;
    return 1;
  }
  return 0;
}

}  // namespace

CCODE OpenDEFiles(char mode, SESSION_INFORMATION *sessionInfo, int fileIndex) {
  if (sessionInfo == nullptr) return 1;
  if (sessionInfo->dataFile != nullptr || sessionInfo->indexFile != nullptr) {
    vrk_log(2500, "OpenDEFiles will make nothing:: %x %x", de_ptr(sessionInfo->dataFile),
            de_ptr(sessionInfo->indexFile));
    return 1;
  }
  bErrRet = FALSE;
  bReadBroken = FALSE;
  ungetEOFFlag = 0;
  de_forget_read_buffer();

  CCODE result;
  if (vrk_nlm_interactive) {
    result = open_local(mode, sessionInfo, fileIndex);
  } else {
    result = open_xbsa(mode);
    sessionInfo->dataFile = DE_OPEN_MARKER;
    sessionInfo->indexFile = DE_OPEN_MARKER;
    if (result != 0) CloseDEFiles(sessionInfo);
  }
  // The stream of a backup begins with an end marker; a stream that cannot
  // take it is no open stream.
  if (result == 0 && mode == 'w' &&
      WriteDEFiles(nullptr, DE_END_OF_RECORD, 0, 0, 0, 0, sessionInfo, nullptr) != 0) {
    CloseDEFiles(sessionInfo);
    result = 1;
  }
  if (result != 0)
    vrk_log(1500, "OpenDEFiles returning :%d: %x %x", (int)result, de_ptr(sessionInfo->dataFile),
            de_ptr(sessionInfo->indexFile));
  else if (spGlobal->iLogLevel >= 3)
    vrk_log(4000, "OpenDEFiles returning :%d: %x %x", (int)result, de_ptr(sessionInfo->dataFile),
            de_ptr(sessionInfo->indexFile));
  return result;
}

int XBSA_Close(long lBSAHandle) {
  int iFailed = 0;
  vrk_log(3005);
  if (spGlobal->sLocalSaveset.iFilDes != -1) {
    trace("XBSA_Close: Close local file handle");
    if (vrk_bsa_flush(spGlobal->iDataWait) != 0) iFailed = 1;
    if (close(spGlobal->sLocalSaveset.iFilDes) != 0) {
      vrk_log(1500, "XBSA_Close: closing the local saveset failed: %s", strerror(errno));
      iFailed = 1;
    }
    spGlobal->sLocalSaveset.iFilDes = -1;
    vrk_saveset_read_forget();
  } else {
    int iRc = BSAEndData(lBSAHandle);
    if (iRc != BSA_RC_SUCCESS) {
      de_error_text(iRc);
      const char *cp520 = strstr(szErrorTxt, "520");
      if (cp520 != nullptr)
        vrk_log(1145, cp520);
      else
        vrk_log(1010, szErrorTxt);
      iFailed = 1;
    }
  }
  int iRc = BSAEndTxn(lBSAHandle, BSA_Vote_COMMIT);
  if (iRc != BSA_RC_SUCCESS) {
    de_error_text(iRc);
    fprintf(stderr, "XBSA_Close: BSAEndTxn failed: %s\n", szErrorTxt);
    iFailed = 1;
  }
  iRc = BSATerminate(lBSAHandle);
  if (iRc != BSA_RC_SUCCESS) {
    de_error_text(iRc);
    fprintf(stderr, "XBSA_Close: BSATerminate failed: %s\n", szErrorTxt);
    iFailed = 1;
  }
  return iFailed ? 0 : 1;
}

void CloseDEFiles(SESSION_INFORMATION *sessionInfo) {
  if (spGlobal->lBSAHandle != 0) {
    if (XBSA_Close((long)spGlobal->lBSAHandle) == 0) {
      bErrRet = TRUE;
      vrk_log(1500, "Error: Closing XBSA");
    }
    spGlobal->lBSAHandle = 0;
  }
  free_env();
  de_forget_read_buffer();
  if (sessionInfo == nullptr) return;
  if (spGlobal->iLogLevel >= 3)
    vrk_log(4000, "CloseDEFiles:1: %x %x", de_ptr(sessionInfo->dataFile), de_ptr(sessionInfo->indexFile));
  // The interactive road holds real files.
  if (sessionInfo->dataFile != nullptr && sessionInfo->dataFile != DE_OPEN_MARKER &&
      fclose(sessionInfo->dataFile) != 0)
    bErrRet = TRUE;
  sessionInfo->dataFile = nullptr;
  if (spGlobal->iLogLevel >= 3)
    vrk_log(4000, "CloseDEFiles:2: %x %x", de_ptr(sessionInfo->dataFile), de_ptr(sessionInfo->indexFile));
  if (sessionInfo->indexFile != nullptr && sessionInfo->indexFile != DE_OPEN_MARKER &&
      fclose(sessionInfo->indexFile) != 0)
    bErrRet = TRUE;
  sessionInfo->indexFile = nullptr;
  if (spGlobal->iLogLevel >= 3)
    vrk_log(4000, "CloseDEFiles:3: %x %x", de_ptr(sessionInfo->dataFile), de_ptr(sessionInfo->indexFile));
}
