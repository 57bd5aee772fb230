// x_Stat, x_CreateDir, x_MakeDirBranch, x_Delete and x_DeleteDir; the tree
// removal walks with directory descriptors, so no cut path names another file.
#include "runtime/x_fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/vrk_log.h"

namespace {

// Longest path the removal traces and handles; deeper names are skipped.
constexpr size_t kMaxPath = 4095;

bool exists_as_dir(const std::string &path) {
  ENUM_STAT st = x_Stat(const_cast<char *>(path.c_str()), NULL);
  return st == X_STAT_DIR || st == X_STAT_DRIVE;
}

int ensure_dir(const std::string &path) {
  if (path.empty() || exists_as_dir(path)) return 0;
  return x_CreateDir(const_cast<char *>(path.c_str()));
}

// Empties the directory open at dirFd (named path for traces) and closes it.
// -1 when a subdirectory cannot be emptied; single removals are not reported.
int empty_dir(int dirFd, const std::string &path) {
  DIR *dir = fdopendir(dirFd);
  if (dir == NULL) {
    close(dirFd);
    return -1;
  }
  int result = 0;
  struct dirent *entry;
  while ((entry = readdir(dir)) != NULL) {
    const char *name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    std::string child = path + "/" + name;
    if (child.size() > kMaxPath) {
      trace("x_DeleteDir: skip [%s/%s]: path longer than %d characters", path.c_str(), name, (int)kMaxPath);
      continue;
    }
    trace("check %s", child.c_str());
    struct stat st;
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      int sub = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0 || empty_dir(sub, child) != 0) {
        result = -1;
        break;
      }
      unlinkat(dirFd, name, AT_REMOVEDIR);
    } else {
      // Symbolic links are removed themselves, never what they point to.
      unlinkat(dirFd, name, 0);
    }
  }
  closedir(dir);
  return result;
}

}  // namespace

ENUM_STAT x_Stat(char *I_cpFSItem, STRU_STAT_INFO *O_spStatInfo) {
  (void)O_spStatInfo;
  if (I_cpFSItem == NULL) return X_STAT_ERROR;
  struct stat st;
  if (lstat(I_cpFSItem, &st) != 0) return X_STAT_ERROR;
  if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) return X_STAT_DIR;
  if (S_ISREG(st.st_mode)) return X_STAT_FILE;
  return X_STAT_ERROR;
}

int x_CreateDir(char *I_cpDir) {
  if (I_cpDir == NULL) return -1;
  if (mkdir(I_cpDir, 0775) != 0) return -1;
  chmod(I_cpDir, 0775);
  return 0;
}

int x_MakeDirBranch(char *I_cpDir) {
  if (I_cpDir == NULL || *I_cpDir == '\0') return -1;
  const std::string path(I_cpDir);
  const char sep = path.find('\\') != std::string::npos ? '\\' : '/';
  size_t pos = path[0] == sep ? 1 : 0;
  for (;;) {
    size_t next = path.find(sep, pos);
    if (next == std::string::npos) break;
    if (ensure_dir(path.substr(0, next)) != 0) return -1;
    pos = next;
    while (pos < path.size() && path[pos] == sep) pos++;
  }
  if (ensure_dir(path) != 0) return -1;
  return 0;
}

int x_Delete(char *I_cpFSItem) {
  if (I_cpFSItem == NULL) return -1;
  return remove(I_cpFSItem);
}

int x_DeleteDir(char *source) {
  if (source == NULL) return -1;
  trace("x_DeleteDir [%s]", source);
  // O_NOFOLLOW: a link given as the tree is not a tree of its own to empty.
  int fd = open(source, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    trace("Error in opendir( %s ): %s", source, strerror(err));
    int result = err == ENOENT ? 0 : -1;
    trace("x_DeleteDir return %d", result);
    return result;
  }
  if (empty_dir(fd, source) != 0) {
    trace("x_DeleteDir return %d", -1);
    return -1;
  }
  trace("closing( dir_pointer )");
  int result = rmdir(source);
  if (result != 0) {
    trace("Error in rmdir( %s ): %s", source, strerror(errno));
    result = -1;
  }
  trace("x_DeleteDir return %d", result);
  return result;
}
