// The containment checks of the restore driver: stored names, and new names
// against the destinations of the rename list.
#include "engine/restore_target.h"

#include <string.h>

#include "engine/rename_list.h"
#include "runtime/strlib.h"

namespace {

bool is_separator(char c) { return c == '/' || c == ':'; }

// The name without its trailing '/' (the top "/" and "VOL1:" kept).
std::string bare(std::string d) {
  while (d.size() > 1 && d.back() == '/' && !is_separator(d[d.size() - 2])) d.pop_back();
  return d;
}

// A pair's destination as the new names have it, runs of '/' made one, and
// bare.
std::string destination_of(const SinglePair *p) {
  std::string d = p->destination != nullptr ? p->destination : "";
  d.resize(strlen(squeeze(&d[0], '/')));
  return bare(d);
}

}  // namespace

bool RestoreNameIsSafe(const std::string &name, bool terminal) {
  if (terminal) return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/:", start);
    std::string comp = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (comp == "." || comp == "..") return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

bool RestoreNameWithinTargets(const std::string &name) {
  if (!RestoreNameIsSafe(name, false)) return false;
  for (SinglePair *p = head; p != nullptr; p = p->next) {
    std::string d = destination_of(p);
    if (d.empty()) continue;
    if (name.compare(0, d.size(), d) != 0) continue;
    if (name.size() == d.size() || is_separator(d.back()) || name[d.size()] == '/') return true;
  }
  return false;
}

bool RestoreNameIsTarget(const std::string &name) {
  std::string n = bare(name);
  for (SinglePair *p = head; p != nullptr; p = p->next)
    if (n == destination_of(p)) return true;
  return false;
}
