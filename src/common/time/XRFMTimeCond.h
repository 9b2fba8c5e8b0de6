// XRFMTimeCond.h: weekly time conditions and the NE local time.
//
// A weekly time condition limits a filter, notification rule or automatic
// task to some days of the week and some periods of the day. As entered
// (CNMTime) it is two texts:
//  - week days: numbers 1 (Monday) .. 7 (Sunday) separated by ","; empty means
//    every day;
//  - periods: up to three "HHMMHHMM" (start hour and minute, end hour and
//    minute) separated by "|"; empty means the whole day. An end of 00:00 is
//    the end of the day.
// The condition string holds both: "<week days>;<periods>", the ";" and the
// periods optional ("1,2,3,4,5;08001800", "6,7"). Parsed (tagTimeCond) it is a
// 7-bit day set (bit d-1 for day d) and periods in seconds since midnight;
// (-1, -1) is the whole day.
//
// The NE local time is "now" as the NE's own clock shows it, from the zone the
// NE configuration service gives for the NE (EAMUtil2DB), through a cache of
// time-zone objects (XRFMTimeCond, reached through the singleton
// XRFMTimeCondMgr). Every failure falls back to the server's time: its
// standard offset plus its current DST offset.
//
// Threads: the free functions are reentrant. XRFMTimeCondMgr::instance and
// destroy, and GetNECurrentTime and NETimeZone, may be called from any thread
// (the zone cache has its own reader/writer lock); no thread may use the
// manager while another destroys it.
#ifndef FM_TIME_XRFMTIMECOND_H
#define FM_TIME_XRFMTIMECOND_H

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <bitset>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fm_common/fmcommon/FMLock.h"
#include "fm_common/fmcommon/FMValueTypes.h"

namespace Kyrofm {

class KyroTZone;

// Whole-day marker of a period: (-1, -1).
constexpr long TIMECOND_WHOLE_DAY = -1;
// Most periods a condition string may hold.
constexpr size_t TIMECOND_MAX_PERIODS = 3;

// A parsed weekly time condition.
struct tagTimeCond {
  std::bitset<7> m_bitWeekDay;                      // bit d-1: day d (1 Monday .. 7 Sunday)
  std::vector<std::pair<long, long>> m_vecPeriod;  // (start, end) seconds since midnight
};

// The NE local time: wall-clock seconds (local date and time counted like
// epoch seconds) and the NE's DST offset in seconds.
struct CMOTimeInfo {
  long m_lNELocalTime = 0;
  long m_lNEDstOffset = 0;
};

// Parses a week-day text into `bits` (cleared first). 33000; 33002 (logged)
// for a part that is not a number 1..7 (an embedded NUL byte makes a part
// invalid), with the days before it set.
long getBitWeekDay(const std::string& text, std::bitset<7>& bits);

// Parses a period text into `ranges` (cleared first); empty gives (-1, -1).
// 33000; 33002 (logged) for a period that is not 8 digits HHMMHHMM with hours
// 0..23 and minutes 0..59, keeping the periods before it. Start and end are not
// compared.
long getTimeRanges(const std::string& text, std::vector<std::pair<long, long>>& ranges);

// Every day, the whole day.
void setAllTimeNotify(tagTimeCond& cond);

// True when every entry has both texts empty (true for an empty list).
bool isTimeCondEmpty(const std::list<CNMTime>& conds);

// Parses conditions as entered into `out` (cleared first). An empty list, or
// one with only empty entries, gives one all-time condition. Entries with both
// texts empty are skipped; entries that do not parse are dropped. 33000 when
// none was dropped, 33001 when some were and at least one condition came out,
// 33002 when none came out.
long transFormTimeCond(const std::list<CNMTime>& in, std::list<tagTimeCond>& out);

// Parses a condition string into `cond`; `periods` receives the period texts.
// False (logged) for an empty text, more than one ";", bad week days, four or
// more periods, a period not 8 characters long, or a bad period.
bool isStr2TimeCond(const std::string& text, tagTimeCond& cond, std::list<std::string>& periods);

// The condition of one instant (broken-down local time): its day bit only and
// the period (second of day, -1).
void getTime2TimeCond(tagTimeCond& cond, const struct tm& when);

// True when the host's local time of now meets one of the conditions: its
// day is in the condition's set and one period is whole-day (a -1 end) or
// holds the second of day (both ends inclusive). False for an empty list.
bool IsMeetTimeCond(const std::list<tagTimeCond>& conds);
// The same for the broken-down local time `when`.
bool IsMeetTimeCond(const std::list<tagTimeCond>& conds, const struct tm& when);

// True for an automatic task's execution time "H:M" with hour 0..23 and
// minute 0..59 (decimal integers, blanks around them allowed, no NUL byte);
// false (logged) otherwise.
bool checkAutoTaskTimeValid(const std::string& text);

// The zone cache and NE local time. Owned by XRFMTimeCondMgr.
class XRFMTimeCond {
 public:
  XRFMTimeCond();
  // Deletes every cached zone object under the write lock.
  ~XRFMTimeCond();
  XRFMTimeCond(const XRFMTimeCond&) = delete;
  XRFMTimeCond& operator=(const XRFMTimeCond&) = delete;

  // Reads the server's standard offset (CSysAttr) and the root FDN of the
  // managed network (CFDNSplitter).
  void init();

  // The NE's local time at `utc` and its DST offset. 33000: when the NE's
  // zone is unknown or cannot be used, the server's time is given (utc +
  // server standard offset + server DST offset of utc). The DST offset is
  // the zone's as KyroTZone reads it: positive, with the standard offset of
  // the rules in force (Irish winter is standard time, Irish summer DST).
  // 33021 (logged, `info` zeroed) for a utc so far out that the server's
  // time overflows long.
  long GetNECurrentTime(const std::string& neFdn, long utc, CMOTimeInfo& info);

  // The NE's standard offset in seconds now; the server's when the NE's zone
  // is unknown or cannot be used.
  long NETimeZone(const std::string& neFdn);

  // The cached zone object of `zone`, created and cached on first use; null
  // when the zone cannot be loaded. The caller holds m_lock for writing and
  // must not keep the pointer past it.
  KyroTZone* GetTZBystrZone(const std::string& zone);

  long getOMCNETimeZone() const { return m_lOMCNETimeZone; }
  const std::string& getOMCNEFDN() const { return m_strOMCNEFDN; }
  // Number of cached zone objects.
  size_t getZoneCacheSize() const;

 private:
  // Server fallback of GetNECurrentTime: 33000, or 33021 (logged, `info`
  // zeroed) when the sum overflows.
  long serverTime(long utc, CMOTimeInfo& info) const;

  long m_lOMCNETimeZone = 0;
  std::string m_strOMCNEFDN;
  std::map<std::string, std::unique_ptr<KyroTZone>> m_mapTZ;
  mutable RW_Lock m_lock;  // "XRFMTimeCond::m_lock" in the lock monitor
};

class XRFMTimeCondMgr {
 public:
  // The manager, built and initialised on first use.
  static XRFMTimeCondMgr* instance();
  static void destroy();

  void init();
  long GetNECurrentTime(const std::string& neFdn, long utc, CMOTimeInfo& info);
  long NETimeZone(const std::string& neFdn);
  XRFMTimeCond* getTimeCond() { return m_pTimeCond.get(); }

  XRFMTimeCondMgr(const XRFMTimeCondMgr&) = delete;
  XRFMTimeCondMgr& operator=(const XRFMTimeCondMgr&) = delete;
  ~XRFMTimeCondMgr();

 private:
  XRFMTimeCondMgr();

  std::unique_ptr<XRFMTimeCond> m_pTimeCond;

  static std::atomic<XRFMTimeCondMgr*> m_instance;
  static ACE_Thread_Mutex m_mtxInstance;
};

}  // namespace Kyrofm

#endif
