// Where a restore may write: stored names that stay beneath the place they
// are restored to, and new names that stay beneath a rename destination.
#ifndef VRK_ENGINE_RESTORE_TARGET_H
#define VRK_ENGINE_RESTORE_TARGET_H

#include <string>

// True when the stored name has no "." or ".." component and, for a
// terminal name, is one component.
bool RestoreNameIsSafe(const std::string &name, bool terminal);

// True when a new name from the rename list lies at or beneath one of the
// list's destinations, at a separator, with no "." or ".." component.
bool RestoreNameWithinTargets(const std::string &name);

// True when the name is a destination of the rename list itself: the
// directory the restore goes into, whose mode, owner and times it keeps.
bool RestoreNameIsTarget(const std::string &name);

#endif
