// Start of the disk-information restore program at the end of its metadata,
// run without a shell from the absolute program directory.
#include <string.h>

#include <string>

#include "client/vrk_global.h"
#include "client/vrk_makepath.h"
#include "runtime/vrk_log.h"
#include "runtime/x_run.h"

int vrk_disk_info_recover(void) {
  vrk_log(3220);
  const char *bin = spGlobal->sDirs.cpBin ? spGlobal->sDirs.cpBin : "";
  std::string program = std::string(bin) + "/vrk_disk_info_restore";
  std::string target = spGlobal->szTargetPath[0];
  std::vector<std::string> argv = {program, target, "AUTO"};
  vrk_log(3500, "Command for executing disk_info recover: [%s]", x_RunCommandText(argv).c_str());

  const char *arg = spGlobal->sVRKObject.cpAdditionalFindArg;
  if (arg == nullptr || strstr(arg, "RECOVER") == nullptr) return 0;
  vrk_log(3500, "Option '%s' set. Executing 'disk_info' restore", "RECOVER");
  // A relative directory would run whatever lies in the current directory.
  if (bin[0] != '/') {
    vrk_log(1500, "Program directory [%s] is not an absolute path; 'disk_info' restore not run", bin);
    return -1;
  }
  X_RUN_REQUEST req;
  req.argv = argv;
  int rc = x_RunProgram(req);
  if (rc != 0) {
    vrk_log(1500, "'disk_info' restore [%s] failed: %s", program.c_str(), x_RunResultText(rc).c_str());
    return -1;
  }
  return 0;
}
