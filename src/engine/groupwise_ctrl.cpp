// The server's control program for GroupWise files and disk-usage queries:
// started with an argument vector (node names and paths are never parsed by
// a shell), its output captured, and ini texts loaded through standard input.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "engine/groupwise.h"
#include "runtime/ini_lookup.h"
#include "runtime/iniparser.h"
#include "runtime/vrk_log.h"
#include "runtime/x_run.h"

std::string GW_ProgramDir(const char *cpWho) {
  char value[4096];
  char msg[1024];
  if (!i_READ_INI("KV_INI", "[PATHES]", "gv_ro_bin", value, sizeof(value), msg, sizeof(msg))) {
    vrk_log(3500, "%s: could not read [%s] [%s]", cpWho, "[PATHES]", "gv_ro_bin");
    return std::string();
  }
  return value;
}

std::vector<std::string> GW_CtrlArgs(const std::string &dir, const std::string &node,
                                     const std::vector<std::string> &args) {
  std::vector<std::string> argv{dir + "kv_ctrlc", "-l", "root", node, "kv_client"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

int GW_RunCtrl(const std::vector<std::string> &argv, std::string *out) {
  std::string text = x_RunCommandText(argv);
  trace("%l4 call [%s]", text.c_str());
  std::string output;
  X_RUN_REQUEST req;
  req.argv = argv;
  req.output = &output;
  // The control program reads nothing: standard input may carry a saveset.
  int saved = dup(STDIN_FILENO);
  int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (saved >= 0 && devnull >= 0) dup2(devnull, STDIN_FILENO);
  int iRet = x_RunProgram(req);
  if (saved >= 0 && devnull >= 0) dup2(saved, STDIN_FILENO);
  if (devnull >= 0) close(devnull);
  if (saved >= 0) close(saved);
  if (iRet == X_RUN_NOT_STARTED) {
    trace("%l4 Command [%s] failed", text.c_str());
    return -1;
  }
  if (out != nullptr) *out = output;
  trace("%l4 program returned %d", iRet);
  return iRet;
}

dictionary *GW_LoadIniText(const std::string &text) {
  if (text.empty()) return nullptr;
  FILE *tmp = tmpfile();
  if (tmp == nullptr) return nullptr;
  if (fwrite(text.data(), 1, text.size(), tmp) != text.size() || fflush(tmp) != 0) {
    fclose(tmp);
    return nullptr;
  }
  rewind(tmp);
  int saved = dup(STDIN_FILENO);
  if (saved < 0) {
    fclose(tmp);
    return nullptr;
  }
  dictionary *d = nullptr;
  if (dup2(fileno(tmp), STDIN_FILENO) >= 0) {
    // A load before this one read standard input to its end.
    clearerr(stdin);
    d = iniparser_load("-");
  }
  dup2(saved, STDIN_FILENO);
  close(saved);
  clearerr(stdin);
  fclose(tmp);
  return d;
}
