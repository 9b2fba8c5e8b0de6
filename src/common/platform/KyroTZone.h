// KyroTZone.h: the platform time-zone service.
//
// A KyroTZone is one named zone of the system zone database ("Asia/Shanghai",
// "Australia/Adelaide", "UTC", ...), read through cctz from the directory named
// by TZDIR or /usr/share/zoneinfo. It converts instants (seconds since 1970 UTC)
// into the zone's wall-clock fields (KyroTime) and reports the zone's standard
// offset and daylight-saving rule (MOTimeInfo_t). KyroTime fields read as UTC
// give back seconds through the static toLongTime: for a zone object z,
// toLongTime(z.getLocalTime(t)) is t plus the zone's offset at t, the "wall-clock
// time counted like epoch seconds" that NE local times are stored as.
//
// Daylight saving as reported here (KyroTime::isdst, MOTimeInfo_t) is the
// operator's reading of the zone data, which can differ from the C library's
// tm_isdst in two ways:
//  - The standard offset under a DST period is not in the compiled data; it
//    is taken from the standard period before or after the DST period,
//    whichever gives a plausible amount (non-zero, at most 3 h; a positive
//    one, else the smaller one, when both do). So a zone whose standard offset
//    changes where DST starts or ends (America/Scoresbysund 2024, Pacific/Apia
//    2011-12, America/Nuuk 2024) gets the new standard offset and a one-hour
//    DST, from the switch second on. A DST period with no plausible amount is
//    taken as one hour.
//  - Negative DST is shown in positive form. The zone data flag Irish winter
//    time (Europe/Dublin, GMT) as DST with -1 h under a standard IST of +1 h,
//    and do the same for Namibia 1994-2017 and Morocco's Ramadan time since
//    2019; the C library reports tm_isdst 1 in Irish winter. Here Irish winter
//    is standard time at GMT+00:00 and Irish summer is DST, standard +00:00
//    plus one hour: a DST period of negative amount is standard time at its own
//    offset, and a standard period between two such periods is DST over them.
// The UTC offset itself (wall clock) always agrees with the C library.
//
// An unknown or malformed zone name does not throw: create() answers null with
// a result code and a level-5 trace line; a constructed object reports the same
// through getInitResult() and then fails every conversion with that code.
//
// Ownership and threads: a KyroTZone is immutable after construction; any
// number of threads may call its const operations at once. The zone data it
// refers to is owned by cctz's process-wide cache and outlives every object.
// instance() gives the process-wide object of the host's own zone (TZ or
// /etc/localtime, as the C library reads it); instance() and destroy() may be
// called from any thread, but no thread may use the instance while another
// destroys it.
#ifndef FM_PLATFORM_KYROTZONE_H
#define FM_PLATFORM_KYROTZONE_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace Kyrofm {

// Result codes of the time-zone service (0 is success).
constexpr long KYROTZ_OK = 0;
constexpr long KYROTZ_ERR_UNKNOWN_ZONE = 1;  // name empty, malformed or not in the database
constexpr long KYROTZ_ERR_OUT_OF_RANGE = 2;  // instant or fields outside years 1..9999
constexpr long KYROTZ_ERR_NO_DATABASE = 3;   // the zone database directory is not readable

// Broken-down wall-clock time: full year, month 1..12, day 1..31, hour 0..23,
// minute 0..59, second 0..60. millisecond is always 0 from this service; isdst
// is above 0 when daylight saving (as read above: Irish winter is not DST) is
// in force at the instant, 0 otherwise.
struct KyroTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int isdst = 0;
};

// Offset and daylight-saving rule of a zone around a reference instant.
struct MOTimeInfo_t {
  std::string strZoneName;
  long lTimeZone = 0;    // standard offset, seconds east of UTC
  long lDstOffset = 0;   // seconds daylight saving adds to lTimeZone; 0 without DST
  bool bHasDst = false;  // DST is observed in the UTC calendar year of the reference instant
  long lDstStart = 0;    // first instant (UTC seconds) DST starts in that year, 0 if none
  long lDstEnd = 0;      // first instant (UTC seconds) DST ends in that year, 0 if none
};

class KyroTZone {
 public:
  // Loads the zone `zoneName`; on failure the object is unusable and
  // getInitResult() tells why (a level-5 line names the zone).
  explicit KyroTZone(const std::string& zoneName);
  ~KyroTZone();
  KyroTZone(const KyroTZone&) = delete;
  KyroTZone& operator=(const KyroTZone&) = delete;

  // The zone, or null when it cannot be loaded; *result (when given) receives
  // KYROTZ_OK or the failure code.
  static std::unique_ptr<KyroTZone> create(const std::string& zoneName, long* result = nullptr);

  long getInitResult() const { return m_lInitResult; }
  bool isValid() const { return m_lInitResult == KYROTZ_OK; }
  const std::string& getZoneName() const { return m_strZoneName; }

  // Wall-clock fields of `utcSeconds` in this zone, isdst set when DST is in
  // force. Returns KYROTZ_OK, or a failure code leaving `out` zeroed.
  long getLocalTime(long utcSeconds, KyroTime& out) const;

  // The instant of the wall-clock fields `local` in this zone (millisecond and
  // isdst ignored). A time skipped by a forward shift is read with the offset
  // before the shift; a repeated time gives its first occurrence.
  long getUTCTime(const KyroTime& local, long& utcSeconds) const;

  // Standard offset and DST rule of the zone at `refUtc` (default: now). When
  // DST is in force at refUtc, lDstOffset is the amount it adds there (always
  // positive) and lTimeZone + lDstOffset is the UTC offset at refUtc;
  // otherwise lTimeZone is that offset and lDstOffset the amount of the
  // zone's first DST period in the same year, 0 if none. DST and standard
  // offsets are read as the header comment describes.
  long getMOTimeInfo(MOTimeInfo_t& info) const;
  long getMOTimeInfo(MOTimeInfo_t& info, long refUtc) const;

  // Seconds of the fields read as UTC (millisecond and isdst ignored; fields
  // out of their ranges carry over, e.g. month 13 is January of the next year).
  static long toLongTime(const KyroTime& t);

  // Process-wide object of the host's own zone; never null (UTC when the host
  // zone cannot be read).
  static KyroTZone* instance();
  static void destroy();

  // Checks that the zone database can be read: KYROTZ_OK or
  // KYROTZ_ERR_NO_DATABASE (logged).
  long init();

  // Directory of the zone database: TZDIR, else /usr/share/zoneinfo.
  static std::string zoneDirectory();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_pImpl;
  std::string m_strZoneName;
  long m_lInitResult;

  static std::atomic<KyroTZone*> m_pInstance;
  static std::mutex m_mtxInstance;
};

}  // namespace Kyrofm

#endif
