// Texts of the storage client's return codes, the description of a failed
// call with the client's last error, and the trace hook into the job log.
#include <string.h>

#include <vector>

#include "client/vrk_io.h"
#include "runtime/strlib.h"
#include "runtime/vrk_log.h"
#include "xbsa/xbsa.h"

namespace {

struct BSAMsgTbl {
  int iCode;
  const char *cpText;
};

// Searched in order; the row with code 0 ends the table.
const BSAMsgTbl sXBSAErr[] = {
    {3, "System detected error, operation aborted."},
    {77, "Access to the requested object is not possible."},
    {4, "There was an authentication failure."},
    {78, "The supplied buffer is too small to contain the data, as specified by the accompanying size parameter."},
    {5, "The sequence of API calls is incorrect."},
    {79, "The copyld field contains an unrecognized value."},
    {52, "The BSA_DataBlock32 parameter contained an inconsistent value."},
    {80, "An entry in environment structure is invalid or missing."},
    {6, "The handle used to associate this call with a previous BSAInit() call is invalid."},
    {81, "The BSA_ObjectDescriptor was invalid."},
    {83, "The BSA_QueryDescriptor was invalid."},
    {11, "The value specified for vote is invalid."},
    {17, "No object matched the specified predicate."},
    {18, "No more data is available."},
    {85, "A NULL pointer was encountered in one of the arguments."},
    {26, "There is no copy of the requested object."},
    {0, "The function succeeded."},
};

}  // namespace

const char *XBSA_strerror(int iBSACode) {
  const BSAMsgTbl *row = sXBSAErr;
  while (row->iCode != 0 && row->iCode != iBSACode) ++row;
  return row->cpText;
}

void XBSA_trace(const char *cpMessage) { vrk_log(4000, "%s", cpMessage != nullptr ? cpMessage : ""); }

void vrk_bsa_errortext(int iBSACode, char *cpOut, size_t iSize) {
  if (cpOut == nullptr || iSize == 0) return;
  strlcpy(cpOut, XBSA_strerror(iBSACode), iSize);
  strlcat(cpOut, " ", iSize);
  size_t used = strlen(cpOut);
  if (used + 1 >= iSize) return;
  // The storage client writes its text only when it fits the room behind
  // the prefix; a longer text is fetched whole and cut.
  BSA_UInt32 room = (BSA_UInt32)(iSize - used);
  int iRc = BSAGetLastError(&room, cpOut + used);
  if (iRc == BSA_RC_BUFFER_TOO_SMALL) {
    std::vector<char> whole(65536);
    room = (BSA_UInt32)whole.size();
    iRc = BSAGetLastError(&room, whole.data());
    if (iRc == BSA_RC_SUCCESS) {
      strlcpy(cpOut + used, whole.data(), iSize - used);
      if (strlen(whole.data()) >= iSize - used && iSize - used > 4) strcpy(cpOut + iSize - 4, "...");
      return;
    }
  }
  if (iRc != BSA_RC_SUCCESS) cpOut[used] = '\0';
}
