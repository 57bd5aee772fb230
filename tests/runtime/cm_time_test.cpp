// Tests of the runtime's time parsing and formatting against glibc in the C
// locale (UTC and a zone with daylight saving time), and of the time texts.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "runtime/cm_o_newer.h"
#include "runtime/cm_strftime.h"
#include "runtime/cm_strptime.h"
#include "runtime/cm_time.h"
#include "vrk_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const char kCet[] = "CET-1CEST,M3.5.0,M10.5.0/3";

// Pins TZ for one test and puts the old value back.
class ZoneTest : public testing::Test {
 protected:
  void SetUp() override {
    const char *old = getenv("TZ");
    hadTz_ = old != nullptr;
    if (hadTz_) oldTz_ = old;
    setlocale(LC_ALL, "C");
    Zone("UTC0");
    vrktest::ResetGlobal();
  }
  void TearDown() override {
    if (hadTz_)
      setenv("TZ", oldTz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    vrktest::ResetGlobal();
  }
  static void Zone(const char *tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string oldTz_;
};

struct tm Filled() {
  struct tm t;
  memset(&t, 0, sizeof(t));
  t.tm_sec = 7;
  t.tm_min = 8;
  t.tm_hour = 9;
  t.tm_mday = 10;
  t.tm_mon = 4;
  t.tm_year = 101;
  t.tm_wday = 2;
  t.tm_yday = 3;
  return t;
}

std::string Fields(const struct tm &t) {
  char b[160];
  snprintf(b, sizeof(b), "%d-%d-%d %d:%d:%d wday %d yday %d", t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour,
           t.tm_min, t.tm_sec, t.tm_wday, t.tm_yday);
  return b;
}

TEST_F(ZoneTest, StrptimeAgreesWithGlibc) {
  struct Case {
    const char *input;
    const char *format;
  };
  const Case cases[] = {
      {"2014-02-19 13:10:22", "%Y-%m-%d %H:%M:%S"},
      {"20140219131022", "%Y%m%d%H%M%S"},
      {"2014-02-19 13:10:22 trailing", "%Y-%m-%d %H:%M:%S"},
      {"45", "%d"},
      {"  7/4/76", "%D"},
      {"12/31/68", "%x"},
      {"1/1/69", "%m/%d/%y"},
      {"2016-02-29", "%F"},
      {"Wed Feb 19 13:10:22 2014", "%c"},
      {"wednesday FEBRUARY 19 2014", "%A %B %d %Y"},
      {"Thu, 01 Jan 1970", "%a, %d %b %Y"},
      {"Sept 3 2015", "%b %d %Y"},
      {"03:04:05 PM", "%r"},
      {"12:00:00 am", "%r"},
      {"12 PM", "%I %p"},
      {"23:59", "%R"},
      {"23:59:60", "%T"},
      {"2012 60", "%Y %j"},
      {"2013 365", "%Y %j"},
      {"2012 366", "%Y %j"},
      {"2012 3 60", "%Y %m %j"},
      {"200", "%j"},
      {"5 2014 12 25", "%u %Y %m %d"},
      {"7", "%u"},
      {"6", "%w"},
      {"1 2 3", "%U %V %W"},
      {"14 2014", "%g %G"},
      {"20 14", "%C %y"},
      {"19 99 1 1", "%C %y %m %d"},
      {"2014\t\n 05", "%Y%n%m"},
      {"100%", "%d%%"},
      {"2014-02-19", "%EY-%Om-%Od"},
      {"1392815422", "%s"},
      {"2014-13-01", "%Y-%m-%d"},
      {"2014-02-32", "%Y-%m-%d"},
      {"24:00", "%H:%M"},
      {"x", "%d"},
      {"2014-", "%Y-%m"},
      {"Funday", "%a"},
      {"abc", "abd"},
      {"0 0", "%j %d"},
      {"99999", "%Y"},
  };
  for (const char *tz : {"UTC0", kCet}) {
    Zone(tz);
    for (const Case &c : cases) {
      struct tm ours = Filled(), theirs = Filled();
      char *a = cm_strptime(c.input, c.format, &ours);
      char *b = strptime(c.input, c.format, &theirs);
      ASSERT_EQ(b == nullptr, a == nullptr) << c.input << " | " << c.format;
      if (a == nullptr) continue;
      EXPECT_EQ(b - c.input, a - c.input) << c.input << " | " << c.format;
      EXPECT_EQ(Fields(theirs), Fields(ours)) << c.input << " | " << c.format << " in " << tz;
    }
  }
}

TEST_F(ZoneTest, StrptimeDocumentedResults) {
  struct tm t;
  memset(&t, 0, sizeof(t));
  const char in[] = "2014-02-19 13:10:22";
  EXPECT_EQ(in + strlen(in), cm_strptime(in, "%Y-%m-%d %H:%M:%S", &t));
  EXPECT_EQ("114-1-19 13:10:22 wday 3 yday 49", Fields(t));

  memset(&t, 0, sizeof(t));
  ASSERT_NE(nullptr, cm_strptime("2012 60", "%Y %j", &t));
  EXPECT_EQ(1, t.tm_mon);
  EXPECT_EQ(29, t.tm_mday);

  memset(&t, 0, sizeof(t));
  ASSERT_NE(nullptr, cm_strptime("68", "%y", &t));
  EXPECT_EQ(2068 - 1900, t.tm_year);
  ASSERT_NE(nullptr, cm_strptime("69", "%y", &t));
  EXPECT_EQ(69, t.tm_year);
  ASSERT_NE(nullptr, cm_strptime("12 PM", "%I %p", &t));
  EXPECT_EQ(12, t.tm_hour);
  ASSERT_NE(nullptr, cm_strptime("12 AM", "%I %p", &t));
  EXPECT_EQ(0, t.tm_hour);

  // %Z reads nothing; %C without %y leaves the year alone.
  memset(&t, 0, sizeof(t));
  const char z[] = "CET";
  EXPECT_EQ(z, cm_strptime(z, "%Z", &t));
  t.tm_year = 77;
  ASSERT_NE(nullptr, cm_strptime("19", "%C", &t));
  EXPECT_EQ(77, t.tm_year);
}

TEST_F(ZoneTest, StrptimeRefusesWhatNamesNoDate) {
  struct Case {
    const char *input;
    const char *format;
    int presetMonth;
  };
  const Case cases[] = {
      {"2013 366", "%Y %j", 0},  // past the end of a common year
      {"2012 367", "%Y %j", 0},
      {"99999999999999999999", "%s", 0},  // more seconds than time_t holds
      {"19", "%d", 12},                   // the caller's month is no month
      {"19", "%d", -1},
      {"2014", "%Y", 400},
      {"5", "%Q", 0},
      {"5", "%Ed", 0},
      {"5", "%", 0},
  };
  for (const Case &c : cases) {
    struct tm t;
    memset(&t, 0, sizeof(t));
    t.tm_mon = c.presetMonth;
    EXPECT_EQ(nullptr, cm_strptime(c.input, c.format, &t)) << c.input << " | " << c.format;
  }
}

TEST_F(ZoneTest, StrptimeSecondsFollowTheZone) {
  Zone(kCet);
  for (const char *secs : {"1404165600", "1388534400", "0"}) {
    struct tm t, want;
    memset(&t, 0, sizeof(t));
    ASSERT_NE(nullptr, cm_strptime(secs, "%s", &t));
    time_t v = (time_t)atoll(secs);
    localtime_r(&v, &want);
    EXPECT_EQ(Fields(want), Fields(t));
    EXPECT_EQ(want.tm_isdst, t.tm_isdst);
  }
}

TEST_F(ZoneTest, StrftimeAgreesWithGlibc) {
  const char fmt[] = "%a %A %b %B %d %H %I %j %M %m %p %S %U %W %u %w %X %Y %y %%";
  for (const char *tz : {"UTC0", kCet}) {
    Zone(tz);
    for (time_t t = 1388534400 - 86400 * 3; t < 1388534400 + 86400 * 800; t += 86400 / 2 + 1277) {
      struct tm tm;
      localtime_r(&t, &tm);
      char ours[256], theirs[256];
      ASSERT_NE(0u, cm_strftime(ours, sizeof(ours), fmt, &tm));
      strftime(theirs, sizeof(theirs), fmt, &tm);
      ASSERT_EQ(std::string(theirs), std::string(ours)) << t;
      if (tm.tm_mday >= 10) {
        cm_strftime(ours, sizeof(ours), "%c", &tm);
        strftime(theirs, sizeof(theirs), "%c", &tm);
        ASSERT_EQ(std::string(theirs), std::string(ours)) << t;
      }
      cm_strftime(ours, sizeof(ours), "%Z", &tm);
      EXPECT_EQ(std::string(tm.tm_zone), std::string(ours)) << t;
    }
  }
}

TEST_F(ZoneTest, StrftimeOwnFormsAndCuts) {
  struct tm t;
  memset(&t, 0, sizeof(t));
  ASSERT_NE(nullptr, cm_strptime("2014-02-02 00:05:09", "%Y-%m-%d %H:%M:%S", &t));
  char out[64];
  EXPECT_EQ(24u, cm_strftime(out, sizeof(out), "%c", &t));
  EXPECT_STREQ("Sun Feb 02 00:05:09 2014", out);
  cm_strftime(out, sizeof(out), "%x|%I|%p|%u", &t);
  EXPECT_STREQ("Sun Feb 02 2014|12|AM|7", out);
  cm_strftime(out, sizeof(out), "%Q 50%", &t);
  EXPECT_STREQ("%Q 50%", out);

  memset(out, 'z', sizeof(out));
  EXPECT_EQ(0u, cm_strftime(out, 5, "%Y-%m", &t));
  EXPECT_STREQ("2014", out);
  EXPECT_EQ(4u, cm_strftime(out, 5, "%Y", &t));  // exactly fits

  struct tm bad = t;
  bad.tm_wday = 9;
  bad.tm_mon = -3;
  cm_strftime(out, sizeof(out), "%a %B", &bad);
  EXPECT_STREQ("? ?", out);

  char digits[32];
  strfmt(digits, "%3|%1|%0|%9", 12345, 7, "x", 42);
  EXPECT_STREQ("345|7|x|000000042", digits);
}

TEST_F(ZoneTest, ConvertTimeForms) {
  struct Case {
    const char *input;
    const char *iso;  // nullptr: no time
  };
  const Case cases[] = {
      {"20140219131022", "2014-02-19 13:10:22"},
      {"2014-02-19 13:10:22", "2014-02-19 13:10:22"},
      {"2014-02-19_13:10:22", "2014-02-19 13:10:22"},
      {"2014-02-19", "2014-02-19 00:00:00"},
      {"20140219", nullptr},
      {"a_b", nullptr},
      {"garbage", nullptr},
  };
  for (const Case &c : cases) {
    char buf[64];
    snprintf(buf, sizeof(buf), "%s", c.input);
    struct tm t = Filled();
    CaptureStderr();
    char *rest = cm_convert_time(buf, &t);
    std::string err = GetCapturedStderr();
    if (c.iso == nullptr) {
      EXPECT_EQ(nullptr, rest) << c.input;
      EXPECT_NE(std::string::npos, err.find("CONVERT_TIME: Could not convert timestring")) << err;
      char out[32];
      cm_strftime(out, sizeof(out), "%Y%m%d%H%M%S", &t);
      EXPECT_STREQ("19000100000000", out) << "tm is left cleared";
      continue;
    }
    ASSERT_NE(nullptr, rest) << c.input;
    char out[32];
    cm_strftime(out, sizeof(out), "%Y-%m-%d %H:%M:%S", &t);
    EXPECT_STREQ(c.iso, out) << c.input;
  }

  char stamp[32] = "2014-02-19 13:10:22";
  EXPECT_EQ(14, cm_time_iso2stamp(stamp));
  EXPECT_STREQ("20140219131022", stamp);
  EXPECT_EQ(19, cm_time_stamp2iso(stamp));
  EXPECT_STREQ("2014-02-19 13:10:22", stamp);
  char bad[32] = "not a time";
  CaptureStderr();
  EXPECT_EQ(0, cm_time_iso2stamp(bad));
  GetCapturedStderr();
  EXPECT_STREQ("not a time", bad);
}

std::string TimeGet(const char *in) {
  char buf[TIME_GET_BUFFER_SIZE + 40];
  snprintf(buf, sizeof(buf), "%s", in);
  return time_get(buf);
}

std::string Iso(time_t t) {
  struct tm tm;
  localtime_r(&t, &tm);
  char b[32];
  strftime(b, sizeof(b), "%Y-%m-%d %H:%M:%S", &tm);
  return b;
}

TEST_F(ZoneTest, TimeGetShifts) {
  EXPECT_EQ("2014-02-19 15:10:22", TimeGet("2014-02-19 13:10:22 H 2"));
  EXPECT_EQ("2014-02-19 13:10:22", TimeGet("2014-02-19 13:10:22"));
  EXPECT_EQ("2014-02-18 13:10:22", TimeGet("20140219_131022 Y"));
  EXPECT_EQ("2014-02-20 13:10:22", TimeGet("20140219_131022 T"));
  EXPECT_EQ("2014-03-01 00:00:30", TimeGet("2014-02-28 23:59:00 S 90"));
  EXPECT_EQ("2014-02-28 23:59:00", TimeGet("2014-02-28 23:59:00 M 0"));
  EXPECT_EQ("20140219131022", TimeGet("2014-02-19 13:10:22 I"));
  std::string n = TimeGet("2014-02-19 13:10:22 N");
  EXPECT_EQ(17u, n.size());
  EXPECT_EQ("20140219131022", n.substr(0, 14));

  // Tomorrow at this time (the clock may tick between the reads).
  time_t before = time(nullptr);
  std::string got = TimeGet("D 1");
  time_t after = time(nullptr);
  bool match = false;
  for (time_t t = before; t <= after; t++) match = match || got == Iso(t + 86400);
  EXPECT_TRUE(match) << got;
  EXPECT_EQ(19u, std::string(psz_now_iso()).size());
  std::string compact = TimeGet("N");
  EXPECT_EQ(17u, compact.size());
  EXPECT_EQ(std::string::npos, compact.find_first_not_of("0123456789"));

  CaptureStderr();
  std::string end = TimeGet("2014-02-19 13:10:22 S 2147483647");
  std::string err = GetCapturedStderr();
  EXPECT_EQ(Iso((time_t)2147483647), end);
  EXPECT_NE(std::string::npos, err.find("exceeds UNIX time")) << err;
}

TEST_F(ZoneTest, TimeGetLetsMktimeDecideDaylightSaving) {
  Zone(kCet);
  // One of the two lies on the other side of a change from today, whatever
  // today is.
  EXPECT_EQ("2014-03-30 12:00:00", TimeGet("2014-03-29 12:00:00 D 1"));
  EXPECT_EQ("2014-10-26 12:00:00", TimeGet("2014-10-25 12:00:00 D 1"));
  EXPECT_EQ("2014-07-01 12:00:00", TimeGet("2014-01-01 12:00:00 D 181"));
}

TEST_F(ZoneTest, NewerOption) {
  struct Case {
    const char *text;
    OPTIONS_PARSE_ERROR result;
    BOOL invoke;
    O_NEWER_COMPARE_POLICY policy;
  };
  // No case without a date sets the exact-time policy: it marks "not set".
  const O_NEWER_COMPARE_POLICY unset = COMPARE_POLICY_EXACT_TIME;
  const Case cases[] = {
      {"newer=eq", X_PARSE_ERROR_OK, TRUE, COMPARE_POLICY_EQ},
      {"newer=gt", X_PARSE_ERROR_OK, TRUE, COMPARE_POLICY_GT},
      {"newer", X_PARSE_ERROR_OK, TRUE, unset},
      {"newer=lt", X_PARSE_ERROR_UNKNOWN_COMPARISON_POLICY, FALSE, unset},
      {"newer=", X_PARSE_ERROR_UNKNOWN_COMPARISON_POLICY, FALSE, unset},
      {"older", X_PARSE_ERROR_NOT_A_NEWER_OPTION, FALSE, unset},
      {nullptr, X_PARSE_ERROR_INCORRECT_PARAM, FALSE, unset},
  };
  for (const Case &c : cases) {
    BOOL invoke = FALSE;
    time_t ref = 5;
    O_NEWER_COMPARE_POLICY policy = unset;
    EXPECT_EQ(c.result, ParseOption_o_newer(c.text, &invoke, &ref, &policy)) << (c.text ? c.text : "NULL");
    EXPECT_EQ(c.invoke, invoke);
    EXPECT_EQ(c.policy, policy);
    EXPECT_EQ(5, ref);
  }

  Zone(kCet);
  struct Date {
    const char *text;
    time_t want;
  };
  const Date dates[] = {
      {"newer=2014-01-01 00:00:00", 1388530800},  // CET, UTC+1
      {"newer=2014-07-01 00:00:00", 1404165600},  // CEST, UTC+2
      {"newer=2014-07-01", 1404165600},
  };
  for (const Date &d : dates) {
    BOOL invoke = FALSE;
    time_t ref = 0;
    O_NEWER_COMPARE_POLICY policy = COMPARE_POLICY_GT;
    EXPECT_EQ(X_PARSE_ERROR_OK, ParseOption_o_newer(d.text, &invoke, &ref, &policy));
    EXPECT_EQ(TRUE, invoke);
    EXPECT_EQ(COMPARE_POLICY_EXACT_TIME, policy);
    EXPECT_EQ(d.want, ref) << d.text;
  }
}

}  // namespace
