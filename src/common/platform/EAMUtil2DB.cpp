// EAMUtil2DB.cpp: the in-process NE configuration registry, a map from NE FDN
// to its zone information under one reader/writer lock.
#include "fm_common/platform/EAMUtil2DB.h"

#include <map>
#include <mutex>
#include <shared_mutex>

namespace Kyrofm {
namespace {

struct Registry {
  std::shared_mutex mutex;
  std::map<std::string, NEZoneInfo_t> entries;
};

// Never destroyed: callers on other threads may still ask during exit.
Registry& registry() {
  static Registry* r = new Registry();
  return *r;
}

}  // namespace

int EAMUtil2DB::GetZoneInfoByNe(const std::string& neFdn, std::string& zone) {
  zone.clear();
  if (neFdn.empty()) return EAM_ERR_INVALID_ARG;
  Registry& r = registry();
  std::shared_lock<std::shared_mutex> lock(r.mutex);
  auto it = r.entries.find(neFdn);
  if (it == r.entries.end()) return EAM_ERR_NO_NE;
  if (it->second.strZoneName.empty()) return EAM_ERR_NO_ZONE;
  zone = it->second.strZoneName;
  return EAM_OK;
}

int EAMUtil2DB::GetNEZoneInfo(const std::string& neFdn, NEZoneInfo_t& info) {
  info = NEZoneInfo_t();
  if (neFdn.empty()) return EAM_ERR_INVALID_ARG;
  Registry& r = registry();
  std::shared_lock<std::shared_mutex> lock(r.mutex);
  auto it = r.entries.find(neFdn);
  if (it == r.entries.end()) return EAM_ERR_NO_NE;
  info = it->second;
  return EAM_OK;
}

int EAMUtil2DB::SetNEZoneInfo(const std::string& neFdn, const NEZoneInfo_t& info) {
  if (neFdn.empty()) return EAM_ERR_INVALID_ARG;
  Registry& r = registry();
  std::unique_lock<std::shared_mutex> lock(r.mutex);
  r.entries[neFdn] = info;
  return EAM_OK;
}

int EAMUtil2DB::SetZoneInfoByNe(const std::string& neFdn, const std::string& zone) {
  NEZoneInfo_t info;
  info.strZoneName = zone;
  return SetNEZoneInfo(neFdn, info);
}

int EAMUtil2DB::RemoveNE(const std::string& neFdn) {
  Registry& r = registry();
  std::unique_lock<std::shared_mutex> lock(r.mutex);
  return r.entries.erase(neFdn) ? EAM_OK : EAM_ERR_NO_NE;
}

void EAMUtil2DB::Clear() {
  Registry& r = registry();
  std::unique_lock<std::shared_mutex> lock(r.mutex);
  r.entries.clear();
}

std::size_t EAMUtil2DB::Count() {
  Registry& r = registry();
  std::shared_lock<std::shared_mutex> lock(r.mutex);
  return r.entries.size();
}

}  // namespace Kyrofm
