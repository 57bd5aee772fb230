// The steps after the options: operation arguments, PUT.IN, the job log, the
// relocation hand-off, the checks, the start-up messages and the DATA argument.
#include "client/vrk_optpost.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "client/vrk_checkargs.h"
#include "client/vrk_dataarg.h"
#include "client/vrk_global.h"
#include "client/vrk_items.h"
#include "client/vrk_levels.h"
#include "client/vrk_optutil.h"
#include "client/vrk_options.h"
#include "client/vrk_osinfo.h"
#include "client/vrk_relocation.h"
#include "client/vrk_timestamp.h"
#include "client/vrk_usage.h"
#include "runtime/cm_args.h"
#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"
#include "runtime/x_file_owner.h"
#include "runtime/x_open_nofollow.h"
#include "runtime/x_std_fds.h"

namespace {

const char kGroupWise[] = "GroupWise Mail Server";

// The reason an existing file at `path` was not opened for writing: its
// owner for EPERM (another user's file), else strerror.
std::string refusal_text(const std::string &path, int err) {
  struct stat st;
  if (err == EPERM && lstat(path.c_str(), &st) == 0 && !x_owner_trusted(st.st_uid))
    return "the file belongs to " + x_owner_text(st.st_uid) + ", not to the user of the job";
  return strerror(err);
}

int list_resources(int argc, char **argv, int iFirst) {
  _sVRKGlobal *g = spGlobal;
  int r = vrk_checkargs();
  if (r == -1) {
    vrk_log(3500, "Error: %d", r);
    return -1;
  }
  strlcpy(g->sVRKNlm.szPassword, g->szDB_Pass, sizeof(g->szDB_Pass));
  if (!vrk_opt_set_heap(&g->sVRKObject.cpItem[0], iFirst < argc ? argv[iFirst] : "/"))
    return -1;
  free(g->sVRKObject.cpItem[1]);
  g->sVRKObject.cpItem[1] = nullptr;
  vrk_log(3500, "::%s", g->sVRKObject.cpItem[0]);
  // The listing is the job's data: it is not thrown away unseen.
  if (x_std_fd_was_closed(1)) {
    vrk_banner();
    vrk_log(1500, "The listing goes to standard output, which was closed when the job started. Exiting.");
    return -1;
  }
  vrk_banner();
  vrk_log(3162, g->szClientHostName);
  print_os_info();
  vrk_log(4000, "Got function DIR > LIST_RESOURCES");
  return 0;
}

// Writes the one local file name of PUT into "%s/PUT.IN" in the tmp directory;
// 0 to go on, -1 to stop with a failure, 1 when the file could not be
// written (the parser then ends at once with 0: the PUT saves nothing).
int put_list(int argc, char **argv, int iFirst) {
  _sVRKGlobal *g = spGlobal;
  if (iFirst >= argc) {
    vrk_banner();
    vrk_log(1020);
    return -1;
  }
  std::string path = std::string(g->sDirs.cpTmp ? g->sDirs.cpTmp : "") + "/PUT.IN";
  FILE *fp = x_fopen_nofollow(path.c_str(), "w", 0600);
  bool ok = fp != nullptr;
  int err = errno;
  std::string why = ok ? "" : refusal_text(path, err);
  if (ok) {
    ok = fprintf(fp, "%s\n", argv[iFirst]) >= 0;
    if (!ok) err = errno;
    if (fclose(fp) != 0 && ok) {
      ok = false;
      err = errno;
    }
  }
  if (!ok) {
    vrk_banner();
    vrk_log(1011, path.c_str(), why.empty() ? strerror(err) : why.c_str());
    vrk_log(2025);
    return 1;
  }
  if (!vrk_opt_set_heap(&g->sSMS.cpSaveset, iFirst + 1 < argc ? argv[iFirst + 1] : argv[iFirst]))
    return -1;
  free(g->sVRKObject.cpItem[0]);
  g->sVRKObject.cpItem[0] = nullptr;
  return vrk_opt_set_heap(&g->sVRKObject.cpIncludeList, path.c_str()) ? 0 : -1;
}

int get_args(int argc, char **argv, int iFirst) {
  _sVRKGlobal *g = spGlobal;
  if (iFirst >= argc) {
    vrk_banner();
    vrk_log(1020);
    return -1;
  }
  const char *target = iFirst + 1 < argc ? argv[iFirst + 1] : argv[iFirst];
  if (!vrk_opt_fits(target, sizeof(g->szTargetPath[0]), target, 's')) return -1;
  if (!vrk_opt_set_heap(&g->sSMS.cpSaveset, argv[iFirst])) return -1;
  strlcpy(g->szTargetPath[0], target, sizeof(g->szTargetPath[0]));
  return 0;
}

// The sources of the other operations; -1 marks the parser as failed.
int sources(int argc, char **argv, int iFirst) {
  _sVRKGlobal *g = spGlobal;
  if (iFirst >= argc) return 0;
  char **items = g->sVRKObject.cpItem;
  if (items[0] != nullptr && strcmp(items[0], "pipe") == 0) {
    vrk_log(3500, "Skip further arguments, e.g. [%s] bcs. source file names are given via %s",
            argv[iFirst], "pipe");
    return 0;
  }
  int first = iFirst;
  int next = 0;
  while (next < VRK_MAX_ITEMS && items[next] != nullptr) ++next;
  int r = ProcessBackupSource(&first, argc, &next, argv, items);
  vrk_log(4000, "ProcessBackupSource returned %d with %d items", r, next);
  for (int i = 0; i < VRK_MAX_ITEMS && items[i] != nullptr; ++i) vrk_log(4000, "got [%s]", items[i]);
  return r < 0 ? -1 : 0;
}

// The job log name; false only when the saveset is missing (usage printed).
bool job_log_name(const OptState *st, std::string *name, bool *usable) {
  _sVRKGlobal *g = spGlobal;
  _sVRKMsgTarget *m = &g->sVRKMsgTarget;
  const char *logDir = g->sDirs.cpLog ? g->sDirs.cpLog : "";
  std::string part;
  *usable = true;
  if (st->bControlLogName) {
    *name = std::string(logDir) + "/" + m->szLogFile;
  } else {
    const char *saveset = g->sSMS.cpSaveset;
    if (saveset == nullptr) {
      vrk_banner();
      vrk_print_help();
      return false;
    }
    if (g->eOPERATION == PUT || g->eOPERATION == GET) {
      const char *slash = strrchr(saveset, '/');
      part = slash ? slash + 1 : saveset;
    } else {
      part = saveset;
      // The log stays in the log directory: a name with '/' is not opened.
      if (part.find('/') != std::string::npos) *usable = false;
    }
    *name = std::string(logDir) + (g->eOPERATION == RESTORE ? "/src" : "/vrk") + part + ".log";
  }
  if (name->size() >= sizeof(m->szLogFile)) {
    *usable = false;
    name->resize(sizeof(m->szLogFile) - 1);
  }
  strlcpy(m->szLogFile, name->c_str(), sizeof(m->szLogFile));
  return true;
}

void open_job_log(const std::string &name, bool usable) {
  _sVRKMsgTarget *m = &spGlobal->sVRKMsgTarget;
  if (m->iLogFile == 1) {
    // Job logs may be read by the group (operators watching the jobs), by
    // nobody else.
    FILE *fp = usable ? x_fopen_nofollow(name.c_str(), "w", 0640) : nullptr;
    int err = usable ? errno : EINVAL;
    if (fp == nullptr) {
      vrk_banner();
      std::string why = !usable      ? "the name leaves the log directory or is too long"
                        : err == EBUSY ? "the file is the saveset of the job"
                                       : refusal_text(name, err);
      vrk_log(2024, name.c_str(), why.c_str());
    } else {
      m->fpLogFileDes = fp;
      vrk_banner();
    }
  } else {
    m->fpLogFileDes = nullptr;
    vrk_banner();
    vrk_log(3036, "vrk_optpost.cpp option parser, revision 1.0");
  }
  print_os_info();
}

// The -R arguments joined and handed to the relocation set-up; -1 on failure.
int relocation(const OptState *st, bool *failed) {
  _sVRKGlobal *g = spGlobal;
  if (g->szRelocDelimiter[0] == '\0') {
    bool wide = false;
    for (int i = 1; i <= st->iRArgs; ++i)
      if (strstr(g->szTargetArg[i], "==::==") != nullptr) wide = true;
    strlcpy(g->szRelocDelimiter, wide ? "==::==" : ":", sizeof(g->szRelocDelimiter));
    if (wide) vrk_log(4000, "Use relocdeli='%s'", g->szRelocDelimiter);
  } else {
    vrk_log(3500, "Use relocdeli='%s' from '-o' option", g->szRelocDelimiter);
  }

  std::string joined;
  for (int i = 1; i <= st->iRArgs; ++i) {
    if (i > 1) joined += g->szRelocDelimiter;
    joined += g->szTargetArg[i];
  }
  if (joined.size() >= sizeof(g->szTargetArg[0])) {
    // A cut pair would restore to a wrong place.
    vrk_opt_invalid(joined.c_str(), 'R');
    *failed = true;
    return 0;
  }
  strlcpy(g->szTargetArg[0], joined.c_str(), sizeof(g->szTargetArg[0]));
  vrk_log(4000, "spGlobal->szTargetArg[0] [%s]", g->szTargetArg[0]);

  if (g->szTargetArg[0][0] != '\0') {
    SetRelocLog(vrk_log);
    vrk_log(4000, "Preserve the path relocation argument [%s]", g->szTargetArg[0]);
    int r = SaveRawRelocArg(g->szTargetArg[0], g->iLogLevel);
    if (r != 0) {
      vrk_log(3500, "Can't preserve the path relocation argument [%s], error code: %d",
              g->szTargetArg[0], r);
      *failed = true;
    }
    g->bRelocationRequired = 1;
  }

  if (g->bRelocationRequired) {
    static char *pathRows[VRK_MAX_ITEMS];
    static char *targetRows[VRK_MAX_ITEMS];
    for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
      pathRows[i] = g->szPath[i];
      targetRows[i] = g->szTargetPath[i];
    }
    if (ForEachRelocArg(&g->RelocationContext, g->szRelocDelimiter, pathRows, targetRows,
                        ProcessRelocArgs, g->iLogLevel) != 0) {
      vrk_log(3035, "ERROR: Can't perform path relocation of \"-R\"");
      return -1;
    }
  }
  return 0;
}

void start_messages(int argc, char **argv) {
  _sVRKGlobal *g = spGlobal;
  const _sSMSLocal *s = &g->sSMS;
  const _sVRKMsgTarget *m = &g->sVRKMsgTarget;
  vrk_log(3063);
  vrk_log(3100, (int)getpid());
  std::string op = vrk_getopstr(g->eOPERATION);
  vrk_log(3030, op.c_str(), vrk_getlevelstr(g->eBackupType));
  vrk_log(3162, g->szClientHostName);
  // A password field shows as the mask; vrk_log masks the one of the URL.
  vrk_log(3031, s->cpHost ? s->cpHost : "", s->iPort, s->iLPortStart, s->iLPortEnd, s->cpUser ? s->cpUser : "",
          vrk_masked(s->cpPassword));
  bool full = g->iLogLevel > 2;
  // Without -C the control host is the storage node, URL and all.
  vrk_log(3032, m->szHostName, m->iPort, full ? m->szUser : "",
          full ? vrk_masked(m->szPassword) : "");
  vrk_log(3033, s->cpRemoteDir ? s->cpRemoteDir : "", s->cpDevice ? s->cpDevice : "",
          s->cpMode ? s->cpMode : "", s->iTapeBlockSize);
  vrk_log(3002, GET_CALL_PARAM(argc, argv));
  if (g->iLogLevel > 0) vrk_log(3500, "Netware argument: %s", gszNetwareArg);
}

// ENCRYPT and VERIFY are taken, but no road of this client carries them out:
// the job says so rather than let the user believe it (a warning each).
void not_carried_out(void) {
  _sVRKGlobal *g = spGlobal;
  if (g->sOptions.iEncrypt) {
    bool writes = g->eOPERATION == BACKUP || g->eOPERATION == PUT;
    vrk_log(2500, "Option %s is not carried out: %s", g->sOptions.iEncryptPlain ? "ENCRYPT_PLAIN" : "ENCRYPT",
            writes ? "the saveset is written in plain text, not enciphered."
                   : "the saveset is read as it was stored, not deciphered.");
  }
  if (g->sOptions.iVerify)
    vrk_log(2500, "Option VERIFY=%s is not carried out: the restore is not verified.",
            g->eVerifyOption == VERIFY_TIME ? "TIME" : "CONTENT");
}

const char *nz(const char *s) { return s != nullptr ? s : ""; }

int data_argument(const OptState *st) {
  _sVRKGlobal *g = spGlobal;
  if (st->bDataArgGiven) return vrk_update_dataarg() == 0 ? 0 : -1;
  const _sSMSLocal *s = &g->sSMS;
  bool sms = s->cpRemoteDir != nullptr && strcmp(s->cpRemoteDir, "SMS") == 0;
  int n = 0;
  if (sms && (g->eOPERATION == BACKUP || g->eOPERATION == PUT)) {
    n = snprintf(g->szDATAarg, sizeof(g->szDATAarg), "%s:%s:%s:%ld:%s:%d", nz(s->cpSaveset),
                 nz(s->cpInfo), nz(s->cpInter), (long)s->ulTapeID, nz(s->cpTapeLabel),
                 s->iTCPBufSize);
  } else if (sms && (g->eOPERATION == RESTORE || g->eOPERATION == GET)) {
    n = snprintf(g->szDATAarg, sizeof(g->szDATAarg), "%s:%.0f:%s:%ld:%ld:%s", nz(s->cpSaveset),
                 s->dLen, nz(s->cpDATAFlags), (long)s->ulTapeID, (long)s->ulSegmentNumber,
                 nz(s->cpInter));
  } else {
    n = snprintf(g->szDATAarg, sizeof(g->szDATAarg), "%s", nz(s->cpSaveset));
  }
  if (n < 0 || (size_t)n >= sizeof(g->szDATAarg)) {
    g->szDATAarg[0] = '\0';
    vrk_opt_invalid(nz(s->cpSaveset), 's');
    return -1;
  }
  return 0;
}

}  // namespace

int vrk_after_options(int argc, char **argv, int iFirst, const OptState *st) {
  _sVRKGlobal *g = spGlobal;
  bool failed = false;

  switch (g->eOPERATION) {
    case LIST_RESOURCES:
      return list_resources(argc, argv, iFirst);
    case KILL:
      vrk_banner();
      vrk_log(3030, "KILL", " ");
      print_os_info();
      return -1;
    case PUT: {
      int r = put_list(argc, argv, iFirst);
      if (r != 0) return r < 0 ? -1 : 0;
      break;
    }
    case GET:
      if (get_args(argc, argv, iFirst) != 0) return -1;
      break;
    default:
      if (sources(argc, argv, iFirst) != 0) failed = true;
      break;
  }

  std::string logName;
  bool usable = true;
  if (!job_log_name(st, &logName, &usable)) return -1;
  open_job_log(logName, usable);

  if (relocation(st, &failed) != 0) return -1;

  for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
    if (g->szTargetPath[i][0] == '\0') continue;
    vrk_log(4000, "spGlobal->szPath[%d][%s]", i, g->szPath[i]);
    vrk_log(4000, "spGlobal->szTargetPath[%d][%s]", i, g->szTargetPath[i]);
  }

  if (g->eOPERATION == RESTORE && strncasecmp(g->szTargetPath[0], kGroupWise, 21) == 0) {
    char *t = g->szTargetPath[0];
    vrk_log(3500, "Remove [%s] from target path [%s]", kGroupWise, t);
    memmove(t, t + 21, strlen(t + 21) + 1);
    vrk_log(3500, "New target path [%s]", t);
  }

  if (failed) return -1;

  if (g->eOPERATION == OPERATION_NOT_INITIALIZED || g->eOPERATION > DIRLIST) {
    vrk_print_help();
    return -1;
  }

  int r = vrk_checkargs();
  if (r == -1) {
    vrk_log(3500, "ERR: %d", r);
    return -1;
  }
  strlcpy(g->sVRKNlm.szPassword, g->szDB_Pass, sizeof(g->szDB_Pass));

  // The job name names the marker files of every backup level but COPY.
  if (g->eOPERATION == BACKUP && g->eBackupType != COPY && strchr(g->szJobName, '/') != nullptr) {
    vrk_opt_invalid(g->szJobName, 'j');
    return -1;
  }

  if (g->eOPERATION == BACKUP) {
    g->tBackupFrom = vrk_gettimestamp(g->eBackupType);
    struct tm tmFrom;
    char text[64] = "";
    if (localtime_r(&g->tBackupFrom, &tmFrom) != nullptr) asctime_r(&tmFrom, text);
    vrk_log(4000, "vrk_gettimestamp() returned timestamp %s", text);
  }

  start_messages(argc, argv);
  not_carried_out();

  return data_argument(st);
}
