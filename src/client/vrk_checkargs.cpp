// The check of the finished command line: usage rules per operation, the
// default level, the restore flags and the deciphering of the SMS password.
#include "client/vrk_checkargs.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "client/vrk_global.h"
#include "client/vrk_usage.h"
#include "runtime/strlib.h"
#include "runtime/vrk_crypt.h"
#include "runtime/vrk_log.h"

namespace {

bool is_pipe(const char *s) { return strcmp(s, "pipe") == 0; }

bool starts_with_at(const char *s) { return s == nullptr || s[0] == '@'; }

void replace_heap(char **cppField, const char *cpValue) {
  char *copy = strdup(cpValue);
  if (copy == nullptr) {
    vrk_log(1094);
    return;
  }
  free(*cppField);
  *cppField = copy;
}

}  // namespace

int vrk_checkargs(void) {
  _sVRKGlobal *g = spGlobal;
  if (g->iLogLevel > 2) trace("%s:%d: vrk_checkargs()", __FILE__, __LINE__);

  if (g->eOPERATION == OPERATION_NOT_INITIALIZED || g->eOPERATION > DIRLIST) {
    vrk_log(1004);
    return -1;
  }

  if (g->sOptions.iSdi) g->sOptions.iPlain = 1;

  if (g->eOPERATION == RESTORE) {
    const char *list = g->sVRKObject.cpIncludeList;
    if (!is_pipe(g->szTargetPath[0])) {
      if (list != nullptr && list[0] == '@' && list[1] == '-') {
        vrk_log(1121);
        return -1;
      }
    } else if (starts_with_at(list)) {
      g->eHdrFmt = HDR_RAW;
    }
    for (int i = 0; i < VRK_MAX_ITEMS; ++i) {
      char *t = g->szTargetPath[i];
      size_t len = strlen(t);
      if (len == 0 || is_pipe(t) || t[len - 1] == '/') continue;
      if (len + 1 >= sizeof(g->szTargetPath[i])) {
        vrk_log(1038, t, 'R');
        return -1;
      }
      t[len] = '/';
      t[len + 1] = '\0';
    }
    if (!g->bDB_VMDKoperation &&
        (g->eBackupType == DIFFERENTIAL || g->eBackupType == SINCE || g->eBackupType == COPY)) {
      vrk_log(1042);
      return -1;
    }
    if (g->eBackupType == E_TYPE_DEFAULT) g->eBackupType = FULL;
  }

  if (g->eOPERATION == BACKUP) {
    const char *item0 = g->sVRKObject.cpItem[0];
    if (item0 != nullptr && is_pipe(item0)) {
      g->eBackupType = COPY;
      if (starts_with_at(g->sVRKObject.cpIncludeList)) g->eHdrFmt = HDR_RAW;
    }
    if (g->eBackupType == SELECTIVE || g->eBackupType == E_LIST) {
      vrk_log(1042);
      return -1;
    }
    if (g->eBackupType == E_TYPE_DEFAULT) g->eBackupType = COPY;
  }

  int result = 0;
  if (g->sLocalSaveset.iFilDes == -1) {
    const _sSMSLocal *s = &g->sSMS;
    if (s->cpHost == nullptr || s->cpHost[0] == '\0' || s->cpUser == nullptr ||
        s->cpUser[0] == '\0' || s->iPort < 0) {
      vrk_print_usage();
      result = -1;
    }
  }
  if (g->sSMS.cpRemoteDir != nullptr && strcmp(g->sSMS.cpRemoteDir, "SMS") == 0 &&
      (g->sSMS.cpTapeLabel == nullptr || g->sSMS.cpTapeLabel[0] == '\0')) {
    vrk_print_usage();
    result = -1;
  }
  if (g->sSMS.cpSaveset == nullptr || g->sSMS.cpSaveset[0] == '\0') {
    vrk_print_usage();
    result = -1;
  }
  if (g->eOPERATION == BACKUP && g->eBackupType == SINCE && g->tBackupFrom == 0) {
    vrk_print_usage();
    result = -1;
  }

  _sVRKMsgTarget *m = &g->sVRKMsgTarget;
  if (m->szHostName[0] == '\0') {
    strlcpy(m->szHostName, g->sSMS.cpHost ? g->sSMS.cpHost : "", sizeof(m->szHostName));
    m->iPort = g->sSMS.iPort;
    strlcpy(m->szUser, g->sSMS.cpUser ? g->sSMS.cpUser : "", sizeof(m->szUser));
    strlcpy(m->szPassword, g->sSMS.cpPassword ? g->sSMS.cpPassword : "",
            sizeof(m->szPassword));
  }

  if (g->eOPERATION == RESTORE) {
    std::string flags;
    flags += g->eBackupType == SELECTIVE ? 's' : 'f';
    flags += g->sOptions.iPlain ? 'p' : 't';
    if (g->sOptions.iNext) flags += 'n';
    replace_heap(&g->sSMS.cpDATAFlags, flags.c_str());
  }

  if (g->eOPERATION == BACKUP &&
      (g->eBackupType == FULL || g->eBackupType == INCREMENTAL ||
       g->eBackupType == DIFFERENTIAL) &&
      g->szJobName[0] == '\0') {
    vrk_log(1001, 'j');
    return -1;
  }

  if (g->szDB_Pass[0] != '\0') {
    char empty[] = "";
    char *key = g->sSMS.cpSaveset != nullptr ? g->sSMS.cpSaveset : empty;
    if (vrk_check_encryption(g->eOPERATION, key, g->szDB_Pass, sizeof(g->szDB_Pass)) == 0)
      result = -1;
  }

  if (g->iLogLevel > 2) trace("%s:%d: vrk_checkargs(), exiting", __FILE__, __LINE__);
  return result;
}
