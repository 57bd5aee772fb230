// The local saveset file a backup writes: made under a temporary name beside
// its final name, locked for the whole job, renamed over it after a good end.
#ifndef VRK_CLIENT_VRK_SAVESET_FILE_H
#define VRK_CLIENT_VRK_SAVESET_FILE_H

#include <string>

// Opens the saveset `cpName` for a backup. A regular file (or a name where
// none stands yet, also behind a symbolic link) is written under a temporary
// name in the directory of the file itself, which holds an exclusive lock
// until the job ends; anything else (a device, a FIFO) is opened straight
// and truncated as before. Returns the descriptor, or -1 with errno set;
// `*pbBusy` is true when another job writes the same saveset. A link,
// device, FIFO or file that another user may have put in the way (and a
// temporary of another user that cannot be removed) is refused before
// anything is written: -1 with `*psFile` naming it and `*psWhy` the reason
// (both empty on other failures).
int vrk_saveset_create(const char *cpName, bool *pbBusy, std::string *psFile, std::string *psWhy);

// Ends the saveset of vrk_saveset_create. With bGood (the job's status is 0
// or 1 and the stream was closed) the temporary is synced and renamed over
// the final name; otherwise it is removed and the final name stays as it
// was. A job whose status has turned to 3 during the sync (a SIGINT) keeps
// the old saveset too. 0, or -1 when the saveset was not replaced then or
// the rename failed (logged; the temporary is removed).
int vrk_saveset_finish(bool bGood);

// Removes the temporary of an unfinished saveset; async-signal-safe, for
// the signals that end the process.
void vrk_saveset_discard_signal_safe(void);

#endif
