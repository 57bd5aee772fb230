// The check before a restore sets owner and mode on a file that was there:
// a file of another user never becomes root's or set-ID by a restore.
#include "sms/sms_owner_guard.h"

#include <unistd.h>

#include "runtime/x_file_owner.h"

namespace vrksms {

std::string WhyNotGivenInPlace(const struct stat &st, const SidfHeader &h) {
  if (x_owner_trusted(st.st_uid) || st.st_uid == h.uid) return "";
  // Only root gives owners; anyone gives the set-ID bits of a mode.
  const bool newOwner = geteuid() == 0 && (st.st_uid != h.uid || st.st_gid != h.gid);
  const bool setId = (h.mode & (S_ISUID | S_ISGID)) != 0;
  if (!newOwner && !setId) return "";
  return std::string(S_ISDIR(st.st_mode) ? "the directory" : "the file") + " belongs to " + x_owner_text(st.st_uid) +
         ", who is neither the caller, root nor its owner in the backup: a restore gives it no new owner and "
         "no set-user or set-group ID";
}

}  // namespace vrksms
