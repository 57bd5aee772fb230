// The child environment of the product's programs: PGPORT, and PATH and
// LD_LIBRARY_PATH completed with the main ini's program directories.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/cm_exec.h"
#include "runtime/ini_lookup.h"

namespace {

char g_szPath[SETENV_PATH_SIZE];
char g_szLdLibraryPath[SETENV_LD_LIBRARY_PATH_SIZE];
char g_szPgPort[SETENV_PGPORT_SIZE];

std::string strip_slashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// Whether dir is one of the colon-separated elements of list (a trailing
// slash makes no difference).
bool has_element(const std::string &list, const std::string &dir) {
  const std::string want = strip_slashes(dir);
  size_t start = 0;
  for (;;) {
    size_t colon = list.find(':', start);
    std::string el = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!el.empty() && strip_slashes(el) == want) return true;
    if (colon == std::string::npos) return false;
    start = colon + 1;
  }
}

// Whether word begins in text before limit (the program word's end).
bool begins_before(const std::string &text, const char *word, size_t limit) {
  size_t pos = text.find(word);
  return pos != std::string::npos && pos < limit;
}

bool put_entry(char *buffer, size_t size, const std::string &entry) {
  if (entry.size() >= size) return false;
  memcpy(buffer, entry.c_str(), entry.size() + 1);
  return putenv(buffer) == 0;
}

}  // namespace

int i_setenv_korva(const char *cpSystemCall) {
  const char *p = cpSystemCall != nullptr ? cpSystemCall : "";
  while (*p == ' ') p++;
  std::string call(p);
  if (call.size() > 511) call.resize(511);
  for (char &c : call) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  size_t blank = call.find(' ');
  // Without a blank only a match at the very start counts.
  size_t limit = blank != std::string::npos ? blank : 1;
  const bool usesDb = begins_before(call, "kv_db ", limit) || begins_before(call, "psql", limit);
  const bool usesSms = begins_before(call, "kv_sms_interface ", limit);
  const bool usesNovell = begins_before(call, "netware", limit);

  char value[1024];
  char msg[1024];
  if (i_READ_INI("KV_INI", "[SERVER]", "gv_port_db", value, sizeof(value), msg, sizeof(msg))) {
    const char *old = getenv("PGPORT");
    if (old == nullptr || strcmp(old, value) != 0) {
      std::string entry = std::string("PGPORT=") + value;
      if (!put_entry(g_szPgPort, sizeof(g_szPgPort), entry)) {
        printf("error in putenv %s\n", entry.c_str());
        return 0;
      }
    }
  } else if (usesDb) {
    printf("key gv_port_db not found in kv.ini");
    return 0;
  }

  std::string bin, db, pgsql, sms;
  if (!i_READ_INI("KV_INI", "[PATHES]", "gv_ro_bin", value, sizeof(value), msg, sizeof(msg)))
    return 0;
  bin = value;
  if (usesSms) {
    if (!i_READ_INI("KV_INI", "[PATHES]", "gv_ro_sms", value, sizeof(value), msg, sizeof(msg))) {
      printf("error in i_READ_INI gv_ro_sms %s\n", msg);
      return 0;
    }
    sms = value;
  }
  if (usesDb) {
    if (!i_READ_INI("KV_INI", "[PATHES]", "gv_ro_db", value, sizeof(value), msg, sizeof(msg))) {
      printf("error in i_READ_INI gv_ro_db %s\n", msg);
      return 0;
    }
    db = value;
    if (i_READ_INI("KV_INI", "[PATHES]", "gv_ro_pgsql", value, sizeof(value), msg, sizeof(msg)))
      pgsql = value;
    else
      pgsql = "/usr/local/pgsql/bin/";
  }

  const char *oldPath = getenv("PATH");
  if (oldPath == nullptr) {
    printf("error in getenv PATH");
    return 0;
  }
  const std::string path = oldPath;
  std::string added;
  int lengths[4] = {0, 0, 0, 0};
  const std::string *dirs[4] = {&bin, &db, &pgsql, &sms};
  for (int i = 0; i < 4; i++) {
    const std::string &d = *dirs[i];
    if (d.empty() || has_element(path, d) || has_element(added, d)) continue;
    added += ":" + d;
    lengths[i] = static_cast<int>(d.size());
  }
  if (!added.empty()) {
    std::string entry = "PATH=" + path + added;
    if (entry.size() >= SETENV_PATH_SIZE) {
      printf("iStrLenRoBin = %d (0 means that string already in PATH)\n", lengths[0]);
      printf("iStrLenRoDb  = %d (0 means that string already in PATH)\n", lengths[1]);
      printf("iStrLenRoPgsql = %d (0 means that string already in PATH)\n", lengths[2]);
      printf("iStrLenRoSms = %d (0 means that string already in PATH)\n", lengths[3]);
      printf("iStrLenPath  = %d\n", static_cast<int>(path.size()));
      printf("iSizeOfPath  = %d\n", SETENV_PATH_SIZE);
      printf("length of string is not sufficient");
      return 0;
    }
    if (!put_entry(g_szPath, sizeof(g_szPath), entry)) {
      printf("error in putenv %s", entry.c_str());
      return 0;
    }
  }

  if (usesNovell) {
    const std::string novell = "/opt/novell/lib";
    const char *oldLd = getenv("LD_LIBRARY_PATH");
    fprintf(stderr, "check LD_LIBRARY_PATH=%s\n", oldLd != nullptr ? oldLd : "");
    if (oldLd == nullptr) printf("didn't get LD_LIBRARY_PATH");
    std::string ld = oldLd != nullptr ? oldLd : "";
    if (!has_element(ld, novell)) {
      // An empty element would put the current directory on the search path.
      std::string entry = "LD_LIBRARY_PATH=" + (ld.empty() ? novell : ld + ":" + novell);
      if (entry.size() >= SETENV_LD_LIBRARY_PATH_SIZE) {
        printf("LD_LIBRARY_PATH is too long to add %s: %d >= %d\n", novell.c_str(),
               static_cast<int>(entry.size()), SETENV_LD_LIBRARY_PATH_SIZE);
        return 0;
      }
      if (!put_entry(g_szLdLibraryPath, sizeof(g_szLdLibraryPath), entry)) {
        printf("error in putenv %s\n", entry.c_str());
        return 0;
      }
      printf("set %s\n", entry.c_str());
    }
  }
  return 1;
}
