/* Plain C types of the storage-management interface: handles, name lists,
   scan control and scan information, name records and version records. */
#ifndef VRK_SMS_SMSTYPES_H
#define VRK_SMS_SMSTYPES_H

#include <stddef.h>
#include <stdint.h>

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int16_t NWBOOLEAN;   /* 16-bit truth value */
typedef uint32_t CCODE;      /* completion code, 0 = success */
typedef uint8_t BUFFER;
typedef BUFFER *BUFFERPTR;

/* Name lists (data-set name lists and selection lists) are flat byte buffers
   that begin with a little-endian 16-bit size n of the bytes that follow;
   the whole list is n + 2 bytes. The layout is frozen (see smsdefs.h and
   docs/sms-standin.md); lists are allocated with malloc and released with
   free. Only the first two bytes are declared here. */
typedef struct NWSM_DATA_SET_NAME_LIST {
  UINT8 listSize[2];
} NWSM_DATA_SET_NAME_LIST;
typedef NWSM_DATA_SET_NAME_LIST NWSM_SELECTION_LIST;

/* Total byte size of a name list: its 16-bit size field plus 2. */
#define NWSM_LIST_TOTAL_SIZE(list)                                   \
  ((size_t)((const UINT8 *)(list))[0] |                              \
   ((size_t)((const UINT8 *)(list))[1] << 8)) + 2u

/* A length-preceded text: size bytes of text, then a terminating NUL. */
typedef struct STRING_BUFFER {
  UINT16 size;
  char string[1];
} STRING_BUFFER;

/* One entry of a name list, as a name lookup hands it to the caller: name
   and separators are malloc'd copies that the caller releases with free. */
typedef struct NWSM_DATA_SET_NAME {
  UINT32 nameSpaceType;
  UINT32 selectionType;
  NWBOOLEAN reverseOrder;
  UINT16 nameLength;
  char *name;
  char *firstSeparator;
  char *nextSeparator;
} NWSM_DATA_SET_NAME;

/* Plain linked list of names (SMDRs, TSAs, target services, resources, name
   spaces). Every node and every name is allocated with malloc, so nodes that
   a caller appends with malloc are freed by NWSMFreeNameList too. `type` is
   the name-space number in name-space lists and 0 elsewhere. */
typedef struct NWSM_NAME_LIST {
  struct NWSM_NAME_LIST *next;
  char *name;
  UINT32 type;
} NWSM_NAME_LIST;

/* Scan parameters handed to NWSMTSScanDataSetBegin. Dates are packed DOS
   date and time; 0 leaves a bound open. */
typedef struct NWSM_SCAN_CONTROL {
  UINT16 bufferSize;
  UINT16 scanControlSize;
  UINT32 scanType;
  UINT32 firstAccessDateAndTime;
  UINT32 lastAccessDateAndTime;
  UINT32 firstCreateDateAndTime;
  UINT32 lastCreateDateAndTime;
  UINT32 firstModifiedDateAndTime;
  UINT32 lastModifiedDateAndTime;
  UINT32 firstArchivedDateAndTime;
  UINT32 lastArchivedDateAndTime;
  UINT8 returnChildTerminalNodeNameOnly;
  UINT8 parentsOnly;
  UINT8 childrenOnly;
  UINT8 createSkippedDataSetsFile;
  UINT8 generateCRC;
  UINT8 returnNFSHardLinksInDataSetName;
  UINT8 reserved[6];
  UINT32 scanChildNameSpaceType;
  UINT32 returnNameSpaceType;
  UINT8 callScanFilter;
  UINT16 otherInformationSize;
} NWSM_SCAN_CONTROL;

/* What the scan reports about the current data set. */
typedef struct NWSM_SCAN_INFORMATION {
  UINT16 bufferSize;
  UINT16 scanInformationSize;
  UINT32 attributes;              /* NWSM_ATTR_* bits */
  UINT32 creatorID;               /* owner user id */
  UINT32 creatorNameSpaceNumber;
  UINT64 primaryDataStreamSize;   /* file bytes, link target bytes, 0 for a directory */
  UINT64 totalStreamsDataSize;    /* bytes of the whole data-set stream */
  NWBOOLEAN modifiedFlag;
  NWBOOLEAN deletedFlag;
  NWBOOLEAN parentFlag;
  UINT32 accessDateAndTime;
  UINT32 createDateAndTime;
  UINT32 modifiedDateAndTime;
  UINT32 archivedDateAndTime;
} NWSM_SCAN_INFORMATION;

/* Module and operating-system version of an SMS component. */
typedef struct NWSM_MODULE_VERSION_INFO {
  char moduleFileName[64];
  UINT16 moduleMajorVersion;
  UINT16 moduleMinorVersion;
  UINT16 moduleRevisionLevel;
  char OSName[64];
  UINT16 OSMajorVersion;
  UINT16 OSMinorVersion;
  UINT16 OSRevisionLevel;
} NWSM_MODULE_VERSION_INFO;

#endif
