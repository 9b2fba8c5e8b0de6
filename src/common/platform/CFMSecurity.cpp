// CFMSecurity.cpp: in-process security and equipment services, and the
// audit facade's rights decisions over them.
#include "fm_common/platform/CFMSecurity.h"

#include <mutex>

#include "fm_common/platform/CFMAudit.h"
#include "fm_common/platform/EAMUtil2DB.h"
#include "fm_common/platform/FMResult.h"

namespace Kyrofm {

namespace {

struct SMState {
  std::mutex mutex;
  std::map<std::string, SMUser_t> users;
  bool available = true;
  size_t requests = 0;
};

struct EAMState {
  std::mutex mutex;
  std::map<std::string, std::string> secClass;
  bool available = true;
  size_t requests = 0;
};

SMState& sm() {
  static SMState* s = new SMState;  // outlives every static user
  return *s;
}

EAMState& eam() {
  static EAMState* s = new EAMState;
  return *s;
}

}  // namespace

long CFMCallSMImpl::isSuperUser(const std::string& token) {
  SMState& s = sm();
  std::lock_guard<std::mutex> guard(s.mutex);
  ++s.requests;
  if (!s.available) return SM_SERVICE_UNAVAILABLE;
  auto it = s.users.find(token);
  return it != s.users.end() && it->second.bSuperUser ? FM_SUCCESS : FM_FAILURE;
}

long CFMCallSMImpl::checkMODomain(const std::string& token, const std::set<std::string>& fdns,
                                  std::vector<std::string>& refused) {
  refused.clear();
  SMState& s = sm();
  std::lock_guard<std::mutex> guard(s.mutex);
  ++s.requests;
  if (!s.available) return SM_SERVICE_UNAVAILABLE;
  auto it = s.users.find(token);
  for (const auto& fdn : fdns)
    if (it == s.users.end() || it->second.domain.count(fdn) == 0) refused.push_back(fdn);
  return FM_SUCCESS;
}

long CFMCallSMImpl::checkOperation(const std::string& token, const std::string& accessId,
                                   const std::string& secClass) {
  SMState& s = sm();
  std::lock_guard<std::mutex> guard(s.mutex);
  ++s.requests;
  if (!s.available) return SM_SERVICE_UNAVAILABLE;
  auto it = s.users.find(token);
  if (it == s.users.end()) return FM_NO_RIGHT;
  return it->second.grants.count({accessId, secClass}) != 0 ? FM_SUCCESS : FM_NO_RIGHT;
}

void CFMCallSMImpl::setUser(const std::string& token, const SMUser_t& user) {
  std::lock_guard<std::mutex> guard(sm().mutex);
  sm().users[token] = user;
}

void CFMCallSMImpl::removeUser(const std::string& token) {
  std::lock_guard<std::mutex> guard(sm().mutex);
  sm().users.erase(token);
}

void CFMCallSMImpl::setAvailable(bool available) {
  std::lock_guard<std::mutex> guard(sm().mutex);
  sm().available = available;
}

void CFMCallSMImpl::clear() {
  std::lock_guard<std::mutex> guard(sm().mutex);
  sm().users.clear();
  sm().available = true;
  sm().requests = 0;
}

size_t CFMCallSMImpl::requestCount() {
  std::lock_guard<std::mutex> guard(sm().mutex);
  return sm().requests;
}

long CFMCallEAMImpl::getSecClass(const std::string& neFdn, std::string& secClass) {
  EAMState& s = eam();
  std::lock_guard<std::mutex> guard(s.mutex);
  ++s.requests;
  if (!s.available) return SM_SERVICE_UNAVAILABLE;
  auto it = s.secClass.find(neFdn);
  secClass = it != s.secClass.end() ? it->second : std::string();
  return FM_SUCCESS;
}

long CFMCallEAMImpl::batchGetSecClass(const std::vector<std::string>& neFdns,
                                      std::map<std::string, std::string>& out) {
  EAMState& s = eam();
  std::lock_guard<std::mutex> guard(s.mutex);
  ++s.requests;
  if (!s.available) return SM_SERVICE_UNAVAILABLE;
  for (const auto& ne : neFdns) {
    auto it = s.secClass.find(ne);
    if (it != s.secClass.end()) out[ne] = it->second;
  }
  return FM_SUCCESS;
}

long CFMCallEAMImpl::checkNEExist(const std::string& neFdn) {
  NEZoneInfo_t info;
  return EAMUtil2DB::GetNEZoneInfo(neFdn, info) == EAM_OK ? FM_SUCCESS : EAM_NE_NOT_EXIST;
}

void CFMCallEAMImpl::setSecClass(const std::string& neFdn, const std::string& secClass) {
  std::lock_guard<std::mutex> guard(eam().mutex);
  eam().secClass[neFdn] = secClass;
}

void CFMCallEAMImpl::setAvailable(bool available) {
  std::lock_guard<std::mutex> guard(eam().mutex);
  eam().available = available;
}

void CFMCallEAMImpl::clear() {
  std::lock_guard<std::mutex> guard(eam().mutex);
  eam().secClass.clear();
  eam().available = true;
  eam().requests = 0;
}

size_t CFMCallEAMImpl::requestCount() {
  std::lock_guard<std::mutex> guard(eam().mutex);
  return eam().requests;
}

long CFMAudit::RightMOCheck(const std::string& accessId, const std::string& secClass, const std::string&,
                            const std::string& token) {
  return CFMCallSMImpl::checkOperation(token, accessId, secClass);
}

long CFMAudit::batchRightMOCheck(const std::string& accessId, const std::map<std::string, std::string>& neSecClass,
                                 const std::string& token) {
  for (const auto& [ne, secClass] : neSecClass) {
    long rc = CFMCallSMImpl::checkOperation(token, accessId, secClass);
    if (rc != FM_SUCCESS) return rc;
  }
  return FM_SUCCESS;
}

}  // namespace Kyrofm
