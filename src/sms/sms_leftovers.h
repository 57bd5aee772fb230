// Temporary names of restore writes, which say whose they are, the removal
// of those that an earlier, ended restore of the same user left, and the
// note that marks a directory whose restore is not finished.
#ifndef VRK_SMS_SMS_LEFTOVERS_H
#define VRK_SMS_SMS_LEFTOVERS_H

#include <string>

namespace vrksms {

// ".vrk-restore-<uid>-<pid>-<8 hex digits>": the effective user and the
// process that makes it. A new name at every call.
std::string TempName();

// Marks a temporary file as being written (a lock held on fd until it is
// closed), so that no other restore takes it for a leftover.
void HoldTemp(int fd);

// Removes from the directory the temporary names of this user that no
// running process holds: of the name form above with this user's uid and a
// process that no longer runs, owned by this user, a regular file (with one
// link and no lock on it) or a symbolic link. Anything else is left alone.
// A directory already looked at (the last one) is not read again.
// When ended is given, it gets the name of a note (below) that an ended
// restore of this user left there, or "".
void RemoveLeftTemps(int dirFd, std::string *ended = nullptr);

// ".vrk-unfinished-<uid>-<pid>": the note a restore puts into a directory it
// makes, and removes once the directory has its owner, mode and times. It
// holds what it belongs to: the directory's device and inode ("<dev> <ino>"
// and a line break) and the data set's full name. A restore that finds one
// of an ended restore of its user, made for the directory and data set it
// restores, finishes that directory as one of its own.
std::string UnfinishedNote();
// Puts this process's note for the data set into the directory; false when
// it cannot.
bool NoteUnfinished(int dirFd, const std::string &dataSet);
// True when the note in the directory was made for it and for the data set:
// a note moved along with its directory to another name says another.
bool NoteMadeFor(int dirFd, const std::string &note, const std::string &dataSet);

}  // namespace vrksms

#endif
