// TimeLeaves.cpp: the time-window, duration, delay, time-condition and
// time-mode leaves of the filter tree.
//
// Arithmetic on record times saturates at the limits of long instead of
// wrapping, so that a corrupt time field can never turn a window test into its
// opposite. Times up to the year 9999 stay far from those limits, in memory and
// in the 64-bit SQL expressions alike.
#include "fm_common/filter/TimeLeaves.h"

#include <climits>
#include <ctime>
#include <vector>

#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/fmcommon/FMTools.h"
#include "fm_common/fmcommon/SysAttr.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/time/XRFMTimeUtil.h"

namespace Kyrofm {
namespace {

const char* const kSelectNothing = " ( 0 > 1 ) ";
// The low 16 bits of a DST field hold the server DST offset plus this.
constexpr long kDstBias = 21600;
constexpr long kDstModulus = 65536;

long systemClock() { return static_cast<long>(std::time(nullptr)); }
TimeLeafClock g_clock = &systemClock;

long satAdd(long a, long b) {
  long r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? LONG_MAX : LONG_MIN;
  return r;
}
long satSub(long a, long b) {
  long r;
  if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? LONG_MAX : LONG_MIN;
  return r;
}

// A whole decimal integer (blanks around and a sign allowed); the empty text
// reads as 0. Embedded NUL bytes and trailing text are refused.
bool readNumber(const std::string& text, long& value) {
  if (text.find('\0') != std::string::npos) return false;
  if (text.find_first_not_of(" \t") == std::string::npos) {
    value = 0;
    return true;
  }
  return KyroUtils::parseLong(text, value);
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

int dbType() { return Kyrofmdb::CDBMaintain::instance()->getDBType(); }
// The integer type of the CAST dialect: 64-bit on every database.
const char* castType(int db) { return db == Kyrofmdb::FM_DBTYPE_POSTGRESQL ? "bigint" : "int"; }

long svrOffset() { return CSysAttr::Instance()->GetSvrTimeZone(); }

// Server local time of a UTC time and its DST field: utc + k + dst % 65536.
long localTime(long utc, long dst, long k) { return satAdd(satAdd(utc, k), dst % kDstModulus); }

void join(std::string& text, const std::string& term) {
  if (term.empty()) return;
  text = text.empty() ? term : text + " and " + term;
}

// The server-local window texts of a leaf on (dstCol, utcCol) with offset k in
// the dialect of `db`, spaced as deployed: the occurrence leaf writes
// " CAST( ... As int ) >= " and " CAST ( ... AS int) <= ", the clearance and
// acknowledgement leaves " CAST ( ... As int) >= " and " CAST( ... AS int) <= ".
struct LocalTexts {
  std::string ge, gt, le;
};
LocalTexts localTexts(long k, const std::string& dstCol, const std::string& utcCol, int db, bool occurLayout) {
  const std::string sum = std::to_string(k) + " + " + dstCol;
  const std::string ct = castType(db);
  LocalTexts t;
  if (db == Kyrofmdb::FM_DBTYPE_MODFUNC) {
    const std::string head = " ( " + std::to_string(k) + " + mod(" + dstCol + ",65536) + " + utcCol;
    t.ge = head + " ) >= ";
    t.gt = head + " ) > ";
    t.le = head + (occurLayout ? " ) <= " : ") <= ");
  } else {
    const std::string open1 = occurLayout ? " CAST( " : " CAST ( ";
    const std::string close1 = occurLayout ? " ) " : ") ";
    const std::string open2 = occurLayout ? " CAST ( " : " CAST( ";
    t.ge = open1 + sum + "%65536 + " + utcCol + " As " + ct + close1 + ">= ";
    t.gt = open1 + sum + "%65536 + " + utcCol + " As " + ct + close1 + "> ";
    t.le = open2 + sum + "%65536 + " + utcCol + " AS " + ct + ") <= ";
  }
  return t;
}

}  // namespace

TimeLeafClock setTimeLeafClock(TimeLeafClock clock) {
  TimeLeafClock previous = g_clock;
  g_clock = clock != nullptr ? clock : &systemClock;
  return previous;
}

long timeLeafNow() { return g_clock(); }

// ---------------------------------------------------------------------------
// Window leaves

bool TimeWindowExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  if (values.size() < 5) {
    FM_TRACE(TRACE_ERROR, m_pFilterMsg, static_cast<int>(values.size()));
    return false;
  }
  std::string v[5];
  std::copy_n(values.begin(), 5, v);
  return apply(v, selectAll, true);
}

bool TimeWindowExp::setStringContent(const std::string& content) {
  std::vector<std::string> parts = KyroUtils::split(content, ',');
  std::string v[5];
  for (size_t i = 0; i < 5 && i < parts.size(); ++i) v[i] = parts[i];
  return apply(v, false, false);
}

bool TimeWindowExp::apply(const std::string values[5], bool selectAll, bool storeSelectAll) {
  long n[5];
  for (int i = 0; i < 5; ++i) {
    if (!readNumber(values[i], n[i])) {
      FM_TRACE(TRACE_ERROR, "%s", m_pRangeMsg);
      return false;
    }
  }
  long start = 0, end = 0;
  const bool open = n[1] == 0 && n[2] == 0 && n[3] == 0 && n[4] == 0;
  if (!open && !getTimeRange(n[1], n[2], n[3], n[4], n[0], start, end)) {
    FM_TRACE(TRACE_ERROR, "%s", m_pRangeMsg);
    return false;
  }
  m_lTimeType = n[0];
  m_lStart = start;
  m_lEnd = end;
  setMatchAll(open);
  if (storeSelectAll) setSelectAll(selectAll);
  return true;
}

bool TimeWindowExp::inWindow(long t) const {
  if (hasStart() && (m_bStrict ? t <= m_lStart : t < m_lStart)) return false;
  return !hasEnd() || t <= m_lEnd;
}

std::string TimeWindowExp::startTerm(const std::string& ge, const std::string& gt) const {
  return hasStart() ? (m_bStrict ? gt : ge) + std::to_string(m_lStart) : std::string();
}

std::string TimeWindowExp::endTerm(const std::string& le) const {
  return hasEnd() ? le + std::to_string(m_lEnd) : std::string();
}

DateTimeExp::DateTimeExp(const std::string& condName, char op, bool strict)
    : TimeWindowExp(condName, op, strict, "DateTimeExp::setFilter failed, filter size:%d",
                    "AckDateTimeExp:: CheckTimeValid, Date or Time is not valid") {}

bool DateTimeExp::evaluate(const AlmRecord_t& r) const {
  long t;
  switch (getTimeType()) {
    case 4:
    case 5: t = r.getOccurUtcTime(); break;
    case 2: t = r.getOccurNeTime(); break;
    case 6: t = r.getArrivedUtcTime(); break;
    default: t = localTime(r.getOccurUtcTime(), r.getOccurDst(), satSub(svrOffset(), kDstBias));
  }
  return inWindow(t);
}

std::string DateTimeExp::sqlWhereCond(const std::string&) const {
  std::string text;
  const long type = getTimeType();
  if (type == 4 || type == 5 || type == 6) {
    const std::string col = type == 6 ? "ArrivedUtcTime" : "OccurUtc";
    join(text, startTerm("  " + col + "  >= ", " " + col + " > "));
    join(text, endTerm("  " + col + "  <= "));
  } else if (type == 2) {
    join(text, startTerm(" OccurTime >= ", " OccurTime > "));
    join(text, endTerm(" OccurTime <= "));
  } else if (hasStart() || hasEnd()) {
    LocalTexts t = localTexts(svrOffset() - kDstBias, "OccurDst", "OccurUtc", dbType(), true);
    join(text, startTerm(t.ge, t.gt));
    join(text, endTerm(t.le));
  }
  return text;
}

ClearDateTimeExp::ClearDateTimeExp(const std::string& condName, char op, bool strict)
    : TimeWindowExp(condName, op, strict, "DateTimeExp::setFilter failed, filter size:%d",
                    "ClearDateTimeExp:: CheckTimeValid, Date or Time is not valid") {}

bool ClearDateTimeExp::evaluate(const AlmRecord_t& r) const {
  if (r.getClearStatus() != 1) return false;
  long t;
  switch (getTimeType()) {
    case 4:
    case 5: t = r.getClearUtcTime(); break;
    case 2: t = r.getClearNeTime(); break;
    case 7: t = r.getParam(2) > 0 ? r.getParam(2) : r.getClearUtcTime(); break;
    default: t = localTime(r.getClearUtcTime(), r.getClearDst(), satSub(svrOffset(), kDstBias));
  }
  return inWindow(t);
}

std::string ClearDateTimeExp::sqlWhereCond(const std::string& table) const {
  if (filterdetail::tableEquals(table, "tbl_event_log")) return kSelectNothing;
  const long type = getTimeType();
  // Uncleared rows carry zero clearance times, which a start bound excludes;
  // without one (and for parameter 2, which an uncleared alarm may carry) the
  // cleared test keeps them out.
  std::string text = (!hasStart() || type == 7) ? " IsCleared = 1" : "";
  if (type == 2) {
    join(text, startTerm(" ClearTime >= ", " ClearTime > "));
    join(text, endTerm(" ClearTime <= "));
  } else if (type == 4 || type == 5) {
    join(text, startTerm(" ClearUtc >= ", " ClearUtc > "));
    join(text, endTerm(" ClearUtc <= "));
  } else if (type == 7) {
    if (hasStart() || hasEnd()) {
      std::string a, b;
      join(a, startTerm(" para2 >= ", " para2 > "));
      join(a, endTerm(" para2 <= "));
      join(b, startTerm(" ClearUtc >= ", " ClearUtc > "));
      join(b, endTerm(" ClearUtc <= "));
      join(text, std::string(" ( ") + " ( para2 > 0 and " + a + " ) " + " or " + " ( para2 <= 0 and " + b + " ) " +
                     " ) ");
    }
  } else if (hasStart() || hasEnd()) {
    LocalTexts t = localTexts(svrOffset() - kDstBias, "ClearDst", "ClearUtc", dbType(), false);
    join(text, startTerm(t.ge, t.gt));
    join(text, endTerm(t.le));
  }
  return text;
}

AckDateTimeExp::AckDateTimeExp(const std::string& condName, char op, bool strict)
    : TimeWindowExp(condName, op, strict, "AckDateTimeExp::setFilter failed, filter size:%d",
                    "AckDateTimeExp:: CheckTimeValid, Date or Time is not valid") {}

bool AckDateTimeExp::evaluate(const AlmRecord_t& r) const {
  if (r.getAckStatus() != 1) return false;
  const long type = getTimeType();
  long t = (type == 4 || type == 5) ? r.getAckUtcTime() : localTime(r.getAckUtcTime(), r.getAckDst(), svrOffset());
  return inWindow(t);
}

std::string AckDateTimeExp::sqlWhereCond(const std::string& table) const {
  if (filterdetail::tableEquals(table, "tbl_event_log")) return kSelectNothing;
  // Unacknowledged rows carry zero acknowledgement times: see the clearance leaf.
  std::string text = hasStart() ? "" : " IsConfirmed = 1";
  const long type = getTimeType();
  if (type == 4 || type == 5) {
    join(text, startTerm(" AckUtc >= ", " AckUtc > "));
    join(text, endTerm(" AckUtc <= "));
  } else if (hasStart() || hasEnd()) {
    LocalTexts t = localTexts(svrOffset(), "AckDst", "AckUtc", dbType(), false);
    join(text, startTerm(t.ge, t.gt));
    join(text, endTerm(t.le));
  }
  return text;
}

// ---------------------------------------------------------------------------
// Duration

bool AlarmDurationExp::calculateAlarmDuration(const std::string& text, long& seconds) {
  const std::string::size_type colon = text.find(':');
  long count = 0;
  if (colon == std::string::npos || !readNumber(text.substr(colon + 1), count)) {
    FM_TRACE(TRACE_ERROR, "AlarmDurationExp::calculateAlarmDuration, szDuration:%s, error format!", text.c_str());
    return false;
  }
  const std::string unit = text.substr(0, colon);
  long factor;
  if (unit == "hour") {
    factor = 3600;
  } else if (unit == "day") {
    factor = 86400;
  } else if (unit == "minute") {
    factor = 60;
  } else {
    FM_TRACE(TRACE_ERROR, "AlarmDurationExp::calculateAlarmDuration, time type: %s,error!", unit.c_str());
    return false;
  }
  long result;
  if (count < 0 || __builtin_mul_overflow(count, factor, &result)) {
    FM_TRACE(TRACE_ERROR, "AlarmDurationExp::calculateAlarmDuration, execute time %s:%ld, error!", unit.c_str(),
             count);
    return false;
  }
  seconds = result;
  FM_TRACE(TRACE_DETAIL, "AlarmDurationExp::calculateAlarmDuration,%s => %ld sec, ", text.c_str(), seconds);
  return true;
}

bool AlarmDurationExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  long seconds = 0;
  if (values.empty()) {
    FM_TRACE(TRACE_ERROR, "AlarmDurationExp::setFilter failed, filter size:%d", 0);
    return false;
  }
  if (!calculateAlarmDuration(values.front(), seconds)) return false;
  m_lDuration = seconds;
  m_setDuration = {seconds};
  setSelectAll(selectAll);
  return true;
}

bool AlarmDurationExp::setStringContent(const std::string& content) {
  std::list<std::string> parts;
  String2List(content, parts, ",");
  if (parts.empty()) {
    FM_TRACE(TRACE_ERROR, "AlarmDurationExp::setStringContent failed, result size:%d", 0);
    return false;
  }
  long seconds = 0;
  if (!calculateAlarmDuration(parts.front(), seconds)) return false;
  m_lDuration = seconds;
  m_setDuration = {seconds};
  return true;
}

bool AlarmDurationExp::evaluate(const AlmRecord_t& r) const {
  long d;
  const char cleared = r.getClearStatus();
  if (cleared == 1) {
    d = satSub(r.getClearUtcTime(), r.getOccurUtcTime());
  } else if (cleared == 0) {
    d = satSub(timeLeafNow(), r.getOccurUtcTime());
  } else {
    FM_TRACE(TRACE_ERROR, "AlarmDurationExp::evaluate failed, err cRestore:%d", static_cast<int>(cleared));
    return false;
  }
  return evaluateInt(d, m_setDuration);
}

std::string AlarmDurationExp::createDBCriterion(const std::string& x, int db) const {
  // The operator table of evaluateInt for a one-value set.
  const char* op;
  switch (getOperator()) {
    case 1: case 7: case 8: case 11: case 12: op = " = "; break;
    case 2: case 9: op = " <> "; break;
    case 3: op = " > "; break;
    case 4: case 10: op = " >= "; break;
    case 5: op = " < "; break;
    case 6: op = " <= "; break;
    default:
      FM_TRACE(TRACE_ERROR, "AlarmDurationExp::createDBCriterion, op:%d error!", static_cast<int>(getOperator()));
      return kSelectNothing;
  }
  const std::string lhs = db == Kyrofmdb::FM_DBTYPE_MODFUNC ? x : " CAST ( " + x + " as " + castType(db) + ") ";
  return lhs + op + std::to_string(m_lDuration);
}

std::string AlarmDurationExp::sqlWhereCond(const std::string& table) const {
  const std::string low = filterdetail::lowered(table);
  if (startsWith(low, "tbl_event_log")) return kSelectNothing;
  // The alarm log and the masked alarms hold uncleared alarms as well: every
  // alarm table gets both branches, as evaluate() has them.
  if (low != "tbl_cur_alm" && low != "tbl_mask_alm" && !startsWith(low, "tbl_alm_log")) return kSelectNothing;
  const int db = dbType();
  const std::string& a = table;
  return "( " + a + ".IsCleared=" + "1" + " and " + createDBCriterion(a + ".ClearUtc - " + a + ".OccurUtc ", db) +
         " ) or ( " + a + ".IsCleared=" + "0" + " and " +
         createDBCriterion(std::to_string(timeLeafNow()) + " - " + a + ".OccurUtc ", db) + " )";
}

// ---------------------------------------------------------------------------
// Delay, time condition, time mode

bool DelayDayExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  if (values.empty()) {
    FM_TRACE(TRACE_ERROR, "DelayDayExp::setFilter failed, filter size:%d", 0);
    return false;
  }
  long days = 0;
  if (!readNumber(values.front(), days)) {
    FM_TRACE(TRACE_ERROR, "DelayDayExp::setFilter failed, days:%s", values.front().c_str());
    return false;
  }
  m_lDays = days;
  setSelectAll(selectAll);
  return true;
}

bool DelayDayExp::evaluate(const AlmRecord_t& r) const {
  if (m_lDays == 0) return true;
  long back;
  if (__builtin_mul_overflow(m_lDays, 86400L, &back)) back = m_lDays > 0 ? LONG_MAX : LONG_MIN;
  return r.getClearUtcTime() <= satSub(timeLeafNow(), back);
}

TimeCondExp::TimeCondExp(const std::string& condName, char op, bool) : BasicExp(condName, op) {}

bool TimeCondExp::setStringContent(const std::string& content) {
  tagTimeCond cond;
  std::list<std::string> periods;
  if (!isStr2TimeCond(content, cond, periods)) return false;
  m_TimeCond = cond;
  return true;
}

bool TimeCondExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  if (values.size() != 1) {
    FM_TRACE(TRACE_ERROR, "TimeCondExp::setFilter failed, filter size:%ld", static_cast<long>(values.size()));
    return false;
  }
  if (!setStringContent(values.front())) return false;
  setSelectAll(selectAll);
  return true;
}

bool TimeCondExp::evaluate(const AlmRecord_t& r) const {
  const long t = satAdd(satAdd(r.getOccurUtcTime(), svrOffset()), CSysAttr::Instance()->GetSvrDSTOffset());
  const time_t tt = static_cast<time_t>(t);
  struct tm when {};
  if (gmtime_r(&tt, &when) == nullptr) return false;
  tagTimeCond now;
  getTime2TimeCond(now, when);
  if ((now.m_bitWeekDay & m_TimeCond.m_bitWeekDay).none() || now.m_vecPeriod.empty()) return false;
  const long second = now.m_vecPeriod.front().first;
  for (const auto& p : m_TimeCond.m_vecPeriod) {
    if ((p.first == -1 && p.second == -1) || (p.first <= second && second <= p.second)) return true;
  }
  return false;
}

TimeModeExp::TimeModeExp(const std::string& condName, char op, bool) : BasicExp(condName, op) {}

bool TimeModeExp::setStringContent(const std::string&) {
  setMatchAll(true);
  return true;
}

bool TimeModeExp::setFilter(const std::list<std::string>&, bool selectAll) {
  setMatchAll(true);
  setSelectAll(selectAll);
  return true;
}

}  // namespace Kyrofm
