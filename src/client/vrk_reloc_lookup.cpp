// Applying the relocation context to a path: the first expression that
// applies gives the new path, optionally falling back to the default one.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "client/vrk_change_path.h"
#include "client/vrk_reloc_log.h"
#include "client/vrk_relocation.h"
#include "runtime/vrk_log.h"

RELOC_ERROR GetRelocByPath(PathRelocContext *context, const PATH_TYPE *Path,
                           PATH_TYPE **RelocatedPath, int iLogLevel) {
  if (context == nullptr || Path == nullptr || RelocatedPath == nullptr ||
      strnlen(Path, VRK_RELOC_WORK_PATH + 1) > VRK_RELOC_WORK_PATH) {
    if (iLogLevel > 2) reloc_logf(3500, "ERROR: GetRelocByPath() was given an incorrect parameter");
    return RELOC_ERROR_INCORRECT_PARAM;
  }
  if (context->RelocExpressions == nullptr) return RELOC_ERROR_SKIP_ITEM;

  // The work buffer; vrk_change_path writes at most VRK_CHG_PATH_MAX_NAME + 1
  // bytes into it, and it is restored from the path before every try.
  std::vector<char> work(VRK_RELOC_WORK_PATH + 1, '\0');
  size_t pathLen = strlen(Path);
  for (void *el = FirstElmLL(context->RelocExpressions); IsElmLL(el); el = NextElmLL(el)) {
    const RelocExpression *expr = static_cast<const RelocExpression *>(el);
    if (expr->Pattern == nullptr || expr->Replacement == nullptr) {
      reloc_logf(3500, "ERROR: GetRelocByPath() incorrect part of relocation expression found");
      return RELOC_ERROR_INCORRECT_ITEM;
    }
    memcpy(work.data(), Path, pathLen + 1);
    if (iLogLevel > 2)
      reloc_logf(3500, "path relocation: matching [%s] ==::== [%s] => [%s]", work.data(),
                 expr->Pattern, expr->Replacement);
    ERROR_CHANGE_PATH rc =
        vrk_change_path(work.data(), expr->Pattern, expr->Replacement, iLogLevel);
    if (rc == VRK_CHANGE_PATH_SKIP) continue;
    if (rc != ERROR_CHG_PATH_OK) {
      if (iLogLevel >= 3)
        reloc_logf(3500, "ERROR: GetRelocByPath() while calling vrk_change_path()");
      return RELOC_ERROR_CANT_PERFORM_MATCHING;
    }
    *RelocatedPath = strdup(work.data());
    if (*RelocatedPath == nullptr) {
      reloc_logf(3500, "ERROR: GetRelocByPath() relocation failed - can't allocate memory");
      return RELOC_ERROR_CANT_PERFORM_MATCHING;
    }
    if (iLogLevel > 1 && g_kv_log_ptr != nullptr) g_kv_log_ptr(3258, Path, *RelocatedPath);
    return RELOC_ERROR_OK;
  }
  return RELOC_ERROR_SKIP_ITEM;
}

RELOC_ERROR GetRelocByPathExt(PathRelocContext *context, const PATH_TYPE *Path,
                              PATH_TYPE **RelocatedPath, BOOL UseDefault, int iLogLevel) {
  RELOC_ERROR rc = GetRelocByPath(context, Path, RelocatedPath, iLogLevel);
  if (rc == RELOC_ERROR_CANT_PERFORM_MATCHING && UseDefault) {
    if (iLogLevel > 2) reloc_logf(3500, "Trying to get default replacement");
    rc = GetRelocByPath(context, "", RelocatedPath, iLogLevel);
  }
  return rc;
}
