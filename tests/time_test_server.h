// time_test_server.h: runs a test with the server in a given zone: the host
// zone (TZ) and the server's configured standard and DST offsets (the system
// attributes) agree, as they do on a real server. Restores both when it goes.
// Single-threaded test bodies only.
#ifndef FM_TESTS_TIME_TEST_SERVER_H
#define FM_TESTS_TIME_TEST_SERVER_H

#include <string>

#include "fm_common/fmcommon/SysAttr.h"
#include "support_tz.h"

namespace fmtest {

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

}  // namespace fmtest

#endif
