// Completion of the -O DATA argument: fields given as a single dot are
// filled from the global client state.
#include "client/vrk_dataarg.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "client/vrk_items.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"

namespace {

// Positions of the DATA argument that a dot can stand for.
const int kFilledFields = 6;
// Fields of the DATA argument that are read.
const int kMaxFields = 10;

const char *or_empty(const char *cp) { return cp != nullptr ? cp : ""; }

// The value a dot at position iPos stands for.
std::string field_value(int iPos) {
  const _sSMSLocal &sms = spGlobal->sSMS;
  const bool bBackup = spGlobal->eOPERATION == BACKUP || spGlobal->eOPERATION == PUT;
  char buf[64];
  switch (iPos) {
    case 0:
      return or_empty(sms.cpSaveset);
    case 1:
      if (bBackup) return or_empty(sms.cpInfo);
      snprintf(buf, sizeof(buf), "%.0f", sms.dOffset);
      return buf;
    case 2:
      return bBackup ? or_empty(sms.cpInter) : or_empty(sms.cpDATAFlags);
    case 3:
      snprintf(buf, sizeof(buf), "%llu", static_cast<unsigned long long>(sms.ulTapeID));
      return buf;
    case 4:
      if (bBackup) return or_empty(sms.cpTapeLabel);
      snprintf(buf, sizeof(buf), "%llu", static_cast<unsigned long long>(sms.ulSegmentNumber));
      return buf;
    case 5:
      if (!bBackup) return or_empty(sms.cpInter);
      snprintf(buf, sizeof(buf), "%d", sms.iTCPBufSize);
      return buf;
    default:
      return ".";
  }
}

}  // namespace

int vrk_update_dataarg(void) {
  char *szData = spGlobal->szDATAarg;
  // At most kMaxFields fields; text behind the last of them is dropped.
  std::vector<char *> cpItem(kMaxFields + 2, nullptr);
  int iCount = vrk_parse_item(cpItem.data(), szData, ':', kMaxFields);
  bool bOk = iCount >= 1;
  if (iCount > kMaxFields) iCount = kMaxFields;

  std::string text;
  for (int i = 0; bOk && i < iCount; ++i) {
    const char *field = cpItem[static_cast<size_t>(i)];
    if (field == nullptr) {
      bOk = false;
      break;
    }
    if (i < kFilledFields && strcmp(field, ".") == 0)
      text += field_value(i);
    else
      text += field;
    // A ':' follows each of the first five fields, also the last one given;
    // the fields from the sixth on follow one another without one.
    if (i < kFilledFields - 1) text += ':';
  }
  for (char *cp : cpItem) free(cp);

  if (!bOk) {
    trace("%l0 ERROR: Can't complete the DATA argument [%s]", szData);
    return -1;
  }
  if (text.size() >= VRK_PATH_MAX) {
    trace("%l0 ERROR: The completed DATA argument is longer than %d characters: [%s]",
          VRK_PATH_MAX - 1, szData);
    return -1;
  }
  strlcpy(szData, text.c_str(), VRK_PATH_MAX);
  return 0;
}
