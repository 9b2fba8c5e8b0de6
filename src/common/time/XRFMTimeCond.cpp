// XRFMTimeCond.cpp: parsing and testing of weekly time conditions, and the NE
// local time through the zone cache.
#include "fm_common/time/XRFMTimeCond.h"

#include <ace/Guard_T.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fm_common/fmcommon/SysAttr.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/EAMUtil2DB.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroTZone.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/time/XRFMTimeUtil.h"

namespace Kyrofm {

namespace {

// Splits at `sep`, keeping empty pieces; an empty text gives no piece.
std::vector<std::string> split(const std::string& text, char sep) {
  return text.empty() ? std::vector<std::string>() : KyroUtils::split(text, sep);
}

bool parseLong(const std::string& text, long& value) { return KyroUtils::parseLong(text, value); }

// Two digits at `pos` of `period` as a number; -1 when they are not digits.
long twoDigits(const std::string& period, size_t pos) {
  if (pos + 2 > period.size()) return -1;
  char a = period[pos], b = period[pos + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

struct PeriodMessages {
  const char* startHour;
  const char* startMin;
  const char* endHour;
  const char* endMin;
};

// Messages of a period followed by "|" and of the last period.
const PeriodMessages kInnerPeriod = {"getTimeRanges,TIME INVALID:%d", "getTimeRanges,min INVALID:%d",
                                     "getTimeRanges,end time INVALID:%d",
                                     "CRNAttrUserCond::getTimeRanges,end min INVALID:%d"};
const PeriodMessages kLastPeriod = {"getTimeRanges,start hour INVALID:%d", "getTimeRanges,start min INVALID:%d",
                                    "getTimeRanges,end hour INVALID:%d", "getTimeRanges,end min INVALID:%d"};

// Parses one "HHMMHHMM" period; false (logged) when it is not one.
bool parsePeriod(const std::string& period, const PeriodMessages& msg, std::pair<long, long>& out) {
  long sh = twoDigits(period, 0), sm = twoDigits(period, 2), eh = twoDigits(period, 4), em = twoDigits(period, 6);
  if (sh < 0 || sh > 23) {
    FM_TRACE(TRACE_ERROR, msg.startHour, static_cast<int>(sh));
    return false;
  }
  if (sm < 0 || sm > 59) {
    FM_TRACE(TRACE_ERROR, msg.startMin, static_cast<int>(sm));
    return false;
  }
  if (eh < 0 || eh > 23) {
    FM_TRACE(TRACE_ERROR, msg.endHour, static_cast<int>(eh));
    return false;
  }
  if (em < 0 || em > 59) {
    FM_TRACE(TRACE_ERROR, msg.endMin, static_cast<int>(em));
    return false;
  }
  if (period.size() != 8) {
    FM_TRACE(TRACE_ERROR, "getTimeRanges,period INVALID:%s", period.c_str());
    return false;
  }
  long end = eh * 3600 + em * 60;
  out = std::make_pair(sh * 3600 + sm * 60, end == 0 ? 86400L : end);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Free functions

long getBitWeekDay(const std::string& text, std::bitset<7>& bits) {
  FM_TRACE(TRACE_PROGRESS, "BD:%s,l:%d", text.c_str(), 7);
  bits.reset();
  if (text.empty()) return FM_SUCCESS;
  for (const auto& part : split(text, ',')) {
    long n = 0;
    if (!parseLong(part, n) || n > 7 || n < 1) {
      FM_TRACE(TRACE_ERROR, "getBitDatasCommon,end INVALID:%d", std::atoi(part.c_str()));
      return FM_FAILURE;
    }
    bits.set(static_cast<size_t>(n - 1));
  }
  return FM_SUCCESS;
}

long getTimeRanges(const std::string& text, std::vector<std::pair<long, long>>& ranges) {
  ranges.clear();
  if (text.empty()) {
    ranges.emplace_back(TIMECOND_WHOLE_DAY, TIMECOND_WHOLE_DAY);
    return FM_SUCCESS;
  }
  std::string::size_type p = 0;
  while (p < text.size()) {
    auto bar = text.find('|', p);
    if (bar == std::string::npos) break;
    std::pair<long, long> period;
    if (!parsePeriod(text.substr(p, bar - p), kInnerPeriod, period)) return FM_FAILURE;
    ranges.push_back(period);
    p = bar + 1;
  }
  if (p < text.size()) {
    std::pair<long, long> period;
    if (!parsePeriod(text.substr(p), kLastPeriod, period)) return FM_FAILURE;
    ranges.push_back(period);
  }
  return FM_SUCCESS;
}

void setAllTimeNotify(tagTimeCond& cond) {
  cond.m_bitWeekDay.set();
  cond.m_vecPeriod.assign(1, std::make_pair(TIMECOND_WHOLE_DAY, TIMECOND_WHOLE_DAY));
}

bool isTimeCondEmpty(const std::list<CNMTime>& conds) {
  for (const auto& c : conds) {
    if (!c.m_strWeekDay.empty() || !c.m_strPeriod.empty()) return false;
  }
  return true;
}

long transFormTimeCond(const std::list<CNMTime>& in, std::list<tagTimeCond>& out) {
  out.clear();
  if (isTimeCondEmpty(in)) {
    tagTimeCond all;
    setAllTimeNotify(all);
    out.push_back(all);
    return FM_SUCCESS;
  }
  size_t appended = 0, skipped = 0;
  for (const auto& c : in) {
    if (c.m_strWeekDay.empty() && c.m_strPeriod.empty()) {
      ++skipped;
      continue;
    }
    tagTimeCond cond;
    if (c.m_strWeekDay.empty()) {
      cond.m_bitWeekDay.set();
    } else if (getBitWeekDay(c.m_strWeekDay, cond.m_bitWeekDay) != FM_SUCCESS) {
      continue;
    }
    if (getTimeRanges(c.m_strPeriod, cond.m_vecPeriod) == FM_SUCCESS) {
      out.push_back(cond);
      ++appended;
    }
  }
  if (appended + skipped == in.size()) return FM_SUCCESS;
  return appended > 0 ? FM_PARTIAL_SUCCESS : FM_FAILURE;
}

bool isStr2TimeCond(const std::string& text, tagTimeCond& cond, std::list<std::string>& periods) {
  if (text.empty()) {
    FM_TRACE(TRACE_ERROR, "isStr2TimeCond,strTimeCond is empty.");
    return false;
  }
  auto parts = split(text, ';');
  if (parts.empty() || parts.size() > 2) {
    FM_TRACE(TRACE_ERROR, "isStr2TimeCond,timeCondStr is invalid.timeCondStr Size: %d",
             static_cast<int>(parts.size()));
    return false;
  }
  // An empty week-day part means every day, as in the entered form.
  long ret = FM_SUCCESS;
  if (parts[0].empty()) {
    cond.m_bitWeekDay.set();
  } else {
    ret = getBitWeekDay(parts[0], cond.m_bitWeekDay);
  }
  if (ret != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "isStr2TimeCond,WeekDay is invalid.lRet: %ld", ret);
    return false;
  }
  if (parts.size() == 1) {
    cond.m_vecPeriod.assign(1, std::make_pair(TIMECOND_WHOLE_DAY, TIMECOND_WHOLE_DAY));
    return true;
  }
  auto list = split(parts[1], '|');
  if (list.size() > TIMECOND_MAX_PERIODS) {
    FM_TRACE(TRACE_ERROR, "isStr2TimeCond,Period is invalid.lstperiod size: %ld", static_cast<long>(list.size()));
    return false;
  }
  for (const auto& period : list) {
    if (period.size() != 8) {
      FM_TRACE(TRACE_ERROR, "isStr2TimeCond,Period is invalid.period size: %ld", static_cast<long>(period.size()));
      return false;
    }
  }
  periods.insert(periods.end(), list.begin(), list.end());
  ret = getTimeRanges(parts[1], cond.m_vecPeriod);
  if (ret != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "isStr2TimeCond,timeCond is invalid.lRet: %ld", ret);
    return false;
  }
  return true;
}

void getTime2TimeCond(tagTimeCond& cond, const struct tm& when) {
  cond.m_bitWeekDay.reset();
  int wday = when.tm_wday;
  if (wday >= 0 && wday <= 6) cond.m_bitWeekDay.set(wday == 0 ? 6 : static_cast<size_t>(wday - 1));
  long second = when.tm_hour * 3600L + when.tm_min * 60L + when.tm_sec;
  cond.m_vecPeriod.assign(1, std::make_pair(second, -1L));
}

bool IsMeetTimeCond(const std::list<tagTimeCond>& conds) {
  time_t now = std::time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) {
    FM_TRACE(TRACE_ERROR, "IsMeetTimeCond, localtime_r fail");
    return false;
  }
  return IsMeetTimeCond(conds, local);
}

bool IsMeetTimeCond(const std::list<tagTimeCond>& conds, const struct tm& when) {
  tagTimeCond instant;
  getTime2TimeCond(instant, when);
  long t = instant.m_vecPeriod.front().first;
  for (const auto& c : conds) {
    if ((c.m_bitWeekDay & instant.m_bitWeekDay).none()) continue;
    for (const auto& p : c.m_vecPeriod) {
      if (p.first == -1 || p.second == -1) return true;
      if (p.first <= t && t <= p.second) return true;
    }
  }
  return false;
}

bool checkAutoTaskTimeValid(const std::string& text) {
  auto parts = split(text, ':');
  if (parts.size() != 2) {
    FM_TRACE(TRACE_ERROR, "checkAutoTaskTimeValid, size%d", static_cast<int>(parts.size()));
    return false;
  }
  long hour = -1, minute = -1;
  if (!parseLong(parts[0], hour) || hour < 0 || hour > 23) {
    FM_TRACE(TRACE_ERROR, "checkAutoTaskTimeValid, execute time hour:%d, error!", std::atoi(parts[0].c_str()));
    return false;
  }
  if (!parseLong(parts[1], minute) || minute < 0 || minute > 59) {
    FM_TRACE(TRACE_ERROR, "checkAutoTaskTimeValid, execute time minute:%d, error!", std::atoi(parts[1].c_str()));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// XRFMTimeCond

XRFMTimeCond::XRFMTimeCond() : m_lock("XRFMTimeCond::m_lock") {}

XRFMTimeCond::~XRFMTimeCond() {
  Write_Lock_Guard guard(m_lock);
  m_mapTZ.clear();
}

void XRFMTimeCond::init() {
  m_lOMCNETimeZone = CSysAttr::Instance()->GetSvrTimeZone();
  m_strOMCNEFDN = CFDNSplitter::instance()->getRootFdn();
  FM_TRACE(TRACE_PROGRESS, "XRFMTimeUtil::Init,m_lOMCNETimeZone:%d,  m_strOMCNEFDN:%s",
           static_cast<int>(m_lOMCNETimeZone), m_strOMCNEFDN.c_str());
}

size_t XRFMTimeCond::getZoneCacheSize() const {
  Read_Lock_Guard guard(m_lock);
  return m_mapTZ.size();
}

KyroTZone* XRFMTimeCond::GetTZBystrZone(const std::string& zone) {
  auto it = m_mapTZ.find(zone);
  if (it != m_mapTZ.end()) return it->second.get();
  std::unique_ptr<KyroTZone> tz = KyroTZone::create(zone);
  if (!tz) return nullptr;
  KyroTZone* p = tz.get();
  m_mapTZ.emplace(zone, std::move(tz));
  FM_TRACE(TRACE_PROGRESS, "XRFMTimeCond::GetTZBystrZone strTZ:[%s]", zone.c_str());
  return p;
}

long XRFMTimeCond::serverTime(long utc, CMOTimeInfo& info) const {
  info.m_lNEDstOffset = XRFMTimeUtil::GetSvrCurrentDstOffset(utc);
  if (__builtin_add_overflow(utc, m_lOMCNETimeZone, &info.m_lNELocalTime) ||
      __builtin_add_overflow(info.m_lNELocalTime, info.m_lNEDstOffset, &info.m_lNELocalTime)) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeCond::GetNECurrentTime, utc time %ld out of range", utc);
    info = CMOTimeInfo();
    return FM_INVALID_ARG;
  }
  return FM_SUCCESS;
}

long XRFMTimeCond::GetNECurrentTime(const std::string& neFdn, long utc, CMOTimeInfo& info) {
  std::string zone;
  int ret = EAMUtil2DB::GetZoneInfoByNe(neFdn, zone);
  if (ret != 0 || zone.size() <= 1) {
    FM_TRACE(TRACE_PROGRESS,
             "XRFMTimeCond::GetNECurrentTime GetZoneInfoByNe failed. iRet:%d, strNEFDN:%s, strKYROTZone=[%s]", ret,
             neFdn.c_str(), zone.c_str());
    return serverTime(utc, info);
  }
  KyroTime local;
  MOTimeInfo_t mo;
  long localRet = 0, moRet = 0;
  bool dst = false;
  {
    Write_Lock_Guard guard(m_lock);
    KyroTZone* tz = GetTZBystrZone(zone);
    if (tz == nullptr) {
      FM_TRACE(TRACE_ERROR, "XRFMTimeCond::GetNECurrentTime GetTZBystrZone fail, pTZ is NULL");
      return serverTime(utc, info);
    }
    localRet = tz->getLocalTime(utc, local);
    dst = localRet == 0 && local.isdst > 0;
    if (dst) moRet = tz->getMOTimeInfo(mo, utc);
  }
  if (localRet != 0) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeCond::GetNECurrentTime getLocalTime fail,DN:%s,timezone:%s,ret:%ld",
             neFdn.c_str(), zone.c_str(), localRet);
    return serverTime(utc, info);
  }
  info.m_lNELocalTime = KyroTZone::toLongTime(local);
  info.m_lNEDstOffset = 0;
  if (dst) {
    if (moRet != 0) {
      FM_TRACE(TRACE_ERROR, "XRFMTimeCond::GetNECurrentTime getMOTimeInfo fail!");
    } else {
      info.m_lNEDstOffset = mo.lDstOffset;
    }
  }
  long diff = info.m_lNELocalTime - utc;
  if (diff > 86400 || diff < -86400) {
    FM_TRACE(TRACE_ERROR,
             "XRFMTimeCond::GetNECurrentTime getLocalTime success,nelocalTime:%ld,nedstoffset:%ld, utctime:%ld",
             info.m_lNELocalTime, info.m_lNEDstOffset, utc);
  }
  if (info.m_lNELocalTime < 1) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeCond::GetNECurrentTime failed, NELocalTime is: %ld", info.m_lNELocalTime);
    return serverTime(utc, info);
  }
  return FM_SUCCESS;
}

long XRFMTimeCond::NETimeZone(const std::string& neFdn) {
  std::string zone;
  int ret = EAMUtil2DB::GetZoneInfoByNe(neFdn, zone);
  if (ret != 0 || zone.size() <= 1) {
    FM_TRACE(TRACE_PROGRESS,
             "XRFMTimeCond::NETimeZone GetZoneInfoByNe fail. using server TimeZone, iRet:%d,strNEFDN:%s, "
             "strKYROTZone=[%s]",
             ret, neFdn.c_str(), zone.c_str());
    return m_lOMCNETimeZone;
  }
  MOTimeInfo_t mo;
  long moRet = 0;
  {
    Write_Lock_Guard guard(m_lock);
    KyroTZone* tz = GetTZBystrZone(zone);
    if (tz == nullptr) {
      FM_TRACE(TRACE_ERROR, "XRFMTimeCond::NETimeZone GetTZBystrZone fail, pTZ is NULL");
      return m_lOMCNETimeZone;
    }
    moRet = tz->getMOTimeInfo(mo);
  }
  if (moRet != 0) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeCond::NETimeZone GetTZBystrZone fail,DN:%s,timezone:%s,ret:%ld", neFdn.c_str(),
             zone.c_str(), moRet);
    return m_lOMCNETimeZone;
  }
  return mo.lTimeZone;
}

// ---------------------------------------------------------------------------
// XRFMTimeCondMgr

std::atomic<XRFMTimeCondMgr*> XRFMTimeCondMgr::m_instance{nullptr};
ACE_Thread_Mutex XRFMTimeCondMgr::m_mtxInstance;

XRFMTimeCondMgr::XRFMTimeCondMgr() : m_pTimeCond(std::make_unique<XRFMTimeCond>()) {}

XRFMTimeCondMgr::~XRFMTimeCondMgr() = default;

XRFMTimeCondMgr* XRFMTimeCondMgr::instance() {
  XRFMTimeCondMgr* p = m_instance.load(std::memory_order_acquire);
  if (p) return p;
  ACE_Guard<ACE_Thread_Mutex> guard(m_mtxInstance);
  p = m_instance.load(std::memory_order_relaxed);
  if (p) return p;
  try {
    std::unique_ptr<XRFMTimeCondMgr> mgr(new XRFMTimeCondMgr());
    mgr->init();
    p = mgr.release();
    m_instance.store(p, std::memory_order_release);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "XRFMTimeCondMgr::instance, exception: %s", e.what());
    return nullptr;
  }
  return p;
}

void XRFMTimeCondMgr::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mtxInstance);
  delete m_instance.exchange(nullptr, std::memory_order_acq_rel);
}

void XRFMTimeCondMgr::init() { m_pTimeCond->init(); }

long XRFMTimeCondMgr::GetNECurrentTime(const std::string& neFdn, long utc, CMOTimeInfo& info) {
  return m_pTimeCond->GetNECurrentTime(neFdn, utc, info);
}

long XRFMTimeCondMgr::NETimeZone(const std::string& neFdn) { return m_pTimeCond->NETimeZone(neFdn); }

}  // namespace Kyrofm
