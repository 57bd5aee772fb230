/* The storage-management calls (SMDR, TSA, names, scan, backup, restore,
   time, UTF-8) that the engine makes; C linkage, completion codes of smserrors.h. */
#ifndef VRK_SMS_SMSAPI_H
#define VRK_SMS_SMSAPI_H

#include "sms/smsdefs.h"
#include "sms/smserrors.h"
#include "sms/smstypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Discovery. Lists are freed with NWSMFreeNameList; the first entry is the default. */
CCODE NWSMListSMDRs(const char *pattern, NWSM_NAME_LIST **list);
CCODE NWSMListTSAs(const char *pattern, NWSM_NAME_LIST **list);
CCODE NWSMTSListTargetServices(UINT32 connection, const char *pattern, NWSM_NAME_LIST **list);
CCODE NWSMFreeNameList(NWSM_NAME_LIST **list);

/* Connection. Passwords are length-preceded: a 16-bit length, then the bytes. */
CCODE NWSMConnectToTSA(const char *tsaName, UINT32 *connection);
CCODE NWSMTSConnectToTargetService(UINT32 *connection, const char *targetServiceName,
                                   const char *userName, const void *password);
typedef CCODE (*NWSMTSConnectToTargetServiceEx_t)(UINT32 *connection, const char *targetServiceName,
                                                  const char *userName, const void *password,
                                                  UINT32 authenticationType);
/* May be NULL (a world without the extended login); test before calling. */
extern NWSMTSConnectToTargetServiceEx_t NWSMTSConnectToTargetServiceEx;
CCODE NWSMTSReleaseTargetService(UINT32 *connection);
CCODE NWSMReleaseTSA(UINT32 *connection);

/* Information. Text outputs without a size hold at most the NWSM_MAX_* bounds. */
CCODE NWSMTSGetTargetServiceAPIVersion(UINT32 connection, UINT16 *major, UINT16 *minor);
CCODE NWSMTSGetSupportedNameTypes(UINT32 connection, UINT32 *nameTypes);
CCODE NWSMGetRequestorVersionInfo(UINT32 connection, NWSM_MODULE_VERSION_INFO *info);
CCODE NWSMGetResponderVersionInfo(UINT32 connection, NWSM_MODULE_VERSION_INFO *info);
CCODE NWSMGetSMSModuleVersionInfo(UINT32 connection, NWSM_MODULE_VERSION_INFO *info);
CCODE NWSMTSGetUnsupportedOptions(UINT32 connection, UINT32 *unsupportedBackupOptions,
                                  UINT32 *unsupportedRestoreOptions);
CCODE NWSMTSGetOpenModeOptionString(UINT32 connection, UINT8 optionNumber, char *optionString);
CCODE NWSMTSGetTargetScanTypeString(UINT32 connection, UINT8 typeNumber, char *scanTypeString,
                                    UINT32 *required, UINT32 *disallowed);
CCODE NWSMTSGetTargetSelectionTypeStr(UINT32 connection, UINT8 typeNumber, char *includeText,
                                      char *excludeText);
CCODE NWSMConvertError(UINT32 connection, CCODE code, char *text);

/* Resources and name spaces. Sequences start at 0 or 0xFFFFFFFF. */
CCODE NWSMTSListTSResources(UINT32 connection, NWSM_NAME_LIST **list);
CCODE NWSMTSScanTargetServiceResource(UINT32 connection, UINT32 *sequence, char *resourceName);
CCODE NWSMTSGetTargetResourceInfo(UINT32 connection, const char *resourceName, UINT32 *blockSize,
                                  UINT32 *totalBlocks, UINT32 *freeBlocks,
                                  NWBOOLEAN *resourceIsRemovable, UINT32 *purgeableBlocks,
                                  UINT32 *notYetPurgeableBlocks, UINT32 *migratedSectors,
                                  UINT32 *precompressedSectors, UINT32 *compressedSectors);
/* info NULL: *infoSize receives the size needed. */
CCODE NWSMTSGetTargetResourceInfoEx(UINT32 connection, const char *resourceName, UINT32 *infoSize,
                                    BUFFERPTR info);
CCODE NWSMGetExtension(const BUFFER *info, UINT32 infoSize, UINT32 extensionTag, void **extension,
                       UINT32 *extensionHandle);
CCODE NWSMCloseExtension(UINT32 *extensionHandle);
CCODE NWSMTSListSupportedNameSpaces(UINT32 connection, const char *resourceName,
                                    NWSM_NAME_LIST **list);
CCODE NWSMTSScanSupportedNameSpaces(UINT32 connection, UINT32 *sequence, const char *resourceName,
                                    UINT32 *nameSpaceType, char *nameSpaceName);
/* Separators are malloc'd STRING_BUFFERs, released with NWSMFreeString. */
CCODE NWSMTSGetNameSpaceTypeInfo(UINT32 connection, UINT32 nameSpaceType, NWBOOLEAN *reverseOrder,
                                 STRING_BUFFER **firstSeparator, STRING_BUFFER **nextSeparator);
void NWSMFreeString(void *string);

/* Names. Put calls (re)build *list; Get calls hand out malloc'd copies. */
CCODE NWSMPutOneName(NWSM_DATA_SET_NAME_LIST **list, UINT32 nameSpaceType, UINT32 selectionType,
                     NWBOOLEAN reverseOrder, const char *firstSeparator, const char *nextSeparator,
                     const char *name);
CCODE NWSMPutFirstName(NWSM_DATA_SET_NAME_LIST **list, UINT32 nameSpaceType, UINT32 selectionType,
                       NWBOOLEAN reverseOrder, const char *firstSeparator,
                       const char *nextSeparator, const char *name, UINT32 *nameHandle);
CCODE NWSMPutNextName(NWSM_DATA_SET_NAME_LIST **list, UINT32 *nameHandle, UINT32 nameSpaceType,
                      UINT32 selectionType, NWBOOLEAN reverseOrder, const char *firstSeparator,
                      const char *nextSeparator, const char *name);
CCODE NWSMCloseName(UINT32 *nameHandle);
CCODE NWSMGetOneName(const NWSM_DATA_SET_NAME_LIST *list, NWSM_DATA_SET_NAME *name);
CCODE NWSMGetFirstName(const NWSM_DATA_SET_NAME_LIST *list, NWSM_DATA_SET_NAME *name,
                       UINT32 *nameHandle);
CCODE NWSMGetNextName(UINT32 *nameHandle, NWSM_DATA_SET_NAME *name);
CCODE NWSMGetDataSetName(const NWSM_DATA_SET_NAME_LIST *list, UINT32 nameSpaceType,
                         NWSM_DATA_SET_NAME *name);
void NWSMFreeDataSetName(NWSM_DATA_SET_NAME *name);
CCODE NWSMTSSeparateDataSetName(UINT32 connection, UINT32 nameSpaceType, const char *dataSetName,
                                char **parentDataSetName, char **childDataSetName);
CCODE NWSMCatStrings(UINT8 numberOfStrings, char **out, ...);
CCODE NWSMTSFixDataSetName(UINT32 connection, const char *dataSetName, UINT32 nameSpaceType,
                           NWBOOLEAN isParent, NWBOOLEAN wildAllowed, char **newDataSetName);

/* Scan. *scanInformation and *dataSetNames belong to the scan: the next call
   and the end release what the caller's pointers then hold. */
CCODE NWSMTSScanDataSetBegin(UINT32 connection, const NWSM_DATA_SET_NAME_LIST *resourceName,
                             const NWSM_SCAN_CONTROL *scanControl,
                             const NWSM_SELECTION_LIST *selectionList, UINT32 *sequence,
                             NWSM_SCAN_INFORMATION **scanInformation,
                             NWSM_DATA_SET_NAME_LIST **dataSetNames);
CCODE NWSMTSScanNextDataSet(UINT32 connection, UINT32 *sequence,
                            NWSM_SCAN_INFORMATION **scanInformation,
                            NWSM_DATA_SET_NAME_LIST **dataSetNames);
typedef CCODE (*NWSMTSScanDataSetContinue_t)(UINT32 connection,
                                             const NWSM_DATA_SET_NAME_LIST *resourceName,
                                             const NWSM_SCAN_CONTROL *scanControl,
                                             const NWSM_SELECTION_LIST *selectionList,
                                             const NWSM_DATA_SET_NAME_LIST *resumeName,
                                             UINT32 *sequence,
                                             NWSM_SCAN_INFORMATION **scanInformation,
                                             NWSM_DATA_SET_NAME_LIST **dataSetNames);
/* May be NULL (a world without resumable scans); test before calling. */
extern NWSMTSScanDataSetContinue_t NWSMTSScanDataSetContinue;
CCODE NWSMTSScanDataSetEnd(UINT32 connection, UINT32 *sequence,
                           NWSM_SCAN_INFORMATION **scanInformation,
                           NWSM_DATA_SET_NAME_LIST **dataSetNames);

/* Backup. */
CCODE NWSMTSOpenDataSetForBackup(UINT32 connection, UINT32 sequence, UINT32 openMode,
                                 UINT32 *dataSetHandle);
CCODE NWSMTSReadDataSet(UINT32 connection, UINT32 dataSetHandle, UINT32 bytesToRead,
                        UINT32 *bytesRead, BUFFERPTR buffer);
CCODE NWSMTSSetArchiveStatus(UINT32 connection, UINT32 dataSetHandle, UINT32 setFlag,
                             UINT32 archivedDateAndTime);
CCODE NWSMTSCloseDataSet(UINT32 connection, UINT32 *dataSetHandle);

/* Restore. */
CCODE NWSMTSSetRestoreOptions(UINT32 connection, NWBOOLEAN checkCRC,
                              NWBOOLEAN dontCheckSelectionList,
                              const NWSM_SELECTION_LIST *selectionList);
CCODE NWSMTSOpenDataSetForRestore(UINT32 connection, UINT32 parentHandle,
                                  const NWSM_DATA_SET_NAME_LIST *newDataSetName, UINT32 mode,
                                  UINT32 *dataSetHandle);
CCODE NWSMTSWriteDataSet(UINT32 connection, UINT32 dataSetHandle, UINT32 bytesToWrite,
                         const BUFFER *buffer);
CCODE NWSMTSDeleteDataSet(UINT32 connection, UINT32 sequence);
CCODE NWSMTSRenameDataSet(UINT32 connection, UINT32 sequence, UINT32 nameSpaceType,
                          const char *newDataSetName);

/* Packed DOS date and time: date in the high word, time (2-second steps) in
   the low word; 0 for a date outside 1980..2107. */
UINT32 NWSMPackDateTime(UINT16 year, UINT16 month, UINT16 day, UINT16 hour, UINT16 minute,
                        UINT16 second);
void NWSMUnPackDateTime(UINT32 packed, UINT16 *year, UINT16 *month, UINT16 *day, UINT16 *hour,
                        UINT16 *minute, UINT16 *second);

/* UTF-8. out NULL: *outLength receives the size needed; otherwise *outLength
   is the capacity on entry and the bytes written on return. */
CCODE SMloc2utf8(char *out, UINT32 *outLength, const char *in, UINT32 inLength, UINT32 flags);
CCODE SMutf82loc(char *out, UINT32 *outLength, const char *in, UINT32 inLength, UINT32 flags);
char *SMutf8chr(const char *string, UINT32 codePoint);
int SMutf8cmp(const char *a, const char *b);
int SMutf8nicmp(const char *a, const char *b, UINT32 length);

/* Checks a name list that arrived from outside (a stored record) against the
   number of bytes that really hold it: 0, NWSMUT_INVALID_LIST when its size
   field or any entry disagrees, NWSMUT_INVALID_PARAMETER for NULL or fewer
   than 2 bytes. Use it before any other call reads such a list. */
CCODE vrk_sms_check_name_list(const NWSM_DATA_SET_NAME_LIST *list, UINT32 realSize);

/* The stand-in's own control: load the world from a file (NULL: the file
   that VRK_SMS_WORLD names, else the default world), dropping every open
   connection and resetting the call counters. */
CCODE vrk_sms_load_world(const char *path);

/* Removes the temporary files of the restores not yet finished and gives
   the directories they hold open the owner, mode and times their streams
   named. Uses only async-signal-safe calls: for a signal handler before the
   process ends. */
void vrk_sms_discard_unfinished(void);

/* The restore of the connection ends: the directories whose owner, mode and
   times wait for their subtrees get them now (as the release would). */
void vrk_sms_finish_restore(UINT32 connection);

/* The restore of the connection was stopped before its end (SIGINT): the
   kept directories get their owner, mode and times as in
   vrk_sms_finish_restore, and the notes of those it made stay, as after
   SIGTERM, so that the next restore finishes them. */
void vrk_sms_stop_restore(UINT32 connection);

/* A directory of the connection's restore whose owner, mode or times could
   not be set: 1 with its name and the reason in *name and *why (to be
   released with free), 0 when there is none left. Each is handed out once. */
int vrk_sms_failed_directory(UINT32 connection, char **name, char **why);

/* The item that the last NWSMTSScanNextDataSet of the scan left out, as it
   answered NWSMUT_LIST_TOO_LARGE: 1 with its full name in *name (to be
   released with free), 0 when there is none. Each is handed out once. */
int vrk_sms_left_out(UINT32 connection, UINT32 sequence, char **name);

/* The backup about to run belongs to a job (job: a name that stands for it,
   its markers' path; NULL or empty: no job in particular) at a level (0
   FULL, 1 INCREMENTAL, 2 DIFFERENTIAL, 3 SINCE, 4 COPY). The job keeps an
   archive state of its own, and the records this run makes hide no change
   until the run commits. */
void vrk_sms_archive_job(const char *job, int level);

/* The job's run committed its markers: its records now hide what they
   saved from the job's later incremental and differential scans. */
void vrk_sms_archive_commit(void);

#ifdef __cplusplus
}
#endif

#endif
