// Standard input, output and error that the job was started without: opened
// onto /dev/null at once, so that no file the job opens later takes their place.
#include "runtime/x_std_fds.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool gbClosed[3] = {false, false, false};

}  // namespace

bool x_std_fds_guard(void) {
  bool ok = true;
  for (int iFd = 0; iFd < 3; ++iFd) {
    if (fcntl(iFd, F_GETFD) != -1 || errno != EBADF) continue;
    gbClosed[iFd] = true;
    // The lowest free descriptor is this one: the ones below are open by now.
    int fd = open("/dev/null", iFd == 0 ? O_RDONLY : O_WRONLY);
    if (fd >= 0 && fd != iFd) {
      if (dup2(fd, iFd) != iFd) ok = false;
      close(fd);
    }
    if (fd < 0) ok = false;
  }
  return ok;
}

bool x_std_fd_was_closed(int iFd) { return iFd >= 0 && iFd < 3 && gbClosed[iFd]; }
