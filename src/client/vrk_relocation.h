// Restore relocation: the raw -R arguments, their pattern and replacement
// rows, and the ordered list of relocation expressions applied to paths.
#ifndef VRK_CLIENT_VRK_RELOCATION_H
#define VRK_CLIENT_VRK_RELOCATION_H

#include "runtime/LL.h"
#include "runtime/vrk_types.h"

typedef char PATH_TYPE;

// Most items one raw relocation argument may be cut into; an argument with
// this many items or more is refused.
#define VRK_RELOC_MAX_ITEMS 80

// Length of the work buffer in which GetRelocByPath relocates a path.
#define VRK_RELOC_WORK_PATH 32767

typedef enum RELOC_ERROR {
  RELOC_ERROR_OK = 0,
  RELOC_ERROR_NOT_IMPLEMENTED = 1,
  RELOC_ERROR_INCORRECT_PARAM = 2,
  RELOC_ERROR_CANT_ADD_RELOC_EXPR = 3,
  RELOC_ERROR_CANT_ADD_RELOC_ARG = 4,
  RELOC_ERROR_CANT_PERFORM_MATCHING = 5,
  RELOC_ERROR_INCORRECT_ITEM = 6,
  RELOC_ERROR_CMDLINE_ARGUMENT_PROCESSING_FAILED = 7,
  RELOC_ERROR_CANT_SETUP_RELOCATION_PATH = 8,
  RELOC_ERROR_CANT_INIT_STORAGE = 9,
  RELOC_ERROR_SKIP_ITEM = 10
} RELOC_ERROR;

// One expression: a regular-expression prefix and its replacement, both heap
// texts. An empty pattern marks the default expression, whose replacement is
// a directory put in front of the path.
typedef struct RelocExpression {
  PATH_TYPE *Pattern;
  PATH_TYPE *Replacement;
} RelocExpression;

// The expressions in the order they were added; the first added is tried
// first. Elements of the list are RelocExpression records.
struct PathRelocContext {
  t_LL RelocExpressions;
};
typedef struct PathRelocContext PathRelocContext;

typedef RELOC_ERROR (*RELOC_ARGS_CALLBACK)(const char *RelocArg,
                                           PathRelocContext **RelocationContext,
                                           const char *szRelocDelimiter, char **szPath,
                                           char **szTargetPath, int iLogLevel);

// Keeps a copy of a raw relocation argument for ForEachRelocArg.
RELOC_ERROR SaveRawRelocArg(const char *RelocArg, int iLogLevel);

// Calls CallbackFn for every saved raw argument in order; the first failure
// ends the walk with RELOC_ERROR_CMDLINE_ARGUMENT_PROCESSING_FAILED.
// szPath and szTargetPath are tables of 256 row pointers (4096 bytes a row).
RELOC_ERROR ForEachRelocArg(PathRelocContext **RelocationContext, const char *szRelocDelimiter,
                            char **szPath, char **szTargetPath, RELOC_ARGS_CALLBACK CallbackFn,
                            int iLogLevel);

// Cuts one raw argument at the delimiter, fills the pattern and target rows
// and adds the expressions to the context (created when needed).
RELOC_ERROR ProcessRelocArgs(const char *RelocArg, PathRelocContext **RelocationContext,
                             const char *szRelocDelimiter, char **szPath, char **szTargetPath,
                             int iLogLevel);

// Pairs the items into the rows of *szPath (patterns) and *szTargetPath
// (replacements); 1 on success, 0 on failure.
int vrk_path_relocation_setup(char ***szPath, char ***szTargetPath, char **cpItem, int iTotalItems,
                              int iLogLevel);

// A new context with an empty list, or NULL when memory runs out.
PathRelocContext *CreatePathRelocContext(void);

// TRUE when the context exists and has its list.
BOOL IsRelocInvolved(const PathRelocContext *Context);

// Appends a copy of the pair to the context's list.
RELOC_ERROR AddRelocExpression(PathRelocContext *Context, const PATH_TYPE *RelocPattern,
                               const PATH_TYPE *Replacement, int iLogLevel);

// Relocates Path by the first expression that applies; *RelocatedPath gets a
// heap copy of the result that the caller frees. RELOC_ERROR_SKIP_ITEM when
// no expression applies.
RELOC_ERROR GetRelocByPath(PathRelocContext *context, const PATH_TYPE *Path,
                           PATH_TYPE **RelocatedPath, int iLogLevel);

// As GetRelocByPath; when matching fails and UseDefault is TRUE, tries again
// with the empty path so that only the default expression can apply.
RELOC_ERROR GetRelocByPathExt(PathRelocContext *context, const PATH_TYPE *Path,
                              PATH_TYPE **RelocatedPath, BOOL UseDefault, int iLogLevel);

// A heap array of copies of the expressions, ended by an element whose two
// pointers are NULL; NULL without a context or when memory runs out.
RelocExpression *GetReloc(PathRelocContext *context);

// Frees an array made by GetReloc.
void FreeRelocExpressionArray(RelocExpression *re);

// The number of expressions; 0 without a context.
int TotalRelocExpressions(PathRelocContext *context);

// Frees every expression and the list and sets the list pointer to NULL; the
// context record itself stays with the caller.
void DestroyPathRelocContext(PathRelocContext *Context);

// Forgets the saved raw arguments and the registered default, as at process
// start. The client never calls it; tests use it between cases.
void ResetRelocState(void);

#endif
