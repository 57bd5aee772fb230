// A data-set handle (backup or restore) that NWSMTSCloseDataSet closes.
#ifndef VRK_SMS_SMS_DATAHANDLE_H
#define VRK_SMS_SMS_DATAHANDLE_H

#include "sms/sms_state.h"

namespace vrksms {

struct DataHandle : HandleObject {
  // Finishes the data set; the handle is dropped afterwards whatever it answers.
  virtual CCODE Close() { return 0; }
};

}  // namespace vrksms

#endif
