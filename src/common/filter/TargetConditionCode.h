// TargetConditionCode.h: the complete target of one alarm query or subscription.
//
// A target holds the filter tree of the query and an optional status filter
// tree (both built by AlarmExpFactory), the object sets the user asked for
// (FDNs, NE FDNs, link FDNs, FDNs to exclude), the user whose managed objects
// limit the result, the log type and a time range. It answers two questions:
//  - in memory, filterByMem(record): the record's NE is one of the user's
//    objects, the record lies on the requested objects and not on an excluded
//    one; getResultWithoutRightCheck(record) adds the filter tree;
//  - in the database, getSqlCond(table, logType): the WHERE condition of the
//    filter tree for the requested log type.
//
// Objects. setFDN keeps only the requested FDNs that are user objects or lie
// below one (all of them when the user objects hold "*"), so setUser must come
// first; with FDN type 1 the FDNs are compared exactly instead. Link FDNs and
// exclusions are not limited by the user's objects. Patterns added to the
// matchers accumulate over calls; the stored sets are replaced.
//
// Ownership: the target owns its two trees and its three matchers. A copy
// (copy constructor, assignment) gets its own copies of all of them.
//
// Threads: a target is filled by one thread and then read. The object tests
// (filterByMem, filterByNE) use the matchers' scratch state, so one target
// serves one thread at a time for them; copy the target for another thread.
// getSqlCond sets the log type on the filter tree and must not run
// concurrently with anything else on the same target.
#ifndef FM_FILTER_TARGETCONDITIONCODE_H
#define FM_FILTER_TARGETCONDITIONCODE_H

#include <list>
#include <memory>
#include <set>
#include <string>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/fmcommon/XRFMFdnMatch.h"
#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

// Time range of a query: its type and its bounds in seconds (server time).
struct timeRange_t {
  long m_lType = 0;
  long m_lStart = 0;
  long m_lEnd = 0;
};

class TargetConditionCode {
 public:
  // fdnType: operator code of the FDN request (1 exact match, 9 not like).
  explicit TargetConditionCode(char fdnType);
  TargetConditionCode(const TargetConditionCode& other);
  TargetConditionCode& operator=(const TargetConditionCode& other);
  ~TargetConditionCode();

  // ---- filters. Each builds its tree with AlarmExpFactory and replaces the
  // previous tree by the result (none when the build failed). True when a
  // tree was built or the input was empty.
  // Filter strings, AlarmExpFactory::createByStrinFilter with build flag false.
  bool setFilter(const std::list<std::string>& filters, long reserved);
  // The same with the factory's build flag given.
  bool setNBExportFilter(const std::list<std::string>& filters, long reserved, bool buildFlag);
  // Conditions, AlarmExpFactory::createCommonExp(conditions, selectAll); a
  // failure clears the filter-ok flag.
  bool setCommonFilter(const std::list<FieldCond_t>& conditions, bool selectAll);
  // The status filter from filter strings (build flag false) / from
  // conditions (select-all true). A non-empty input that gives no tree clears
  // the filter-ok flag.
  bool setStatusFilter(const std::list<std::string>& filters, long reserved);
  bool setCommonStatusFilter(const std::list<FieldCond_t>& conditions);
  // Installs a tree built by the caller (null: none) as the filter / status
  // filter; the target takes ownership.
  void adoptFilter(std::unique_ptr<AlarmExp> filter);
  void adoptStatusFilter(std::unique_ptr<AlarmExp> filter);
  // False once a non-empty filter could not be built (see above).
  bool isFilterOk() const { return m_bFilterOk; }
  const AlarmExp* getFilter() const { return m_pFilter.get(); }
  const AlarmExp* getStatusFilter() const { return m_pStatusFilter.get(); }
  // True when a status filter exists.
  bool isValid() const { return m_pStatusFilter != nullptr; }

  // ---- user
  // Stores the user and takes the user's managed objects (their FDNs) from
  // CFMClientMgr::getManagerMO; none when the registry knows no objects.
  void setUser(long userId);
  void getUser(long& userId) const { userId = m_lUserId; }
  const std::set<std::string>& getUserObjects() const { return m_setUserObjects; }

  // ---- objects
  // Stores the FDN set and adds its patterns to the FDN matcher (see the top
  // of this file); an empty set adds every user object as a pattern.
  void setFDN(const std::set<std::string>& fdns);
  void getFDN(std::set<std::string>& fdns) const { fdns = m_setFdn; }
  void setNEFDN(const std::set<std::string>& fdns) { m_setNeFdn = fdns; }
  // The NE FDN set, or the FDN set when the NE FDN set is empty.
  void getNEFDN(std::set<std::string>& fdns) const;
  // Stores the link FDN set; each FDN becomes a pattern of the link matcher.
  void setLinkFDN(const std::set<std::string>& fdns);
  // Stores the exclusion set; each FDN becomes a pattern of the exclusion
  // matcher.
  void setNotLikeFDN(const std::set<std::string>& fdns);
  // Adds one pattern to the FDN matcher (northbound requests).
  void setFDN4NB(const std::string& fdn);
  // Stores the FDN type; the not-like flag is set exactly when it is 9.
  void setFDNType(char fdnType);
  char getFDNType() const { return m_cFdnType; }
  bool isFDNTypeNotLike() const { return m_bNotLike; }

  // ---- log type, time, super user
  void setLogType(long logType) { m_lLogType = logType; }
  long getLogType() const { return m_lLogType; }
  void setLogType(const std::list<int>& logTypes) { m_lstLogTypes = logTypes; }
  void getLogType(std::list<int>& logTypes) const { logTypes = m_lstLogTypes; }
  void setTimeType(long timeType) { m_lTimeType = timeType; }
  long getTimeType() const { return m_lTimeType; }
  void setSupeUser(bool superUser) { m_bSuperUser = superUser; }
  bool isSupeUser() const { return m_bSuperUser; }
  // values: type, start date, start time, end date, end time (decimal
  // integers; dates yyyymmdd, times hhmmss). start = MakeTime(start date,
  // start time) plus the server standard offset, unless MakeTime gives 0;
  // end likewise. False (logged, range unchanged) unless there are five
  // integers.
  bool setTimeRange(const std::list<std::string>& values);
  timeRange_t getTimeRange() const { return m_TimeRange; }

  // ---- database
  // The WHERE condition for `table`: " ( 1 > 0 ) " without a filter;
  // otherwise the filter's condition for log type lt (the stored log type when
  // logType is -1, else logType), followed by " and " and the condition of
  // the log type ("INNER_LOGTYPE" leaf) when that is not empty. The filter's
  // condition is then put in parentheses, so that an OR at its top level
  // cannot take the log type's condition as its own operand.
  std::string getSqlCond(const std::string& table, int logType);
  // 0 without a filter, else the filter's getSqlWhereCondLimitCount().
  long getCondCount() const;

  // ---- memory
  // The filter's (status filter's) evaluate; true when there is none.
  bool getResultWithoutRightCheck(const AlmRecord_t& record) const;
  bool filterByStatus(const AlmRecord_t& record) const;
  // No object sets at all: filterByNotFDN. Otherwise (filterByFDN or
  // filterByNEFDN or filterByLinkFDN) and filterByNotFDN.
  bool filterByNE(const AlmRecord_t& record) const;
  // checkRight, then filterByNE.
  bool filterByMem(const AlmRecord_t& record) const;

 private:
  void copyFrom(const TargetConditionCode& other);
  // The record's NE FDN is a user object, or the user objects hold "*".
  bool checkRight(const AlmRecord_t& record) const;
  // False without FDNs; type 1: the object FDN is in the FDN set; otherwise
  // the FDN matcher accepts it (match-all honoured).
  bool filterByFDN(const AlmRecord_t& record) const;
  // False without NE FDNs; else the record's NE FDN is in the set.
  bool filterByNEFDN(const AlmRecord_t& record) const;
  // False without link FDNs; else the link matcher accepts the link FDN.
  bool filterByLinkFDN(const AlmRecord_t& record) const;
  // True without exclusions; else the exclusion matcher does not accept the
  // object FDN (match-all ignored).
  bool filterByNotFDN(const AlmRecord_t& record) const;

  long m_lLogType = 1;
  long m_lUserId = 0;
  std::unique_ptr<AlarmExp> m_pFilter;
  std::unique_ptr<AlarmExp> m_pStatusFilter;
  std::unique_ptr<XRFMFdnMatch> m_pFdnMatch;
  std::unique_ptr<XRFMFdnMatch> m_pLinkMatch;
  std::unique_ptr<XRFMFdnMatch> m_pNotFdnMatch;
  long m_lTimeType = 1;
  bool m_bSuperUser = false;
  bool m_bFilterOk = true;
  bool m_bNotLike = false;
  std::set<std::string> m_setUserObjects;
  std::set<std::string> m_setFdn;
  std::set<std::string> m_setLinkFdn;
  std::set<std::string> m_setNeFdn;
  std::set<std::string> m_setNotFdn;
  char m_cFdnType;
  timeRange_t m_TimeRange;
  std::list<int> m_lstLogTypes;
};

}  // namespace Kyrofm

#endif
