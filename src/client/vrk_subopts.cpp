// The -o sub-options: a comma-separated list of keywords that set the flags
// of sOptions and a few other fields of the global client state.
#include "client/vrk_subopts.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "client/vrk_items.h"
#include "client/vrk_levels.h"
#include "client/vrk_osinfo.h"
#include "client/vrk_usage.h"
#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

enum Match { ABBREV, LEADING, LEADING_LOWER };

enum Keyword {
  K_RENAME, K_PLAIN, K_OVERWRITE, K_NEXT, K_NFS, K_NOTRAILER, K_DISK_INFO, K_NOACL, K_ACL,
  K_EXCL, K_NOEXCL, K_RELOCDELI, K_HARD, K_NONFS, K_ENCRYPT, K_OPEN_READ_DENY_WRITE,
  K_USE_LOCK_MODE, K_NO_LOCK, K_OPEN_READ_ONLY, K_PRESERVE_ATIME, K_MIGRATED, K_SKIP_DATA,
  K_VERIFY, K_XDEV, K_NOXDEV, K_UNCOMPRESS, K_PATH
};

struct Row {
  const char *cpWord;
  Match eMatch;
  Keyword eKey;
};

// Compared top to bottom; the first row that matches decides.
const Row kRows[] = {
    {"RENAME", ABBREV, K_RENAME},
    {"PLAIN", ABBREV, K_PLAIN},
    {"OVERWRITE", ABBREV, K_OVERWRITE},
    {"NEXT", ABBREV, K_NEXT},
    {"NFS", ABBREV, K_NFS},
    {"NOTRAILER", ABBREV, K_NOTRAILER},
    {"DISK_INFO", ABBREV, K_DISK_INFO},
    {"NOACL", ABBREV, K_NOACL},
    {"ACL", ABBREV, K_ACL},
    {"EXCL", ABBREV, K_EXCL},
    {"NOEXCL", ABBREV, K_NOEXCL},
    {"relocdeli", LEADING_LOWER, K_RELOCDELI},
    {"HARD", LEADING, K_HARD},
    {"NONFS", ABBREV, K_NONFS},
    {"EN", LEADING, K_ENCRYPT},
    {"OPEN_READ_DENY_WRITE", ABBREV, K_OPEN_READ_DENY_WRITE},
    {"USE_LOCK_MODE_IF_DW_FAILS", ABBREV, K_USE_LOCK_MODE},
    {"NO_LOCK_NO_PROTECTION", ABBREV, K_NO_LOCK},
    {"OPEN_READ_ONLY", ABBREV, K_OPEN_READ_ONLY},
    {"PRESERVE_ACCESS_TIME", ABBREV, K_PRESERVE_ATIME},
    {"INCLUDE_MIGRATED_DATA", ABBREV, K_MIGRATED},
    {"SKIP_DATA", ABBREV, K_SKIP_DATA},
    {"VERIFY", LEADING, K_VERIFY},
    {"XDEV", ABBREV, K_XDEV},
    {"NOXDEV", ABBREV, K_NOXDEV},
    {"UNCOMPRESS", LEADING, K_UNCOMPRESS},
    {"PATH", LEADING, K_PATH},
};

// Matches the keyword, changing its case in place as the row asks.
bool row_matches(const Row &row, std::string &kw) {
  size_t wlen = strlen(row.cpWord);
  if (row.eMatch == LEADING_LOWER) {
    lowercase(&kw[0]);
    return kw.compare(0, wlen, row.cpWord) == 0;
  }
  vrk_strupr(&kw[0]);
  if (row.eMatch == LEADING) return kw.compare(0, wlen, row.cpWord) == 0;
  return kw.size() <= wlen && strncmp(kw.c_str(), row.cpWord, kw.size()) == 0;
}

// The text after the first '=' of the unchanged keyword, or NULL without one.
const char *value_of(const std::string &orig) {
  size_t eq = orig.find('=');
  return eq == std::string::npos ? nullptr : orig.c_str() + eq + 1;
}

void refuse(const char *cpKeyword) { vrk_log(1038, cpKeyword, 'o'); }

// Handles one keyword that matched; false when the keyword is refused.
bool apply(Keyword key, const std::string &kw, const std::string &orig) {
  _sVRKGlobal *g = spGlobal;
  _sOptions *o = &g->sOptions;
  switch (key) {
    case K_RENAME:
      if (o->iOverwrite == 1) {
        refuse(kw.c_str());  // the first of the two stays; parsing goes on
        return true;
      }
      o->iRename = 1;
      return true;
    case K_PLAIN: o->iPlain = 1; return true;
    case K_OVERWRITE:
      if (o->iRename == 1) {
        refuse(kw.c_str());
        return true;
      }
      o->iOverwrite = 1;
      return true;
    case K_NEXT: o->iNext = 1; return true;
    case K_NFS: o->iNfs = 1; return true;
    case K_NOTRAILER: o->iNoTrailer = 1; return true;
    case K_DISK_INFO: o->iSdi = 1; return true;
    case K_NOACL: o->iProcessACL = 0; return true;
    case K_ACL: o->iProcessACL = 1; return true;
    case K_EXCL: o->iExFile = 1; return true;
    case K_NOEXCL: o->iExFile = 0; return true;
    case K_RELOCDELI: {
      size_t eq = kw.find('=');
      if (eq == std::string::npos) return true;
      std::string delim = kw.substr(eq + 1);
      if (delim.size() > VRK_RELOC_DELIM_MAX) {
        refuse(kw.c_str());
        return false;
      }
      strlcpy(g->szRelocDelimiter, delim.c_str(), sizeof(g->szRelocDelimiter));
      return true;
    }
    case K_HARD: {
      const char *v = value_of(orig);
      if (v == nullptr) {
        refuse(kw.c_str());
        return false;
      }
      o->cHardLink = *v;
      return true;
    }
    case K_NONFS: o->iNfs = 0; return true;
    case K_ENCRYPT: {
      const char *v = value_of(orig);
      // The value is a password: it never appears in a message.
      std::string shown = kw.substr(0, kw.find('='));
      if (v != nullptr) shown += std::string("=") + VRK_PASSWORD_MASK;
      if (v == nullptr) {
        refuse(shown.c_str());
        return false;
      }
      o->iEncrypt = 1;
      if (kw.compare(0, 13, "ENCRYPT_PLAIN") == 0) o->iEncryptPlain = 1;
      // A value longer than the field is cut to its first characters.
      std::string value(v);
      if (value.size() > VRK_SUBOPT_ENCRYPT_MAX) value.resize(VRK_SUBOPT_ENCRYPT_MAX - 1);
      if (!value.empty())
        strlcpy(g->sVRKObject.szEnDecrPassword, value.c_str(), sizeof(g->sVRKObject.szEnDecrPassword));
      return true;
    }
    case K_OPEN_READ_DENY_WRITE:
      o->openMode = 0;
      vrk_log(3500, "got option '%s'", "OPEN_READ_DENY_WRITE");
      return true;
    case K_USE_LOCK_MODE:
      o->openMode = 1;
      vrk_log(3500, "got option '%s'", "USE_LOCK_MODE_IF_DW_FAILS");
      return true;
    case K_NO_LOCK:
      o->openMode = 2;
      vrk_log(3500, "got option '%s'", "NO_LOCK_NO_PROTECTION");
      return true;
    case K_OPEN_READ_ONLY:
      o->openMode = 3;
      vrk_log(3500, "got option '%s'", "OPEN_READ_ONLY");
      return true;
    case K_PRESERVE_ATIME:
      o->iPreserveAccessTime = 1;
      vrk_log(3500, "got option '%s'", "PRESERVE_ACCESS_TIME");
      return true;
    case K_MIGRATED:
      o->iIncludeMigratedData = 1;
      vrk_log(3500, "got option '%s'", "INCLUDE_MIGRATED_DATA");
      return true;
    case K_SKIP_DATA:
      o->iSkipData = 1;
      vrk_log(3500, "got option '%s'", "SKIP_DATA");
      return true;
    case K_VERIFY: {
      const char *v = value_of(orig);
      if (v == nullptr || g->eOPERATION != RESTORE) {
        refuse(kw.c_str());
        return false;
      }
      std::string val(v);
      vrk_strupr(&val[0]);
      if (val.compare(0, 4, "TIME") == 0) {
        g->eVerifyOption = VERIFY_TIME;
      } else if (val.compare(0, 7, "CONTENT") == 0) {
        g->eVerifyOption = VERIFY_CONTENT;
      } else {
        refuse(kw.c_str());
        return false;
      }
      o->iVerify = 1;
      return true;
    }
    case K_XDEV: o->iXdev = 0; return true;
    case K_NOXDEV: o->iXdev = 1; return true;
    case K_UNCOMPRESS:
      vrk_log(3500, "Got option uncompress so set scanType EXPAND_COMPRESSED_DATA");
      g->bCompress = 0;
      return true;
    case K_PATH: {
      const char *v = value_of(orig);
      if (v == nullptr || strlen(v) > VRK_SUBOPT_PATH_MAX) {
        refuse(kw.c_str());
        return false;
      }
      if (*v != '\0') {
        strlcpy(g->szPath[0], v, sizeof(g->szPath[0]));
        vrk_log(3500, "Got relocation path with [%s]", g->szPath[0]);
      }
      return true;
    }
  }
  return true;
}

}  // namespace

int vrk_parse_subopts(const char *cpArg) {
  if (cpArg == nullptr || cpArg[0] == '-') {
    vrk_banner();
    vrk_log(1001, 'o');
    return -1;
  }

  // A table sized for the whole list: every keyword is handled.
  size_t count = 1;
  for (const char *p = cpArg; *p; ++p)
    if (*p == ',') ++count;
  std::vector<char *> table(count + 2, nullptr);
  int n = vrk_parse_item(table.data(), cpArg, ',', (int)count);
  if (n < 0) {
    vrk_log(1094);
    return -1;
  }
  std::vector<std::string> keywords;
  for (int i = 0; i < n && table[i] != nullptr; ++i) {
    keywords.emplace_back(table[i]);
    free(table[i]);
  }

  int result = 0;
  bool bAfterPassword = false;
  for (const std::string &orig : keywords) {
    std::string kw = orig;
    const Row *hit = nullptr;
    for (const Row &row : kRows) {
      if (row_matches(row, kw)) {
        hit = &row;
        break;
      }
    }
    if (hit == nullptr) {
      vrk_banner();
      // Behind an ENCRYPT value an unknown word is most likely the rest of
      // a password that holds a comma: it is refused without being shown.
      vrk_log(1038, bAfterPassword ? VRK_PASSWORD_MASK : kw.c_str(), 'o');
      print_os_info();
      return -1;
    }
    bAfterPassword = hit->eKey == K_ENCRYPT && value_of(orig) != nullptr;
    if (!apply(hit->eKey, kw, orig)) result = -1;
  }
  return result;
}
