// Tests of the semaphore files across processes: live and vanished holders,
// trying, releasing, the holder's own inquiry and a missing directory.
#include "runtime/x_semaphore.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "runtime/proc_child.h"
#include "vrk_test_util.h"

using vrktest::HolderChild;
using vrktest::ReadFile;
using vrktest::RunInChild;
using vrktest::TempDir;

namespace {

SCT_SEMA Sema(const char *caller) {
  SCT_SEMA s;
  memset(&s, 0, sizeof(s));
  strcpy(s.szSema, "S1");
  strcpy(s.szCaller, caller);
  return s;
}

char TakeSema(const std::string &path, char fn) {
  SCT_SEMA s = Sema("holder-caller");
  return x_Semaphore(fn, path.c_str(), &s) == KV_SUCCESS ? 'y' : 'n';
}

TEST(Semaphore, LiveHolderThenVanishedHolder) {
  TempDir dir;
  std::string path = dir.file("s1.sem");
  HolderChild holder([&] { return TakeSema(path, '+'); });
  ASSERT_EQ('y', holder.report());
  const std::string holderText = std::to_string(holder.pid()) + " holder-caller";
  EXPECT_EQ(holderText, ReadFile(path));

  SCT_SEMA s = Sema("me");
  EXPECT_EQ(KV_WARNING, x_Semaphore('*', path.c_str(), &s));
  EXPECT_EQ("another process " + holderText + " is holding semaphore S1", std::string(s.szMsg));
  EXPECT_EQ(0, s.hSema);
  EXPECT_EQ(KV_WARNING, x_Semaphore('?', path.c_str(), &s));
  EXPECT_EQ(holderText, std::string(s.szMsg));
  EXPECT_EQ(KV_WARNING, x_Semaphore('-', path.c_str(), &s));
  EXPECT_EQ("could not reset semaphore bcs. another process " + holderText +
                " is holding semaphore S1",
            std::string(s.szMsg));
  EXPECT_EQ(holderText, ReadFile(path));

  holder.Kill();
  EXPECT_EQ(KV_SUCCESS, x_Semaphore('?', path.c_str(), &s));
  EXPECT_EQ("holding process " + holderText + " for semaphore S1 disappeared", std::string(s.szMsg));
  EXPECT_EQ("", ReadFile(path));
  EXPECT_EQ(KV_SUCCESS, x_Semaphore('?', path.c_str(), &s));
  EXPECT_STREQ("semaphore S1 is free", s.szMsg);
}

TEST(Semaphore, TakeReleaseAndOwnInquiry) {
  TempDir dir;
  std::string path = dir.file("s2.sem");
  SCT_SEMA s = Sema("owner");
  ASSERT_EQ(KV_SUCCESS, x_Semaphore('*', path.c_str(), &s));
  EXPECT_NE(0, s.hSema);
  EXPECT_EQ(std::to_string(getpid()) + " owner", ReadFile(path));
  // The holder's own inquiry reports the live holder and keeps the lock.
  SCT_SEMA q = Sema("inquirer");
  EXPECT_EQ(KV_WARNING, x_Semaphore('?', path.c_str(), &q));
  EXPECT_EQ(std::to_string(getpid()) + " owner", std::string(q.szMsg));
  EXPECT_EQ(1, RunInChild([&] { return TakeSema(path, '*') == 'y' ? 0 : 1; }));
  // Taking it again in the same process does not wait for itself.
  SCT_SEMA again = Sema("again");
  EXPECT_EQ(KV_WARNING, x_Semaphore('+', path.c_str(), &again));
  EXPECT_NE(nullptr, strstr(again.szMsg, "already held by this process")) << again.szMsg;
  EXPECT_EQ(KV_WARNING, x_Semaphore('+', path.c_str(), &s));
  EXPECT_NE(0, s.hSema);

  EXPECT_EQ(KV_SUCCESS, x_Semaphore('-', path.c_str(), &s));
  EXPECT_EQ(0, s.hSema);
  EXPECT_EQ("", ReadFile(path));
  EXPECT_EQ(0, RunInChild([&] { return TakeSema(path, 'S') == 'y' ? 0 : 1; }));
  EXPECT_EQ(KV_SUCCESS, x_Semaphore('R', path.c_str(), &s));
}

TEST(Semaphore, WaitingTakerGetsItOnceTheHolderEnds) {
  TempDir dir;
  std::string path = dir.file("s3.sem");
  HolderChild holder([&] { return TakeSema(path, '+'); });
  ASSERT_EQ('y', holder.report());
  // A second child waits for the lock; it is granted when the holder dies.
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t waiter = fork();
  if (waiter == 0) {
    close(fds[0]);
    char c = TakeSema(path, '+');
    if (write(fds[1], &c, 1) != 1) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  holder.Kill();
  char c = 0;
  EXPECT_EQ(1, read(fds[0], &c, 1));
  EXPECT_EQ('y', c);
  close(fds[0]);
  int st;
  waitpid(waiter, &st, 0);
}

TEST(Semaphore, MissingDirectoryIsCreatedBesideTheFile) {
  TempDir dir;
  std::string path = dir.file("newdir/s4.sem");
  SCT_SEMA s = Sema("c");
  EXPECT_EQ(KV_SUCCESS, x_Semaphore('+', path.c_str(), &s));
  EXPECT_STREQ("", s.szMsg);
  struct stat st;
  ASSERT_EQ(0, stat(dir.file("newdir").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(KV_SUCCESS, x_Semaphore('-', path.c_str(), &s));
  std::string deeper = dir.file("a/b/s5.sem");
  EXPECT_EQ(KV_FATAL, x_Semaphore('+', deeper.c_str(), &s));
  EXPECT_NE(nullptr, strstr(s.szMsg, "failed to create directory")) << s.szMsg;
}

TEST(Semaphore, InquiryOfMissingFileAndBadFunction) {
  TempDir dir;
  std::string path = dir.file("none.sem");
  SCT_SEMA s = Sema("c");
  EXPECT_EQ(KV_SUCCESS, x_Semaphore('?', path.c_str(), &s));
  EXPECT_STREQ("semaphore S1 is free", s.szMsg);
  EXPECT_EQ(KV_ERROR, x_Semaphore('x', path.c_str(), &s));
  EXPECT_STREQ("error: invalid argument x", s.szMsg);
}

}  // namespace
