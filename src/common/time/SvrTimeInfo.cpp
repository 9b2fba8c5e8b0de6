// SvrTimeInfo.cpp: the server's time information. Until the system attributes
// are available in this build, the host's own zone stands for the server's.
#include "time/SvrTimeInfo.h"

#include "platform/KyroTZone.h"

#include <cstdlib>
#include <ctime>

namespace Kyrofm {
namespace {

bool hostZoneInfo(MOTimeInfo_t& info) {
  std::string name = "localtime";
  if (const char* env = std::getenv("TZ")) {
    if (*env == ':') ++env;
    if (*env) name = env;
  }
  KyroTZone zone(name);
  return zone.isValid() && zone.getMOTimeInfo(info) == KYROTZ_OK;
}

}  // namespace

long svrTimeZone() {
  MOTimeInfo_t info;
  return hostZoneInfo(info) ? info.lTimeZone : 0;
}

long svrDSTOffset() {
  MOTimeInfo_t info;
  return hostZoneInfo(info) ? info.lDstOffset : 0;
}

}  // namespace Kyrofm
