// Numbered-message logging: builds "<time>: vrk-NNNN: <level> <text>" lines
// from the catalogue, writes them to stderr and the job log, raises the status.
#include "runtime/vrk_log.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "client/vrk_global.h"
#include "runtime/password_mask.h"
#include "runtime/printable.h"
#include "runtime/vrk_msg.h"

RELOC_LOG_FUNC g_kv_log_ptr = nullptr;

namespace {

constexpr size_t kTextBuf = 8192;
constexpr size_t kLineBuf = 8704;
constexpr size_t kTraceBuf = 4096;

// UTC offset of local time, refreshed by every ordinary log line, so that the
// signal-safe path can stamp its line without calling into the time zone code.
volatile long g_cached_gmtoff = 0;

bool is_caller_format(int code) {
  return code == 1500 || code == 2500 || code == 3500 || code == 4000;
}

// Catalogue rows whose text arguments are names (of data sets, files, paths
// as given) and the reasons beside them: shown whole, never masked inside.
bool shows_names(int code) {
  static const int kRows[] = {1011, 1066, 1120, 2009, 2011, 2012, 2019, 2021, 2022, 2024, 2076, 3008,
                              3009, 3010, 3014, 3021, 3037, 3047, 3109, 3183, 3254, 3258, 3304, 3305};
  for (int r : kRows)
    if (r == code) return true;
  return false;
}

// The format of a row that shows names, with each name marked: made once a
// row, as a job logs the same few rows for every data set.
const char *named_format(const _sMessage *row) {
  static std::vector<std::pair<const _sMessage *, std::string>> made;
  for (const auto &m : made)
    if (m.first == row) return m.second.c_str();
  made.emplace_back(row, vrk_name_row_format(row->cpMsgText));
  return made.back().second.c_str();
}

// "YYYY-MM-DD hh:mm:ss" of local time, worked out once a second.
const char *stamp_of(time_t now) {
  static time_t last = (time_t)-1;
  static char stamp[64];
  if (now != last) {
    struct tm tmNow;
    localtime_r(&now, &tmNow);
    g_cached_gmtoff = tmNow.tm_gmtoff;
    snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d", tmNow.tm_year + 1900, tmNow.tm_mon + 1,
             tmNow.tm_mday, tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec);
    last = now;
  }
  return stamp;
}

// Writes all of buf to fd, retrying short writes; errors are ignored.
void write_all(int fd, const char *buf, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, buf, len);
    if (n <= 0) return;
    buf += n;
    len -= (size_t)n;
  }
}

void copy_word(char *word, size_t size, const char *what) {
  size_t n = strlen(what);
  if (n >= size) n = size - 1;
  memcpy(word, what, n);
  word[n] = '\0';
}

// Level word padded to 9 characters, and the status rule of the level.
void level_word_and_status(const _sMessage *row, char *word, size_t size) {
  _sVRKObject *obj = &spGlobal->sVRKObject;
  switch (row->eMsgLevel) {
    case E_ERROR:
      copy_word(word, size, "Error:   ");
      if (spGlobal->iErrorSet == 0)
        obj->eOperStatus = STATUS_ERR_BEF_SAV;
      else if (spGlobal->iErrorSet == 1)
        obj->eOperStatus = STATUS_ERR_BROK_STR;
      break;
    case E_WARNING:
      copy_word(word, size, "Warning: ");
      if (obj->eOperStatus == STATUS_OK) obj->eOperStatus = STATUS_WARNING;
      break;
    case E_INFO:
      copy_word(word, size, "Info:    ");
      break;
    case E_TRACE:
      copy_word(word, size, "Trace:   ");
      break;
    default:
      snprintf(word, size, "Unknown Level [%d]", (int)row->eMsgLevel);
      break;
  }
}

// A job log that could not take a line (a full or failing disk, a file size
// limit) is given up: the job goes on logging to standard error only, says
// so once, naming the file and the reason, and ends with a warning, since
// the log it leaves is not whole.
void job_log_failed(FILE *log, int err) {
  _sVRKMsgTarget *m = &spGlobal->sVRKMsgTarget;
  m->fpLogFileDes = nullptr;
  fclose(log);
  vrk_log(2500, "Unable to write log file [%s]:[%s]. Continuing logging to stderr...", m->szLogFile,
          strerror(err));
}

void emit_line(const char *line, size_t len) {
  // Callers may log between a failing call and their look at its errno.
  int iSavedErrno = errno;
  write_all(STDERR_FILENO, line, len);
  fflush(stderr);
  FILE *log = spGlobal->sVRKMsgTarget.fpLogFileDes;
  if (log != nullptr) {
    errno = 0;
    bool ok = fwrite(line, 1, len, log) == len;
    ok = fflush(log) == 0 && ok;
    if (!ok) job_log_failed(log, errno != 0 ? errno : EIO);
  }
  errno = iSavedErrno;
}

void log_message(bool keepBreaks, int iMessageCode, va_list vlArgs) {
  if (iMessageCode == 4000 && spGlobal->iLogLevel < 4) return;

  const _sMessage *row = vrk_msg_lookup(iMessageCode);

  char level[64];
  level_word_and_status(row, level, sizeof(level));

  char line[kLineBuf];
  int h = snprintf(line, 160, "%s: vrk-%04d: %s ", stamp_of(time(nullptr)), iMessageCode, level);
  size_t len = h < 0 ? 0 : std::min((size_t)h, (size_t)159);

  char text[16384];
  text[0] = '\0';
  va_list args;
  va_copy(args, vlArgs);
  const char *tag = strstr(row->cpMsgText, "{#s}");
  if (is_caller_format(row->iMsgID)) {
    const char *fmt = va_arg(args, const char *);
    if (fmt != nullptr) vsnprintf(text, kTextBuf, fmt, args);
  } else if (tag != nullptr) {
    size_t pre = (size_t)(tag - row->cpMsgText);
    if (pre >= kTextBuf) pre = kTextBuf - 1;
    memcpy(text, row->cpMsgText, pre);
    text[pre] = '\0';
    const char *fmt = va_arg(args, const char *);
    if (fmt != nullptr) vsnprintf(text + pre, kTextBuf - pre, fmt, args);
  } else if (row->iMsgID != VRK_MSG_END_CODE) {
    const char *named = shows_names(row->iMsgID) ? named_format(row) : row->cpMsgText;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    vsnprintf(text, kTextBuf, named, args);
  } else {
    snprintf(text, kTextBuf, row->cpMsgText, iMessageCode);
#pragma GCC diagnostic pop
  }
  va_end(args);

  size_t tlen = strlen(text);
  if (tlen > 0 && text[tlen - 1] == '\n') text[--tlen] = '\0';
  // Every message passes here: no credential reaches a log unmasked,
  // whatever the caller formatted; the names marked in it stay whole.
  const std::string unmasked(text, tlen);
  char shown[kTextBuf];
  vrk_printable(vrk_mask_secrets(unmasked).c_str(), shown, sizeof(shown), keepBreaks);

  // Cut text keeps the line ending, so that the next line starts on its own.
  const size_t n = std::min(strlen(shown), sizeof(line) - 2 - len);
  memcpy(line + len, shown, n);
  len += n;
  line[len++] = '\n';
  emit_line(line, len);
}

void log_keeping_breaks(int iMessageCode, ...) {
  va_list args;
  va_start(args, iMessageCode);
  log_message(true, iMessageCode, args);
  va_end(args);
}

}  // namespace

void vrk_log(int iMessageCode, ...) {
  va_list args;
  va_start(args, iMessageCode);
  vtvrk_msg(0, iMessageCode, args);
  va_end(args);
}

void vrk_log_text(int iMessageCode, const char *cpText) { log_keeping_breaks(iMessageCode, cpText); }

void vtvrk_msg(int iUNICODE, int iMessageCode, va_list vlArgs) {
  (void)iUNICODE;
  log_message(false, iMessageCode, vlArgs);
}

void trace(const char *cpFormat, ...) {
  if (cpFormat == nullptr) return;
  va_list args;
  va_start(args, cpFormat);
  // The level prefix is "%l" and a digit, checked on the format itself: it is
  // no printf conversion, and "%ld ..." is an ordinary format, not a prefix.
  if (cpFormat[0] == '%' && cpFormat[1] == 'l' && isdigit((unsigned char)cpFormat[2])) {
    int code;
    switch (cpFormat[2]) {
      case '0': code = 1500; break;
      case '1': code = 2500; break;
      case '2': code = 3500; break;
      default: code = 4000; break;
    }
    const char *rest = cpFormat[3] != '\0' ? cpFormat + 4 : cpFormat + 3;
    // A trace line below the trace level is not even formatted.
    if (code == 4000 && spGlobal->iLogLevel < 4) {
      va_end(args);
      return;
    }
    char buf[kTraceBuf];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    vsnprintf(buf, sizeof(buf), rest, args);
#pragma GCC diagnostic pop
    va_end(args);
    vrk_log(code, "%s", buf);
    return;
  }
  if (spGlobal->iLogLevel > 2) {
    char buf[kTraceBuf];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    vsnprintf(buf, sizeof(buf), cpFormat, args);
#pragma GCC diagnostic pop
    vrk_log(3500, "%s", buf);
  }
  va_end(args);
}

void trace_ln(const char *cpTraceLine) { trace("%s", cpTraceLine); }

void vtrace(const char *cpFormat, va_list vlParams) {
  char buf[kTraceBuf];
  buf[0] = '\0';
  if (cpFormat != nullptr) {
    va_list args;
    va_copy(args, vlParams);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    vsnprintf(buf, sizeof(buf), cpFormat, args);
#pragma GCC diagnostic pop
    va_end(args);
  }
  vrk_log(4000, "(packdata) %s", buf);
}

void SetRelocLog(RELOC_LOG_FUNC reloc_log) { g_kv_log_ptr = reloc_log; }

// ---- async-signal-safe path -------------------------------------------------

namespace {

struct SafeBuf {
  char *p;
  size_t left;
  void put(const char *s) {
    while (*s && left > 1) {
      *p++ = *s++;
      --left;
    }
    *p = '\0';
  }
  void put_num(long v, int width) {
    char digits[24];
    int n = 0;
    bool neg = v < 0;
    unsigned long u = neg ? (unsigned long)(-v) : (unsigned long)v;
    do {
      digits[n++] = (char)('0' + u % 10);
      u /= 10;
    } while (u && n < 20);
    while (n < width && n < 20) digits[n++] = '0';
    if (neg) put("-");
    char out[24];
    for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    out[n] = '\0';
    put(out);
  }
};

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void civil_from_days(long z, int *y, int *m, int *d) {
  z += 719468;
  long era = (z >= 0 ? z : z - 146096) / 146097;
  long doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long yy = yoe + era * 400;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  *d = (int)(doy - (153 * mp + 2) / 5 + 1);
  *m = (int)(mp < 10 ? mp + 3 : mp - 9);
  *y = (int)(yy + (*m <= 2));
}

}  // namespace

void vrk_log_signal_safe(int iMessageCode, const char *cpText) {
  if (iMessageCode == 4000 && spGlobal->iLogLevel < 4) return;
  const _sMessage *row = vrk_msg_lookup(iMessageCode);
  const char *word;
  _sVRKObject *obj = &spGlobal->sVRKObject;
  switch (row->eMsgLevel) {
    case E_ERROR:
      word = "Error:   ";
      if (spGlobal->iErrorSet == 0)
        obj->eOperStatus = STATUS_ERR_BEF_SAV;
      else if (spGlobal->iErrorSet == 1)
        obj->eOperStatus = STATUS_ERR_BROK_STR;
      break;
    case E_WARNING:
      word = "Warning: ";
      if (obj->eOperStatus == STATUS_OK) obj->eOperStatus = STATUS_WARNING;
      break;
    case E_INFO: word = "Info:    "; break;
    default: word = "Trace:   "; break;
  }

  long t = (long)time(nullptr) + g_cached_gmtoff;
  long days = t / 86400, secs = t % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  int y, mo, d;
  civil_from_days(days, &y, &mo, &d);

  char line[kLineBuf];
  SafeBuf b{line, sizeof(line)};
  b.put_num(y, 4); b.put("-"); b.put_num(mo, 2); b.put("-"); b.put_num(d, 2); b.put(" ");
  b.put_num(secs / 3600, 2); b.put(":"); b.put_num(secs / 60 % 60, 2); b.put(":");
  b.put_num(secs % 60, 2);
  b.put(": vrk-"); b.put_num(iMessageCode, 4); b.put(": "); b.put(word); b.put(" ");

  // The row's text with its first "%s" replaced by cpText; caller-format rows
  // take cpText whole.
  const char *fmt = row->cpMsgText;
  if (is_caller_format(row->iMsgID) || row->iMsgID == VRK_MSG_END_CODE) fmt = "%s";
  const char *pos = strstr(fmt, "%s");
  char chunk[2] = {0, 0};
  for (const char *q = fmt; *q; ++q) {
    if (q == pos) {
      b.put(cpText ? cpText : "");
      ++q;
      continue;
    }
    chunk[0] = *q;
    b.put(chunk);
  }
  b.put("\n");
  size_t len = (size_t)(b.p - line);
  write_all(STDERR_FILENO, line, len);
  FILE *log = spGlobal->sVRKMsgTarget.fpLogFileDes;
  if (log != nullptr) write_all(fileno(log), line, len);
}
