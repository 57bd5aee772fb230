// The ini dictionary: one-at-a-time hash, slot arrays that double when full,
// getters, setters and the dump.
#include "runtime/dictionary.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/vrk_log.h"

unsigned dictionary_hash(const char *key) {
  uint32_t h = 0;
  for (const char *p = key; *p; p++) {
    // The bytes count as signed characters.
    h += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
    h += h << 10;
    h ^= h >> 6;
  }
  h += h << 3;
  h ^= h >> 11;
  h += h << 15;
  return h;
}

void *mem_double(void *ptr, int size) {
  if (size < 0) return nullptr;
  void *grown = calloc(2, static_cast<size_t>(size) > 0 ? static_cast<size_t>(size) : 1);
  if (grown == nullptr) return nullptr;
  if (ptr != nullptr && size > 0) memcpy(grown, ptr, static_cast<size_t>(size));
  free(ptr);
  return grown;
}

dictionary *dictionary_new(int size) {
  if (size < DICT_MIN_SIZE) size = DICT_MIN_SIZE;
  dictionary *d = static_cast<dictionary *>(calloc(1, sizeof(dictionary)));
  if (d == nullptr) return nullptr;
  d->size = size;
  d->val = static_cast<char **>(calloc(static_cast<size_t>(size), sizeof(char *)));
  d->key = static_cast<char **>(calloc(static_cast<size_t>(size), sizeof(char *)));
  d->hash = static_cast<unsigned *>(calloc(static_cast<size_t>(size), sizeof(unsigned)));
  if (d->val == nullptr || d->key == nullptr || d->hash == nullptr) {
    free(d->val);
    free(d->key);
    free(d->hash);
    free(d);
    return nullptr;
  }
  return d;
}

void dictionary_del(dictionary *d) {
  if (d == nullptr) return;
  for (int i = 0; i < d->size; i++) {
    free(d->key[i]);
    free(d->val[i]);
  }
  free(d->val);
  free(d->key);
  free(d->hash);
  free(d);
}

namespace {

int find_slot(dictionary *d, const char *key) {
  unsigned h = dictionary_hash(key);
  for (int i = 0; i < d->size; i++) {
    if (d->key[i] == nullptr) continue;
    if (d->hash[i] == h && strcmp(key, d->key[i]) == 0) return i;
  }
  return -1;
}

char *copy_or_null(const char *s) { return s ? strdup(s) : nullptr; }

bool grow(dictionary *d) {
  size_t old = static_cast<size_t>(d->size);
  void *val = mem_double(d->val, static_cast<int>(old * sizeof(char *)));
  if (val == nullptr) return false;
  d->val = static_cast<char **>(val);
  void *key = mem_double(d->key, static_cast<int>(old * sizeof(char *)));
  if (key == nullptr) return false;
  d->key = static_cast<char **>(key);
  void *hash = mem_double(d->hash, static_cast<int>(old * sizeof(unsigned)));
  if (hash == nullptr) return false;
  d->hash = static_cast<unsigned *>(hash);
  // The size doubles only once all three arrays have.
  d->size *= 2;
  return true;
}

}  // namespace

char *dictionary_get(dictionary *d, const char *key, char *def) {
  if (d == nullptr || key == nullptr) return def;
  int i = find_slot(d, key);
  return i < 0 ? def : d->val[i];
}

char dictionary_getchar(dictionary *d, const char *key, char def) {
  char *v = dictionary_get(d, key, nullptr);
  return v == nullptr ? def : v[0];
}

int dictionary_getint(dictionary *d, const char *key, int def) {
  char *v = dictionary_get(d, key, nullptr);
  return v == nullptr ? def : atoi(v);
}

double dictionary_getdouble(dictionary *d, const char *key, double def) {
  char *v = dictionary_get(d, key, nullptr);
  return v == nullptr ? def : atof(v);
}

void dictionary_set(dictionary *d, const char *key, const char *val) {
  if (d == nullptr || key == nullptr) return;
  if (d->n > 0) {
    int i = find_slot(d, key);
    if (i >= 0) {
      char *copy = copy_or_null(val);
      if (val != nullptr && copy == nullptr) {
        trace("%l0 dictionary_set: out of memory for the value of [%s]", key);
        return;
      }
      free(d->val[i]);
      d->val[i] = copy;
      return;
    }
  }
  if (d->n == d->size && !grow(d)) {
    trace("%l0 dictionary_set: out of memory growing to %d entries", d->size * 2);
    return;
  }
  int slot = 0;
  while (slot < d->size && d->key[slot] != nullptr) slot++;
  char *k = strdup(key);
  char *v = copy_or_null(val);
  if (k == nullptr || (val != nullptr && v == nullptr)) {
    free(k);
    free(v);
    trace("%l0 dictionary_set: out of memory for [%s]", key);
    return;
  }
  d->key[slot] = k;
  d->val[slot] = v;
  d->hash[slot] = dictionary_hash(key);
  d->n++;
}

void dictionary_unset(dictionary *d, const char *key) {
  if (d == nullptr || key == nullptr) return;
  int i = find_slot(d, key);
  if (i < 0) return;
  free(d->key[i]);
  free(d->val[i]);
  d->key[i] = nullptr;
  d->val[i] = nullptr;
  d->hash[i] = 0;
  d->n--;
}

void dictionary_setint(dictionary *d, const char *key, int val) {
  char buf[32];
  snprintf(buf, sizeof(buf), "%d", val);
  dictionary_set(d, key, buf);
}

void dictionary_setdouble(dictionary *d, const char *key, double val) {
  char buf[64];
  snprintf(buf, sizeof(buf), "%g", val);
  dictionary_set(d, key, buf);
}

void dictionary_dump(dictionary *d, FILE *out) {
  if (d == nullptr || out == nullptr) return;
  if (d->n < 1) {
    fprintf(out, "empty dictionary\n");
    return;
  }
  for (int i = 0; i < d->size; i++) {
    if (d->key[i] == nullptr) continue;
    fprintf(out, "%20s\t[%s]\n", d->key[i], d->val[i] ? d->val[i] : "UNDEF");
  }
}
