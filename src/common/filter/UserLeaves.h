// UserLeaves.h: the filter leaves that limit alarms to the objects a user may
// see.
//
//   condition type  class           record field  SQL
//   "SUSER"         UserExp         NE FDN        NEFDNId in the user's right table
//   "USER"          DynamicUserExp  NE FDN        NEFDNId in the user's right table
//
// The value is a user name of the domain "SM_ROOT" (CUserIDMaintain). In
// memory a leaf tests the id of the record's NE FDN against the ids of the
// user's managed objects (CFMClientMgr::getManagerMO); a user whose objects
// include the root FDN "*" has every right. In SQL it asks the database
// whether the user's right table (CFMClientMgr::getTableName) restricts
// anything (CFMDBTools::needCheckRight) and writes
// " <table>.NEFDNId in ( select MOid from <right table>)" when it does,
// " ( 1 > 0 ) " when it does not, and " ( 0 > 1 ) " (nothing) when the answer
// cannot be had: no connection, a missing or unreadable right table, a bad
// table name. The host keeps the registry and the right table in step.
//
// Rights are membership: the operator code does not change the test.
//
// Threads: a leaf is used by one thread at a time.
#ifndef FM_FILTER_USERLEAVES_H
#define FM_FILTER_USERLEAVES_H

#include <list>
#include <set>
#include <string>

#include "fm_common/filter/AlarmExp.h"

namespace Kyrofm {

// What UserExp and DynamicUserExp share: the user, the ids of the user's
// managed objects and the all-rights flag.
class UserRightExp : public BasicExp {
 public:
  // The first value is the user name. False (nothing changed) without a value
  // or for an unknown user.
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  // setFilter with the content as the only value, select-all off.
  bool setStringContent(const std::string& content) override;
  // All rights: true. No managed object: false. Else the NE FDN's id is one
  // of the user's object ids.
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 0; }

  long getUserId() const { return m_lUserId; }
  bool hasAllRights() const { return m_bAllRights; }
  const std::set<long>& getIds() const { return m_ids; }

 protected:
  UserRightExp(const std::string& condName, char op, const char* connectFailMsg)
      : BasicExp(condName, op), m_pConnectFailMsg(connectFailMsg) {}
  UserRightExp(const UserRightExp&) = default;
  UserRightExp& operator=(const UserRightExp&) = delete;

 private:
  const char* m_pConnectFailMsg;  // the class's message for a lost connection
  long m_lUserId = 0;
  std::set<long> m_ids;
  bool m_bAllRights = false;
};

class UserExp : public UserRightExp {
 public:
  UserExp(const std::string& condName, char op);
  UserExp(const UserExp&) = default;
  AlarmExp* copy() const override;
};

class DynamicUserExp : public UserRightExp {
 public:
  DynamicUserExp(const std::string& condName, char op);
  DynamicUserExp(const DynamicUserExp&) = default;
  AlarmExp* copy() const override;
};

}  // namespace Kyrofm

#endif
