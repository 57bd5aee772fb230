/* Constants of the storage-management interface: name spaces, selection,
   scan, open and restore modes, archive flags, login types and text bounds. */
#ifndef VRK_SMS_SMSDEFS_H
#define VRK_SMS_SMSDEFS_H

/* Name spaces: local forms and their UTF-8 forms (+256). */
#define DOSNameSpace 0u
#define NFSNameSpace 2u
#define LONGNameSpace 4u
#define NWSM_UTF8_NAME_SPACE_OFFSET 256u
#define DOSNameSpaceUtf8Type 256u
#define NFSNameSpaceUtf8Type 258u
#define LONGNameSpaceUtf8Type 260u
#define NWSM_DIRECTORY_NAME_SPACE 0xFFFFFFFCu
#define NWSM_TSA_DEFINED_RESOURCE_TYPE 0xFFFFFFFEu
/* returnNameSpaceType of the scan control: every name space, local or UTF-8. */
#define NWSM_ALL_NAME_SPACES 0xFFFFFFFFu
#define NWSM_ALL_NAME_SPACES_UTF8 0xFFFFFFFAu

/* Name types that NWSMTSGetSupportedNameTypes reports. */
#define NWSM_NAME_TYPE_MBCS 1u
#define NWSM_NAME_TYPE_UTF8 2u

/* Selection types: an exclude is 2^n, the matching include 2^n + 1. */
#define NWSM_TSA_DEFINED_RESOURCE_EXC 2u
#define NWSM_TSA_DEFINED_RESOURCE_INC 3u
#define NWSM_PARENT_TO_BE_EXCLUDED 4u
#define NWSM_PARENT_TO_BE_INCLUDED 5u
#define NWSM_CHILD_TO_BE_EXCLUDED 8u
#define NWSM_CHILD_TO_BE_INCLUDED 9u
#define NWSM_EXCLUDE_CHILD_BY_FULL_NAME 16u
#define NWSM_INCLUDE_CHILD_BY_FULL_NAME 17u

/* Scan type bits. Scan type number n (NWSMTSGetTargetScanTypeString) is the
   bit 1 << n. */
#define NWSM_DO_NOT_TRAVERSE 0x1u
#define NWSM_EXCLUDE_ARCHIVED_CHILDREN 0x2u
#define NWSM_EXCLUDE_MIGRATED_CHILD 0x2000u
#define NWSM_EXPAND_COMPRESSED_DATA 0x4000u
#define NWSM_OR_DATE_TIME_FILTER 0x800000u

/* Open modes for backup (low byte) and the TSA-specific option bits
   (option number n is 0x100 << n). */
#define NWSM_OPEN_READ_DENY_WRITE 0u
#define NWSM_USE_LOCK_MODE_IF_DW_FAILS 1u
#define NWSM_NO_LOCK_NO_PROTECTION 2u
#define NWSM_OPEN_READ_ONLY 3u
#define NWSM_OPEN_MODE_MASK 0xFFu
#define NWSM_PRESERVE_ACCESS_TIME 0x40000u

/* Open modes for restore (low byte) and their option bits. */
#define NWSM_OVERWRITE_DATA_SET 1u
#define NWSM_DO_NOT_OVERWRITE_CHILD 2u
#define NWSM_DO_NOT_OVERWRITE_PARENT 3u
#define NWSM_NO_DATA_STREAMS 0x100u
#define NWSM_NO_PARENT_TRUSTEES 0x400u
#define NWSM_NO_CHILD_TRUSTEES 0x800u
#define NWSM_NO_VOLUME_RESTRICTIONS 0x1000u
#define NWSM_NO_DISK_SPACE_RESTRICTIONS 0x2000u
#define NWSM_INCLUDE_MIGRATED_DATA 0x4000u

/* NWSMTSSetArchiveStatus flags. */
#define NWSM_CLEAR_MODIFY_FLAG 0x1u
#define NWSM_SET_ARCHIVE_DATE_AND_TIME 0x2u

/* Bits of NWSMTSGetUnsupportedOptions. */
#define NWSM_BACK_ACCESS_DATE_TIME 0x01u
#define NWSM_BACK_CREATE_DATE_TIME 0x02u
#define NWSM_BACK_ARCHIVE_DATE_TIME 0x08u
#define NWSM_BACK_MODIFY_FLAG 0x20u

/* Attributes of the scan information. */
#define NWSM_ATTR_READ_ONLY 0x1u
#define NWSM_ATTR_SUBDIRECTORY 0x10u
#define NWSM_ATTR_SYMBOLIC_LINK 0x100u
#define NWSM_ATTR_MODIFIED 0x40000000u /* bit 30: modified since archived */

/* Login types of NWSMTSConnectToTargetServiceEx. */
#define NWSM_AUTH_RAW_DATA 1u
#define NWSM_AUTH_UTF8_DATA 4u

/* Extension tags of the NWSMTSGetTargetResourceInfoEx buffer. */
#define NWSM_RESOURCE_EXT_NAME 1u
#define NWSM_RESOURCE_EXT_MOUNT_TYPE 3u

/* Bounds of text outputs that have no size argument (NUL included). */
#define NWSM_MAX_STRING_LEN 256u     /* option, scan-type, selection-type texts */
#define NWSM_MAX_ERROR_TEXT_LEN 256u /* NWSMConvertError */
#define NWSM_MAX_RESOURCE_LEN 256u   /* NWSMTSScanTargetServiceResource */
#define NWSM_MAX_NAME_SPACE_LEN 64u  /* NWSMTSScanSupportedNameSpaces */
#define NWSM_MAX_TARGET_NAME_LEN 256u

/* Name lists: the 16-bit size field may not pass 65525, so that the list and
   the two dates in front of it in a stored record still fit 16 bits. */
#define NWSM_MAX_NAME_LIST_SIZE 65525u
#define NWSM_NAME_LIST_SIGNATURE 0x4Eu /* 'N' */
#define NWSM_NAME_LIST_VERSION 1u

/* Data-set streams ("sidf"): version 1 of the stand-in's own format. */
#define NWSM_SIDF_VERSION 1u

#endif
