// Tests of the host and process queries: system text, local addresses, the
// parent process, descriptor closing and the daemon start, in child processes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "runtime/cm_hal_host.h"
#include "runtime/cm_lang.h"
#include "runtime/korva_world.h"
#include "runtime/x_mem_timer.h"
#include "vrk_test_util.h"

namespace {

using vrktest::ReadFile;
using vrktest::TempDir;

// Runs fn in a child process and returns its exit status (-1 if it did not exit).
template <typename Fn>
int InChild(Fn fn) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(HalHost, OsInfoEnvAndPipe) {
  STRU_OS_INFO info;
  memset(&info, 0, sizeof(info));
  EXPECT_EQ(1, x_GetOSInfo(&info));
  EXPECT_STREQ("UNIX, Build: 00 00", info.szOSInfoText);
  setenv("VRK_HAL_TEST", "value", 1);
  EXPECT_STREQ("value", x_getenv((char *)"VRK_HAL_TEST"));
  EXPECT_EQ(nullptr, x_getenv((char *)"VRK_HAL_TEST_UNSET"));
  FILE *p = (FILE *)x_winpopen((char *)"echo piped");
  ASSERT_NE(nullptr, p);
  char line[32] = {0};
  ASSERT_NE(nullptr, fgets(line, sizeof(line), p));
  EXPECT_EQ(0, pclose(p));
  EXPECT_STREQ("piped\n", line);
}

TEST(HalHost, LocalAddressesAreDottedIPv4) {
  char addr[LOCAL_TCPIP_ADRESS_SIZE];
  memset(addr, 'x', sizeof(addr));
  int rc = i_GET_LOCAL_TCPIP_ADRESS(addr);
  if (rc == 0) {
    EXPECT_STREQ("", addr);  // the host name does not resolve here
    return;
  }
  EXPECT_EQ(1, rc);
  std::istringstream words(addr);
  std::string word;
  int count = 0;
  while (words >> word) {
    struct in_addr a;
    EXPECT_EQ(1, inet_pton(AF_INET, word.c_str(), &a)) << word;
    count++;
  }
  EXPECT_GT(count, 0);
}

TEST(HalHost, ParentInfoNamesTheParent) {
  EXPECT_EQ((int)getppid(), get_parent_pid());
  int pipeFd[2];
  ASSERT_EQ(0, pipe(pipeFd));
  int rc = InChild([&]() {
    close(pipeFd[0]);
    char info[512];
    int r = get_parent_info(info, sizeof(info));
    ssize_t w = write(pipeFd[1], info, strlen(info));
    (void)w;
    close(pipeFd[1]);
    return r;
  });
  close(pipeFd[1]);
  char buf[512] = {0};
  ssize_t n = read(pipeFd[0], buf, sizeof(buf) - 1);
  close(pipeFd[0]);
  ASSERT_GT(n, 0);
  EXPECT_EQ(1, rc);
  std::string info(buf);
  char tail[32];
  snprintf(tail, sizeof(tail), " (PPID=%d)", (int)getpid());
  ASSERT_GE(info.size(), strlen(tail));
  EXPECT_EQ(tail, info.substr(info.size() - strlen(tail))) << info;
  EXPECT_NE(std::string::npos, info.find("runtime_tests")) << info;

  char small[12];
  EXPECT_EQ(1, get_parent_info(small, sizeof(small)));
  EXPECT_LT(strlen(small), sizeof(small));
}

// Without "ps" the failure goes to standard error and, in the error format of
// the language setting, to the protocol file and its error file.
TEST(HalHost, ParentInfoFailureIsProtocolledInTheLanguageSetting) {
  vrktest::KorvaWorld world;
  std::string prot = world.enableProt();
  mkdir(world.file("nobin").c_str(), 0755);
  const std::string path = world.file("nobin");
  testing::internal::CaptureStderr();
  int rc = InChild([&]() {
    setenv("PATH", path.c_str(), 1);
    eLang = LANG_DE;
    char info[64] = "junk";
    return get_parent_info(info, sizeof(info)) == 0 && info[0] == '\0' ? 0 : 1;
  });
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0, rc);
  EXPECT_NE(std::string::npos, err.find("popen failed for ps -e -A -o pid,command\n")) << err;
  for (const std::string &file : {prot, prot + ".err"}) {
    std::string text = ReadFile(file);
    EXPECT_NE(std::string::npos,
              text.find("]: Fehler bei Kommandoausführung ps -e -A -o pid,command: No such file or directory\n"))
        << file << ": " << text;
    EXPECT_NE(std::string::npos, text.find(" E008-BASICS [")) << text;
  }
}

TEST(HalHost, CloseAllClosesFromTheGivenDescriptor) {
  int rc = InChild([]() {
    int a = open("/dev/null", O_RDONLY);
    int b = open("/dev/null", O_RDONLY);
    if (a < 3 || b <= a) return 2;
    closeall(b);
    if (fcntl(a, F_GETFD) < 0) return 3;   // below b: stays open
    if (fcntl(b, F_GETFD) >= 0) return 4;  // closed
    if (fcntl(1, F_GETFD) < 0) return 5;
    return 0;
  });
  EXPECT_EQ(0, rc);
}

TEST(HalHost, DaemonDetaches) {
  TempDir tmp;
  const std::string report = tmp.file("report");
  const std::string done = tmp.file("done");
  const pid_t oldSession = getsid(0);
  int rc = InChild([&]() {
    if (vrk::daemon(0, 0) != 0) return 9;
    // The detached grandchild: in a new session that it does not lead (so it
    // cannot gain a terminal), in "/", standard descriptors on /dev/null.
    char cwd[64] = {0};
    if (getcwd(cwd, sizeof(cwd)) == nullptr) cwd[0] = '?';
    struct stat nullSt, st0, st2;
    stat("/dev/null", &nullSt);
    fstat(0, &st0);
    fstat(2, &st2);
    FILE *f = fopen(report.c_str(), "w");
    if (f != nullptr) {
      fprintf(f, "%d %s %d %d", getsid(0) != oldSession && getsid(0) != getpid() ? 1 : 0, cwd, st0.st_rdev == nullSt.st_rdev ? 1 : 0,
              st2.st_rdev == nullSt.st_rdev ? 1 : 0);
      fclose(f);
    }
    rename(report.c_str(), done.c_str());
    _exit(0);
  });
  EXPECT_EQ(0, rc) << "the first parent ends with 0";
  struct stat st;
  for (int i = 0; i < 1000 && stat(done.c_str(), &st) != 0; i++) wait_msec(10);
  EXPECT_EQ("1 / 1 1", ReadFile(done));
}

TEST(HalHost, TimersAndClock) {
  void *timer = nullptr;
  x_TimerStart(&timer);
  ASSERT_NE(nullptr, timer);
  wait_msec(30);
  unsigned long first = 0, second = 0;
  x_TimerStop(timer, FALSE, &first);
  EXPECT_GE(first, 30u);
  x_TimerStop(timer, TRUE, &second);  // the same handle, read again, then freed
  EXPECT_GE(second, first);

  int secs = 0, ms = -1, zone = 0, dst = -1;
  time_t before = time(nullptr);
  EXPECT_EQ(1, i_MY_FTIME(&secs, &ms, &zone, &dst));
  EXPECT_GE(secs, (int)before);
  EXPECT_GE(ms, 0);
  EXPECT_LT(ms, 1000);
  EXPECT_TRUE(dst == 0 || dst == 1);

  void *mem = x_Malloc(16);
  ASSERT_NE(nullptr, mem);
  x_Free(mem);
}

}  // namespace
