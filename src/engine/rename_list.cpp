// The restore rename list: adding pairs normalised by the TSA, showing and
// freeing the list, and the new name of a parent from the first applying pair.
#include "engine/rename_list.h"

#include <errno.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/namespace.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

SinglePair *head = nullptr;
char *sourceUTF8 = nullptr;
char *destUTF8 = nullptr;

namespace {

void release_utf8(void) {
  free(sourceUTF8);
  sourceUTF8 = nullptr;
  free(destUTF8);
  destUTF8 = nullptr;
}

char *dup_text(const char *cp) {
  size_t n = strlen(cp);
  char *p = static_cast<char *>(malloc(n + 1));
  if (p != nullptr) memcpy(p, cp, n + 1);
  return p;
}

// Normalises one path of a pair through the TSA. An empty path stays empty;
// a TSA without the call leaves the path as given. 0 or the failing code.
CCODE fix_name(SESSION_INFORMATION *sessionInfo, const std::string &in, UINT32 nameSpace, const char *what,
               std::string *out) {
  *out = in;
  if (in.empty()) return 0;
  char *fixed = nullptr;
  CCODE ccode = NWSMTSFixDataSetName(sessionInfo->connection, in.c_str(), nameSpace, 1, 0, &fixed);
  if (ccode == NWSMTS_UNSUPPORTED_FUNCTION) {
    vrk_log(3500, "NWSMTSFixDataSetName failed with NWSMTS_UNSUPPORTED_FUNCTION: ccode is 0X%lX",
            (unsigned long)ccode);
    vrk_log(3500, "try with given %s", what);
    return 0;
  }
  if (ccode != 0) {
    vrk_log(1500, "NWSMTSFixDataSetName fails :ccode is 0X%lX", (unsigned long)ccode);
    return ccode;
  }
  *out = fixed != nullptr ? fixed : "";
  NWSMFreeString(fixed);
  if (spGlobal->iLogLevel >= 5) trace("%l5 RenameRestore free(new%s) ok", strcmp(what, "source") == 0 ? "source" : "dest");
  return 0;
}

// The UTF-8 form of a local text in a new heap string; 0 or the failing code.
CCODE to_utf8(const char *in, char **out, SESSION_INFORMATION *sessionInfo) {
  *out = nullptr;
  UINT32 length = 0;
  CCODE ccode = SMloc2utf8(nullptr, &length, in, (UINT32)strlen(in), 0);
  if (ccode != 0) {
    PrintCode(TRUE, ccode, "SMloc2utf8", 0, sessionInfo);
    return ccode;
  }
  char *buf = static_cast<char *>(malloc((size_t)length + 1));
  if (buf == nullptr) {
    vrk_log(1094);
    return NWSMDR_OUT_OF_MEMORY;
  }
  UINT32 room = length;
  ccode = SMloc2utf8(buf, &room, in, (UINT32)strlen(in), 0);
  if (ccode != 0) {
    free(buf);
    PrintCode(TRUE, ccode, "SMloc2utf8", 0, sessionInfo);
    return ccode;
  }
  buf[room <= length ? room : length] = '\0';
  *out = buf;
  return 0;
}

bool locale_is_utf8(void) {
  const char *cp = setlocale(LC_CTYPE, nullptr);
  std::string loc = cp != nullptr ? cp : "C";
  trace("%l4 locale [%s]", loc.c_str());
  std::string up;
  for (char c : loc) up += (char)((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
  return up.find("UTF-8") != std::string::npos || up.find("UTF8") != std::string::npos || up == "C";
}

// Builds the one-name list of newName in the name space. 0 or the failing code.
CCODE put_new_name(UINT32 connection, UINT32 nameSpace, const std::string &newName,
                   NWSM_DATA_SET_NAME_LIST **newNameList, SESSION_INFORMATION *sessionInfo) {
  NWBOOLEAN reverse = 0;
  STRING_BUFFER *first = nullptr, *next = nullptr;
  CCODE ccode = NWSMTSGetNameSpaceTypeInfo(connection, nameSpace, &reverse, &first, &next);
  if (ccode != 0) {
    PrintCode(TRUE, ccode, "NWSMTSGetNameSpaceTypeInfo", 0, sessionInfo);
    NWSMFreeString(first);
    NWSMFreeString(next);
    return ccode;
  }
  ccode = NWSMPutOneName(newNameList, nameSpace, 0, reverse, first != nullptr ? first->string : "",
                         next != nullptr ? next->string : "", newName.c_str());
  NWSMFreeString(first);
  NWSMFreeString(next);
  if (ccode != 0) PrintCode(TRUE, ccode, "NWSMPutOneName", 0, sessionInfo);
  return ccode;
}

// Where the destination takes over for the "/" pair: after the name's first
// separator; a name without one is kept whole beneath the destination.
size_t after_first_separator(const NWSM_DATA_SET_NAME &name) {
  const char *cp = name.name != nullptr ? name.name : "";
  const char *sep = name.firstSeparator;
  if (sep != nullptr && sep[0] != '\0') {
    const char *at = strstr(cp, sep);
    if (at != nullptr) return (size_t)(at - cp) + strlen(sep);
  }
  const char *at = strpbrk(cp, ":/");
  return at != nullptr ? (size_t)(at - cp) + 1 : 0;
}

}  // namespace

void Insert(SinglePair *pair) {
  pair->next = nullptr;
  if (head == nullptr) {
    head = pair;
    return;
  }
  SinglePair *p = head;
  while (p->next != nullptr) p = p->next;
  p->next = pair;
}

void DisplayRenameList(void) {
  if (head == nullptr) return;
  trace("%l4 Rename Restore List:");
  for (SinglePair *p = head; p != nullptr; p = p->next) {
    trace("%l4 Source Path : \"%s\"", p->source);
    trace("%l4 Destination Path : \"%s\"", p->destination);
    trace("%l4 Name Space Type: %d", (int)p->nameSpace);
  }
}

void FreeRenameList(void) {
  SinglePair *p = head;
  while (p != nullptr) {
    SinglePair *next = p->next;
    free(p->source);
    free(p->destination);
    free(p);
    p = next;
  }
  head = nullptr;
  release_utf8();
}

CCODE RenameRestore(SESSION_INFORMATION *sessionInfo, char *source_arg, char *dest_arg) {
  UINT32 nameSpace = GetNameSpace(sessionInfo);
  if (nameSpace == NO_NAME_SPACE) return 0;

  const char *cpSource = source_arg != nullptr ? source_arg : "";
  const char *cpDest = dest_arg != nullptr ? dest_arg : "";
  // Refused rather than cut: a shortened path would move data sets elsewhere.
  if (strlen(cpSource) > RENAME_PATH_MAX) {
    vrk_log(1500, "RenameRestore: source longer than %d characters: [%.64s...]", RENAME_PATH_MAX, cpSource);
    return NWSMUT_BUFFER_OVERFLOW;
  }
  if (strlen(cpDest) > RENAME_PATH_MAX) {
    vrk_log(1500, "RenameRestore: destination longer than %d characters: [%.64s...]", RENAME_PATH_MAX, cpDest);
    return NWSMUT_BUFFER_OVERFLOW;
  }
  std::string source = cpSource;
  size_t colonSlash = source.find(":/");
  if (colonSlash != std::string::npos) source.erase(colonSlash + 1, 1);
  std::string dest = cpDest;
  trace("%l4 RenameRestore source=%s dest=%s", source.c_str(), dest.c_str());

  if (!source.empty())
    trace("%l4 RenameRestore: Call NWSMTSFixDataSetName with nameSpaceType 0X%03X", (unsigned int)nameSpace);
  std::string newsource;
  CCODE ccode = fix_name(sessionInfo, source, nameSpace, "source", &newsource);
  if (ccode != 0) {
    PrintCode(TRUE, ccode, "RenameRestore", 0, sessionInfo);
    return ccode;
  }
  trace("%l4 RenameRestore source ok: [%s]", newsource.c_str());

  std::string newdest;
  ccode = fix_name(sessionInfo, dest, nameSpace, "destination", &newdest);
  if (ccode != 0) return ccode;
  if (spGlobal->iLogLevel >= 3) trace("%l3 RenameRestore dest ok: [%s]", newdest.c_str());

  SinglePair *pair = static_cast<SinglePair *>(calloc(1, sizeof(SinglePair)));
  char *s = dup_text(newsource.c_str());
  char *d = dup_text(newdest.c_str());
  if (pair == nullptr || s == nullptr || d == nullptr) {
    free(pair);
    free(s);
    free(d);
    vrk_log(1094);
    return NWSMDR_OUT_OF_MEMORY;
  }
  pair->nameSpace = nameSpace;
  pair->source = s;
  pair->destination = d;
  pair->next = nullptr;
  Insert(pair);
  if (spGlobal->iLogLevel >= 5) trace("%l5 RenameRestore return");
  return 0;
}

CCODE GetNewName(UINT32 connection, NWSM_DATA_SET_NAME_LIST *origNameList, NWSM_DATA_SET_NAME_LIST **newNameList,
                 int iPlainFlag, SESSION_INFORMATION *sessionInfo) {
  SinglePair *found = nullptr;
  NWSM_DATA_SET_NAME origName;
  memset(&origName, 0, sizeof(origName));
  bool bUtf8 = false;
  UINT32 foundNameSpace = 0;
  size_t iSourceLen = 0;

  for (SinglePair *pair = head; pair != nullptr && found == nullptr; pair = pair->next) {
    UINT32 utf8Space = MapToUtf8NameSpace(pair->nameSpace);
    trace("%l4 GetNewName: check source [%s] with nameSpace 0X%X mapped to 0X%X", pair->source,
          (unsigned int)pair->nameSpace, (unsigned int)utf8Space);
    release_utf8();
    NWSMFreeDataSetName(&origName);

    // The stored name in the first name space that works.
    UINT32 nameSpace = utf8Space;
    bUtf8 = true;
    CCODE ccode = NWSMGetDataSetName(origNameList, nameSpace, &origName);
    if (ccode != 0) {
      trace("%l4 NWSMGetDataSetName 1st try code: 0X%X", (unsigned int)ccode);
      nameSpace = LONGNameSpaceUtf8Type;
      trace("%l4 GetNewName: Try with LONG UTF8 name space 0X%03X", (unsigned int)nameSpace);
      ccode = NWSMGetDataSetName(origNameList, nameSpace, &origName);
    }
    if (ccode != 0) {
      trace("%l4 NWSMGetDataSetName 2nd try code: 0X%X", (unsigned int)ccode);
      nameSpace = pair->nameSpace;
      bUtf8 = false;
      trace("%l4 NWSMGetDataSetName try with pair->nameSpace 0X%X", (unsigned int)nameSpace);
      ccode = NWSMGetDataSetName(origNameList, nameSpace, &origName);
    }
    if (ccode != 0) {
      if (ccode == NWSMUT_NO_MORE_NAMES)
        vrk_log(3500, "Item does not support Name Space Type 0X%X", (unsigned int)nameSpace);
      else
        PrintCode(FALSE, ccode, "NWSMGetDataSetName 3rd try", 0, sessionInfo);
      trace("%l4 GetNewName: Try with MBCS name space");
      nameSpace = MapToMBCSNameSpace(pair->nameSpace);
      trace("%l4 Call NWSMGetDataSetName: ");
      ccode = NWSMGetDataSetName(origNameList, nameSpace, &origName);
      if (ccode != 0) {
        if (ccode == NWSMUT_NO_MORE_NAMES)
          trace("%l4 Item does not support Name Space Type 0X%03X", (unsigned int)nameSpace);
        else
          PrintCode(FALSE, ccode, "NWSMGetDataSetName MBCS", 0, sessionInfo);
        NWSMFreeDataSetName(&origName);
        release_utf8();
        return ccode;
      }
    }
    foundNameSpace = origName.nameSpaceType;
    const char *cpOrig = origName.name != nullptr ? origName.name : "";
    size_t origLen = strlen(cpOrig);

    bool applies = false;
    if (strcmp(pair->source, "/") == 0) {
      // Takes every name that no earlier pair took.
      applies = true;
      trace("%l4 Relocation source [%s] => restore to [%s]", pair->source, pair->destination);
      iSourceLen = iPlainFlag ? origLen : after_first_separator(origName);
      trace("%l4 set iSourceLen to first separator position %d", (int)iSourceLen);
    } else if (bUtf8) {
      if (spGlobal->iLogLevel >= 4)
        trace(nameSpace == utf8Space ? "%l4 got origName in UTF8 NameSpace: [%s]"
                                     : "%l4 got origName in LONG UTF8 NameSpace: [%s]",
              cpOrig);
      ccode = to_utf8(pair->source, &sourceUTF8, sessionInfo);
      if (ccode != 0) {
        NWSMFreeDataSetName(&origName);
        release_utf8();
        return ccode;
      }
      size_t srcLen = strlen(sourceUTF8);
      applies = SMutf8nicmp(sourceUTF8, cpOrig, (UINT32)srcLen) == 0;
      if (iPlainFlag) {
        iSourceLen = origLen;
        trace("%l4 UTF8 Got iSourceLen %d", (int)iSourceLen);
      } else if (srcLen > 0) {
        iSourceLen = srcLen;
        trace("%l4 UTF8 got iSourceLen %d", (int)iSourceLen);
      } else {
        // The volume part of "VOL1:dir/"; a path-style name has none and
        // goes whole beneath the destination.
        const char *colon = strchr(cpOrig, ':');
        iSourceLen = colon != nullptr ? (size_t)(colon - cpOrig) + 1 : 0;
        trace("%l4 Set SourceLen from original in UTF8");
        trace("%l4 UTF8 Got iSourceLen %d", (int)iSourceLen);
      }
    } else {
      trace("%l4 check origName [%s] <> [%s]", pair->source, cpOrig);
      size_t srcLen = strlen(pair->source);
      applies = strncasecmp(pair->source, cpOrig, srcLen) == 0;
      if (iPlainFlag) {
        iSourceLen = origLen;
        trace("%l4 Got iSourceLen %d", (int)iSourceLen);
      } else if (srcLen > 0) {
        iSourceLen = srcLen;
        trace("%l4 got iSourceLen %d", (int)iSourceLen);
      } else {
        const char *colon = strchr(cpOrig, ':');
        iSourceLen = colon != nullptr ? (size_t)(colon - cpOrig) + 1 : 0;
        trace("%l4 Set SourceLen from original");
        trace("%l4 Got iSourceLen %d", (int)iSourceLen);
      }
    }
    if (iSourceLen > origLen) iSourceLen = origLen;
    if (applies) found = pair;
  }

  if (found == nullptr) {
    NWSMFreeDataSetName(&origName);
    release_utf8();
    return 0;
  }
  if (spGlobal->iLogLevel >= 4) trace("%l4 GetNewName: found pair");

  const char *cpOrig = origName.name != nullptr ? origName.name : "";
  const char *cpDest = found->destination;
  UINT32 nameSpace = found->nameSpace;
  CCODE ccode = 0;
  if (bUtf8) {
    nameSpace = foundNameSpace;
    if (sessionInfo->IsUTF8Supp && !locale_is_utf8()) {
      ccode = to_utf8(found->destination, &destUTF8, sessionInfo);
      if (ccode != 0) {
        NWSMFreeDataSetName(&origName);
        release_utf8();
        return ccode;
      }
      cpDest = destUTF8;
    }
  }
  char *joined = nullptr;
  ccode = NWSMCatStrings(2, &joined, cpDest, cpOrig + iSourceLen);
  if (ccode != 0 || joined == nullptr) {
    PrintCode(TRUE, ccode, "NWSMCatStrings", 0, sessionInfo);
    NWSMFreeDataSetName(&origName);
    release_utf8();
    return ccode != 0 ? ccode : NWSMDR_OUT_OF_MEMORY;
  }
  squeeze(joined, '/');
  if (spGlobal->iLogLevel >= 3) trace("%l3 newName [%s]", joined);
  std::string newName = joined;
  NWSMFreeString(joined);
  ccode = put_new_name(connection, nameSpace, newName, newNameList, sessionInfo);
  NWSMFreeDataSetName(&origName);
  release_utf8();
  return ccode;
}
