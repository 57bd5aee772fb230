// The ini dictionary: a small string map with its own hash whose keys are
// section, colon and key; lookups are case-sensitive.
#ifndef VRK_RUNTIME_DICTIONARY_H
#define VRK_RUNTIME_DICTIONARY_H

#include <stdio.h>

// client/vrk_global.h declares the same struct tag and typedef ahead.
typedef struct _dictionary_ {
  int n;           // entries in use
  int size;        // slots
  char **val;      // values, NULL for an entry without value
  char **key;      // keys, NULL for a free slot
  unsigned *hash;  // each key's hash
} dictionary;

#define DICT_MIN_SIZE 128

unsigned dictionary_hash(const char *key);
dictionary *dictionary_new(int size);
void dictionary_del(dictionary *d);
char *dictionary_get(dictionary *d, const char *key, char *def);
char dictionary_getchar(dictionary *d, const char *key, char def);
int dictionary_getint(dictionary *d, const char *key, int def);
double dictionary_getdouble(dictionary *d, const char *key, double def);
void dictionary_set(dictionary *d, const char *key, const char *val);
void dictionary_unset(dictionary *d, const char *key);
void dictionary_setint(dictionary *d, const char *key, int val);
void dictionary_setdouble(dictionary *d, const char *key, double val);
void dictionary_dump(dictionary *d, FILE *out);
// A new zeroed array of twice size bytes holding the first size bytes of
// ptr; ptr is freed. NULL (ptr kept) when out of memory.
void *mem_double(void *ptr, int size);

#endif
