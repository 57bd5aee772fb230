// Finding the command-interface program through the bootstrap ini: an ini
// that is a device or a FIFO nobody writes is a file that cannot be used.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "runtime/bounded_read.h"
#include "vrk_test_util.h"
#include "xbsa/com.h"

namespace {

TEST(ComFind, AnIniThatNeverEndsIsNotUsed) {
  vrktest::TempDir dir;
  std::string fifo = dir.file("fifo.ini");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  int saved = vrk_read_wait();
  vrk_set_read_wait(1);
  for (const std::string &file : {std::string("/dev/zero"), fifo}) {
    com_set_ini_file(file.c_str());
    char cmd[512] = {0};
    unsigned int len = sizeof cmd;
    EXPECT_EQ(0, find_com_intf(cmd, &len)) << file;
  }
  com_set_ini_file(nullptr);
  vrk_set_read_wait(saved);
}

}  // namespace
