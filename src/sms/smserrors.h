/* Completion codes of the storage-management interface, shared by the
   stand-in and the engine: 32-bit, 0 for success. */
#ifndef VRK_SMS_SMSERRORS_H
#define VRK_SMS_SMSERRORS_H

#define NWSM_SUCCESS 0x00000000u

/* Target service agent (TSA) codes. */
#define NWSMTS_INVALID_TSA 0xFFFDFFBAu             /* "Invalid or inactive TSA specified" */
#define NWSMTS_LOGIN_DENIED 0xFFFDFFD7u            /* "Login denied" */
#define NWSMTS_INVALID_PARAMETER 0xFFFDFFDDu       /* a parameter is NULL or invalid */
#define NWSMTS_OPTION_NOT_SUPPORTED 0xFFFDFFADu    /* a selected option is not supported */
#define NWSMTS_UNSUPPORTED_FUNCTION 0xFFFDFFB9u    /* operation not supported */
#define NWSMTS_CONNECTION_LOST 0xFFFDFFAFu         /* connection lost (recovery) */
#define NWSMTS_CLUSTER_FAIL_OVER 0xFFFDFFC4u       /* resource moved (recovery) */
#define NWSMTS_NO_MORE_DATA_SETS 0xFFFDFFD1u       /* no (further) data set */
#define NWSMTS_INVALID_PATH 0xFFFDFFDCu            /* the scanned path does not exist or is refused */
#define NWSMTS_SCAN_TYPE_NOT_SUPPORTED 0xFFFDFFBFu
#define NWSMTS_NO_NAME_SPACES 0xFFFDFFC9u
#define NWSMTS_INVALID_CONNECTION_HANDLE 0xFFFDFFE7u
#define NWSMTS_INVALID_SELECTION_TYPE 0xFFFDFFD9u
#define NWSMTS_NO_SUCH_PROPERTY 0xFFFDFFCEu
#define NWSMTS_SET_ARCHIVE_STATUS_ERR 0xFFFDFFBDu
#define NWSMTS_DATA_SET_IN_USE 0xFFFDFFF5u
#define NWSMTS_VALID_PARENT_HANDLE 0xFFFDFFB8u     /* parent exists, handle good for its children */
#define NWSMTS_DATA_SET_EXCLUDED 0xFFFDFFF7u
#define NWSMTS_DATA_SET_ALREADY_EXISTS 0xFFFDFFF8u
#define NWSMTS_CREATE_ERROR 0xFFFDFFF9u
/* The stand-in's own TSA codes. */
#define NWSMTS_OUT_OF_MEMORY 0xFFFDFFFEu
#define NWSMTS_INVALID_DATA_SET_HANDLE 0xFFFDFFFDu
#define NWSMTS_INVALID_SEQUENCE_NUMBER 0xFFFDFFDAu
#define NWSMTS_NO_MORE_NAMES 0xFFFDFFD0u           /* end of a resource or name-space scan */
#define NWSMTS_NOT_LOGGED_IN 0xFFFDFFD8u
#define NWSMTS_OPEN_ERROR 0xFFFDFFF0u
#define NWSMTS_READ_ERROR 0xFFFDFFEBu
#define NWSMTS_DATA_SET_CHANGED 0xFFFDFFEAu        /* the data set changed while it was read */
#define NWSMTS_WRITE_ERROR 0xFFFDFFE4u
#define NWSMTS_INVALID_DATA 0xFFFDFFE3u            /* corrupt or incomplete data-set stream */
#define NWSMTS_DELETE_ERROR 0xFFFDFFEEu
#define NWSMTS_RENAME_ERROR 0xFFFDFFEDu
#define NWSMTS_BUFFER_TOO_SMALL 0xFFFDFFE2u
#define NWSMTS_INVALID_NAME 0xFFFDFFDBu            /* a name with "..", empty components or NUL */

/* Data requester (SMDR) codes. */
#define NWSMDR_NAME_DOES_NOT_EXIST 0xFFFEFFE8u     /* "The specified name does not exist or is invalid. " */
#define NWSMDR_NO_TEXT 0xFFFEFFFFu                 /* NWSMConvertError: no text for the code */
#define NWSMDR_UNSUPPORTED_FUNCTION 0xFFFEFFFBu    /* e.g. the extended login */
#define NWSMDR_OUT_OF_MEMORY 0xFFFEFFFDu
#define NWSMDR_CONNECTION_LOST_1 0xFFFEFFCCu       /* recovery codes */
#define NWSMDR_CONNECTION_LOST_2 0xFFFEFFCDu
#define NWSMDR_CONNECTION_LOST_3 0xFFFEFFCEu
#define NWSMDR_CONNECTION_LOST_4 0xFFFEFFFCu
#define NWSMDR_CONNECTION_LOST_5 0xFFFEFFB1u
#define NWSMDR_WORLD_ERROR 0xFFFEFFF0u             /* the stand-in's world file could not be used */
#define NWSMDR_INVALID_PARAMETER 0xFFFEFFF8u

/* Utility-library codes (name lists, strings, UTF-8). */
#define NWSMUT_NO_MORE_NAMES 0xFFFBFFFCu           /* no further entry, or name space not in the list */
#define NWSMUT_LIST_EMPTY 0xFFFBFFFDu
#define NWSMUT_INVALID_PARAMETER 0xFFFBFFFAu
#define NWSMUT_LIST_TOO_LARGE 0xFFFBFFF9u          /* a list would pass NWSM_MAX_NAME_LIST_SIZE */
#define NWSMUT_INVALID_LIST 0xFFFBFFF8u            /* malformed name list */
#define NWSMUT_OUT_OF_MEMORY 0xFFFBFFF7u
#define NWSMUT_INVALID_HANDLE 0xFFFBFFF6u
#define NWSMUT_CONVERSION_ERROR 0xFFFBFFF5u
#define NWSMUT_BUFFER_OVERFLOW 0xFFFBFFF4u
/* 0xFFFBFFFF is reserved for the engine's own general failure. */

#endif
