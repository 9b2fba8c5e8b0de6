// SysAttr.cpp: system attributes, alarm-window accounting and the server's
// daylight-saving rule.
#include "fm_common/fmcommon/SysAttr.h"

#include <cctype>
#include <ctime>
#include <vector>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroSetting.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

std::atomic<CSysAttr*> CSysAttr::m_pInstance{nullptr};
std::mutex CSysAttr::m_InstanceMutex;

namespace {

const char* const kVela = "/kyro/vela";
const char* const kAlmConf = "/kyro/vela/alarm_configure";
const char* const kProductLib = "/kyro/vela/velaplib/product_alarm_process_file";
const char* const kTransferLib = "/kyro/vela/velaplib/get_transfer_file";
const char* const kServerTime = "/kyro/vela/server_time";

bool allDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Strict optionally signed decimal of at most 9 digits.
bool parseInt(const std::string& s, int& out) {
  size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
  std::string digits = s.substr(i);
  if (!allDigits(digits) || digits.size() > 9) return false;
  int v = std::stoi(digits);
  out = (i == 1 && s[0] == '-') ? -v : v;
  return true;
}

// Splits at every occurrence of `sep`.
std::vector<std::string> splitAll(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t pos = s.find(sep, start);
    parts.push_back(s.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) break;
    start = pos + 1;
  }
  return parts;
}

// A switch text: "1" or "true" switch on, anything else off.
int switchOf(const std::map<std::string, std::string>& group, const char* name) {
  auto it = group.find(name);
  if (it == group.end()) return 0;
  long v = 0;
  if (it->second == "true") return 1;
  return Setting::parseLong(it->second, v) && v != 0 ? 1 : 0;
}

// The host's standard offset (seconds east of UTC) this year: the smaller of
// the offsets of January 1 and July 1. Daylight saving adds to the standard
// offset in either hemisphere; taking the smaller rather than the one the C
// library flags as not DST gives an Irish host GMT, not the +01:00 that the
// zone data (negative DST in winter) calls standard.
long hostStandardOffset() {
  time_t now = ::time(nullptr);
  struct tm t;
  if (::localtime_r(&now, &t) == nullptr) return 0;
  long offset = t.tm_gmtoff;
  for (int mon : {0, 6}) {
    struct tm probe{};
    probe.tm_year = t.tm_year;
    probe.tm_mon = mon;
    probe.tm_mday = 1;
    probe.tm_hour = 12;
    probe.tm_isdst = -1;
    time_t when = ::mktime(&probe);
    struct tm local;
    if (when != static_cast<time_t>(-1) && ::localtime_r(&when, &local) != nullptr && local.tm_gmtoff < offset) {
      offset = local.tm_gmtoff;
    }
  }
  return offset;
}

// Days since 1970-01-01 of a Gregorian date (any year).
long daysFromCivil(long y, long m, long d) {
  y -= m <= 2 ? 1 : 0;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

// ---------------------------------------------------------------------------
// Lifecycle and Init

CSysAttr* CSysAttr::Instance() {
  CSysAttr* p = m_pInstance.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::lock_guard<std::mutex> guard(m_InstanceMutex);
    p = m_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CSysAttr();
      try {
        p->Init();
      } catch (const std::exception& e) {
        FM_TRACE(TRACE_ERROR, "CSysAttr::Instance, Init failed: %s", e.what());
      }
      m_pInstance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CSysAttr::Destroy() {
  std::lock_guard<std::mutex> guard(m_InstanceMutex);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

long CSysAttr::Init() {
  {
    std::lock_guard<std::mutex> guard(m_tokenLock);
    m_iCurTotalWinNum = 0;
    m_mapClientWinNum.clear();
  }
  Setting* setting = Setting::instance();

  // NE synchronisation rate.
  std::string text;
  int rc = setting->getParamValue(std::string(kAlmConf) + "/sync_nenum_per_second", text);
  if (rc != 0) {
    FM_TRACE(TRACE_WARNING, "CSysAttr::Init, Get sync_nenum_per_second failed(%d)!", rc);
  } else if (!allDigits(text) || text.size() > 4 || std::stoi(text) > 5000) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::Init, sync_nenum_per_second is not valid num str: strSyncNenum = %s",
             text.c_str());
  } else {
    m_iSyncNenumPerSecond = std::stoi(text);
  }

  // Window limits from the main group.
  std::map<std::string, std::string> vela;
  rc = setting->getGroupParams(kVela, vela);
  if (rc != 0) FM_TRACE(TRACE_ERROR, "Get CURRENT_ALARM_LOG db config failed!, ret = %d", rc);
  auto numberOf = [&vela](const char* name, int lo, int hi, int& out) {
    auto it = vela.find(name);
    int v = 0;
    if (it == vela.end() || !parseInt(it->second, v) || v < lo || v > hi) return false;
    out = v;
    return true;
  };
  if (!numberOf("browse_alarm_query_num", 1, 1000, m_iBrowseQueryAlarmNum)) {
    m_iBrowseQueryAlarmNum = 1000;
    FM_TRACE(TRACE_WARNING, "Init query alarm number failed, set default value:%d", m_iBrowseQueryAlarmNum);
  }
  if (!numberOf("client_alarm_win_num", 1, 20, m_iClientAlarmWinNum)) {
    m_iClientAlarmWinNum = 20;
    FM_TRACE(TRACE_WARNING, "Init query alarm number failed, set default value:%d", m_iClientAlarmWinNum);
  }
  if (!numberOf("all_alarm_win_num", 1, 1000, m_iTotalWinNum) || m_iTotalWinNum <= m_iClientAlarmWinNum) {
    m_iTotalWinNum = 1000;
    FM_TRACE(TRACE_WARNING, "init all_alarm_win_num, set default value:%d", m_iTotalWinNum);
  }
  if (!numberOf("statistic_max_num", 1, 2, m_iStatisticMaxNum)) {
    m_iStatisticMaxNum = 2;
    FM_TRACE(TRACE_WARNING, "Init statistic_max_num, set default value:%d", m_iStatisticMaxNum);
  }
  if (!numberOf("user_template_win_num", 1, 5, m_iUserTemplateWinNum)) {
    m_iUserTemplateWinNum = 5;
    FM_TRACE(TRACE_WARNING, "Init user template window number, set default value:%d", m_iUserTemplateWinNum);
  }

  // Handling of managed-object deletion events.
  long flag = 0;
  rc = setting->getParamValue(std::string(kVela) + "/EnableProcessMoDeleteEventFlag", flag);
  if (rc == 0) {
    m_iEnableProcessMoDeleteEvent = flag != 0 ? 1 : 0;
    FM_TRACE(TRACE_PROGRESS, "Init EnableProcessMoDeleteEventFlag: %d", m_iEnableProcessMoDeleteEvent);
  } else {
    m_iEnableProcessMoDeleteEvent = 0;
    FM_TRACE(TRACE_WARNING, "Init EnableProcessMoDeleteEventFlag failed, set default value:%d", 0);
  }

  long result = FM_SUCCESS;
  if (InitSysConfigure() != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "InitSysConfigure failed !");
    result = FM_FAILURE;
  }
  // The time information does not depend on the switches and libraries above:
  // it is read even when they are missing, so that server times stay right.
  if (InitServerTimeInfo() != FM_SUCCESS) FM_TRACE(TRACE_ERROR, "Init Server time info failed");
  return result;
}

long CSysAttr::InitSysConfigure() {
  Setting* setting = Setting::instance();
  std::map<std::string, std::string> group;
  int rc = setting->getGroupParams(kAlmConf, group);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "Get GroupParams value failed[P:%s] !", kAlmConf);
    return FM_FAILURE;
  }
  m_iFaultNeSyn = switchOf(group, "fault_ne_syn");
  m_iStartSvcSyn = switchOf(group, "ne_startsvc_syn");
  m_iRecoverSyn = switchOf(group, "ne_recover_syn");
  m_iPeriodSyn = switchOf(group, "ne_period_syn");

  std::map<std::string, std::string> product;
  rc = setting->getGroupParams(kProductLib, product);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "Get product_alarm_process_file groups fail:%d !", rc);
    return FM_FAILURE;
  }
  m_iEnableAlarmProcess = switchOf(product, "Enable_Alarm_Process");
  m_strProductLibName = product.count("PathFileName") ? product["PathFileName"] : std::string();

  std::map<std::string, std::string> transfer;
  rc = setting->getGroupParams(kTransferLib, transfer);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "Get get_transfer_file groups fail:%d !", rc);
    return FM_FAILURE;
  }
  m_iEnableAlarmTransfer = switchOf(transfer, "enable");
  m_strAlmTransferLibName = transfer.count("PathFileName") ? transfer["PathFileName"] : std::string();
  return FM_SUCCESS;
}

long CSysAttr::InitServerTimeInfo() {
  SvrTimeInfo_t info;
  info.lTimeZone = hostStandardOffset();
  std::map<std::string, std::string> group;
  int rc = Setting::instance()->getGroupParams(kServerTime, group);
  long result = FM_SUCCESS;
  if (rc != 0) {
    FM_TRACE(TRACE_WARNING, "CSysAttr::InitServerTimeInfo, no group %s (%d); host standard offset %ld, no DST",
             kServerTime, rc, info.lTimeZone);
  } else {
    auto text = [&group](const char* name) {
      auto it = group.find(name);
      return it == group.end() ? std::string() : it->second;
    };
    long v = 0;
    if (group.count("TimeZone")) {
      if (Setting::parseLong(text("TimeZone"), v) && v >= -86399 && v <= 86399) {
        info.lTimeZone = v;
      } else {
        FM_TRACE(TRACE_ERROR, "CSysAttr::InitServerTimeInfo, invalid TimeZone '%s'", text("TimeZone").c_str());
        result = FM_FAILURE;
      }
    }
    if (group.count("DSTOffset")) {
      if (Setting::parseLong(text("DSTOffset"), v) && v >= -21600 && v <= 21600) {
        info.lDSTOffset = v;
      } else {
        FM_TRACE(TRACE_ERROR, "CSysAttr::InitServerTimeInfo, invalid DSTOffset '%s'", text("DSTOffset").c_str());
        result = FM_FAILURE;
      }
    }
    info.bStartIsWeek = text("DSTStartIsWeek") == "1" || text("DSTStartIsWeek") == "true";
    info.strStartWeek = text("DSTStartWeek");
    info.strStartDate = text("DSTStartDate");
    info.strStartTime = text("DSTStartTime");
    info.bEndIsWeek = text("DSTEndIsWeek") == "1" || text("DSTEndIsWeek") == "true";
    info.strEndWeek = text("DSTEndWeek");
    info.strEndDate = text("DSTEndDate");
    info.strEndTime = text("DSTEndTime");
  }
  setTimeInfo(info);
  FM_TRACE(TRACE_PROGRESS, "CSysAttr::InitServerTimeInfo, TimeZone:%ld, DSTOffset:%ld, start:%s %s, end:%s %s",
           info.lTimeZone, info.lDSTOffset, info.bStartIsWeek ? info.strStartWeek.c_str() : info.strStartDate.c_str(),
           info.strStartTime.c_str(), info.bEndIsWeek ? info.strEndWeek.c_str() : info.strEndDate.c_str(),
           info.strEndTime.c_str());
  return result;
}

// ---------------------------------------------------------------------------
// Window accounting

long CSysAttr::checkIfExceedMaxWindNum(uint32_t client, int windowCount) {
  if (windowCount < 0) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::checkIfExceedMaxWindNum, invalid window number %d of client %u", windowCount,
             client);
    return FM_INVALID_ARG;
  }
  std::lock_guard<std::mutex> guard(m_tokenLock);
  FM_TRACE(TRACE_PROGRESS, "CSysAttr::checkIfExceedMaxWindNum, WinNum:%d, CurTotalNum:%d, MaxTotalNum: %d",
           windowCount, m_iCurTotalWinNum, m_iTotalWinNum);
  auto it = m_mapClientWinNum.find(client);
  if (it == m_mapClientWinNum.end()) {
    m_mapClientWinNum.emplace(client, windowCount);
    m_iCurTotalWinNum += windowCount;
    if (m_iCurTotalWinNum > m_iTotalWinNum) {
      FM_TRACE(TRACE_WARNING, "CSysAttr::checkIfExceedMaxWindNum, New login  FM_EXCEED_MAX_WIND_LIMIT  ");
      return FM_EXCEED_MAX_WIND_LIMIT;
    }
    return FM_SUCCESS;
  }
  FM_TRACE(TRACE_PROGRESS, "CSysAttr::checkIfExceedMaxWindNum, find user id: %u", client);
  int newTotal = m_iCurTotalWinNum - it->second + windowCount;
  if (newTotal > m_iTotalWinNum) {
    FM_TRACE(TRACE_WARNING, "CSysAttr::checkIfExceedMaxWindNum, FM_EXCEED_MAX_WIND_LIMIT  ");
    return FM_EXCEED_MAX_WIND_LIMIT;
  }
  it->second = windowCount;
  m_iCurTotalWinNum = newTotal;
  return FM_SUCCESS;
}

void CSysAttr::delClientForAbnormalExit(uint32_t sessionId) {
  std::lock_guard<std::mutex> guard(m_tokenLock);
  auto it = m_mapClientWinNum.find(sessionId);
  if (it == m_mapClientWinNum.end()) return;
  m_iCurTotalWinNum -= it->second;
  m_mapClientWinNum.erase(it);
}

int CSysAttr::getCurTotalWindowNum() const {
  std::lock_guard<std::mutex> guard(m_tokenLock);
  return m_iCurTotalWinNum;
}

int CSysAttr::getClientWindowNum(uint32_t client) const {
  std::lock_guard<std::mutex> guard(m_tokenLock);
  auto it = m_mapClientWinNum.find(client);
  return it == m_mapClientWinNum.end() ? -1 : it->second;
}

// ---------------------------------------------------------------------------
// Server time and daylight saving

long CSysAttr::GetSvrTimeZone() const {
  std::lock_guard<std::mutex> guard(m_timeMutex);
  return m_timeInfo.lTimeZone;
}

long CSysAttr::GetSvrDSTOffset() const {
  std::lock_guard<std::mutex> guard(m_timeMutex);
  return m_timeInfo.lDSTOffset;
}

void CSysAttr::getTimeInfo(SvrTimeInfo_t& info) const {
  std::lock_guard<std::mutex> guard(m_timeMutex);
  info = m_timeInfo;
}

void CSysAttr::setTimeInfo(const SvrTimeInfo_t& info) {
  std::lock_guard<std::mutex> guard(m_timeMutex);
  m_timeInfo = info;
}

int CSysAttr::GetDaysPerMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) {
    FM_TRACE(TRACE_ERROR, "CSysAttr:GetDaysPerMonth, month:%d error!", month);
    return 0;
  }
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

int CSysAttr::GetWeekDay(int year, int month, int day) {
  long days = daysFromCivil(year, month, day);
  long w = (days + 3) % 7;  // 1970-01-01 was a Thursday
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

bool CSysAttr::FormatDate(const std::string& date, long& mmdd) {
  std::string::size_type slash = date.find('/');
  if (slash == std::string::npos) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::FormatDate, date:%s, not find slash", date.c_str());
    return false;
  }
  int month = 0, day = 0;
  if (!parseInt(date.substr(0, slash), month) || !parseInt(date.substr(slash + 1), day) || month < 1 ||
      month > 12 || day < 1 || day > GetDaysPerMonth(2000, month)) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::FormatDate, date:%s, invalid month or day", date.c_str());
    return false;
  }
  mmdd = month * 100L + day;
  return true;
}

bool CSysAttr::FormatTime(const std::string& time, long& hhmmss) {
  std::string::size_type colon = time.find(':');
  if (colon == std::string::npos) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::FormatTime, time:%s, not find colon", time.c_str());
    return false;
  }
  // Hours before the colon, two digits of minutes after it and, after one more
  // separator, two digits of seconds (absent seconds read as 00).
  const std::string hours = time.substr(0, colon);
  const std::string minutes = time.substr(colon + 1, 2);
  std::string seconds = "00";
  bool ok = allDigits(hours) && hours.size() <= 2 && allDigits(minutes) && minutes.size() == 2;
  if (ok && time.size() > colon + 3) {
    seconds = time.substr(colon + 4);
    ok = !std::isdigit(static_cast<unsigned char>(time[colon + 3])) && allDigits(seconds) && seconds.size() == 2;
  }
  int h = ok ? std::stoi(hours) : 0;
  int m = ok ? std::stoi(minutes) : 0;
  int s = ok ? std::stoi(seconds) : 0;
  if (!ok || h > 23 || m > 59 || s > 59) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::FormatTime, time:%s, invalid", time.c_str());
    return false;
  }
  hhmmss = h * 10000L + m * 100L + s;
  return true;
}

bool CSysAttr::ConvertWeek2Date(const std::string& week, int year, long& mmdd) {
  std::vector<std::string> parts = splitAll(week, '/');
  if (parts.size() < 4) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::ConvertWeek2Date, week:%s error! not find enough slash", week.c_str());
    return false;
  }
  int month = 0, anchor = 0, nth = 0, t = 0;
  if (parts.size() != 4 || !parseInt(parts[0], month) || !parseInt(parts[1], anchor) || !parseInt(parts[2], nth) ||
      !parseInt(parts[3], t) || month < 1 || month > 12 || nth == 0 || nth < -5 || nth > 5 || t < 1 || t > 7) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::ConvertWeek2Date, week:%s error! invalid field", week.c_str());
    return false;
  }
  const int days = GetDaysPerMonth(year, month);
  if (anchor < 0 || anchor > days) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::ConvertWeek2Date, week:%s error! anchor day %d not in month", week.c_str(),
             anchor);
    return false;
  }
  const int d = anchor == 0 ? days : anchor;
  const int w = GetWeekDay(year, month, d);
  int day;
  if (nth >= 1) {
    if (t == w) {
      day = d + (nth - 1) * 7;
    } else if (t < w) {
      day = d + nth * 7 - w + t;
    } else {
      day = d + (nth - 1) * 7 - w + t;
    }
  } else {
    if (t == w) {
      day = d + (nth + 1) * 7;
    } else if (t < w) {
      day = d + (nth + 1) * 7 - w + t;
    } else {
      day = d + nth * 7 - w + t;
    }
  }
  // A count that runs past the month ends in the neighbouring month.
  int m = month;
  if (day > days) {
    day -= days;
    ++m;
  } else if (day < 1) {
    --m;
    if (m >= 1) day += GetDaysPerMonth(year, m);
  }
  if (m < 1 || m > 12 || day < 1 || day > GetDaysPerMonth(year, m)) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::ConvertWeek2Date, day:%d error!", day);
    return false;
  }
  mmdd = m * 100L + day;
  return true;
}

bool CSysAttr::rulePoint(bool isWeek, const std::string& week, const std::string& date, const std::string& time,
                         int year, long& mmdd, long& hhmmss) {
  bool ok = isWeek ? ConvertWeek2Date(week, year, mmdd) : FormatDate(date, mmdd);
  return ok && FormatTime(time, hhmmss);
}

long CSysAttr::GetSvrDSTOffset(long date, long time) const {
  SvrTimeInfo_t info;
  getTimeInfo(info);
  const std::string& startText = info.bStartIsWeek ? info.strStartWeek : info.strStartDate;
  const std::string& endText = info.bEndIsWeek ? info.strEndWeek : info.strEndDate;
  if (info.lDSTOffset == 0 || (startText.empty() && endText.empty())) return 0;  // no daylight saving

  const int year = static_cast<int>(date / 10000);
  long S = 0, st = 0, E = 0, et = 0;
  if (!rulePoint(info.bStartIsWeek, info.strStartWeek, info.strStartDate, info.strStartTime, year, S, st) ||
      !rulePoint(info.bEndIsWeek, info.strEndWeek, info.strEndDate, info.strEndTime, year, E, et)) {
    FM_TRACE(TRACE_ERROR, "CSysAttr::GetSvrDSTOffset, the daylight saving rule cannot be read for %ld", date);
    return FM_FAILURE;
  }
  const long D = date % 10000;
  bool inDst;
  if (S < E) {
    inDst = (S < D && D < E) || (D == S && time >= st) || (D == E && time <= et);
  } else if (E < S) {
    bool outside = (E < D && D < S) || (D == S && time < st) || (D == E && time > et);
    inDst = !outside;
  } else {
    inDst = false;
  }
  return inDst ? info.lDSTOffset : 0;
}

}  // namespace Kyrofm
