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
#include <deque>
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

// Set by tests: every line goes the general way (format, mask, escape).
bool g_general_only = false;

constexpr size_t kMaxNames = 4;

// A row that shows names, made once a row, as a job logs the same few rows
// for every data set: its format with each name marked, and for rows whose
// every conversion is a "%s" the fixed text between the names.
struct NamedRow {
  const _sMessage *row;
  std::string marked;
  std::vector<std::string> pieces;  // empty where the row has other conversions
  size_t fixed = 0;                 // bytes of the pieces
  size_t marks = 0;                 // bytes the marks of one name add
  size_t remembered = (size_t)-1;   // passwords known when plain was decided
  bool plain = false;               // masking only takes the marks away
};

NamedRow &named_row(const _sMessage *row) {
  static std::deque<NamedRow> made;
  for (NamedRow &m : made)
    if (m.row == row) return m;
  NamedRow r;
  r.row = row;
  r.marked = vrk_name_row_format(row->cpMsgText);
  r.marks = vrk_name_row_format("%s").size() - 2;
  std::string piece;
  bool simple = true;
  for (const char *q = row->cpMsgText; *q != '\0'; ++q) {
    if (*q != '%') {
      piece += *q;
    } else if (q[1] == 's') {
      r.pieces.push_back(piece);
      piece.clear();
      ++q;
    } else {
      simple = false;
      break;
    }
  }
  r.pieces.push_back(piece);
  // The general way drops a line break that ends the formatted text.
  if (!simple || r.pieces.size() < 2 || r.pieces.size() > kMaxNames + 1 || (!piece.empty() && piece.back() == '\n'))
    r.pieces.clear();
  for (const std::string &p : r.pieces) r.fixed += p.size();
  made.push_back(std::move(r));
  return made.back();
}

// The text of a row that shows names put at line[*pLen] on as the general
// way shows it: each name in its place, escaped, nothing masked. The general
// way's text is the row's with each name marked, cut at kTextBuf - 1 bytes,
// masked and escaped; where its fixed text could be masked, or a name holds
// a mark's first byte or would have the text cut, or an argument is NULL,
// only the general way gives the line: false.
bool put_names_directly(NamedRow &r, bool keepBreaks, va_list vlArgs, char *line, size_t *pLen) {
  if (g_general_only || r.pieces.empty()) return false;
  const size_t known = vrk_remembered_passwords();
  if (r.remembered != known) {
    r.plain = vrk_names_only_masked_away(r.pieces);
    r.remembered = known;
  }
  if (!r.plain) return false;
  const size_t k = r.pieces.size() - 1;
  const char *names[kMaxNames];
  size_t lens[kMaxNames];
  size_t total = r.fixed;
  va_list args;
  va_copy(args, vlArgs);
  for (size_t i = 0; i < k; ++i) names[i] = va_arg(args, const char *);
  va_end(args);
  for (size_t i = 0; i < k; ++i) {
    if (names[i] == nullptr) return false;
    lens[i] = strcspn(names[i], "\x0e\x0f");
    if (names[i][lens[i]] != '\0') return false;
    total += lens[i] + r.marks;
  }
  if (total >= kTextBuf) return false;
  // Bounded as the general way's escaped text is; the line has room for it.
  static_assert(kLineBuf - 2 - 159 >= kTextBuf - 1, "the line holds a whole text");
  char *text = line + *pLen;
  size_t n = 0;
  bool whole = vrk_printable_append(r.pieces[0].data(), r.pieces[0].size(), text, &n, kTextBuf, keepBreaks);
  for (size_t i = 0; i < k && whole; ++i)
    whole = vrk_printable_append(names[i], lens[i], text, &n, kTextBuf, keepBreaks) &&
            vrk_printable_append(r.pieces[i + 1].data(), r.pieces[i + 1].size(), text, &n, kTextBuf, keepBreaks);
  *pLen += std::min(n, kLineBuf - 2 - *pLen);
  return true;
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

// "<stamp>: vrk-NNNN: <level> " at line (which has room for it), cut at 159
// bytes; its length. Put together by hand, as every line starts so.
size_t head_of(char *line, const char *stamp, int code, const char *level) {
  if (code < 0 || code > 9999) {
    int h = snprintf(line, 160, "%s: vrk-%04d: %s ", stamp, code, level);
    return h < 0 ? 0 : std::min((size_t)h, (size_t)159);
  }
  size_t n = strlen(stamp);
  memcpy(line, stamp, n);
  memcpy(line + n, ": vrk-", 6);
  n += 6;
  line[n++] = (char)('0' + code / 1000);
  line[n++] = (char)('0' + code / 100 % 10);
  line[n++] = (char)('0' + code / 10 % 10);
  line[n++] = (char)('0' + code % 10);
  line[n++] = ':';
  line[n++] = ' ';
  const size_t w = strlen(level);
  memcpy(line + n, level, w);
  n += w;
  line[n++] = ' ';
  return std::min(n, (size_t)159);
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
  size_t len = head_of(line, stamp_of(time(nullptr)), iMessageCode, level);

  const bool named = shows_names(row->iMsgID);
  if (named && put_names_directly(named_row(row), keepBreaks, vlArgs, line, &len)) {
    line[len++] = '\n';
    emit_line(line, len);
    return;
  }

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
    const char *format = named ? named_row(row).marked.c_str() : row->cpMsgText;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    vsnprintf(text, kTextBuf, format, args);
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

void vrk_log_general_only(bool bOn) { g_general_only = bOn; }

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
