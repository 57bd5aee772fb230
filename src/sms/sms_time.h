// Packed DOS date and time of file times (local time, 2-second steps).
#ifndef VRK_SMS_SMS_TIME_H
#define VRK_SMS_SMS_TIME_H

#include <time.h>

#include "sms/smstypes.h"

namespace vrksms {

// A time before 1980 packs as 1980-01-01 00:00:00, one after 2107 as the last
// packable second, so that comparisons of packed values keep their order.
UINT32 PackTime(time_t t);

// The packed times of one scan: a second packs to the same value every time,
// so the last few are kept (a file's times are often one second, and files
// written together share theirs).
class PackedTimes {
 public:
  UINT32 Pack(time_t t);

 private:
  static constexpr int kSlots = 4;
  time_t times_[kSlots] = {};
  UINT32 packed_[kSlots] = {};
  int used_ = 0, next_ = 0;
};

}  // namespace vrksms

#endif
