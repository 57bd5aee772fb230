// Data-set names and the directories behind them: resolving a name to its
// resource and components, and opening paths that never leave the resource.
#ifndef VRK_SMS_SMS_PATH_H
#define VRK_SMS_SMS_PATH_H

#include <string>
#include <vector>

#include "sms/sms_world.h"
#include "sms/smstypes.h"

namespace vrksms {

struct Target {
  const Resource *res = nullptr;
  std::vector<std::string> comps;  // components below the resource
  bool parentForm = false;         // the name ended in its separator (or is the resource)
};

// A component is refused when empty, "." or "..", or when it holds '/' or NUL.
bool ValidComponent(const std::string &c);

// Splits a full data-set name of the TSA: NWSMTS_INVALID_PATH when no
// resource holds it, NWSMTS_INVALID_NAME for refused components.
CCODE ResolveName(const Tsa &tsa, const std::string &fullName, Target &out);

// The full name of a parent (directory) data set, ending in its separator:
// "/home/u/", "/srv/", "VOL1:", "VOL1:dir/".
std::string ParentName(const Tsa &tsa, const Resource &res, const std::vector<std::string> &comps,
                       size_t n);
inline std::string ParentName(const Tsa &tsa, const Resource &res,
                              const std::vector<std::string> &comps) {
  return ParentName(tsa, res, comps, comps.size());
}

// Key of a data set in the archive state: components joined by '/', a
// directory with a trailing '/'.
std::string RelKey(const std::vector<std::string> &comps, size_t n, bool isDir);

// Opens the directory of the first n components beneath the resource, every
// component without following symbolic links. create: missing components are
// made (mode 0700). Returns the descriptor or -1 with errno set.
int OpenDirBeneath(const Resource &res, const std::vector<std::string> &comps, size_t n, bool create);

// Separators of the TSA's names.
const char *FirstSeparator(const Tsa &tsa);
const char *NextSeparator(const Tsa &tsa);

}  // namespace vrksms

#endif
