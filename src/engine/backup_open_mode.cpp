// The open mode of data sets for backup, with the TSA's own mode options,
// and whether the TSA can set the archive status of a data set.
#include "engine/scan_loop.h"

#include "client/vrk_global.h"
#include "runtime/vrk_log.h"
#include "sms/smsapi.h"

void SetOpenModeForBackup(SESSION_INFORMATION *sessionInfo, UINT32 *openModeForBackup) {
  UINT32 mode = spGlobal->sOptions.openMode;
  switch (mode) {
    case NWSM_OPEN_READ_DENY_WRITE:
      vrk_log(3500, "SetOpenModeForBackup: Open mode with NWSM_OPEN_READ_DENY_WRITE");
      break;
    case NWSM_USE_LOCK_MODE_IF_DW_FAILS:
      vrk_log(3500, "SetOpenModeForBackup: Open mode with NWSM_USE_LOCK_MODE_IF_DW_FAILS");
      break;
    case NWSM_NO_LOCK_NO_PROTECTION:
      vrk_log(3500, "SetOpenModeForBackup: Open mode with NWSM_NO_LOCK_NO_PROTECTION");
      break;
    case NWSM_OPEN_READ_ONLY:
      vrk_log(3500, "SetOpenModeForBackup: Open mode with NWSM_OPEN_READ_ONLY");
      break;
    default:
      vrk_log(3500, "SetOpenModeForBackup: ATTENTION: Unknown open mode for backup [%d]", (int)mode);
      break;
  }

  char option[NWSM_MAX_STRING_LEN];
  if (spGlobal->iLogLevel >= 4) {
    trace("%l4 TSA specific open mode options:");
    for (UINT8 n = 0; n < 24; ++n) {
      option[0] = '\0';
      UINT32 bit = 0x100u << n;
      if (NWSMTSGetOpenModeOptionString(sessionInfo->connection, n, option) != 0) break;
      trace("%l4   %-2d: 0X%04X [%s]", (int)n, (unsigned)bit, option);
      if (option[0] == '\0') trace("%l4    unsupported open mode %-2d: 0X%04X", (int)n, (unsigned)bit);
    }
  }

  if (spGlobal->sOptions.iPreserveAccessTime) {
    option[0] = '\0';
    if (NWSMTSGetOpenModeOptionString(sessionInfo->connection, 10, option) != 0) {
      vrk_log(2500, "ATTENTION: TSA specific open mode NWSM_PRESERVE_ACCESS_TIME (%d) not supported!", 10);
    } else {
      vrk_log(3500, "SetOpenModeForBackup: Open mode with NWSM_PRESERVE_ACCESS_TIME");
      vrk_log(3500, "SetOpenModeForBackup: > May cause locking problem on some OES!");
      mode |= NWSM_PRESERVE_ACCESS_TIME;
    }
  } else {
    trace("%l4 SetOpenModeForBackup: Do not set NWSM_PRESERVE_ACCESS_TIME");
  }
  trace("%l4 SetOpenModeForBackup: open mode 0X%X", (unsigned)mode);
  *openModeForBackup = mode;
}

NWBOOLEAN check_archive_bit_support(SESSION_INFORMATION *sessionInfo) {
  UINT32 backupOptions = 0, restoreOptions = 0;
  if (NWSMTSGetUnsupportedOptions(sessionInfo->connection, &backupOptions, &restoreOptions) != 0)
    return 1;
  if (backupOptions == 0) {
    trace("%l4 NWSMTSGetUnsupportedOptions returned all Backup Options supported");
    if (restoreOptions != 0)
      trace("%l4 NWSMTSGetUnsupportedOptions returned unsupportedRestoreOptions 0X%04X",
            (unsigned)restoreOptions);
    return 1;
  }
  trace("%l4 NWSMTSGetUnsupportedOptions returned unsupportedBackupOptions 0X%04X, unsupportedRestoreOptions 0X%04X",
        (unsigned)backupOptions, (unsigned)restoreOptions);
  if (backupOptions & NWSM_BACK_ACCESS_DATE_TIME) vrk_log(3500, "TSA does not support ACCESS_DATE_TIME");
  if (backupOptions & NWSM_BACK_CREATE_DATE_TIME) vrk_log(3500, "TSA does not support CREATE_DATE_TIME");
  if (backupOptions & NWSM_BACK_ARCHIVE_DATE_TIME)
    vrk_log(3500, "TSA does not support NWSM_BACK_ARCHIVE_DATE_TIME");
  if (backupOptions & NWSM_BACK_MODIFY_FLAG) vrk_log(3500, "TSA does not support NWSM_BACK_MODIFY_FLAG");
  if (backupOptions & (NWSM_BACK_ARCHIVE_DATE_TIME | NWSM_BACK_MODIFY_FLAG)) {
    vrk_log(3500, "TSA does not support NWSMTSSetArchiveStatus");
    return 0;
  }
  return 1;
}
