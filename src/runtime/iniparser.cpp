// The ini parser: loading from a file or standard input, the getters over
// section:key entries, the setters and the two dump forms.
#include "runtime/iniparser.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/bounded_read.h"
#include "runtime/vrk_log.h"

namespace {

void crop(char *s) {
  size_t n = strlen(s);
  while (n > 0 && isspace(static_cast<unsigned char>(s[n - 1]))) n--;
  s[n] = '\0';
}

// Parses one line (already stripped of its line end and leading blanks).
void parse_line(dictionary *d, std::string &section, const char *where) {
  char sec[INI_LINE_MAX + 1];
  char key[INI_LINE_MAX + 1];
  char val[INI_LINE_MAX + 1];
  if (sscanf(where, "[%1023[^]]", sec) == 1) {
    section = sec;
    dictionary_set(d, sec, nullptr);
    return;
  }
  if (sscanf(where, "%1023[^=] = \"%1023[^\"]\"", key, val) == 2 ||
      sscanf(where, "%1023[^=] = '%1023[^']'", key, val) == 2 ||
      sscanf(where, "%1023[^=] = %1023[^#]", key, val) == 2) {
    crop(key);
    crop(val);
    if (strcmp(val, "\"\"") == 0 || strcmp(val, "''") == 0) val[0] = '\0';
    std::string entry = section + ":" + key;
    dictionary_set(d, entry.c_str(), val);
  }
}

bool build_entry(const char *sec, const char *key, std::string *out) {
  *out = sec;
  if (key != nullptr) {
    *out += ":";
    *out += key;
  }
  if (out->size() > INI_ENTRY_MAX) {
    trace("%l0 iniparser: entry name [%.64s...] longer than %d characters refused", out->c_str(),
          INI_ENTRY_MAX);
    return false;
  }
  return true;
}

}  // namespace

dictionary *iniparser_load(const char *ininame) {
  if (ininame == nullptr) return nullptr;
  FILE *in;
  bool fromStdin = strcmp(ininame, "-") == 0;
  if (fromStdin) {
    trace("%l3 iniparser_load: Got ini file name \"%s\" ==>> read from stdin", ininame);
    // A loader before us may have read standard input to its end: the
    // cluster support loads two files one after the other this way.
    clearerr(stdin);
    in = stdin;
  } else {
    // A few MiB at most; a pipe or device must end within the data wait.
    std::string why;
    in = vrk_fopen_bounded(ininame, why);
    if (in == nullptr) {
      trace("%l0 iniparser_load: Failed to open ini file name \"%s\" (%d)", ininame, errno);
      return nullptr;
    }
  }
  dictionary *d = dictionary_new(0);
  std::string section;
  int lines = 0;
  char *line = nullptr;
  size_t cap = 0;
  ssize_t got;
  while (d != nullptr && (got = getline(&line, &cap, in)) != -1) {
    size_t len = static_cast<size_t>(got);
    if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
    if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
    lines++;
    if (len > INI_LINE_MAX) {
      // Never cut into a shorter entry or read on as a line of its own.
      trace("%l1 iniparser_load: line %d longer than %d characters ignored", lines, INI_LINE_MAX);
      continue;
    }
    trace("%l4 iniparser_load: [%s]", line);
    const char *where = line;
    while (*where && isspace(static_cast<unsigned char>(*where))) where++;
    parse_line(d, section, where);
  }
  free(line);
  if (!fromStdin) fclose(in);
  if (d != nullptr && lines == 0) {
    trace("%l3 iniparser_load: Empty input >> return NULL");
    dictionary_del(d);
    return nullptr;
  }
  return d;
}

void iniparser_freedict(dictionary *d) { dictionary_del(d); }

char *iniparser_getstring(dictionary *d, const char *key, char *def) {
  if (d == nullptr || key == nullptr) return def;
  return dictionary_get(d, key, def);
}

char *iniparser_getstr(dictionary *d, const char *key) {
  return iniparser_getstring(d, key, nullptr);
}

int iniparser_getint(dictionary *d, const char *key, int notfound) {
  // A section entry has no value: it counts as not found.
  const char *v = iniparser_getstring(d, key, nullptr);
  if (v == nullptr) return notfound;
  return static_cast<int>(strtol(v, nullptr, 0));
}

double iniparser_getdouble(dictionary *d, const char *key, double notfound) {
  const char *v = iniparser_getstring(d, key, nullptr);
  if (v == nullptr) return notfound;
  return atof(v);
}

int iniparser_getboolean(dictionary *d, const char *key, int notfound) {
  const char *v = iniparser_getstring(d, key, nullptr);
  if (v == nullptr) return notfound;
  switch (v[0]) {
    case '1': case 'T': case 't': case 'Y': case 'y': return 1;
    case '0': case 'F': case 'f': case 'N': case 'n': return 0;
    default: return notfound;
  }
}

int iniparser_find_entry(dictionary *ini, const char *entry) {
  if (ini == nullptr || entry == nullptr) return 0;
  for (int i = 0; i < ini->size; i++)
    if (ini->key[i] != nullptr && strcmp(ini->key[i], entry) == 0) return 1;
  return 0;
}

int iniparser_getnsec(dictionary *d) {
  if (d == nullptr) return -1;
  int n = 0;
  for (int i = 0; i < d->size; i++)
    if (d->key[i] != nullptr && strchr(d->key[i], ':') == nullptr) n++;
  return n;
}

char *iniparser_getsecname(dictionary *d, int n) {
  if (d == nullptr || n < 0) return nullptr;
  int found = 0;
  for (int i = 0; i < d->size; i++) {
    if (d->key[i] == nullptr || strchr(d->key[i], ':') != nullptr) continue;
    if (found++ == n) return d->key[i];
  }
  return nullptr;
}

namespace {

bool in_section(const char *key, const char *secname, size_t seclen) {
  return strncmp(key, secname, seclen) == 0 && key[seclen] == ':';
}

}  // namespace

int iniparser_getnentries(dictionary *d, const char *secname) {
  if (d == nullptr) return -1;
  if (secname == nullptr) return 0;
  size_t seclen = strlen(secname);
  int n = 0;
  for (int i = 0; i < d->size; i++)
    if (d->key[i] != nullptr && in_section(d->key[i], secname, seclen)) n++;
  return n;
}

char *iniparser_getentry(dictionary *d, const char *secname, int n) {
  if (d == nullptr || secname == nullptr || n < 0) return nullptr;
  size_t seclen = strlen(secname);
  int found = 0;
  for (int i = 0; i < d->size; i++) {
    if (d->key[i] == nullptr || !in_section(d->key[i], secname, seclen)) continue;
    if (found++ == n) return d->key[i];
  }
  return nullptr;
}

int iniparser_setstr(dictionary *ini, const char *entry, const char *val) {
  dictionary_set(ini, entry, val);
  return 0;
}

int iniparser_add_entry(dictionary *d, const char *sec, const char *key, const char *val) {
  if (sec == nullptr) return -1;
  std::string entry;
  if (!build_entry(sec, key, &entry)) return -1;
  dictionary_set(d, entry.c_str(), val);
  return 0;
}

int iniparser_add_dictionary(dictionary *dest_dict, dictionary *source_dict) {
  if (dest_dict == nullptr || source_dict == nullptr) return 0;
  for (int i = 0; i < source_dict->size; i++)
    if (source_dict->key[i] != nullptr)
      dictionary_set(dest_dict, source_dict->key[i], source_dict->val[i]);
  return 1;
}

void iniparser_delete(dictionary *d, const char *sec, const char *key) {
  if (sec == nullptr) return;
  std::string entry;
  if (!build_entry(sec, key, &entry)) return;
  dictionary_unset(d, entry.c_str());
}

void iniparser_unset(dictionary *ini, const char *entry) { dictionary_unset(ini, entry); }

void iniparser_dump(dictionary *d, FILE *f) {
  if (d == nullptr || f == nullptr) return;
  for (int i = 0; i < d->size; i++) {
    if (d->key[i] == nullptr) continue;
    if (d->val[i] != nullptr)
      fprintf(f, "[%s]=[%s]\n", d->key[i], d->val[i]);
    else
      fprintf(f, "[%s]=UNDEF\n", d->key[i]);
  }
}

void iniparser_dump_ini(dictionary *d, FILE *f) {
  if (d == nullptr || f == nullptr) return;
  int nsec = iniparser_getnsec(d);
  if (nsec < 1) {
    for (int i = 0; i < d->size; i++)
      if (d->key[i] != nullptr)
        fprintf(f, "%s = %s\n", d->key[i], d->val[i] ? d->val[i] : "");
    return;
  }
  for (int s = 0; s < nsec; s++) {
    const char *secname = iniparser_getsecname(d, s);
    size_t seclen = strlen(secname);
    fprintf(f, "\n[%s]\n", secname);
    for (int i = 0; i < d->size; i++) {
      if (d->key[i] == nullptr || !in_section(d->key[i], secname, seclen)) continue;
      fprintf(f, "%s=%s\n", d->key[i] + seclen + 1, d->val[i] ? d->val[i] : "");
    }
  }
  fprintf(f, "\n");
}
