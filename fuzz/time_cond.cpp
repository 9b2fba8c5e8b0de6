// Fuzz target: weekly time conditions (isStr2TimeCond, getBitWeekDay,
// getTimeRanges, transFormTimeCond, IsMeetTimeCond). The first line is a
// condition string, the next lines are (week days, periods) pairs as entered.
// Checks: each period agrees with a reference reading of "HHMMHHMM"; the
// condition rebuilt from its parsed days and period texts parses to the same
// condition; IsMeetTimeCond agrees with a direct test of an instant; the
// result code of transFormTimeCond agrees with what it produced.
#include <ctime>
#include <list>

#include "FuzzSupport.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/time/XRFMTimeCond.h"

using namespace Kyrofm;

namespace {

bool refPeriod(const std::string& p, std::pair<long, long>& out) {
  if (p.size() != 8) return false;
  long d[4];
  for (int i = 0; i < 4; ++i) {
    char x = p[2 * i], y = p[2 * i + 1];
    if (x < '0' || x > '9' || y < '0' || y > '9') return false;
    d[i] = (x - '0') * 10 + (y - '0');
  }
  if (d[0] > 23 || d[1] > 59 || d[2] > 23 || d[3] > 59) return false;
  long end = d[2] * 3600 + d[3] * 60;
  out = {d[0] * 3600 + d[1] * 60, end == 0 ? 86400 : end};  // an end of 00:00 is the end of the day
  return true;
}

bool wholeDay(const tagTimeCond& c) {
  return c.m_vecPeriod.size() == 1 && c.m_vecPeriod[0] == std::make_pair(TIMECOND_WHOLE_DAY, TIMECOND_WHOLE_DAY);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fmfuzz::fuzzEnv();
  auto lines = fmfuzz::pieces(data, size, '\n');
  const std::string& text = lines[0];

  tagTimeCond cond;
  std::list<std::string> periods;
  if (isStr2TimeCond(text, cond, periods)) {
    FUZZ_CHECK(!cond.m_vecPeriod.empty() && cond.m_vecPeriod.size() <= TIMECOND_MAX_PERIODS);
    FUZZ_CHECK(cond.m_bitWeekDay.any());
    if (!wholeDay(cond)) {
      FUZZ_CHECK(periods.size() == cond.m_vecPeriod.size());
      auto it = periods.begin();
      for (const auto& p : cond.m_vecPeriod) {
        std::pair<long, long> want;
        FUZZ_CHECK(refPeriod(*it++, want) && want == p);
      }
    }
    std::string canon;
    for (int d = 1; d <= 7; ++d) {
      if (cond.m_bitWeekDay.test(d - 1)) canon += (canon.empty() ? "" : ",") + std::to_string(d);
    }
    if (!wholeDay(cond)) {
      canon += ';';
      for (const auto& p : periods) canon += (canon.back() == ';' ? "" : "|") + p;
    }
    tagTimeCond again;
    std::list<std::string> againPeriods;
    FUZZ_CHECK(isStr2TimeCond(canon, again, againPeriods));
    FUZZ_CHECK(again.m_bitWeekDay == cond.m_bitWeekDay && again.m_vecPeriod == cond.m_vecPeriod);

    // Every instant of a coarse grid over the week.
    for (int wday = 0; wday < 7; ++wday) {
      for (long second = 0; second < 86400; second += 1799) {
        struct tm when = {};
        when.tm_wday = wday;
        when.tm_hour = static_cast<int>(second / 3600);
        when.tm_min = static_cast<int>(second / 60 % 60);
        when.tm_sec = static_cast<int>(second % 60);
        bool want = false;
        if (cond.m_bitWeekDay.test(wday == 0 ? 6 : wday - 1)) {
          for (const auto& p : cond.m_vecPeriod) {
            want = want || p.first == TIMECOND_WHOLE_DAY || (p.first <= second && second <= p.second);
          }
        }
        FUZZ_CHECK(IsMeetTimeCond({cond}, when) == want);
      }
    }
  }

  std::list<CNMTime> entered;
  size_t filled = 0;
  for (size_t i = 1; i + 1 < lines.size(); i += 2) {
    entered.emplace_back(lines[i], lines[i + 1]);
    if (!lines[i].empty() || !lines[i + 1].empty()) ++filled;
  }
  std::list<tagTimeCond> out;
  long rc = transFormTimeCond(entered, out);
  if (filled == 0) {
    FUZZ_CHECK(rc == FM_SUCCESS && out.size() == 1 && out.front().m_bitWeekDay.all() && wholeDay(out.front()));
  } else {
    FUZZ_CHECK(rc == FM_SUCCESS ? out.size() == filled
               : rc == FM_PARTIAL_SUCCESS ? !out.empty() && out.size() < filled
                                          : rc == FM_FAILURE && out.empty());
  }
  for (const auto& c : out) {
    for (const auto& p : c.m_vecPeriod) {
      FUZZ_CHECK(p == std::make_pair(TIMECOND_WHOLE_DAY, TIMECOND_WHOLE_DAY) ||
                 (p.first >= 0 && p.first < 86400 && p.second > 0 && p.second <= 86400));
    }
  }
  return 0;
}
