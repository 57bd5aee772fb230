// Test stand-in of the server's command-interface program: a script that
// records its arguments and prints the canned answer of the task it is given.
#ifndef VRK_TESTS_XBSA_COM_STANDIN_H
#define VRK_TESTS_XBSA_COM_STANDIN_H

#include <stdlib.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "vrk_test_util.h"
#include "xbsa/com.h"

namespace vrktest {

// The task names the script chooses its answer file by ("answer.<task>").
inline const char *kStandInScript =
    "#!/bin/sh\n"
    "d=$(dirname \"$0\")\n"
    "{ for a in \"$@\"; do printf '[%s]' \"$a\"; done; echo; } >> \"$d/calls.log\"\n"
    "case \"$1\" in\n"
    "  -q) t=info ;;\n"
    "  -b) case \"$2\" in open) t=open_session ;; openjob:*) t=open_write ;; closejob:*) t=close_write ;;\n"
    "        close:*) t=close_session ;; *) t=other ;; esac ;;\n"
    "  -r) case \"$2\" in openjob:*) t=open_read ;; closejob:*) t=close_read ;; *) t=other ;; esac ;;\n"
    "  *) t=other ;;\n"
    "esac\n"
    "echo \"$t\" >> \"$d/tasks.log\"\n"
    // A builtin loop: the shell's own mask, not that of a forked command.
    "while read -r l; do case \"$l\" in SigBlk*) echo \"$l\" >> \"$d/sigblk.log\" ;; esac; done < /proc/$$/status\n"
    "readlink /proc/$$/fd/2 >> \"$d/stderr.log\"\n"
    "echo 'reply=ERROR' >&2\n"
    "if [ -f \"$d/answer.$t\" ]; then cat \"$d/answer.$t\"; fi\n";

class ComStandIn {
 public:
  ComStandIn() {
    WriteFile(program(), kStandInScript);
    chmod(program().c_str(), 0755);
  }
  const std::string &dir() const { return dir_.path(); }
  std::string program() const { return dir_.file(COM_PROGRAM); }
  void Answer(const std::string &task, const std::string &text) const { WriteFile(dir_.file("answer." + task), text); }
  // One line per run: every argument in brackets.
  std::vector<std::string> Calls() const { return Lines("calls.log"); }
  std::vector<std::string> Tasks() const { return Lines("tasks.log"); }
  std::vector<std::string> Lines(const std::string &name) const {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(dir_.file(name)));
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
  }
  // An ini that names this directory as the program's home.
  std::string WriteIni(const std::string &extra = "") const {
    std::string ini = dir_.file("korva2000.ini");
    WriteFile(ini, extra + "KV_BIN_KORVA=" + dir() + "\n");
    return ini;
  }

 private:
  TempDir dir_;
};

// PATH with one directory in front for the scope.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string &front) {
    const char *cp = getenv("PATH");
    had_ = cp != nullptr;
    saved_ = cp ? cp : "";
    std::string value = front.empty() ? saved_ : front + ":" + saved_;
    setenv("PATH", value.c_str(), 1);
  }
  ~ScopedPath() {
    if (had_) {
      setenv("PATH", saved_.c_str(), 1);
    } else {
      unsetenv("PATH");
    }
  }

 private:
  bool had_ = false;
  std::string saved_;
};

}  // namespace vrktest

#endif
