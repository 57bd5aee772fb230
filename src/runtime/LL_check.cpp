// Consistency check of a list: walks the ring both ways and reports broken
// links and sizes on standard error without changing anything.
#include <stdio.h>

#include "runtime/LL.h"
#include "runtime/LL_internal.h"

t_LL dbLL = NULL;

// Bound of each walk of the check.
static const unsigned long maxSize = 4294967294UL;

static unsigned long CountWalk(t_LL list, BOOL forward) {
  unsigned long n = 0;
  l_list *p = forward ? list->forward : list->backward;
  while (p != NULL && p != list && n < maxSize) {
    n++;
    p = forward ? p->forward : p->backward;
  }
  return n;
}

BOOL ConsistentLL(t_LL list) {
  BOOL ok = TRUE;
  if (list == NULL) {
    fprintf(stderr, "the t_LL pointer == NULL, list corrupted\n");
    return FALSE;
  }
  if (list->forward == NULL) {
    fprintf(stderr, "head->forward == NULL!, list corrupted \n");
    return FALSE;
  }
  if (list->backward == NULL) {
    fprintf(stderr, "head->backward == NULL!, list corrupted \n");
    return FALSE;
  }
  if (list->size != 0) {
    fprintf(stderr, "head->size not equal 0.\n");
    ok = FALSE;
  }
  // Both ends on one link: an empty list, or a single element that must
  // link back to the head both ways.
  l_list *only = list->forward;
  if (only == list->backward && only != list && (only->forward != list || only->backward != list)) {
    fprintf(stderr,
            "head->forward == head->backward (true for empty lists only), but\n"
            "head->forward != head (should be == for an empty list)\nlist corrupted \n");
    return FALSE;
  }
  unsigned long fwd = CountWalk(list, TRUE);
  unsigned long bwd = CountWalk(list, FALSE);
  if (fwd != bwd) {
    fprintf(stderr, "different size for b/f directions. forward: %ld  backward: %ld\nlist corrupted\n", (long)fwd,
            (long)bwd);
    return FALSE;
  }
  if (fwd == maxSize) {
    fprintf(stderr, "list size >maxSize(%ld)\n", (long)maxSize);
    return FALSE;
  }
  int no = 1;
  for (l_list *p = list->forward; p != NULL && p != list; p = p->forward, no++) {
    if (p->size == 0) {
      fprintf(stderr, "element no: %d has link->size == 0.\n", no);
      ok = FALSE;
    }
    if (p->forward == NULL || p->forward->backward != p) {
      fprintf(stderr, "link->forward->backward != link at elem no: %d\n", no);
      ok = FALSE;
    }
    if (p->backward == NULL || p->backward->forward != p) {
      fprintf(stderr, "link->backward->forward != link at elem no: %d\n", no);
      ok = FALSE;
    }
  }
  if (list->forward->backward != list) {
    fprintf(stderr, "head->forward->backward != head\n");
    ok = FALSE;
  }
  if (list->backward->forward != list) {
    fprintf(stderr, "head->backward->forward != head\n");
    ok = FALSE;
  }
  return ok;
}

void DebugLL(void) { ConsistentLL(dbLL); }
