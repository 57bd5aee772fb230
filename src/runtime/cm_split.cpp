// Splitting a text at every occurrence of a delimiter string into a new
// NULL-terminated array of pieces, and freeing such an array.
#include <stdlib.h>

#include "runtime/strlib.h"

namespace {

void free_pieces(char **list, int count) {
  for (int i = 0; i < count; i++) free(list[i]);
  free(list);
}

}  // namespace

int cm_split(char *Input, char *Delim, char ***List) {
  if (Input == nullptr || Delim == nullptr || List == nullptr) return -1;
  // An empty delimiter would match at the same place for ever.
  size_t dlen = strlen(Delim);
  if (dlen == 0) return -1;
  int room = 10;
  int count = 0;
  char **list = static_cast<char **>(malloc(sizeof(char *) * room));
  if (list == nullptr) return -1;
  const char *start = Input;
  for (;;) {
    const char *hit = strstr(start, Delim);
    size_t len = hit ? static_cast<size_t>(hit - start) : strlen(start);
    if (count == room) {
      char **grown = static_cast<char **>(realloc(list, sizeof(char *) * (room + 10)));
      if (grown == nullptr) {
        free_pieces(list, count);
        return -1;
      }
      list = grown;
      room += 10;
    }
    char *piece = static_cast<char *>(malloc(len + 1));
    if (piece == nullptr) {
      free_pieces(list, count);
      return -1;
    }
    memcpy(piece, start, len);
    piece[len] = '\0';
    list[count++] = piece;
    if (hit == nullptr) break;
    start = hit + dlen;
  }
  if (room < count + 2) {
    char **grown = static_cast<char **>(realloc(list, sizeof(char *) * (count + 2)));
    if (grown == nullptr) {
      free_pieces(list, count);
      return -1;
    }
    list = grown;
  }
  list[count] = nullptr;
  *List = list;
  return count;
}

void FreeSplitList(char **List) {
  if (List == nullptr) return;
  for (char **p = List; *p != nullptr; p++) free(*p);
  free(List);
}
