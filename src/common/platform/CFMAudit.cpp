// CFMAudit.cpp: the in-process audit registry.
#include "fm_common/platform/CFMAudit.h"

#include <deque>
#include <map>
#include <mutex>

#include "fm_common/platform/FMResult.h"

namespace Kyrofm {
namespace {

struct Registry {
  std::mutex mutex;
  std::deque<CFMAuditEntry> entries;
  std::map<unsigned, std::string> names;
  size_t capacity = 10000;
};

Registry& registry() {
  static Registry r;
  return r;
}

long keep(CFMAuditEntry&& entry) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  if (r.capacity == 0) return FM_SUCCESS;
  while (r.entries.size() >= r.capacity) r.entries.pop_front();
  r.entries.push_back(std::move(entry));
  return FM_SUCCESS;
}

// The fields the two batch forms share.
CFMAuditEntry batchEntry(CFMAuditEntry::Kind kind, long code, unsigned total, unsigned failed, unsigned succeeded,
                         const CAuditInfo& record, const std::string& detail) {
  CFMAuditEntry e;
  e.m_kind = kind;
  e.m_lCode = code;
  e.m_uTotal = total;
  e.m_uFailed = failed;
  e.m_uSucceeded = succeeded;
  e.m_strDetail = detail;
  e.m_info = record;
  return e;
}

}  // namespace

long CFMAudit::handleSingleAudit(long code, unsigned itemType, const std::wstring& target, CAuditInfo* record,
                                 const std::string& detail, int flag) {
  if (record == nullptr) return FM_INVALID_ARG;
  CFMAuditEntry e;
  e.m_kind = CFMAuditEntry::SINGLE;
  e.m_lCode = code;
  e.m_uItemType = itemType;
  e.m_wstrTarget = target;
  e.m_strDetail = detail;
  e.m_iFlag = flag;
  e.m_info = *record;
  return keep(std::move(e));
}

long CFMAudit::handleBatchAudit(long code, unsigned total, unsigned failed, unsigned succeeded,
                                const std::wstring& target, CAuditInfo* record, const std::string& detail) {
  if (record == nullptr) return FM_INVALID_ARG;
  CFMAuditEntry e = batchEntry(CFMAuditEntry::BATCH_TARGET, code, total, failed, succeeded, *record, detail);
  e.m_wstrTarget = target;
  return keep(std::move(e));
}

long CFMAudit::handleBatchAudit(long code, unsigned total, unsigned failed, unsigned succeeded, CAuditInfo* record,
                                const std::string& detail, const std::string& extra) {
  if (record == nullptr) return FM_INVALID_ARG;
  CFMAuditEntry e = batchEntry(CFMAuditEntry::BATCH, code, total, failed, succeeded, *record, detail);
  e.m_strExtra = extra;
  return keep(std::move(e));
}

long CFMAudit::handleRightFailAudit(CAuditInfo* record, long code) {
  if (record == nullptr) return FM_INVALID_ARG;
  CFMAuditEntry e;
  e.m_kind = CFMAuditEntry::RIGHT_FAIL;
  e.m_lCode = code;
  e.m_info = *record;
  return keep(std::move(e));
}

std::string CFMAudit::getAuditName(unsigned itemType) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  auto it = r.names.find(itemType);
  return it != r.names.end() ? it->second : "AuditItem" + std::to_string(itemType);
}

void CFMAudit::setAuditName(unsigned itemType, const std::string& name) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  r.names[itemType] = name;
}

std::vector<CFMAuditEntry> CFMAudit::getEntries() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  return {r.entries.begin(), r.entries.end()};
}

size_t CFMAudit::getEntryCount() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  return r.entries.size();
}

void CFMAudit::clearEntries() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  r.entries.clear();
}

size_t CFMAudit::getCapacity() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  return r.capacity;
}

void CFMAudit::setCapacity(size_t capacity) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  r.capacity = capacity;
  while (r.entries.size() > capacity) r.entries.pop_front();
}

}  // namespace Kyrofm
