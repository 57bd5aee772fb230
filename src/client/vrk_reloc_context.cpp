// The relocation context: creating it, adding expressions, copying them out,
// counting and destroying them.
#include <stdlib.h>
#include <string.h>

#include "client/vrk_reloc_log.h"
#include "client/vrk_relocation.h"

PathRelocContext *CreatePathRelocContext(void) {
  PathRelocContext *ctx = static_cast<PathRelocContext *>(calloc(1, sizeof(PathRelocContext)));
  if (ctx == nullptr) return nullptr;
  ctx->RelocExpressions = ConsLL();
  if (ctx->RelocExpressions == nullptr) {
    free(ctx);
    return nullptr;
  }
  return ctx;
}

BOOL IsRelocInvolved(const PathRelocContext *Context) {
  return (Context != nullptr && Context->RelocExpressions != nullptr) ? TRUE : FALSE;
}

RELOC_ERROR AddRelocExpression(PathRelocContext *Context, const PATH_TYPE *RelocPattern,
                               const PATH_TYPE *Replacement, int iLogLevel) {
  if (Context == nullptr || RelocPattern == nullptr || Replacement == nullptr) {
    if (iLogLevel >= 3)
      reloc_logf(3500, "ERROR: AddRelocExpression(): incorrect parameterss indicated");
    return RELOC_ERROR_INCORRECT_PARAM;
  }
  if (Context->RelocExpressions == nullptr) {
    reloc_logf(3500, "ERROR: AddRelocExpression(): Context not initialized");
    return RELOC_ERROR_INCORRECT_PARAM;
  }
  RelocExpression expr;
  expr.Pattern = strdup(RelocPattern);
  if (expr.Pattern == nullptr) {
    if (iLogLevel > 2)
      reloc_logf(3500, "ERROR: AddRelocExpression(): Can't allocate memory for pattern");
    return RELOC_ERROR_CANT_ADD_RELOC_EXPR;
  }
  expr.Replacement = strdup(Replacement);
  if (expr.Replacement == nullptr) {
    free(expr.Pattern);
    if (iLogLevel > 2)
      reloc_logf(3500, "ERROR: AddRelocExpression(): Can't allocate memory for replacement");
    return RELOC_ERROR_CANT_ADD_RELOC_EXPR;
  }
  if (InsLastLLf(Context->RelocExpressions, sizeof(expr), &expr) == nullptr) {
    free(expr.Pattern);
    free(expr.Replacement);
    if (iLogLevel > 2) reloc_logf(3500, "ERROR: AddRelocExpression(): Can't add item to list");
    return RELOC_ERROR_CANT_ADD_RELOC_EXPR;
  }
  if (iLogLevel >= 3)
    reloc_logf(3500, "Relocation expression registered: %s => %s", RelocPattern, Replacement);
  return RELOC_ERROR_OK;
}

RelocExpression *GetReloc(PathRelocContext *context) {
  if (!IsRelocInvolved(context)) return nullptr;
  size_t total = SizeLL(context->RelocExpressions);
  RelocExpression *arr = static_cast<RelocExpression *>(calloc(total + 1, sizeof(RelocExpression)));
  if (arr == nullptr) return nullptr;
  size_t n = 0;
  for (void *el = FirstElmLL(context->RelocExpressions); IsElmLL(el) && n < total;
       el = NextElmLL(el)) {
    const RelocExpression *src = static_cast<const RelocExpression *>(el);
    if (src->Pattern == nullptr || src->Replacement == nullptr) break;
    arr[n].Pattern = strdup(src->Pattern);
    arr[n].Replacement = strdup(src->Replacement);
    if (arr[n].Pattern == nullptr || arr[n].Replacement == nullptr) {
      // Out of memory: give back everything rather than a cut array.
      free(arr[n].Pattern);
      free(arr[n].Replacement);
      arr[n].Pattern = arr[n].Replacement = nullptr;
      FreeRelocExpressionArray(arr);
      return nullptr;
    }
    ++n;
  }
  return arr;
}

void FreeRelocExpressionArray(RelocExpression *re) {
  if (re == nullptr) return;
  for (RelocExpression *p = re; p->Pattern != nullptr || p->Replacement != nullptr; ++p) {
    free(p->Pattern);
    free(p->Replacement);
  }
  free(re);
}

int TotalRelocExpressions(PathRelocContext *context) {
  if (!IsRelocInvolved(context)) return 0;
  return static_cast<int>(SizeLL(context->RelocExpressions));
}

void DestroyPathRelocContext(PathRelocContext *Context) {
  if (!IsRelocInvolved(Context)) return;
  for (void *el = FirstElmLL(Context->RelocExpressions); IsElmLL(el); el = NextElmLL(el)) {
    RelocExpression *expr = static_cast<RelocExpression *>(el);
    free(expr->Pattern);
    free(expr->Replacement);
    expr->Pattern = expr->Replacement = nullptr;
  }
  DestLL(Context->RelocExpressions);
  Context->RelocExpressions = nullptr;
}
