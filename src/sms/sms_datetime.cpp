// NWSMPackDateTime and NWSMUnPackDateTime, and the packing of file times.
#include <initializer_list>

#include "sms/sms_time.h"
#include "sms/smsapi.h"

extern "C" UINT32 NWSMPackDateTime(UINT16 year, UINT16 month, UINT16 day, UINT16 hour,
                                   UINT16 minute, UINT16 second) {
  if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 59)
    return 0;
  UINT32 date = (static_cast<UINT32>(year - 1980) << 9) | (static_cast<UINT32>(month) << 5) | day;
  UINT32 tim = (static_cast<UINT32>(hour) << 11) | (static_cast<UINT32>(minute) << 5) | (second / 2u);
  return (date << 16) | tim;
}

extern "C" void NWSMUnPackDateTime(UINT32 packed, UINT16 *year, UINT16 *month, UINT16 *day,
                                   UINT16 *hour, UINT16 *minute, UINT16 *second) {
  UINT32 date = packed >> 16, tim = packed & 0xFFFFu;
  if (year) *year = static_cast<UINT16>(1980 + (date >> 9));
  if (month) *month = static_cast<UINT16>((date >> 5) & 0xF);
  if (day) *day = static_cast<UINT16>(date & 0x1F);
  if (hour) *hour = static_cast<UINT16>(tim >> 11);
  if (minute) *minute = static_cast<UINT16>((tim >> 5) & 0x3F);
  if (second) *second = static_cast<UINT16>((tim & 0x1F) * 2);
}

namespace vrksms {

UINT32 PackTime(time_t t) {
  struct tm tmv;
  if (!localtime_r(&t, &tmv)) return NWSMPackDateTime(1980, 1, 1, 0, 0, 0);
  int year = tmv.tm_year + 1900;
  if (year < 1980) return NWSMPackDateTime(1980, 1, 1, 0, 0, 0);
  if (year > 2107) return NWSMPackDateTime(2107, 12, 31, 23, 59, 58);
  return NWSMPackDateTime(static_cast<UINT16>(year), static_cast<UINT16>(tmv.tm_mon + 1),
                          static_cast<UINT16>(tmv.tm_mday), static_cast<UINT16>(tmv.tm_hour),
                          static_cast<UINT16>(tmv.tm_min),
                          static_cast<UINT16>(tmv.tm_sec > 59 ? 59 : tmv.tm_sec));
}

void UnpackInstants(UINT32 packed, time_t &earliest, time_t &latest) {
  UINT16 year, month, day, hour, minute, second;
  NWSMUnPackDateTime(packed, &year, &month, &day, &hour, &minute, &second);
  struct tm base {};
  base.tm_year = year - 1900;
  base.tm_mon = month - 1;
  base.tm_mday = day;
  base.tm_hour = hour;
  base.tm_min = minute;
  base.tm_sec = second;
  bool found = false;
  for (int dst : {0, 1}) {
    struct tm t = base;
    t.tm_isdst = dst;
    time_t v = mktime(&t);
    struct tm back;
    if (v == static_cast<time_t>(-1) || !localtime_r(&v, &back)) continue;
    if (back.tm_year != base.tm_year || back.tm_mon != base.tm_mon || back.tm_mday != base.tm_mday ||
        back.tm_hour != base.tm_hour || back.tm_min != base.tm_min || back.tm_sec != base.tm_sec)
      continue;
    if (!found || v < earliest) earliest = v;
    if (!found || v > latest) latest = v;
    found = true;
  }
  if (!found) {
    struct tm t = base;
    t.tm_isdst = -1;
    earliest = latest = mktime(&t);
  }
}

bool PackedMayBeLater(UINT32 a, UINT32 ref) {
  if (a == ref) return false;
  if (a > ref) return true;
  time_t aFirst, aLast, refFirst, refLast;
  UnpackInstants(a, aFirst, aLast);
  UnpackInstants(ref, refFirst, refLast);
  return aLast > refFirst;
}

UINT32 PackedTimes::Pack(time_t t) {
  for (int i = 0; i < used_; ++i)
    if (times_[i] == t) return packed_[i];
  UINT32 v = PackTime(t);
  times_[next_] = t;
  packed_[next_] = v;
  next_ = (next_ + 1) % kSlots;
  if (used_ < kSlots) ++used_;
  return v;
}

}  // namespace vrksms
