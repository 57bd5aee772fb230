// Sorting of lists: the qsort-based SysSortLL over an array of data pointers
// and the stable MergeSortLL that relinks the forward chain.
#include <stdlib.h>

#include "runtime/LL.h"
#include "runtime/LL_internal.h"

static t_LLcompare UserCompare;
static t_LLcompare listcompare;

static int IntCompare(const void *a, const void *b) {
  return UserCompare(*static_cast<void *const *>(a), *static_cast<void *const *>(b));
}

t_LL SysSortLL(t_LL list, t_LLcompare compar) {
  size_t n = SizeLL(list);
  if (n < 2) return list;
  void **arr = static_cast<void **>(malloc(n * sizeof(void *)));
  if (arr == NULL) LL_NoMemory("SysSortLL");
  size_t i = 0;
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el)) arr[i++] = el;
  UserCompare = compar;
  qsort(arr, n, sizeof(void *), IntCompare);
  InitLL(list);
  for (i = 0; i < n; i++) LinkLastLL(list, arr[i]);
  free(arr);
  return list;
}

// Sorts the n links of the forward chain starting at first; returns the new
// first link. *rest receives the link that followed the n links.
static l_list *listsort(l_list *first, size_t n, l_list **rest) {
  if (n == 1) {
    *rest = first->forward;
    first->forward = NULL;
    return first;
  }
  l_list *mid;
  l_list *a = listsort(first, n - n / 2, &mid);
  l_list *b = listsort(mid, n / 2, rest);
  l_list merged;
  l_list *tail = &merged;
  while (a != NULL && b != NULL) {
    if (listcompare(LL_data(a), LL_data(b)) <= 0) {
      tail->forward = a;
      a = a->forward;
    } else {
      tail->forward = b;
      b = b->forward;
    }
    tail = tail->forward;
  }
  tail->forward = a != NULL ? a : b;
  return merged.forward;
}

t_LL MergeSortLL(t_LL list, t_LLcompare compar) {
  size_t n = SizeLL(list);
  if (n < 2) return list;
  listcompare = compar;
  l_list *rest;
  list->forward = listsort(list->forward, n, &rest);
  l_list *prev = list;
  for (l_list *p = list->forward; p != NULL; p = p->forward) {
    p->backward = prev;
    prev = p;
  }
  prev->forward = list;
  list->backward = prev;
  return list;
}
