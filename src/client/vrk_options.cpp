// The command-line parser: the operation from the first option, every
// option's effect, and the hand-over to the steps after the options.
#include "client/vrk_options.h"

#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "client/vrk_global.h"
#include "client/vrk_io.h"
#include "client/vrk_items.h"
#include "client/vrk_levels.h"
#include "client/vrk_numbers.h"
#include "client/vrk_optconn.h"
#include "client/vrk_optpost.h"
#include "client/vrk_optsecret.h"
#include "client/vrk_optutil.h"
#include "client/vrk_osinfo.h"
#include "client/vrk_patterns.h"
#include "client/vrk_saveset_file.h"
#include "client/vrk_subopts.h"
#include "client/vrk_usage.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"
#include "runtime/x_open_nofollow.h"
#include "runtime/x_std_fds.h"

char gszNetwareArg[512];

namespace {

// Number of -R arguments kept; the first lands in szTargetArg[1].
int iRArgs = 0;

// Result of an option handler.
enum OptResult { OPT_OK, OPT_FAIL, OPT_STOP };

void help_and_exit(int iStatus) {
  vrk_banner();
  vrk_print_help();
  print_os_info();
  exit(iStatus);
}

bool starts_with(const char *s, const char *prefix) {
  return strncmp(s, prefix, strlen(prefix)) == 0;
}

bool opt_buffer_size(const char *a) {
  // The leading number, times 1024 when the text ends in k or K ("12x" is
  // 12, "64k" 65536).
  errno = 0;
  long long v = strtoll(a, nullptr, 10);
  bool ok = errno != ERANGE;
  size_t len = strlen(a);
  if (ok && len > 0 && (a[len - 1] == 'k' || a[len - 1] == 'K')) {
    if (v > LLONG_MAX / 1024 || v < LLONG_MIN / 1024) ok = false;
    else v *= 1024;
  }
  // A block must hold at least one byte and fit the DE record's 32-bit size.
  if (!ok || v < 1 || v > INT32_MAX) return vrk_opt_invalid(a, 'B');
  spGlobal->lBufferSize = (int32_t)v;
  vrk_log(3500, "Got BufferSize %d", (int)spGlobal->lBufferSize);
  return true;
}

bool opt_format(const char *a) {
  if (!vrk_opt_dash_ok(a, 'F')) return false;
  _sVRKGlobal *g = spGlobal;
  if (strcmp(a, "pipe") == 0) return vrk_opt_set_pipe("pipe");
  if (starts_with(a, "CPIO_VRK")) {
    g->eHdrFmt = HDR_VRK;
  } else if (starts_with(a, "CPIO_ASCII")) {
    g->eHdrFmt = HDR_CPIO_ASCII;
  } else if (starts_with(a, "CPIO_NEW_ASCII")) {
    g->eHdrFmt = HDR_CPIO_NEW;
  } else if (starts_with(a, "RAW")) {
    g->eHdrFmt = HDR_RAW;
    return vrk_opt_set_heap(&g->sSMS.cpInter, "none");
  } else {
    g->eHdrFmt = HDR_RAW;
    return vrk_opt_set_heap(&g->sSMS.cpInter, a);
  }
  return true;
}

bool opt_log_target(const char *a, OptState *st) {
  if (!vrk_opt_dash_ok(a, 'L')) return false;
  _sVRKMsgTarget *m = &spGlobal->sVRKMsgTarget;
  char *field[5] = {nullptr};
  int n = vrk_parse_item(field, a, ':', 3);
  bool ok = n >= 1 && n <= 3;
  if (ok) {
    vrk_strupr(field[0]);
    if (strcmp(field[0], "LOCAL") == 0) {
      m->iLeaveLocal = 1;
      m->iLogFile = 1;
      st->bControlLogName = false;
    } else if (strcmp(field[0], "CONTROL") == 0) {
      // The name is put under the log directory: it must not lead elsewhere.
      if (n >= 2 && (strchr(field[1], '/') != nullptr || strlen(field[1]) >= VRK_PATH_MAX ||
                     (n == 3 && strlen(field[2]) >= VRK_PATH_MAX))) {
        ok = false;
      } else {
        m->iLeaveLocal = 0;
        m->iLogFile = 1;
        if (n >= 2) {
          strlcpy(m->szLogFile, field[1], sizeof(m->szLogFile));
          strlcpy(m->szLogDir, n == 3 ? field[2] : ".", sizeof(m->szLogDir));
        }
        st->bControlLogName = n >= 2 && field[1][0] != '\0';
      }
    } else if (strcmp(field[0], "NONE") == 0) {
      m->iLeaveLocal = 1;
      m->iLogFile = 0;
      st->bControlLogName = false;
    } else {
      ok = false;
    }
  }
  vrk_opt_free_items(field, 5);
  if (!ok) {
    vrk_opt_invalid(a, 'L');
    print_os_info();
  }
  return ok;
}

bool opt_restore_target(const char *a) {
  if (!vrk_opt_dash_ok(a, 'R')) return false;
  // An empty target (-R "" or an unset variable) would restore onto the
  // original files: refused.
  if (a[0] == '\0') return vrk_opt_invalid(a, 'R');
  _sVRKGlobal *g = spGlobal;
  if (strcmp(g->szTargetPath[0], "pipe") == 0) return true;
  if (iRArgs >= VRK_MAX_ITEMS - 1) return vrk_opt_invalid(a, 'R');
  if (!vrk_opt_fits(a, sizeof(g->szTargetArg[0]), a, 'R')) return false;
  ++iRArgs;
  strlcpy(g->szTargetArg[iRArgs], a, sizeof(g->szTargetArg[iRArgs]));
  return true;
}

OptResult opt_since(const char *a) {
  if (!vrk_opt_dash_ok(a, 'T')) return OPT_FAIL;
  _sVRKGlobal *g = spGlobal;
  if (g->eOPERATION != BACKUP) {
    vrk_banner();
    vrk_log(1005, 'T');
    return OPT_STOP;
  }
  vrk_log(3500, "Got SINCE with [%s]", a);
  // All fourteen digits: a short time would be read as another moment.
  bool bDigits = strlen(a) == 14 && strspn(a, "0123456789") == 14;
  time_t t = bDigits ? vrk_get_time(a, 0) : (time_t)-1;
  if (t == (time_t)-1) {
    vrk_opt_invalid(a, 'T');
    return OPT_FAIL;
  }
  g->eBackupType = SINCE;
  g->tBackupFrom = t;
  vrk_log(4000, "tBackupFrom set to [%lld]", (long long)g->tBackupFrom);
  return OPT_OK;
}

bool opt_alarm_interval(const char *a) {
  if (!vrk_opt_dash_ok(a, 'V')) return false;
  errno = 0;
  long long v = strtoll(a, nullptr, 10);
  if (errno == ERANGE || v < 0 || v > INT_MAX) return vrk_opt_invalid(a, 'V');
  spGlobal->iAlarmIntervall = (int)v;
  if (v == 0) spGlobal->iVerbose = 0;
  if (spGlobal->iLogLevel >= 3) trace("%s:%d: Verbose switched ON", __FILE__, __LINE__);
  return true;
}

bool opt_exclude_file(const char *a) {
  if (!vrk_opt_dash_ok(a, 'X')) return false;
  _sVRKObject *o = &spGlobal->sVRKObject;
  if (o->iExcludeFile >= 0) {
    int fd = o->iExcludeFile;
    o->iExcludeFile = -1;
    if (close(fd) != 0) {
      vrk_log(1008, strerror(errno));
      return false;
    }
  }
  // Opened without waiting: a FIFO is read when the exclusions are built,
  // within the data wait (refused then when nobody is at its writing end).
  int fd = open(a, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    vrk_banner();
    vrk_log(1066, a, strerror(err));
    return false;
  }
  o->iExcludeFile = fd;
  vrk_set_exclude_file_name(a);
  return true;
}

bool opt_remote_dir(const char *a) {
  if (!vrk_opt_dash_ok(a, 'd')) return false;
  _sSMSLocal *s = &spGlobal->sSMS;
  if (!vrk_opt_set_heap(&s->cpRemoteDir, a)) return false;
  char *field[7] = {nullptr};
  int n = vrk_parse_item(field, a, ':', 5);
  bool ok = n >= 1;
  if (ok) ok = vrk_opt_set_heap(&s->cpRemoteDir, field[0]);
  if (ok && n >= 2) {
    if (strcmp(s->cpRemoteDir, "SMS") == 0)
      ok = vrk_opt_set_heap(&s->cpDevice, field[1]);
    else
      ok = false;
  }
  vrk_opt_free_items(field, 7);
  return ok;
}

bool opt_include_list(const char *a) {
  _sVRKObject *o = &spGlobal->sVRKObject;
  if (a[0] == '\0') {
    vrk_banner();
    vrk_log(1020);
    return false;
  }
  if (!vrk_opt_set_heap(&o->cpIncludeList, a)) return false;
  if (a[0] == '@' && a[1] == '@' && a[2] != '\0') {
    std::string rest(a + 2);
    vrk_strupr(&rest[0]);
    if (!starts_with(rest.c_str(), "STDIN") && rest[0] != '-' &&
        !starts_with(rest.c_str(), "STDOUT") && !vrk_opt_set_heap(&o->cpIncludeList, a + 1))
      return false;
    return vrk_opt_set_pipe("pipe");
  }
  if (a[0] == '@' && a[1] != '\0') {
    const char *rest = a + 1;
    if (rest[0] == '-' || starts_with(rest, "STDIN"))
      return vrk_opt_set_heap(&o->cpIncludeList, rest) && vrk_opt_set_pipe("-");
    return true;
  }
  if (a[0] == '-' || starts_with(a, "STDIN"))
    return vrk_opt_set_pipe("-") && vrk_opt_set_heap(&o->cpIncludeList, "-");
  return true;
}

bool opt_saveset(const char *a) {
  _sVRKGlobal *g = spGlobal;
  _sLocalSaveset *ls = &g->sLocalSaveset;
  // A second -s replaces the first: its file is closed (and a saveset made
  // for it is given up).
  if (ls->iFilDes > 2) close(ls->iFilDes);
  vrk_saveset_read_forget();
  vrk_saveset_finish(false);
  x_open_nofollow_forget();
  ls->iFilDes = -1;
  ls->szName[0] = '\0';

  if (starts_with(a, "STDOUT") || starts_with(a, "STDIN")) {
    if (!vrk_opt_fits(a, sizeof(ls->szName), a, 's')) return false;
    strlcpy(ls->szName, a, sizeof(ls->szName));
    ls->iFilDes = starts_with(a, "STDOUT") ? 1 : 0;
  } else if (strcmp(a, "-") == 0) {
    bool out = g->eOPERATION == BACKUP || g->eOPERATION == PUT;
    strlcpy(ls->szName, out ? "STDOUT" : "STDIN", sizeof(ls->szName));
    ls->iFilDes = out ? 1 : 0;
  } else if (a[0] == '@') {
    // A cut name would open (and truncate) a different file: refuse it.
    if (!vrk_opt_fits(a + 1, sizeof(ls->szName), a, 's')) return false;
    strlcpy(ls->szName, a + 1, sizeof(ls->szName));
    vrk_log(3003, ls->szName);
    int fd;
    if (g->eOPERATION == BACKUP) {
      if (strcmp(ls->szName, "NULL") == 0) {
        vrk_log(3500, "Write to /dev/null");
        fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
      } else {
        // What stands at the name stays until the backup has ended well;
        // a second job onto the same saveset is refused.
        bool bBusy = false;
        std::string sFile, sWhy;
        fd = vrk_saveset_create(ls->szName, &bBusy, &sFile, &sWhy);
        if (bBusy) {
          vrk_banner();
          vrk_log(1500, "Saveset [%s] is being written by another job. Exiting.", ls->szName);
          ls->szName[0] = '\0';
          return false;
        }
        // A link, device, FIFO or file that another user may have put at
        // the name: nothing has been written.
        if (fd < 0 && !sFile.empty()) {
          vrk_banner();
          vrk_log(1011, sFile.c_str(), sWhy.c_str());
          ls->szName[0] = '\0';
          return false;
        }
      }
    } else {
      fd = open(ls->szName, O_RDONLY | O_CLOEXEC);
      // A directory opens, but holds no saveset to read.
      struct stat st;
      if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        fd = -1;
        errno = EISDIR;
      }
    }
    if (fd < 0) {
      int err = errno;
      vrk_banner();
      // The reason, and the file it is about.
      std::string why = std::string(strerror(err)) + " [" + ls->szName + "]";
      vrk_log(1008, why.c_str());
      ls->szName[0] = '\0';
      return false;
    }
    ls->iFilDes = fd;
  }
  // Standard input or output that the job was started without is /dev/null
  // now: a saveset there would be lost (or never read) without a word.
  if ((ls->iFilDes == 0 || ls->iFilDes == 1) && x_std_fd_was_closed(ls->iFilDes)) {
    vrk_banner();
    vrk_log(1500, "Saveset [%s] is standard %s, which was closed when the job started. Exiting.", ls->szName,
            ls->iFilDes == 1 ? "output" : "input");
    ls->iFilDes = -1;
    ls->szName[0] = '\0';
    return false;
  }
  // The job log or a trace file named like the saveset never writes into it.
  struct stat st;
  if (ls->iFilDes >= 0 && fstat(ls->iFilDes, &st) == 0) x_open_nofollow_keep(&st);
  return vrk_opt_set_heap(&g->sSMS.cpSaveset, a);
}

bool opt_tape(const char *a) {
  if (!vrk_opt_dash_ok(a, 't')) return false;
  char *field[4] = {nullptr};
  int n = vrk_parse_item(field, a, ':', 2);
  bool ok = n == 2;
  long long id = 0;
  if (!ok) {
    vrk_opt_missing('t');
  } else {
    id = vrk_atoll(field[1]);
    ok = vrk_opt_set_heap(&spGlobal->sSMS.cpTapeLabel, field[0]);
    if (ok) spGlobal->sSMS.ulTapeID = (uint64_t)id;
  }
  vrk_opt_free_items(field, 4);
  return ok;
}

bool opt_excludes(const char *a) {
  if (!vrk_opt_dash_ok(a, 'x')) return false;
  vrk_log(4000, "exclude optarg: %s", a);
  int n = vrk_parse_item(spGlobal->sVRKObject.cpExclude, a, ',', VRK_MAX_ITEMS - 1);
  if (n < 0) {
    vrk_log(1008, strerror(ENOMEM));
    return false;
  }
  // More patterns than the table holds are refused, not dropped.
  if (n > VRK_MAX_ITEMS - 1) return vrk_opt_invalid(a, 'x');
  return true;
}

bool opt_segment(const char *a) {
  if (!vrk_opt_dash_ok(a, 'n')) return false;
  spGlobal->sSMS.ulSegmentNumber = (uint64_t)vrk_atoll(a);
  return true;
}

bool opt_level(const char *a) {
  if (!vrk_opt_dash_ok(a, 'l')) return false;
  // The empty text is FULL; a word that is no level fails the option.
  std::string level(a);
  _eBackupType t = vrk_level(&level[0]);
  if (t == E_TYPE_UNKNOWN) return false;
  spGlobal->eBackupType = t;
  return true;
}

OptResult handle(int c, int argc, char **argv, OptState *st) {
  _sVRKGlobal *g = spGlobal;
  char *a = optarg;
  bool ok = true;
  switch (c) {
    case 'B': ok = opt_buffer_size(a); break;
    case 'C': ok = vrk_opt_control_host(a, argc, argv); break;
    case 'D': g->iVerbose = 1; break;
    case 'F': ok = opt_format(a); break;
    case 'L': ok = opt_log_target(a, st); break;
    case 'N': ok = vrk_opt_sms_login(a, argc, argv); break;
    case 'O':
      ok = vrk_opt_dash_ok(a, 'O') && vrk_opt_fits(a, sizeof(g->szDATAarg), a, 'O');
      if (ok) {
        strlcpy(g->szDATAarg, a, sizeof(g->szDATAarg));
        st->bDataArgGiven = true;
      }
      break;
    case 'R': ok = opt_restore_target(a); break;
    case 'S': ok = vrk_opt_storage_node(a, argc, argv); break;
    case 'T': return opt_since(a);
    case 'V': ok = opt_alarm_interval(a); break;
    case 'X': ok = opt_exclude_file(a); break;
    case 'a':
      ok = vrk_opt_set_heap(&g->sVRKObject.cpAdditionalFindArg, a);
      break;
    case 'd': ok = opt_remote_dir(a); break;
    case 'f': ok = opt_include_list(a); break;
    case 'i': ok = vrk_opt_dash_ok(a, 'i') && vrk_opt_set_heap(&g->sSMS.cpInfo, a); break;
    case 'j':
      ok = vrk_opt_dash_ok(a, 'j') && vrk_opt_fits(a, sizeof(g->szJobName), a, 'j');
      if (ok) strlcpy(g->szJobName, a, sizeof(g->szJobName));
      break;
    case 'l': ok = opt_level(a); break;
    case 'n': ok = opt_segment(a); break;
    case 'o':
      ok = vrk_parse_subopts(a) == 0;
      vrk_secret_hide(a, vrk_subopt_secrets(a), argc, argv);  // the ENCRYPT password
      break;
    case 's': ok = opt_saveset(a); break;
    case 't': ok = opt_tape(a); break;
    case 'v':
      ok = vrk_opt_dash_ok(a, 'v');
      if (ok) {
        g->iLogLevel = vrk_atoi(a);
        if (g->iLogLevel >= 3) trace("%s:%d: Tracing switched ON", __FILE__, __LINE__);
      }
      break;
    case 'x': ok = opt_excludes(a); break;
    case 'h': help_and_exit(1); break;
    case 'c': case 'I': case 'm': break;
    case 'b': case 'r': case 'p': case 'g': case 'k': break;
    default:
      vrk_banner();
      vrk_log(1002, optopt != 0 ? optopt : c);
      ok = false;
      break;
  }
  return ok ? OPT_OK : OPT_FAIL;
}

void start_values(void) {
  _sVRKGlobal *g = spGlobal;
  _sVRKNlm *nlm = &g->sVRKNlm;
  nlm->szSMDR[0] = nlm->szTSA[0] = nlm->szTS[0] = nlm->szUser[0] = nlm->szPassword[0] = '\0';
  nlm->iRSFlag = 0;
  g->bCompress = 1;
  vrk_opt_set_heap(&g->sSMS.cpSaveset, "dummy");
  g->sOptions.iProcessACL = 1;
  g->iVerbose = 1;
  g->iAlarmIntervall = 300;
  g->sOptions.iSkipData = 0;
  g->sOptions.iPreserveAccessTime = 0;
  g->sOptions.iIncludeMigratedData = 0;
  g->sOptions.openMode = 1;
  g->lBufferSize = 65536;
  strlcpy(g->szRelocDelimiter, "==::==", sizeof(g->szRelocDelimiter));
  if (gethostname(g->szClientHostName, sizeof(g->szClientHostName)) != 0)
    g->szClientHostName[0] = '\0';
  g->szClientHostName[sizeof(g->szClientHostName) - 1] = '\0';
  iRArgs = 0;
  gszNetwareArg[0] = '\0';
}

}  // namespace

int vrk_analyze_opt(int argc, char **argv) {
  _sVRKGlobal *g = spGlobal;
  start_values();

  OptState st;
  bool first = true;
  int c;
  while ((c = getopt(argc, argv, VRK_OPTSTRING)) != -1) {
    if (first) {
      first = false;
      switch (c) {
        case 'b': g->eOPERATION = BACKUP; g->iLogLevel = 0; break;
        case 'r': g->eOPERATION = RESTORE; g->iLogLevel = 1; break;
        case 'D': g->eOPERATION = LIST_RESOURCES; break;
        case 'g': g->eOPERATION = GET; break;
        case 'p': g->eOPERATION = PUT; break;
        case 'k': g->eOPERATION = KILL; break;
        case 'h': help_and_exit(0); break;
        default:
          // Without the operation first every later option would be read in
          // the wrong mode (a read-only -s, a refused -T): stop here.
          vrk_banner();
          vrk_log(1004);
          vrk_print_help();
          print_os_info();
          vrk_log(1500, "Ending vrk_analyze_opt -1");
          return -1;
      }
      continue;
    }
    OptResult r = handle(c, argc, argv, &st);
    if (r == OPT_STOP) return -1;
    if (r == OPT_FAIL) {
      vrk_print_help();
      print_os_info();
      vrk_log(1500, "Ending vrk_analyze_opt -1");
      return -1;
    }
  }

  st.iRArgs = iRArgs;
  int result = vrk_after_options(argc, argv, optind, &st);
  if (result != 0) {
    vrk_log(1500, "Ending vrk_analyze_opt -1");
    return -1;
  }
  if (g->iLogLevel > 2) vrk_log(3500, "Ending vrk_analyze_opt 0");
  return 0;
}
