// The raw -R arguments: keeping them, walking them, cutting each into pattern
// and replacement items, and filling the restore rows and the context.
#include <stdlib.h>
#include <string.h>

#include "client/vrk_global.h"
#include "client/vrk_items.h"
#include "client/vrk_reloc_log.h"
#include "client/vrk_relocation.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

// The raw relocation arguments, each a copy with its terminating zero.
t_LL RelocArgs_list = nullptr;

// Set once a default expression was added; one default per process.
BOOL defaultRegistered = FALSE;

// Frees the heap items of a NULL-ended table.
void free_items(char **cpItem, int iSize) {
  for (int i = 0; i < iSize; ++i) {
    free(cpItem[i]);
    cpItem[i] = nullptr;
  }
}

// Copies an item into a 4096-byte row; FALSE (row unchanged) when it does not fit.
BOOL copy_row(char *cpRow, const char *cpItem) {
  if (strlen(cpItem) >= VRK_PATH_MAX) return FALSE;
  strlcpy(cpRow, cpItem, VRK_PATH_MAX);
  return TRUE;
}

void log_invalid_argument(const char *RelocArg) {
  if (g_kv_log_ptr != nullptr) g_kv_log_ptr(1038, RelocArg, 'R');
}

}  // namespace

void ResetRelocState(void) {
  if (RelocArgs_list != nullptr) RelocArgs_list = DestLL(RelocArgs_list);
  RelocArgs_list = nullptr;
  defaultRegistered = FALSE;
}

RELOC_ERROR SaveRawRelocArg(const char *RelocArg, int iLogLevel) {
  if (RelocArg == nullptr) return RELOC_ERROR_INCORRECT_PARAM;
  if (iLogLevel > 2)
    reloc_logf(3500, "Preserve relocation argument for further processing [%s]", RelocArg);
  if (RelocArgs_list == nullptr) {
    RelocArgs_list = ConsLL();
    if (RelocArgs_list == nullptr) {
      reloc_logf(3500, "Can't init storage for [%s]", RelocArg);
      return RELOC_ERROR_CANT_INIT_STORAGE;
    }
  }
  if (InsLastLLf(RelocArgs_list, strlen(RelocArg) + 1, RelocArg) == nullptr) {
    if (iLogLevel > 2) reloc_logf(3500, "Can't preserve relocation argument [%s]", RelocArg);
    return RELOC_ERROR_CANT_ADD_RELOC_ARG;
  }
  if (iLogLevel > 2) reloc_logf(3500, "Relocation argument preserved");
  return RELOC_ERROR_OK;
}

RELOC_ERROR ForEachRelocArg(PathRelocContext **RelocationContext, const char *szRelocDelimiter,
                            char **szPath, char **szTargetPath, RELOC_ARGS_CALLBACK CallbackFn,
                            int iLogLevel) {
  if (CallbackFn == nullptr) return RELOC_ERROR_INCORRECT_PARAM;
  if (iLogLevel > 2)
    reloc_logf(3500, "ForEachRelocArg(): applying path relocation to relocation argument");
  if (RelocArgs_list == nullptr) return RELOC_ERROR_OK;
  for (void *el = FirstElmLL(RelocArgs_list); IsElmLL(el); el = NextElmLL(el)) {
    const char *arg = static_cast<const char *>(el);
    if (iLogLevel > 2) reloc_logf(3500, "Callback argument: [%s]", arg);
    if (CallbackFn(arg, RelocationContext, szRelocDelimiter, szPath, szTargetPath, iLogLevel) !=
        RELOC_ERROR_OK)
      return RELOC_ERROR_CMDLINE_ARGUMENT_PROCESSING_FAILED;
  }
  return RELOC_ERROR_OK;
}

RELOC_ERROR ProcessRelocArgs(const char *RelocArg, PathRelocContext **RelocationContext,
                             const char *szRelocDelimiter, char **szPath, char **szTargetPath,
                             int iLogLevel) {
  if (RelocArg == nullptr || RelocationContext == nullptr || szRelocDelimiter == nullptr ||
      szRelocDelimiter[0] == '\0' || szPath == nullptr || szTargetPath == nullptr)
    return RELOC_ERROR_INCORRECT_PARAM;
  if (iLogLevel > 2) reloc_logf(3500, "ProcessRelocArgs(%s)", RelocArg);

  char *cpItem[VRK_RELOC_MAX_ITEMS + 1] = {};
  int iCount = vrk_parse_item_str_delim(cpItem, RelocArg, szRelocDelimiter, VRK_RELOC_MAX_ITEMS);
  if (iLogLevel > 2) {
    reloc_logf(4000, "-R: vrk_parse_item_str_delim returns [%d]:", iCount);
    for (int i = 0; i < iCount; ++i)
      reloc_logf(4000, "Parsed relocation expression[%d] \"%s\"", i, cpItem[i]);
  }
  // Too many items (or none), or an empty target (an empty -R, a delimiter
  // with nothing after it): refuse the argument. Going on would restore
  // onto the original locations.
  bool bEmptyTarget = iCount >= 1 && cpItem[iCount - 1][0] == '\0';
  for (int i = 1; i < iCount; i += 2) bEmptyTarget = bEmptyTarget || cpItem[i][0] == '\0';
  if (iCount < 1 || bEmptyTarget) {
    free_items(cpItem, VRK_RELOC_MAX_ITEMS + 1);
    log_invalid_argument(RelocArg);
    return RELOC_ERROR_CANT_SETUP_RELOCATION_PATH;
  }

  if (iCount == 1) {
    if (!copy_row(szTargetPath[0], RelocArg)) {
      free_items(cpItem, VRK_RELOC_MAX_ITEMS + 1);
      log_invalid_argument(RelocArg);
      return RELOC_ERROR_CANT_SETUP_RELOCATION_PATH;
    }
    szPath[0][0] = '\0';
    if (strcmp(cpItem[0], "/") == 0) {
      free_items(cpItem, VRK_RELOC_MAX_ITEMS + 1);
      return RELOC_ERROR_OK;
    }
  } else if (!vrk_path_relocation_setup(&szPath, &szTargetPath, cpItem, iCount, iLogLevel)) {
    free_items(cpItem, VRK_RELOC_MAX_ITEMS + 1);
    log_invalid_argument(RelocArg);
    return RELOC_ERROR_CANT_SETUP_RELOCATION_PATH;
  }

  if (!IsRelocInvolved(*RelocationContext)) {
    if (*RelocationContext == nullptr) {
      *RelocationContext = CreatePathRelocContext();
    } else {
      // A destroyed context keeps its record: give it a new list.
      (*RelocationContext)->RelocExpressions = ConsLL();
    }
    if (!IsRelocInvolved(*RelocationContext)) {
      free_items(cpItem, VRK_RELOC_MAX_ITEMS + 1);
      reloc_logf(3500, "ERROR: Can't initialize path relocation context");
      return RELOC_ERROR_CANT_SETUP_RELOCATION_PATH;
    }
  }

  RELOC_ERROR rc = RELOC_ERROR_OK;
  for (int i = 0; i < iCount; i += 2) {
    const char *first = cpItem[i];
    const char *second = (i + 1 < iCount) ? cpItem[i + 1] : nullptr;
    if (second == nullptr) {
      if (defaultRegistered) {
        reloc_logf(3500, "Warning default Reloc Expression must be one");
        break;
      }
      defaultRegistered = TRUE;
      second = first;
      first = "";
    }
    if (AddRelocExpression(*RelocationContext, first, second, iLogLevel) != RELOC_ERROR_OK) {
      reloc_logf(3500, "ERROR: Can't add the relocation expression: [%s%s%s]", szPath[0],
                 szRelocDelimiter, szTargetPath[0]);
      rc = RELOC_ERROR_CANT_ADD_RELOC_EXPR;
      break;
    }
  }
  free_items(cpItem, VRK_RELOC_MAX_ITEMS + 1);
  return rc;
}

int vrk_path_relocation_setup(char ***szPath, char ***szTargetPath, char **cpItem, int iTotalItems,
                              int iLogLevel) {
  if (szPath == nullptr || szTargetPath == nullptr || *szPath == nullptr ||
      *szTargetPath == nullptr || cpItem == nullptr) {
    if (iLogLevel >= 5)
      reloc_logf(4000,
                 "vrk_path_relocation_setup: Incorrect parameter \"szPath\" or \"szTargetPath\"");
    return 0;
  }
  reloc_logf(4000, "vrk_path_relocation_setup: %d items", iTotalItems);
  if (iTotalItems < 1 || iTotalItems > VRK_MAX_ITEMS) {
    if (iLogLevel >= 5)
      reloc_logf(4000, "vrk_path_relocation_setup: Incorrect parameter \"iTotalItems\"");
    return 0;
  }
  char **paths = *szPath;
  char **targets = *szTargetPath;

  // The items present (the walk stops at the first missing one); each must
  // fit its row, none is cut.
  int iAvail = 0;
  while (iAvail < iTotalItems && cpItem[iAvail] != nullptr) {
    if (strlen(cpItem[iAvail]) >= VRK_PATH_MAX) {
      reloc_logf(4000, "vrk_path_relocation_setup: item %d longer than %d characters", iAvail,
                 VRK_PATH_MAX - 1);
      return 0;
    }
    ++iAvail;
  }

  int iPaired = iTotalItems - (iTotalItems % 2);
  for (int i = 0; i < iPaired && i < iAvail; ++i) {
    int k = i / 2;
    if (i % 2 == 0) {
      if (iLogLevel > 2) reloc_logf(4000, "Reloc. pattern[%d]: \"%s\"", k + 1, cpItem[i]);
      if (cpItem[i][0] != '\0') copy_row(paths[k], cpItem[i]);
    } else {
      if (iLogLevel > 2) reloc_logf(4000, "Reloc. replacement[%d]: \"%s\"", k + 1, cpItem[i]);
      if (cpItem[i][0] != '\0') copy_row(targets[k], cpItem[i]);
    }
  }
  if (iTotalItems % 2 == 1 && iAvail == iTotalItems) {
    int k = (iTotalItems - 1) / 2;
    paths[k][0] = '\0';
    copy_row(targets[k], cpItem[iTotalItems - 1]);
    if (iLogLevel > 2) {
      reloc_logf(4000, "Reloc. pattern[%d]: \"%s\"", k + 1, paths[k]);
      reloc_logf(4000, "Default Reloc. replacement[%d]: \"%s\"", k + 1, targets[k]);
    }
  }
  paths[(iTotalItems + 1) / 2][0] = '\0';
  if (paths[0][0] == '\0') {
    strlcpy(paths[0], "/", VRK_PATH_MAX);
    reloc_logf(4000, "Special case: Reloc. pattern[0]=\"/\". Setting pattern to \"/\"");
  }
  return 1;
}
