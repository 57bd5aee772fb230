// The start-up banner line and the two usage texts: the help screen of the
// option parser and the shorter one of the argument checks.
#include "client/vrk_usage.h"

#include "runtime/vrk_log.h"

const char *const VRK_VERSION_TEXT =
    "@(#)KORVA BACKUP CLIENT FOR NETWARE FILE SYSTEMS, VERSION: 4.2R1 Build: 1.1283 20140207 "
    "23:40:25 Linux i586 buildfix";

namespace {

// 44 lines, starting with a blank line.
const char kHelpText[] =
    "\n"
    "usage:\n"
    "vrk -b|r|D|h [-a args] [-C host[:port[:user[:password]]]] [-d dir[:device]]\n"
    "    [-f [@]file|-] [-F format] [-i info] [-j jobname] [-l level]\n"
    "    [-L LOCAL|CONTROL[:file[:dir]]|NONE] [-n segment] [-o options] [-B size[k]]\n"
    "    [-N SMDR:TSA:TS:user:password:flag] [-O data] [-P] [-R target|pattern==::==target]\n"
    "    [-s saveset|@file|-] [-S host[:port][,start-end]] [-t label:id] [-T YYYYMMDDhhmmss]\n"
    "    [-x pattern[,pattern...]] [-X excludefile] [-v level] [sources]\n"
    " -a  additional argument for the file search\n"
    " -C  control host, port, user and password\n"
    " -d  remote directory, or SMS and the device\n"
    " -f  list of sources from a file or standard input\n"
    " -F  header format (CPIO_VRK, CPIO_ASCII, CPIO_NEW_ASCII, RAW) or pipe\n"
    " -i  saveset information\n"
    " -j  job name (names the session and the timestamp files)\n"
    " -l  level: FULL, INCR, DIFF, COPY, SINCE (backup), SELECTIVE (restore)\n"
    " -L  job log target\n"
    " -n  segment number\n"
    " -o  comma-separated list of sub-options (see below)\n"
    " -B  read block size in bytes, or in kilobytes with k\n"
    " -N  SMS connection string; the password may be given enciphered in braces\n"
    " -O  DATA argument for the storage node\n"
    " -P  reserved\n"
    " -R  restore target, or relocation pairs of source and target\n"
    " -s  saveset name, @file for a local saveset, - for standard input or output\n"
    " -S  storage node as URI or host and port, with the local port range\n"
    " -t  tape label and tape id\n"
    " -T  reference time of a SINCE backup\n"
    " -x  exclude patterns\n"
    " -X  exclude pattern file\n"
    " -v  log level (4 and more: trace)\n"
    " -h  this help screen\n"
    "Backup:  vrk -b [options] source[,source...]\n"
    "Restore: vrk -r [options] [-R target] selection[,selection...]\n"
    "Display: vrk -D [options] [path]\n"
    "-o for backup:  uncompress, OPEN_READ_DENY_WRITE, USE_LOCK_MODE_IF_DW_FAILS,\n"
    "                NO_LOCK_NO_PROTECTION, OPEN_READ_ONLY, PRESERVE_ACCESS_TIME\n"
    "-o for restore: rename, overwrite, plain, tree, next, skip_data, noacl,\n"
    "                INCLUDE_MIGRATED_DATA\n"
    "Hints for -N:\n"
    "  -N SMDR1:SERVER1.TSA:SERVER1:admin.org:secret:0\n"
    "  -N SMDR1:SERVER1.TSA:SERVER1:admin.org:{0123456789abcdef9e1c3ab0245fd867}:0\n"
    "\n";

const char kUsageText[] =
    "\n"
    "usage:\n"
    "vrk -b|r|g|p|k|h [-C host[:port]] [-d dir[:device]] [-f file] [-F format] [-j jobname]\n"
    "    [-l level] [-L target] [-N connection] [-o options] [-R target] [-s saveset]\n"
    "    [-S storage node] [-t label:id] [-T time] [-x patterns] [-X file] [-v level]\n"
    "Backup:  vrk -b -j jobname -l level -s saveset [options] source[,source...]\n"
    "Restore: vrk -r -s saveset [options] [-R target] selection[,selection...]\n"
    "Get:     vrk -g [options] saveset [localfile]\n"
    "Put:     vrk -p [options] localfile [saveset]\n"
    "-o: rename, overwrite, plain, next, nfs, nonfs, notrailer, disk_info, acl, noacl,\n"
    "    excl, noexcl, relocdeli=, hard=, encrypt=, uncompress, path=, verify=,\n"
    "    xdev, noxdev, skip_data, INCLUDE_MIGRATED_DATA, PRESERVE_ACCESS_TIME\n";

}  // namespace

void vrk_banner(void) { vrk_log(3036, VRK_VERSION_TEXT); }

void vrk_print_help(void) { vrk_log_text(3000, kHelpText); }

void vrk_print_usage(void) { vrk_log_text(3000, kUsageText); }
