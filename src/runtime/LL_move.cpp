// Moving chains of links between lists or within one list, without any
// allocation: whole lists, heads up to an element, tails from an element.
#include "runtime/LL.h"
#include "runtime/LL_internal.h"

void CutPaste(l_list *first_out, l_list *first_not_out, l_list *dest) {
  if (first_out == first_not_out) return;  // empty chain
  l_list *last_out = first_not_out->backward;
  // Behind its own last link the chain already stands where it should go.
  if (dest == last_out) return;
  first_out->backward->forward = first_not_out;
  first_not_out->backward = first_out->backward;
  last_out->forward = dest->forward;
  dest->forward->backward = last_out;
  dest->forward = first_out;
  first_out->backward = dest;
}

t_LL MoveListFirstLL(t_LL dest, t_LL src) {
  CutPaste(src->forward, src, dest);
  return dest;
}
t_LL MoveListLastLL(t_LL dest, t_LL src) {
  CutPaste(src->forward, src, dest->backward);
  return dest;
}
void *MoveListAftLL(void *el, t_LL src) {
  CutPaste(src->forward, src, LL_link(el));
  return el;
}
void *MoveListBefLL(void *el, t_LL src) {
  CutPaste(src->forward, src, LL_link(el)->backward);
  return el;
}

t_LL MoveHeadFirstLL(t_LL dest, t_LL src, void *head) {
  CutPaste(src->forward, LL_link(head), dest);
  return dest;
}
t_LL MoveHeadLastLL(t_LL dest, t_LL src, void *head) {
  CutPaste(src->forward, LL_link(head), dest->backward);
  return dest;
}
void *MoveHeadAftLL(void *el, t_LL src, void *head) {
  CutPaste(src->forward, LL_link(head), LL_link(el));
  return el;
}
void *MoveHeadBefLL(void *el, t_LL src, void *head) {
  CutPaste(src->forward, LL_link(head), LL_link(el)->backward);
  return el;
}

t_LL MoveTailFirstLL(t_LL dest, t_LL src, void *tail) {
  CutPaste(LL_link(tail), src, dest);
  return dest;
}
t_LL MoveTailLastLL(t_LL dest, t_LL src, void *tail) {
  CutPaste(LL_link(tail), src, dest->backward);
  return dest;
}
void *MoveTailAftLL(void *el, t_LL src, void *tail) {
  CutPaste(LL_link(tail), src, LL_link(el));
  return el;
}
void *MoveTailBefLL(void *el, t_LL src, void *tail) {
  CutPaste(LL_link(tail), src, LL_link(el)->backward);
  return el;
}
