// CUserIDMaintain.cpp: the in-process user directory, a map from (domain,
// name) to id under one reader/writer lock.
#include "fm_common/platform/CUserIDMaintain.h"

#include <map>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include "fm_common/platform/FMResult.h"

namespace Kyrofm {
namespace {

struct Directory {
  std::shared_mutex mutex;
  std::map<std::pair<std::string, std::string>, long> ids;  // (domain, name) -> id
};

// Never destroyed: callers on other threads may still ask during exit.
Directory& directory() {
  static Directory* d = new Directory();
  return *d;
}

CUserIDMaintain g_userMaintainObject;

}  // namespace

CUserIDMaintain* g_UserMaintain = &g_userMaintainObject;

std::string CUserIDMaintain::GetUserName(long id, const std::string& domain) {
  Directory& d = directory();
  std::shared_lock<std::shared_mutex> lock(d.mutex);
  for (const auto& entry : d.ids) {
    if (entry.second == id && entry.first.first == domain) return entry.first.second;
  }
  return std::string();
}

long CUserIDMaintain::GetUserID(const std::string& name, const std::string& domain) {
  Directory& d = directory();
  std::shared_lock<std::shared_mutex> lock(d.mutex);
  auto it = d.ids.find({domain, name});
  return it == d.ids.end() ? 0 : it->second;
}

long CUserIDMaintain::SetUserID(const std::string& name, const std::string& domain, long id) {
  if (name.empty() || domain.empty() || id <= 0) return FM_INVALID_ARG;
  Directory& d = directory();
  std::unique_lock<std::shared_mutex> lock(d.mutex);
  d.ids[{domain, name}] = id;
  return FM_SUCCESS;
}

bool CUserIDMaintain::RemoveUser(const std::string& name, const std::string& domain) {
  Directory& d = directory();
  std::unique_lock<std::shared_mutex> lock(d.mutex);
  return d.ids.erase({domain, name}) > 0;
}

void CUserIDMaintain::Clear() {
  Directory& d = directory();
  std::unique_lock<std::shared_mutex> lock(d.mutex);
  d.ids.clear();
}

std::size_t CUserIDMaintain::Count() {
  Directory& d = directory();
  std::shared_lock<std::shared_mutex> lock(d.mutex);
  return d.ids.size();
}

}  // namespace Kyrofm
