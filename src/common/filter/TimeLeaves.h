// TimeLeaves.h: the filter leaves that test when something happened to an alarm.
//
//   condition type  leaf class         tests
//   "TIME"          DateTimeExp        occurrence time inside a window
//   "CLEARTIME"     ClearDateTimeExp   clearance time inside a window
//   "ACKTIME"       AckDateTimeExp     acknowledgement time inside a window
//   "DURATION"      AlarmDurationExp   how long the alarm lasted (or lasts)
//   "DELAYDAY"      DelayDayExp        cleared at least some days ago
//   "TIMECOND"      TimeCondExp        occurred inside a weekly time condition
//   "TIMEMODE"      TimeModeExp        placeholder, accepts everything
//
// Window leaves hold a time type, a start and an end in server standard
// seconds (0 or less: open bound) and the strict flag (the factory's build
// flag: the start bound is exclusive, in memory and in SQL alike). Time types:
//   1, 3 and unknown types  server local time: UTC + server standard offset +
//                           (DST field % 65536) - 21600; the acknowledgement
//                           leaf adds no -21600;
//   2                       NE time (occurrence and clearance leaves);
//   4, 5                    UTC;
//   6                       arrival UTC (occurrence leaf only);
//   7                       clearance leaf only: the record's parameter 2 when
//                           positive, else the clearance UTC.
// "%" is the remainder with the dividend's sign, in memory and in SQL.
//
// SQL dialects (CDBMaintain::getDBType()): type 2 writes mod(x,65536); other
// databases write x%65536 inside a CAST to int, which is 64-bit on SQLite; on
// PostgreSQL (type 3) the CAST is to bigint, because int is 32-bit there and
// times after 2038-01-19 would overflow it. Every SQL text selects exactly the
// rows whose records evaluate() accepts, with these exceptions by design:
//   - on "tbl_event_log" the clearance, acknowledgement and duration leaves
//     select nothing;
//   - TimeCondExp, DelayDayExp and TimeModeExp write no SQL (empty text): they
//     filter in memory only;
//   - AlarmDurationExp takes "now" when its SQL text is built and when
//     evaluate runs, so the two answers differ by the time between them;
//   - AlarmDurationExp selects nothing on tables it does not know.
//
// Clock: "now" is read through the process-wide clock function below
// (std::time by default); tests install a fixed clock with setTimeLeafClock.
//
// Thread safety: a leaf is immutable after setFilter/setStringContent; its
// const operations may run on several threads at once. setTimeLeafClock must
// not run concurrently with a leaf's evaluate or sqlWhereCond.
#ifndef FM_FILTER_TIMELEAVES_H
#define FM_FILTER_TIMELEAVES_H

#include <list>
#include <set>
#include <string>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/time/XRFMTimeCond.h"

namespace Kyrofm {

// The clock of the time leaves: current epoch seconds.
using TimeLeafClock = long (*)();
// Installs `clock` (null restores std::time); returns the previous one.
TimeLeafClock setTimeLeafClock(TimeLeafClock clock);
// The current seconds by the installed clock.
long timeLeafNow();

// Common part of the three window leaves. setFilter takes the values type,
// start date, start time, end date, end time (YYYYMMDD, HHMMSS);
// setStringContent the same five fields separated by "," (missing ones are 0).
// Each value is a whole decimal number (an empty one reads as 0); text after
// the digits or a NUL byte rejects the list like an invalid date. Four zero
// date/time values set the match-all flag. A rejected value list leaves the
// leaf unchanged. A bound of 0 or less is open, in memory and in SQL alike.
class TimeWindowExp : public BasicExp {
 public:
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  bool setStringContent(const std::string& content) override;
  long getSqlWhereCondLimitCount() const override { return 1; }

  long getTimeType() const { return m_lTimeType; }
  long getStart() const { return m_lStart; }
  long getEnd() const { return m_lEnd; }
  bool isStrict() const { return m_bStrict; }

 protected:
  // `filterMsg`: the text logged for a short value list; `rangeMsg`: the text
  // logged for an invalid window.
  TimeWindowExp(const std::string& condName, char op, bool strict, const char* filterMsg, const char* rangeMsg)
      : BasicExp(condName, op), m_bStrict(strict), m_pFilterMsg(filterMsg), m_pRangeMsg(rangeMsg) {}

  // True when t lies in the window (start exclusive when strict).
  bool inWindow(long t) const;
  // The start term: `ge` (or `gt` when strict) followed by the start in
  // decimal; the end term: `le` followed by the end. Empty for an open bound.
  std::string startTerm(const std::string& ge, const std::string& gt) const;
  std::string endTerm(const std::string& le) const;
  bool hasStart() const { return m_lStart > 0; }
  bool hasEnd() const { return m_lEnd > 0; }

 private:
  // Parses and checks the five values; on success stores them.
  bool apply(const std::string values[5], bool selectAll, bool storeSelectAll);

  long m_lTimeType = 1;
  long m_lStart = 0;
  long m_lEnd = 0;
  bool m_bStrict;
  const char* m_pFilterMsg;
  const char* m_pRangeMsg;
};

// Occurrence time in a window.
class DateTimeExp : public TimeWindowExp {
 public:
  DateTimeExp(const std::string& condName, char op, bool strict);
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  AlarmExp* copy() const override { return new DateTimeExp(*this); }
};

// Clearance time in a window; an uncleared alarm never matches. On tables
// other than the event log the SQL tests IsCleared = 1 whenever the window
// has no start or the type is 7 (bounds alone would let uncleared rows in).
class ClearDateTimeExp : public TimeWindowExp {
 public:
  ClearDateTimeExp(const std::string& condName, char op, bool strict);
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  AlarmExp* copy() const override { return new ClearDateTimeExp(*this); }
};

// Acknowledgement time in a window; an unacknowledged alarm never matches. On
// tables other than the event log the SQL tests IsConfirmed = 1 whenever the
// window has no start.
class AckDateTimeExp : public TimeWindowExp {
 public:
  AckDateTimeExp(const std::string& condName, char op, bool strict);
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  AlarmExp* copy() const override { return new AckDateTimeExp(*this); }
};

// Duration of an alarm: clearance minus occurrence UTC, or now minus
// occurrence for an uncleared one, compared with the leaf's duration by the
// operator table of evaluateInt (3 longer than, 4 at least, 5 shorter than, 6
// at most). A duration text is "hour:N", "day:N" or "minute:N" with N >= 0.
class AlarmDurationExp : public BasicExp {
 public:
  AlarmDurationExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  bool evaluate(const AlmRecord_t& record) const override;
  // Current-alarm, masked-alarm and alarm-log tables (the latter by prefix):
  // both the cleared and the uncleared branch; event log and unknown tables:
  // " ( 0 > 1 ) ".
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 1; }
  AlarmExp* copy() const override { return new AlarmDurationExp(*this); }
  bool setStringContent(const std::string& content) override;
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;

  long getDuration() const { return m_lDuration; }
  // Seconds of a duration text; false (logged) for a malformed text, an
  // unknown unit, a negative count or one whose seconds overflow.
  static bool calculateAlarmDuration(const std::string& text, long& seconds);

 private:
  // crit(x): x (or its cast) followed by the operator text and the duration.
  std::string createDBCriterion(const std::string& x, int dbType) const;
  long m_lDuration = 0;
  std::set<long> m_setDuration;  // {m_lDuration} once a duration is set
};

// Cleared at least `days` days ago (0: no condition). Uncleared alarms (clear
// time 0) pass. Memory only: the SQL text is empty.
class DelayDayExp : public BasicExp {
 public:
  DelayDayExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string&) const override { return ""; }
  long getSqlWhereCondLimitCount() const override { return 1; }
  AlarmExp* copy() const override { return new DelayDayExp(*this); }
  // Stores nothing, returns true.
  bool setStringContent(const std::string&) override { return true; }
  // The first value, a decimal integer, is the number of days.
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;

  long getDays() const { return m_lDays; }

 private:
  long m_lDays = 0;
};

// Occurrence inside a weekly time condition ("1,2,3,4,5;08001800"), in server
// time (UTC + standard offset + configured DST offset). Memory only.
class TimeCondExp : public BasicExp {
 public:
  TimeCondExp(const std::string& condName, char op, bool strict = false);
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string&) const override { return ""; }
  long getSqlWhereCondLimitCount() const override { return 1; }
  AlarmExp* copy() const override { return new TimeCondExp(*this); }
  bool setStringContent(const std::string& content) override;
  // Exactly one value, a condition string.
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;

  const tagTimeCond& getTimeCond() const { return m_TimeCond; }

 private:
  tagTimeCond m_TimeCond;
};

// The time mode: a placeholder that accepts every alarm.
class TimeModeExp : public BasicExp {
 public:
  TimeModeExp(const std::string& condName, char op, bool strict = false);
  bool evaluate(const AlmRecord_t&) const override { return true; }
  std::string sqlWhereCond(const std::string&) const override { return ""; }
  long getSqlWhereCondLimitCount() const override { return 1; }
  AlarmExp* copy() const override { return new TimeModeExp(*this); }
  bool setStringContent(const std::string&) override;
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
};

}  // namespace Kyrofm

#endif
