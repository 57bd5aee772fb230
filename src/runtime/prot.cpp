// The protocol-file writer: each message line gets the time stamp, the
// caller's tag and the process id; error lines go to the error file too.
#include "runtime/prot.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/cm_time.h"
#include "runtime/glbv.h"
#include "runtime/vrk_log.h"

namespace {

// glbv reports its own failures through PROT; a protocol file that cannot be
// read would otherwise call back here without end.
bool g_bInProt = false;

class ProtGuard {
 public:
  ProtGuard() { g_bInProt = true; }
  ~ProtGuard() { g_bInProt = false; }
  ProtGuard(const ProtGuard &) = delete;
  ProtGuard &operator=(const ProtGuard &) = delete;
};

std::string vformat(const char *fmt, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = vsnprintf(nullptr, 0, fmt, ap2);
  va_end(ap2);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&out[0], out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
  }
#pragma GCC diagnostic pop
  return out;
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      // A final newline ends the last line; it opens no empty one.
      if (start < text.size() || lines.empty()) lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

// A format cut to at most uMax characters; a conversion that the cut would
// leave unfinished (a lone '%' or "%-1" without its letter) is dropped whole,
// so the cut format never reads an argument of the wrong kind.
std::string prot_cut_format(const std::string &fmt, size_t uMax) {
  if (fmt.size() <= uMax) return fmt;
  std::string cut = fmt.substr(0, uMax);
  size_t i = 0;
  while (i < cut.size()) {
    if (cut[i] != '%') {
      i++;
      continue;
    }
    size_t j = i + 1;
    if (j < cut.size() && cut[j] == '%') {
      i = j + 1;
      continue;
    }
    while (j < cut.size() && strchr("#0- +'123456789.*hlLqjzt", cut[j]) != nullptr) j++;
    if (j >= cut.size()) {
      cut.resize(i);
      break;
    }
    i = j + 1;
  }
  return cut;
}

}  // namespace

void PROT(const char *cpFormat, ...) {
  if (cpFormat == nullptr) return;
  trace("%l3 PROT( %s, ...)", cpFormat);
  if (g_bInProt) return;
  ProtGuard guard;

  char name[] = "gv_prot";
  char path[GLBV_VALUE_SIZE];
  glbv('r', name, path);
  if (path[0] == '?') {
    trace("%l0 ERROR: No gv_prot defined! kv_start_all necessary!");
    return;
  }
  FILE *prot = fopen(path, "ae");
  if (prot == nullptr) return;
  std::string errPath = std::string(path) + ".err";
  FILE *err = fopen(errPath.c_str(), "ae");
  if (err == nullptr) {
    fclose(prot);
    return;
  }

  char stamp[TIME_GET_BUFFER_SIZE] = "";
  time_get(stamp);
  stamp[19] = '\0';
  const int pid = static_cast<int>(getpid());
  const size_t fmtLen = strlen(cpFormat);
  const std::string tag(cpFormat, fmtLen < 12 ? fmtLen : 12);

  va_list ap;
  va_start(ap, cpFormat);
  // The tag and its separator are part of the line format: a '%' there would
  // take one of the caller's arguments.
  const char *pct = static_cast<const char *>(memchr(cpFormat, '%', fmtLen < 13 ? fmtLen : 13));
  if (pct != nullptr || fmtLen < 13) {
    std::string misuse;
    if (pct != nullptr) {
      std::string conv(pct, pct[1] != '\0' ? 2 : 1);
      trace("%l0 PROT: WARNING: invalid usage of PROT: prefix with format argument '%s': >%s<",
            conv.c_str(), tag.c_str());
      fprintf(prot, "%s W999-BASICS [%6d]: Invalid usage of PROT: prefix with format argument '%s': >%s<\n",
              stamp, pid, conv.c_str(), tag.c_str());
    } else {
      trace("%l0 PROT: WARNING: format tag is too short: >%s< (%ld < 13)", cpFormat,
            static_cast<long>(fmtLen));
      fprintf(prot, "%s W999-BASICS [%6d]: Invalid usage of PROT: format tag is too short: >%s< (%ld < 13)\n",
              stamp, pid, cpFormat, static_cast<long>(fmtLen));
    }
    // The message itself is kept: the whole format, tag included, is
    // formatted with the caller's arguments and written as a W999 line.
    for (const std::string &line : split_lines(vformat(cpFormat, ap)))
      fprintf(prot, "%s W999-BASICS [%6d]: %s\n", stamp, pid, line.c_str());
    va_end(ap);
    fclose(err);
    fclose(prot);
    return;
  }

  const char *msgFormat = cpFormat + 13;
  char pidText[16];
  snprintf(pidText, sizeof(pidText), "%6d", pid);
  // The line format carries time stamp, tag and process id before the
  // caller's message format; both it and the output are cut to their buffers.
  std::string lineFormat = std::string(stamp) + " " + tag + "[" + pidText + "]: " + msgFormat;
  const int needFormat = static_cast<int>(lineFormat.size()) + 1;
  if (needFormat > PROT_FORMAT_SIZE) {
    trace("%l0 Error: The following format string was shortened (%d <> %d): [%s]", PROT_FORMAT_SIZE,
          needFormat, msgFormat);
    fprintf(prot, "%s %s[%6d]: Error: The following format string was shortened (%d <> %d)\n", stamp,
            "E999-BASICS ", pid, PROT_FORMAT_SIZE, needFormat);
    lineFormat = prot_cut_format(lineFormat, PROT_FORMAT_SIZE - 1);
  }
  std::string output = vformat(lineFormat.c_str(), ap);
  va_end(ap);
  const int needOutput = static_cast<int>(output.size()) + 1;
  if (needOutput > PROT_OUTPUT_SIZE) {
    trace("%l0 Error: The following output was shortened (%d <> %d): [%s]", PROT_OUTPUT_SIZE, needOutput,
          msgFormat);
    fprintf(prot, "%s %s[%6d]: Error: The following output was shortened (%d <> %d)\n", stamp,
            "E999-BASICS ", pid, PROT_OUTPUT_SIZE, needOutput);
    output.resize(PROT_OUTPUT_SIZE - 1);
  }
  std::vector<std::string> lines = split_lines(output);
  for (size_t i = 0; i < lines.size(); i++) {
    if (i == 0) {
      // The first line already carries time stamp, tag and process id.
      trace("%l3 PROT: [%s]", lines[0].c_str());
      fprintf(prot, "%s\n", lines[0].c_str());
      if (tag[0] == 'E') fprintf(err, "%s\n", lines[0].c_str());
    } else {
      trace("%l3 PROT: [%s]", lines[i].c_str());
      fprintf(prot, "%s %s[%6d]: %s\n", stamp, tag.c_str(), pid, lines[i].c_str());
    }
  }
  fclose(err);
  fclose(prot);
}
