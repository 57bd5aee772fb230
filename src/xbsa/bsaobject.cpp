// Opening an object: BSACreateObject (write), BSAGetObject (read) and
// BSAQueryObject, with their sequence checks and the owner-text login.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "runtime/strlib.h"
#include "xbsa/xbsa_com.h"
#include "xbsa/xbsa_session.h"
#include "xbsa/xbsa_trace.h"

namespace {

// szSrcSpec of the command interface: "<space>@<path>".
void make_src_spec(const BSA_ObjectName &name, bool bSlashes) {
  char *cpSpec = sGlobal.sCOM.szSrcSpec;
  snprintf(cpSpec, sizeof sGlobal.sCOM.szSrcSpec, "%.*s@%.*s",
           (int)strnlen(name.objectSpaceName, sizeof name.objectSpaceName), name.objectSpaceName,
           (int)strnlen(name.pathName, sizeof name.pathName), name.pathName);
  if (bSlashes) {
    for (char *p = cpSpec; *p; ++p) {
      if (*p == '\\') *p = '/';
    }
  }
}

// Owner type 0: login, object name and path from the owner text and the
// descriptor.
int take_own_object(const char *cpCaller, const BSA_ObjectDescriptor &desc) {
  xbsatrace("Tracing input variables...");
  const BSA_ObjectOwner &owner = sGlobal.sObject.sBSA_ObjectOwner;
  if (xbsa_split_owner(owner.bsa_ObjectOwner, sizeof owner.bsa_ObjectOwner, cpCaller) != 0) return -1;
  _sSMS &sms = sGlobal.sObject.sSMS;
  xbsatrace("%s: User: %s", cpCaller, sms.szUser);
  xbsatrace("%s: Password: ********", cpCaller);
  size_t uiNameLen = strnlen(desc.objectName.objectSpaceName, sizeof desc.objectName.objectSpaceName);
  size_t uiPathLen = strnlen(desc.objectName.pathName, sizeof desc.objectName.pathName);
  if (uiNameLen >= sizeof sms.szName || uiNameLen >= sizeof desc.objectName.objectSpaceName ||
      uiPathLen >= sizeof desc.objectName.pathName) {
    SysErrorTxt(0, 0, "%s: object name or path is not terminated.", cpCaller);
    xbsalog("%s: object name or path is not terminated.", cpCaller);
    return -1;
  }
  strlcpy(sms.szName, desc.objectName.objectSpaceName, sizeof sms.szName);
  xbsatrace("%s: Object name: %s", cpCaller, sms.szName);
  strlcpy(sms.szPath, desc.objectName.pathName, sizeof sms.szPath);
  xbsatrace("%s: Object path: %s", cpCaller, sms.szPath);
  return 0;
}

}  // namespace

extern "C" int BSACreateObject(long bsaHandle, BSA_ObjectDescriptor *objectDescriptorPtr,
                               BSA_DataBlock32 *dataBlockPtr) {
  (void)dataBlockPtr;
  xbsalogtrace("BSACreateObject: Start");
  int iRc = BSA_RC_SUCCESS;
  _sSession *sp = xbsa_find_slot(bsaHandle);
  _sSMS &sms = sGlobal.sObject.sSMS;
  if (!sp) {
    xbsatrace("BSACreateObject: Invalid Handle. Exiting.");
    iRc = BSA_RC_INVALID_HANDLE;
  } else if (sp->iLastCall & XBSA_CALL_CREATEOBJECT) {
    xbsatrace("BSACreateObject: Invalid calling sequence. Exiting.");
    iRc = BSA_RC_INVALID_CALL_SEQUENCE;
  } else {
    sp->iLastCall |= XBSA_CALL_CREATEOBJECT;
    if (!objectDescriptorPtr) {
      xbsatrace("BSACreateObject: objectDescriptorPtr is NULL");
      iRc = BSA_RC_NULL_ARGUMENT;
    } else {
      if (objectDescriptorPtr->objectName.objectSpaceName[0] == '\0') {
        xbsatrace("BSACreateObject: ObjectName.objectSpaceName is empty");
        iRc = BSA_RC_NULL_ARGUMENT;
      }
      if (objectDescriptorPtr->copyType == BSA_CopyType_ANY) {
        xbsatrace("BSACreateObject: copyType == BSA_CopyType_ANY");
        iRc = BSA_RC_NULL_ARGUMENT;
      }
    }
  }
  if (iRc == BSA_RC_SUCCESS) {
    xbsatrace("BSACreateObject: Leaving the dataBlockPtr as is.");
    xbsatrace("BSACreateObject: Copy the input parameter (object) into sGlobal data structure.");
    sGlobal.sObject.sBSA_Object = *objectDescriptorPtr;
    BSA_ObjectDescriptor &obj = sGlobal.sObject.sBSA_Object;
    if (sGlobal.iComSession != 0) {
      snprintf(sGlobal.sCOM.szSavesetID, sizeof sGlobal.sCOM.szSavesetID, "%d%d", (int)time(NULL),
               (int)getpid());
      xbsalog("BSACreateObject: Saveset ID: [%s]", sGlobal.sCOM.szSavesetID);
      make_src_spec(obj.objectName, true);
      xbsalog("BSACreateObject: SourceSpec: [%s]", sGlobal.sCOM.szSrcSpec);
      xbsatrace("BSACreateObject: Calling com_intf(COM_OPEN_WRITE).");
      if (com_intf(COM_OPEN_WRITE, &sGlobal.sCOM) != 1) {
        xbsatrace("BSACreateObject: sib_com() call failed. Exiting.");
        iRc = BSA_RC_ABORT_SYSTEM_ERROR;
      }
    } else if (take_own_object("BSACreateObject", obj) != 0) {
      iRc = BSA_RC_ACCESS_FAILURE;
    }
    if (iRc == BSA_RC_SUCCESS) {
      xbsatrace("BSACreateObject: Calling xbsa_open()");
      if (xbsa_open(bsaHandle, 1) == -1) {
        xbsatrace("BSACreateObject: xbsa_open() call failed. Exiting.");
        iRc = BSA_RC_ACCESS_FAILURE;
      }
    }
    if (iRc == BSA_RC_SUCCESS) {
      obj.copyId.right = (BSA_UInt32)atol(sms.szName);
      time_t t = time(NULL);
      gmtime_r(&t, &obj.createTime);
      obj.objectStatus = BSA_ObjectStatus_ANY;
      snprintf(obj.objectInfo, sizeof obj.objectInfo, "SEGMENT=%lu", sms.ulSegmentNum);
      *objectDescriptorPtr = obj;
      if (sGlobal.iComSession != 0) {
        unsigned long long ullId = strtoull(sGlobal.sCOM.szSavesetID, NULL, 10);
        objectDescriptorPtr->copyId.left = (BSA_UInt32)(ullId >> 32);
        objectDescriptorPtr->copyId.right = (BSA_UInt32)(ullId & 0xFFFFFFFFu);
        xbsalog("BSACreateObject(): Saveset ID %lld => COPYID: [%lu:%lu]", (long long)ullId,
                (unsigned long)objectDescriptorPtr->copyId.left,
                (unsigned long)objectDescriptorPtr->copyId.right);
      }
    }
  }
  if (iRc != BSA_RC_SUCCESS) sms.iOpStatus = 3;
  xbsatrace("BSACreateObject: Return: %d - %s", iRc, xbsa_typeerr(iRc));
  return iRc;
}

extern "C" int BSAGetObject(long bsaHandle, BSA_ObjectDescriptor *objectDescriptorPtr,
                            BSA_DataBlock32 *dataBlockPtr) {
  (void)dataBlockPtr;
  xbsalogtrace("BSAGetObject: Start");
  if (objectDescriptorPtr) {
    xbsalogtrace("BSAGetObject: objectName.pathName [%.*s], objectName.objectSpaceName [%.*s]",
                 (int)strnlen(objectDescriptorPtr->objectName.pathName, BSA_MAX_PATHNAME),
                 objectDescriptorPtr->objectName.pathName,
                 (int)strnlen(objectDescriptorPtr->objectName.objectSpaceName, BSA_MAX_OSNAME),
                 objectDescriptorPtr->objectName.objectSpaceName);
  }
  int iRc = BSA_RC_SUCCESS;
  _sSession *sp = xbsa_find_slot(bsaHandle);
  _sSMS &sms = sGlobal.sObject.sSMS;
  if (!sp) {
    xbsalog("BSAGetObject: Invalid Handle. Exiting.");
    iRc = BSA_RC_INVALID_HANDLE;
  } else if (sp->iLastCall & XBSA_CALL_GETOBJECT) {
    xbsalog("BSAGetObject: Invalid calling sequence. Exiting.");
    iRc = BSA_RC_INVALID_CALL_SEQUENCE;
  } else {
    sp->iLastCall |= XBSA_CALL_GETOBJECT;
    if (!objectDescriptorPtr) {
      xbsalog("BSAGetObject: objectDescriptorPtr is NULL. Exiting.");
      iRc = BSA_RC_NULL_ARGUMENT;
    }
  }
  if (iRc == BSA_RC_SUCCESS) {
    xbsatrace("BSAGetObject: Leaving the dataBlockPtr as is.");
    xbsatrace("BSAGetObject: Copy the input parameter (object) into sGlobal data structure.");
    sGlobal.sObject.sBSA_Object = *objectDescriptorPtr;
    BSA_ObjectDescriptor &obj = sGlobal.sObject.sBSA_Object;
    if (sGlobal.iComSession != 0) {
      make_src_spec(obj.objectName, false);
      xbsalogtrace("BSAGetObject: szSrcSpec [%s]", sGlobal.sCOM.szSrcSpec);
      xbsalogtrace("BSAGetObject(): COPYID: %lu:%lu", (unsigned long)objectDescriptorPtr->copyId.left,
                   (unsigned long)obj.copyId.right);
      xbsatrace("BSAGetObject: Calling com_intf( COM_OPEN_READ, ... )");
      if (com_intf(COM_OPEN_READ, &sGlobal.sCOM) != 1) {
        xbsalog("BSAGetObject: com_intf() call failed. Exiting.");
        iRc = BSA_RC_ACCESS_FAILURE;
      } else {
        if (sms.szName[0] == '\0') {
          xbsalogtrace("BSAGetObject: SMS has not returned saveset name. Using copy id for saveset name.");
          snprintf(sms.szName, sizeof sms.szName, "%u", (unsigned)obj.copyId.right);
        }
        xbsatrace("BSAGetObject: Saveset name: %s", sms.szName);
      }
    } else if (take_own_object("BSAGetObject", obj) != 0) {
      iRc = BSA_RC_ACCESS_FAILURE;
    }
    if (iRc == BSA_RC_SUCCESS) {
      xbsatrace("BSAGetObject: Calling xbsa_open()");
      if (xbsa_open(bsaHandle, 2) == -1) {
        xbsalog("BSAGetObject: xbsa_open() call failed. Exiting.");
        iRc = BSA_RC_ACCESS_FAILURE;
      } else {
        giNoMoreData = 0;
      }
    }
  }
  if (sGlobal.iComSession != 0 && iRc != BSA_RC_SUCCESS) sms.iOpStatus = 3;
  xbsatrace("BSAGetObject: End, return: %d - %s", iRc, xbsa_typeerr(iRc));
  return iRc;
}

namespace {

int query_end(int iRc) {
  xbsatrace("BSAQueryObject: End");
  return iRc;
}

void trace_result(const BSA_ObjectDescriptor &d) {
  xbsalogtrace("BSAQueryObject(): COPYID: [%lu:%lu]", (unsigned long)d.copyId.left,
               (unsigned long)d.copyId.right);
  xbsalogtrace("BSAQueryObject(): spaceName::pathName [%.*s::%.*s]",
               (int)strnlen(d.objectName.objectSpaceName, BSA_MAX_OSNAME), d.objectName.objectSpaceName,
               (int)strnlen(d.objectName.pathName, BSA_MAX_PATHNAME), d.objectName.pathName);
  xbsalogtrace("BSAQueryObject(): createTime [%04d-%02d-%02d %02d:%02d:%02d]", d.createTime.tm_year + 1900,
               d.createTime.tm_mon + 1, d.createTime.tm_mday, d.createTime.tm_hour, d.createTime.tm_min,
               d.createTime.tm_sec);
  xbsalogtrace("BSAQueryObject(): sessionID (rsv2) [%.*s]", (int)strnlen(d.rsv2, sizeof d.rsv2), d.rsv2);
}

}  // namespace

extern "C" int BSAQueryObject(long bsaHandle, BSA_QueryDescriptor *queryDescriptorPtr,
                              BSA_ObjectDescriptor *objectDescriptorPtr) {
  xbsalogtrace("BSAQueryObject: Start");
  _sSession *sp = xbsa_find_slot(bsaHandle);
  if (!sp) {
    xbsalog("BSAQueryObject: Invalid Handle. Exiting.");
    return query_end(BSA_RC_INVALID_HANDLE);
  }
  bool bSubsequent = (sp->iLastCall & XBSA_CALL_QUERYOBJECT) != 0;
  if (bSubsequent) {
    if (sGlobal.iComSession == 0) {
      xbsalog("BSAQueryObject: Invalid calling sequence. Exiting.");
      return query_end(BSA_RC_INVALID_CALL_SEQUENCE);
    }
    xbsalogtrace("BSAQueryObject: Subsequent call.");
  }
  sp->iLastCall |= XBSA_CALL_QUERYOBJECT;
  if (!queryDescriptorPtr) {
    xbsalog("BSAQueryObject: queryDescriptorPtr is NULL. Exiting.");
    return query_end(BSA_RC_NULL_ARGUMENT);
  }
  if (!objectDescriptorPtr) {
    xbsalog("BSAQueryObject: objectDescriptorPtr is NULL. Exiting.");
    return query_end(BSA_RC_NULL_ARGUMENT);
  }
  xbsatrace("BSAQueryObject: Copying query struct to global.");
  sGlobal.sQueryDescriptor = *queryDescriptorPtr;
  xbsatrace("BSAQueryObject: Clearing spQueryResult[] array.");
  if (sGlobal.iComSession == 0) {
    trace_result(*objectDescriptorPtr);
    return query_end(BSA_RC_SUCCESS);
  }
  make_src_spec(queryDescriptorPtr->objectName, false);
  if (!sGlobal.LL_BSA_ObjectDescriptor) {
    xbsatrace("First init of LL_BSA_ObjectDescriptor");
    sGlobal.LL_BSA_ObjectDescriptor = ConsLL();
  }
  // One COM_INFO per query: a further call for the same source hands out
  // the next pending result, so a loop until "no more data" ends.
  static std::string sQuerySpec;
  const std::string srcText = sGlobal.sCOM.szSrcSpec;
  bool bPending = bSubsequent && !sQuerySpec.empty() && sQuerySpec == srcText;
  if (bPending) {
    if (IsEmptyLL(sGlobal.LL_BSA_ObjectDescriptor)) {
      xbsalog("BSAQueryObject: No more query results.");
      return query_end(BSA_RC_NO_MORE_DATA);
    }
  } else {
    sQuerySpec.clear();
    EmptyLL(sGlobal.LL_BSA_ObjectDescriptor);
    // The COM_INFO answer appends one descriptor per stored object.
    xbsatrace("BSAQueryObject: Calling com_intf() for COM_INFO.");
    if (com_intf(COM_INFO, &sGlobal.sCOM) != 1) {
      xbsalog("BSAQueryObject: com_intf() call failed.");
      return query_end(BSA_RC_ACCESS_FAILURE);
    }
    sQuerySpec = srcText;
  }
  t_LL list = sGlobal.LL_BSA_ObjectDescriptor;
  if (IsEmptyLL(list)) {
    xbsalog("BSAQueryObject: No match.");
    return query_end(BSA_RC_NO_MATCH);
  }
  xbsatrace("BSAQueryObject: memcpy() query result to caller");
  void *el = FirstElmLL(list);
  memcpy(objectDescriptorPtr, el, sizeof *objectDescriptorPtr);
  DelElmLL(el);
  int iRc = BSA_RC_SUCCESS;
  if (IsEmptyLL(list)) {
    xbsalog("BSAQueryObject: Only one object found: set return to No more data.");
    iRc = BSA_RC_NO_MORE_DATA;
  }
  trace_result(*objectDescriptorPtr);
  return query_end(iRc);
}
