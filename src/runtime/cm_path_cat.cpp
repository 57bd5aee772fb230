// PathCatSpecial: path joining for restore relocation; a join that does not
// fit its buffer is refused rather than written past the buffer's end.
#include "runtime/cm_path_cat.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/vrk_log.h"

PATH_CAT_ERROR PathCatSpecialEx(CHAR_TYPE *path_dest, size_t dest_size, CHAR_TYPE *path_src,
                                CHAR_TYPE **cat_result_buf, size_t result_size, PATH_CAT_POLICY policy) {
  if (path_dest == NULL || path_src == NULL) return PATH_CAT_ERROR_INCORRECT_ARGS;
  const bool alloc = (policy & PATH_CAT_POLICY_ALLOC_OUT_BUF) != 0;
  if (alloc && (cat_result_buf == NULL || *cat_result_buf == NULL)) return PATH_CAT_ERROR_INCORRECT_ARGS;

  trace("%l5 PathCatSpecial: source %s", path_src);
  CHAR_TYPE *rest = path_src;

  // Network share: "//server/share/dir" continues as "/dir".
  if (rest[0] == '/' && rest[1] == '/') {
    trace("%l5 PathCatSpecial: skip Network Share in [%s]", rest);
    rest += 2;
    CHAR_TYPE *slash = strchr(rest, '/');
    if (slash != NULL) {
      rest = slash;
      slash = strchr(rest + 1, '/');
      if (slash != NULL) rest = slash;
    }
    trace("%l5 PathCatSpecial: >>> [%s]", rest);
  }

  const size_t destLen = strlen(path_dest);
  if (policy & PATH_CAT_POLICY_SKIP_DRIVE_LETTER) {
    trace("%l5 PathCatSpecial: skip DRIVE LETTER in [%s]", rest);
    CHAR_TYPE *colon = strchr(rest, ':');
    if (colon != NULL) {
      rest = colon + 1;
      if (*rest == '/' && destLen > 0 && path_dest[destLen - 1] == '/') rest++;
    }
    trace("%l5 PathCatSpecial: skipped DRIVE LETTER in [%s]", rest);
  }

  if (policy & PATH_CAT_POLICY_TREAT_DRIVE_AS_DIR) {
    // "C:/dir" continues as "C\dir"; the change is made in the source.
    CHAR_TYPE *colon = strchr(rest, ':');
    if (colon != NULL) {
      *colon = '\\';
      if (colon[1] != '\0') memmove(colon + 1, colon + 2, strlen(colon + 2) + 1);
    }
  }

  // The rest is copied first: the result buffer may be the source's own.
  std::string joined(path_dest);
  joined += rest;
  CHAR_TYPE *out;
  if (alloc) {
    out = (CHAR_TYPE *)malloc(destLen + strlen(path_src) + 1);
    if (out == NULL) return PATH_CAT_CANT_ALLOC_MEMORY;
    memcpy(out, joined.c_str(), joined.size() + 1);
    *cat_result_buf = out;
  } else if (cat_result_buf == NULL || *cat_result_buf == NULL) {
    if (joined.size() >= dest_size) {
      trace("%l5 PathCatSpecial: [%s] + [%s] exceeds %lu bytes", path_dest, rest, (unsigned long)dest_size);
      return PATH_CAT_ERROR_INCORRECT_ARGS;
    }
    memcpy(path_dest, joined.c_str(), joined.size() + 1);
    out = path_dest;
  } else {
    if (joined.size() >= result_size) {
      trace("%l5 PathCatSpecial: [%s] + [%s] exceeds %lu bytes", path_dest, rest, (unsigned long)result_size);
      return PATH_CAT_ERROR_INCORRECT_ARGS;
    }
    out = *cat_result_buf;
    memcpy(out, joined.c_str(), joined.size() + 1);
  }
  trace("%l5 PathCatSpecial: dest [%s]", path_dest);

  if ((policy & PATH_CAT_POLICY_NORMALIZE_SLASHES) && cat_result_buf != NULL && *cat_result_buf != NULL) {
    for (CHAR_TYPE *p = *cat_result_buf; *p != '\0'; p++)
      if (*p == '/') *p = '\\';
  }
  trace("%l5 PathCatSpecial: ==> [%s]", out);
  return PATH_CAT_ERROR_OK;
}

PATH_CAT_ERROR PathCatSpecial(CHAR_TYPE *path_dest, CHAR_TYPE *path_src, CHAR_TYPE **cat_result_buf,
                              PATH_CAT_POLICY policy) {
  return PathCatSpecialEx(path_dest, PATH_CAT_BUFFER_SIZE, path_src, cat_result_buf, PATH_CAT_BUFFER_SIZE,
                          policy);
}
