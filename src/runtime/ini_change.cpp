// Changing one key of the main ini: load it as a dictionary, set the entry
// and write the whole file anew, replacing the old one only when complete.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/ini_lookup.h"
#include "runtime/iniparser.h"
#include "runtime/vrk_log.h"

namespace {

// Keys that stand before the first section are kept as "section-less"
// entries (":key"); the section dump does not show them, so they go first.
void dump_sectionless(dictionary *d, FILE *f) {
  for (int i = 0; i < d->size; i++)
    if (d->key[i] != nullptr && d->key[i][0] == ':')
      fprintf(f, "%s=%s\n", d->key[i] + 1, d->val[i] != nullptr ? d->val[i] : "");
}

// Writes the dictionary beside the file and renames it over the file.
bool rewrite(dictionary *d, const char *path) {
  char real[PATH_MAX];
  const char *target = realpath(path, real) != nullptr ? real : path;
  std::string tmp = std::string(target) + ".vrktmp";
  struct stat st;
  mode_t mode = stat(target, &st) == 0 ? (st.st_mode & 07777) : 0644;
  FILE *f = fopen(tmp.c_str(), "w");
  if (f == nullptr) {
    trace("%l0 i_change_ini: cannot open %s for writing: (%d) %s", tmp.c_str(), errno,
          strerror(errno));
    return false;
  }
  dump_sectionless(d, f);
  iniparser_dump_ini(d, f);
  bool ok = fflush(f) == 0 && ferror(f) == 0 && fsync(fileno(f)) == 0;
  if (fclose(f) != 0) ok = false;
  if (ok) chmod(tmp.c_str(), mode);
  if (!ok || rename(tmp.c_str(), target) != 0) {
    trace("%l0 i_change_ini: cannot write %s: (%d) %s", target, errno, strerror(errno));
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

int i_change_ini(const char *cpIni, const char *cpSection, const char *cpKey, const char *cpValue,
                 char cFlag) {
  trace("Change INI file: %s %s %s %s", cpIni ? cpIni : "", cpSection ? cpSection : "",
        cpKey ? cpKey : "", cpValue ? cpValue : "");
  if (cpSection == nullptr || cpKey == nullptr || cpValue == nullptr) return 0;
  char path[4096];
  char msg[1024];
  if (!i_GET_ROOT_FOR_INI(cpIni, path, sizeof(path), msg, sizeof(msg))) {
    trace("%l0 i_change_ini: %s", msg);
    return 0;
  }
  dictionary *d = iniparser_load(path);
  if (d == nullptr) return 0;
  std::string sec = cpSection;
  if (sec.size() >= 2 && sec.front() == '[' && sec.back() == ']') sec = sec.substr(1, sec.size() - 2);
  std::string entry = sec + ":" + cpKey;
  if (iniparser_find_entry(d, entry.c_str()) && cFlag != 'o') {
    trace("%l0 Key already exists and no overwrite set");
    iniparser_freedict(d);
    return 1;
  }
  if (!sec.empty() && !iniparser_find_entry(d, sec.c_str())) dictionary_set(d, sec.c_str(), nullptr);
  dictionary_set(d, entry.c_str(), cpValue);
  bool ok = rewrite(d, path);
  iniparser_freedict(d);
  return ok ? 1 : 0;
}
