// Timestamp marker files of a job: prepared in the tmp directory when the
// stored object is opened, committed into the times directory after a good backup.
#include "client/vrk_timestamp.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/vrk_log.h"
#include "runtime/x_file_owner.h"

namespace {

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

// Makes the marker anew: a leftover (of a failed job, or put there by
// another user to become the reference) is removed, then the marker is
// created exclusively, never through a symbolic link.
int touch_marker(const char *cpName) {
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
  close(fd);
  return 0;
}

// Commits one marker by rename; across file systems a new marker with the
// prepared times is made next to the destination and renamed onto it.
int commit_marker(const char *cpFrom, const char *cpTo) {
  // Only a marker the prepare step made is moved: a link planted in the tmp
  // directory never becomes a marker of the times directory.
  struct stat stFrom;
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
  if (rename(cpFrom, cpTo) == 0) return 0;
  int err = errno;
  if (err == EXDEV) {
    struct stat st;
    if (lstat(cpFrom, &st) == 0 && S_ISREG(st.st_mode)) {
      std::string tmp = std::string(cpTo) + ".commit";
      unlink(tmp.c_str());
      int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        bool ok = futimens(fd, times) == 0;
        ok = close(fd) == 0 && ok;
        if (ok && rename(tmp.c_str(), cpTo) == 0) {
          unlink(cpFrom);
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
  char szName[VRK_PATH_MAX];
  char szTimesName[VRK_PATH_MAX];

  if (iCallNo != 2) {
    if (!job_name_usable(tmpDir, ".I")) return -1;
    int result = 0;
    if (eBackupType == FULL) {
      if (!marker_name(szName, tmpDir, ".D")) return -1;
      vrk_log(3500, "szName [%s]", szName);
      result = touch_marker(szName);
    }
    if (!marker_name(szName, tmpDir, ".I")) return -1;
    result = touch_marker(szName);
    return result;
  }

  if (!job_name_usable(timesDir, ".I")) return -1;
  if (!marker_name(szName, tmpDir, ".I") || !marker_name(szTimesName, timesDir, ".I")) return -1;
  int result = commit_marker(szName, szTimesName);
  if (eBackupType == FULL) {
    if (!marker_name(szName, tmpDir, ".D") || !marker_name(szTimesName, timesDir, ".D"))
      return -1;
    result = commit_marker(szName, szTimesName);
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
