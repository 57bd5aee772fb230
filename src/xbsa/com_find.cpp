// Finding the command-interface program: the directory named by the
// "KV_BIN_KORVA" line of the product's bootstrap ini.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/bounded_read.h"
#include "runtime/xutil.h"
#include "xbsa/com.h"
#include "xbsa/xbsa_trace.h"

namespace {

std::string gsIniFile = COM_INI_FILE;

// Longest line of the ini that is examined.
const size_t kMaxLine = 511;

struct FileCloser {
  FILE *fp;
  ~FileCloser() {
    if (fp) fclose(fp);
  }
};

}  // namespace

void com_set_ini_file(const char *cpFile) { gsIniFile = cpFile ? cpFile : COM_INI_FILE; }

int find_com_intf(char *cpCOMCMD, unsigned int *uipCOMCMDLen) {
  if (!cpCOMCMD || !uipCOMCMDLen) return 0;
  xbsatrace("find_com_intf: Searching COM utility in INI file: [%s], Variable: [%s]", gsIniFile.c_str(),
            COM_INI_KEY);
  // A few MiB at most; a pipe or device must end within the data wait.
  std::string why;
  FileCloser file{vrk_fopen_bounded(gsIniFile.c_str(), why)};
  if (!file.fp) {
    xbsalog("find_com_intf: Unable to open [%s] file.", gsIniFile.c_str());
    xbsalog("find_com_intf: %s", why.c_str());
    return 0;
  }
  bool bHeld = *uipCOMCMDLen > 0 && cpCOMCMD[0] != '\0';
  char *cpLine = NULL;
  size_t uiCap = 0;
  ssize_t n;
  int iRc = -1;
  while (iRc < 0 && (n = getline(&cpLine, &uiCap, file.fp)) >= 0) {
    std::string line(cpLine, (size_t)n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) continue;
    // A line too long to be read whole is never taken in pieces.
    if (line.size() > kMaxLine) {
      xbsalog("find_com_intf: INI line longer than %u characters skipped.", (unsigned)kMaxLine);
      continue;
    }
    xbsatrace("find_com_intf: INI line found: [%s]", line.c_str());
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    // Key and value, each trimmed of blanks and tabs at both ends.
    std::vector<char> halves(line.begin(), line.end());
    halves.push_back('\0');
    halves[eq] = '\0';
    if (strcmp(x_AllTrim(halves.data(), " \t"), COM_INI_KEY) != 0) continue;
    std::string value = x_AllTrim(halves.data() + eq + 1, " \t");
    unsigned int uiSize = *uipCOMCMDLen;
    *uipCOMCMDLen = (unsigned int)value.size();
    if (value.empty()) {
      // No directory at all: the program is looked for on PATH instead.
      xbsalog("find_com_intf: %s has no value.", COM_INI_KEY);
      iRc = 0;
    } else if (uiSize > value.size() + 19) {
      std::string path = value;
      if (path.back() != '/') path += '/';
      path += COM_PROGRAM;
      memcpy(cpCOMCMD, path.c_str(), path.size() + 1);
      iRc = 1;
    } else {
      xbsalog("find_com_intf: value of %s is too long: [%s].", COM_INI_KEY, value.c_str());
      iRc = 0;
    }
  }
  free(cpLine);
  if (iRc < 0) iRc = bHeld ? 1 : 0;
  return iRc;
}
