// NWSMTSCloseDataSet: closes a backup or restore data-set handle.
#include "sms/sms_datahandle.h"
#include "sms/smsapi.h"

using namespace vrksms;

extern "C" CCODE NWSMTSCloseDataSet(UINT32 connection, UINT32 *dataSetHandle) {
  Call c("NWSMTSCloseDataSet");
  c.Args("connection=0x%X, handle=0x%X", connection, dataSetHandle ? *dataSetHandle : 0);
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  if (!dataSetHandle) return c.End(NWSMTS_INVALID_PARAMETER);
  DataHandle *h = FindHandle<DataHandle>(*dataSetHandle, connection);
  if (!h) return c.End(NWSMTS_INVALID_DATA_SET_HANDLE);
  CCODE rc = h->Close();
  CloseHandle(*dataSetHandle);
  *dataSetHandle = 0;
  return c.End(rc);
}
