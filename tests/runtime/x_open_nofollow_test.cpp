// Tests of opening the client's own files by name: what stands at the name
// (a link, a FIFO, a directory, a file) and what each open mode does to it.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string.h>

#include <string>

#include "runtime/x_open_nofollow.h"
#include "vrk_test_util.h"

namespace {

using vrktest::ReadFile;
using vrktest::TempDir;
using vrktest::WriteFile;

TEST(OpenNoFollow, WhatStandsAtTheNameDecides) {
  struct Case {
    const char *name;
    const char *mode;
    const char *planted;  // "link", "dangling", "fifo", "dir", "file", "kept" or "" (nothing)
    int err;              // 0: opened
    const char *after;    // the file's text after writing "new"
  } cases[] = {
      {"a new file", "w", "", 0, "new"},
      {"a file truncated", "w", "file", 0, "new"},
      {"a file appended to", "a", "file", 0, "oldnew"},
      {"a file opened for update", "r+", "file", 0, "new"},
      {"a link to a file", "w", "link", ELOOP, nullptr},
      {"a link appended to", "a", "link", ELOOP, nullptr},
      {"a dangling link", "w", "dangling", ELOOP, nullptr},
      {"a FIFO without a reader", "a", "fifo", ENXIO, nullptr},
      {"a directory", "r", "dir", EINVAL, nullptr},
      {"a second hard link", "w", "hardlink", EMLINK, nullptr},
      {"a second hard link read", "r", "hardlink", 0, nullptr},
      // The job's saveset under the name of a file the client writes.
      {"the saveset appended to", "a", "kept", EBUSY, nullptr},
      {"the saveset truncated", "w", "kept", EBUSY, nullptr},
      {"the saveset read", "r", "kept", 0, nullptr},
      // A file another user made at the name beforehand (as root only).
      {"another user's file truncated", "w", "other", EPERM, nullptr},
      {"another user's file appended to", "a", "other", EPERM, nullptr},
      {"another user's file read", "r", "other", 0, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    std::string name = tmp.file("f"), victim = tmp.file("victim");
    WriteFile(victim, "keep");
    std::string planted = c.planted;
    int made = 0;
    if (planted == "other" && geteuid() != 0) continue;
    if (planted == "file" || planted == "kept" || planted == "other") WriteFile(name, "old");
    if (planted == "other") made = chown(name.c_str(), 65534, 65534);
    if (planted == "kept") {
      struct stat st;
      ASSERT_EQ(0, stat(name.c_str(), &st));
      x_open_nofollow_keep(&st);
    }
    if (planted == "link") made = symlink(victim.c_str(), name.c_str());
    if (planted == "dangling") made = symlink(tmp.file("none").c_str(), name.c_str());
    if (planted == "fifo") made = mkfifo(name.c_str(), 0600);
    if (planted == "dir") made = mkdir(name.c_str(), 0700);
    if (planted == "hardlink") made = link(victim.c_str(), name.c_str());
    ASSERT_EQ(0, made);

    errno = 0;
    FILE *fp = x_fopen_nofollow(name.c_str(), c.mode, 0600);
    if (c.err != 0) {
      EXPECT_EQ(nullptr, fp);
      EXPECT_EQ(c.err, errno);
      if (fp) fclose(fp);
    } else {
      ASSERT_NE(nullptr, fp) << strerror(errno);
      if (c.after != nullptr) {
        EXPECT_EQ(3u, fwrite("new", 1, 3, fp));
      }
      EXPECT_EQ(0, fclose(fp));
      if (c.after != nullptr) {
        EXPECT_EQ(c.after, ReadFile(name));
      }
    }
    EXPECT_EQ("keep", ReadFile(victim));
    if (planted == "kept" || planted == "other") {
      EXPECT_EQ("old", ReadFile(name));
    }
    x_open_nofollow_forget();
    struct stat st;
    EXPECT_NE(0, stat(tmp.file("none").c_str(), &st)) << "a dangling link's target was made";
  }
}

TEST(OpenNoFollow, ANewFileGetsTheModeGiven) {
  TempDir tmp;
  mode_t old = umask(022);
  int fd = x_open_nofollow(tmp.file("m").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  umask(old);
  ASSERT_GE(fd, 0);
  struct stat st;
  ASSERT_EQ(0, fstat(fd, &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_FALSE(fcntl(fd, F_GETFL) & O_NONBLOCK);
  close(fd);
}

// An older file of the caller's own keeps no wider permissions than a new
// one would get; reading it changes nothing.
TEST(OpenNoFollow, AnOlderFileLosesWiderPermissionsWhenWritten) {
  TempDir tmp;
  std::string name = tmp.file("log");
  WriteFile(name, "old");
  ASSERT_EQ(0, chmod(name.c_str(), 0666));
  FILE *fp = x_fopen_nofollow(name.c_str(), "r", 0600);
  ASSERT_NE(nullptr, fp);
  fclose(fp);
  struct stat st;
  ASSERT_EQ(0, stat(name.c_str(), &st));
  EXPECT_EQ(0666u, st.st_mode & 0777);
  fp = x_fopen_nofollow(name.c_str(), "a", 0640);
  ASSERT_NE(nullptr, fp);
  fclose(fp);
  ASSERT_EQ(0, stat(name.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
  EXPECT_EQ("old", ReadFile(name));
}

}  // namespace
