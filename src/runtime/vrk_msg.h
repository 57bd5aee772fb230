// The message catalogue: one row per numbered message with its level and
// format text, ascending by code and ending with the row 9999.
#ifndef VRK_RUNTIME_VRK_MSG_H
#define VRK_RUNTIME_VRK_MSG_H

#include <stddef.h>

typedef enum _eMsgLevel {
  E_UNKNOWN = 0,
  E_ERROR = 1,
  E_WARNING = 2,
  E_INFO = 3,
  E_TRACE = 4
} _eMsgLevel;

typedef struct _sMessage {
  int iMsgID;
  _eMsgLevel eMsgLevel;
  const char *cpMsgText;
} _sMessage;

#define VRK_MSG_END_CODE 9999

extern const _sMessage sMessage[];
extern const size_t sMessageCount;  // rows including the end row

// First row whose code is iMessageCode, or the end row 9999.
const _sMessage *vrk_msg_lookup(int iMessageCode);

#endif
