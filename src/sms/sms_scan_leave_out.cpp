// Scan::LeaveOut: an item the scan cannot return (its name does not fit a
// name list) is left out with all it holds, said so, and named to the caller.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "runtime/shown_name.h"
#include "sms/sms_scan.h"
#include "sms/smsapi.h"
#include "sms/smsdefs.h"
#include "sms/smserrors.h"

namespace vrksms {

namespace {

// Whether item lies at or below the directory of parent.
bool Within(const ScanItem &item, const ScanItem &parent) {
  const std::vector<std::string> &p = parent.dirComps;
  return item.res == parent.res && item.dirComps.size() >= p.size() &&
         std::equal(p.begin(), p.end(), item.dirComps.begin());
}

}  // namespace

void Scan::LeaveOut(CCODE why) {
  if (!haveCurrent) return;
  haveCurrent = false;
  const ScanItem &it = current;
  const std::string full = ItemFullName(*tsa, it);
  leftOut = full;
  std::string reason = why == NWSMUT_LIST_TOO_LARGE
                           ? "its name makes a name list longer than " + std::to_string(NWSM_MAX_NAME_LIST_SIZE) +
                                 " bytes"
                           : "its name cannot be given";
  std::string note = "vrk_sms: " + vrk_shown_name(full) + ": left out" +
                     (it.isParent ? " with all it holds: " : ": ") + reason;
  fprintf(stderr, "%s\n", note.c_str());
  if (!it.isParent) return;
  // What the scan holds below the directory goes: the items waiting to be
  // returned and the directories being read.
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [&](const ScanItem &q) { return Within(q, it); }),
               queue_.end());
  if (it.res != sources[si_].res) return;
  const size_t depth = it.dirComps.size();
  if (comps_.size() < depth || !std::equal(it.dirComps.begin(), it.dirComps.end(), comps_.begin())) return;
  while (!stack_.empty() && stack_.back()->depth >= depth) {
    if (stack_.back()->held) --held_;
    stack_.pop_back();
  }
  if (!stack_.empty()) comps_.resize(stack_.back()->depth);
}

}  // namespace vrksms

extern "C" int vrk_sms_left_out(UINT32 connection, UINT32 sequence, char **name) {
  vrksms::Scan *s = vrksms::FindHandle<vrksms::Scan>(sequence, connection);
  if (!name || !s || s->leftOut.empty()) return 0;
  *name = strdup(s->leftOut.c_str());
  s->leftOut.clear();
  return *name != nullptr;
}
