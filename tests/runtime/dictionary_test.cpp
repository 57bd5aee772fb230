// Tests of the ini dictionary: hash, growth, set and unset, typed getters
// and the dump.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "client/vrk_global.h"  // declares the dictionary ahead: both must agree
#include "runtime/dictionary.h"

namespace {

std::string Dump(dictionary *d) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&buf, &len);
  dictionary_dump(d, f);
  fclose(f);
  std::string out(buf, len);
  free(buf);
  return out;
}

TEST(Dictionary, HashOverSignedBytes) {
  EXPECT_EQ(0u, dictionary_hash(""));
  EXPECT_EQ(3392050242u, dictionary_hash("a"));
  EXPECT_EQ(203989605u, dictionary_hash("Server:Port"));
  EXPECT_EQ(2620981299u, dictionary_hash("\xe4"));  // a byte above 127 counts as negative
}

TEST(Dictionary, SetGetUnsetAndSlots) {
  dictionary *d = dictionary_new(10);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(128, d->size);
  char def[] = "def";
  EXPECT_EQ(def, dictionary_get(d, "a", def));
  dictionary_set(d, "a", "1");
  dictionary_set(d, "b", nullptr);
  dictionary_set(d, "c", "3");
  EXPECT_EQ(3, d->n);
  EXPECT_STREQ("1", dictionary_get(d, "a", def));
  EXPECT_EQ(nullptr, dictionary_get(d, "b", def));  // present without value
  EXPECT_EQ(def, dictionary_get(d, "A", def));      // case-sensitive
  dictionary_set(d, "a", "one");
  EXPECT_EQ(3, d->n);
  EXPECT_STREQ("one", dictionary_get(d, "a", def));
  dictionary_unset(d, "a");
  dictionary_unset(d, "zz");
  EXPECT_EQ(2, d->n);
  EXPECT_EQ(nullptr, d->key[0]);
  dictionary_set(d, "d", "4");  // takes the first free slot
  EXPECT_STREQ("d", d->key[0]);
  EXPECT_EQ(dictionary_hash("d"), d->hash[0]);
  dictionary_set(nullptr, "x", "y");
  dictionary_set(d, nullptr, "y");
  EXPECT_EQ(3, d->n);
  dictionary_del(d);
  dictionary_del(nullptr);
}

TEST(Dictionary, GrowsWhenFull) {
  dictionary *d = dictionary_new(0);
  for (int i = 0; i < 300; i++) dictionary_setint(d, ("k" + std::to_string(i)).c_str(), i);
  EXPECT_EQ(300, d->n);
  EXPECT_EQ(512, d->size);
  for (int i = 0; i < 300; i++)
    EXPECT_EQ(i, dictionary_getint(d, ("k" + std::to_string(i)).c_str(), -1)) << i;
  dictionary_del(d);
}

TEST(Dictionary, TypedGettersAndDump) {
  dictionary *d = dictionary_new(0);
  EXPECT_EQ("empty dictionary\n", Dump(d));
  dictionary_set(d, "hex", "0x10");
  dictionary_set(d, "word", "yes");
  dictionary_setdouble(d, "pi", 3.5);
  dictionary_set(d, "none", nullptr);
  EXPECT_EQ(0, dictionary_getint(d, "hex", 7));  // decimal only
  EXPECT_EQ(7, dictionary_getint(d, "missing", 7));
  EXPECT_EQ('y', dictionary_getchar(d, "word", 'x'));
  EXPECT_EQ('x', dictionary_getchar(d, "missing", 'x'));
  EXPECT_EQ('x', dictionary_getchar(d, "none", 'x'));
  EXPECT_DOUBLE_EQ(3.5, dictionary_getdouble(d, "pi", 0));
  EXPECT_STREQ("3.5", dictionary_get(d, "pi", nullptr));
  EXPECT_EQ("                 hex\t[0x10]\n                word\t[yes]\n"
            "                  pi\t[3.5]\n                none\t[UNDEF]\n",
            Dump(d));
  dictionary_del(d);
}

TEST(Dictionary, MemDouble) {
  int *a = static_cast<int *>(malloc(2 * sizeof(int)));
  a[0] = 5;
  a[1] = 6;
  int *b = static_cast<int *>(mem_double(a, 2 * sizeof(int)));
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(5, b[0]);
  EXPECT_EQ(6, b[1]);
  EXPECT_EQ(0, b[2]);
  EXPECT_EQ(0, b[3]);
  free(b);
}

}  // namespace
