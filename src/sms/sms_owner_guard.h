// Whose existing files a restore may give an owner or a set-ID bit in place:
// the caller's, root's, and those of the owner the stream names.
#ifndef VRK_SMS_SMS_OWNER_GUARD_H
#define VRK_SMS_SMS_OWNER_GUARD_H

#include <sys/stat.h>

#include <string>

#include "sms/sms_sidf.h"

namespace vrksms {

// Why the owner and mode of the stream h must not be set on the existing
// file or directory st in place: "" when they may. A file of another user
// would otherwise become the stream owner's, or set-user or set-group ID,
// with that user's contents; nor is a file of the owner the stream names
// given the set-group ID of a group that owner is not of.
std::string WhyNotGivenInPlace(const struct stat &st, const SidfHeader &h);

}  // namespace vrksms

#endif
