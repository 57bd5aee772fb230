// Tests of the linked lists: insertion, deletion while walking, navigation,
// moves, sorting, printing and scanning, and the consistency check.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/LL.h"

namespace {

t_LL IntList(const std::vector<int32_t> &values) {
  t_LL list = ConsLL();
  for (int32_t v : values) InsLastLLf(list, sizeof(v), &v);
  return list;
}

std::vector<int32_t> Ints(t_LL list) {
  std::vector<int32_t> out;
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el)) out.push_back(*static_cast<int32_t *>(el));
  return out;
}

std::vector<int32_t> IntsBackward(t_LL list) {
  std::vector<int32_t> out;
  for (void *el = LastElmLL(list); IsElmLL(el); el = PrevElmLL(el)) out.insert(out.begin(), *static_cast<int32_t *>(el));
  return out;
}

// Contents in both directions agree and ConsistentLL finds nothing.
void ExpectList(t_LL list, const std::vector<int32_t> &want) {
  EXPECT_EQ(want, Ints(list));
  EXPECT_EQ(want, IntsBackward(list));
  EXPECT_EQ(want.size(), SizeLL(list));
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ConsistentLL(list));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

int CompareStr(const void *a, const void *b) { return strcmp(static_cast<const char *>(a), static_cast<const char *>(b)); }
int CompareFirstInt(const void *a, const void *b) {
  int32_t x = static_cast<const int32_t *>(a)[0], y = static_cast<const int32_t *>(b)[0];
  return (x > y) - (x < y);
}

}  // namespace

TEST(LL, EmptyListNavigationEndsAtMarker) {
  t_LL list = ConsLL();
  EXPECT_TRUE(IsEmptyLL(list));
  EXPECT_EQ(0u, SizeLL(list));
  void *end = FirstElmLL(list);
  EXPECT_EQ(0u, IsElmLL(end));
  EXPECT_EQ(end, LastElmLL(list));
  EXPECT_EQ(end, NthElmLL(list, 0));
  EXPECT_EQ(end, NextCElmLL(end));
  ExpectList(list, {});
  SysSortLL(list, CompareStr);
  MergeSortLL(list, CompareStr);
  ExpectList(list, {});
  EXPECT_EQ(NULL, DestLL(list));

  s_LL head;  // a caller's own head record
  t_LL own = InitLL(&head);
  EXPECT_TRUE(IsEmptyLL(own));
  InsFirstLLf(own, 4, "abc");
  EXPECT_STREQ("abc", static_cast<char *>(FirstElmLL(own)));
  EmptyLL(own);
  EXPECT_TRUE(IsEmptyLL(own));
}

TEST(LL, InsertsCopiesInPlace) {
  char buf[5] = "abcd";
  t_LL list = ConsLL();
  char *el = static_cast<char *>(InsLastLLf(list, 5, buf));
  buf[0] = 'X';
  EXPECT_STREQ("abcd", el);
  EXPECT_EQ(5u, IsElmLL(el));
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(el) % alignof(max_align_t));
  DestLL(list);

  t_LL ints = IntList({2, 4});
  int32_t v = 1;
  InsFirstLLf(ints, 4, &v);
  v = 3;
  InsBefLLf(NthElmLL(ints, 3), 4, &v);
  v = 5;
  InsAftLLf(LastElmLL(ints), 4, &v);
  ExpectList(ints, {1, 2, 3, 4, 5});
  EXPECT_EQ(NULL, InsLastLLf(ints, 0, &v));  // an element never has size 0
  ExpectList(ints, {1, 2, 3, 4, 5});
  DestLL(ints);
}

TEST(LL, PositionsAndCircularNeighbours) {
  t_LL list = IntList({10, 20, 30});
  void *first = FirstElmLL(list), *last = LastElmLL(list);
  EXPECT_EQ(first, NthElmLL(list, 1));
  EXPECT_EQ(last, NthElmLL(list, 3));
  EXPECT_EQ(FirstElmLL(list), NextElmLL(PrevElmLL(first)));  // through the end marker
  EXPECT_EQ(0u, IsElmLL(NthElmLL(list, 4)));                 // the head is a step
  EXPECT_EQ(first, NthElmLL(list, 5));
  EXPECT_EQ(last, RelNthElmLL(first, 2));
  EXPECT_EQ(0u, IsElmLL(NextElmLL(last)));
  EXPECT_EQ(first, NextCElmLL(last));
  EXPECT_EQ(last, PrevCElmLL(first));
  EXPECT_TRUE(IsFirstElmLL(first));
  EXPECT_TRUE(IsLastElmLL(last));
  EXPECT_FALSE(IsLastElmLL(first));
  EXPECT_TRUE(IsNthElmLL(list, 2, NextElmLL(first)));
  EXPECT_EQ(3u, IndexElmLL(list, last));
  int32_t other = 10;
  EXPECT_EQ(0u, IndexElmLL(list, &other));
  ReverseLL(list);
  ExpectList(list, {30, 20, 10});
  DestLL(list);
}

TEST(LL, DeleteWhileWalking) {
  t_LL list = IntList({1, 2, 3, 4, 5, 6});
  void *el = FirstElmLL(list);
  while (IsElmLL(el)) el = (*static_cast<int32_t *>(el) % 2 == 0) ? DelElmNeLL(el) : NextElmLL(el);
  ExpectList(list, {1, 3, 5});
  EXPECT_EQ(0u, IsElmLL(DelElmNeLL(LastElmLL(list))));
  EXPECT_EQ(0u, IsElmLL(DelElmPrLL(FirstElmLL(list))));
  ExpectList(list, {3});

  EXPECT_EQ(NULL, ApplyLL(list, [](void *e) -> void * {
              DelElmLL(e);
              return NULL;
            }));
  EXPECT_TRUE(IsEmptyLL(list));
  DestLL(list);

  t_LL stop = IntList({1, 2, 3});
  void *found = ApplyLL(stop, [](void *e) -> void * { return *static_cast<int32_t *>(e) == 2 ? e : NULL; });
  EXPECT_EQ(NthElmLL(stop, 2), found);
  DestLL(stop);
}

TEST(LL, LinkUnlinkAndCallerElements) {
  t_LL list = IntList({1, 3});
  void *three = LastElmLL(list);
  UnlinkLL(three);
  ExpectList(list, {1});
  LinkFirstLL(list, three);
  ExpectList(list, {3, 1});
  void *one = NextElmLL(three);
  EXPECT_EQ(three, UnlinkPrLL(one));
  free(static_cast<char *>(one) - sizeof(l_list));
  ExpectList(list, {3});
  // A caller-made element: header room in front of the data.
  void *mem = malloc(sizeof(l_list) + sizeof(int32_t));
  int32_t *two = reinterpret_cast<int32_t *>(static_cast<char *>(mem) + sizeof(l_list));
  *two = 2;
  LinkInsLastLLf(list, sizeof(int32_t), two);
  ExpectList(list, {3, 2});
  UnlinkNeLL(two);
  LinkBefLL(three, two);
  ExpectList(list, {2, 3});
  UnlinkLL(two);
  free(mem);
  DestLL(list);
}

TEST(LL, CopiesAndArrays) {
  t_LL src = ConsLL();
  for (const char *s : {"one", "two", "three"}) InsLastLLf(src, strlen(s) + 1, s);
  t_LL copy = ConsCopyLL(src);
  t_LL ptrs = ConsPtrLL(src);
  void **look = LookInLL(src);
  char **arr = LL2ArrStr(src);
  EXPECT_EQ(src, look[0]);
  size_t i = 0;
  void *c = FirstElmLL(copy), *p = FirstElmLL(ptrs);
  for (void *el = FirstElmLL(src); IsElmLL(el); el = NextElmLL(el), c = NextElmLL(c), p = NextElmLL(p), i++) {
    EXPECT_NE(el, c);
    EXPECT_STREQ(static_cast<char *>(el), static_cast<char *>(c));
    EXPECT_EQ(el, *static_cast<void **>(p));
    EXPECT_EQ(el, look[i + 1]);
    EXPECT_EQ(el, arr[i]);
  }
  EXPECT_EQ(NULL, arr[3]);
  char *dup = LL_strdup("x y");
  EXPECT_STREQ("x y", dup);
  free(dup);
  free(look);
  free(arr);
  DestLL(src);
  DestLL(copy);
  DestLL(ptrs);
}

TEST(LL, MovesChains) {
  t_LL d = IntList({1, 2}), s = IntList({7, 8, 9});
  MoveListLastLL(d, s);
  ExpectList(d, {1, 2, 7, 8, 9});
  ExpectList(s, {});
  MoveListLastLL(d, s);  // empty source: first and stop link the same
  ExpectList(d, {1, 2, 7, 8, 9});
  MoveHeadFirstLL(s, d, NthElmLL(d, 3));
  ExpectList(s, {1, 2});
  ExpectList(d, {7, 8, 9});
  MoveTailAftLL(FirstElmLL(s), d, NthElmLL(d, 2));
  ExpectList(s, {1, 8, 9, 2});
  ExpectList(d, {7});
  MoveListBefLL(LastElmLL(s), d);
  ExpectList(s, {1, 8, 9, 7, 2});
  DestLL(d);
  d = IntList({5});
  MoveHeadBefLL(FirstElmLL(d), s, NthElmLL(s, 2));
  ExpectList(d, {1, 5});
  MoveTailFirstLL(d, s, LastElmLL(s));
  ExpectList(d, {2, 1, 5});
  MoveHeadLastLL(d, s, NthElmLL(s, 3));
  ExpectList(d, {2, 1, 5, 8, 9});
  ExpectList(s, {7});
  MoveListAftLL(FirstElmLL(d), s);
  ExpectList(d, {2, 7, 1, 5, 8, 9});
  DestLL(s);
  s = IntList({0});
  MoveTailBefLL(FirstElmLL(s), d, NthElmLL(d, 5));
  ExpectList(s, {8, 9, 0});
  MoveListFirstLL(s, d);
  ExpectList(s, {2, 7, 1, 5, 8, 9, 0});
  ExpectList(d, {});
  DestLL(d);

  // Chains moved onto themselves stay where they are.
  MoveListFirstLL(s, s);
  ExpectList(s, {2, 7, 1, 5, 8, 9, 0});
  MoveListLastLL(s, s);
  ExpectList(s, {2, 7, 1, 5, 8, 9, 0});
  MoveTailLastLL(s, s, NthElmLL(s, 5));
  ExpectList(s, {2, 7, 1, 5, 8, 9, 0});
  MoveHeadFirstLL(s, s, NthElmLL(s, 3));
  ExpectList(s, {2, 7, 1, 5, 8, 9, 0});
  MoveHeadFirstLL(s, s, FirstElmLL(s));
  ExpectList(s, {2, 7, 1, 5, 8, 9, 0});
  // Within one list a head can go to the end (a rotation).
  MoveHeadLastLL(s, s, NthElmLL(s, 3));
  ExpectList(s, {1, 5, 8, 9, 0, 2, 7});
  DestLL(s);
}

TEST(LL, SortsStringsAndKeepsEqualsInMergeSort) {
  const char *words[] = {"pear", "apple", "fig", "banana", "apple", "cherry", "date"};
  for (auto sorter : {SysSortLL, MergeSortLL}) {
    t_LL list = ConsLL();
    for (const char *w : words) InsLastLLf(list, strlen(w) + 1, w);
    sorter(list, CompareStr);
    std::vector<std::string> got;
    for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el)) got.push_back(static_cast<char *>(el));
    EXPECT_EQ((std::vector<std::string>{"apple", "apple", "banana", "cherry", "date", "fig", "pear"}), got);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ConsistentLL(list));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    DestLL(list);
  }
  // Stability: pairs (key, original position) sorted by key only.
  t_LL pairs = ConsLL();
  int32_t keys[] = {3, 1, 2, 1, 3, 2, 1, 1, 2, 3, 0};
  for (int32_t i = 0; i < 11; i++) {
    int32_t pair[2] = {keys[i], i};
    InsLastLLf(pairs, sizeof(pair), pair);
  }
  MergeSortLL(pairs, CompareFirstInt);
  std::vector<int32_t> order;
  for (void *el = FirstElmLL(pairs); IsElmLL(el); el = NextElmLL(el)) order.push_back(static_cast<int32_t *>(el)[1]);
  EXPECT_EQ((std::vector<int32_t>{10, 1, 3, 6, 7, 2, 5, 8, 0, 4, 9}), order);
  DestLL(pairs);
}

// One element: int, double, stored string, pointer to a string.
struct Rec {
  int32_t i;
  double d;
  char name[8];
  char *ptr;
};

// The scanned "s" fields are heap copies that the list does not own.
static void FreePointers(t_LL list) {
  for (void *el = FirstElmLL(list); IsElmLL(el); el = NextElmLL(el)) {
    char *p;
    memcpy(&p, static_cast<char *>(el) + IsElmLL(el) - sizeof(p), sizeof(p));
    free(p);
  }
}

TEST(LL, PrintScanRoundTrip) {
  const char *control = "<%d %lf %S %s >";
  t_LL list = ConsLL();
  ASSERT_NE(nullptr, SscanLL(list, "2 -7 2.5 alpha first 42 0.125 b second", "%d %lf %S %s", -1));
  ASSERT_EQ(2u, SizeLL(list));
  // Packed layout: 4 + 8 + strlen + 1 + sizeof(char*).
  char *e1 = static_cast<char *>(FirstElmLL(list));
  EXPECT_EQ(4 + 8 + 6 + sizeof(char *), IsElmLL(e1));
  int32_t i;
  double d;
  char *p;
  memcpy(&i, e1, 4);
  memcpy(&d, e1 + 4, 8);
  memcpy(&p, e1 + 18, sizeof(p));
  EXPECT_EQ(-7, i);
  EXPECT_EQ(2.5, d);
  EXPECT_STREQ("alpha", e1 + 12);
  EXPECT_STREQ("first", p);

  const std::string want = "[<-7 2.500000 alpha first ><42 0.125000 b second >]";
  char *end = SprintLL(list, NULL, "[", control, "]");  // into the library's own buffer
  EXPECT_EQ('\0', *end);
  EXPECT_EQ(want, std::string(end - want.size()));
  char out[100];
  char *stop = SprintLL(list, out, "[", control, "]");
  EXPECT_EQ(want, out);
  EXPECT_EQ(out + strlen(out), stop);

  // Reading the printed text back gives the same fields.
  t_LL again = ConsLL();
  EXPECT_EQ(nullptr, SscanLL(again, out + 1, control, 3));  // only two there
  FreePointers(again);
  EmptyLL(again);
  char *rest = SscanLL(again, out + 1, control, 0);
  ASSERT_NE(nullptr, rest);
  EXPECT_STREQ("]", rest);
  char out2[100];
  SprintLL(again, out2, "[", control, "]");
  EXPECT_STREQ(out, out2);

  FreePointers(list);
  FreePointers(again);
  DestLL(list);
  DestLL(again);
}

TEST(LL, PrintConversions) {
  struct Case {
    std::vector<unsigned char> bytes;
    const char *control;
    const char *want;
  };
  auto bytesOf = [](const void *v, size_t n) {
    const unsigned char *b = static_cast<const unsigned char *>(v);
    return std::vector<unsigned char>(b, b + n);
  };
  int32_t two[2] = {5, -3};
  float f = 1.5f;
  uint32_t u[2] = {255, 255};
  const Case cases[] = {
      {bytesOf(two, 8), "%*d%d", "-3"},
      {bytesOf(two, 8), "%3d|%-3d|", "  5|-3 |"},
      {bytesOf(two, 8), "100%% %d", "100% 5"},
      {bytesOf(&f, 4), "%.2f", "1.50"},
      {bytesOf(u, 8), "%u %o", "255 377"},
      {bytesOf(u, 4), "%x", "ff"},
      {bytesOf("hi", 3), "%c%c.", "hi."},
      {bytesOf("hi", 3), "%S!", "hi!"},
      {bytesOf(two, 8), "n=%d", "n=5"},
  };
  for (const Case &c : cases) {
    t_LL list = ConsLL();
    InsLastLLf(list, c.bytes.size(), c.bytes.data());
    char out[100];
    SprintLL(list, out, "", c.control, "");
    EXPECT_STREQ(c.want, out) << c.control;
    testing::internal::CaptureStdout();
    printLL(list, c.control);
    EXPECT_EQ(std::string(c.want) + "\n", testing::internal::GetCapturedStdout());
    DestLL(list);
  }
}

TEST(LL, ScanRefusesWhatDoesNotFit) {
  t_LL list = ConsLL();
  std::string word(99, 'w');  // 99 characters and the terminator fill BuffLL
  EXPECT_NE(nullptr, SscanLL(list, word.c_str(), "%S", 1));
  EXPECT_EQ(100u, IsElmLL(FirstElmLL(list)));
  EmptyLL(list);
  std::string longer(100, 'w');
  EXPECT_EQ(nullptr, SscanLL(list, longer.c_str(), "%S", 0));
  EXPECT_EQ(nullptr, SscanLL(list, ("1 " + word).c_str(), "%d %S", 1));
  EXPECT_TRUE(IsEmptyLL(list));
  // A count that differs from the elements found, and a number out of range.
  EXPECT_EQ(nullptr, SscanLL(list, "3 1 2", "%d", -1));
  EmptyLL(list);
  char *rest = SscanLL(list, "1 2 99999999999 4", "%d", 0);
  ASSERT_NE(nullptr, rest);
  EXPECT_STREQ(" 99999999999 4", rest);
  ExpectList(list, {1, 2});
  DestLL(list);
}

TEST(LL, ScanFieldKinds) {
  t_LL list = ConsLL();
  ASSERT_NE(nullptr, SscanLL(list, "1.5 ff z 9 7 100%", "%f %x %c %*d %u %*d%%", 1));
  char *el = static_cast<char *>(FirstElmLL(list));
  ASSERT_EQ(4u + 4 + 1 + 4, IsElmLL(el));
  float f;
  uint32_t x, u;
  memcpy(&f, el, 4);
  memcpy(&x, el + 4, 4);
  memcpy(&u, el + 9, 4);
  EXPECT_EQ(1.5f, f);
  EXPECT_EQ(255u, x);
  EXPECT_EQ('z', el[8]);
  EXPECT_EQ(7u, u);
  char out[100];
  SprintLL(list, out, "", "%.1f %X %c %u", "");
  EXPECT_STREQ("1.5 FF z 7", out);
  // Only skipped fields: no data for an element, which is refused.
  EmptyLL(list);
  EXPECT_EQ(nullptr, SscanLL(list, "1 2", "%*d", 0));
  EXPECT_EQ(nullptr, SscanLL(list, "1", "%q", 0));  // not a conversion
  EXPECT_TRUE(IsEmptyLL(list));
  DestLL(list);
}

TEST(LL, StringPrintLimitIsCheckedBeforeWriting) {
  t_LL list = ConsLL();
  std::string s98(98, 'a');
  InsLastLLf(list, s98.size() + 1, s98.c_str());
  // 99 characters and the terminator fit the 100-byte buffer exactly.
  char out[100];
  char *end = SprintLL(list, out, "", "%S", "b");
  EXPECT_EQ(out + 99, end);
  EXPECT_EQ(s98 + "b", std::string(out));
  EXPECT_EXIT(
      {
        // Exactly 100 bytes on the heap: the sanitizer build sees any write past them.
        char *buf = static_cast<char *>(malloc(100));
        SprintLL(list, buf, "", "%S", "bc");
        exit(0);
      },
      testing::ExitedWithCode(255), "^string buffer overflow in SprintfLL\n$");
  EXPECT_EXIT(SprintLL(list, NULL, "xx", "%S", ""), testing::ExitedWithCode(255),
              "string buffer overflow in SprintfLL");
  EXPECT_EXIT(SprintLL(list, NULL, "", "%S%d", ""), testing::ExitedWithCode(255),
              "element too small for control in GenPrintLL");
  DestLL(list);
}

TEST(LL, FailureExits) {
  EXPECT_EXIT(LL_strdup(NULL), testing::ExitedWithCode(255), "^NULL passed to strdup \n$");
}

TEST(LL, FilePrintWritesBeforeAndAfterOnce) {
  t_LL list = IntList({1, 2, 3});
  FILE *f = tmpfile();
  ASSERT_NE(nullptr, f);
  FprintLL(list, f, "(", "%d,", ")\n");
  rewind(f);
  char line[64] = {0};
  ASSERT_NE(nullptr, fgets(line, sizeof(line), f));
  EXPECT_STREQ("(1,2,3,)\n", line);
  EXPECT_EQ(nullptr, GenPrintLL(list, "", "", "", 1));  // file mode has no end position
  fclose(f);
  DestLL(list);
}

TEST(LL, ConsistentLLReportsBrokenLinks) {
  t_LL one = IntList({1});
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ConsistentLL(one));  // a single element links both ends of the head
  EXPECT_EQ("", testing::internal::GetCapturedStderr());

  t_LL list = IntList({1, 2, 3});
  testing::internal::CaptureStderr();
  dbLL = list;
  DebugLL();
  dbLL = NULL;
  EXPECT_EQ("", testing::internal::GetCapturedStderr());

  l_list *second = reinterpret_cast<l_list *>(static_cast<char *>(NthElmLL(list, 2)) - sizeof(l_list));
  second->size = 0;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ConsistentLL(list));
  EXPECT_EQ("element no: 2 has link->size == 0.\n", testing::internal::GetCapturedStderr());
  second->size = 4;

  l_list *saved = second->backward;
  second->backward = list;  // the backward walk skips the first element
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ConsistentLL(list));
  EXPECT_EQ("different size for b/f directions. forward: 3  backward: 2\nlist corrupted\n",
            testing::internal::GetCapturedStderr());
  second->backward = saved;

  l_list *head = one;
  l_list *el = head->forward;
  el->forward = el;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ConsistentLL(one));
  EXPECT_EQ(
      "head->forward == head->backward (true for empty lists only), but\n"
      "head->forward != head (should be == for an empty list)\nlist corrupted \n",
      testing::internal::GetCapturedStderr());
  el->forward = head;

  testing::internal::CaptureStderr();
  EXPECT_FALSE(ConsistentLL(NULL));
  EXPECT_EQ("the t_LL pointer == NULL, list corrupted\n", testing::internal::GetCapturedStderr());
  DestLL(one);
  DestLL(list);
}
