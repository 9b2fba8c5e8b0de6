// CFMClientMgr.cpp: the in-process client registry, one entry per user id
// under one reader/writer lock.
#include "fm_common/platform/CFMClientMgr.h"

#include "fm_common/platform/FMResult.h"

namespace Kyrofm {

std::atomic<CFMClientMgr*> CFMClientMgr::m_pInstance{nullptr};
std::mutex CFMClientMgr::m_mtxInstance;

CFMClientMgr* CFMClientMgr::instance() {
  CFMClientMgr* p = m_pInstance.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::lock_guard<std::mutex> guard(m_mtxInstance);
    p = m_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CFMClientMgr();
      m_pInstance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CFMClientMgr::destroy() {
  std::lock_guard<std::mutex> guard(m_mtxInstance);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

long CFMClientMgr::getManagerMO(long userId, std::set<std::string>& fdns) const {
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  auto it = m_users.find(userId);
  if (it == m_users.end() || !it->second.hasFdns) {
    fdns.clear();
    return FM_FAILURE;
  }
  fdns = it->second.fdns;
  return FM_SUCCESS;
}

long CFMClientMgr::getManagerMO(long userId, std::set<long>& ids) const {
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  auto it = m_users.find(userId);
  if (it == m_users.end() || !it->second.hasIds) {
    ids.clear();
    return FM_FAILURE;
  }
  ids = it->second.ids;
  return FM_SUCCESS;
}

std::string CFMClientMgr::getTableName(long userId) const {
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  auto it = m_users.find(userId);
  return it == m_users.end() ? std::string() : it->second.rightTable;
}

void CFMClientMgr::setManagerMO(long userId, const std::set<std::string>& fdns) {
  std::unique_lock<std::shared_mutex> lock(m_mutex);
  UserEntry& e = m_users[userId];
  e.fdns = fdns;
  e.hasFdns = true;
}

void CFMClientMgr::setManagerMO(long userId, const std::set<long>& ids) {
  std::unique_lock<std::shared_mutex> lock(m_mutex);
  UserEntry& e = m_users[userId];
  e.ids = ids;
  e.hasIds = true;
}

void CFMClientMgr::setTableName(long userId, const std::string& table) {
  std::unique_lock<std::shared_mutex> lock(m_mutex);
  m_users[userId].rightTable = table;
}

void CFMClientMgr::removeUser(long userId) {
  std::unique_lock<std::shared_mutex> lock(m_mutex);
  m_users.erase(userId);
}

void CFMClientMgr::clear() {
  std::unique_lock<std::shared_mutex> lock(m_mutex);
  m_users.clear();
}

}  // namespace Kyrofm
