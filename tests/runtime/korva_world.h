// A stand-in product installation for the runtime tests: a bootstrap file
// named by KORVA_INI, a main ini with its paths, and the work directories.
#ifndef VRK_TESTS_RUNTIME_KORVA_WORLD_H
#define VRK_TESTS_RUNTIME_KORVA_WORLD_H

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "runtime/ini_lookup.h"
#include "vrk_test_util.h"

namespace vrktest {

class KorvaWorld {
 public:
  // extraIni is appended to the main ini after its [Pathes] section.
  explicit KorvaWorld(const std::string &extraIni = "") {
    const char *old = getenv("KORVA_INI");
    hadEnv_ = old != nullptr;
    if (hadEnv_) oldEnv_ = old;
    // The fixed /etc candidates point into the world and do not exist.
    i_SET_ROOT_CANDIDATES(dir_.file("etc0.ini").c_str(), dir_.file("etc1.ini").c_str());
    for (const char *d : {"glbv", "work", "work/sem", "bin", "tmp"}) mkdir(dir_.file(d).c_str(), 0755);
    WriteFile(bootstrap(), "# bootstrap\nkv_ini=" + mainIni() + "\n");
    WriteFile(mainIni(), "# main ini\n[Pathes]\ngv_rw_glbv=" + dir_.file("glbv/") +
                             "\ngv_rw_work=" + dir_.file("work/") + "\ngv_ro_bin=" + dir_.file("bin/") +
                             "\ngv_rw_tmp=" + dir_.file("tmp/") + "\n" + extraIni);
    setenv("KORVA_INI", bootstrap().c_str(), 1);
  }
  ~KorvaWorld() {
    if (hadEnv_)
      setenv("KORVA_INI", oldEnv_.c_str(), 1);
    else
      unsetenv("KORVA_INI");
    i_SET_ROOT_CANDIDATES(nullptr, nullptr);
  }
  KorvaWorld(const KorvaWorld &) = delete;
  KorvaWorld &operator=(const KorvaWorld &) = delete;

  std::string file(const std::string &name) const { return dir_.file(name); }
  std::string bootstrap() const { return dir_.file("boot.ini"); }
  std::string mainIni() const { return dir_.file("kv.ini"); }
  // Names the protocol file through the named value "gv_prot".
  std::string enableProt() const {
    std::string prot = dir_.file("prot.log");
    WriteFile(dir_.file("glbv/gv_prot.sgv"), prot);
    return prot;
  }

 private:
  TempDir dir_;
  bool hadEnv_ = false;
  std::string oldEnv_;
};

}  // namespace vrktest

#endif
