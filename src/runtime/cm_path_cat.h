// Joining a destination and a source path for relocated restores, with the
// network-share, drive-letter and slash policies; every result is bounded.
#ifndef VRK_RUNTIME_CM_PATH_CAT_H
#define VRK_RUNTIME_CM_PATH_CAT_H

#include <stddef.h>

#include "runtime/strlib.h"

enum {
  PATH_CAT_POLICY_PLAIN_CAT = 0,
  PATH_CAT_POLICY_SKIP_DRIVE_LETTER = 1,
  PATH_CAT_POLICY_TREAT_DRIVE_AS_DIR = 2,
  PATH_CAT_POLICY_ALLOC_OUT_BUF = 4,
  PATH_CAT_POLICY_NORMALIZE_SLASHES = 8
};
// A set of the PATH_CAT_POLICY_* flags.
typedef unsigned int PATH_CAT_POLICY;

typedef enum PATH_CAT_ERROR {
  PATH_CAT_ERROR_OK = 0,
  PATH_CAT_ERROR_INCORRECT_ARGS = 1,
  PATH_CAT_CANT_ALLOC_MEMORY = 2,
  PATH_CAT_UNKNOWN_ERROR = 3
} PATH_CAT_ERROR;

// Size that PathCatSpecial assumes for a caller's buffer (path_dest when the
// join stays there, *cat_result_buf otherwise): the runtime's path buffers.
#define PATH_CAT_BUFFER_SIZE 4096

// Joins path_dest and the rest of path_src (see the policies) without
// inserting a separator. Without a result buffer (cat_result_buf or
// *cat_result_buf NULL) the rest is appended to path_dest; otherwise
// *cat_result_buf receives path_dest followed by the rest (it may be
// path_src's own buffer). With PATH_CAT_POLICY_ALLOC_OUT_BUF, *cat_result_buf
// (which must not be NULL) is replaced by a new buffer that the caller frees.
// Paths whose join does not fit the buffer that is to receive it are
// incorrect arguments (PATH_CAT_ERROR_INCORRECT_ARGS): nothing is written.
PATH_CAT_ERROR PathCatSpecial(CHAR_TYPE *path_dest, CHAR_TYPE *path_src, CHAR_TYPE **cat_result_buf,
                              PATH_CAT_POLICY policy);
// The same with the sizes of the receiving buffers given: dest_size for
// path_dest, result_size for a caller's *cat_result_buf.
PATH_CAT_ERROR PathCatSpecialEx(CHAR_TYPE *path_dest, size_t dest_size, CHAR_TYPE *path_src,
                                CHAR_TYPE **cat_result_buf, size_t result_size, PATH_CAT_POLICY policy);

#endif
