// Test stand-in of the server's control program: a script in a temporary
// program directory that serves files of a fixture tree and disk usages.
#ifndef VRK_TESTS_SUPPORT_KV_CTRLC_STANDIN_H
#define VRK_TESTS_SUPPORT_KV_CTRLC_STANDIN_H

#include <sys/stat.h>

#include <string>

#include "vrk_test_util.h"

namespace vrktest {

// Lays out, below root:
//   bin/kv_ctrlc    the script; "-f u -m r -n FILE" prints files/FILE (exit 2
//                   when missing), "-f du PATH" prints "MSG=<du/PATH> KB"
//                   (exit 2 when missing); every call appends its arguments,
//                   each in <>, as one line to args.log
//   boot.ini        bootstrap file: KV_INI=<root>/main.ini
//   main.ini        "[PATHES]" with gv_ro_bin=<root>/bin/
class CtrlStandIn {
 public:
  explicit CtrlStandIn(const std::string &root) : root_(root) {
    Dir(root_);
    Dir(root_ + "/bin");
    Dir(root_ + "/files");
    Dir(root_ + "/du");
    std::string script =
        "#!/bin/sh\n"
        "fix='" + root_ + "'\n"
        "{ printf 'ARGS'; for a in \"$@\"; do printf ' <%s>' \"$a\"; done; printf '\\n'; }"
        " >> \"$fix/args.log\"\n"
        "if IFS= read -r line; then printf 'STDIN <%s>\\n' \"$line\" >> \"$fix/args.log\"; fi\n"
        "[ \"$1\" = -l ] && [ \"$2\" = root ] && [ \"$4\" = kv_client ] && [ \"$5\" = -f ] || exit 3\n"
        "case \"$6\" in\n"
        "u) [ \"$7\" = -m ] && [ \"$8\" = r ] && [ \"$9\" = -n ] && [ $# -eq 10 ] || exit 3\n"
        "   f=\"$fix/files${10}\"; [ -f \"$f\" ] && [ -r \"$f\" ] || exit 2; cat \"$f\" ;;\n"
        "du) [ $# -eq 7 ] || exit 3; f=\"$fix/du$7\"; [ -f \"$f\" ] || exit 2;"
        " printf 'MSG=%s KB\\n' \"$(cat \"$f\")\" ;;\n"
        "*) exit 3 ;;\n"
        "esac\n";
    WriteFile(root_ + "/bin/kv_ctrlc", script);
    chmod((root_ + "/bin/kv_ctrlc").c_str(), 0755);
    WriteFile(root_ + "/boot.ini", "KV_INI=" + root_ + "/main.ini\n");
    WriteFile(root_ + "/main.ini", "[PATHES]\ngv_ro_bin=" + root_ + "/bin/\n");
  }
  // A file of the node, served by "-f u".
  void File(const std::string &path, const std::string &text) const {
    MakeParents(root_ + "/files" + path);
    WriteFile(root_ + "/files" + path, text);
  }
  // The "MSG=" number (KiB) of a disk-usage query for path.
  void Du(const std::string &path, const std::string &kib) const {
    MakeParents(root_ + "/du" + path);
    WriteFile(root_ + "/du" + path, kib);
  }
  std::string boot() const { return root_ + "/boot.ini"; }
  std::string args() const { return ReadFile(root_ + "/args.log"); }

 private:
  static void Dir(const std::string &p) { mkdir(p.c_str(), 0755); }
  static void MakeParents(const std::string &p) {
    for (size_t at = p.find('/', 1); at != std::string::npos; at = p.find('/', at + 1))
      Dir(p.substr(0, at));
  }
  std::string root_;
};

// A GroupWise 2012 node: a post office (startup file in the agents' share
// directory, CR LF lines), a domain (startup file with a path), an agent that
// is neither, a post office whose startup file cannot be read, a short server
// value, and the bridge file with a DMS component and a section without home.
inline void GroupWiseNode(const CtrlStandIn &ctrl) {
  ctrl.File("/etc/opt/novell/groupwise/gwzem.conf",
            "[MISC]\nlevel = 1\n[gwdva.srv1]\nhome = /gwdva\n");
  ctrl.File("/etc/opt/novell/groupwise/gwha.conf",
            "[po1.dom1]\nserver = /opt/novell/groupwise/agents/bin/gwpoa\nstartup = po1.poa\n"
            "[dom1]\nserver = /opt/novell/groupwise/agents/bin/GWMTA\nstartup = /etc/gw/dom1.mta\n"
            "[webacc]\nserver = /opt/novell/groupwise/agents/bin/gwinter\nstartup = web.waa\n"
            "[poX]\nserver = gwpoa\nstartup = missing.poa\n"
            "[tiny]\nserver = po\n");
  ctrl.File("/opt/novell/groupwise/agents/share/po1.poa",
            "; post office agent\r\n--home /po1\r\n--port 1677\r\n");
  ctrl.File("/etc/gw/dom1.mta", "--home   /dom1  \n");
  ctrl.Du("/po1", "5000000");
  ctrl.Du("/gwdva", "10");
}

}  // namespace vrktest

#endif
