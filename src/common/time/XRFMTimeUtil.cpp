// XRFMTimeUtil.cpp: the time conversions of the fault-management service.
//
// Server standard time is computed, never looked up: UTC plus the configured
// standard offset, broken down with gmtime_r. The host's own local time
// (localtime_r, mktime) is what the server clock shows; comparing the two is
// how the service decides that the server is in daylight saving. All host
// conversions are the reentrant ones.
#include "fm_common/time/XRFMTimeUtil.h"

#include <ace/OS_NS_sys_time.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/fmcommon/SysAttr.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroTZone.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/time/CalculateTime.h"

namespace Kyrofm {

namespace {

// Epoch seconds of 0001-01-01 00:00:00 and 9999-12-31 23:59:59 UTC. Every
// broken-down time handed on from here lies in years 1..9999 (four-digit years,
// YYYYMMDD dates); instants farther out than a day beyond are refused before
// the C library sees them, so that its year never nears the end of int.
constexpr long FIRST_SECOND = -62135596800L;
constexpr long LAST_SECOND = 253402300799L;

bool inYears(const struct tm& t) { return t.tm_year >= 1 - 1900 && t.tm_year <= 9999 - 1900; }

// gmtime_r / localtime_r of `seconds`, false when the conversion fails or the
// year is outside 1..9999.
bool utcBreakDown(long seconds, struct tm& out) {
  if (seconds < FIRST_SECOND - 86400 || seconds > LAST_SECOND + 86400) return false;
  time_t t = static_cast<time_t>(seconds);
  return gmtime_r(&t, &out) != nullptr && inYears(out);
}

bool localBreakDown(long seconds, struct tm& out) {
  if (seconds < FIRST_SECOND - 86400 || seconds > LAST_SECOND + 86400) return false;
  time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, &out) != nullptr && inYears(out);
}

// a + b + c, false on overflow of long.
bool addSeconds(long a, long b, long c, long& sum) {
  return !__builtin_add_overflow(a, b, &sum) && !__builtin_add_overflow(sum, c, &sum);
}

long joinDate(const struct tm& t) {
  return (t.tm_year + 1900L) * 10000L + (t.tm_mon + 1L) * 100L + t.tm_mday;
}

long fullYear(const struct tm& t) { return t.tm_year + 1900L; }

long joinTime(const struct tm& t) { return t.tm_hour * 10000L + t.tm_min * 100L + t.tm_sec; }

std::vector<std::string> splitKeepEmpty(const std::string& text, char sep) { return KyroUtils::split(text, sep); }

bool parseLong(const std::string& text, long& value) { return KyroUtils::parseLong(text, value); }

// The host's standard offset east of UTC in the current year: the smaller of
// the offsets of 1 January and 1 July (DST adds to the standard offset in both
// hemispheres).
long hostStandardOffset() {
  time_t now = std::time(nullptr);
  struct tm tmv;
  if (!localtime_r(&now, &tmv)) return 0;
  struct tm jan = {};
  jan.tm_year = tmv.tm_year;
  jan.tm_mday = 1;
  jan.tm_hour = 12;
  jan.tm_isdst = -1;
  struct tm jul = jan;
  jul.tm_mon = 6;
  time_t tj = mktime(&jan), tl = mktime(&jul);
  struct tm a, b;
  if (tj == static_cast<time_t>(-1) || tl == static_cast<time_t>(-1) || !localtime_r(&tj, &a) ||
      !localtime_r(&tl, &b)) {
    return tmv.tm_gmtoff;
  }
  return a.tm_gmtoff < b.tm_gmtoff ? a.tm_gmtoff : b.tm_gmtoff;
}

// A printf format that takes at most three ints: only %d / %i conversions
// with flags and a width, and "%%".
bool isIntFormat(const std::string& format) {
  int conversions = 0;
  for (std::string::size_type i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    ++i;
    if (i < format.size() && format[i] == '%') continue;
    while (i < format.size() && std::string("-+ 0#").find(format[i]) != std::string::npos) ++i;
    int width = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
      width = width * 10 + (format[i] - '0');
      if (width > 64) return false;
      ++i;
    }
    if (i >= format.size() || (format[i] != 'd' && format[i] != 'i')) return false;
    if (++conversions > 3) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// XRFMTimeUtil

long XRFMTimeUtil::UTCTime(long date, long time, long isDst) {
  if (date == 0) return 0;
  return UTCTime(date / 10000, date % 10000 / 100, date % 100, time / 10000, time % 10000 / 100,
                 time % 100, isDst);
}

long XRFMTimeUtil::UTCTime(long year, long month, long day, long hour, long minute, long second,
                           long isDst) {
  if (year == 0) return 0;
  if (year < 1 || year > 9999 || month < -1200 || month > 1200 || day < -400000 || day > 400000 ||
      hour < -10000000 || hour > 10000000 || minute < -100000000 || minute > 100000000 ||
      second < -INT_MAX / 2 || second > INT_MAX / 2) {
    return -1;
  }
  struct tm t = {};
  t.tm_year = static_cast<int>(year - 1900);
  t.tm_mon = static_cast<int>(month - 1);
  t.tm_mday = static_cast<int>(day);
  t.tm_hour = static_cast<int>(hour);
  t.tm_min = static_cast<int>(minute);
  t.tm_sec = static_cast<int>(second);
  t.tm_isdst = isDst ? 1 : 0;
  return static_cast<long>(mktime(&t));
}

long XRFMTimeUtil::MakeTime(long date, long time) { return UTCTime(date, time, 0); }

long XRFMTimeUtil::TimeToSeconds(long date, long time) {
  if (date < 0 || date > 99999999 || time < 0 || time > 999999) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::TimeToSeconds, date %ld or time %ld out of range", date, time);
    return -1;
  }
  KyroTime kt;
  kt.year = static_cast<int>(date / 10000);
  kt.month = static_cast<int>(date % 10000 / 100);
  kt.day = static_cast<int>(date % 100);
  kt.hour = static_cast<int>(time / 10000);
  kt.minute = static_cast<int>(time % 10000 / 100);
  kt.second = static_cast<int>(time % 100);
  return KyroTZone::toLongTime(kt);
}

void XRFMTimeUtil::Seconds2Time(long seconds, long& date, long& time) {
  date = 0;
  time = 0;
  if (seconds == 0) return;
  struct tm t;
  if (!utcBreakDown(seconds, t)) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::Seconds2Time, gmtime_r fail or year out of 1..9999, seconds:%ld",
             seconds);
    return;
  }
  date = joinDate(t);
  time = joinTime(t);
}

void XRFMTimeUtil::UTCSeconds2Time(long seconds, long dst, long& date, long& time) {
  date = 0;
  time = 0;
  if (seconds == 0) return;
  struct tm t;
  long wall = 0;
  if (!addSeconds(seconds, CSysAttr::Instance()->GetSvrTimeZone(), dst, wall) || !utcBreakDown(wall, t)) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::UTCSeconds2Time, gmtime_r fail or out of range, seconds:%ld, dst:%ld",
             seconds, dst);
    return;
  }
  date = joinDate(t);
  time = joinTime(t);
}

void XRFMTimeUtil::GetSvrCurrentStdTime(long& date, long& time, long back) {
  struct tm t;
  long now = static_cast<long>(std::time(nullptr)), wall = 0;
  if (__builtin_sub_overflow(now, back, &now) || !addSeconds(now, CSysAttr::Instance()->GetSvrTimeZone(), 0, wall) ||
      !utcBreakDown(wall, t)) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::GetSvrCurrentStdTime, out of range, back:%ld", back);
    date = 0;
    time = 0;
    return;
  }
  date = joinDate(t);
  time = joinTime(t);
}

long XRFMTimeUtil::GetSvrCurrentDstOffset(long seconds) {
  struct tm std, local;
  long wall = 0;
  if (!addSeconds(seconds, CSysAttr::Instance()->GetSvrTimeZone(), 0, wall) || !utcBreakDown(wall, std) ||
      !localBreakDown(seconds, local)) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::GetSvrCurrentDstOffset, time conversion fail, seconds:%ld", seconds);
    return 0;
  }
  if (std.tm_hour == local.tm_hour && std.tm_min == local.tm_min && std.tm_sec == local.tm_sec) return 0;
  return CSysAttr::Instance()->GetSvrDSTOffset();
}

bool XRFMTimeUtil::IsDstTime() {
  long now = static_cast<long>(std::time(nullptr));
  struct tm std, local;
  if (!utcBreakDown(now + CSysAttr::Instance()->GetSvrTimeZone(), std) || !localBreakDown(now, local)) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::IsDstTime, ACE_OS::localtime_r return null.");
    return false;
  }
  FM_TRACE(TRACE_PROGRESS, "XRFMTimeUtil::IsDstTime, server lTime:%d; locale hour:%d, min:%d ",
           static_cast<int>(joinTime(std)), local.tm_hour, local.tm_min);
  return std.tm_hour != local.tm_hour || std.tm_min != local.tm_min;
}

bool XRFMTimeUtil::IsDstTime(long /*date*/, long time, long seconds) {
  struct tm local;
  if (!localBreakDown(seconds, local)) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::IsDstTime, ACE_OS::localtime_r return null.");
    return false;
  }
  return local.tm_hour != time / 10000 || local.tm_min != time % 10000 / 100;
}

long XRFMTimeUtil::HabuDstOffset(long neOffset, long svrOffset) {
  auto clamp = [](long v, const char* which) {
    if (v < -FM_DST_OFFSET_LIMIT || v > FM_DST_OFFSET_LIMIT) {
      FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::HabuDstOffset, %s dst offset %ld out of range", which, v);
      return v < 0 ? -FM_DST_OFFSET_LIMIT : FM_DST_OFFSET_LIMIT;
    }
    return v;
  };
  neOffset = clamp(neOffset, "ne");
  svrOffset = clamp(svrOffset, "server");
  return ((neOffset + FM_DST_OFFSET_LIMIT) << 16) | (svrOffset + FM_DST_OFFSET_LIMIT);
}

void XRFMTimeUtil::HabuDstOffset(long packed, long& neOffset, long& svrOffset) {
  neOffset = 0;
  svrOffset = 0;
  if (packed == 0) return;
  // Both halves of a packed pair lie in 0..43200; anything else did not come
  // from the packing above.
  const long high = packed >> 16, low = packed & 0xFFFF;
  if (packed < 0 || high > 2 * FM_DST_OFFSET_LIMIT || low > 2 * FM_DST_OFFSET_LIMIT) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::HabuDstOffset, packed dst pair %ld invalid", packed);
    return;
  }
  neOffset = high - FM_DST_OFFSET_LIMIT;
  svrOffset = low - FM_DST_OFFSET_LIMIT;
}

void XRFMTimeUtil::MakeDefaulTimeRange(std::list<std::string>& timeRange, long type) {
  long sd = 0, st = 0, ed = 0, et = 0;
  GetSvrCurrentStdTime(sd, st, 259200);
  GetSvrCurrentStdTime(ed, et, 0);
  timeRange.push_back(std::to_string(type));
  timeRange.push_back(std::to_string(sd));
  timeRange.push_back(std::to_string(st));
  timeRange.push_back(std::to_string(ed));
  timeRange.push_back(std::to_string(et));
}

long XRFMTimeUtil::checkTimeRangeVilad(const std::list<std::string>& timeRange) {
  if (timeRange.size() != 5) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::checkTimeRangeVilad, timerangelist size invalid:%d",
             static_cast<int>(timeRange.size()));
    return FM_INVALID_ARG;
  }
  long v[5] = {0, 0, 0, 0, 0};
  int i = 0;
  for (const auto& s : timeRange) {
    if (!parseLong(s, v[i])) {
      if (i == 0) {
        FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::checkTimeRangeVilad, time type invalid:%d", std::atoi(s.c_str()));
      } else {
        FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::checkTimeRangeVilad, time value invalid:%s", s.c_str());
      }
      return FM_INVALID_ARG;
    }
    ++i;
  }
  if (v[0] < 1 || v[0] > 6) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::checkTimeRangeVilad, time type invalid:%d", static_cast<int>(v[0]));
    return FM_INVALID_ARG;
  }
  for (int k = 1; k < 5; k += 2) {
    // A date whose year UTCTime cannot convert (outside 1..9999; 0 is "no
    // time") or fields beyond its ranges would read as -1 on both sides.
    long year = v[k] / 10000;
    if (v[k] != 0 && (year < 1 || year > 9999 || v[k + 1] < -99999999 || v[k + 1] > 99999999)) {
      FM_TRACE(TRACE_ERROR, "XRFMTimeUtil::checkTimeRangeVilad, date out of range:%ld %ld", v[k], v[k + 1]);
      return FM_INVALID_ARG;
    }
  }
  long start = UTCTime(v[1], v[2], 0);
  long end = UTCTime(v[3], v[4], 0);
  if (start == end) return FM_TIME_RANGE_EMPTY;
  return FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Free functions

long getCurrentTime(long& date, long& time, long back) {
  struct tm t;
  long when = 0;
  if (__builtin_sub_overflow(static_cast<long>(std::time(nullptr)), back, &when) || !localBreakDown(when, t)) {
    FM_TRACE(TRACE_ERROR, "getCurrentTime localtime_r fail");
    date = 0;
    time = 0;
    return -1;
  }
  date = joinDate(t);
  time = joinTime(t);
  return 0;
}

bool isServerTimeDST() {
  return XRFMTimeUtil::GetSvrCurrentDstOffset(static_cast<long>(std::time(nullptr))) != 0;
}

std::string getCurrentTimeString() {
  struct tm t;
  if (!localBreakDown(static_cast<long>(std::time(nullptr)), t)) {
    FM_TRACE(TRACE_ERROR, "getCurrentTimeString localtime_r fail");
    return std::string();
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04ld-%02d-%02d %02d:%02d:%02d", fullYear(t), t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return buf;
}

void TimeToString(std::string& strTime, long seconds) {
  struct tm t;
  if (!localBreakDown(seconds, t)) {
    FM_TRACE(TRACE_ERROR, "tools:TimeToString, localtime_r FAIL");
    strTime.clear();
    return;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04ld-%02d-%02d : %02d:%02d:%02d", fullYear(t), t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  strTime = buf;
}

long TimeFormatLongToString(long time, std::string& strTime) {
  if (time < 0 || time >= 240000) {
    strTime.clear();
    FM_TRACE(TRACE_ERROR, "tools:TimeFormatLongToString error ,time=%ld,strTime= %s", time, strTime.c_str());
    return FM_FAILURE;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d", static_cast<int>(time / 10000), static_cast<int>(time % 10000 / 100));
  strTime = buf;
  FM_TRACE(TRACE_PROGRESS, "tools:TimeFormatLongToString ,time=%ld,strTime= %s", time, strTime.c_str());
  return FM_SUCCESS;
}

long TimeFormatStringToLong(long& time, const std::string& strTime) {
  time = 0;
  auto parts = splitKeepEmpty(strTime, ':');
  long v[3] = {0, 0, 0};
  bool ok = parts.size() == 2 || parts.size() == 3;
  for (size_t i = 0; ok && i < parts.size(); ++i) ok = parseLong(parts[i], v[i]);
  // Exact arithmetic: a result that does not fit long is out of range too.
  long result = 0;
  if (ok) {
    ok = !__builtin_mul_overflow(v[0], 100L, &result) && !__builtin_add_overflow(result, v[1], &result) &&
         !__builtin_mul_overflow(result, 100L, &result) && !__builtin_add_overflow(result, v[2], &result) &&
         result >= 0 && result <= 99999999;
  }
  if (!ok) {
    FM_TRACE(TRACE_ERROR, "tools:TimeFormatLongToString , strTime is not valid strTime=%s", strTime.c_str());
    return FM_FAILURE;
  }
  time = result;
  return FM_SUCCESS;
}

bool getTimeRange(long startDate, long startTime, long endDate, long endTime, long timeType, long& start,
                  long& end) {
  if (!CAlmValidCheck::isDateTimeValid(startDate, startTime, endDate, endTime, timeType)) {
    FM_TRACE(TRACE_ERROR, "DateTimeExp:: CheckTimeValid, Date or Time is not valid");
    return false;
  }
  long offset = CSysAttr::Instance()->GetSvrTimeZone();
  start = startDate == 0 ? 0 : XRFMTimeUtil::MakeTime(startDate, startTime) + offset;
  end = endDate == 0 ? 0 : XRFMTimeUtil::MakeTime(endDate, endTime) + offset;
  return true;
}

std::string getCurrentServerTimeWithDst() {
  long now = static_cast<long>(std::time(nullptr));
  long offset = CSysAttr::Instance()->GetSvrTimeZone();
  long dst = XRFMTimeUtil::GetSvrCurrentDstOffset(now);
  std::string out;
  if (CRecStringMap* map = CRecStringMap::Instance()) map->DateTimeEx(now + offset + dst, out, offset, dst);
  return out;
}

std::string FormatTimeZone(long seconds) {
  if (seconds < -FM_ZONE_OFFSET_LIMIT || seconds > FM_ZONE_OFFSET_LIMIT) {
    FM_TRACE(TRACE_ERROR, "FormatTimeZone, offset %ld out of range", seconds);
    return std::string();
  }
  std::string out = " GMT+";
  if (seconds < 0) {
    out = " GMT-";
    seconds = -seconds;
  }
  long hours = seconds / 3600, minutes = seconds % 3600 / 60;
  if (hours < 10) out += "0";
  out += std::to_string(hours) + ":";
  if (minutes < 10) out += "0";
  out += std::to_string(minutes);
  return out;
}

long converTime(std::string& out, const std::string& in) {
  if (in.find('\0') != std::string::npos) {
    FM_TRACE(TRACE_ERROR, "converTime: strTime holds a NUL byte.");
    return -1;
  }
  auto pos = in.rfind(' ');
  if (pos == std::string::npos) {
    FM_TRACE(TRACE_ERROR, "converTime:Cannot file postfix to change strTime.");
    return -1;
  }
  long offset = hostStandardOffset();
  char zone[32];
  long a = offset < 0 ? -offset : offset;
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', a / 3600, a % 3600 / 60);
  out = in.substr(0, pos) + "T" + in.substr(pos + 1) + zone;
  return 0;
}

long calculateDynamicTime(const std::string& dynamicTime, std::string& startDate, std::string& startTime,
                          std::string& endDate, std::string& endTime) {
  return calculateDynamicTime(dynamicTime, static_cast<long>(std::time(nullptr)), startDate, startTime, endDate,
                              endTime);
}

long calculateDynamicTime(const std::string& dynamicTime, long now, std::string& startDate, std::string& startTime,
                          std::string& endDate, std::string& endTime) {
  auto colon = dynamicTime.find(':');
  long count = 0;
  if (colon == std::string::npos || !parseLong(dynamicTime.substr(colon + 1), count)) {
    FM_TRACE(TRACE_ERROR, "tools:calculateDynamicTime, szDynamicTime:%s, error format!", dynamicTime.c_str());
    return -1;
  }
  std::string unit = dynamicTime.substr(0, colon);
  struct tm t;
  if (!localBreakDown(now, t)) {
    FM_TRACE(TRACE_ERROR, "tools:calculateDynamicTime, localtime_r fail or now %ld outside years 1..9999", now);
    return -1;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04ld%02d%02d", fullYear(t), t.tm_mon + 1, t.tm_mday);
  std::string nowDate = buf;
  std::snprintf(buf, sizeof buf, "%d", static_cast<int>(joinTime(t)));
  std::string nowTime = buf;

  if (unit == "month") {
    long year = fullYear(t), month = t.tm_mon + 1L, day = t.tm_mday;
    if (count < 0 || count / 12 >= year) {
      FM_TRACE(TRACE_ERROR, "tools:calculateDynamicTime, execute time month:%d, error!", static_cast<int>(count));
      return -1;
    }
    year -= count / 12;
    long r = count % 12;
    if (r < month) {
      month -= r;
    } else {
      year -= 1;
      month = 12 - r + month;
    }
    if (year < 1) {
      FM_TRACE(TRACE_ERROR, "tools:calculateDynamicTime, execute time month:%d, error!", static_cast<int>(count));
      return -1;
    }
    if (day > 28) {
      long last = daysOfMonth(year, month);
      if (day > last) day = last;
    }
    std::snprintf(buf, sizeof buf, "%04ld%02ld%02ld", year, month, day);
    startDate = buf;
    startTime = nowTime;
    endDate = nowDate;
    endTime = nowTime;
    return 0;
  }
  long unitSeconds = 0;
  if (unit == "hour") {
    unitSeconds = 3600;
  } else if (unit == "day") {
    unitSeconds = 86400;
  } else if (unit == "week") {
    unitSeconds = 604800;
  } else {
    FM_TRACE(TRACE_ERROR, "tools:calculateDynamicTime, szDynamicTime:%s, unknown unit!", dynamicTime.c_str());
    return -1;
  }
  long span = 0, from = 0;
  struct tm s;
  if (count < 0 || __builtin_mul_overflow(count, unitSeconds, &span) || __builtin_sub_overflow(now, span, &from) ||
      !localBreakDown(from, s)) {
    FM_TRACE(TRACE_ERROR, "tools:calculateDynamicTime, execute time %s:%d, error!", unit.c_str(),
             static_cast<int>(count));
    return -1;
  }
  std::snprintf(buf, sizeof buf, "%04ld%02d%02d", fullYear(s), s.tm_mon + 1, s.tm_mday);
  startDate = buf;
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", s.tm_hour, s.tm_min, s.tm_sec);
  startTime = buf;
  endDate = nowDate;
  endTime = nowTime;
  return 0;
}

long DateTimeFormat(int a, int b, int c, const std::string& format, std::string& out) {
  out.clear();
  if (format.find('\0') != std::string::npos || !isIntFormat(format)) {
    FM_TRACE(TRACE_ERROR, "DateTimeFormat, invalid format:%s", format.c_str());
    return FM_INVALID_ARG;
  }
  char buf[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(buf, sizeof buf, format.c_str(), a, b, c);
#pragma GCC diagnostic pop
  out = buf;
  return FM_SUCCESS;
}

int daysOfMonth(long year, long month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return days[month - 1];
}

// ---------------------------------------------------------------------------
// CCalculateTime

CCalculateTime::CCalculateTime(const std::string& name, unsigned handleNum)
    : m_strName(name), m_uHandleNum(handleNum), m_tvStart(ACE_OS::gettimeofday()) {}

CCalculateTime::~CCalculateTime() {
  ACE_Time_Value elapsed = ACE_OS::gettimeofday() - m_tvStart;
  long msec = static_cast<long>(elapsed.msec());
  if (m_uHandleNum >= BIG_COUNT || msec >= BIG_MSEC) {
    FM_TRACE(TRACE_PROGRESS, "CT_%s, %d/%ld big2cost", m_strName.c_str(), static_cast<int>(m_uHandleNum), msec);
  } else if (msec != 0 || m_uHandleNum != 0) {
    FM_TRACE(TRACE_PROGRESS, "CT_%s,%d/%ld", m_strName.c_str(), static_cast<int>(m_uHandleNum), msec);
  }
}

}  // namespace Kyrofm
