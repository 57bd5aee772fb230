// NWSMConvertError: the text of every completion code the interface answers.
#include <stdio.h>

#include "sms/sms_state.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

struct CodeText {
  CCODE code;
  const char *text;
};

const CodeText kTexts[] = {
    {NWSMTS_INVALID_TSA, "Invalid or inactive TSA specified"},
    {NWSMTS_LOGIN_DENIED, "Login denied"},
    {NWSMTS_INVALID_PARAMETER, "One or more of the parameters are NULL or invalid"},
    {NWSMTS_OPTION_NOT_SUPPORTED, "One of the selected options is not supported by the target service"},
    {NWSMTS_UNSUPPORTED_FUNCTION, "The operation is not supported by the target service"},
    {NWSMTS_CONNECTION_LOST, "The connection to the target service was lost"},
    {NWSMTS_CLUSTER_FAIL_OVER, "The resource moved to another cluster node"},
    {NWSMTS_NO_MORE_DATA_SETS, "No more data sets"},
    {NWSMTS_INVALID_PATH, "Invalid path"},
    {NWSMTS_SCAN_TYPE_NOT_SUPPORTED, "The scan type is not supported"},
    {NWSMTS_NO_NAME_SPACES, "No name spaces"},
    {NWSMTS_INVALID_CONNECTION_HANDLE, "Invalid connection handle"},
    {NWSMTS_INVALID_SELECTION_TYPE, "Invalid selection type"},
    {NWSMTS_NO_SUCH_PROPERTY, "No such property"},
    {NWSMTS_SET_ARCHIVE_STATUS_ERR, "The archive status could not be set"},
    {NWSMTS_DATA_SET_IN_USE, "The data set is in use"},
    {NWSMTS_VALID_PARENT_HANDLE, "The parent exists; its handle is valid for its children"},
    {NWSMTS_DATA_SET_EXCLUDED, "The data set is excluded"},
    {NWSMTS_DATA_SET_ALREADY_EXISTS, "The data set already exists"},
    {NWSMTS_CREATE_ERROR, "The data set could not be created"},
    {NWSMTS_OUT_OF_MEMORY, "The target service is out of memory"},
    {NWSMTS_INVALID_DATA_SET_HANDLE, "Invalid data set handle"},
    {NWSMTS_INVALID_SEQUENCE_NUMBER, "Invalid scan sequence"},
    {NWSMTS_NO_MORE_NAMES, "No more names"},
    {NWSMTS_NOT_LOGGED_IN, "Not logged in to the target service"},
    {NWSMTS_OPEN_ERROR, "The data set could not be opened"},
    {NWSMTS_READ_ERROR, "The data set could not be read"},
    {NWSMTS_DATA_SET_CHANGED, "The data set changed while it was read"},
    {NWSMTS_WRITE_ERROR, "The data set could not be written"},
    {NWSMTS_INVALID_DATA, "The data set stream is corrupt or incomplete"},
    {NWSMTS_DELETE_ERROR, "The data set could not be deleted"},
    {NWSMTS_RENAME_ERROR, "The data set could not be renamed"},
    {NWSMTS_BUFFER_TOO_SMALL, "The buffer is too small"},
    {NWSMTS_INVALID_NAME, "The name is refused: empty component, \"..\" or NUL"},
    {NWSMDR_NAME_DOES_NOT_EXIST, "The specified name does not exist or is invalid. "},
    {NWSMDR_UNSUPPORTED_FUNCTION, "The function is not supported"},
    {NWSMDR_OUT_OF_MEMORY, "The data requester is out of memory"},
    {NWSMDR_CONNECTION_LOST_1, "The connection was lost"},
    {NWSMDR_CONNECTION_LOST_2, "The connection was lost"},
    {NWSMDR_CONNECTION_LOST_3, "The connection was lost"},
    {NWSMDR_CONNECTION_LOST_4, "The connection was lost"},
    {NWSMDR_CONNECTION_LOST_5, "The connection was lost"},
    {NWSMDR_WORLD_ERROR, "The world file of the storage-management stand-in could not be used"},
    {NWSMDR_INVALID_PARAMETER, "One or more of the parameters are NULL or invalid"},
    {NWSMUT_NO_MORE_NAMES, "No more names in the list"},
    {NWSMUT_LIST_EMPTY, "The name list is empty"},
    {NWSMUT_INVALID_PARAMETER, "One or more of the parameters are NULL or invalid"},
    {NWSMUT_LIST_TOO_LARGE, "The name list would pass 65525 bytes"},
    {NWSMUT_INVALID_LIST, "The name list is malformed"},
    {NWSMUT_OUT_OF_MEMORY, "Out of memory"},
    {NWSMUT_INVALID_HANDLE, "Invalid name handle"},
    {NWSMUT_CONVERSION_ERROR, "The text could not be converted"},
    {NWSMUT_BUFFER_OVERFLOW, "The output buffer is too small"},
};

}  // namespace

extern "C" CCODE NWSMConvertError(UINT32 connection, CCODE code, char *text) {
  Call c("NWSMConvertError");
  c.Args("connection=0x%X, code=0x%08X", connection, code);
  if (CCODE rc = c.Begin(kNoConnection)) return c.End(rc);
  if (!text) return c.End(NWSMDR_INVALID_PARAMETER);
  for (const CodeText &t : kTexts) {
    if (t.code == code) {
      BoundedCopy(text, NWSM_MAX_ERROR_TEXT_LEN, t.text);
      return c.End(0);
    }
  }
  text[0] = '\0';
  return c.End(NWSMDR_NO_TEXT);
}
