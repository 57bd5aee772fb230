// Name-space choice and texts, UTF-8 name-space numbers, selection-type texts
// and the log of a session's selection list.
#include "engine/namespace.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "engine/console.h"
#include "engine/engine_globals.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

struct NameSpaceEntry {
  std::string name;
  UINT32 type;
};

// The name spaces of the first resource; false (and the error logged) when
// the resource or its name spaces cannot be had.
bool first_resource_name_spaces(SESSION_INFORMATION *sessionInfo, const char *cpScanError,
                                std::vector<NameSpaceEntry> &out) {
  UINT32 sequence = 0xFFFFFFFFu;
  char resourceName[NWSM_MAX_RESOURCE_LEN + 1];
  memset(resourceName, 0, sizeof(resourceName));
  CCODE ccode = NWSMTSScanTargetServiceResource(sessionInfo->connection, &sequence, resourceName);
  if (ccode != 0) {
    if (vrk_nlm_interactive) {
      printf(cpScanError, (unsigned int)ccode);
      printf("\n");
    }
    vrk_log(1500, cpScanError, (unsigned int)ccode);
    return false;
  }
  NWSM_NAME_LIST *list = nullptr;
  ccode = NWSMTSListSupportedNameSpaces(sessionInfo->connection, resourceName, &list);
  if (ccode == NWSMTS_NO_NAME_SPACES) {
    vrk_log(1500, "Out of Memory");
    if (vrk_nlm_interactive) {
      printf("\t\aOut of Memory");
      fflush(stdout);
      DEPause();
    }
    NWSMFreeNameList(&list);
    return false;
  }
  if (ccode != 0) {
    NWSMFreeNameList(&list);
    return false;
  }
  for (NWSM_NAME_LIST *p = list; p != nullptr; p = p->next)
    out.push_back({p->name != nullptr ? p->name : "", p->type});
  NWSMFreeNameList(&list);
  return true;
}

void session_log(SESSION_INFORMATION *sessionInfo, const char *text) {
  if (sessionInfo->logFile != nullptr) fputs(text, sessionInfo->logFile);
}

}  // namespace

UINT32 MapToUtf8NameSpace(UINT32 nameSpaceType) {
  switch (nameSpaceType) {
    case 0: case 1: case 2: case 4: return nameSpaceType + 256u;
    default: return nameSpaceType;
  }
}

UINT32 MapToMBCSNameSpace(UINT32 nameSpaceType) {
  switch (nameSpaceType) {
    case 256: case 257: case 258: case 260: return nameSpaceType - 256u;
    default: return nameSpaceType;
  }
}

UINT32 GetNameSpace(SESSION_INFORMATION *sessionInfo) {
  if (vrk_nlm_interactive) console_clear_screen();
  std::vector<NameSpaceEntry> entries;
  if (!first_resource_name_spaces(sessionInfo, "NWSMTSScanTargetServiceResource error : 0X%X",
                                  entries))
    return NO_NAME_SPACE;

  int iLong = -1;
  if (sessionInfo->logFile != nullptr && !entries.empty())
    session_log(sessionInfo, "\n\nName Space Type:\n");
  for (size_t i = 0; i < entries.size(); ++i) {
    int iNo = (int)i + 1;
    if (vrk_nlm_interactive)
      printf("\t%d: %s\n", iNo, entries[i].name.c_str());
    else if (spGlobal->iLogLevel >= 3)
      vrk_log(3500, "%d: %s (0x%03X)", iNo, entries[i].name.c_str(), (unsigned int)entries[i].type);
    if (sessionInfo->logFile != nullptr)
      fprintf(sessionInfo->logFile, "\t%d: %s\n", iNo, entries[i].name.c_str());
    if (iLong < 0 && entries[i].name == "LONG") iLong = (int)i;
  }

  UINT32 result = NO_NAME_SPACE;
  const char *cpName = "unknown";
  if (!vrk_nlm_interactive) {
    int iChosen = iLong >= 0 ? iLong : (entries.empty() ? -1 : 0);
    if (iChosen >= 0) {
      result = entries[(size_t)iChosen].type;
      cpName = entries[(size_t)iChosen].name.c_str();
    }
    if (spGlobal->iLogLevel >= 3)
      vrk_log(3500, "Use Name Space Type '%s' 0x%03X", cpName, (unsigned int)result);
    return result;
  }

  int iQuit = (int)entries.size() + 1;
  for (;;) {
    printf("\t%d: Quit\n", iQuit);
    printf("\n\nEnter option: ");
    fflush(stdout);
    char c = 0;
    GetCharacter(&c);
    if (console_input_ended()) return NO_NAME_SPACE;
    int iNo = c - '0';
    if (iNo == iQuit) return NO_NAME_SPACE;
    if (iNo >= 1 && iNo <= (int)entries.size()) return entries[(size_t)iNo - 1].type;
    console_bell();
    console_bell();
    GetCharacter(&c);
    if (console_input_ended() || c - '0' == iQuit) return NO_NAME_SPACE;
    for (size_t i = 0; i < entries.size(); ++i)
      printf("\t%d: %s\n", (int)i + 1, entries[i].name.c_str());
  }
}

void SetNameSpaceType(UINT32 selectedNameSpaceType, char *string, SESSION_INFORMATION *sessionInfo) {
  std::vector<NameSpaceEntry> entries;
  if (first_resource_name_spaces(sessionInfo, "NWSMTSScanTargetServiceResource error : 0x%x",
                                 entries)) {
    for (const NameSpaceEntry &e : entries) {
      if (e.type == selectedNameSpaceType) {
        strlcpy(string, e.name.c_str(), NAME_SPACE_TEXT_SIZE);
        return;
      }
    }
  }
  strlcpy(string, "Bad nameSpaceType", NAME_SPACE_TEXT_SIZE);
}

// A selection type value 2^n names the exclude of type number n and 2^n + 1
// its include, as the TSA defines them.
void SetSelectionType(UINT32 selectionType, char *string, SESSION_INFORMATION *sessionInfo) {
  UINT32 n = 1;
  for (int iTry = 0; iTry < 32 && n < 32; ++iTry) {
    char includeText[NWSM_MAX_STRING_LEN + 1] = {0};
    char excludeText[NWSM_MAX_STRING_LEN + 1] = {0};
    CCODE ccode = NWSMTSGetTargetSelectionTypeStr(sessionInfo->connection, (UINT8)n, includeText,
                                                  excludeText);
    if (ccode == NWSMTS_INVALID_CONNECTION_HANDLE) {
      printf("\nINVALID CONNECTION HANDLE");
      fflush(stdout);
      session_log(sessionInfo, "\nINVALID CONNECTION HANDLE");
      return;
    }
    if (ccode == NWSMTS_INVALID_SELECTION_TYPE) {
      printf("\nINVALID SELECTION TYPE");
      fflush(stdout);
      session_log(sessionInfo, "\nINVALID SELECTION TYPE");
      continue;
    }
    if (ccode != 0) return;
    UINT32 value = 1u << n;
    if (selectionType == value) {
      strlcpy(string, excludeText, NAME_SPACE_TEXT_SIZE);
      return;
    }
    if (selectionType == (value | 1u)) {
      strlcpy(string, includeText, NAME_SPACE_TEXT_SIZE);
      return;
    }
    ++n;
  }
}

void DisplaySelectionList(SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo->selectionList == nullptr) return;
  vrk_log(3500, "SelectionList:");
  NWSM_DATA_SET_NAME name;
  memset(&name, 0, sizeof(name));
  UINT32 nameHandle = 0;
  CCODE ccode = NWSMGetFirstName(sessionInfo->selectionList, &name, &nameHandle);
  if (ccode != 0) {
    vrk_log(3500, "NWSMGetFirstName = 0X%lX", (unsigned long)ccode);
    return;
  }
  while (ccode == 0) {
    UINT32 type = name.nameSpaceType;
    std::string text = name.name != nullptr ? name.name : "";
    bool bStop = false;
    if (sessionInfo->IsUTF8Supp) {
      type = MapToMBCSNameSpace(type);
      UINT32 uiLen = 0;
      CCODE conv = SMutf82loc(nullptr, &uiLen, text.c_str(), (UINT32)text.size(), 0);
      if (conv != 0) {
        vrk_log(3500, "SMutf82loc error : 0X%lX", (unsigned long)conv);
        bStop = true;
      } else {
        char *cpLocal = static_cast<char *>(malloc((size_t)uiLen + 1));
        if (cpLocal == nullptr) {
          vrk_log(3500, "ERROR: Could not allocate Memory!");
          bStop = true;
        } else {
          UINT32 uiCap = uiLen + 1;
          conv = SMutf82loc(cpLocal, &uiCap, text.c_str(), (UINT32)text.size(), 0);
          if (conv != 0) {
            vrk_log(3500, "SMSLib_utf82loc error : 0X%lX", (unsigned long)conv);
            bStop = true;
          } else {
            cpLocal[uiCap <= uiLen ? uiCap : uiLen] = '\0';
            text = cpLocal;
          }
          free(cpLocal);
        }
      }
    }
    if (bStop) {
      NWSMFreeDataSetName(&name);
      break;
    }
    char szSpace[NAME_SPACE_TEXT_SIZE] = {0};
    char szSelection[NAME_SPACE_TEXT_SIZE] = {0};
    SetNameSpaceType(type, szSpace, sessionInfo);
    SetSelectionType(name.selectionType, szSelection, sessionInfo);
    vrk_log(3500, " %s, %s:  \"%s\"", szSpace, szSelection, text.c_str());
    NWSMFreeDataSetName(&name);
    memset(&name, 0, sizeof(name));
    ccode = NWSMGetNextName(&nameHandle, &name);
    if (ccode != 0 && ccode != NWSMUT_NO_MORE_NAMES)
      vrk_log(3500, "NWSMGetNextName = 0X%lX", (unsigned long)ccode);
  }
  CCODE close = NWSMCloseName(&nameHandle);
  if (close != 0) vrk_log(3500, "NWSMCloseName = 0X%lX", (unsigned long)close);
}

void FreeSelectionList(SESSION_INFORMATION *sessionInfo) {
  if (sessionInfo == nullptr) return;
  free(sessionInfo->selectionList);
  sessionInfo->selectionList = nullptr;
}

UINT32 GetSelectionType(SESSION_INFORMATION *sessionInfo) {
  struct Entry {
    std::string text;
    UINT32 value;
  };
  std::vector<Entry> entries;
  for (UINT32 n = 1; n < 32; ++n) {
    char includeText[NWSM_MAX_STRING_LEN + 1] = {0};
    char excludeText[NWSM_MAX_STRING_LEN + 1] = {0};
    CCODE ccode = NWSMTSGetTargetSelectionTypeStr(sessionInfo->connection, (UINT8)n, includeText,
                                                  excludeText);
    if (ccode == NWSMTS_INVALID_CONNECTION_HANDLE) {
      printf("\nINVALID CONNECTION HANDLE");
      break;
    }
    if (ccode == NWSMTS_INVALID_SELECTION_TYPE) {
      printf("\nINVALID SELECTION TYPE");
      break;
    }
    if (ccode != 0) break;
    entries.push_back({includeText, (1u << n) | 1u});
    entries.push_back({excludeText, 1u << n});
  }
  for (;;) {
    printf("\n\nSelection Type:");
    for (size_t i = 0; i < entries.size(); ++i) printf("\t%d: %s\n", (int)i + 1, entries[i].text.c_str());
    int iReturn = (int)entries.size() + 1;
    printf("\t%d: Return to previous menu\n", iReturn);
    printf("\n\nEnter Selection Type: ");
    fflush(stdout);
    char c = 0;
    GetCharacter(&c);
    if (console_input_ended()) return NO_NAME_SPACE;
    int iNo = c - '0';
    if (iNo == iReturn) return NO_NAME_SPACE;
    if (iNo >= 1 && iNo <= (int)entries.size()) return entries[(size_t)iNo - 1].value;
    console_bell();
    console_bell();
  }
}

void ListSelectionStrings(SESSION_INFORMATION *sessionInfo) {
  printf("Selection Strings: ");
  for (UINT32 n = 1; n < 32; ++n) {
    char includeText[NWSM_MAX_STRING_LEN + 1] = {0};
    char excludeText[NWSM_MAX_STRING_LEN + 1] = {0};
    if (NWSMTSGetTargetSelectionTypeStr(sessionInfo->connection, (UINT8)n, includeText,
                                        excludeText) != 0)
      break;
    printf("  %s\n", includeText);
    printf("  %s\n", excludeText);
  }
  fflush(stdout);
  DEPause();
}

void ListScanTypeStrings(SESSION_INFORMATION *sessionInfo) {
  if (spGlobal->iLogLevel < 3) return;
  vrk_log(3500, "ScanType Strings: ");
  for (UINT32 n = 0; n < 32; ++n) {
    char text[NWSM_MAX_STRING_LEN + 1] = {0};
    UINT32 required = 0, disallowed = 0;
    if (NWSMTSGetTargetScanTypeString(sessionInfo->connection, (UINT8)n, text, &required,
                                      &disallowed) != 0)
      break;
    vrk_log(3500, "  %s", text);
  }
}
