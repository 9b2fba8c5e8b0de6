// UserLeaves.cpp: the user-right leaves.
#include "fm_common/filter/UserLeaves.h"

#include <exception>

#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/CFMClientMgr.h"
#include "fm_common/platform/CUserIDMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

bool UserRightExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  if (values.empty()) {
    FM_TRACE(TRACE_ERROR, "UserExp::setFilter, no user name");
    return false;
  }
  const long userId = CUserIDMaintain::GetUserID(values.front(), "SM_ROOT");
  if (userId == 0) {
    FM_TRACE(TRACE_ERROR, "UserExp::setFilter, unknown user %s", values.front().c_str());
    return false;
  }
  const long rootId = CFdnManager::instance()->GetIntFdn("*");
  std::set<long> ids;
  CFMClientMgr::instance()->getManagerMO(userId, ids);
  const bool all = ids.count(rootId) != 0;
  if (all) ids.clear();
  m_lUserId = userId;
  m_ids.swap(ids);
  m_bAllRights = all;
  setSelectAll(selectAll);
  return true;
}

bool UserRightExp::setStringContent(const std::string& content) { return setFilter({content}, false); }

bool UserRightExp::evaluate(const AlmRecord_t& record) const {
  if (m_bAllRights) return true;
  if (m_ids.empty()) return false;
  const long id = CFdnManager::instance()->GetIntFdn(record.getNEInfo().strNEFDN);
  return m_ids.count(id) != 0;
}

std::string UserRightExp::sqlWhereCond(const std::string& table) const {
  const std::string rightTable = CFMClientMgr::instance()->getTableName(m_lUserId);
  const long rc = Kyrofmdb::CFMDBTools::needCheckRight(rightTable);
  if (rc == FM_DB_CONNECT_FAIL) {
    FM_TRACE(TRACE_ERROR, "%s", m_pConnectFailMsg);
    return " ( 0 > 1 ) ";
  }
  if (rc == FM_SUCCESS) {
    FM_TRACE(TRACE_DETAIL, "DynamicUserExp::sqlWhereCond  : NO NEED check right");
    return " ( 1 > 0 ) ";
  }
  if (rc != FM_NO_RIGHT) {
    // A missing, unreadable or misnamed right table: a subquery on it would
    // fail the caller's whole statement; select nothing instead.
    FM_TRACE(TRACE_ERROR, "DynamicUserExp::sqlWhereCond  : right table %s of user %ld unusable (%ld)",
             rightTable.c_str(), m_lUserId, rc);
    return " ( 0 > 1 ) ";
  }
  return " " + table + ".NEFDNId in ( select MOid from" + " " + rightTable + ")";
}

UserExp::UserExp(const std::string& condName, char op)
    : UserRightExp(condName, op, "DynamicUserExp::sqlWhereCond: FM_DB_CONNECT_FAIL") {}

AlarmExp* UserExp::copy() const {
  try {
    return new UserExp(*this);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "UserExp::copy: %s", e.what());
    return nullptr;
  }
}

DynamicUserExp::DynamicUserExp(const std::string& condName, char op)
    : UserRightExp(condName, op, "DynamicUserExp::sqlWhereCond  : FM_DB_CONNECT_FAIL") {}

AlarmExp* DynamicUserExp::copy() const {
  try {
    return new DynamicUserExp(*this);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "DynamicUserExp::copy: %s", e.what());
    return nullptr;
  }
}

}  // namespace Kyrofm
