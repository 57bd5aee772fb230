// The list core: creation, insertion, linking, unlinking, deleting and
// navigation of the circular doubly linked lists.
#include "runtime/LL.h"

#include <stdlib.h>
#include <string.h>

#include "runtime/LL_internal.h"

void LL_NoMemory(const char *where) {
  fprintf(stderr, "In %s: %s \n", where, "malloc returned NULL");
  exit(-1);
}

void LinkAfter(l_list *li, l_list *newLink) {
  newLink->forward = li->forward;
  newLink->backward = li;
  li->forward->backward = newLink;
  li->forward = newLink;
}

void LinkBefore(l_list *li, l_list *newLink) { LinkAfter(li->backward, newLink); }

t_LL ConsLL(void) {
  t_LL list = static_cast<t_LL>(malloc(sizeof(s_LL)));
  if (list == NULL) LL_NoMemory("CreatLL");
  return InitLL(list);
}

t_LL InitLL(s_LL *head) {
  head->forward = head;
  head->backward = head;
  head->size = 0;
  return head;
}

BOOL IsEmptyLL(t_LL list) { return list->forward == list; }

size_t SizeLL(t_LL list) {
  size_t n = 0;
  for (l_list *p = list->forward; p != list; p = p->forward) n++;
  return n;
}

t_LL EmptyLL(t_LL list) {
  l_list *p = list->forward;
  while (p != list) {
    l_list *next = p->forward;
    free(p);
    p = next;
  }
  return InitLL(list);
}

t_LL DestLL(t_LL list) {
  EmptyLL(list);
  free(list);
  return NULL;
}

// An element of size 0 would read as the end marker and cut every walk short.
static BOOL SizeRefused(const char *where, size_t size) {
  if (size != 0) return FALSE;
  fprintf(stderr, "In %s: %s \n", where, "element size 0");
  return TRUE;
}

void *InsLLf(l_list *li, size_t size, const void *data, t_linkin linkin) {
  if (SizeRefused("InsLLf", size)) return NULL;
  l_list *link = static_cast<l_list *>(malloc(sizeof(l_list) + size));
  if (link == NULL) LL_NoMemory("InsLLf");
  link->size = size;
  if (data != NULL)
    memcpy(LL_data(link), data, size);
  else
    memset(LL_data(link), 0, size);
  linkin(li, link);
  return LL_data(link);
}

void *InsFirstLLf(t_LL list, size_t size, const void *data) { return InsLLf(list, size, data, LinkAfter); }
void *InsLastLLf(t_LL list, size_t size, const void *data) { return InsLLf(list, size, data, LinkBefore); }
void *InsBefLLf(void *el, size_t size, const void *data) { return InsLLf(LL_link(el), size, data, LinkBefore); }
void *InsAftLLf(void *el, size_t size, const void *data) { return InsLLf(LL_link(el), size, data, LinkAfter); }

void *LinkInsLLf(l_list *li, size_t size, void *newEl, t_linkin linkin) {
  if (SizeRefused("LinkInsLLf", size)) return NULL;
  l_list *link = LL_link(newEl);
  link->size = size;
  linkin(li, link);
  return newEl;
}

void *LinkInsFirstLLf(t_LL list, size_t size, void *newEl) { return LinkInsLLf(list, size, newEl, LinkAfter); }
void *LinkInsLastLLf(t_LL list, size_t size, void *newEl) { return LinkInsLLf(list, size, newEl, LinkBefore); }
void *LinkInsBefLLf(void *el, size_t size, void *newEl) { return LinkInsLLf(LL_link(el), size, newEl, LinkBefore); }
void *LinkInsAftLLf(void *el, size_t size, void *newEl) { return LinkInsLLf(LL_link(el), size, newEl, LinkAfter); }

void *LinkFirstLL(t_LL list, void *newEl) {
  LinkAfter(list, LL_link(newEl));
  return newEl;
}
void *LinkLastLL(t_LL list, void *newEl) {
  LinkBefore(list, LL_link(newEl));
  return newEl;
}
void *LinkAftLL(void *curr, void *newEl) {
  LinkAfter(LL_link(curr), LL_link(newEl));
  return newEl;
}
void *LinkBefLL(void *curr, void *newEl) {
  LinkBefore(LL_link(curr), LL_link(newEl));
  return newEl;
}

void *UnlinkLL(void *el) {
  l_list *link = LL_link(el);
  link->backward->forward = link->forward;
  link->forward->backward = link->backward;
  return el;
}

void *UnlinkNeLL(void *el) {
  void *next = LL_data(LL_link(el)->forward);
  UnlinkLL(el);
  return next;
}

void *UnlinkPrLL(void *el) {
  void *prev = LL_data(LL_link(el)->backward);
  UnlinkLL(el);
  return prev;
}

void DelElmLL(void *el) { free(LL_link(UnlinkLL(el))); }

void *DelElmNeLL(void *el) {
  void *next = UnlinkNeLL(el);
  free(LL_link(el));
  return next;
}

void *DelElmPrLL(void *el) {
  void *prev = UnlinkPrLL(el);
  free(LL_link(el));
  return prev;
}

void *FirstElmLL(t_LL list) { return LL_data(list->forward); }
void *LastElmLL(t_LL list) { return LL_data(list->backward); }
void *NextElmLL(void *el) { return LL_data(LL_link(el)->forward); }
void *PrevElmLL(void *el) { return LL_data(LL_link(el)->backward); }

void *NextCElmLL(void *el) {
  l_list *p = LL_link(el)->forward;
  if (p->size == 0) p = p->forward;
  return LL_data(p);
}

void *PrevCElmLL(void *el) {
  l_list *p = LL_link(el)->backward;
  if (p->size == 0) p = p->backward;
  return LL_data(p);
}

void *RelNthElmLL(void *el, size_t num) {
  l_list *p = LL_link(el);
  while (num-- > 0) p = p->forward;
  return LL_data(p);
}

void *NthElmLL(t_LL list, size_t num) { return RelNthElmLL(LL_data(list), num); }

size_t IsElmLL(void *el) { return LL_link(el)->size; }
BOOL IsLastElmLL(void *el) { return LL_link(el)->forward->size == 0; }
BOOL IsFirstElmLL(void *el) { return LL_link(el)->backward->size == 0; }
BOOL IsNthElmLL(t_LL list, size_t n, void *el) { return NthElmLL(list, n) == el; }

size_t IndexElmLL(t_LL list, void *ind_el) {
  size_t i = 1;
  for (l_list *p = list->forward; p != list; p = p->forward, i++)
    if (LL_data(p) == ind_el) return i;
  return 0;
}
