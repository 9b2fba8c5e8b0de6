// Tests of the time utilities: host conversions against cctz across DST
// transitions, round trips of dates and seconds, DST packing, the server's
// DST test, and every text parser driven with malformed input.
#include <gtest/gtest.h>

#include <cctz/time_zone.h>

#include <ctime>
#include <list>
#include <string>
#include <tuple>
#include <vector>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroOS.h"
#include "support/FmTestSupport.h"
#include "fm_common/time/CalculateTime.h"
#include "fm_common/time/XRFMTimeUtil.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

using fmtest::utcOf;

const char* const kZones[] = {"Europe/Berlin", "Australia/Adelaide", "America/Sao_Paulo", "America/St_Johns"};

// UTCTime with the instant's own DST flag gives the instant back, also for
// wall-clock times that occur twice; read as standard time (MakeTime), a
// summer time lies the DST amount (an hour in these zones since 1990) later.
TEST(XRFMTimeUtilTest, UTCTimeMatchesCctzAcrossTransitions) {
  for (const char* zone : kZones) {
    SCOPED_TRACE(zone);
    fmtest::ScopedTZ host(zone);
    cctz::time_zone tz;
    ASSERT_TRUE(cctz::load_time_zone(zone, &tz));
    // Transitions 1990..2037 with neighbours, and a sweep every 5 days 7 hours.
    for (long t : fmtest::zoneProbes(zone, utcOf(1990, 1, 1, 0, 0, 0), utcOf(2037, 12, 1, 0, 0, 0),
                                     5 * 86400 + 7 * 3600, {-3600, -1, 0, 1, 1800, 7200})) {
      auto al = tz.lookup(cctz::time_point<cctz::seconds>(cctz::seconds(t)));
      long date = al.cs.year() * 10000L + al.cs.month() * 100L + al.cs.day();
      long time = al.cs.hour() * 10000L + al.cs.minute() * 100L + al.cs.second();
      ASSERT_EQ(XRFMTimeUtil::UTCTime(date, time, al.is_dst ? 1 : 0), t) << date << " " << time;
      ASSERT_EQ(XRFMTimeUtil::MakeTime(date, time), t + (al.is_dst ? 3600 : 0)) << date << " " << time;
      // Wall-clock seconds of the same fields: t plus the offset.
      ASSERT_EQ(XRFMTimeUtil::TimeToSeconds(date, time), t + al.offset);
    }
  }
}

TEST(XRFMTimeUtilTest, ZeroDateIsNoTime) {
  EXPECT_EQ(XRFMTimeUtil::UTCTime(0, 123456, 0) + XRFMTimeUtil::UTCTime(0, 1, 1, 0, 0, 0, 1), 0);
  EXPECT_EQ(XRFMTimeUtil::MakeTime(0, 0), 0);
  long d[2] = {1, 1}, t[2] = {1, 1};
  XRFMTimeUtil::Seconds2Time(0, d[0], t[0]);
  XRFMTimeUtil::UTCSeconds2Time(0, 3600, d[1], t[1]);
  EXPECT_EQ(d[0] + t[0] + d[1] + t[1], 0);
}

// Dates and times survive TimeToSeconds and Seconds2Time over years 1900..2400,
// leap days and the ends of days included.
TEST(XRFMTimeUtilTest, DateTimeSecondsRoundTrip) {
  for (long s = utcOf(1900, 1, 1, 0, 0, 0); s < utcOf(2400, 1, 1, 0, 0, 0); s += 86400L * 13 + 3671) {
    long d = 0, t = 0;
    XRFMTimeUtil::Seconds2Time(s, d, t);
    ASSERT_EQ(XRFMTimeUtil::TimeToSeconds(d, t), s) << d << " " << t;
  }
  const long fixed[][2] = {{20000229, 235959}, {21000228, 0}, {99991231, 235959}, {10101, 0}};
  for (const auto& f : fixed) {
    long d = 0, t = 0;
    XRFMTimeUtil::Seconds2Time(XRFMTimeUtil::TimeToSeconds(f[0], f[1]), d, t);
    EXPECT_EQ(std::make_pair(d, t), std::make_pair(f[0], f[1]));
  }
}

TEST(XRFMTimeUtilTest, HabuDstOffsetPacksAndUnpacks) {
  const long pairs[][2] = {{3600, 0}, {-3600, 1800}, {21600, -21600}};
  long ne = -1, svr = -1;
  for (const auto& p : pairs) {
    XRFMTimeUtil::HabuDstOffset(XRFMTimeUtil::HabuDstOffset(p[0], p[1]), ne, svr);
    EXPECT_EQ(std::make_pair(ne, svr), std::make_pair(p[0], p[1]));
    // The low half, modulo 65536, is the server offset + 21600 (what SQL reads).
    EXPECT_EQ(XRFMTimeUtil::HabuDstOffset(p[0], p[1]) % 65536, p[1] + 21600);
  }
  // Offsets out of range are clamped instead of spilling into the other half.
  XRFMTimeUtil::HabuDstOffset(XRFMTimeUtil::HabuDstOffset(50000, -70000), ne, svr);
  EXPECT_EQ(std::make_pair(ne, svr), std::make_pair(21600L, -21600L));
}

// Far beyond years 1..9999: refused by every function without overflow (the suite runs under UBSan).
TEST(XRFMTimeUtilTest, ExtremeInputsAreRefused) {
  for (long x : {LONG_MIN, LONG_MIN + 1, -67768040609740800L, 67768036191676800L, LONG_MAX}) {
    long d[5] = {1, 1, 1, 1, 1}, t[5] = {1, 1, 1, 1, 1};
    std::string s = "junk", a;
    XRFMTimeUtil::Seconds2Time(x, d[0], t[0]);
    XRFMTimeUtil::UTCSeconds2Time(x, x, d[1], t[1]);
    XRFMTimeUtil::GetSvrCurrentStdTime(d[2], t[2], x);
    XRFMTimeUtil::HabuDstOffset(x, d[4], t[4]);
    EXPECT_EQ(d[0] + t[0] + d[1] + t[1] + d[2] + t[2] + d[4] + t[4], 0) << x;
    EXPECT_EQ(getCurrentTime(d[3], t[3], x) + XRFMTimeUtil::TimeToSeconds(x, 0) + XRFMTimeUtil::UTCTime(x, x, 0) +
                  calculateDynamicTime("day:1", x, a, a, a, a), -4) << x;
    EXPECT_EQ(XRFMTimeUtil::GetSvrCurrentDstOffset(x), 0) << x;
    TimeToString(s, x);
    EXPECT_EQ(s + FormatTimeZone(x), "") << x;
  }
  EXPECT_EQ(FormatTimeZone(86399) + FormatTimeZone(-86400), " GMT+23:59");
}

// The number parser under every text parser: the bounds of long exactly.
TEST(XRFMTimeUtilTest, ParseLongTakesExactlyTheRangeOfLong) {
  long v = 0;
  EXPECT_TRUE(KyroUtils::parseLong("-9223372036854775808", v) && v == LONG_MIN &&
              KyroUtils::parseLong(" +9223372036854775807\t", v) && v == LONG_MAX);
  EXPECT_FALSE(KyroUtils::parseLong("9223372036854775808", v) || KyroUtils::parseLong("-9223372036854775809", v) ||
               KyroUtils::parseLong("- 1", v));
}

TEST(XRFMTimeUtilTest, ServerDstOffsetFollowsHostClock) {
  fmtest::ServerZone server("Europe/Berlin", 3600, 3600);
  // Around the spring shift (2024-03-31 01:00 UTC).
  EXPECT_EQ(XRFMTimeUtil::GetSvrCurrentDstOffset(utcOf(2024, 3, 31, 0, 59, 59)), 0);
  EXPECT_EQ(XRFMTimeUtil::GetSvrCurrentDstOffset(utcOf(2024, 3, 31, 1, 0, 0)), 3600);

  long d = 0, t = 0;
  XRFMTimeUtil::UTCSeconds2Time(utcOf(2024, 7, 1, 22, 30, 0), 3600, d, t);
  EXPECT_EQ(std::make_pair(d, t), std::make_pair(20240702L, 3000L));
  // IsDstTime(date, time, seconds): host local 14:00 in summer vs a 13:00 time.
  EXPECT_TRUE(XRFMTimeUtil::IsDstTime(0, 130000, utcOf(2024, 7, 1, 12, 0, 0)));
  EXPECT_FALSE(XRFMTimeUtil::IsDstTime(0, 140000, utcOf(2024, 7, 1, 12, 0, 0)));
  // Now: the server clock (host zone) against the configured standard time.
  {
    fmtest::ServerZone india("Asia/Kolkata", 19800, 3600);
    EXPECT_FALSE(XRFMTimeUtil::IsDstTime() || isServerTimeDST());
  }
  // The host shows 05:30 more than the configured standard time: taken as DST.
  fmtest::ServerZone india("Asia/Kolkata", 0, 3600);
  EXPECT_TRUE(XRFMTimeUtil::IsDstTime() && isServerTimeDST());
  EXPECT_EQ(XRFMTimeUtil::GetSvrCurrentDstOffset(static_cast<long>(std::time(nullptr))), 3600);
}

TEST(XRFMTimeUtilTest, DefaultTimeRangeIsThreeDaysAndValid) {
  fmtest::ServerZone server("Asia/Kolkata", 19800, 0);
  std::list<std::string> range;
  XRFMTimeUtil::MakeDefaulTimeRange(range, 3);
  ASSERT_EQ(range.size(), 5u);
  std::vector<long> v;
  for (const auto& s : range) v.push_back(std::stol(s));
  EXPECT_EQ(v[0], 3);
  long span = XRFMTimeUtil::TimeToSeconds(v[3], v[4]) - XRFMTimeUtil::TimeToSeconds(v[1], v[2]);
  EXPECT_TRUE(span >= 259200 && span <= 259202) << span;
  EXPECT_EQ(XRFMTimeUtil::checkTimeRangeVilad(range), FM_SUCCESS);
  long sd = 0, st = 0;
  XRFMTimeUtil::GetSvrCurrentStdTime(sd, st, 0);
  long now = static_cast<long>(std::time(nullptr));
  EXPECT_LE(std::labs(XRFMTimeUtil::TimeToSeconds(sd, st) - (now + 19800)), 2);
  EXPECT_EQ(getCurrentTime(sd, st, 0), 0);
  EXPECT_LE(std::labs(XRFMTimeUtil::TimeToSeconds(sd, st) - (now + 19800)), 2);
}

TEST(XRFMTimeUtilTest, CheckTimeRangeRejectsMalformedLists) {
  const std::pair<std::list<std::string>, long> cases[] = {
      {{"1", "20240101", "0", "20240102", "0"}, FM_SUCCESS}, {{"7", "20240101", "0", "20240102", "0"}, FM_INVALID_ARG},
      {{"6", "20240101", "120000", "20240101", "120000"}, FM_TIME_RANGE_EMPTY},
      {{"0", "20240101", "0", "20240102", "0"}, FM_INVALID_ARG}, {{"1", "20240101", "0", "20240102"}, FM_INVALID_ARG},
      {{"1", "20240101", "0", "20240102", "0", "0"}, FM_INVALID_ARG},
      {{"1", "2024-01-01", "0", "20240102", "0"}, FM_INVALID_ARG}, {{"1", "0", "0", "0", "0"}, FM_TIME_RANGE_EMPTY},
      {{"1", "99999999999", "0", "99999999999", "0"}, FM_INVALID_ARG}};
  for (const auto& [list, expected] : cases) {
    EXPECT_EQ(XRFMTimeUtil::checkTimeRangeVilad(list), expected) << list.size() << " " << list.front();
  }
}

TEST(XRFMTimeUtilTest, TimeFormatTables) {
  const std::tuple<long, long, std::string> cases[] = {
      {93015, FM_SUCCESS, "09:30"}, {0, FM_SUCCESS, "00:00"}, {235959, FM_SUCCESS, "23:59"},
      {240000, FM_FAILURE, ""},     {-1, FM_FAILURE, ""}};
  for (const auto& [in, rc, expect] : cases) {
    std::string s = "junk";
    EXPECT_EQ((std::pair<long, std::string>{TimeFormatLongToString(in, s), s}), std::make_pair(rc, expect)) << in;
  }
  const std::tuple<const char*, long, long> texts[] = {
      {"9:5", FM_SUCCESS, 90500}, {"1:2:3", FM_SUCCESS, 10203},   {"12", FM_FAILURE, 0},
      {"", FM_FAILURE, 0},        {"1:2:3:4", FM_FAILURE, 0},     {"9:5x", FM_FAILURE, 0},
      {"-1:0", FM_FAILURE, 0},    {"0:-1:100000099", FM_SUCCESS, 99999999},
      {"0:0:100000000", FM_FAILURE, 0}, {"9223372036854775:0", FM_FAILURE, 0},
  };
  for (const auto& [in, rc, expect] : texts) {
    long out = 7;
    EXPECT_EQ((std::pair<long, long>{TimeFormatStringToLong(out, in), out}), std::make_pair(rc, expect)) << in;
  }
}

// Now = 2024-03-31 12:34:56 local in Berlin (summer time).
TEST(XRFMTimeUtilTest, DynamicTimeSpans) {
  fmtest::ScopedTZ host("Europe/Berlin");
  long now = XRFMTimeUtil::UTCTime(20240331, 123456, 1);
  // {span, start date and time}; the end is now.
  const std::pair<const char*, std::string> cases[] = {
      {"month:1", "20240229 123456"},  // leap year: 29 days
      {"month:13", "20230228 123456"}, {"month:0", "20240331 123456"}, {"month:12", "20230331 123456"},
      {"hour:11", "20240331 003456"},  // crosses the spring shift
      {"day:2", "20240329 113456"},    // 48 h back is still winter time
      {"week:1", "20240324 113456"},   {"hour:0", "20240331 123456"}};
  for (const auto& [span, start] : cases) {
    std::string sd, st, ed, et;
    EXPECT_EQ(calculateDynamicTime(span, now, sd, st, ed, et), 0) << span;
    EXPECT_EQ(sd + " " + st + " " + ed + " " + et, start + " 20240331 123456") << span;
  }
  // February of the month before: month 3 from February 2023 gives November 2022.
  long feb = XRFMTimeUtil::UTCTime(20230215, 80910, 0);
  std::string sd, st, ed, et;
  EXPECT_EQ(calculateDynamicTime("month:3", feb, sd, st, ed, et), 0);
  EXPECT_EQ(sd + " " + st + " " + et, "20221115 80910 80910");  // "%d": no leading zero
}

TEST(XRFMTimeUtilTest, DynamicTimeRejectsMalformedSpans) {
  const char* bad[] = {"month",   "month:-1", "hour:-1", "year:1", "day:1.5", "week:999999999999999",
                       "month:99999999999"};
  long now = 1700000000;
  for (const char* in : bad) {
    std::string sd = "s", st = "t", ed = "e", et = "f";
    EXPECT_EQ(calculateDynamicTime(in, now, sd, st, ed, et), -1) << in;
  }
}

TEST(XRFMTimeUtilTest, FormatTimeZoneAndConverTime) {
  EXPECT_EQ(FormatTimeZone(-16200) + FormatTimeZone(0) + FormatTimeZone(20700), " GMT-04:30 GMT+00:00 GMT+05:45");

  const std::tuple<const char*, const char*, long, std::string> cases[] = {
      {"Asia/Kolkata", "2024-01-02 10:00:00", 0, "2024-01-02T10:00:00+05:30"},
      {"America/St_Johns", "2024-07-02 10:00:00", 0, "2024-07-02T10:00:00-03:30"},  // standard, not summer
      {"UTC", "2024-01-02", -1, "untouched"},
  };
  for (const auto& [zone, in, rc, expect] : cases) {
    fmtest::ScopedTZ host(zone);
    std::string out = "untouched";
    EXPECT_EQ((std::pair<long, std::string>{converTime(out, in), out}), std::make_pair(rc, expect)) << in;
  }
}

TEST(XRFMTimeUtilTest, DateTimeFormatRefusesUnsafeFormats) {
  std::string out;
  EXPECT_EQ(DateTimeFormat(7, 5, 0, "%02d:%02d 100%%", out), FM_SUCCESS);
  EXPECT_EQ(out, "07:05 100%");
  EXPECT_EQ(DateTimeFormat(1, 2, 3, std::string(300, 'x') + "%d", out), FM_SUCCESS);
  EXPECT_EQ(out.size(), 127u);
  const char* bad[] = {"%s", "%d%d%d%d", "%n", "%ld", "%999d", "%", "%02", "%p", "%*d", "%.3f", "%1$d"};
  for (const char* f : bad) {
    out = "junk";
    EXPECT_EQ((std::pair<long, std::string>{DateTimeFormat(1, 2, 3, f, out), out}),
              std::make_pair(FM_INVALID_ARG, std::string())) << f;
  }
}

// A window in server standard time becomes seconds counted as UTC.
TEST(XRFMTimeUtilTest, GetTimeRangeShiftsByServerOffset) {
  fmtest::ServerZone server("Asia/Kolkata", 19800, 0);
  long s = -1, e = -1;
  EXPECT_TRUE(getTimeRange(20240101, 100000, 20240102, 0, 1, s, e));
  EXPECT_EQ(s, utcOf(2024, 1, 1, 10, 0, 0));
  EXPECT_EQ(e, utcOf(2024, 1, 2, 0, 0, 0));
}

TEST(CCalculateTimeTest, LogsCountAndCost) {
  fmtest::TraceCapture cap;
  {
    CCalculateTime counted("counted", 1);
    counted.setHandleNum(5);
  }
  EXPECT_TRUE(cap.contains("CT_counted,5/", TRACE_PROGRESS));
}

}  // namespace
}  // namespace Kyrofm
