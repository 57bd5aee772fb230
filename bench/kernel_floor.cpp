// What the kernel alone costs to make a tree of small files: the system
// calls of each road a restore could take, in a bare loop, nothing read.
//
// Usage: kernel_floor ROAD DIR FILES
//   at-name   create at the name, write, times, owner, mode, close (what tar -x does)
//   unnamed   an unnamed file in the directory, write, times, linked in, close
//   looked    the same, after a look at the name (a failing fstatat)
// 200 files a directory of 512 to 4,095 bytes, as the tmpfs pairs' tree.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: kernel_floor at-name|unnamed|looked DIR FILES\n");
    return 2;
  }
  const std::string road = argv[1];
  const long files = atol(argv[3]);
  if ((road != "at-name" && road != "unnamed" && road != "looked") || files <= 0) {
    fprintf(stderr, "kernel_floor: bad road or count\n");
    return 2;
  }
  if (mkdir(argv[2], 0755) != 0) {
    perror(argv[2]);
    return 1;
  }
  int top = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::vector<char> data(4096, 'x');
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
  char name[32];
  int dir = -1;
  for (long i = 0; i < files; ++i) {
    if (i % 200 == 0) {
      if (dir >= 0) close(dir);
      snprintf(name, sizeof(name), "d%04ld", i / 200);
      if (mkdirat(top, name, 0755) != 0 || (dir = openat(top, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
        perror(name);
        return 1;
      }
    }
    snprintf(name, sizeof(name), "f%06ld.dat", i);
    const size_t size = 512 + static_cast<size_t>(i * 7919 % 3584);
    int fd;
    if (road == "at-name") {
      fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } else {
      struct stat st;
      if (road == "looked" && fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return 1;
      fd = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    }
    if (fd < 0 || write(fd, data.data(), size) != static_cast<ssize_t>(size) || futimens(fd, times) != 0) {
      perror(name);
      return 1;
    }
    if (road == "at-name") {
      if (fchown(fd, geteuid(), getegid()) != 0 || fchmod(fd, 0644) != 0) return 1;
    } else if (linkat(fd, "", dir, name, AT_EMPTY_PATH) != 0) {
      perror(name);
      return 1;
    }
    close(fd);
  }
  if (dir >= 0) close(dir);
  close(top);
  return 0;
}
