// CalculateTime.h: a scope timer that logs how long an operation took.
//
// A CCalculateTime remembers an operation name, a count of handled items and
// the wall-clock instant it was made; when it goes out of scope it logs at
// level 3 "CT_<name>,<count>/<ms>", or "CT_<name>, <count>/<ms> big2cost" when
// the count reached 1000000 or the operation took 10 seconds or more. Nothing
// is logged when both the count and the elapsed milliseconds are 0.
//
// Threads: one object per call, used by the thread that made it.
#ifndef FM_TIME_CALCULATETIME_H
#define FM_TIME_CALCULATETIME_H

#include <ace/Time_Value.h>

#include <string>

namespace Kyrofm {

class CCalculateTime {
 public:
  explicit CCalculateTime(const std::string& name, unsigned handleNum = 0);
  ~CCalculateTime();
  CCalculateTime(const CCalculateTime&) = delete;
  CCalculateTime& operator=(const CCalculateTime&) = delete;

  // Changes the count reported at the end.
  void setHandleNum(unsigned handleNum) { m_uHandleNum = handleNum; }

  static constexpr unsigned BIG_COUNT = 1000000;
  static constexpr long BIG_MSEC = 10000;

 private:
  std::string m_strName;
  unsigned m_uHandleNum;
  ACE_Time_Value m_tvStart;
};

}  // namespace Kyrofm

#endif
