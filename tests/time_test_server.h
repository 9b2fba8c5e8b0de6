// time_test_server.h: time-zone helpers of the tests.
//
// ScopedTZ runs a test under another host zone (TZ); ServerZone also sets the
// server's configured standard and DST offsets (the system attributes) so that
// they agree with the host zone, as on a real server. Both restore the former
// state when they go. Single-threaded test bodies only: the zone is
// process-wide. utcOf and zoneProbes build instants to check.
#ifndef FM_TESTS_TIME_TEST_SERVER_H
#define FM_TESTS_TIME_TEST_SERVER_H

#include <cctz/civil_time.h>
#include <cctz/time_zone.h>

#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "fm_common/fmcommon/SysAttr.h"

namespace fmtest {

class ScopedTZ {
 public:
  explicit ScopedTZ(const std::string& zone) : m_old(std::getenv("TZ") ? std::getenv("TZ") : "") {
    m_bHad = std::getenv("TZ") != nullptr;
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
  }
  ~ScopedTZ() {
    m_bHad ? ::setenv("TZ", m_old.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTZ(const ScopedTZ&) = delete;
  ScopedTZ& operator=(const ScopedTZ&) = delete;

 private:
  std::string m_old;
  bool m_bHad;
};

class ServerZone {
 public:
  ServerZone(const std::string& zone, long stdOffset, long dstOffset) : m_tz(zone) {
    Kyrofm::CSysAttr::Instance()->getTimeInfo(m_saved);
    Kyrofm::SvrTimeInfo_t info = m_saved;
    info.lTimeZone = stdOffset;
    info.lDSTOffset = dstOffset;
    Kyrofm::CSysAttr::Instance()->setTimeInfo(info);
  }
  ~ServerZone() { Kyrofm::CSysAttr::Instance()->setTimeInfo(m_saved); }
  ServerZone(const ServerZone&) = delete;
  ServerZone& operator=(const ServerZone&) = delete;

 private:
  ScopedTZ m_tz;
  Kyrofm::SvrTimeInfo_t m_saved;
};

// Epoch seconds of a UTC civil time.
inline long utcOf(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<long>(
      cctz::convert(cctz::civil_second(y, mo, d, h, mi, s), cctz::utc_time_zone()).time_since_epoch().count());
}

// Instants of `zone` from `from` to `to`: at most `maxSwitches` transitions,
// each shifted by every one of `around`, then a sweep every `step` seconds.
inline std::vector<long> zoneProbes(const std::string& zone, long from, long to, long step,
                                    std::initializer_list<long> around, int maxSwitches = 1 << 20) {
  std::vector<long> out;
  cctz::time_zone tz;
  if (!cctz::load_time_zone(zone, &tz)) return out;
  auto tp = cctz::time_point<cctz::seconds>(cctz::seconds(from));
  cctz::time_zone::civil_transition tr;
  for (int i = 0; i < maxSwitches && tz.next_transition(tp, &tr); ++i) {
    tp = tz.lookup(tr.to).trans;
    long s = static_cast<long>(tp.time_since_epoch().count());
    if (s > to) break;
    for (long d : around) out.push_back(s + d);
  }
  for (long s = from; s < to; s += step) out.push_back(s);
  return out;
}

}  // namespace fmtest

#endif
