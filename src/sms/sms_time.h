// Packed DOS date and time of file times (local time, 2-second steps).
#ifndef VRK_SMS_SMS_TIME_H
#define VRK_SMS_SMS_TIME_H

#include <time.h>

#include "sms/smstypes.h"

namespace vrksms {

// A time before 1980 packs as 1980-01-01 00:00:00, one after 2107 as the last
// packable second, so that comparisons of packed values keep their order.
UINT32 PackTime(time_t t);

// The instants a packed local time stands for: one, or two an hour apart in
// the hour that the end of summer time repeats (a time the clock skipped
// gives the one mktime makes of it).
void UnpackInstants(UINT32 packed, time_t &earliest, time_t &latest);

// Whether the packed time `a` may lie after `ref`: never when they are
// equal, and in a repeated hour whenever one reading of it does.
bool PackedMayBeLater(UINT32 a, UINT32 ref);

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
