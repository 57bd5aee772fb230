// Whole-list operations of the list library: apply, reverse, pointer and
// copy lists, pointer arrays and the checked string copy.
#include <stdlib.h>
#include <string.h>

#include "runtime/LL.h"
#include "runtime/LL_internal.h"

void *ApplyLL(t_LL list, void *(*apply)(void *el)) {
  void *el = FirstElmLL(list);
  while (IsElmLL(el)) {
    void *next = NextElmLL(el);  // apply may delete its element
    void *r = apply(el);
    if (r != NULL) return r;
    el = next;
  }
  return NULL;
}

t_LL ReverseLL(t_LL list) {
  l_list *p = list;
  do {
    l_list *f = p->forward;
    p->forward = p->backward;
    p->backward = f;
    p = f;
  } while (p != list);
  return list;
}

t_LL ConsPtrLL(t_LL src) {
  t_LL list = ConsLL();
  for (void *el = FirstElmLL(src); IsElmLL(el); el = NextElmLL(el)) InsLastLLf(list, sizeof(void *), &el);
  return list;
}

t_LL ConsCopyLL(t_LL src) {
  t_LL list = ConsLL();
  for (void *el = FirstElmLL(src); IsElmLL(el); el = NextElmLL(el)) InsLastLLf(list, IsElmLL(el), el);
  return list;
}

void **LookInLL(t_LL list) {
  size_t n = SizeLL(list);
  void **arr = static_cast<void **>(malloc((n + 1) * sizeof(void *)));
  if (arr == NULL) LL_NoMemory("LookInLL");
  arr[0] = list;
  size_t i = 1;
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el)) arr[i++] = el;
  return arr;
}

char **LL2ArrStr(t_LL list) {
  size_t n = SizeLL(list);
  char **arr = static_cast<char **>(malloc((n + 1) * sizeof(char *)));
  if (arr == NULL) LL_NoMemory("LL2ArrStr");
  size_t i = 0;
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el)) arr[i++] = static_cast<char *>(el);
  arr[i] = NULL;
  return arr;
}

char *LL_strdup(const char *s) {
  if (s == NULL) {
    fprintf(stderr, "NULL passed to strdup \n");
    exit(-1);
  }
  size_t len = strlen(s) + 1;
  char *copy = static_cast<char *>(malloc(len));
  if (copy == NULL) {
    fprintf(stderr, "malloc returned NULL in strdup\n");
    exit(-1);
  }
  memcpy(copy, s, len);
  return copy;
}
