// Whose files the client may write into, follow or take as its own: the user
// running the job, root, and for links the owner of the directory that holds them.
#include "runtime/x_file_owner.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "runtime/path_dir.h"

namespace {

const char *kind_of(const struct stat &st) {
  if (S_ISLNK(st.st_mode)) return "symbolic link";
  if (S_ISFIFO(st.st_mode)) return "FIFO";
  if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) return "device";
  return "file";
}

}  // namespace

bool x_owner_trusted(uid_t uid) { return uid == geteuid() || uid == 0; }

std::string x_owner_text(uid_t uid) {
  std::vector<char> buf(16384);
  struct passwd pw, *found = nullptr;
  std::string num = "uid " + std::to_string((unsigned long)uid);
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr) return num;
  return std::string(found->pw_name) + " (" + num + ")";
}

bool x_entry_trusted(const char *cpPath, const struct stat &st, std::string *psWhy) {
  if (st.st_uid == geteuid()) return true;
  std::string dir = dir_of(cpPath);
  struct stat stDir;
  if (stat(dir.c_str(), &stDir) != 0) {
    *psWhy = std::string("the ") + kind_of(st) + " belongs to " + x_owner_text(st.st_uid) +
             " and its directory cannot be examined";
    return false;
  }
  if (st.st_uid == stDir.st_uid && !(stDir.st_mode & S_IWOTH)) return true;
  *psWhy = std::string("the ") + kind_of(st) + " belongs to " + x_owner_text(st.st_uid) + ", " +
           (stDir.st_mode & S_IWOTH ? "in a world-writable directory"
                                    : "not to the owner of its directory") +
           (S_ISLNK(st.st_mode) ? ": not followed" : ": not written into");
  return false;
}

bool x_replace_trusted(const char *cpPath, const struct stat &st, std::string *psWhy) {
  if (st.st_uid == geteuid()) return true;
  struct stat stDir;
  std::string dir = dir_of(cpPath);
  if (stat(dir.c_str(), &stDir) != 0 || !(stDir.st_mode & S_IWOTH) || st.st_uid == stDir.st_uid)
    return true;
  *psWhy = "the file belongs to " + x_owner_text(st.st_uid) +
           ", in a world-writable directory: not replaced";
  return false;
}
