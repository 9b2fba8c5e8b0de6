// TargetConditionCode.cpp: the target of an alarm query: filter trees, object
// sets with their matchers, the user's rights, log type and time range.
#include "fm_common/filter/TargetConditionCode.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/SysAttr.h"
#include "fm_common/platform/CFMClientMgr.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/time/XRFMTimeUtil.h"

#if __has_include("fm_common/filter/AlarmExpFactory.h")
#include "fm_common/filter/AlarmExpFactory.h"
#define FM_HAVE_ALARM_EXP_FACTORY 1
#endif

namespace Kyrofm {

namespace {

// The factory's entry points. Without the factory in the build a non-empty
// input builds nothing (logged); an empty one gives the accept-all tree the
// factory would give.
AlarmExp* buildByStrings(const std::list<std::string>& filters, long reserved, bool buildFlag) {
#ifdef FM_HAVE_ALARM_EXP_FACTORY
  return AlarmExpFactory::createByStrinFilter(filters, reserved, buildFlag);
#else
  (void)reserved;
  (void)buildFlag;
  if (filters.empty()) return new (std::nothrow) ConstantExp(true);
  FM_TRACE(TRACE_ERROR, "TargetConditionCode: no expression factory in this build");
  return nullptr;
#endif
}

AlarmExp* buildByConditions(const std::list<FieldCond_t>& conditions, bool selectAll) {
#ifdef FM_HAVE_ALARM_EXP_FACTORY
  return AlarmExpFactory::createCommonExp(conditions, selectAll);
#else
  (void)selectAll;
  if (conditions.empty()) return new (std::nothrow) ConstantExp(true);
  FM_TRACE(TRACE_ERROR, "TargetConditionCode: no expression factory in this build");
  return nullptr;
#endif
}

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += (out.empty() ? "" : "|") + s;
  return out;
}

// A whole decimal integer (blanks around it allowed).
bool parseLong(const std::string& text, long& value) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || errno != 0) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  value = v;
  return true;
}

std::unique_ptr<AlarmExp> copyOf(const std::unique_ptr<AlarmExp>& exp) {
  return exp ? exp->clone() : nullptr;
}

}  // namespace

TargetConditionCode::TargetConditionCode(char fdnType)
    : m_pFdnMatch(std::make_unique<XRFMFdnMatch>()),
      m_pLinkMatch(std::make_unique<XRFMFdnMatch>()),
      m_pNotFdnMatch(std::make_unique<XRFMFdnMatch>()),
      m_cFdnType(fdnType) {}

TargetConditionCode::TargetConditionCode(const TargetConditionCode& other) : m_cFdnType(other.m_cFdnType) {
  copyFrom(other);
}

TargetConditionCode& TargetConditionCode::operator=(const TargetConditionCode& other) {
  if (this != &other) copyFrom(other);
  return *this;
}

TargetConditionCode::~TargetConditionCode() = default;

// Builds every owned copy before anything of this target changes, so that a
// failed allocation (thrown) leaves the target as it was.
void TargetConditionCode::copyFrom(const TargetConditionCode& other) {
  std::unique_ptr<AlarmExp> filter = copyOf(other.m_pFilter);
  std::unique_ptr<AlarmExp> status = copyOf(other.m_pStatusFilter);
  auto fdnMatch = std::make_unique<XRFMFdnMatch>(*other.m_pFdnMatch);
  auto linkMatch = std::make_unique<XRFMFdnMatch>(*other.m_pLinkMatch);
  auto notMatch = std::make_unique<XRFMFdnMatch>(*other.m_pNotFdnMatch);
  std::set<std::string> userObjects = other.m_setUserObjects;
  std::set<std::string> fdn = other.m_setFdn;
  std::set<std::string> linkFdn = other.m_setLinkFdn;
  std::set<std::string> neFdn = other.m_setNeFdn;
  std::set<std::string> notFdn = other.m_setNotFdn;
  std::list<int> logTypes = other.m_lstLogTypes;

  m_lLogType = other.m_lLogType;
  m_lUserId = other.m_lUserId;
  m_pFilter = std::move(filter);
  m_pStatusFilter = std::move(status);
  m_pFdnMatch = std::move(fdnMatch);
  m_pLinkMatch = std::move(linkMatch);
  m_pNotFdnMatch = std::move(notMatch);
  m_lTimeType = other.m_lTimeType;
  m_bSuperUser = other.m_bSuperUser;
  // A tree that could not be copied (out of memory, logged) must not turn
  // into "no filter" silently: the copy reports it through the filter-ok flag.
  m_bFilterOk = other.m_bFilterOk && (m_pFilter || !other.m_pFilter) && (m_pStatusFilter || !other.m_pStatusFilter);
  m_bNotLike = other.m_bNotLike;
  m_setUserObjects.swap(userObjects);
  m_setFdn.swap(fdn);
  m_setLinkFdn.swap(linkFdn);
  m_setNeFdn.swap(neFdn);
  m_setNotFdn.swap(notFdn);
  m_cFdnType = other.m_cFdnType;
  m_TimeRange = other.m_TimeRange;
  m_lstLogTypes.swap(logTypes);
}

// ---------------------------------------------------------------------------
// Filters

bool TargetConditionCode::setFilter(const std::list<std::string>& filters, long reserved) {
  return setNBExportFilter(filters, reserved, false);
}

bool TargetConditionCode::setNBExportFilter(const std::list<std::string>& filters, long reserved, bool buildFlag) {
  m_pFilter.reset(buildByStrings(filters, reserved, buildFlag));
  return m_pFilter != nullptr || filters.empty();
}

bool TargetConditionCode::setCommonFilter(const std::list<FieldCond_t>& conditions, bool selectAll) {
  m_pFilter.reset(buildByConditions(conditions, selectAll));
  const bool ok = m_pFilter != nullptr || conditions.empty();
  if (!ok) m_bFilterOk = false;
  return ok;
}

bool TargetConditionCode::setStatusFilter(const std::list<std::string>& filters, long reserved) {
  m_pStatusFilter.reset(buildByStrings(filters, reserved, false));
  const bool ok = m_pStatusFilter != nullptr || filters.empty();
  if (!ok) m_bFilterOk = false;
  return ok;
}

bool TargetConditionCode::setCommonStatusFilter(const std::list<FieldCond_t>& conditions) {
  m_pStatusFilter.reset(buildByConditions(conditions, true));
  const bool ok = m_pStatusFilter != nullptr || conditions.empty();
  if (!ok) m_bFilterOk = false;
  return ok;
}

void TargetConditionCode::adoptFilter(std::unique_ptr<AlarmExp> filter) { m_pFilter = std::move(filter); }

void TargetConditionCode::adoptStatusFilter(std::unique_ptr<AlarmExp> filter) {
  m_pStatusFilter = std::move(filter);
}

// ---------------------------------------------------------------------------
// User and objects

void TargetConditionCode::setUser(long userId) {
  m_lUserId = userId;
  m_setUserObjects.clear();
  CFMClientMgr::instance()->getManagerMO(userId, m_setUserObjects);
}

void TargetConditionCode::setFDN(const std::set<std::string>& fdns) {
  m_setFdn = fdns;
  if (m_cFdnType == 1) {
    FM_TRACE(TRACE_PROGRESS, "TargetConditionCode::setFDN, fdn op is equal");
    return;
  }
  if (fdns.empty()) {
    for (const auto& so : m_setUserObjects) m_pFdnMatch->addPattern(so.c_str());
    return;
  }
  const bool all = m_setUserObjects.count("*") != 0;
  std::vector<std::string> kept;
  for (const auto& fdn : fdns) {
    bool keep = all || m_setUserObjects.count(fdn) != 0;
    for (auto it = m_setUserObjects.begin(); !keep && it != m_setUserObjects.end(); ++it) {
      keep = CAlmValidCheck::isFdnParent(*it, fdn, true);
    }
    if (!keep) continue;
    m_pFdnMatch->addPattern(fdn.c_str());
    kept.push_back(fdn);
  }
  FM_TRACE(TRACE_PROGRESS, "TargetConditionCode::setFDN, after intersection fdn list:%s", joined(kept).c_str());
  if (kept.empty()) {
    FM_TRACE(TRACE_PROGRESS, "TargetConditionCode::setFDN, after intersection fdn list,sos.size()=%d",
             static_cast<int>(m_setUserObjects.size()));
    for (const auto& so : m_setUserObjects) {
      FM_TRACE(TRACE_PROGRESS, "TargetConditionCode::setFDN, after intersection fdn list,so=%s", so.c_str());
    }
  }
}

void TargetConditionCode::getNEFDN(std::set<std::string>& fdns) const {
  fdns = m_setNeFdn.empty() ? m_setFdn : m_setNeFdn;
}

void TargetConditionCode::setLinkFDN(const std::set<std::string>& fdns) {
  m_setLinkFdn = fdns;
  if (fdns.empty()) {
    FM_TRACE(TRACE_PROGRESS, "TargetConditionCode::setLinkFDN, setLinkFDN is empty()");
    return;
  }
  for (const auto& fdn : fdns) m_pLinkMatch->addPattern(fdn.c_str());
  FM_TRACE(TRACE_PROGRESS, "TargetConditionCode::setLinkFDN, after intersection fdn list:%s",
           joined(std::vector<std::string>(fdns.begin(), fdns.end())).c_str());
}

void TargetConditionCode::setNotLikeFDN(const std::set<std::string>& fdns) {
  m_setNotFdn = fdns;
  if (fdns.empty()) return;
  for (const auto& fdn : fdns) m_pNotFdnMatch->addPattern(fdn.c_str());
  FM_TRACE(TRACE_PROGRESS, "TargetConditionCode::setNotLikeFDN, after intersection fdn list:%s",
           joined(std::vector<std::string>(fdns.begin(), fdns.end())).c_str());
}

void TargetConditionCode::setFDN4NB(const std::string& fdn) { m_pFdnMatch->addPattern(fdn.c_str()); }

void TargetConditionCode::setFDNType(char fdnType) {
  m_cFdnType = fdnType;
  m_bNotLike = fdnType == 9;
}

// ---------------------------------------------------------------------------
// Time range

bool TargetConditionCode::setTimeRange(const std::list<std::string>& values) {
  long v[5] = {0, 0, 0, 0, 0};
  size_t n = 0;
  for (const auto& s : values) {
    if (n == 5 || !parseLong(s, v[n])) {
      n = 6;
      break;
    }
    ++n;
  }
  if (n != 5) {
    FM_TRACE(TRACE_ERROR, "TargetConditionCode::setTimeRange, invalid time range of %d values",
             static_cast<int>(values.size()));
    return false;
  }
  const long offset = CSysAttr::Instance()->GetSvrTimeZone();
  const long start = XRFMTimeUtil::MakeTime(v[1], v[2]);
  const long end = XRFMTimeUtil::MakeTime(v[3], v[4]);
  m_TimeRange.m_lType = v[0];
  m_TimeRange.m_lStart = start == 0 ? 0 : start + offset;
  m_TimeRange.m_lEnd = end == 0 ? 0 : end + offset;
  return true;
}

// ---------------------------------------------------------------------------
// Database

std::string TargetConditionCode::getSqlCond(const std::string& table, int logType) {
  if (!m_pFilter) return " ( 1 > 0 ) ";
  const int lt = logType == -1 ? static_cast<int>(m_lLogType) : logType;
  FM_TRACE(TRACE_PROGRESS, "TargetConditionCode::getSqlCond, logtype:%d", lt);
  m_pFilter->setLogType(lt);
  std::string cond = m_pFilter->sqlWhereCond(table);
  if (cond.empty()) cond = "( 1 > 0 )";
  LogTypeExp inner("INNER_LOGTYPE", 1);
  inner.setLogType(lt);
  const std::string logCond = inner.sqlWhereCond(table);
  if (!logCond.empty()) cond = " ( " + cond + " ) " + " and " + logCond;
  return cond;
}

long TargetConditionCode::getCondCount() const { return m_pFilter ? m_pFilter->getSqlWhereCondLimitCount() : 0; }

// ---------------------------------------------------------------------------
// Memory

bool TargetConditionCode::getResultWithoutRightCheck(const AlmRecord_t& record) const {
  return !m_pFilter || m_pFilter->evaluate(record);
}

bool TargetConditionCode::filterByStatus(const AlmRecord_t& record) const {
  return !m_pStatusFilter || m_pStatusFilter->evaluate(record);
}

bool TargetConditionCode::checkRight(const AlmRecord_t& record) const {
  return m_setUserObjects.count(record.getNEInfo().strNEFDN) != 0 || m_setUserObjects.count("*") != 0;
}

bool TargetConditionCode::filterByFDN(const AlmRecord_t& record) const {
  if (m_setFdn.empty()) return false;
  if (m_cFdnType == 1) return m_setFdn.count(record.getMoDn()) != 0;
  return m_pFdnMatch->match(record.getMoDn().c_str(), false);
}

bool TargetConditionCode::filterByNEFDN(const AlmRecord_t& record) const {
  return !m_setNeFdn.empty() && m_setNeFdn.count(record.getNEInfo().strNEFDN) != 0;
}

bool TargetConditionCode::filterByLinkFDN(const AlmRecord_t& record) const {
  return !m_setLinkFdn.empty() && m_pLinkMatch->match(record.getLinkDn().c_str(), false);
}

bool TargetConditionCode::filterByNotFDN(const AlmRecord_t& record) const {
  return m_setNotFdn.empty() || !m_pNotFdnMatch->match(record.getMoDn().c_str(), true);
}

bool TargetConditionCode::filterByNE(const AlmRecord_t& record) const {
  if (m_setNeFdn.empty() && m_setLinkFdn.empty() && m_setFdn.empty()) return filterByNotFDN(record);
  return (filterByFDN(record) || filterByNEFDN(record) || filterByLinkFDN(record)) && filterByNotFDN(record);
}

bool TargetConditionCode::filterByMem(const AlmRecord_t& record) const {
  return checkRight(record) && filterByNE(record);
}

}  // namespace Kyrofm
