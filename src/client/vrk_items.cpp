// Item splitters: cutting option arguments and backup sources into NULL-ended
// tables of heap strings, and trimming backup source items.
#include "client/vrk_items.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

// Longest single backup source argument that the item buffers hold.
constexpr size_t kMaxSourceArg = VRK_PATH_MAX - 1;
constexpr int kMaxSourceItems = VRK_MAX_ITEMS - 1;

char *dup_piece(const char *p, size_t n) {
  char *s = static_cast<char *>(malloc(n + 1));
  if (s == nullptr) return nullptr;
  memcpy(s, p, n);
  s[n] = '\0';
  return s;
}

}  // namespace

int vrk_parse_item(char **cpItem, const char *cpText, char cSep, int iMax) {
  if (cpItem == nullptr || cpText == nullptr || iMax < 0) return -1;
  std::string copy(cpText);

  int n = 0;
  while (n < iMax && cpItem[n] != nullptr) {
    trace("vrk_parse_item: cpItem[%d] %s", n, cpItem[n]);
    ++n;
  }

  size_t pos = 0;
  for (;;) {
    if (n >= iMax) {
      trace("vrk_parse_item: Error: Maximum number of items in array is reached (%d)", iMax);
      cpItem[iMax] = nullptr;
      return iMax + 1;
    }
    size_t sep = copy.find(cSep, pos);
    if (sep == std::string::npos) break;
    char *piece = dup_piece(copy.data() + pos, sep - pos);
    if (piece == nullptr) {
      cpItem[n] = nullptr;
      return -1;
    }
    cpItem[n++] = piece;
    pos = sep + 1;
  }
  char *rest = dup_piece(copy.data() + pos, copy.size() - pos);
  if (rest == nullptr) {
    cpItem[n] = nullptr;
    return -1;
  }
  cpItem[n] = rest;
  cpItem[n + 1] = nullptr;
  return n + 1;
}

int vrk_parse_item_str_delim(char **cpItem, const char *cpText, const char *cpDelim, int iMax) {
  if (cpItem == nullptr || cpText == nullptr || cpDelim == nullptr) {
    trace("vrk_parse_item_str_delim(): ERROR: Incorrect input parameter");
    return -1;
  }
  trace("vrk_parse_item_str_delim: trying to tokenize string: %s, with delimiter: %s", cpText,
        cpDelim);
  std::string text(cpText);
  std::string delim(cpDelim);

  std::vector<std::string> pieces;
  if (delim.empty()) {
    pieces.push_back(text);
  } else {
    size_t pos = 0;
    for (;;) {
      size_t hit = text.find(delim, pos);
      if (hit == std::string::npos) break;
      pieces.push_back(text.substr(pos, hit - pos));
      pos = hit + delim.size();
    }
    pieces.push_back(text.substr(pos));
  }

  int count = (int)pieces.size();
  if (count > 1 && count >= iMax) {
    trace("vrk_parse_item_str_delim: Warning: Maximum number of items in array is reached (%d)",
          iMax);
    return -1;
  }
  for (int i = 0; i < count; ++i) {
    cpItem[i] = dup_piece(pieces[i].data(), pieces[i].size());
    if (cpItem[i] == nullptr) {
      for (int j = 0; j < i; ++j) {
        free(cpItem[j]);
        cpItem[j] = nullptr;
      }
      return -1;
    }
  }
  cpItem[count] = nullptr;
  return count;
}

int vrk_parse_item_str_delim_save_drv_name(char **cpItem, const char *cpText,
                                           const char *cpDelim, int iMax) {
  if (cpItem == nullptr || cpText == nullptr || cpDelim == nullptr)
    return vrk_parse_item_str_delim(cpItem, cpText, cpDelim, iMax);

  std::string copy(cpText);
  if (copy.size() == 2 && copy[1] == ':') copy += '/';

  bool colon = strcmp(cpDelim, ":") == 0;
  if (colon) {
    size_t c = copy.size() > 2 ? copy.find(':', 2) : std::string::npos;
    if (c != std::string::npos && copy[c - 1] != '/') copy.insert(c, "/");
    if (copy.empty() || copy.back() != '/') copy += '/';
    if (copy != cpText) trace("vrk_parse_item_str_delim_save_drv_name:: item modified [%s]",
                              copy.c_str());
    // Each stand-in has the length of what it stands for: the text keeps
    // its length and its buffer.
    strreplace_all(&copy[0], copy.size(), ":/", "@%");
    strreplace_all(&copy[0], copy.size(), ":\\", "%@");
  }

  int n = vrk_parse_item_str_delim(cpItem, copy.c_str(), cpDelim, iMax);
  if (colon && n > 0) {
    for (int i = 0; i < n; ++i) {
      strreplace_all(cpItem[i], strlen(cpItem[i]), "@%", ":/");
      strreplace_all(cpItem[i], strlen(cpItem[i]), "%@", ":\\");
    }
  }
  return n;
}

int vrk_find_parse_item(char **cpItem, const char *cpText, char cSep, int iMax) {
  if (cpItem == nullptr || cpText == nullptr || iMax <= 0) return 0;
  cpItem[0] = nullptr;
  const char *p = cpText;
  int n = 0;
  while (n < iMax) {
    const char *sep = strchr(p, cSep);
    if (sep == nullptr) {
      cpItem[n] = strdup(p);
      if (cpItem[n] == nullptr) return n;
      cpItem[++n] = nullptr;
      return n;
    }
    if (*p == '"') {
      const char *close = strchr(p + 1, '"');
      if (close != nullptr && close[1] == cSep) {
        cpItem[n] = dup_piece(p + 1, (size_t)(close - p - 1));
        if (cpItem[n] == nullptr) return n;
        cpItem[++n] = nullptr;
        p = close + 2;
        continue;
      }
    }
    cpItem[n] = dup_piece(p, (size_t)(sep - p));
    if (cpItem[n] == nullptr) return n;
    cpItem[++n] = nullptr;
    p = sep + 1;
  }
  fprintf(stderr, "\nvrk_find_parse_item: Error: Maximum number of items in array is reached (%d)\n",
          iMax);
  return n;
}

namespace {

bool has_odd_comma_run(const char *s) {
  for (const char *p = s; *p;) {
    if (*p != ',') {
      ++p;
      continue;
    }
    size_t run = 0;
    while (*p == ',') {
      ++run;
      ++p;
    }
    if (run % 2 == 1) return true;
  }
  return false;
}

// Cuts text by the comma-run rule: 2k commas are k literal commas inside the
// item, 2k+1 commas are k literal commas that end the item. An empty last
// item is dropped.
std::vector<std::string> cut_sources(const std::string &text) {
  std::vector<std::string> items;
  std::string cur;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != ',') {
      cur += text[i++];
      continue;
    }
    size_t run = 0;
    while (i < text.size() && text[i] == ',') {
      ++run;
      ++i;
    }
    cur.append(run / 2, ',');
    if (run % 2 == 1) {
      items.push_back(cur);
      cur.clear();
    }
  }
  if (!cur.empty()) items.push_back(cur);
  return items;
}

// Stores one item at *next, checking the table's room before the store.
int store_source(char **cpItem, int *next, const std::string &item) {
  if (*next >= kMaxSourceItems) {
    vrk_log(1006);
    cpItem[*next] = nullptr;
    return -1;
  }
  char *s = dup_piece(item.data(), item.size());
  if (s == nullptr) {
    vrk_log(1094);
    cpItem[*next] = nullptr;
    return -1;
  }
  cpItem[(*next)++] = s;
  return 0;
}

}  // namespace

int ProcessBackupSource(int *piFirst, int iArgc, int *piNext, char **argv, char **cpItem) {
  if (piFirst == nullptr || piNext == nullptr || argv == nullptr || cpItem == nullptr) return -1;
  int first = *piFirst;
  int start = *piNext;
  int next = start;

  bool joined = false;
  for (int a = first; a < iArgc; ++a) {
    if (strlen(argv[a]) > kMaxSourceArg) {
      vrk_log(1500, "Backup source longer than %d characters: [%.64s...]", (int)kMaxSourceArg,
              argv[a]);
      cpItem[next] = nullptr;
      return -1;
    }
    if (has_odd_comma_run(argv[a])) joined = true;
  }

  if (joined) {
    std::string all;
    for (int a = first; a < iArgc; ++a) {
      if (a > first) all += ' ';
      all += argv[a];
    }
    for (const std::string &item : cut_sources(all))
      if (store_source(cpItem, &next, item) != 0) return -1;
  } else {
    for (int a = first; a < iArgc; ++a)
      for (const std::string &item : cut_sources(argv[a]))
        if (store_source(cpItem, &next, item) != 0) return -1;
  }

  cpItem[next] = nullptr;
  TrimAllBackupSourceItems(start, cpItem);
  *piNext = next;
  if (!joined) *piFirst = iArgc;
  return 0;
}

void TrimAllBackupSourceItems(int iFirst, char **cpItem) {
  if (cpItem == nullptr || iFirst < 0) return;
  for (int i = iFirst; cpItem[i] != nullptr; ++i) {
    char *s = cpItem[i];
    size_t len = strlen(s);
    size_t b = 0;
    while (b < len && s[b] == ' ') ++b;
    size_t e = len;
    while (e > b && s[e - 1] == ' ') --e;
    memmove(s, s + b, e - b);
    s[e - b] = '\0';
  }
}
