// XRFMTimeUtil.h: conversions between the forms alarm times take in the
// service, the server's daylight-saving test, packed DST pairs, query time
// ranges and relative ("dynamic") time spans.
//
// Forms of a time:
//  - epoch seconds: long, seconds since 1970-01-01 00:00:00 UTC; 0 is "no time";
//  - a date YYYYMMDD and a time of day HHMMSS as decimal longs; date 0 is "no
//    time";
//  - "wall-clock seconds": a local date and time read as if it were UTC (server
//    standard time is UTC plus the server's standard offset, and NE local times
//    are stored that way too);
//  - display strings.
// The server's standard offset (seconds east of UTC) and its DST offset come
// from the system attributes (CSysAttr::GetSvrTimeZone, GetSvrDSTOffset). "Host
// local time" below is the C library's local time (TZ, /etc/localtime).
//
// A packed DST pair holds an NE's and the server's DST offsets (each within
// -21600..21600 s) as ((ne + 21600) << 16) | (server + 21600); 0 means "no DST
// information". Alarm records keep their DST fields in this form.
//
// Range: broken-down times are kept to years 1..9999. An instant outside them
// (or an offset sum beyond long) is refused as each operation says: date and
// time 0, an empty text or a failure code, with a level-5 trace line.
//
// Threads: everything here is stateless and reentrant (reentrant host
// conversions only); any thread may call it.
#ifndef FM_TIME_XRFMTIMEUTIL_H
#define FM_TIME_XRFMTIMEUTIL_H

#include <list>
#include <string>

namespace Kyrofm {

// Result of checkTimeRangeVilad for a range whose start equals its end.
constexpr long FM_TIME_RANGE_EMPTY = 33405;

// Bounds of one offset of a packed DST pair, in seconds.
constexpr long FM_DST_OFFSET_LIMIT = 21600;

// Bounds of a zone offset FormatTimeZone shows, in seconds (within a day).
constexpr long FM_ZONE_OFFSET_LIMIT = 86399;

class XRFMTimeUtil {
 public:
  // Epoch seconds of the host-local date and time, read by the host's local
  // conversion (mktime) with its DST flag set when isDst is nonzero: a summer
  // time read with isDst 0 is taken as standard time. 0 when date (or year) is
  // 0; -1 when the host cannot represent the time.
  static long UTCTime(long date, long time, long isDst);
  static long UTCTime(long year, long month, long day, long hour, long minute, long second,
                      long isDst);
  // UTCTime(date, time, 0).
  static long MakeTime(long date, long time);
  // The fields read as UTC (KyroTZone::toLongTime): wall-clock seconds. -1
  // (logged) for a date outside 0..99999999 or a time outside 0..999999.
  static long TimeToSeconds(long date, long time);

  // Date and time of `seconds` read as UTC; 0 gives 0 and 0, and so does a
  // time outside years 1..9999 (logged).
  static void Seconds2Time(long seconds, long& date, long& time);
  // Date and time of seconds + server offset + dst read as UTC; seconds 0
  // gives 0 and 0, and so does a sum beyond long or outside years 1..9999
  // (logged).
  static void UTCSeconds2Time(long seconds, long dst, long& date, long& time);
  // Server standard time of now minus `back` seconds; 0 and 0 (logged) when
  // that is outside years 1..9999.
  static void GetSvrCurrentStdTime(long& date, long& time, long back = 0);
  // 0 when the server standard time of `seconds` and the host local time of it
  // agree in hour, minute and second; else the configured server DST offset.
  // 0 (logged) for an instant outside years 1..9999.
  static long GetSvrCurrentDstOffset(long seconds);

  // True when the host's local hour or minute of now differ from those of the
  // server standard time of now (logs both at level 3). False when the host
  // conversion fails.
  static bool IsDstTime();
  // True when the host local hour or minute of `seconds` differ from those of
  // `time` (HHMMSS); `date` is not used. False when the host conversion fails
  // (logged at level 5).
  static bool IsDstTime(long date, long time, long seconds);

  // Packs an NE and a server DST offset. An offset outside -21600..21600 is
  // clamped to the bound and logged (level 5), so that it never spills into
  // the other half.
  static long HabuDstOffset(long neOffset, long svrOffset);
  // Unpacks; 0 unpacks to two zeros, and so does (logged, level 5) a value
  // that packing cannot give: negative, or a half above 43200.
  static void HabuDstOffset(long packed, long& neOffset, long& svrOffset);

  // Appends five strings: the type, then the date and time of the server
  // standard time 3 days ago, then those of now, as decimal numbers.
  static void MakeDefaulTimeRange(std::list<std::string>& timeRange, long type);
  // Validates such a list: 33021 when it does not have 5 elements, when the
  // type is not an integer 1..6, an element is not a decimal number, or a
  // nonzero date has a year outside 1..9999 or its time is beyond +-99999999;
  // 33405 when start and end are the same instant; else 33000.
  static long checkTimeRangeVilad(const std::list<std::string>& timeRange);
};

// Host-local date and time of now minus `back` seconds. Returns 0; -1 (with
// date and time 0) when the host conversion fails or the time is outside
// years 1..9999.
long getCurrentTime(long& date, long& time, long back = 0);

// True when the server is in daylight saving now (GetSvrCurrentDstOffset).
bool isServerTimeDST();

// Host-local now as "YYYY-MM-DD HH:MM:SS"; empty when the conversion fails.
std::string getCurrentTimeString();

// Host-local time of `seconds` as "YYYY-MM-DD : HH:MM:SS"; empty (logged) on
// failure and for a time outside years 1..9999.
void TimeToString(std::string& strTime, long seconds);

// "HH:MM" of a time of day HHMMSS in 0..235959 (seconds dropped): 33000;
// anything else: 33002 and `strTime` empty.
long TimeFormatLongToString(long time, std::string& strTime);

// "h:m" gives (h*100+m)*100 and "h:m:s" (h*100+m)*100+s; parts are decimal
// integers of any length (a sign and blanks around them allowed, an embedded
// NUL not), not range-checked one by one: "0:99:0" gives 9900 and "1:-1"
// 9900. 33000; 33002 (and `time` 0) for another number of parts, a part that
// is not such an integer, or a result (computed exactly) outside
// 0..99999999.
long TimeFormatStringToLong(long& time, const std::string& strTime);

// Query window of a filter: when the dates, times and type pass the date/time
// validity check, start = MakeTime(startDate, startTime) + server offset (0 for
// date 0), end likewise, and true; else false (logged).
bool getTimeRange(long startDate, long startTime, long endDate, long endTime, long timeType,
                  long& start, long& end);

// Now as server standard time plus the current server DST offset, formatted by
// CRecStringMap::DateTimeEx with the server offset and the DST offset.
std::string getCurrentServerTimeWithDst();

// " GMT+hh:mm" (" GMT-hh:mm" for a negative offset) of an offset in seconds
// (seconds of a minute dropped); an offset beyond +-86399 (a day) gives an
// empty text (logged).
std::string FormatTimeZone(long seconds);

// "<date> <time>" (split at the last blank) becomes "<date>T<time>+hh:mm" with
// the host's current standard offset (a zero offset is written "+00:00").
// Returns 0, or -1 when there is no blank or the text holds a NUL byte
// (logged, `out` untouched).
long converTime(std::string& out, const std::string& in);

// A span "unit:count" before now (unit month, hour, day or week) as start date
// and time; the end is now. Dates are "YYYYMMDD"; the end time and a month
// span's start time are HHMMSS printed with "%d", other start times "HHMMSS".
// Returns 0, or -1 (logged) for a text without ":", a negative, malformed or
// too large count (the start must stay in years 1..9999), another unit, or a
// `now` outside years 1..9999.
long calculateDynamicTime(const std::string& dynamicTime, std::string& startDate,
                          std::string& startTime, std::string& endDate, std::string& endTime);
// The same with `now` (epoch seconds) standing for the current instant.
long calculateDynamicTime(const std::string& dynamicTime, long now, std::string& startDate,
                          std::string& startTime, std::string& endDate, std::string& endTime);

// `out` = `format` printed with a, b and c (at most 127 characters). The format
// may hold at most three integer conversions (%d or %i with flags and width)
// and "%%"; any other format, or one holding a NUL byte, gives 33021 and an
// empty `out`. Else 33000.
long DateTimeFormat(int a, int b, int c, const std::string& format, std::string& out);

// Days of a month in the Gregorian calendar; 0 for a month outside 1..12.
int daysOfMonth(long year, long month);

}  // namespace Kyrofm

#endif
