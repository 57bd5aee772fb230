// Circular doubly linked lists whose elements carry a private copy of their
// data; callers hold data pointers, the link header sits just in front.
#ifndef VRK_RUNTIME_LL_H
#define VRK_RUNTIME_LL_H

#include <stddef.h>
#include <stdio.h>

#include "runtime/vrk_types.h"

// The link header. It is padded to the strictest fundamental alignment so
// that the data behind it is suitably aligned for any type.
typedef struct alignas(alignof(max_align_t)) s_list {
  struct s_list *forward;   // next link
  struct s_list *backward;  // previous link
  size_t size;              // data bytes behind the header; 0 marks the head
} l_list;

// The list head is a bare link header; its data slot is the end marker.
typedef l_list s_LL;
typedef s_LL *t_LL;

// Linking primitives for the generic insertions: put newLink after or before li.
typedef void (*t_linkin)(l_list *li, l_list *newLink);
void LinkAfter(l_list *li, l_list *newLink);
void LinkBefore(l_list *li, l_list *newLink);

// Comparator of two data pointers (less than, equal to or greater than 0).
typedef int (*t_LLcompare)(const void *a, const void *b);

// Creation and state.
t_LL ConsLL(void);
t_LL InitLL(s_LL *head);
BOOL IsEmptyLL(t_LL list);
size_t SizeLL(t_LL list);
t_LL EmptyLL(t_LL list);
t_LL DestLL(t_LL list);

// Insertion of a copy of size bytes from data (zero-filled when data is
// NULL); the result is the new element's data. Size 0 is refused (NULL).
void *InsLLf(l_list *li, size_t size, const void *data, t_linkin linkin);
void *InsFirstLLf(t_LL list, size_t size, const void *data);
void *InsLastLLf(t_LL list, size_t size, const void *data);
void *InsBefLLf(void *el, size_t size, const void *data);
void *InsAftLLf(void *el, size_t size, const void *data);

// Linking of an element the caller allocated: sizeof(l_list) bytes of header
// room in front of newEl. The size is set, nothing is copied.
void *LinkInsLLf(l_list *li, size_t size, void *newEl, t_linkin linkin);
void *LinkInsFirstLLf(t_LL list, size_t size, void *newEl);
void *LinkInsLastLLf(t_LL list, size_t size, void *newEl);
void *LinkInsBefLLf(void *el, size_t size, void *newEl);
void *LinkInsAftLLf(void *el, size_t size, void *newEl);

// Relinking of an unlinked element, its size kept.
void *LinkFirstLL(t_LL list, void *newEl);
void *LinkLastLL(t_LL list, void *newEl);
void *LinkAftLL(void *curr, void *newEl);
void *LinkBefLL(void *curr, void *newEl);

// Unlinking without freeing.
void *UnlinkLL(void *el);
void *UnlinkNeLL(void *el);
void *UnlinkPrLL(void *el);

// Deleting (unlink and free).
void DelElmLL(void *el);
void *DelElmNeLL(void *el);
void *DelElmPrLL(void *el);

// Navigation; past either end the head's data slot (end marker) is returned.
void *FirstElmLL(t_LL list);
void *LastElmLL(t_LL list);
void *NextElmLL(void *el);
void *PrevElmLL(void *el);
void *NextCElmLL(void *el);
void *PrevCElmLL(void *el);
void *NthElmLL(t_LL list, size_t num);
void *RelNthElmLL(void *el, size_t num);
size_t IsElmLL(void *el);
BOOL IsLastElmLL(void *el);
BOOL IsFirstElmLL(void *el);
BOOL IsNthElmLL(t_LL list, size_t n, void *el);
size_t IndexElmLL(t_LL list, void *ind_el);

// Whole lists.
void *ApplyLL(t_LL list, void *(*apply)(void *el));
t_LL ReverseLL(t_LL list);
t_LL ConsPtrLL(t_LL src);
t_LL ConsCopyLL(t_LL src);
void **LookInLL(t_LL list);
char **LL2ArrStr(t_LL list);
char *LL_strdup(const char *s);

// Moving chains: the links from first_out up to, not including,
// first_not_out go just behind dest.
void CutPaste(l_list *first_out, l_list *first_not_out, l_list *dest);
t_LL MoveListFirstLL(t_LL dest, t_LL src);
t_LL MoveListLastLL(t_LL dest, t_LL src);
void *MoveListAftLL(void *el, t_LL src);
void *MoveListBefLL(void *el, t_LL src);
t_LL MoveHeadFirstLL(t_LL dest, t_LL src, void *head);
t_LL MoveHeadLastLL(t_LL dest, t_LL src, void *head);
void *MoveHeadAftLL(void *el, t_LL src, void *head);
void *MoveHeadBefLL(void *el, t_LL src, void *head);
t_LL MoveTailFirstLL(t_LL dest, t_LL src, void *tail);
t_LL MoveTailLastLL(t_LL dest, t_LL src, void *tail);
void *MoveTailAftLL(void *el, t_LL src, void *tail);
void *MoveTailBefLL(void *el, t_LL src, void *tail);

// Sorting: qsort based (order of equal elements not kept) and stable merge.
t_LL SysSortLL(t_LL list, t_LLcompare compar);
t_LL MergeSortLL(t_LL list, t_LLcompare compar);

// Printing and scanning of element fields (see LL_print.cpp, LL_scan.cpp).
void FprintLL(t_LL list, FILE *file, const char *bef, const char *control, const char *aft);
void printLL(t_LL list, const char *control);
char *SprintLL(t_LL list, char *string, const char *bef, const char *control, const char *aft);
char *GenPrintLL(t_LL list, const char *bef, const char *control, const char *aft, int out);
char *SscanLL(t_LL list, const char *String, const char *control, int termination);

// Checking: findings go to standard error; TRUE when nothing was found.
BOOL ConsistentLL(t_LL list);
extern t_LL dbLL;
void DebugLL(void);

#endif
