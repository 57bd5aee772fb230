// The check before a restore sets owner and mode on a file that was there:
// a file of another user never becomes root's or set-ID by a restore.
#include "sms/sms_owner_guard.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "runtime/x_file_owner.h"

namespace vrksms {

namespace {

// True when the user uid is of the group gid (as primary or supplementary
// group); a user without an entry is of no group.
bool OfGroup(uid_t uid, gid_t gid) {
  std::vector<char> buf(16384);
  struct passwd pw, *found = nullptr;
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr) return false;
  if (found->pw_gid == gid) return true;
  std::vector<gid_t> groups(64);
  for (int tries = 0; tries < 4; ++tries) {
    int n = static_cast<int>(groups.size());
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &n) >= 0) {
      for (int i = 0; i < n; ++i)
        if (groups[i] == gid) return true;
      return false;
    }
    groups.resize(static_cast<size_t>(n) > groups.size() ? static_cast<size_t>(n) : groups.size() * 2);
  }
  return false;
}

}  // namespace

std::string WhyNotGivenInPlace(const struct stat &st, const SidfHeader &h) {
  if (x_owner_trusted(st.st_uid)) return "";
  const char *kind = S_ISDIR(st.st_mode) ? "the directory" : "the file";
  if (st.st_uid == h.uid) {
    // The owner the backup names keeps the file, but its contents are no
    // longer those backed up: moved into a group the owner is not of, with
    // the set-group ID, they would run with that group.
    if (geteuid() != 0 || !(h.mode & S_ISGID) || st.st_gid == h.gid || OfGroup(st.st_uid, h.gid)) return "";
    return std::string(kind) + " belongs to " + x_owner_text(st.st_uid) + ", who is not of its group " +
           std::to_string(static_cast<unsigned long>(h.gid)) +
           " in the backup: a restore gives it no set-group ID of that group";
  }
  // Only root gives owners; anyone gives the set-ID bits of a mode.
  const bool newOwner = geteuid() == 0 && (st.st_uid != h.uid || st.st_gid != h.gid);
  const bool setId = (h.mode & (S_ISUID | S_ISGID)) != 0;
  if (!newOwner && !setId) return "";
  return std::string(kind) + " belongs to " + x_owner_text(st.st_uid) +
         ", who is neither the caller, root nor its owner in the backup: a restore gives it no new owner and "
         "no set-user or set-group ID";
}

}  // namespace vrksms
