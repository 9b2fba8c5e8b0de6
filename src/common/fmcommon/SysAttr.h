// SysAttr.h: CSysAttr, the process-wide system attributes of the
// fault-management service.
//
// Read once from the settings service when the object is made (Init): the
// limits on the alarm windows that clients may open, the NE synchronisation
// switches and rate, the product alarm processing and alarm transfer
// libraries, and the server's time information (standard offset, DST offset
// and the daylight-saving rule). It also keeps the running count of alarm
// windows per client session and refuses a login or a window change that would
// take the service past its total window limit, and it answers whether a
// server date and time falls into daylight saving.
//
// The server time information comes from the settings group
// "/kyro/vela/server_time":
//   TimeZone        standard offset in seconds east of UTC (default: the
//                   host's standard offset)
//   DSTOffset       seconds added in daylight saving (default 0)
//   DSTStartIsWeek, DSTEndIsWeek   "1" when the start (end) is a week rule
//   DSTStartWeek, DSTEndWeek       week rule "month/anchor/week/weekday"
//   DSTStartDate, DSTEndDate       fixed date "month/day"
//   DSTStartTime, DSTEndTime       local time of the switch "h:mm:ss"
// A host that takes them from elsewhere sets them with setTimeInfo.
//
// Ownership and threads: one object made by Instance() and deleted by
// Destroy() (no thread may use it then). Every other operation may be called
// from any thread: the window accounting is guarded by its own lock, the time
// information by another; the other attributes are written only by Init.
#ifndef FM_FMCOMMON_SYSATTR_H
#define FM_FMCOMMON_SYSATTR_H

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace Kyrofm {

// Result of checkIfExceedMaxWindNum when the total window limit would be exceeded.
constexpr long FM_EXCEED_MAX_WIND_LIMIT = 33872;

// The server's time information.
struct SvrTimeInfo_t {
  long lTimeZone = 0;   // standard offset, seconds east of UTC
  long lDSTOffset = 0;  // seconds added while daylight saving is in force
  bool bStartIsWeek = false;
  std::string strStartWeek;  // "month/anchor/week/weekday"
  std::string strStartDate;  // "month/day"
  std::string strStartTime;  // "h:mm:ss"
  bool bEndIsWeek = false;
  std::string strEndWeek;
  std::string strEndDate;
  std::string strEndTime;
};

class CSysAttr {
 public:
  static CSysAttr* Instance();
  static void Destroy();

  // ---- limits and switches (fixed after Init)
  int GetBrowseWinQueryAlarmNum() const { return m_iBrowseQueryAlarmNum; }
  int GetClientAlarmWindowNum() const { return m_iClientAlarmWinNum; }
  int GetTotalWindowNum() const { return m_iTotalWinNum; }
  int GetStatisticMaxNum() const { return m_iStatisticMaxNum; }
  int GetUserTemplateWindowNum() const { return m_iUserTemplateWinNum; }
  int GetFaultAlmNeSynFlag() const { return m_iFaultNeSyn; }
  int GetFaultAlmStartSynFlag() const { return m_iStartSvcSyn; }
  int GetFaultAlmRecoverSynFlag() const { return m_iRecoverSyn; }
  int GetFaultAlmPeriodSynFlag() const { return m_iPeriodSyn; }
  int GetSyncNenumPerSecond() const { return m_iSyncNenumPerSecond; }
  int GetEnableAlarmProcessFlag() const { return m_iEnableAlarmProcess; }
  int GetEnableAlarmTransferFlag() const { return m_iEnableAlarmTransfer; }
  std::string GetProductLibName() const { return m_strProductLibName; }
  std::string GetAlmTransferLibName() const { return m_strAlmTransferLibName; }
  int GetEnableProcessMoDeleteEventFlag() const { return m_iEnableProcessMoDeleteEvent; }

  // ---- server time
  // The server's standard offset in seconds east of UTC.
  long GetSvrTimeZone() const;
  // The configured DST offset in seconds.
  long GetSvrDSTOffset() const;
  // The DST offset when the server date (yyyymmdd) and time (hhmmss) fall in
  // daylight saving, 0 when they do not (or no rule is configured), 33002
  // when the rule cannot be read for that year.
  long GetSvrDSTOffset(long date, long time) const;
  void getTimeInfo(SvrTimeInfo_t& info) const;
  // Replaces the server time information (hosts and tests).
  void setTimeInfo(const SvrTimeInfo_t& info);

  // ---- window accounting
  // Records that `client` now holds `windowCount` windows. 33000, or 33872
  // when the service total would exceed GetTotalWindowNum(): a new session is
  // then counted all the same, a known one keeps its former count. A negative
  // count is refused with 33021.
  long checkIfExceedMaxWindNum(uint32_t client, int windowCount);
  // Forgets a session and its windows (no-op for an unknown session).
  void delClientForAbnormalExit(uint32_t sessionId);
  // Current total and one session's count (-1 when unknown); for monitoring.
  int getCurTotalWindowNum() const;
  int getClientWindowNum(uint32_t client) const;

  // ---- daylight-saving rule pieces (static, logged on failure)
  // "month/day" -> month*100+day.
  static bool FormatDate(const std::string& date, long& mmdd);
  // "h:mm:ss" -> hhmmss (seconds may be omitted).
  static bool FormatTime(const std::string& time, long& hhmmss);
  // "month/anchor/week/weekday" of `year` -> month*100+day. Anchor 0 is the
  // last day of the month; week >= 1 counts forward from the anchor, <= -1
  // backward; weekday 1..7, Sunday 7. A day that falls past the end (or
  // before the start) of the month moves into the next (previous) month of
  // the same year.
  static bool ConvertWeek2Date(const std::string& week, int year, long& mmdd);
  // Days of `month` in `year` (Gregorian); 0 and a log line for a bad month.
  static int GetDaysPerMonth(int year, int month);
  // Weekday of a date, 1 Monday .. 7 Sunday.
  static int GetWeekDay(int year, int month, int day);

  CSysAttr(const CSysAttr&) = delete;
  CSysAttr& operator=(const CSysAttr&) = delete;

 private:
  CSysAttr() = default;
  ~CSysAttr() = default;

  // Reads every attribute from the settings service (see the header comment).
  // 33000, or 33002 when the synchronisation switches or the library groups
  // could not be read (the other attributes are read all the same).
  long Init();

  long InitSysConfigure();
  long InitServerTimeInfo();
  // Start or end of the rule for `year` as mmdd and hhmmss.
  static bool rulePoint(bool isWeek, const std::string& week, const std::string& date,
                        const std::string& time, int year, long& mmdd, long& hhmmss);

  static std::atomic<CSysAttr*> m_pInstance;
  static std::mutex m_InstanceMutex;

  int m_iBrowseQueryAlarmNum = 1000;
  int m_iClientAlarmWinNum = 20;
  int m_iTotalWinNum = 1000;
  int m_iStatisticMaxNum = 2;
  int m_iUserTemplateWinNum = 5;
  int m_iFaultNeSyn = 0;
  int m_iStartSvcSyn = 0;
  int m_iRecoverSyn = 0;
  int m_iPeriodSyn = 0;
  int m_iSyncNenumPerSecond = 0;
  int m_iEnableAlarmProcess = 0;
  int m_iEnableAlarmTransfer = 0;
  std::string m_strProductLibName;
  std::string m_strAlmTransferLibName;
  int m_iEnableProcessMoDeleteEvent = 0;

  mutable std::mutex m_timeMutex;
  SvrTimeInfo_t m_timeInfo;

  mutable std::mutex m_tokenLock;  // guards the window accounting
  std::map<uint32_t, int> m_mapClientWinNum;
  int m_iCurTotalWinNum = 0;
};

}  // namespace Kyrofm

#endif
