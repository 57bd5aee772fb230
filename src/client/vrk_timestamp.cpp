// Timestamp marker files of a job: prepared in the tmp directory when the
// stored object is opened, committed into the times directory after a good backup.
#include "client/vrk_timestamp.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/vrk_log.h"
#include "runtime/x_file_owner.h"
#include "runtime/x_leftover.h"

namespace {

// Seconds a marker may lie ahead of the clock (a times directory on another
// machine whose clock runs a little ahead) and still be the reference.
constexpr time_t kFutureSlack = 5;

// The job name becomes part of a file name: it must not lead elsewhere.
bool job_name_usable(const char *cpDir, const char *cpSuffix) {
  if (strchr(spGlobal->szJobName, '/') == nullptr) return true;
  std::string name = std::string(cpDir ? cpDir : "") + "/" + spGlobal->szJobName + cpSuffix;
  vrk_log(2021, name.c_str(), "job name contains '/'");
  return false;
}

// Builds "%s/%s%s" into a 4096-byte name; false when it does not fit.
bool marker_name(char *cpOut, const char *cpDir, const char *cpSuffix) {
  int n = snprintf(cpOut, VRK_PATH_MAX, "%s/%s%s", cpDir ? cpDir : "", spGlobal->szJobName,
                   cpSuffix);
  if (n < 0 || n >= VRK_PATH_MAX) {
    vrk_log(2021, spGlobal->szJobName, strerror(ENAMETOOLONG));
    return false;
  }
  return true;
}

// A marker this run prepared: its name in the tmp directory (the job name,
// the level's suffix and the process id, so that two runs of one job at
// once never share one) and the file made there. Only that very file is
// ever committed; what another run made, or left behind when it was
// interrupted, is never taken.
struct PreparedMarker {
  std::string sName;
  dev_t dev = 0;
  ino_t ino = 0;
  bool bMade = false;
};
PreparedMarker gPrepared[2];  // ".I", ".D"
pid_t gPreparedBy = 0;

PreparedMarker &prepared(const char *cpSuffix) { return gPrepared[cpSuffix[1] == 'D' ? 1 : 0]; }

// True when the file at the marker's name is still the one this run made.
bool still_ours(const PreparedMarker &m, struct stat *pst) {
  return m.bMade && lstat(m.sName.c_str(), pst) == 0 && S_ISREG(pst->st_mode) && pst->st_dev == m.dev &&
         pst->st_ino == m.ino;
}

// A run that ends without committing (an error, an exit on the way) takes
// its prepared markers away with it.
void drop_prepared() {
  if (getpid() != gPreparedBy) return;
  for (PreparedMarker &m : gPrepared) {
    struct stat st;
    if (still_ours(m, &st)) unlink(m.sName.c_str());
    m.bMade = false;
  }
}

// Makes the marker anew: a leftover (of a failed job, or put there by
// another user to become the reference) is removed, then the marker is
// created exclusively, never through a symbolic link. *pst gets the file made.
int touch_marker(const char *cpName, struct stat *pst) {
  // One that the job would not have made itself is worth a word.
  struct stat stOld;
  if (lstat(cpName, &stOld) == 0 && (S_ISLNK(stOld.st_mode) || !x_owner_trusted(stOld.st_uid))) {
    std::string why = (S_ISLNK(stOld.st_mode) ? std::string("a symbolic link of ") : std::string("a file of ")) +
                      x_owner_text(stOld.st_uid) + " stood at the name; it is made anew";
    vrk_log(2021, cpName, why.c_str());
  }
  int err = unlink(cpName) != 0 && errno != ENOENT ? errno : 0;
  int fd = err == 0 ? open(cpName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600) : -1;
  if (fd < 0) {
    if (err == 0) err = errno;
    // A file that cannot be removed or made anew here is reported at every
    // log level: someone else holds the name.
    struct stat st;
    std::string why = strerror(err);
    if (lstat(cpName, &st) == 0 && !x_owner_trusted(st.st_uid))
      why = "the file belongs to " + x_owner_text(st.st_uid) + ": " + why;
    if (spGlobal->iLogLevel > 0 || err == ELOOP || err == EPERM || err == EACCES || err == EEXIST || err == EISDIR)
      vrk_log(2021, cpName, why.c_str());
    return -1;
  }
  int err2 = fstat(fd, pst) == 0 ? 0 : errno;
  close(fd);
  if (err2 != 0) {
    vrk_log(2021, cpName, strerror(err2));
    unlink(cpName);
    return -1;
  }
  return 0;
}

// Prepares the marker of one level under this run's own name.
int prepare_marker(const char *cpDir, const char *cpSuffix) {
  char szBase[VRK_PATH_MAX];
  char szName[VRK_PATH_MAX];
  if (!marker_name(szBase, cpDir, cpSuffix)) return -1;
  int n = snprintf(szName, sizeof(szName), "%s.%ld", szBase, (long)getpid());
  if (n < 0 || n >= (int)sizeof(szName)) {
    vrk_log(2021, szBase, strerror(ENAMETOOLONG));
    return -1;
  }
  if (strcmp(cpSuffix, ".D") == 0) vrk_log(3500, "szName [%s]", szName);
  PreparedMarker &m = prepared(cpSuffix);
  if (gPreparedBy != getpid()) {
    if (gPreparedBy == 0) atexit(drop_prepared);
    gPreparedBy = getpid();
  }
  m.bMade = false;
  m.sName = szName;
  struct stat st;
  if (touch_marker(szName, &st) != 0) return -1;
  m.dev = st.st_dev;
  m.ino = st.st_ino;
  m.bMade = true;
  return 0;
}

// A run ended by a signal it could not catch leaves its prepared markers in
// the tmp directory, and perhaps the temporary of a commit beside the times
// directory's markers. No later run takes them; they are removed here so
// that the directories do not fill up over the nightly runs of a job: only
// those of this job, named after a process that no longer runs, and regular
// files of this user with one link.
void remove_ended_runs_markers(const char *tmpDir, const char *timesDir) {
  const std::string job = spGlobal->szJobName;
  struct Place {
    const char *cpDir;
    std::vector<std::string> prefixes;
  } places[] = {{tmpDir, {job + ".I.", job + ".D."}}, {timesDir, {job + ".I.commit.", job + ".D.commit."}}};
  for (const Place &place : places) {
    for (const std::string &name : x_remove_ended_leftovers(place.cpDir, place.prefixes))
      trace("vrk_settimestamp: removed %s/%s of a run that has ended", place.cpDir, name.c_str());
  }
}

// Commits one marker by rename; across file systems a new marker with the
// prepared times is made next to the destination and renamed onto it.
int commit_marker(const char *cpSuffix, const char *cpTo) {
  PreparedMarker &m = prepared(cpSuffix);
  if (!m.bMade) {
    vrk_log(2021, cpTo, "this run prepared no marker");
    return -1;
  }
  const char *cpFrom = m.sName.c_str();
  // Only the marker this run's prepare step made is moved: a link planted
  // in the tmp directory, or a marker another run made, never becomes a
  // marker of the times directory.
  struct stat stFrom;
  if (lstat(cpFrom, &stFrom) == 0 && S_ISREG(stFrom.st_mode) && x_owner_trusted(stFrom.st_uid) &&
      !still_ours(m, &stFrom)) {
    std::string why = std::string(cpFrom) + " is no longer the marker this run prepared";
    vrk_log(2021, cpTo, why.c_str());
    m.bMade = false;
    return -1;
  }
  if (lstat(cpFrom, &stFrom) == 0 && !S_ISREG(stFrom.st_mode)) {
    vrk_log(2021, cpTo, strerror(S_ISLNK(stFrom.st_mode) ? ELOOP : EINVAL));
    return -1;
  }
  // Nor one of another user, whose time that user sets.
  if (lstat(cpFrom, &stFrom) == 0 && !x_owner_trusted(stFrom.st_uid)) {
    std::string why = std::string(cpFrom) + " belongs to " + x_owner_text(stFrom.st_uid);
    vrk_log(2021, cpTo, why.c_str());
    return -1;
  }
  if (rename(cpFrom, cpTo) == 0) {
    m.bMade = false;
    return 0;
  }
  int err = errno;
  if (err == EXDEV) {
    struct stat st;
    if (lstat(cpFrom, &st) == 0 && S_ISREG(st.st_mode)) {
      // Beside the destination under this run's own name too.
      std::string tmp = std::string(cpTo) + ".commit." + std::to_string((long)getpid());
      unlink(tmp.c_str());
      int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        bool ok = futimens(fd, times) == 0;
        ok = close(fd) == 0 && ok;
        if (ok && rename(tmp.c_str(), cpTo) == 0) {
          unlink(cpFrom);
          m.bMade = false;
          return 0;
        }
        err = errno;
        unlink(tmp.c_str());
      } else {
        err = errno;
      }
    } else {
      err = errno ? errno : EXDEV;
    }
  }
  vrk_log(2021, cpTo, strerror(err));
  return -1;
}

}  // namespace

int vrk_settimestamp(_eBackupType eBackupType, int iCallNo) {
  if (eBackupType == COPY) return 0;
  const char *tmpDir = spGlobal->sDirs.cpTmp;
  const char *timesDir = spGlobal->sDirs.cpTimes;
  char szTimesName[VRK_PATH_MAX];

  if (iCallNo != 2) {
    if (!job_name_usable(tmpDir, ".I")) return -1;
    remove_ended_runs_markers(tmpDir, timesDir);
    int result = 0;
    if (eBackupType == FULL) result = prepare_marker(tmpDir, ".D");
    result = prepare_marker(tmpDir, ".I");
    return result;
  }

  if (!job_name_usable(timesDir, ".I")) return -1;
  if (!marker_name(szTimesName, timesDir, ".I")) return -1;
  int result = commit_marker(".I", szTimesName);
  if (eBackupType == FULL) {
    if (!marker_name(szTimesName, timesDir, ".D")) return -1;
    result = commit_marker(".D", szTimesName);
  }
  return result;
}

time_t vrk_gettimestamp(_eBackupType eBackupType) {
  const char *suffix;
  switch (eBackupType) {
    case SINCE: return spGlobal->tBackupFrom;
    case INCREMENTAL: suffix = ".I"; break;
    case DIFFERENTIAL: suffix = ".D"; break;
    default: return 0;  // FULL, COPY and levels a backup never has
  }

  char szName[VRK_PATH_MAX];
  struct stat st;
  bool found = false;
  if (job_name_usable(spGlobal->sDirs.cpTimes, suffix) &&
      marker_name(szName, spGlobal->sDirs.cpTimes, suffix)) {
    trace("vrk_gettimestamp: stat(%s)", szName);
    found = stat(szName, &st) == 0;
    // The reference time is trusted only from a marker this user (or root)
    // made: one of another user, or a link to any file, would let its owner
    // decide what the backup leaves out.
    struct stat stName;
    std::string why;
    bool bLinkOk = !found || lstat(szName, &stName) != 0 || !S_ISLNK(stName.st_mode) ||
                   x_entry_trusted(szName, stName, &why);
    if (bLinkOk && found && !S_ISREG(st.st_mode))
      why = "it is no regular file";
    else if (bLinkOk && found && !x_owner_trusted(st.st_uid))
      why = "it belongs to " + x_owner_text(st.st_uid) + ", not to the user of the job";
    // A reference later than now (the clock was set back since the marker
    // was made) would leave out every change made until the clock reaches
    // it again, and the commit would then put the reference back to now:
    // those changes would be saved by no backup at all.
    time_t now = time(nullptr);
    if (why.empty() && found && st.st_mtime > now + kFutureSlack) {
      struct tm tmWhen;
      char szWhen[64] = "";
      if (localtime_r(&st.st_mtime, &tmWhen) != nullptr)
        strftime(szWhen, sizeof(szWhen), "%Y-%m-%d %H:%M:%S", &tmWhen);
      why = std::string("it is dated ") + szWhen + ", later than now";
    }
    if (!why.empty()) {
      vrk_log(2022, szName, why.c_str());
      found = false;
    }
  }
  if (found) return st.st_mtime;

  vrk_log(2059);
  spGlobal->eBackupType = FULL;
  if (spGlobal->sVRKObject.eOperStatus == STATUS_OK)
    spGlobal->sVRKObject.eOperStatus = STATUS_WARNING;
  return 0;
}
